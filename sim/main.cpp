// treadmill-sim: a simulated treadmill controller for demos and tests.
#include "LogWriter.h"
#include "TreadmillSimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

#if defined(Q_OS_UNIX)
#    include <QSocketNotifier>
#    include <csignal>
#    include <fcntl.h>
#    include <sys/socket.h>
#    include <unistd.h>

namespace {

int signalPipe[2];

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[0], &c, 1);
}

// SIGINT and SIGTERM end the event loop, so that the simulator exits cleanly.
void quitOnSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    // A burst of signals must not block the handler once the pair is full.
    ::fcntl(signalPipe[0], F_SETFL, ::fcntl(signalPipe[0], F_GETFL) | O_NONBLOCK);
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, &QCoreApplication::quit);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace
#else
namespace {
void quitOnSignals() { }
} // namespace
#endif

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("treadmill-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral(
            "A simulated treadmill controller. Listens over TCP and UDP on one address and port\n"
            "and logs every TCP connection, disconnection and line, and every UDP datagram,\n"
            "one timestamped line each, on standard output. Serves at most %1 TCP clients at\n"
            "once; when standard output cannot keep up, lines are dropped and counted.")
            .arg(TreadmillSimulator::maxClients));
    parser.addHelpOption();
    const QCommandLineOption hostOption(QStringLiteral("host"),
                                        QStringLiteral("Address to listen on (default 127.0.0.1)."),
                                        QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Port to listen on, 0 for any free one (default 4000)."),
        QStringLiteral("port"), QStringLiteral("4000"));
    parser.addOption(hostOption);
    parser.addOption(portOption);
    parser.process(app);

    const QHostAddress address(parser.value(hostOption));
    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (address.isNull() || !portOk || port > 65535) {
        std::fprintf(stderr, "treadmill-sim: give an IP address and a port from 0 to 65535.\n");
        return 2;
    }

    LogWriter out;
    TreadmillSimulator simulator(&out);
    QString error;
    if (!simulator.listen(address, quint16(port), &error)) {
        std::fprintf(stderr, "treadmill-sim: cannot listen on %s port %u: %s\n",
                     qPrintable(address.toString()), port, qPrintable(error));
        return 1;
    }
    quitOnSignals();
    out.write(QStringLiteral("treadmill-sim listening on %1 port %2 (TCP and UDP)")
                  .arg(address.toString())
                  .arg(simulator.port())
                  .toLatin1());
    const int status = app.exec();
    // A stalled reader of standard output must not keep the simulator from exiting.
    out.finish(2000, "treadmill-sim stopped");
    return status;
}
