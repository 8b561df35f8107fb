#include "ui_fixture.h"

#include "exif_writer.h"
#include "frames.h"
#include "records.h"

#include <QTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace keepframe::testing {

std::vector<ProjectFrame> standardFrames() {
    const FaceBox a{300, 200, 160, 160}, b{700, 260, 140, 140};
    return {
        {"DSC_0001.jpg", "portrait", 1, true, true, {a, b}},
        {"DSC_0002.jpg", "portrait", 1, true, false, {a}},
        {"DSC_0003.jpg", "portrait", 1, false, false, {a}},
        {"DSC_0004.jpg", "venue", 2, true, true, {}},
        {"ceremony/DSC_0005.jpg", "group", 3, false, false, {a, b}},
        {"ceremony/DSC_0006.jpg", "group", 3, false, false, {a, b}},
        {"ceremony/DSC_0007.jpg", "portrait", 4, true, true, {a}},
        {"ceremony/DSC_0008.jpg", "portrait", 4, false, false, {a}},
        {"reception/DSC_0009.jpg", "portrait", 5, true, true, {b}},
        {"reception/DSC_0010.jpg", "portrait", 5, true, false, {b}},
        {"reception/DSC_0011.jpg", "portrait", 5, false, false, {b}},
        {"reception/DSC_0012.jpg", "venue", 6, false, false, {}},
    };
}

int storeProject(const QString& folder, const std::vector<ProjectFrame>& frames, const QString& name,
                 int coverIndex) {
    CullResult result;
    int n = 0;
    for (const ProjectFrame& f : frames) {
        ++n;
        cv::Mat image(f.height, f.width, CV_8UC3);
        for (int y = 0; y < image.rows; ++y)
            image.row(y).setTo(cv::Scalar(40 + (n * 37) % 150, 60 + y / 8, 90 + (n * 53) % 120));
        for (const FaceBox& face : f.faces)
            cv::rectangle(image, cv::Rect(face[0], face[1], face[2], face[3]), cv::Scalar(120, 160, 215), cv::FILLED);
        const std::string path = folder.toStdString() + "/" + f.filename;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        if (f.orientation == 1) {
            if (!cv::imwrite(path, image)) return -1;
        } else {
            // Stored as the camera leaves it: turned back, with the tag that turns it upright.
            cv::Mat stored;
            cv::rotate(image, stored, f.orientation == 6   ? cv::ROTATE_90_COUNTERCLOCKWISE
                                      : f.orientation == 8 ? cv::ROTATE_90_CLOCKWISE
                                                           : cv::ROTATE_180);
            shootgen::ExifFields exif;
            exif.orientation = f.orientation;
            if (!shootgen::writeJpeg(path, stored, exif)) return -1;
        }
        ResultImage r = resultRow(folder.toStdString(), f.filename, *categoryOf(f.category), f.cluster, f.selected,
                                  f.primary);
        r.fullW = f.width;
        r.fullH = f.height;
        r.orientation = f.orientation;
        r.eyeSharpness = f.eyeSharpness;
        r.captureTime = "2024:06:15 14:00:" + std::to_string(10 + n);
        r.score = 0.5f + 0.01f * float(n);
        r.reason = f.selected ? "best_in_cluster" : "not_best";
        r.faceBoxes = f.faces;
        for (size_t i = 0; i < f.faces.size(); ++i) {
            r.faceConfidences.push_back(0.95f);
            r.facePersons.push_back(int32_t(i));
        }
        r.detectionCount = int32_t(f.faces.size());
        cv::Mat thumb;
        cv::resize(image, thumb, cv::Size(320, 320 * f.height / f.width), 0, 0, cv::INTER_AREA);
        cv::imencode(".jpg", thumb, r.thumbnailJpeg);
        result.images.push_back(std::move(r));
        if (f.selected) {
            ++result.totalSelected;
            ++(f.primary ? result.primaryCount : result.reviewCount);
        }
    }
    result.totalInput = int32_t(frames.size());
    result.coverIndex = coverIndex;
    ProjectStore store;
    if (!store.openRegistry()) return -1;
    return store.saveCullResult(result, folder, name, 3);
}

void UiTest::SetUp() {
    qputenv("KEEPFRAME_DATA_DIR", QByteArray::fromStdString(dir.str() + "/library"));
    // Nothing here may reach a real service.
    qputenv("KEEPFRAME_DELIVERY_URL", "http://127.0.0.1:9");
}

void UiTest::TearDown() {
    app.reset();
    qunsetenv("KEEPFRAME_DATA_DIR");
    qunsetenv("KEEPFRAME_DELIVERY_URL");
    qunsetenv("KEEPFRAME_MODELS");
}

void UiTest::start(bool withModels) {
    if (withModels) qputenv("KEEPFRAME_MODELS", KEEPFRAME_TEST_MODELS_DIR);
    else qunsetenv("KEEPFRAME_MODELS");
    app = std::make_unique<DesktopApp>(path("program"));
    ASSERT_TRUE(app->loadMainWindow());
    window = app->window();
    ASSERT_NE(window, nullptr);
    window->requestActivate();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
}

QVariant UiTest::prop(const QString& name, const char* property) const {
    QObject* o = object(name);
    EXPECT_NE(o, nullptr) << name.toStdString();
    return o ? o->property(property) : QVariant();
}

QVariant UiTest::call(const QString& name, const char* function, const QVariantList& args) const {
    QObject* o = object(name);
    EXPECT_NE(o, nullptr) << name.toStdString();
    return o ? uidriver::call(o, function, args) : QVariant();
}

void UiTest::click(const QString& name) const {
    QQuickItem* i = item(name);
    ASSERT_NE(i, nullptr) << name.toStdString();
    ASSERT_TRUE(i->isVisible()) << name.toStdString();
    uidriver::click(window, i);
}

QQuickItem* UiTest::partOf(const QString& owner, const QString& part) const {
    QQuickItem* o = item(owner);
    return o ? qobject_cast<QQuickItem*>(uidriver::find(o, part)) : nullptr;
}

QVariant UiTest::partProp(const QString& owner, const QString& part, const char* property) const {
    QQuickItem* p = partOf(owner, part);
    EXPECT_NE(p, nullptr) << owner.toStdString() << " " << part.toStdString();
    return p ? p->property(property) : QVariant();
}

void StoredProject::SetUp() {
    UiTest::SetUp();
    id = storeProject(path("shoot"), standardFrames(), "p");
    ASSERT_GE(id, 0);
    ASSERT_TRUE(store.openRegistry());
    selection.setStore(&store);
}

int UiTest::openStandardProject() {
    const QString folder = path("shoot");
    const int id = storeProject(folder, standardFrames(), "Lantern Wedding");
    EXPECT_GE(id, 0);
    QObject* home = object("homePage");
    EXPECT_TRUE(QMetaObject::invokeMethod(home, "projectOpened", Q_ARG(int, id), Q_ARG(QString, "Lantern Wedding"),
                                          Q_ARG(QString, folder)));
    uidriver::settle(window);
    return id;
}

int UiTest::userSelected(int projectId, const QString& filename) const {
    ProjectStore store;
    if (!store.openRegistry()) return -1;
    for (const QVariant& v : store.loadProjectImages(projectId)) {
        const QVariantMap row = v.toMap();
        if (row["filename"].toString() == filename) return row["userSelected"].toBool() ? 1 : 0;
    }
    return -1;
}

}  // namespace keepframe::testing
