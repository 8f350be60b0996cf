// Connect in both modes against real peers on loopback, and what the operator
// and the lab see afterwards: locked controls, trace lines, debug messages and
// warning boxes.
#include "testsupport.h"

#include <QDoubleSpinBox>
#include <QPointer>
#include <QTcpSocket>
#include <QUdpSocket>

namespace {

const char* const traceLine = "setSetpoints activated";

// The debug message of a direct attempt to connect to `port`.
QString attemptMessage(int port)
{
    return QString("New connection made on port %1.").arg(port);
}

// Clicks Connect for a direct attempt, whose debug message is expected.
void clickConnectForAnAttempt(const Panel& panel)
{
    QTest::ignoreMessage(QtDebugMsg, qPrintable(attemptMessage(panel.port->toPlainText().toInt())));
    QTest::mouseClick(panel.connect, Qt::LeftButton);
}

} // namespace

class tst_Connection : public WindowTest
{
    Q_OBJECT

private slots:
    void directTcp();
    void directUdp_data();
    void directUdp();
    void refusedTcpLeavesIdle();
    void onlyTheNewestSocketIsHeard();
    void debugMessage_data();
    void debugMessage();
    void libraryMode_data();
    void libraryMode();
    void libraryModeDropsAnEarlierDirectSocket();
    void dispatchByName();
    void destroyedWindowDeletesItsSocket();
};

void tst_Connection::directTcp()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    panel.fill("127.0.0.1", QString::number(server.serverPort()), "TCP", false);

    StdoutCapture out;
    clickConnectForAnAttempt(panel);
    QVERIFY(server.waitForNewConnection(5000));
    QTRY_VERIFY(panel.locked());
    auto* socket = AmbulonProbe::socket(*window);
    QVERIFY(qobject_cast<QTcpSocket*>(socket));
    // Qt reads it back from the system's socket (TCP_NODELAY).
    QCOMPARE(socket->socketOption(QAbstractSocket::LowDelayOption).toInt(), 1);
    QCOMPARE(out.count(traceLine), 0);
    QVERIFY(openBoxes().isEmpty());

    // Connected for good: nothing unlocks the controls.
    server.nextPendingConnection()->close();
    QTest::mouseClick(panel.disconnect, Qt::LeftButton);
    QTRY_COMPARE(socket->state(), QAbstractSocket::UnconnectedState);
    QVERIFY(panel.locked());
}

void tst_Connection::directUdp_data()
{
    QTest::addColumn<QString>("transport");
    QTest::addColumn<bool>("mirror");
    QTest::addColumn<int>("traceLines");
    QTest::newRow("udp checked") << "UDP" << false << 1;
    QTest::newRow("udp checked, mirroring") << "UDP" << true << 1;
    QTest::newRow("neither checked, mirroring") << "" << true << 0;
}

void tst_Connection::directUdp()
{
    QFETCH(QString, transport);
    QFETCH(bool, mirror);
    QFETCH(int, traceLines);
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress(QHostAddress::LocalHost), 0));
    panel.fill("127.0.0.1", QString::number(peer.localPort()), transport, false);
    BESIDE_LABEL(QDoubleSpinBox, leftAcceleration, window, "Left acceleration: ");
    BESIDE_LABEL(QDoubleSpinBox, leftDeceleration, window, "Left deceleration: ");
    BESIDE_LABEL(QDoubleSpinBox, rightAcceleration, window, "Right acceleration: ");
    BESIDE_LABEL(QDoubleSpinBox, rightDeceleration, window, "Right deceleration: ");
    BUTTON(mirrorButton, window, "Mirror Left to Right");
    leftAcceleration->setValue(3.5);
    leftDeceleration->setValue(-2.25);
    mirrorButton->setChecked(mirror);

    StdoutCapture out;
    clickConnectForAnAttempt(panel);
    QTRY_VERIFY(panel.locked());
    QVERIFY(qobject_cast<QUdpSocket*>(AmbulonProbe::socket(*window)));
    QCOMPARE(out.count(traceLine), traceLines);
    QCOMPARE(out.text().count('\n'), traceLines);
    // The dispatch that the connect makes carries the mirroring.
    const bool copied = mirror && traceLines > 0;
    QCOMPARE(rightAcceleration->value(), copied ? 3.5 : 0.0);
    QCOMPARE(rightDeceleration->value(), copied ? -2.25 : 0.0);
}

void tst_Connection::refusedTcpLeavesIdle()
{
    panel.fill("127.0.0.1", QString::number(refusedPort()), "TCP", false);
    clickConnectForAnAttempt(panel);
    QAbstractSocket* refused = AmbulonProbe::socket(*window);
    QTRY_COMPARE(refused->error(), QAbstractSocket::ConnectionRefusedError);
    QVERIFY(panel.idle());
    QVERIFY(openBoxes().isEmpty());

    // A later Connect still works, on a new socket.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    panel.port->setPlainText(QString::number(server.serverPort()));
    clickConnectForAnAttempt(panel);
    QVERIFY(server.waitForNewConnection(5000));
    QTRY_VERIFY(panel.locked());
}

