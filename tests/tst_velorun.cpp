// The remote-control library's contract, called through QLibrary as the panel calls it.
#include "testsupport.h"
#include "velorun.h"

#include <QElapsedTimer>
#include <QHostInfo>
#include <QLibrary>
#include <QTcpSocket>
#include <QUdpSocket>

#include <cmath>
#include <memory>
#include <vector>

#if defined(Q_OS_LINUX)
#    include <condition_variable>
#    include <cstring>
#    include <dlfcn.h>
#    include <mutex>
#    include <netdb.h>

// The name lookup as the library sees it in this process (the executable
// exports it): a lookup of this name hangs until the test releases it, and
// then finds the loopback address.
static const char stalledName[] = "stalled-lookup.invalid";
static std::mutex stallMutex;
static std::condition_variable stallEnded;
static bool stallReleased = false;

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** result)
{
    if (node && std::strcmp(node, stalledName) == 0 && !(hints->ai_flags & AI_NUMERICHOST)) {
        std::unique_lock<std::mutex> lock(stallMutex);
        stallEnded.wait(lock, [] { return stallReleased; });
        node = "127.0.0.1";
    }
    using Function = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto next = reinterpret_cast<Function>(dlsym(RTLD_NEXT, "getaddrinfo"));
    return next(node, service, hints, result);
}

static int threadCount()
{
    return int(QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}
#endif

// A bare system (no "localhost" in /etc/hosts) resolves no name at all inside
// the tests' loopback-only network.
static bool localhostResolves()
{
    const QList<QHostAddress> found = QHostInfo::fromName("localhost").addresses();
    return !found.isEmpty() && found.first().isLoopback();
}

class tst_Velorun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void tcpLink_data();
    void tcpLink();
    void udpLink_data();
    void udpLink();
    void rejectedArguments_data();
    void rejectedArguments();
    void unresolvableHost();
    void misbehavingPeer_data();
    void misbehavingPeer();
    void hungLookupsAreBounded();
    void reinitialiseClosesTheEarlierLink();
    void commandsNeedALink();

private:
    // Each entry point by its own name, as resolved from the library.
#define X(name) decltype(&::name) name = nullptr;
    VELORUN_ENTRY_POINTS(X)
#undef X
};

