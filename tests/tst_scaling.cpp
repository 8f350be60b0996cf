// The panel on a display it must scale to AMBULON_TEST_DPI dots per inch (96, 144 and 192
// each get a run on their own virtual display, or under Wine a Windows DPI): with Qt's scaling
// the window grows with the display, and a label that shows its whole text at 96 dpi shows it
// here.
#include "testsupport.h"

#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTabWidget>

#if defined(Q_OS_WIN)
#    include <windows.h>
#endif

class tst_Scaling : public QObject
{
    Q_OBJECT

public:
    static void initMain() { startLikeThePanel(); }

private slots:
    void initTestCase();
    void labelsShowTheirText();
    void panelGrowsWithTheDisplay();

private:
    qreal scale = 0;
    Ambulon window;
};

void tst_Scaling::initTestCase()
{
    scale = qEnvironmentVariableIntValue("AMBULON_TEST_DPI") / 96.0;
    QVERIFY2(scale > 0, "set AMBULON_TEST_DPI to the density the panel scales to");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
}

void tst_Scaling::labelsShowTheirText()
{
    // Lays a text out as a 96 dpi display without scaling does.
    QImage at96(1, 1, QImage::Format_RGB32);
    at96.setDotsPerMeterX(3780);
    at96.setDotsPerMeterY(3780);
    QStringList cut;
    auto* tabs = window.findChild<QTabWidget*>();
    for (int page = 0; page < tabs->count(); ++page) {
        tabs->setCurrentIndex(page); // a page is laid out once shown
        for (QLabel* label : tabs->widget(page)->findChildren<QLabel*>()) {
            const qreal room = label->contentsRect().width();
            if (textAdvance(QFontMetricsF(QFont(label->font(), &at96)), label->text()) <= room
                && textAdvance(label->fontMetrics(), label->text()) > room)
                cut << label->text();
        }
    }
    tabs->setCurrentIndex(0);
    QCOMPARE(cut, QStringList());
}

// The size of the real program's window in the display's pixels, so that its own
// start-up is what is tested; an empty size when it shows none.
QSize shownPanelSize()
{
    QProcess panel;
    panel.start(QCoreApplication::applicationDirPath() + "/ambulon", QStringList());
    if (!panel.waitForStarted())
        return QSize();
    QSize shown;
#if defined(Q_OS_WIN)
    struct Search
    {
        DWORD pid;
        HWND window;
    } search {DWORD(panel.processId()), nullptr};
    const auto visibleWindowOf = [](HWND window, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != s->pid || !IsWindowVisible(window))
            return TRUE;
        s->window = window;
        return FALSE;
    };
    for (int i = 0; i < 300 && !search.window; ++i) {
        EnumWindows(visibleWindowOf, LPARAM(&search));
        QTest::qWait(100);
    }
    RECT client;
    if (search.window && GetClientRect(search.window, &client))
        shown = QSize(client.right - client.left, client.bottom - client.top);
#else
    QString failure;
    shown = shownWindow(panel.processId(), 10, &failure).size();
    if (!failure.isEmpty())
        qWarning("%s", qPrintable(failure));
#endif
    panel.kill();
    panel.waitForFinished(5000);
    return shown;
}

void tst_Scaling::panelGrowsWithTheDisplay()
{
#if !defined(Q_OS_WIN)
    if (QStandardPaths::findExecutable("xdotool").isEmpty())
        QSKIP("needs xdotool to find the panel's window");
#endif
    const QSize shown = shownPanelSize();
    // The same window in Qt's layout units, times the display's scale.
    const QSize expected = window.size() * scale;
    qInfo("the panel's window is %dx%d pixels", shown.width(), shown.height());
    QVERIFY2(qAbs(shown.width() - expected.width()) <= 1
                 && qAbs(shown.height() - expected.height()) <= 1,
             qPrintable(QString("expected %1x%2").arg(expected.width()).arg(expected.height())));
}

AMBULON_CALL_INIT_MAIN(tst_Scaling)
QTEST_MAIN(tst_Scaling)
#include "tst_scaling.moc"
