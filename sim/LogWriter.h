#ifndef LOGWRITER_H
#define LOGWRITER_H

#include <QByteArray>

#include <memory>
#include <thread>

// Writes lines to standard output on a thread of its own. A reader that stalls
// (a full pipe, a terminal on hold) must never block the event loop: lines wait
// in a bounded backlog, and those that do not fit are dropped and counted in a
// line of their own.
class LogWriter
{
public:
    explicit LogWriter(int backlogBytes = 256 * 1024);
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    void write(const QByteArray& line); // without its line break
    // Takes no more lines, adds `lastLine` however full the backlog is (the log
    // always says how it ended), and waits at most `msecs` for the backlog to go
    // out; false when it could not (the writing thread is then left behind).
    bool finish(int msecs, const QByteArray& lastLine = QByteArray());

private:
    struct Shared;
    std::shared_ptr<Shared> shared;
    std::thread thread;
};

#endif // LOGWRITER_H
