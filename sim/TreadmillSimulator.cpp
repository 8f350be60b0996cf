#include "TreadmillSimulator.h"

#include <QDateTime>
#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <cstdio>

namespace {

// A line or datagram longer than this is logged cut short.
constexpr int shownBytes = 200;
// A client that sends no line break cannot make the simulator buffer without end.
constexpr qint64 maxLineBytes = 64 * 1024;

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

TreadmillSimulator::TreadmillSimulator(QObject* parent)
    : QObject(parent), tcpServer(new QTcpServer(this)), udpSocket(new QUdpSocket(this))
{
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
        if (udpSocket->bind(address, tcpServer->serverPort()))
            return true;
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
    while (QTcpSocket* client = tcpServer->nextPendingConnection()) {
        const QString peer = endpoint(client->peerAddress(), client->peerPort());
        log(QStringLiteral("tcp connected %1").arg(peer));
        connect(client, &QTcpSocket::readyRead, this, [this, client] { readLines(client); });
        connect(client, &QTcpSocket::disconnected, this, [this, client, peer] {
            log(QStringLiteral("tcp disconnected %1").arg(peer));
            client->deleteLater();
        });
    }
}

void TreadmillSimulator::readLines(QTcpSocket* client)
{
    const QString peer = endpoint(client->peerAddress(), client->peerPort());
    while (client->canReadLine())
        log(QStringLiteral("tcp line from %1: %2").arg(peer, printable(client->readLine())));
    if (client->bytesAvailable() > maxLineBytes)
        log(QStringLiteral("tcp data from %1: %2").arg(peer, printable(client->readAll())));
}

void TreadmillSimulator::readDatagrams()
{
    while (udpSocket->hasPendingDatagrams()) {
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
    std::printf("%s %s\n", qPrintable(stamp), qPrintable(event));
    std::fflush(stdout);
}
