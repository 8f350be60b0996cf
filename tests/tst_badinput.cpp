// Whatever the operator types into host and port, in both modes and over both
// transports: no crash, no long wait, and one of the outcomes the panel
// promises: a connection, a warning box, or silence for a socket error.
#include "testsupport.h"

#include <QElapsedTimer>
#include <QUdpSocket>

class tst_BadInput : public WindowTest
{
    Q_OBJECT

private slots:
    void initTestCase();
    void typedEndpoint_data();
    void typedEndpoint();

private:
    QTcpServer server;
    QUdpSocket udpPeer;
};

void tst_BadInput::initTestCase()
{
    // One port number for both transports, so that every row means the same over each.
    for (int attempt = 0; attempt < 20 && udpPeer.state() != QAbstractSocket::BoundState;
         ++attempt) {
        server.close();
        QVERIFY(server.listen(QHostAddress::LocalHost));
        udpPeer.bind(QHostAddress(QHostAddress::LocalHost), server.serverPort());
    }
    QCOMPARE(udpPeer.state(), QAbstractSocket::BoundState);
}

void tst_BadInput::typedEndpoint_data()
{
    QTest::addColumn<bool>("libraryMode");
    QTest::addColumn<QString>("transport");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("expected");

    // %P stands for the listening port. Outcomes: "connected", "silent" (a socket
    // error, nothing shown), "port" (the port warning), or a library's "Error N".
    const QString ok = "127.0.0.1";
    const QString mib(1024 * 1024, QChar('7'));
    const QString nul(QChar(0));
    struct Row
    {
        const char* name;
        QString host, port;
        const char *directTcp, *directUdp, *libraryTcp, *libraryUdp;
    };
    const Row rows[] = {
        {"plain", ok, "%P", "connected", "connected", "connected", "connected"},
        {"empty host", "", "%P", "silent", "silent", "Error 1", "Error 1"},
        {"blank host", " \t ", "%P", "silent", "silent", "Error 1", "Error 1"},
        {"host, breaks around", "\t127.0.0.1\n", "%P", "connected", "connected", "connected",
         "connected"},
        // The system's resolver reads the address up to the line break; the library
        // rejects a host with a blank inside.
        {"host, break inside", "127.0.\n0.1", "%P", "connected", "connected", "Error 3", "Error 3"},
        {"host, 1 MiB", QString(mib).fill('a'), "%P", "silent", "silent", "Error 3", "Error 3"},
        {"host, emoji", QString::fromUtf8("\xf0\x9f\x98\x80"), "%P", "silent", "silent", "Error 3",
         "Error 3"},
        {"host, CJK", QString::fromUtf8("\xe4\xb8\xbb\xe6\x9c\xba"), "%P", "silent", "silent",
         "Error 3", "Error 3"},
        // Both the resolver and the library read C strings: the host ends at the NUL.
        {"host, NUL inside", ok + nul + "x", "%P", "connected", "connected", "connected",
         "connected"},
        {"empty port", ok, "", "port", "port", "Error 1", "Error 1"},
        {"blank port", ok, " \t\n", "port", "port", "Error 1", "Error 1"},
        {"port, breaks around", ok, "\n%P\t\n", "connected", "connected", "connected", "connected"},
        {"port, 1 MiB", ok, mib, "port", "port", "Error 2", "Error 2"},
        {"port, emoji", ok, QString::fromUtf8("\xf0\x9f\x98\x80"), "port", "port", "Error 2",
         "Error 2"},
        {"port, CJK", ok, QString::fromUtf8("\xe5\x9b\x9b"), "port", "port", "Error 2", "Error 2"},
        {"port, NUL after", ok, "%P" + nul + "1", "port", "port", "connected", "connected"},
        // Qt's number rules accept a plus sign; the library takes digits only.
        {"port, plus sign", ok, "+%P", "connected", "connected", "Error 2", "Error 2"},
        {"port, minus sign", ok, "-%P", "port", "port", "Error 2", "Error 2"},
        {"port, hexadecimal", ok, "0x50", "port", "port", "Error 2", "Error 2"},
        {"port, leading zeros", ok, "000%P", "connected", "connected", "connected", "connected"},
        {"port 0", ok, "0", "port", "port", "Error 2", "Error 2"},
        {"port 65535", ok, "65535", "silent", "connected", "Error 4", "connected"},
        {"port 65536", ok, "65536", "port", "port", "Error 2", "Error 2"},
        {"port 4294967295", ok, "4294967295", "port", "port", "Error 2", "Error 2"},
        {"port 4294967296", ok, "4294967296", "port", "port", "Error 2", "Error 2"},
    };
    for (const Row& row : rows) {
        QTest::addRow("direct tcp, %s", row.name)
            << false << "TCP" << row.host << row.port << row.directTcp;
        QTest::addRow("direct udp, %s", row.name)
            << false << "UDP" << row.host << row.port << row.directUdp;
        QTest::addRow("library tcp, %s", row.name)
            << true << "TCP" << row.host << row.port << row.libraryTcp;
        QTest::addRow("library udp, %s", row.name)
            << true << "UDP" << row.host << row.port << row.libraryUdp;
    }
}

void tst_BadInput::typedEndpoint()
{
    QFETCH(bool, libraryMode);
    QFETCH(QString, transport);
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(QString, expected);
    if (expected.contains("65535") || port == "65535") {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 65535))
            QSKIP("port 65535 is in use here");
    }
    // The ends of earlier rows' connections.
    while (QTcpSocket* peer = server.nextPendingConnection())
        delete peer;

    panel.fill(host, QString(port).replace("%P", QString::number(server.serverPort())), transport,
               libraryMode);
    MessageLog log;
    QElapsedTimer timer;
    timer.start();
    QTest::mouseClick(panel.connect, Qt::LeftButton);
    // A hang guard only: the library's own limit is about three seconds.
    QVERIFY(timer.elapsed() < 10000);

    QAbstractSocket* socket = AmbulonProbe::socket(*window);
    if (expected == "connected") {
        QTRY_VERIFY(panel.locked());
        QVERIFY(openBoxes().isEmpty());
    } else if (expected == "silent") {
        QVERIFY(socket);
        QTRY_VERIFY(socket->state() == QAbstractSocket::UnconnectedState
                    && socket->error() != QAbstractSocket::UnknownSocketError);
        QVERIFY(panel.idle());
        QVERIFY(openBoxes().isEmpty());
    } else {
        QVERIFY(panel.idle());
        const QList<QMessageBox*> boxes = openBoxes();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first()->text(),
                 expected == "port" ? QString("Enter a port number from 1 to 65535.") : expected);
        QCOMPARE(socket, nullptr);
        QCOMPARE(log.debug(), QStringList());
    }
}

QTEST_MAIN(tst_BadInput)
#include "tst_badinput.moc"
