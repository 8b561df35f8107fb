// keepframe-screens OUT: starts the desktop program headless on a generated
// demo shoot (with a few damaged files), culls it, and saves a PNG of each
// state of the Home, Cull (with its viewer, cluster popup and compare view),
// Enhance, Deliver, About and Account pages to OUT (the Deliver page talks to
// the stand-in delivery service on this machine). It uses the models next to it when built, else
// $KEEPFRAME_MODELS.
#include "desktop_app.h"
#include "engine_controller.h"
#include "enhance_grid_model.h"
#include "memory_tuning.h"
#include "page_screens.h"
#include "people_model.h"
#include "project_store.h"
#include "records.h"
#include "selection_model.h"
#include "shoot.h"
#include "ui_driver.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <string>

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

// The open viewer at 100 % on its largest face with the information panel,
// then the list of keys over it; the viewer is closed afterwards.
bool viewerScreens(QQuickWindow* window, const QString& out) {
    QObject* box = need(window, "lightbox");
    auto* pane = qobject_cast<QQuickItem*>(need(window, "lightboxPane"));
    QObject* keys = need(window, "shortcutsOverlay");
    if (!box || !pane || !keys) return false;
    uidriver::waitFor([&] { return pane->property("loaded").toBool(); }, 20000);
    box->setProperty("showInfo", true);
    uidriver::call(pane, "focusFaces");
    uidriver::waitFor([&] { return !pane->property("wantsFull").toBool() || pane->property("sharp").toBool(); },
                      20000);
    QObject* info = need(window, "lightboxInfo");
    uidriver::waitFor([&] { return info && info->property("rows").toList().size() > 9; }, 10000);
    if (!save(window, out, "07a-lightbox-face-info")) return false;
    uidriver::call(keys, "open");
    if (!save(window, out, "07b-keys")) return false;
    uidriver::call(keys, "close");
    box->setProperty("showInfo", false);
    uidriver::call(box, "close");
    return true;
}

// The people strip above the grid, with the person in most frames named and
// the first two checked for a merge.
bool peopleScreens(QQuickWindow* window, const QString& out) {
    auto* people = qobject_cast<PeopleModel*>(need(window, "peopleModel"));
    if (!people) return false;
    uidriver::waitFor([&] { return !people->loading(); }, 10000);
    if (people->count() > 0) {
        const int first = people->data(people->index(0), PeopleModel::PersonIdRole).toInt();
        people->rename(first, QStringLiteral("Anna"));
        uidriver::waitFor([&] { return people->displayNameOf(first) == "Anna"; }, 10000);
        people->toggleChecked(first);
        if (people->count() > 1)
            people->toggleChecked(people->data(people->index(1), PeopleModel::PersonIdRole).toInt());
    }
    if (!save(window, out, "06a-people-strip")) return false;
    people->clearChecked();
    return true;
}

// The compare view on the moment of the kept frame with the most faces (of
// those whose moment has more than one): at fit, then at 100 % on the faces.
bool compareScreens(QQuickWindow* window, const QVariantList& list, const QString& out) {
    QVariantList shared;
    for (const QVariant& v : list)
        if (v.toMap()["clusterImageCount"].toInt() > 1) shared << v;
    QObject* compare = need(window, "compareView");
    auto* left = qobject_cast<QQuickItem*>(need(window, "compareLeftPane"));
    auto* right = qobject_cast<QQuickItem*>(need(window, "compareRightPane"));
    if (!compare || !left || !right || shared.isEmpty()) return false;
    const int id = shared.value(frameWithMostFaces(shared)).toMap()["id"].toInt();
    if (!uidriver::call(compare, "openFor", {id, "cluster"}).toBool()) return false;
    const auto loaded = [&] {
        return left->property("loaded").toBool() && right->property("loaded").toBool();
    };
    uidriver::waitFor(loaded, 20000);
    if (!save(window, out, "08a-compare-fit")) return false;
    uidriver::call(compare, "focusFaces", {false});
    // The full-resolution frames are drawn only once read.
    const auto sharp = [](QQuickItem* pane) {
        return !pane->property("wantsFull").toBool() || pane->property("sharp").toBool();
    };
    uidriver::waitFor([&] { return sharp(left) && sharp(right); }, 20000);
    if (!save(window, out, "08b-compare-faces")) return false;
    compare->setProperty("showInfo", true);
    // The measures are read in the background.
    QObject* info = need(window, "compareInfoRight");
    uidriver::waitFor([&] { return info && info->property("rows").toList().size() > 9; }, 10000);
    if (!save(window, out, "08c-compare-info")) return false;
    compare->setProperty("showInfo", false);
    uidriver::call(compare, "close");
    return true;
}

