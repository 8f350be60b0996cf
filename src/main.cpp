#include "Ambulon.h"

#include <QApplication>
#include <QScopedPointer>

int main(int argc, char* argv[])
{
    enableDisplayScaling();
    QScopedPointer<QApplication> app(new QApplication(argc, argv));
    // Declared after the application so that it is destroyed first.
    QScopedPointer<Ambulon> window(new Ambulon());
    window->show();
    return app->exec();
}
