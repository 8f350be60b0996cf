// Prints where an operator clicks in the panel's window, one "name x y" line
// each, so that the end-to-end test can drive a panel built for Windows. Runs
// beside the unpacked panel, on the DLLs shipped with it.
#include "panel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWindow>

#include <cstdio>

int main(int argc, char* argv[])
{
    enableDisplayScaling();
    QApplication app(argc, argv);
    Ambulon window;
    window.show();
    QElapsedTimer timer;
    timer.start();
    while (!window.windowHandle()->isExposed() && timer.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    if (!window.windowHandle()->isExposed())
        return 1;
    const QHash<QString, QPoint> at = controlPositions(window);
    for (auto i = at.cbegin(); i != at.cend(); ++i)
        std::printf("%s %d %d\n", qPrintable(i.key()), i.value().x(), i.value().y());
    return 0;
}
