// The panel on a display of AMBULON_TEST_DPI dots per inch (96, 144 and 192 each
// get a run on their own virtual display): with Qt's scaling the window grows
// with the display, and a label that shows its whole text at 96 dpi shows it here.
#include "testsupport.h"

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

class tst_Scaling : public QObject
{
    Q_OBJECT

public:
    // What the panel's main does before it makes the application object. No GL
    // either, here or in the panel started from here: the panel draws nothing
    // with it, and a machine's GL driver must not take part (Mesa's leaks).
    static void initMain()
    {
        qputenv("QT_XCB_GL_INTEGRATION", "none");
        QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)
        QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
            Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
#endif
    }

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void scaleFollowsTheDisplay();
    void labelsShowTheirText();
    void panelGrowsWithTheDisplay();

private:
    int dpi = 0;
    Ambulon* window = nullptr;
};

void tst_Scaling::initTestCase()
{
    bool ok = false;
    dpi = qEnvironmentVariableIntValue("AMBULON_TEST_DPI", &ok);
    QVERIFY2(ok, "set AMBULON_TEST_DPI to the display's dots per inch");
}

void tst_Scaling::init()
{
    window = new Ambulon();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void tst_Scaling::cleanup()
{
    delete window;
    window = nullptr;
}

void tst_Scaling::scaleFollowsTheDisplay()
{
    QCOMPARE(window->devicePixelRatioF(), dpi / 96.0);
}

void tst_Scaling::labelsShowTheirText()
{
    // Measures a text as a 96 dpi display without scaling lays it out.
    QImage at96(1, 1, QImage::Format_RGB32);
    at96.setDotsPerMeterX(3780);
    at96.setDotsPerMeterY(3780);
    QStringList cut;
    for (int page = 0; page < 2; ++page) {
        window->findChild<QTabWidget*>()->setCurrentIndex(page);
        for (QLabel* label : window->findChildren<QLabel*>()) {
            if (!label->isVisible())
                continue;
            const qreal room = label->contentsRect().width();
            const bool wholeAt96 =
                QFontMetricsF(label->font(), &at96).horizontalAdvance(label->text()) <= room;
            const bool wholeHere = label->fontMetrics().horizontalAdvance(label->text()) <= room;
            if (wholeAt96 && !wholeHere)
                cut << label->text();
        }
    }
    QCOMPARE(cut, QStringList());
}

// The real program, so that its own start-up is what is tested.
void tst_Scaling::panelGrowsWithTheDisplay()
{
    if (QStandardPaths::findExecutable("xdotool").isEmpty())
        QSKIP("needs xdotool to find the panel's window");
    QProcess panel;
    panel.start(QCoreApplication::applicationDirPath() + "/ambulon", QStringList());
    QVERIFY(panel.waitForStarted());
    const auto xdotool = [](const QStringList& arguments) {
        QProcess p;
        p.start("xdotool", arguments);
        if (!p.waitForFinished(10000))
            p.kill();
        return QString::fromLatin1(p.readAllStandardOutput());
    };
    const QString id =
        xdotool({"search", "--sync", "--onlyvisible", "--pid", QString::number(panel.processId())})
            .section('\n', 0, 0);
    const QString geometry = xdotool({"getwindowgeometry", "--shell", id});
    panel.kill();
    panel.waitForFinished(5000);
    const auto value = [&](const char* name) {
        return QRegularExpression(QString("%1=(\\d+)").arg(name))
            .match(geometry)
            .captured(1)
            .toInt();
    };
    const QSize shown(value("WIDTH"), value("HEIGHT"));
    // The same window in layout units, times the display's scale.
    const QSize expected = window->size() * (dpi / 96.0);
    qInfo("at %d dpi the panel's window is %dx%d pixels", dpi, shown.width(), shown.height());
    QVERIFY2(
        qAbs(shown.width() - expected.width()) <= 1
            && qAbs(shown.height() - expected.height()) <= 1,
        qPrintable(QString("expected about %1x%2").arg(expected.width()).arg(expected.height())));
}

QTEST_MAIN(tst_Scaling)
#include "tst_scaling.moc"
