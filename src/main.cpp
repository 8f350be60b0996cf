#include "Ambulon.h"

#include <QApplication>
#include <QScopedPointer>

int main(int argc, char* argv[])
{
    // The window gives most controls fixed pixel sizes. Without Qt's own scaling a
    // high-density display enlarges the text but not the controls, which cut it.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)
    // 150% stays 150%: rounding would make it 200% (too large) or 100% (cut
    // text again). Text is drawn at the display's own resolution, so a
    // fractional factor does not blur it.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
#endif
    QScopedPointer<QApplication> app(new QApplication(argc, argv));
    // Declared after the application so that it is destroyed first.
    QScopedPointer<Ambulon> window(new Ambulon());
    window->show();
    return app->exec();
}
