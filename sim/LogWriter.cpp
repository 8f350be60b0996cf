#include "LogWriter.h"

#include <QFile>

#include <condition_variable>
#include <cstdio>
#include <mutex>

struct LogWriter::Shared
{
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable drained;
    QByteArray backlog;
    int backlogBytes = 0;
    qint64 dropped = 0;
    bool writing = false;
    bool finishing = false;

    void noteDropped()
    {
        if (dropped > 0)
            backlog += "... " + QByteArray::number(dropped) + " lines dropped\n";
        dropped = 0;
    }
};

LogWriter::LogWriter(int backlogBytes) : shared(std::make_shared<Shared>())
{
    shared->backlogBytes = backlogBytes;
    // The thread shares the state, so that it may outlive this object.
    thread = std::thread([s = shared] {
        QFile out;
        out.open(fileno(stdout), QIODevice::WriteOnly | QIODevice::Unbuffered);
        for (;;) {
            QByteArray chunk;
            {
                std::unique_lock<std::mutex> lock(s->mutex);
                s->wake.wait(lock, [&] { return !s->backlog.isEmpty() || s->finishing; });
                if (s->backlog.isEmpty())
                    return;
                chunk.swap(s->backlog);
                s->writing = true;
            }
            out.write(chunk); // may block for as long as the reader stalls
            {
                std::lock_guard<std::mutex> lock(s->mutex);
                s->writing = false;
            }
            s->drained.notify_all();
        }
    });
}

LogWriter::~LogWriter()
{
    finish(2000);
}

void LogWriter::write(const QByteArray& line)
{
    {
        std::lock_guard<std::mutex> lock(shared->mutex);
        if (shared->finishing)
            return;
        if (shared->backlog.size() + line.size() >= shared->backlogBytes) {
            ++shared->dropped;
            return;
        }
        shared->noteDropped();
        shared->backlog += line;
        shared->backlog += '\n';
    }
    shared->wake.notify_one();
}

bool LogWriter::finish(int msecs, const QByteArray& lastLine)
{
    if (!thread.joinable())
        return true;
    bool done;
    {
        std::unique_lock<std::mutex> lock(shared->mutex);
        shared->noteDropped();
        if (!lastLine.isEmpty())
            shared->backlog += lastLine + '\n';
        shared->finishing = true;
        shared->wake.notify_one();
        done = shared->drained.wait_for(lock, std::chrono::milliseconds(msecs), [this] {
            return shared->backlog.isEmpty() && !shared->writing;
        });
    }
    if (done)
        thread.join();
    else
        thread.detach(); // blocked on the reader; the process may still exit
    return done;
}
