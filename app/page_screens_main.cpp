// keepframe-page-screens OUT: starts the desktop program headless and saves a
// PNG of each state of the Deliver, About and Account pages to OUT.
#include "desktop_app.h"
#include "page_screens.h"
#include "ui_driver.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QQuickWindow>
#include <QTemporaryDir>

#include <cstdio>

using namespace keepframe;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: keepframe-page-screens OUT\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    QGuiApplication application(argc, argv);
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(out);
    QTemporaryDir work;
    qputenv("KEEPFRAME_DATA_DIR", (work.path() + "/library").toUtf8());
    qputenv("TMPDIR", work.path().toUtf8());
    qunsetenv("KEEPFRAME_DELIVERY_URL");
    qunsetenv("KEEPFRAME_DELIVERY_TOKEN");

    DesktopApp app(QCoreApplication::applicationDirPath());
    if (!app.loadMainWindow()) return 1;
    QQuickWindow* window = app.window();
    const auto save = [&](const QString& name) {
        uidriver::waitFor([&] { return uidriver::imagesSettled(window); }, 20000);
        uidriver::settle(window);
        uidriver::settle(window);
        const QString file = out + "/" + name + ".png";
        if (!window->grabWindow().save(file)) {
            std::fprintf(stderr, "keepframe-page-screens: cannot write %s\n", qPrintable(file));
            return false;
        }
        std::printf("%s\n", qPrintable(file));
        return true;
    };
    return savePageScreens(app, window, work.path() + "/screens", save) ? 0 : 1;
}
