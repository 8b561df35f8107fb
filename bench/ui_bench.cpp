// keepframe-ui-bench: the desktop window on a stored 5,000-image project,
// headless: the time from opening the project to the first drawn frame of the
// grid, the longest stall of the GUI thread while scrolling from top to
// bottom, and the peak memory of the process.
#include "desktop_app.h"
#include "memory_tuning.h"
#include "project_store.h"
#include "selection_model.h"
#include "ui_driver.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTimer>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>

using namespace keepframe;

namespace {

int storeLargeProject(const QString& folder) {
    cv::Mat thumb(213, 320, CV_8UC3);
    cv::randu(thumb, 0, 255);
    cv::GaussianBlur(thumb, thumb, cv::Size(31, 31), 0);
    std::vector<uint8_t> jpeg;
    cv::imencode(".jpg", thumb, jpeg);
    CullResult result;
    const char* folders[] = {"ceremony", "reception", "portraits", ""};
    for (int i = 0; i < 5000; ++i) {
        ResultImage r;
        const std::string sub = folders[i % 4];
        r.filename = (sub.empty() ? "" : sub + "/") + "DSC_" + std::to_string(10000 + i) + ".jpg";
        r.path = folder.toStdString() + "/" + r.filename;
        r.category = i % 3 == 0 ? "venue" : i % 3 == 1 ? "portrait" : "group";
        r.clusterNumber = 1 + i / 6;
        r.engineSelected = i % 3 != 2;  // two thirds kept: a dense grid
        r.isPrimary = i % 6 == 0;
        r.fullW = 6000;
        r.fullH = 4000;
        r.captureTime = "2024:06:15 " + std::to_string(10 + i / 600) + ":" + std::to_string(10 + (i / 10) % 50) +
                        ":" + std::to_string(10 + i % 10);
        for (int f = 0; f < i % 4; ++f) r.faceBoxes.push_back({400 * f, 800, 300, 300});
        r.thumbnailJpeg = jpeg;
        result.images.push_back(std::move(r));
    }
    result.totalInput = 5000;
    ProjectStore store;
    store.openRegistry();
    return store.saveCullResult(result, folder, QStringLiteral("Bench"), 1);
}

// Peak resident memory in MB (Linux), or -1.
double peakMegabytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    keepLargeAllocationsMapped();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    QGuiApplication qapp(argc, argv);
    QTemporaryDir work;
    qputenv("KEEPFRAME_DATA_DIR", (work.path() + "/library").toUtf8());
    qputenv("KEEPFRAME_DELIVERY_URL", "http://127.0.0.1:9");
    const QString shoot = work.path() + "/shoot";
    const int id = storeLargeProject(shoot);
    if (id < 0) return 1;

    DesktopApp app(QCoreApplication::applicationDirPath());
    if (!app.loadMainWindow()) return 1;
    QQuickWindow* window = app.window();
    uidriver::settle(window);
    QObject* home = uidriver::findObject(window, QStringLiteral("homePage"));
    QObject* rows = uidriver::findObject(window, QStringLiteral("reviewRows"));
    QObject* results = uidriver::findObject(window, QStringLiteral("results"));
    if (!home || !rows || !results) return 1;

    // Opening to the first drawn frame that shows the grid.
    bool gridDrawn = false;
    QElapsedTimer clock;
    QObject::connect(window, &QQuickWindow::frameSwapped, window, [&] {
        if (!gridDrawn && rows->property("count").toInt() > 0) gridDrawn = true;
    });
    clock.start();
    QMetaObject::invokeMethod(home, "projectOpened", Q_ARG(int, id), Q_ARG(QString, "Bench"), Q_ARG(QString, shoot));
    uidriver::waitFor([&] { return gridDrawn; }, 30000);
    const double firstFrame = clock.elapsed();
    uidriver::waitFor([&] { return uidriver::imagesSettled(window); }, 30000);

    // Scrolling: a PageDown every 30 ms; a 5 ms ticker measures the longest
    // time the GUI thread did not get to it.
    qint64 longest = 0, last = 0;
    int pages = 0;
    QElapsedTimer ticks;
    ticks.start();
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longest = std::max(longest, ticks.elapsed() - last);
        last = ticks.elapsed();
    });
    QTimer pager;
    QObject::connect(&pager, &QTimer::timeout, [&] {
        uidriver::key(window, Qt::Key_PageDown);
        ++pages;
    });
    window->requestActivate();
    QMetaObject::invokeMethod(uidriver::findObject(window, QStringLiteral("cullPage")), "focusResults");
    ticker.start(5);
    pager.start(30);
    last = ticks.elapsed();
    uidriver::waitFor([&] { return results->property("atYEnd").toBool(); }, 300000);
    pager.stop();
    ticker.stop();

    std::printf("ui: 5,000-image project, %d kept, %d grid rows\n", app.selection().keptCount(),
                rows->property("count").toInt());
    std::printf("  open to first grid frame: %7.0f ms (aim: under 1500 ms)\n", firstFrame);
    std::printf("  scroll top to bottom:     %7d pages, longest GUI stall %lld ms (aim: under 100 ms)\n", pages,
                static_cast<long long>(longest));
    std::printf("  peak memory:              %7.0f MB (aim: under 600 MB)\n", peakMegabytes());
    return 0;
}
