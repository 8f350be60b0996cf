// Helpers shared by the tests: failing a test by the name of a missing control,
// a fresh window per test function, running outside tools and finding a started
// panel's window, reading standard output and Qt's message log, and loopback peers.
#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include "panel.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <QTest>

#include <cstdio>
#include <iostream>
#if defined(Q_OS_WIN)
#    include <io.h>
#    ifndef NOMINMAX
#        define NOMINMAX
#    endif
#    include <windows.h>
#else
#    include <unistd.h>
#endif

// The window's hidden state that no widget shows.
struct AmbulonProbe
{
    // The entry point the window bound, by its place in velorun.h's list.
    static QFunctionPointer entryPoint(const Ambulon& w, int i)
    {
        const QFunctionPointer all[] = {reinterpret_cast<QFunctionPointer>(w.initializeFn),
                                        reinterpret_cast<QFunctionPointer>(w.initializeUdpFn),
                                        w.setSpeedFn, w.setSpeed4Fn, w.closeFn};
        return all[i];
    }
    static QAbstractSocket* socket(const Ambulon& w) { return w.socket; }
};

// In a test function: declares `name` as the control beside the label `text`
// (or the button reading it), or fails the test, naming the control.
#define BESIDE_LABEL(T, name, window, text)                                                        \
    T* const name = besideLabel<T>(window, text);                                                  \
    QVERIFY2(name, qPrintable(QStringLiteral("no " #T " beside the label \"%1\"").arg(text)))
#define BUTTON(name, window, text)                                                                 \
    QPushButton* const name = button(window, text);                                                \
    QVERIFY2(name, qPrintable(QStringLiteral("no button \"%1\"").arg(text)))

// The warning boxes currently open.
inline QList<QMessageBox*> openBoxes()
{
    QList<QMessageBox*> boxes;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            boxes << box;
    return boxes;
}

// For the suites about one window: a fresh one for each test function, shown
// and exposed, with the Network page's controls in `panel`; numbers in C's format.
class WindowTest : public QObject
{
    Q_OBJECT

protected:
    Ambulon* window = nullptr;
    Panel panel;

private slots:
    void init()
    {
        QLocale::setDefault(QLocale::c());
        window = new Ambulon();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        panel = Panel(*window);
        QVERIFY2(panel.missing().isEmpty(), qPrintable(panel.missing()));
    }
    void cleanup()
    {
        for (QMessageBox* box : openBoxes())
            box->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        delete window;
        window = nullptr;
        panel = Panel();
    }
};

// Redirects standard output (the C and C++ streams alike) to a file while alive.
// Qt Test reports to standard output too: when the test has failed by the time
// the capture ends, what it took goes out after all, the failure among it.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        file.open();
        flush();
        saved = dup(stdoutFd);
        dup2(file.handle(), stdoutFd);
    }
    ~StdoutCapture()
    {
        flush();
        dup2(saved, stdoutFd);
        close(saved);
        if (QTest::currentTestFailed()) {
            const QByteArray taken = text();
            std::fwrite(taken.constData(), 1, size_t(taken.size()), stdout);
            std::fflush(stdout);
        }
    }
    QByteArray text()
    {
        flush();
        QFile copy(file.fileName());
        copy.open(QIODevice::ReadOnly);
        return copy.readAll();
    }
    int count(const QByteArray& line) { return text().count(line + '\n'); }

private:
    static void flush()
    {
        std::cout.flush();
        std::fflush(stdout);
    }
    static constexpr int stdoutFd = 1;
    QTemporaryFile file;
    int saved = -1;
};

// Collects Qt's debug messages while alive; the others go on as before.
class MessageLog
{
public:
    MessageLog()
    {
        messages.clear();
        previous = qInstallMessageHandler(handler);
    }
    ~MessageLog() { qInstallMessageHandler(previous); }
    QStringList debug() const { return messages; }
    void clear() { messages = QStringList(); }

private:
    static inline QStringList messages;
    static inline QtMessageHandler previous = nullptr;
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        if (type == QtDebugMsg)
            messages << text;
        else if (previous)
            previous(type, context, text);
    }
};

// A loopback port on which nothing listens.
inline quint16 refusedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

// Open descriptors of this process: sockets and files alike (handles on Windows).
inline int openDescriptors()
{
#if defined(Q_OS_WIN)
    DWORD handles = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handles);
    return int(handles);
#else
    return int(QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
#endif
}

// The file name the platform gives the remote-control library.
inline QString libraryFileName()
{
#if defined(Q_OS_WIN)
    return QStringLiteral("velorun.dll");
#else
    return QStringLiteral("libvelorun.so");
#endif
}

#if defined(AMBULON_TESTS_DIR)
// Runs an outside tool; returns what went wrong (with what the tool printed),
// or nothing, and its output in `out`.
inline QString runTool(const QString& program, const QStringList& arguments,
                       QByteArray* out = nullptr, int msecs = 10000)
{
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(msecs))
        p.kill();
    const QByteArray printed = p.readAllStandardOutput().trimmed();
    if (out)
        *out = printed;
    if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        return QString();
    return QString("%1 %2: %3, exit code %4: %5 %6")
        .arg(program, arguments.join(' '), p.errorString())
        .arg(p.exitCode())
        .arg(QString::fromLocal8Bit(printed), QString::fromLocal8Bit(p.readAllStandardError()));
}

// Where the X window that process `pid` shows sits, in the display's pixels,
// once it shows (tests/wait-for-window); what went wrong in `failure` otherwise.
inline QRect shownWindow(qint64 pid, int seconds, QString* failure)
{
    QByteArray window, shell;
    *failure =
        runTool(AMBULON_TESTS_DIR "/wait-for-window",
                {QString::number(pid), QString::number(seconds)}, &window, (seconds + 10) * 1000);
    if (failure->isEmpty() && window.isEmpty())
        *failure = "wait-for-window found no window";
    if (failure->isEmpty())
        *failure = runTool("xdotool", {"getwindowgeometry", "--shell", window}, &shell);
    const auto value = [&](const char* name) {
        return QRegularExpression(QString(name) + "=(\\d+)").match(shell).captured(1).toInt();
    };
    return QRect(value("X"), value("Y"), value("WIDTH"), value("HEIGHT"));
}
#endif

// For a test that shows the window on a real display or starts the panel: the
// panel's own display scaling, and no GL. The panel draws nothing with OpenGL;
// without this, Qt's X11 platform loads whatever GL driver the machine has, and
// Mesa's software driver leaks a buffer that LeakSanitizer cannot attribute.
// Processes the test starts inherit the setting.
inline void startLikeThePanel()
{
    qputenv("QT_XCB_GL_INTEGRATION", "none");
    enableDisplayScaling();
}

// The build promises Qt 5.9: 5.11 renamed QFontMetrics(F)::width() to
// horizontalAdvance().
template<typename Metrics> qreal textAdvance(const Metrics& metrics, const QString& text)
{
#if QT_VERSION >= QT_VERSION_CHECK(5, 11, 0)
    return metrics.horizontalAdvance(text);
#else
    return metrics.width(text);
#endif
}

// QTEST_MAIN calls a test class's static initMain() before it makes the
// application only from Qt 5.14 on. Before that, a static object's initialiser
// calls it, which also runs before main.
#if QT_VERSION < QT_VERSION_CHECK(5, 14, 0)
#    define AMBULON_CALL_INIT_MAIN(TestClass)                                                      \
        [[maybe_unused]] static const bool TestClass##InitMain = (TestClass::initMain(), true);
#else
#    define AMBULON_CALL_INIT_MAIN(TestClass)
#endif

#endif // TESTSUPPORT_H
