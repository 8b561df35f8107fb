// keepframe: the desktop program.
#include "desktop_app.h"
#include "memory_tuning.h"

#include <QGuiApplication>

int main(int argc, char** argv) {
    keepframe::keepLargeAllocationsMapped();
    QGuiApplication app(argc, argv);
    keepframe::DesktopApp desktop(QCoreApplication::applicationDirPath());
    if (!desktop.loadMainWindow()) return -1;
    return app.exec();
}
