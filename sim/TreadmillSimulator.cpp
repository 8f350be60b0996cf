#include "TreadmillSimulator.h"

#include "LogWriter.h"

#include <QDateTime>
#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#if defined(Q_OS_UNIX)
#    include <fcntl.h>
#    include <unistd.h>
#endif

namespace {

// A line or datagram longer than this is logged cut short.
constexpr int shownBytes = 200;
// Each client's read buffer: TCP's own flow control holds back a client that
// sends faster, and a longer line is logged cut short.
constexpr qint64 maxLineBytes = 64 * 1024;
// A datagram flood must not keep the event loop from TCP clients and signals:
// the rest of a burst waits for the next pass.
constexpr int datagramsPerPass = 64;

// Whether a few more descriptors can still be had: one for the next client,
// the rest kept for what the runtime opens on its own (a sanitizer's pipe, the
// C library's files). Qt's server takes running out of them for a passing
// condition and retries at once, so the simulator must not let it come to that.
bool descriptorsToSpare(qintptr inUse)
{
#if defined(Q_OS_UNIX)
    int spare[3];
    int had = 0;
    while (had < 3 && (spare[had] = ::fcntl(int(inUse), F_DUPFD_CLOEXEC, 0)) >= 0)
        ++had;
    for (int i = 0; i < had; ++i)
        ::close(spare[i]);
    return had == 3;
#else
    Q_UNUSED(inUse);
    return true;
#endif
}

QString endpoint(const QHostAddress& address, quint16 port)
{
    const QString host = address.toString();
    return (host.contains(':') ? '[' + host + ']' : host) + ':' + QString::number(port);
}

QString printable(const QByteArray& data)
{
    QByteArray shown = data.left(shownBytes).trimmed();
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f)
            c = '.';
    return QString::fromLatin1(shown) + (data.size() > shownBytes ? "..." : "");
}

} // namespace

TreadmillSimulator::TreadmillSimulator(LogWriter* out, QObject* parent)
    : QObject(parent),
      out(out),
      tcpServer(new QTcpServer(this)),
      udpSocket(new QUdpSocket(this)),
      calm(new QTimer(this))
{
    // A client that Qt's server has accepted and the simulator has not taken
    // waits; meanwhile the server accepts no more.
    tcpServer->setMaxPendingConnections(1);
    // Qt 5's server keeps the first accept error it meets for good: after that
    // it either pauses itself at every "no more clients waiting" or retries at
    // once when out of descriptors. The simulator decides for itself.
    connect(tcpServer, &QTcpServer::acceptError, this, &TreadmillSimulator::updateAccepting);
    calm->setSingleShot(true);
    calm->setInterval(1000);
    connect(calm, &QTimer::timeout, this, [this] {
        pauseLogged = false;
        log(QStringLiteral("accepting again"));
    });
    connect(tcpServer, &QTcpServer::newConnection, this, &TreadmillSimulator::acceptClients);
    connect(udpSocket, &QUdpSocket::readyRead, this, &TreadmillSimulator::readDatagrams);
}

bool TreadmillSimulator::listen(const QHostAddress& address, quint16 port, QString* error)
{
    // With port 0 the TCP port is the system's choice; a few tries find one
    // whose UDP twin is free as well.
    for (int attempt = 0; attempt < (port == 0 ? 20 : 1); ++attempt) {
        tcpServer->close();
        if (!tcpServer->listen(address, port)) {
            *error = QStringLiteral("TCP: %1").arg(tcpServer->errorString());
            return false;
        }
        if (udpSocket->bind(address, tcpServer->serverPort())) {
            updateAccepting();
            return true;
        }
        *error = QStringLiteral("UDP: %1").arg(udpSocket->errorString());
    }
    tcpServer->close();
    return false;
}

quint16 TreadmillSimulator::port() const
{
    return tcpServer->serverPort();
}

void TreadmillSimulator::acceptClients()
{
    while (whyFull().isEmpty()) {
        QTcpSocket* client = tcpServer->nextPendingConnection();
        if (!client)
            break;
        ++clients;
        client->setReadBufferSize(maxLineBytes);
        const QString peer = endpoint(client->peerAddress(), client->peerPort());
        log(QStringLiteral("tcp connected %1").arg(peer));
        connect(
            client, &QTcpSocket::readyRead, this,
            [this, client, skippingLine = false]() mutable { readLines(client, skippingLine); });
        connect(client, &QTcpSocket::disconnected, this, [this, client, peer] {
            log(QStringLiteral("tcp disconnected %1").arg(peer));
            client->deleteLater();
            --clients;
            acceptClients(); // one may be waiting
        });
    }
    updateAccepting();
}

// Stops accepting while the simulator cannot take another client, resumes as
// soon as it can, and says so once per episode: "accepting again" only once it
// has stayed so for a moment, since a client that leaves during a flood makes
// room for one more at once.
void TreadmillSimulator::updateAccepting()
{
    const QString reason = whyFull();
    if (reason.isEmpty()) {
        // Also after Qt's server paused itself on an accept error (see the constructor).
        tcpServer->resumeAccepting();
        if (pauseLogged && !calm->isActive())
            calm->start();
        return;
    }
    tcpServer->pauseAccepting();
    calm->stop();
    if (!pauseLogged)
        log(QStringLiteral("not accepting new clients: %1").arg(reason));
    pauseLogged = true;
}

QString TreadmillSimulator::whyFull() const
{
    if (clients >= maxClients)
        return QStringLiteral("%1 clients connected, the most it serves").arg(clients);
    if (!descriptorsToSpare(tcpServer->socketDescriptor()))
        return QStringLiteral("out of file descriptors");
    return QString();
}

void TreadmillSimulator::readLines(QTcpSocket* client, bool& skippingLine)
{
    const QString peer = endpoint(client->peerAddress(), client->peerPort());
    for (;;) {
        if (client->canReadLine()) {
            const QByteArray line = client->readLine();
            if (!skippingLine)
                log(QStringLiteral("tcp line from %1: %2").arg(peer, printable(line)));
            skippingLine = false; // the end of a line already logged
        } else if (client->bytesAvailable() >= maxLineBytes) {
            // The buffer is full without a line break: log the start of the
            // line once and drop the rest of it.
            const QByteArray start = client->readAll();
            if (!skippingLine)
                log(QStringLiteral("tcp line from %1 (over %2 bytes, the rest dropped): %3")
                        .arg(peer)
                        .arg(maxLineBytes)
                        .arg(printable(start)));
            skippingLine = true;
        } else {
            break;
        }
    }
}

void TreadmillSimulator::readDatagrams()
{
    for (int i = 0; i < datagramsPerPass && udpSocket->hasPendingDatagrams(); ++i) {
        const QNetworkDatagram datagram = udpSocket->receiveDatagram();
        log(QStringLiteral("udp datagram from %1 (%2 bytes): %3")
                .arg(endpoint(datagram.senderAddress(), quint16(datagram.senderPort())))
                .arg(datagram.data().size())
                .arg(printable(datagram.data())));
    }
}

void TreadmillSimulator::log(const QString& event)
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    out->write(stamp.toLatin1() + ' ' + event.toLatin1());
}
