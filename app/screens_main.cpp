// keepframe-screens OUT: starts the desktop program headless on a generated
// demo shoot, culls it, and saves a PNG of each state of the Cull page to OUT.
// It uses the models next to it when built, else $KEEPFRAME_MODELS.
#include "desktop_app.h"
#include "engine_controller.h"
#include "memory_tuning.h"
#include "selection_model.h"
#include "shoot.h"
#include "ui_driver.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QUrl>

#include <cstdio>

using namespace keepframe;

namespace {

bool save(QQuickWindow* window, const QString& folder, const QString& name) {
    uidriver::waitFor([&] { return uidriver::imagesSettled(window); }, 20000);
    uidriver::settle(window);
    uidriver::settle(window);
    const QImage image = window->grabWindow();
    const QString file = folder + "/" + name + ".png";
    if (image.isNull() || !image.save(file)) {
        std::fprintf(stderr, "keepframe-screens: cannot write %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

QObject* need(QQuickWindow* window, const char* name) {
    QObject* o = uidriver::findObject(window, QString::fromLatin1(name));
    if (!o) std::fprintf(stderr, "keepframe-screens: no %s in the window\n", name);
    return o;
}

// The kept frame with the most faces, for the viewer's face row.
int frameWithMostFaces(const QVariantList& list) {
    int best = 0, faces = -1;
    for (int i = 0; i < list.size(); ++i) {
        const int n = int(list[i].toMap()["faceBoxes"].toList().size());
        if (n > faces) {
            faces = n;
            best = i;
        }
    }
    return best;
}

int run(const QString& out) {
    QTemporaryDir work;
    qputenv("KEEPFRAME_DATA_DIR", (work.path() + "/library").toUtf8());
    qputenv("KEEPFRAME_DELIVERY_URL", "http://127.0.0.1:9");
    const QString shoot = work.path() + "/Lantern Wedding";
    shootgen::ShootOptions options;
    options.count = 16;
    options.width = 2400;
    options.height = 1600;
    options.sourceFolder = KEEPFRAME_TEST_PHOTOS_DIR;
    shootgen::generateShoot(shoot.toStdString(), options);

    DesktopApp app(QCoreApplication::applicationDirPath());
    if (!app.loadMainWindow()) return 1;
    QQuickWindow* window = app.window();
    QObject* main = need(window, "mainWindow");
    QObject* cull = need(window, "cullPage");
    if (!main || !cull) return 1;
    QDir().mkpath(out);

    main->setProperty("activePage", "cull");
    if (!save(window, out, "01-cull-empty")) return 1;

    uidriver::call(main, "startCullIn", {QUrl::fromLocalFile(shoot).toString()});
    uidriver::waitFor([&] { return main->property("progressValue").toDouble() >= 0.3 || !app.engine().running(); },
                      120000);
    if (!save(window, out, "02-cull-running")) return 1;
    if (!uidriver::waitFor([&] { return !app.engine().running(); }, 600000)) return 1;
    if (!uidriver::waitFor([&] { return app.selection().hasData(); }, 5000)) {
        std::fprintf(stderr, "keepframe-screens: the cull gave no result (%s)\n",
                     qPrintable(main->property("statusText").toString()));
        return 1;
    }
    if (!save(window, out, "03-results-time")) return 1;
    uidriver::call(cull, "setViewMode", {"category"});
    if (!save(window, out, "04-results-category")) return 1;

    const QVariantList list = app.selection().flatViewByCategory();
    const QString faces = list.value(frameWithMostFaces(list)).toMap()["filename"].toString();
    uidriver::call(cull, "openViewer", {faces});
    if (!save(window, out, "05-lightbox")) return 1;
    if (QObject* box = need(window, "lightbox")) uidriver::call(box, "close");

    QString category;
    int cluster = -1;
    for (const QVariant& v : list) {
        const QVariantMap item = v.toMap();
        if (item["clusterImageCount"].toInt() > 1) {
            category = item["category"].toString();
            cluster = item["clusterSize"].toInt();
            break;
        }
    }
    QObject* popup = need(window, "clusterPopup");
    if (!popup) return 1;
    uidriver::call(popup, "openForCluster", {category, cluster});
    if (!save(window, out, "06-cluster-popup")) return 1;
    uidriver::call(popup, "close");
    uidriver::call(cull, "openForReview");
    if (!save(window, out, "07-for-review")) return 1;
    uidriver::call(popup, "close");

    uidriver::call(cull, "exportFinalTo", {QUrl::fromLocalFile(work.path() + "/export").toString()});
    return save(window, out, "08-export-result") ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: keepframe-screens OUT\n");
        return 2;
    }
    keepLargeAllocationsMapped();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    QGuiApplication app(argc, argv);
    return run(QDir(QString::fromLocal8Bit(argv[1])).absolutePath());
}
