// Measures the panel against what the toolkit itself costs. Run by scripts/bench,
// never by the tests:
//   bench_panel startup N       building, showing and first painting, panel and bare window
//   bench_panel connect N       Connect to controls locked on loopback, per mode
//   bench_panel memory panel|bare [N]   peak resident memory after start-up; with N, growth
//                               after N Connects
//   bench_panel idle panel|bare up and painted, then idle until killed
//   bench_panel once panel|bare one start, first paint and quit, for a whole-process
//                               count of instructions (callgrind)
#include "Ambulon.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
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

long statusField(const char* name)
{
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(name))
            return line.mid(int(qstrlen(name))).trimmed().split(' ').value(0).toLong();
    return -1;
}

// The panel's controls, found by their labels and texts.
struct Controls
{
    explicit Controls(QWidget* w)
    {
        for (auto* b : w->findChildren<QPushButton*>())
            if (b->text() == "Connect")
                connect = b;
        const auto edits = w->findChildren<QPlainTextEdit*>();
        host = edits.value(0);
        port = edits.value(1);
        const auto radios = w->findChildren<QRadioButton*>();
        tcp = radios.value(0);
        udp = radios.value(1);
        library = w->findChild<QCheckBox*>();
    }
    QPushButton* connect = nullptr;
    QPlainTextEdit* host = nullptr;
    QPlainTextEdit* port = nullptr;
    QRadioButton* tcp = nullptr;
    QRadioButton* udp = nullptr;
    QCheckBox* library = nullptr;
};

struct Peers
{
    Peers()
    {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* peer = server.nextPendingConnection()) {
                peer->abort();
                peer->deleteLater();
            }
        });
        udp.bind(QHostAddress(QHostAddress::LocalHost), 0);
    }
    QTcpServer server;
    QUdpSocket udp;
};

// One Connect on a fresh panel; microseconds from the click to the controls locked.
qint64 connectOnce(Ambulon& window, const Peers& peers, const QString& mode)
{
    const Controls c(&window);
    const bool tcp = mode.endsWith("tcp");
    c.host->setPlainText("127.0.0.1");
    c.port->setPlainText(QString::number(tcp ? peers.server.serverPort() : peers.udp.localPort()));
    (tcp ? c.tcp : c.udp)->setChecked(true);
    c.library->setChecked(mode.startsWith("library"));
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
    std::printf("startup: panel median %.0f us, bare window median %.0f us, ratio %.2f "
                "(target <= 1.15)\n",
                p, b, p / b);
    return 0;
}

int connects(int rounds)
{
    Peers peers;
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
                statusField("VmHWM:"));
    if (panel && rounds > 0) {
        Peers peers;
        auto* ambulon = static_cast<Ambulon*>(window);
        const auto run = [&](int n) {
            const Controls c(ambulon);
            for (int i = 0; i < n; ++i) {
                const bool tcp = i % 2 == 0;
                c.port->setPlainText(
                    QString::number(tcp ? peers.server.serverPort() : peers.udp.localPort()));
                (tcp ? c.tcp : c.udp)->setChecked(true);
                // The button is locked after the first success; the slot is not.
                QMetaObject::invokeMethod(ambulon, "onClickConnect");
                QCoreApplication::processEvents();
            }
            for (int i = 0; i < 20; ++i)
                QCoreApplication::processEvents();
        };
        Controls(ambulon).host->setPlainText("127.0.0.1");
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) { });
        run(50);
        const long rss = statusField("VmRSS:");
        const size_t heap = mallinfo2().uordblks;
        run(rounds);
        std::printf("memory, panel: after %d more Connects resident %+ld KiB, heap in use %+lld "
                    "bytes\n",
                    rounds, statusField("VmRSS:") - rss,
                    static_cast<long long>(mallinfo2().uordblks) - static_cast<long long>(heap));
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