void tst_Connection::onlyTheNewestSocketIsHeard()
{
    // A name is looked up asynchronously, so the first socket is still pending
    // when the second Connect replaces it; an address connects a UDP socket at once.
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress(QHostAddress::LocalHost), 0));
    panel.fill("localhost", QString::number(peer.localPort()), "UDP", false);
    StdoutCapture out;
    MessageLog log;
    QTest::mouseClick(panel.connect, Qt::LeftButton);
    QPointer<QAbstractSocket> first = AmbulonProbe::socket(*window);
    QVERIFY(panel.idle());
    panel.host->setPlainText("127.0.0.1");
    QTest::mouseClick(panel.connect, Qt::LeftButton);
    QVERIFY(first.isNull());
    QVERIFY(panel.locked());
    QTest::qWait(300);
    QCOMPARE(out.count(traceLine), 1);
    QCOMPARE(log.debug().size(), 2);
}

void tst_Connection::debugMessage_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("attempted"); // the port in the message; 0 for no attempt
    QTest::newRow("plain") << "4000" << 4000;
    QTest::newRow("line break after") << "4000\n" << 4000;
    QTest::newRow("blanks around") << " 4000 " << 4000;
    QTest::newRow("leading zeros") << "04000" << 4000;
    QTest::newRow("highest") << "65535" << 65535;
    QTest::newRow("lowest") << "1" << 1;
    for (const char* bad : {"", "0", "65536", "70000", "4294967295", "4294967296", "-1", "0x50",
                            "abc", "40 00", "\n"})
        QTest::addRow("invalid \"%s\"", QByteArray(bad).replace('\n', "\\n").constData())
            << bad << 0;
}

void tst_Connection::debugMessage()
{
    QFETCH(QString, port);
    QFETCH(int, attempted);
    panel.fill("127.0.0.1", port, "UDP", false);
    MessageLog log;
    StdoutCapture out;
    QTest::mouseClick(panel.connect, Qt::LeftButton);
    const QList<QMessageBox*> boxes = openBoxes();
    if (!attempted) {
        // No attempt at all: no socket, no message, a warning instead.
        QCOMPARE(log.debug(), QStringList());
        QCOMPARE(AmbulonProbe::socket(*window), nullptr);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first()->windowTitle(), QString("Network Error"));
        QCOMPARE(boxes.first()->text(), QString("Enter a port number from 1 to 65535."));
        QCOMPARE(boxes.first()->windowModality(), Qt::WindowModal);
        QVERIFY(panel.idle());
    } else {
        QCOMPARE(log.debug(), QStringList(attemptMessage(attempted)));
        QVERIFY(boxes.isEmpty());
        QCOMPARE(AmbulonProbe::socket(*window)->peerPort(), quint16(attempted));
    }
}

void tst_Connection::libraryMode_data()
{
    QTest::addColumn<QString>("transport");
    QTest::addColumn<bool>("listening");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<int>("traceLines");
    QTest::newRow("tcp") << "TCP" << true << QString() << 0;
    QTest::newRow("udp") << "UDP" << true << QString() << 1;
    QTest::newRow("neither") << "" << true << QString() << 0;
    QTest::newRow("tcp refused") << "TCP" << false << "Error 4" << 0;
}

void tst_Connection::libraryMode()
{
    QFETCH(QString, transport);
    QFETCH(bool, listening);
    QFETCH(QString, warning);
    QFETCH(int, traceLines);
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const quint16 port = listening ? server.serverPort() : refusedPort();
    // Handed to the library as typed: it trims the operator's line break itself.
    panel.fill("127.0.0.1\n", QString::number(port), transport, true);

    StdoutCapture out;
    MessageLog log;
    QTest::mouseClick(panel.connect, Qt::LeftButton);
    QCOMPARE(out.count(traceLine), traceLines);
    QCOMPARE(log.debug(), QStringList());
    if (warning.isEmpty()) {
        QVERIFY(panel.locked());
        QVERIFY(openBoxes().isEmpty());
        if (transport == "TCP")
            QVERIFY(server.waitForNewConnection(5000));
    } else {
        QVERIFY(panel.idle());
        QCOMPARE(openBoxes().size(), 1);
        QCOMPARE(openBoxes().first()->text(), warning);
    }
}

void tst_Connection::libraryModeDropsAnEarlierDirectSocket()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    panel.fill("localhost", QString::number(server.serverPort()), "TCP", false);
    clickConnectForAnAttempt(panel);
    QPointer<QAbstractSocket> direct = AmbulonProbe::socket(*window);
    QVERIFY(direct);

    panel.fill("127.0.0.1", QString::number(refusedPort()), "TCP", true);
    QTest::mouseClick(panel.connect, Qt::LeftButton);
    QVERIFY(direct.isNull());
    QCOMPARE(openBoxes().size(), 1);
    // Had the direct socket lived on, its connection would lock the controls now.
    QTest::qWait(300);
    QVERIFY(panel.idle());
}

void tst_Connection::dispatchByName()
{
    StdoutCapture out;
    QVERIFY(QMetaObject::invokeMethod(window, "sendSetpoints"));
    QVERIFY(QMetaObject::invokeMethod(window, "sendSetpoints",
                                      Q_ARG(SetpointType, SetpointsOnConnect)));
    QCOMPARE(out.text(), QByteArray("setSetpoints activated\nsetSetpoints activated\n"));
}

void tst_Connection::destroyedWindowDeletesItsSocket()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    panel.fill("127.0.0.1", QString::number(server.serverPort()), "TCP", false);
    clickConnectForAnAttempt(panel);
    QVERIFY(server.waitForNewConnection(5000));
    QTcpSocket* peer = server.nextPendingConnection();
    QPointer<QAbstractSocket> socket = AmbulonProbe::socket(*window);
    delete window;
    window = nullptr;
    QVERIFY(socket.isNull());
    QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
}

QTEST_MAIN(tst_Connection)
#include "tst_connection.moc"