// A few more projects from the same photographs, so that Home shows a
// library: with covers, one without, and one name too long for its card.
void addLibraryProjects(ProjectStore& store, const QString& shoot) {
    QStringList files;
    for (QDirIterator it(shoot, {"*.jpg"}, QDir::Files); it.hasNext();) files << it.next();
    files.sort();
    const char* const names[] = {"Harbor Engagement", "Okafor & Lind Wedding", "Spring Portraits — Studio B",
                                 "Garden Party at the Old Mill, Saturday Afternoon and Evening", "Headshots"};
    int n = 0;
    for (const char* name : names) {
        CullResult result;
        for (int i = 0; i < files.size(); ++i) {
            if ((i + n) % 3 == 0) continue;  // a different set of frames in each project
            ResultImage r;
            r.path = files[i].toStdString();
            r.filename = QDir(shoot).relativeFilePath(files[i]).toStdString();
            r.category = i % 2 ? Category::Portrait : Category::Venue;
            r.clusterNumber = 1 + i / 3;
            r.engineSelected = i % 4 != 0;
            r.isPrimary = r.engineSelected;
            const QImage photo(files[i]);
            if (photo.isNull()) continue;  // the damaged files of the demo shoot
            r.fullW = photo.width();
            r.fullH = photo.height();
            const QImage thumb = photo.scaledToWidth(320, Qt::SmoothTransformation);
            QBuffer jpeg;
            jpeg.open(QIODevice::WriteOnly);
            thumb.save(&jpeg, "JPG", 85);
            r.thumbnailJpeg.assign(jpeg.data().begin(), jpeg.data().end());
            result.totalSelected += r.engineSelected ? 1 : 0;
            result.images.push_back(std::move(r));
        }
        result.totalInput = int32_t(result.images.size());
        result.primaryCount = result.totalSelected;
        result.coverIndex = n == 4 ? -1 : n;
        store.saveCullResult(result, shoot, QString::fromUtf8(name), 40 + n);
        ++n;
    }
}

// What a card reader and an editor leave behind: a frame cut short, a file
// that is no image, and a sidecar the XMP writer cannot read.
bool addOddFiles(const QString& shoot) {
    QFile last(shoot + "/DSC_0016.jpg");
    if (!last.open(QIODevice::ReadOnly)) return false;
    const QByteArray jpeg = last.readAll();
    const auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile file(shoot + "/" + name);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
    };
    QByteArray noise(4000, '\0');
    for (int i = 0; i < noise.size(); ++i) noise[i] = char((i * 7919 + 13) % 251);
    return write("DSC_0017.jpg", jpeg.left(jpeg.size() * 7 / 10)) && write("IMG_0001.jpg", noise) &&
           write("DSC_0003.xmp", "<x:xmpmeta broken");
}

// The XMP dialog, its result and the list of files the cull left out.
bool handoverScreens(QQuickWindow* window, QObject* cull, const QString& out) {
    QObject* dialog = need(window, "xmpDialog");
    if (!dialog) return false;
    uidriver::call(dialog, "open");
    if (!save(window, out, "11-xmp-dialog")) return false;
    uidriver::call(dialog, "start", {false});
    QObject* result = need(window, "xmpResultDialog");
    if (!result || !uidriver::waitFor([&] { return result->property("opened").toBool(); }, 120000)) return false;
    if (!save(window, out, "12-xmp-result")) return false;
    uidriver::call(result, "close");
    uidriver::call(cull, "showLeftOut");
    if (!save(window, out, "13-skipped-files")) return false;
    if (QObject* leftOut = need(window, "leftOutDialog")) uidriver::call(leftOut, "close");
    return true;
}

