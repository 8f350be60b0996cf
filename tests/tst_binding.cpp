// How the window binds the remote-control library. Built three times, each
// binary in its own folder: beside the project's library, beside a partial
// test library, and beside none while a library is planted in the folder the
// test starts in.
#include "testsupport.h"
#include "velorun.h"

#include <QFileInfo>

class tst_Binding : public WindowTest
{
    Q_OBJECT

private slots:
    void initTestCase();
    void entryPoints();
    void libraryModeConnect_data();
    void libraryModeConnect();
};

void tst_Binding::initTestCase()
{
#if defined(EXPECT_NO_LIBRARY)
    // The plant must really be there, or the test proves nothing.
    QVERIFY(QFileInfo::exists(QDir::current().filePath(libraryFileName())));
    QVERIFY(!QFileInfo::exists(QCoreApplication::applicationDirPath() + '/' + libraryFileName()));
#endif
}

void tst_Binding::entryPoints()
{
#if defined(EXPECT_NO_LIBRARY)
    const bool expected[] = {false, false, false, false, false};
#elif defined(EXPECT_PARTIAL_LIBRARY)
    const bool expected[] = {true, false, true, true, true};
#else
    const bool expected[] = {true, true, true, true, true};
#endif
    const char* const names[] = {
#define X(name) #name,
        VELORUN_ENTRY_POINTS(X)
#undef X
    };
    static_assert(std::size(names) == std::size(expected));
    for (int i = 0; i < int(std::size(names)); ++i)
        QVERIFY2((AmbulonProbe::entryPoint(*window, i) != nullptr) == expected[i], names[i]);
}

void tst_Binding::libraryModeConnect_data()
{
    QTest::addColumn<QString>("transport");
    QTest::addColumn<QString>("warning");
#if defined(EXPECT_NO_LIBRARY)
    const QString missing = "The treadmill library \"velorun\" was not found in "
        + QCoreApplication::applicationDirPath() + ".";
    QTest::newRow("tcp") << "TCP" << missing;
    QTest::newRow("udp") << "UDP" << missing;
#elif defined(EXPECT_PARTIAL_LIBRARY)
    QTest::newRow("tcp, negative code") << "TCP"
                                        << "Error -3";
    QTest::newRow("udp, no entry point")
        << "UDP"
        << "The treadmill library has no entry point \"VELORUN_initializeUDP\".";
    QTest::newRow("neither, no entry point")
        << ""
        << "The treadmill library has no entry point \"VELORUN_initializeUDP\".";
#else
    QTest::newRow("tcp, refused") << "TCP"
                                  << "Error 4";
    QTest::newRow("udp, bad port") << "UDP"
                                   << "Error 2";
#endif
}

void tst_Binding::libraryModeConnect()
{
    QFETCH(QString, transport);
    QFETCH(QString, warning);
    const QString port = transport == "UDP" ? "70000" : QString::number(refusedPort());
    panel.fill("127.0.0.1", port, transport, true);
    QTest::mouseClick(panel.connect, Qt::LeftButton);

    const QList<QMessageBox*> boxes = openBoxes();
    QCOMPARE(boxes.size(), 1);
    QMessageBox* box = boxes.first();
    QCOMPARE(box->windowTitle(), QString("Network Error"));
    QCOMPARE(box->text(), warning);
    QCOMPARE(box->icon(), QMessageBox::Warning);
    QCOMPARE(box->windowModality(), Qt::WindowModal);
    QCOMPARE(box->parentWidget(), window);
    QVERIFY(box->testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(panel.idle());
    QPointer<QMessageBox> closed(box);
    box->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(closed.isNull());
}

QTEST_MAIN(tst_Binding)
#include "tst_binding.moc"
