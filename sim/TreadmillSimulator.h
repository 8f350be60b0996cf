#ifndef TREADMILLSIMULATOR_H
#define TREADMILLSIMULATOR_H

#include <QHostAddress>
#include <QObject>

class QTcpServer;
class QTcpSocket;
class QUdpSocket;

// Stands in for the treadmill's controller: accepts TCP clients and UDP
// datagrams on one address and port and logs each event on standard output.
class TreadmillSimulator : public QObject
{
    Q_OBJECT

public:
    explicit TreadmillSimulator(QObject* parent = nullptr);

    // Listens over TCP and UDP on one port; port 0 picks a port free for both.
    bool listen(const QHostAddress& address, quint16 port, QString* error);
    quint16 port() const;

private slots:
    void acceptClients();
    void readDatagrams();

private:
    void log(const QString& event);
    void readLines(QTcpSocket* client);

    QTcpServer* tcpServer;
    QUdpSocket* udpSocket;
};

#endif // TREADMILLSIMULATOR_H