// The export's folder dialog with its New Folder button and prompt, and a
// running export (its progress row as it shows halfway through a shoot).
bool exportScreens(QQuickWindow* window, QObject* cull, const QString& out) {
    QObject* dialog = need(window, "exportFolderDialog");
    if (!dialog) return false;
    uidriver::call(cull, "startExport");
    uidriver::waitFor([&] { return dialog->property("visible").toBool(); }, 5000);
    if (!save(window, out, "10a-export-folder")) return false;
    auto* prompt = dialog->property("newFolderPrompt").value<QObject*>();
    if (!prompt) return false;
    uidriver::call(prompt, "open");
    if (!save(window, out, "10b-export-new-folder")) return false;
    uidriver::call(prompt, "close");
    uidriver::call(dialog, "close");
    cull->setProperty("exportTotal", 16);
    cull->setProperty("exportDone", 7);
    cull->setProperty("exporting", true);
    const bool saved = save(window, out, "10c-export-running");
    cull->setProperty("exporting", false);
    return saved;
}

// Corrects frames `from` to `to` (exclusive) at one level on the Enhance page
// and waits for the batch to end.
bool enhanceRange(QObject* page, EnhanceGridModel* cells, int from, int to, bool plus) {
    cells->setAllChecked(false);
    for (int row = from; row < to; ++row) cells->setChecked(row, true);
    uidriver::call(page, "enhanceClicked", {plus});
    return uidriver::waitFor([&] { return page->property("runningLevel").toString().isEmpty(); }, 300000);
}

// The Enhance page of the culled project: the grid with corrections at both
// levels, a running batch, and the before/after viewer.
bool enhanceScreens(DesktopApp& app, QQuickWindow* window, const QString& out) {
    QObject* main = need(window, "mainWindow");
    main->setProperty("activePage", "edit");
    QObject* page = need(window, "editPage");
    auto* cells = qobject_cast<EnhanceGridModel*>(need(window, "enhanceCells"));
    if (!page || !cells || cells->count() < 2) return false;
    const int half = std::min(3, cells->count() / 2);
    if (!enhanceRange(page, cells, 0, half, true) || !enhanceRange(page, cells, half, 2 * half, false)) return false;
    cells->setAllChecked(true);
    cells->setChecked(1, false);  // an unchecked frame shows its original
    if (!save(window, out, "15-enhance-grid")) return false;

    uidriver::call(page, "enhanceClicked", {true});
    uidriver::waitFor([&] { return app.selection().enhanceProgressDone() >= 1 || !app.selection().enhanceIsRunning(); },
                      120000);
    uidriver::waitFor([&] { return page->property("progressDone").toInt() >= 1; }, 2000);
    if (!save(window, out, "16-enhance-running")) return false;
    uidriver::call(page, "enhanceClicked", {true});  // Cancel
    if (!uidriver::waitFor([&] { return page->property("runningLevel").toString().isEmpty(); }, 300000)) return false;
    if (QObject* failures = need(window, "enhanceFailureDialog")) uidriver::call(failures, "close");

    uidriver::call(page, "openViewer", {0});
    if (!save(window, out, "17-enhance-viewer")) return false;
    if (QObject* viewer = need(window, "beforeAfterViewer")) uidriver::call(viewer, "close");
    return true;
}

