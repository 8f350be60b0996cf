// treadmill-sim under misbehaving peers: whatever one peer does, a well-behaved
// client is still served and SIGTERM still stops the simulator.
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <atomic>
#include <functional>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

#if defined(Q_OS_LINUX)
#    include <fcntl.h>
#    include <sys/resource.h>
#    include <unistd.h>
#endif

namespace {

// Runs a clean-up however the test function returns.
struct OnExit
{
    std::function<void()> run;
    ~OnExit() { run(); }
};

// On Linux, with a descriptor limit of its own and its standard output on a
// small pipe that the test reads only when it chooses to.
class Simulator : public QProcess
{
public:
    int descriptorLimit = 0;
    int pipeEnds[2] = {-1, -1};
    bool reading = true;
    QByteArray text;

    QByteArray log()
    {
#if defined(Q_OS_LINUX)
        char buffer[65536];
        for (qint64 n; reading && (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
            text.append(buffer, int(n));
#endif
        return text += readAllStandardOutput();
    }

    // Seconds of CPU time used so far, or -1 where /proc does not tell.
    double cpuSeconds() const
    {
#if defined(Q_OS_LINUX)
        QFile stat(QStringLiteral("/proc/%1/stat").arg(processId()));
        if (stat.open(QIODevice::ReadOnly)) {
            const QByteArray all = stat.readAll();
            const QList<QByteArray> fields = all.mid(all.lastIndexOf(')') + 2).split(' ');
            return (fields[11].toLongLong() + fields[12].toLongLong())
                / double(sysconf(_SC_CLK_TCK));
        }
#endif
        return -1;
    }

protected:
    void setupChildProcess() override
    {
#if defined(Q_OS_LINUX)
        // Only what the simulator opens itself counts against its limit.
        for (int fd = 3; fd < 1024; ++fd)
            if (fd != pipeEnds[1] && !(::fcntl(fd, F_GETFD) & FD_CLOEXEC))
                ::close(fd);
        if (pipeEnds[1] >= 0)
            ::dup2(pipeEnds[1], STDOUT_FILENO);
        const rlimit limit {rlim_t(descriptorLimit), rlim_t(descriptorLimit)};
        if (descriptorLimit > 0)
            ::setrlimit(RLIMIT_NOFILE, &limit);
#endif
    }
};

// One run of the simulator against one misbehaving peer.
struct Run
{
    Simulator sim;
    quint16 port = 0;
    QByteArray expected; // in the log once the peer is done
    QTcpSocket longLine;
    std::atomic<bool> flooding {true};
    std::thread udpFlood;
    ~Run()
    {
        flooding = false;
        if (udpFlood.joinable())
            udpFlood.join();
    }
    bool served(QTcpSocket& client, const QByteArray& line)
    {
        return sim.log().contains(
            QStringLiteral("tcp line from 127.0.0.1:%1: ").arg(client.localPort()).toLatin1()
            + line);
    }
};

// Thirty clients at once: the simulator stops accepting (past its descriptor
// limit or its client cap) without spinning, and accepts again later.
void floodClients(Run& run, int served)
{
    std::vector<std::unique_ptr<QTcpSocket>> flood;
    for (int i = 0; i < 30; ++i) {
        flood.push_back(std::make_unique<QTcpSocket>());
        flood.back()->connectToHost(QHostAddress::LocalHost, run.port);
    }
    QTRY_VERIFY_WITH_TIMEOUT(run.sim.log().contains(run.expected), 10000);
    const double before = run.sim.cpuSeconds();
    QTest::qWait(2000);
    if (before >= 0) // a spinning accept loop burns a core
        QVERIFY2(run.sim.cpuSeconds() - before < 0.5, "CPU time while flooded");
    if (served)
        QCOMPARE(run.sim.log().count("tcp connected"), served);
}

void acceptsAgain(Run& run)
{
    QTRY_VERIFY_WITH_TIMEOUT(run.sim.log().contains("accepting again"), 10000);
    QCOMPARE(run.sim.log().count("not accepting"), 1);
    QCOMPARE(run.sim.log().count("accepting again"), 1);
}

// Datagrams as fast as a thread can send them, until the run ends.
void floodUdp(Run& run)
{
    run.udpFlood = std::thread([&run] {
        QUdpSocket socket;
        for (int i = 0; run.flooding && i < 10'000'000; ++i)
            socket.writeDatagram("setSpeed 1.000\n", QHostAddress::LocalHost, run.port);
    });
}

void sendLongLine(Run& run)
{
    run.longLine.connectToHost(QHostAddress::LocalHost, run.port);
    QVERIFY(run.longLine.waitForConnected(5000));
    run.longLine.write(QByteArray(1 << 20, 'x') + "\nafter the long line\n");
}

void longLineServed(Run& run)
{
    QTRY_VERIFY_WITH_TIMEOUT(run.served(run.longLine, "after the long line"), 10000);
    QCOMPARE(run.sim.log().count(run.expected), 1);
}

// Far more log than the pipe and the backlog hold, in bursts that the
// simulator's receive buffer takes whole, while nobody reads the log.
void stallLog(Run& run)
{
    run.sim.reading = false;
    QUdpSocket datagrams;
    for (int i = 0; i < 4000; ++i) {
        datagrams.writeDatagram(QByteArray(100, 'd'), QHostAddress::LocalHost, run.port);
        if (i % 50 == 0)
            QTest::qWait(5);
    }
}

// A kind of misbehaving peer: how the simulator is started for it, what it
// does before a well-behaved client comes, and what holds once that client
// was served. Without a client, the signals come while the log is stalled.
struct Peer
{
    const char* name;
    int descriptorLimit; // the simulator's own; 0 for the system's
    bool stall; // the log goes to a small pipe that the test does not read for a while
    bool client;
    const char* expected; // in the log once the peer is done
    std::function<void(Run&)> act;
    std::function<void(Run&)> check;
};

// The descriptor limit: a few above what the simulator opens itself.
const Peer peers[] = {
    {"clients past the descriptor limit", 12, false, true,
     "not accepting new clients: out of file descriptors", [](Run& r) { floodClients(r, 0); },
     acceptsAgain},
    {"clients past the client cap", 0, false, true,
     "not accepting new clients: 8 clients connected, the most it serves",
     [](Run& r) { floodClients(r, 8); }, acceptsAgain},
    {"UDP flood", 0, false, true, "udp datagram from", floodUdp, nullptr},
    {"line without end", 0, false, true, " (over 65536 bytes, the rest dropped): xxx", sendLongLine,
     longLineServed},
    {"log reader stalls, then reads", 0, true, true, " lines dropped", stallLog, nullptr},
    {"log reader stalls, signals", 0, true, false, "", stallLog, nullptr},
};

} // namespace

class tst_Simulator : public QObject
{
    Q_OBJECT

private slots:
    void misbehavingPeer_data();
    void misbehavingPeer();
};

void tst_Simulator::misbehavingPeer_data()
{
    QTest::addColumn<int>("peer");
    for (int i = 0; i < int(std::size(peers)); ++i)
        QTest::newRow(peers[i].name) << i;
}

void tst_Simulator::misbehavingPeer()
{
    QFETCH(int, peer);
    const Peer& kind = peers[peer];
    Run run;
    run.expected = kind.expected;
    Simulator& sim = run.sim;
#if defined(Q_OS_LINUX)
    sim.descriptorLimit = kind.descriptorLimit;
    if (kind.stall) {
        QVERIFY(::pipe2(sim.pipeEnds, O_CLOEXEC) == 0);
        ::fcntl(sim.pipeEnds[1], F_SETPIPE_SZ, 4096);
        ::fcntl(sim.pipeEnds[0], F_SETFL, O_NONBLOCK);
    }
    const OnExit closePipe {[&] {
        if (kind.stall)
            ::close(sim.pipeEnds[0]);
    }};
#else
    if (kind.descriptorLimit || kind.stall)
        QSKIP("sets a descriptor limit or a pipe's size the Linux way");
#endif
    sim.start(QCoreApplication::applicationDirPath() + "/treadmill-sim",
              {"--host", "127.0.0.1", "--port", "0"});
    QVERIFY(sim.waitForStarted());
#if defined(Q_OS_LINUX)
    if (kind.stall)
        ::close(sim.pipeEnds[1]);
#endif
    QTRY_VERIFY_WITH_TIMEOUT(sim.log().contains("listening"), 10000);
    run.port = quint16(QRegularExpression("port (\\d+)").match(sim.log()).captured(1).toUInt());

    kind.act(run);
    if (QTest::currentTestFailed())
        return;
    if (kind.client) {
        sim.reading = true;
        // Lines that come while the backlog is full are dropped: let it drain.
        for (int i = 0, size = -1; kind.stall && i < 50 && sim.log().size() != size; ++i) {
            size = sim.log().size();
            QTest::qWait(200);
        }
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, run.port);
        QVERIFY(client.waitForConnected(5000));
        client.write("setSpeed 1.000\n");
        QTRY_VERIFY2_WITH_TIMEOUT(run.served(client, "setSpeed 1.000"), sim.log().right(1500),
                                  10000);
        QTRY_VERIFY_WITH_TIMEOUT(sim.log().contains(run.expected), 10000);
    }
    if (kind.check) {
        kind.check(run);
        if (QTest::currentTestFailed())
            return;
    }

    // Stalled, it is in its bounded wait for the log when the burst comes.
    for (int i = 0; i < (kind.client ? 1 : 5000); ++i)
        sim.terminate();
    QVERIFY(sim.waitForFinished(10000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    if (kind.client)
        QVERIFY2(sim.log().trimmed().endsWith("treadmill-sim stopped"), sim.log().right(300));
}

QTEST_MAIN(tst_Simulator)
#include "tst_simulator.moc"
