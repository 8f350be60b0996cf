// The real panel and the real simulator, driven on a virtual display with
// xdotool as a person would: click, type, Tab, click Connect, File, Exit.
// With AMBULON_E2E_PANEL naming a Windows ambulon.exe it drives that one under
// Wine, clicking where the Windows program AMBULON_E2E_LAYOUT says the
// controls are.
#include "testsupport.h"

#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>

namespace {

QString bin(const QString& name)
{
    return QCoreApplication::applicationDirPath() + '/' + name;
}

// Fails the test with what went wrong, if anything did.
#define SUCCEEDS(...)                                                                              \
    do {                                                                                           \
        const QString failure = (__VA_ARGS__);                                                     \
        QVERIFY2(failure.isEmpty(), qPrintable(failure));                                          \
    } while (false)

const QString windowsPanel = QString::fromLocal8Bit(qgetenv("AMBULON_E2E_PANEL"));

QString screenshot(const QString& name)
{
    const QString file = windowsPanel.isEmpty() ? name : "wine-" + name;
    return runTool("import", {"-window", "root", QDir::current().filePath(file)});
}

} // namespace

class tst_EndToEnd : public QObject
{
    Q_OBJECT

public:
    // The window measured here is laid out as the panel's is.
    static void initMain() { startLikeThePanel(); }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void connectAndExit_data();
    void connectAndExit();

private:
    QString click(const QPoint& inWindow);
    QByteArray simulatorLog();

    QProcess simulator;
    QByteArray simulatorOutput;
    QString port;
    QProcess panel;
    QPoint origin;
    // Where the controls sit in the window, measured on a window built here.
    QHash<QString, QPoint> at;
};

