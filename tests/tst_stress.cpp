// A thousand Connects in each mode: no descriptor or heap growth, no crash, and
// only the newest socket is heard.
#include "testsupport.h"

#include <QUdpSocket>

#include <malloc.h>

namespace {

// Bytes in use on the heap (glibc's count; a sanitizer's allocator reports 0).
qint64 heapInUse()
{
    return qint64(mallinfo2().uordblks);
}

} // namespace

class tst_Stress : public QObject
{
    Q_OBJECT

private slots:
    void manyConnects_data();
    void manyConnects();
};

void tst_Stress::manyConnects_data()
{
    QTest::addColumn<bool>("libraryMode");
    QTest::newRow("direct") << false;
    QTest::newRow("library") << true;
}

void tst_Stress::manyConnects()
{
    QFETCH(bool, libraryMode);
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    // The peers' ends are closed as soon as they come, so that only the panel's count.
    connect(&server, &QTcpServer::newConnection, &server, [&server] {
        while (QTcpSocket* peer = server.nextPendingConnection()) {
            peer->abort();
            peer->deleteLater();
        }
    });
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress(QHostAddress::LocalHost), 0));

    Ambulon window;
    const Panel panel(window);
    panel.fill("127.0.0.1", QString(), QString(), libraryMode);
    StdoutCapture out;
    MessageLog log;
    const auto connectOnce = [&](int i) {
        const bool tcp = i % 2 == 0;
        (tcp ? panel.tcp : panel.udp)->setChecked(true);
        panel.port->setPlainText(QString::number(tcp ? server.serverPort() : peer.localPort()));
        // Connect is locked after the first success; the slot is not.
        QMetaObject::invokeMethod(&window, "onClickConnect");
        QCoreApplication::processEvents();
    };
    const auto settle = [&] {
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };

    for (int i = 0; i < 20; ++i)
        connectOnce(i);
    settle();
    log.clear();
    const int descriptors = openDescriptors();
    const qint64 heap = heapInUse();
    const int tracesBefore = out.count("setSetpoints activated");

    for (int i = 0; i < 1000; ++i)
        connectOnce(i);
    settle();

    QVERIFY(panel.locked());
    // One attempt logged per direct Connect; the log itself must not count as growth.
    QCOMPARE(log.debug().size(), libraryMode ? 0 : 1000);
    log.clear();
    // Every UDP Connect dispatches once, and no replaced socket adds a line.
    QCOMPARE(out.count("setSetpoints activated") - tracesBefore, 500);
    QTRY_VERIFY2(
        openDescriptors() <= descriptors + 2,
        qPrintable(QString("%1 descriptors, were %2").arg(openDescriptors()).arg(descriptors)));
    const qint64 growth = heapInUse() - heap;
    QVERIFY2(growth < 64 * 1024, qPrintable(QString("heap grew by %1 bytes").arg(growth)));
    std::fprintf(stderr, "%s: descriptors %d -> %d, heap growth %lld bytes\n",
                 QTest::currentDataTag(), descriptors, openDescriptors(), growth);
}

QTEST_MAIN(tst_Stress)
#include "tst_stress.moc"