void tst_Velorun::initTestCase()
{
    QLibrary library(QCoreApplication::applicationDirPath() + "/velorun");
    QVERIFY2(library.load(), qPrintable(library.errorString()));
    // All five exported, or no test runs: each calls them.
#define X(name)                                                                                    \
    name = reinterpret_cast<decltype(name)>(library.resolve(#name));                               \
    QVERIFY2(name, #name);
    VELORUN_ENTRY_POINTS(X)
#undef X
}

void tst_Velorun::cleanup()
{
    VELORUN_close();
}

void tst_Velorun::tcpLink_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("portFormat");
    QTest::newRow("address") << "127.0.0.1"
                             << "%1";
    QTest::newRow("name") << "localhost"
                          << "%1";
    QTest::newRow("line breaks around") << "127.0.0.1\n"
                                        << "%1\r\n";
    QTest::newRow("blanks around") << " \t127.0.0.1 "
                                   << "  %1\t";
    QTest::newRow("leading zeros") << "127.0.0.1"
                                   << "000%1";
}

void tst_Velorun::tcpLink()
{
    QFETCH(QString, host);
    QFETCH(QString, portFormat);
    if (host == "localhost" && !localhostResolves())
        QSKIP("\"localhost\" does not resolve on this machine");
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const QByteArray port = portFormat.arg(server.serverPort()).toLatin1();
    QCOMPARE(VELORUN_initialize(host.toLatin1().constData(), port.constData()), int(VELORUN_OK));
    QVERIFY(server.waitForNewConnection(5000));
    QTcpSocket* peer = server.nextPendingConnection();

    QCOMPARE(VELORUN_setSpeed4(1.0, 1.2, 0.5, 0.5), int(VELORUN_OK));
    QCOMPARE(VELORUN_setSpeed(-0.25), int(VELORUN_OK));
    QTRY_VERIFY(peer->canReadLine() && peer->bytesAvailable() > 40);
    QCOMPARE(peer->readLine(), QByteArray("setSpeed4 1.000 1.200 0.500 0.500\n"));
    QTRY_VERIFY(peer->canReadLine());
    QCOMPARE(peer->readLine(), QByteArray("setSpeed -0.250\n"));

    VELORUN_close();
    QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
}

void tst_Velorun::udpLink_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("IPv4") << "127.0.0.1";
    QTest::newRow("IPv6") << "::1";
    QTest::newRow("line break") << "127.0.0.1\n";
}

void tst_Velorun::udpLink()
{
    QFETCH(QString, host);
    QUdpSocket peer;
    const auto address = host.contains(':') ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost;
    if (!peer.bind(QHostAddress(address), 0))
        QSKIP("no loopback address of this family");
    const QByteArray port = QByteArray::number(peer.localPort());
    QCOMPARE(VELORUN_initializeUDP(host.toLatin1().constData(), port.constData()), int(VELORUN_OK));
    QCOMPARE(VELORUN_setSpeed(1.25), int(VELORUN_OK));
    QTRY_VERIFY(peer.hasPendingDatagrams());
    QByteArray datagram(int(peer.pendingDatagramSize()), '\0');
    peer.readDatagram(datagram.data(), datagram.size());
    QCOMPARE(datagram, QByteArray("setSpeed 1.250\n"));
    QCOMPARE(VELORUN_setSpeed(std::nan("")), int(VELORUN_ERROR_INVALID_SPEED));
    QCOMPARE(VELORUN_setSpeed4(1, 1, -0.5, 0.5), int(VELORUN_ERROR_INVALID_SPEED));
}

void tst_Velorun::rejectedArguments_data()
{
    QTest::addColumn<bool>("udp");
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<QByteArray>("port");
    QTest::addColumn<int>("expected");
    const QByteArray refused = QByteArray::number(refusedPort());
    const QByteArray none;
    const struct
    {
        const char* name;
        QByteArray host, port;
        int expected;
    } rows[] = {
        {"refused", "127.0.0.1", refused, VELORUN_ERROR_REFUSED},
        {"refused by name", "localhost", refused, VELORUN_ERROR_REFUSED},
        {"missing host", none, "4000", VELORUN_ERROR_MISSING_ARGUMENT},
        {"missing port", "127.0.0.1", none, VELORUN_ERROR_MISSING_ARGUMENT},
        {"empty host", "", "4000", VELORUN_ERROR_MISSING_ARGUMENT},
        {"blank port", "127.0.0.1", " \n\t", VELORUN_ERROR_MISSING_ARGUMENT},
        {"port 0", "127.0.0.1", "0", VELORUN_ERROR_INVALID_PORT},
        {"port 65536", "127.0.0.1", "65536", VELORUN_ERROR_INVALID_PORT},
        {"port 4294967296", "127.0.0.1", "4294967296", VELORUN_ERROR_INVALID_PORT},
        {"signed port", "127.0.0.1", "+4000", VELORUN_ERROR_INVALID_PORT},
        {"negative port", "127.0.0.1", "-1", VELORUN_ERROR_INVALID_PORT},
        {"hexadecimal port", "127.0.0.1", "0x50", VELORUN_ERROR_INVALID_PORT},
        {"port with words", "127.0.0.1", "80 x", VELORUN_ERROR_INVALID_PORT},
        {"blank inside host", "127.0.0.1 x", "4000", VELORUN_ERROR_HOST_NOT_FOUND},
        {"host too long", QByteArray(300, 'a'), "4000", VELORUN_ERROR_HOST_NOT_FOUND},
    };
    for (const auto& row : rows) {
        // A refusal comes only from TCP: UDP has no handshake.
        if (row.expected != VELORUN_ERROR_REFUSED)
            QTest::addRow("udp, %s", row.name) << true << row.host << row.port << row.expected;
        QTest::addRow("tcp, %s", row.name) << false << row.host << row.port << row.expected;
    }
}

void tst_Velorun::rejectedArguments()
{
    QFETCH(bool, udp);
    QFETCH(QByteArray, host);
    QFETCH(QByteArray, port);
    QFETCH(int, expected);
    if (host == "localhost" && !localhostResolves())
        QSKIP("\"localhost\" does not resolve on this machine");
    const auto open = udp ? VELORUN_initializeUDP : VELORUN_initialize;
    QCOMPARE(open(host.isNull() ? nullptr : host.constData(),
                  port.isNull() ? nullptr : port.constData()),
             expected);
    QCOMPARE(VELORUN_setSpeed(1.0), int(VELORUN_ERROR_NOT_CONNECTED));
}

void tst_Velorun::unresolvableHost()
{
    // On this network-less machine the lookup fails at once; with a slow
    // resolver the library's own time limit ends it.
    QElapsedTimer timer;
    timer.start();
    const int result = VELORUN_initialize("no-such-host.invalid", "4000");
    QVERIFY2(result == VELORUN_ERROR_HOST_NOT_FOUND || result == VELORUN_ERROR_TIMED_OUT,
             qPrintable(QString::number(result)));
    QCOMPARE(VELORUN_initializeUDP("no-such-host.invalid", "4000"), result);
    QVERIFY2(timer.elapsed() < 10000, "a lookup outlived the library's time limit");
}

void tst_Velorun::misbehavingPeer_data()
{
    QTest::addColumn<QString>("peer");
    QTest::addColumn<int>("initialized");
    QTest::addColumn<int>("failure");
    QTest::newRow("accepts, never reads")
        << "stalled" << int(VELORUN_OK) << int(VELORUN_ERROR_TIMED_OUT);
    QTest::newRow("resets at once") << "reset" << int(VELORUN_OK) << int(VELORUN_ERROR_NETWORK);
    QTest::newRow("accept queue full")
        << "full" << int(VELORUN_ERROR_TIMED_OUT) << int(VELORUN_ERROR_NOT_CONNECTED);
}

void tst_Velorun::misbehavingPeer()
{
    QFETCH(QString, peer);
    QFETCH(int, initialized);
    QFETCH(int, failure);
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const QByteArray port = QByteArray::number(server.serverPort());
    std::vector<std::unique_ptr<QTcpSocket>> queued;
    if (peer == "full") {
        // Once the accept queue is full the kernel drops further handshakes.
        server.pauseAccepting();
        for (int i = 0; i < 1000; ++i) {
            queued.push_back(std::make_unique<QTcpSocket>());
            queued.back()->connectToHost(QHostAddress::LocalHost, server.serverPort());
            if (!queued.back()->waitForConnected(500))
                break;
        }
        QVERIFY(queued.back()->state() != QAbstractSocket::ConnectedState);
    }

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(VELORUN_initialize("127.0.0.1", port.constData()), initialized);
    QTcpSocket* accepted = nullptr;
    if (initialized == VELORUN_OK) {
        QVERIFY(server.waitForNewConnection(5000));
        accepted = server.nextPendingConnection();
        if (peer == "reset")
            accepted->abort();
        else
            accepted->setReadBufferSize(1); // and this test runs no event loop while sending
    }
    const QByteArray line = "setSpeed4 1.000 1.200 0.500 0.500";
    int result = VELORUN_OK;
    for (int i = 0; i < 10'000'000 && result == VELORUN_OK; ++i) {
        timer.start();
        result = VELORUN_setSpeed4(1.0, 1.2, 0.5, 0.5);
    }
    QCOMPARE(result, failure);
    QVERIFY2(timer.elapsed() < 10000, "a call outlived the library's time limit"); // a hang guard
    QCOMPARE(VELORUN_setSpeed(1.0), int(VELORUN_ERROR_NOT_CONNECTED));

    if (peer == "stalled") {
        // Whole commands, then at most one cut short, then the end of the stream.
        accepted->setReadBufferSize(0);
        QByteArray received;
        QTRY_VERIFY_WITH_TIMEOUT((received += accepted->readAll(),
                                  accepted->state() == QAbstractSocket::UnconnectedState),
                                 10000);
        received += accepted->readAll();
        QList<QByteArray> lines = received.split('\n');
        const QByteArray last = lines.takeLast();
        QVERIFY(lines.size() > 1000);
        QCOMPARE(lines.count(line), lines.size());
        QVERIFY(line.startsWith(last));
    }
}

void tst_Velorun::hungLookupsAreBounded()
{
#if !defined(Q_OS_LINUX)
    QSKIP("replaces the system's name lookup and counts threads the Linux way");
#else
    // Each call abandons its lookup at the time limit; the lookups stay in flight.
    const int threadsBefore = threadCount();
    for (int i = 0; i < 4; ++i)
        QCOMPARE(VELORUN_initialize(stalledName, "4000"), int(VELORUN_ERROR_TIMED_OUT));
    QCOMPARE(threadCount(), threadsBefore + 3);
    // An address needs no lookup.
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress(QHostAddress::LocalHost), 0));
    const QByteArray port = QByteArray::number(peer.localPort());
    QCOMPARE(VELORUN_initializeUDP("127.0.0.1", port.constData()), int(VELORUN_OK));

    {
        std::lock_guard<std::mutex> lock(stallMutex);
        stallReleased = true;
    }
    stallEnded.notify_all();
    QTRY_COMPARE(threadCount(), threadsBefore);
    QCOMPARE(VELORUN_initializeUDP(stalledName, port.constData()), int(VELORUN_OK));
