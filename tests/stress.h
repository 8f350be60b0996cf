// What the stress test and the bench share: loopback peers for many Connects,
// and this process's memory. Without Qt Test, as the bench runs without it.
#ifndef STRESS_H
#define STRESS_H

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <malloc.h>

// A TCP server and a UDP socket on loopback for the panel to connect to. The
// server closes each connection as it comes, so that only the panel's ends count.
struct DroppingPeers
{
    DroppingPeers()
    {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            while (QTcpSocket* peer = server.nextPendingConnection()) {
                peer->abort();
                peer->deleteLater();
            }
        });
        udp.bind(QHostAddress(QHostAddress::LocalHost), 0);
    }
    bool ready() const
    {
        return server.isListening() && udp.state() == QAbstractSocket::BoundState;
    }
    quint16 port(bool tcp) const { return tcp ? server.serverPort() : udp.localPort(); }

    QTcpServer server;
    QUdpSocket udp;
};

// Bytes in use on the heap (glibc's count; a sanitizer's allocator reports 0).
inline qint64 heapInUse()
{
#if defined(Q_OS_WIN)
    // The C runtime's heap, block by block.
    qint64 used = 0;
    _HEAPINFO block {};
    while (_heapwalk(&block) == _HEAPOK)
        if (block._useflag == _USEDENTRY)
            used += qint64(block._size);
    return used;
#else
    return qint64(mallinfo2().uordblks);
#endif
}

// A field of /proc/self/status in KiB ("VmRSS:", "VmHWM:"), or -1 where there is none.
inline qint64 processStatusKiB(const char* field)
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

#endif // STRESS_H
