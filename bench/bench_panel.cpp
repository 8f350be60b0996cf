// Measures the panel against what the toolkit itself costs. Run by scripts/bench,
// never by the tests:
//   bench_panel startup N       building, showing and first painting, panel and bare window
//   bench_panel connect N       Connect to controls locked on loopback, per mode
//   bench_panel memory panel|bare [N]   peak resident memory after start-up; with N, growth
//                               after N Connects
//   bench_panel idle panel|bare up and painted, then idle until killed
//   bench_panel once panel|bare one start, first paint and quit, for a whole-process
//                               count of instructions (callgrind)
#include "panel.h"
#include "stress.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// Notes the first paint of the window's contents.
class PaintWatch : public QObject
{
public:
    bool painted = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

QMainWindow* bareWindow()
{
    auto* window = new QMainWindow();
    window->setCentralWidget(new QTabWidget());
    return window;
}

// Builds, shows and paints a window; returns how long that took, in microseconds.
qint64 startOnce(bool panel, QMainWindow** built = nullptr)
{
    PaintWatch watch;
    QElapsedTimer timer;
    timer.start();
    QMainWindow* window = panel ? new Ambulon() : bareWindow();
    window->centralWidget()->installEventFilter(&watch);
    window->show();
    while (!watch.painted)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const qint64 micros = timer.nsecsElapsed() / 1000;
    window->centralWidget()->removeEventFilter(&watch);
    if (built)
        *built = window;
    else
        delete window;
    return micros;
}

double percentile(std::vector<qint64> values, double p)
{
    std::sort(values.begin(), values.end());
    const auto index = std::min(values.size() - 1, size_t(p * double(values.size())));
    return double(values[index]);
}

// The panel's controls, as the tests find them; the bench stops when one is missing.
Panel controls(const Ambulon& window)
{
    const Panel panel(window);
    if (!panel.missing().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(panel.missing()));
        std::exit(1);
    }
    return panel;
}

// One Connect on a fresh panel; microseconds from the click to the controls locked.
qint64 connectOnce(Ambulon& window, const DroppingPeers& peers, const QString& mode)
{
    const Panel c = controls(window);
    const bool tcp = mode.endsWith("tcp");
    c.fill("127.0.0.1", QString::number(peers.port(tcp)), tcp ? "TCP" : "UDP",
           mode.startsWith("library"));
    QElapsedTimer timer;
    timer.start();
    c.connect->click();
    while (c.connect->isEnabled() && timer.elapsed() < 5000)
        QCoreApplication::processEvents();
    if (c.connect->isEnabled()) {
        std::fprintf(stderr, "%s: the controls did not lock\n", qPrintable(mode));
        std::exit(1);
    }
    return timer.nsecsElapsed() / 1000;
}

int startup(int rounds)
{
    std::vector<qint64> panel, bare;
    startOnce(true); // the first build loads fonts, styles and the library once for all
    startOnce(false);
    for (int i = 0; i < rounds; ++i) {
        bare.push_back(startOnce(false));
        panel.push_back(startOnce(true));
    }
    const double p = percentile(panel, 0.5), b = percentile(bare, 0.5);
    std::printf("startup: panel median %.0f us, bare window median %.0f us, ratio %.2f\n", p, b,
                p / b);
    return 0;
}

int connects(int rounds)
{
    const DroppingPeers peers;
    for (const QString mode : {"direct tcp", "direct udp", "library tcp", "library udp"}) {
        std::vector<qint64> times;
        for (int i = 0; i < rounds; ++i) {
            QMainWindow* window = nullptr;
            startOnce(true, &window); // shown and painted before the clock starts
            times.push_back(connectOnce(*static_cast<Ambulon*>(window), peers, mode));
            delete window;
        }
        std::printf("connect, %s: median %.0f us, p99 %.0f us over %d (target p99 < 5000 us)\n",
                    qPrintable(mode), percentile(times, 0.5), percentile(times, 0.99), rounds);
    }
    return 0;
}

int memory(bool panel, int rounds)
{
    QMainWindow* window = nullptr;
    startOnce(panel, &window);
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
    std::printf("memory, %s: peak resident %ld KiB after start-up\n", panel ? "panel" : "bare",
                long(processStatusKiB("VmHWM:")));
    if (panel && rounds > 0) {
        const DroppingPeers peers;
        auto* ambulon = static_cast<Ambulon*>(window);
        const Panel c = controls(*ambulon);
        const auto run = [&](int n) {
            for (int i = 0; i < n; ++i) {
                const bool tcp = i % 2 == 0;
                c.port->setPlainText(QString::number(peers.port(tcp)));
                (tcp ? c.tcp : c.udp)->setChecked(true);
                // The button is locked after the first success; the slot is not.
                QMetaObject::invokeMethod(ambulon, "onClickConnect");
                QCoreApplication::processEvents();
            }
            for (int i = 0; i < 20; ++i)
                QCoreApplication::processEvents();
        };
        c.host->setPlainText("127.0.0.1");
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) { });
        run(50);
        const qint64 rss = processStatusKiB("VmRSS:");
        const qint64 heap = heapInUse();
        run(rounds);
        std::printf("memory, panel: after %d more Connects resident %+lld KiB, heap in use %+lld "
                    "bytes\n",
                    rounds, static_cast<long long>(processStatusKiB("VmRSS:") - rss),
                    static_cast<long long>(heapInUse() - heap));
    }
    delete window;
    return 0;
}

int idle(bool panel)
{
    QMainWindow* window = nullptr;
    startOnce(panel, &window);
    std::printf("ready\n");
    std::fflush(stdout);
    const int status = QApplication::exec();
    delete window;
    return status;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString what = args.value(1);
    if (what == "startup")
        return startup(args.value(2, "200").toInt());
    if (what == "connect")
        return connects(args.value(2, "1000").toInt());
    if (what == "memory")
        return memory(args.value(2) == "panel", args.value(3, "0").toInt());
    if (what == "idle")
        return idle(args.value(2) == "panel");
    if (what == "once") {
        startOnce(args.value(2) == "panel");
        return 0;
    }
    std::fprintf(stderr, "usage: bench_panel startup|connect|memory|idle|once ...\n");
    return 2;
}