// Stars and colour labels on the grid, then a filter nothing passes; both
// taken back afterwards so that the later screens show the cull as it was.
bool marksScreens(SelectionModel& selection, QQuickWindow* window, const QString& out) {
    QStringList kept;
    for (const QVariant& v : selection.flatView()) kept << v.toMap()["filename"].toString();
    if (kept.size() < 4) return false;
    const int steps = int(selection.pressDigit(kept.mid(0, 3), 4)) + int(selection.pressDigit({kept[0]}, 5)) +
                      int(selection.pressDigit({kept[1], kept[3]}, 6)) + int(selection.pressDigit({kept[2]}, 9));
    if (!save(window, out, "09a-marks-grid")) return false;
    selection.setFilter({{"minRating", 5}, {"labels", QStringList{"yellow"}}});
    if (!save(window, out, "09b-filter-empty")) return false;
    selection.clearFilter();
    for (int i = 0; i < steps; ++i) selection.undo();
    return true;
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
    if (!addOddFiles(shoot)) return 1;

    DesktopApp app(QCoreApplication::applicationDirPath());
    if (!app.loadMainWindow()) return 1;
    QQuickWindow* window = app.window();
    QObject* main = need(window, "mainWindow");
    QObject* cull = need(window, "cullPage");
    if (!main || !cull) return 1;
    QDir().mkpath(out);

    if (!save(window, out, "01-home-empty")) return 1;
    main->setProperty("activePage", "edit");
    if (!save(window, out, "02-enhance-empty")) return 1;
    main->setProperty("activePage", "cull");
    if (!save(window, out, "03-cull-empty")) return 1;

    uidriver::call(main, "startCullIn", {QUrl::fromLocalFile(shoot).toString()});
    uidriver::waitFor([&] { return main->property("progressValue").toDouble() >= 0.3 || !app.engine().running(); },
                      120000);
    if (!save(window, out, "04-cull-running")) return 1;
    if (!uidriver::waitFor([&] { return !app.engine().running(); }, 600000)) return 1;
    if (!uidriver::waitFor([&] { return app.selection().hasData(); }, 5000)) {
        std::fprintf(stderr, "keepframe-screens: the cull gave no result (%s)\n",
                     qPrintable(main->property("statusText").toString()));
        return 1;
    }
    if (!save(window, out, "05-results-time")) return 1;
    uidriver::call(cull, "setViewMode", {"category"});
    if (!save(window, out, "06-results-category")) return 1;
    if (!peopleScreens(window, out)) return 1;

    const QVariantList list = app.selection().flatViewByCategory();
    const QString faces = list.value(frameWithMostFaces(list)).toMap()["filename"].toString();
    uidriver::call(cull, "openViewer", {faces});
    if (QObject* pane = need(window, "lightboxPane"))
        uidriver::waitFor([&] { return pane->property("loaded").toBool(); }, 20000);
    if (!save(window, out, "07-lightbox")) return 1;
    if (!viewerScreens(window, out)) return 1;

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
    if (!save(window, out, "08-cluster-popup")) return 1;
    if (!compareScreens(window, list, out)) return 1;
    uidriver::call(popup, "close");
    uidriver::call(cull, "openForReview");
    if (!save(window, out, "09-for-review")) return 1;
    uidriver::call(popup, "close");
    if (!marksScreens(app.selection(), window, out)) return 1;

    if (!exportScreens(window, cull, out)) return 1;
    uidriver::call(cull, "exportFinalTo", {QUrl::fromLocalFile(work.path() + "/export").toString()});
    if (QObject* box = need(window, "exportResultDialog"))
        uidriver::waitFor([&] { return box->property("opened").toBool(); }, 60000);
    if (!save(window, out, "10-export-result")) return 1;
    if (QObject* box = need(window, "exportResultDialog")) uidriver::call(box, "close");
    if (!handoverScreens(window, cull, out)) return 1;

    addLibraryProjects(app.store(), shoot);
    main->setProperty("activePage", "home");
    if (!save(window, out, "14-home-projects")) return 1;
    if (!enhanceScreens(app, window, out)) return 1;
    const auto savePage = [&](const QString& name) { return save(window, out, name); };
    return savePageScreens(app, window, work.path() + "/pages", savePage) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* const usage = "usage: keepframe-screens OUT\n  Saves a PNG of every screen of the desktop program "
                              "into OUT, made headless on a generated demo shoot.";
    const std::string first = argc > 1 ? argv[1] : "";
    if (first == "--help" || first == "-h") {
        std::printf("%s\n", usage);
        return 0;
    }
    if (argc != 2 || first.empty() || first[0] == '-') {
        std::fprintf(stderr, "%s\n", usage);
        return 2;
    }
    keepLargeAllocationsMapped();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    QGuiApplication app(argc, argv);
    // The folder as Qt read it: on Windows from the wide command line.
    return run(QDir(QCoreApplication::arguments().value(1)).absolutePath());
}