#endif
}

void tst_Velorun::reinitialiseClosesTheEarlierLink()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const QByteArray port = QByteArray::number(server.serverPort());
    QCOMPARE(VELORUN_initialize("127.0.0.1", port.constData()), int(VELORUN_OK));
    QVERIFY(server.waitForNewConnection(5000));
    QTcpSocket* first = server.nextPendingConnection();
    const int descriptors = openDescriptors();

    for (int i = 0; i < 50; ++i) {
        QCOMPARE(
            (i % 2 ? VELORUN_initialize : VELORUN_initializeUDP)("127.0.0.1", port.constData()),
            int(VELORUN_OK));
        while (QTcpSocket* peer = server.nextPendingConnection())
            delete peer;
    }
    QTRY_COMPARE(first->state(), QAbstractSocket::UnconnectedState);
    // The earlier links are gone: only the newest is open (plus the server's accepted peers).
    QTRY_VERIFY(openDescriptors() <= descriptors + 1);
}

// Before any link, and once one is closed, twice.
void tst_Velorun::commandsNeedALink()
{
    QCOMPARE(VELORUN_setSpeed(1.0), int(VELORUN_ERROR_NOT_CONNECTED));
    QCOMPARE(VELORUN_setSpeed4(1.0, 1.0, 0.5, 0.5), int(VELORUN_ERROR_NOT_CONNECTED));
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress(QHostAddress::LocalHost), 0));
    const QByteArray port = QByteArray::number(peer.localPort());
    QCOMPARE(VELORUN_initializeUDP("127.0.0.1", port.constData()), int(VELORUN_OK));
    QCOMPARE(VELORUN_close(), int(VELORUN_OK));
    QCOMPARE(VELORUN_close(), int(VELORUN_OK));
    QCOMPARE(VELORUN_setSpeed(1.0), int(VELORUN_ERROR_NOT_CONNECTED));
}

QTEST_MAIN(tst_Velorun)
#include "tst_velorun.moc"