void tst_EndToEnd::initTestCase()
{
    QVERIFY2(QGuiApplication::platformName() == "xcb", "run on an X display (xvfb-run)");
    if (!windowsPanel.isEmpty()) {
        QByteArray layout;
        SUCCEEDS(runTool("wine", {QString::fromLocal8Bit(qgetenv("AMBULON_E2E_LAYOUT"))}, &layout,
                         60000));
        for (const QByteArray& line : layout.split('\n')) {
            const QList<QByteArray> f = line.trimmed().split(' ');
            if (f.size() == 3)
                at[f[0]] = QPoint(f[1].toInt(), f[2].toInt());
        }
        QCOMPARE(at.size(), 8);
    } else {
        Ambulon reference;
        reference.show();
        QVERIFY(QTest::qWaitForWindowExposed(&reference));
        const QString missing = Panel(reference).missing();
        QVERIFY2(missing.isEmpty(), qPrintable(missing));
        at = controlPositions(reference);
    }
    QCoreApplication::processEvents();

    simulator.start(bin("treadmill-sim"), {"--host", "127.0.0.1", "--port", "0"});
    QVERIFY(simulator.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(simulatorLog().contains("listening"), 10000);
    port = QRegularExpression("port (\\d+)").match(simulatorOutput).captured(1);
    QVERIFY(!port.isEmpty());
}

void tst_EndToEnd::cleanupTestCase()
{
    simulator.terminate();
    QVERIFY(simulator.waitForFinished(10000));
    QCOMPARE(simulator.exitStatus(), QProcess::NormalExit);
    QCOMPARE(simulator.exitCode(), 0);
    QVERIFY(simulatorLog().contains("treadmill-sim stopped"));
}

void tst_EndToEnd::cleanup()
{
    if (panel.state() != QProcess::NotRunning) {
        panel.kill();
        panel.waitForFinished(5000);
    }
}

QByteArray tst_EndToEnd::simulatorLog()
{
    simulatorOutput += simulator.readAllStandardOutput();
    return simulatorOutput;
}

QString tst_EndToEnd::click(const QPoint& inWindow)
{
    const QPoint p = origin + inWindow;
    // No --sync: it waits for ever when the pointer is already there. The
    // server handles the move before the click all the same.
    return runTool("xdotool",
                   {"mousemove", QString::number(p.x()), QString::number(p.y()), "click", "1"});
}

void tst_EndToEnd::connectAndExit_data()
{
    QTest::addColumn<QString>("transport");
    QTest::addColumn<bool>("libraryMode");
    QTest::newRow("direct tcp") << "TCP" << false;
    QTest::newRow("direct udp") << "UDP" << false;
    QTest::newRow("library tcp") << "TCP" << true;
    QTest::newRow("library udp") << "UDP" << true;
}

void tst_EndToEnd::connectAndExit()
{
    QFETCH(QString, transport);
    QFETCH(bool, libraryMode);
    const QByteArray connectedBefore = simulatorLog();
    const int connectionsBefore = connectedBefore.count("tcp connected");

    panel.setWorkingDirectory(QDir::tempPath());
    if (windowsPanel.isEmpty())
        panel.start(bin("ambulon"), QStringList());
    else
        panel.start("wine", {windowsPanel});
    QVERIFY(panel.waitForStarted());
    QString failure;
    origin = shownWindow(panel.processId(), windowsPanel.isEmpty() ? 10 : 60, &failure).topLeft();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QTest::qWait(windowsPanel.isEmpty() ? 300 : 2000); // the first paint
    // No GL driver (Mesa's or a vendor's) in the panel, whatever the machine has.
    // (Wine's own X11 driver maps the system's GL library into every program it runs.)
    QFile maps(QString("/proc/%1/maps").arg(panel.processId()));
    if (windowsPanel.isEmpty() && maps.open(QIODevice::ReadOnly)) {
        const QByteArray mapped = maps.readAll();
        QVERIFY2(!mapped.contains("_dri.so") && !mapped.contains("libGLX_"),
                 "the panel loaded a GL driver");
    }

    SUCCEEDS(click(at["host"]));
    SUCCEEDS(runTool("xdotool", {"type", "--delay", "30", "127.0.0.1"}));
    SUCCEEDS(runTool("xdotool", {"key", "Tab"}));
    SUCCEEDS(runTool("xdotool", {"type", "--delay", "30", port}));
    if (libraryMode)
        SUCCEEDS(click(at["library"]));
    SUCCEEDS(click(at[transport]));
    if (QTest::currentDataTag() == QString("direct tcp"))
        SUCCEEDS(screenshot("e2e-network-page.png"));
    SUCCEEDS(click(at["connect"]));

    const QString debugLine = "New connection made on port " + port + ".";
    QByteArray out, err;
    const auto read = [&] {
        // Windows ends a line with CR LF.
        out += panel.readAllStandardOutput().replace("\r\n", "\n");
        err += panel.readAllStandardError();
        return true;
    };
    const int debugLines = libraryMode ? 0 : 1;
    if (transport == "TCP")
        QTRY_COMPARE_WITH_TIMEOUT(simulatorLog().count("tcp connected"), connectionsBefore + 1,
                                  10000);
    else
        QTRY_VERIFY_WITH_TIMEOUT(read() && out.contains("setSetpoints activated"), 10000);
    if (debugLines)
        QTRY_VERIFY_WITH_TIMEOUT(read() && err.contains(debugLine.toLatin1()), 10000);

    // Connect is disabled now: a second click starts nothing.
    SUCCEEDS(click(at["connect"]));
    QTest::qWait(500);
    read();
    QCOMPARE(simulatorLog().count("tcp connected"), connectionsBefore + (transport == "TCP"));
    QCOMPARE(err.count(debugLine.toLatin1()), debugLines);
    QCOMPARE(out.count("setSetpoints activated\n"), transport == "UDP" ? 1 : 0);

    if (QTest::currentDataTag() == QString("direct tcp")) {
        SUCCEEDS(screenshot("e2e-network-connected.png"));
        SUCCEEDS(click(at["perturbation"]));
        QTest::qWait(300);
        SUCCEEDS(screenshot("e2e-perturbation-page.png"));
        SUCCEEDS(click(at["network"]));
    }

    SUCCEEDS(click(at["file"]));
    QTest::qWait(200);
    SUCCEEDS(runTool("xdotool", {"key", "Down", "Return"}));
    QVERIFY(panel.waitForFinished(10000));
    read();
    QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
    QVERIFY2(panel.exitCode() == 0, err.right(3000).constData());
    if (transport == "TCP")
        QTRY_VERIFY_WITH_TIMEOUT(simulatorLog().count("tcp disconnected")
                                     >= connectedBefore.count("tcp disconnected") + 1,
                                 10000);
}

AMBULON_CALL_INIT_MAIN(tst_EndToEnd)
QTEST_MAIN(tst_EndToEnd)
#include "tst_e2e.moc"
