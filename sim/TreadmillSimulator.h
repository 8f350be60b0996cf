#ifndef TREADMILLSIMULATOR_H
#define TREADMILLSIMULATOR_H

#include <QHostAddress>
#include <QObject>

class LogWriter;
class QTcpServer;
class QTcpSocket;
class QTimer;
class QUdpSocket;

// Stands in for the treadmill's controller: accepts TCP clients and UDP
// datagrams on one address and port and logs each event through `out`.
class TreadmillSimulator : public QObject
{
    Q_OBJECT

public:
    // A real controller serves one panel, or a few: more clients only cost
    // descriptors, and each one beyond a few is more likely a runaway client.
    static constexpr int maxClients = 8;

    explicit TreadmillSimulator(LogWriter* out, QObject* parent = nullptr);

    // Listens over TCP and UDP on one port; port 0 picks a port free for both.
    bool listen(const QHostAddress& address, quint16 port, QString* error);
    quint16 port() const;

private slots:
    void acceptClients();
    void readDatagrams();

private:
    void log(const QString& event);
    void readLines(QTcpSocket* client, bool& skippingLine);
    void updateAccepting();
    QString whyFull() const; // why it cannot take another client now, or nothing

    LogWriter* out;
    QTcpServer* tcpServer;
    QUdpSocket* udpSocket;
    QTimer* calm; // runs while accepting again after a pause, before saying so
    int clients = 0;
    bool pauseLogged = false;
};

#endif // TREADMILLSIMULATOR_H
