// DeliveryManager against a delivery service started on a free loopback port:
// real HTTP, real files. Every test that needs no fault route runs against
// keepframe-gallery as well as against the stand-in.
#include "account_token.h"
#include "delivery_manager.h"
#include "exif_writer.h"
#include "gallery_service.h"
#include "stand_in_service.h"
#include "painted_frames.h"
#include "temp_dir.h"
#include "test_models.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>
#include <QUrl>

#include <opencv2/imgcodecs.hpp>

#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <tuple>

#ifdef __linux__
#include <csignal>
#include <sys/resource.h>
#endif

using namespace keepframe;
using namespace keepframe::testing;

namespace {

struct FixedToken : AccountTokenProvider {
    QString token;
    QString accessToken() const override { return token; }
};

// Sets (or, with no value, unsets) an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<QByteArray>& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    ~ScopedEnv() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

// Starts one stand-in service on a free loopback port; its base URL.
QString startStandIn(QProcess& process, const std::string& dataDir) {
    process.start("/usr/bin/python3", {KEEPFRAME_SOURCE_DIR "/tools/delivery_service/stand_in.py", "--port", "0",
                                       "--data", QString::fromStdString(dataDir), "--token", "secret"});
    if (!process.waitForStarted(5000) || !process.waitForReadyRead(10000)) return {};
    return QString::fromUtf8(process.readLine()).trimmed().remove("listening on ");
}

// One request with the service's token; the answer's body, empty on failure.
QByteArray call(const QByteArray& verb, const QString& url, const QJsonObject& body = {}) {
    QNetworkAccessManager net;
    QNetworkRequest request{QUrl(url)};
    request.setRawHeader("Authorization", "Bearer secret");
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    QNetworkReply* reply =
        net.sendCustomRequest(request, verb, verb == "GET" ? QByteArray() : QJsonDocument(body).toJson());
    QSignalSpy done(reply, &QNetworkReply::finished);
    const bool finished = done.wait(5000);
    reply->deleteLater();
    return finished ? reply->readAll() : QByteArray();
}

// The natural position of each value of an 8 x 8 table as a JPEG file stores
// them (zig-zag order): the diagonals in turn, the odd ones from the top
// right down, the even ones from the bottom left up.
std::array<int, 64> zigzagOrder() {
    std::array<int, 64> order{};
    size_t k = 0;
    for (int diagonal = 0; diagonal < 15; ++diagonal)
        for (int i = 0; i <= diagonal; ++i) {
            const int row = diagonal % 2 ? i : diagonal - i;
            const int column = diagonal - row;
            if (row < 8 && column < 8) order[k++] = row * 8 + column;
        }
    return order;
}

// The quality a JPEG's first quantisation table was made with by libjpeg's
// scaling of the standard luminance table; -1 when it matches none.
int jpegQuality(const QByteArray& jpeg) {
    // In rows of eight, in natural order.
    static const std::array<int, 64> luminance = {
        16, 11, 10, 16, 24,  40,  51,  61,   //
        12, 12, 14, 19, 26,  58,  60,  55,   //
        14, 13, 16, 24, 40,  57,  69,  56,   //
        14, 17, 22, 29, 51,  87,  80,  62,   //
        18, 22, 37, 56, 68,  109, 103, 77,   //
        24, 35, 55, 64, 81,  104, 113, 92,   //
        49, 64, 78, 87, 103, 121, 120, 101,  //
        72, 92, 95, 98, 112, 100, 103, 99};
    static const std::array<int, 64> zigzag = zigzagOrder();
    const qsizetype at = jpeg.indexOf(QByteArray("\xff\xdb", 2));
    if (at < 0 || jpeg.size() < at + 5 + 64 || uchar(jpeg[at + 4]) != 0) return -1;
    for (int q = 1; q <= 100; ++q) {
        const int scale = q < 50 ? 5000 / q : 200 - 2 * q;
        bool same = true;
        for (int k = 0; k < 64 && same; ++k)
            same = uchar(jpeg[at + 5 + k]) ==
                   std::clamp((luminance[size_t(zigzag[size_t(k)])] * scale + 50) / 100, 1, 255);
        if (same) return q;
    }
    return -1;
}

enum class Backend { StandIn, Gallery };
void PrintTo(Backend b, std::ostream* out) { *out << (b == Backend::Gallery ? "keepframe-gallery" : "stand-in"); }

struct Service : ::testing::Test {
    TempDir dir;
    std::unique_ptr<DeliveryServiceProcess> service;
    QProcess otherProcess;
    QString url, other;
    FixedToken token;
    ScopedEnv tmp{"TMPDIR", QByteArray::fromStdString(dir.str() + "/tmp")};  // copies and thumbnails stay here
    DeliveryManager manager;

    virtual Backend backend() const { return Backend::StandIn; }
    void SetUp() override {
        std::filesystem::create_directories(dir.path() / "tmp");
        if (backend() == Backend::Gallery) {
            auto gallery = std::make_unique<GalleryService>();
            gallery->setModels(KEEPFRAME_TEST_MODELS_DIR);
            service = std::move(gallery);
        } else {
            service = std::make_unique<StandInService>();
        }
        ASSERT_TRUE(service->start(QString::fromStdString(dir.str() + "/service"))) << service->error().toStdString();
        url = service->url();
        token.token = service->token();
        manager.setBaseUrl(url);
        manager.setTokenProvider(&token);
    }
    void TearDown() override {
        service->stop();
        otherProcess.kill();
        otherProcess.waitForFinished(3000);
    }
    // The stand-in's fault routes: the real service has none.
    bool faultRoutes() const { return service->hasFaultRoutes(); }
    // A second service: another origin, whose probes show what reached it.
    void startOtherOrigin() {
        other = startStandIn(otherProcess, dir.str() + "/other");
        ASSERT_TRUE(other.startsWith("http://127.0.0.1:"));
        ASSERT_NE(other, url);
    }
    QJsonArray probes() {
        return QJsonDocument::fromJson(call("GET", other + "/admin/probes")).object()["probes"].toArray();
    }

    // Tells the service to answer the next matching request with this status, body and headers.
    void forceNext(const QString& method, const QString& path, int status, const QJsonValue& body,
                   const QJsonObject& headers = {}) {
        ASSERT_TRUE(faultRoutes());
        const QJsonObject o{
            {"method", method}, {"path", path}, {"status", status}, {"body", body}, {"headers", headers}};
        ASSERT_EQ(call("POST", url + "/admin/fail", o), R"({"ok": true})");
    }
    // Tells the service to answer the next matching request as a broken server
    // ("silent", "drip", "drip-headers", "endless", "huge"; stand_in.py).
    void misbehaveNext(const QString& method, const QString& path, const QString& behaviour, QJsonObject o = {}) {
        ASSERT_TRUE(faultRoutes());
        o["method"] = method;
        o["path"] = path;
        o["status"] = 200;
        o["behaviour"] = behaviour;
        if (!o.contains("body")) o["body"] = QJsonObject{{"galleries", QJsonArray{}}};
        ASSERT_EQ(call("POST", url + "/admin/fail", o), R"({"ok": true})");
    }
    QVariantList photos(int n, int width = 800, int height = 600, int orientation = 0) {
        QVariantList images;
        shootgen::ExifFields exif;
        exif.orientation = orientation;
        for (int i = 0; i < n; ++i) {
            const std::string name = "DSC_000" + std::to_string(i) + ".jpg";
            const cv::Mat pixels(height, width, CV_8UC3, cv::Scalar(40 * i, 90, 160));
            shootgen::writeJpeg(dir.file("photos/" + name), pixels, exif);
            images.push_back(QVariantMap{{"filename", QString::fromStdString(name)},
                                         {"sourcePath", QString::fromStdString(dir.str() + "/photos/" + name)}});
        }
        return images;
    }
    // Runs one delivery and waits for its end; true when it finished.
    bool deliver(QSignalSpy& finished, QSignalSpy& failed, const std::function<void()>& start) {
        const qsizetype f0 = finished.size(), e0 = failed.size();
        start();
        for (int i = 0; i < 300 && finished.size() == f0 && failed.size() == e0; ++i) finished.wait(100);
        return finished.size() > f0;
    }
};

// The same tests against the stand-in and against keepframe-gallery.
struct AnyService : Service, ::testing::WithParamInterface<Backend> {
    Backend backend() const override { return GetParam(); }
};

std::string backendName(const ::testing::TestParamInfo<Backend>& info) {
    return info.param == Backend::Gallery ? "Gallery" : "StandIn";
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Services, AnyService, ::testing::Values(Backend::StandIn, Backend::Gallery), backendName);

TEST(DeliveryErrors, TextRuleAndServiceAddresses) {
    EXPECT_EQ(httpErrorText(404, R"({"detail": "Gallery not found"})"), "http 404: Gallery not found");
    EXPECT_EQ(httpErrorText(404, "gone"), "http 404: gone");
    EXPECT_EQ(httpErrorText(0, ""), "http 0: ");
    EXPECT_TRUE(isAllowedServiceUrl("https://deliver.example.com"));
    EXPECT_TRUE(isAllowedServiceUrl("http://127.0.0.1:8765/x"));
    EXPECT_TRUE(isAllowedServiceUrl("http://localhost:1"));
    EXPECT_FALSE(isAllowedServiceUrl("http://deliver.example.com"));
    EXPECT_FALSE(isAllowedServiceUrl("http://192.168.1.2"));
    EXPECT_FALSE(isAllowedServiceUrl("ftp://127.0.0.1"));
    // What a user may store as the service address.
    EXPECT_EQ(serviceUrlProblem("https://deliver.example.com/api"), "");
    EXPECT_EQ(serviceUrlProblem("http://[::1]:8765"), "");
    for (const char* bad : {"deliver.example.com", "https://", "https://exa mple.com", "not a url"})
        EXPECT_TRUE(serviceUrlProblem(bad).startsWith("Enter the service address in full")) << bad;
    EXPECT_TRUE(serviceUrlProblem("http://deliver.example.com").contains("https://"));
    for (const char* bad :
         {"https://me:pw@deliver.example.com", "https://deliver.example.com/?a=1", "https://deliver.example.com/#top"})
        EXPECT_TRUE(serviceUrlProblem(bad).contains("must not carry")) << bad;
}

TEST(DeliveryErrors, CreatedAtIsLocalTime) {
    const QDateTime t = DeliveryManager::parseCreatedAt("2025-03-01 10:20:30.123456");
    ASSERT_TRUE(t.isValid());
    EXPECT_EQ(t.date(), QDate(2025, 3, 1));
    EXPECT_EQ(t.time(), QTime(10, 20, 30, 123));
    const QDateTime utc = DeliveryManager::parseCreatedAt("2025-03-01T10:20:30Z");
    EXPECT_EQ(utc.toUTC().time(), QTime(10, 20, 30));
    EXPECT_EQ(utc.timeSpec(), Qt::LocalTime);
}

TEST(DeliveryUninitialized, FailsAtOnceWithoutTraffic) {
    DeliveryManager m;
    m.setBaseUrl("http://127.0.0.1:9");  // nothing listens; nothing may be sent anyway
    QSignalSpy galleries(&m, &DeliveryManager::galleriesFetchFailed), delivery(&m, &DeliveryManager::deliveryFailed),
        topup(&m, &DeliveryManager::storageTopupFailed), profile(&m, &DeliveryManager::studioProfileSaveFailed);
    m.fetchGalleries();
    m.startDelivery("t", "p", 80, {QVariantMap{{"filename", "a.jpg"}}});
    m.requestStorageTopup(25);  // validated before the token check
    m.requestStorageTopup(20);
    m.saveStudioProfile("", "");
    ASSERT_EQ(galleries.size(), 1);  // synchronously: no request was made
    EXPECT_EQ(galleries[0][0].toString(), "Not initialized.");
    EXPECT_EQ(delivery[0][0].toString(), "Delivery not fully initialized.");
    ASSERT_EQ(topup.size(), 2);
    EXPECT_EQ(topup[0][0].toString(), "Amount must be a positive multiple of 10 GB.");
    EXPECT_EQ(topup[1][0].toString(), "Not initialized.");
    EXPECT_EQ(profile[0][0].toString(), "Not initialized.");
    EXPECT_FALSE(m.isRunning());

    // Plain HTTP to another machine is refused before anything is sent.
    FixedToken t;
    t.token = "t";
    m.setTokenProvider(&t);
    m.setBaseUrl("http://deliver.example.com");
    m.fetchGalleries();
    ASSERT_EQ(galleries.size(), 2);
    EXPECT_TRUE(galleries[1][0].toString().contains("HTTPS"));
}

TEST_P(AnyService, StatusHandlingAndProfile) {
    QSignalSpy saved(&manager, &DeliveryManager::studioProfileSaved),
        read(&manager, &DeliveryManager::studioProfileReceived),
        readFailed(&manager, &DeliveryManager::studioProfileFetchFailed),
        saveFailed(&manager, &DeliveryManager::studioProfileSaveFailed);
    manager.saveStudioProfile("", "");
    ASSERT_EQ(saveFailed.size(), 1);
    EXPECT_EQ(saveFailed[0][0].toString(), "Nothing to save.");
    manager.saveStudioProfile("Light & Lace", "");
    ASSERT_TRUE(saved.wait(5000));
    manager.saveStudioProfile("", "+91 98765 43210");  // an empty name is never cleared
    ASSERT_TRUE(saved.wait(5000));
    manager.fetchStudioProfile();
    ASSERT_TRUE(read.wait(5000));
    EXPECT_EQ(read[0][0].toString(), "Light & Lace");
    EXPECT_EQ(read[0][1].toString(), "+91 98765 43210");

    // A wrong token is the service's 401.
    const QString good = token.token;
    token.token = "wrong";
    manager.fetchStudioProfile();
    ASSERT_TRUE(readFailed.wait(5000));
    EXPECT_EQ(readFailed[0][0].toString(), "http 401: Invalid or missing token");
    token.token = good;

    if (!faultRoutes()) return;  // the rest needs answers only the stand-in gives on request
    // Only exactly 200 is success.
    forceNext("GET", "/deliver/profile", 201, QJsonObject{});
    manager.fetchStudioProfile();
    ASSERT_TRUE(readFailed.wait(5000));
    EXPECT_EQ(readFailed[1][0].toString(), "http 201: {}");
    forceNext("GET", "/deliver/profile", 404, "gone");
    manager.fetchStudioProfile();
    ASSERT_TRUE(readFailed.wait(5000));
    EXPECT_EQ(readFailed[2][0].toString(), "http 404: gone");
}

TEST_P(AnyService, DeliveriesAtFullSizeAndCompressed) {
    QSignalSpy finished(&manager, &DeliveryManager::deliveryFinished),
        failed(&manager, &DeliveryManager::deliveryFailed), phases(&manager, &DeliveryManager::phaseChanged);
    const QVariantList images = photos(3);

    // Level 150 is used as 100: the files themselves are uploaded.
    ASSERT_TRUE(deliver(finished, failed, [&] {
        manager.startDelivery("Anna & Ben", "pw", 150, images, "DSC_0001.jpg");
    })) << failed.last()[0].toString().toStdString();
    EXPECT_EQ(finished[0][2].toInt(), 3);
    EXPECT_EQ(finished[0][3].toInt(), 0);
    for (const DeliveryItem& item : manager.items()) {
        EXPECT_EQ(item.uploadPath, item.sourcePath);
        EXPECT_EQ(item.compressedSize, 0);
        EXPECT_EQ(item.width, 800);
    }
    QStringList seen;
    for (const auto& p : phases) seen << p[0].toString();
    EXPECT_EQ(seen.first(), "compressing");
    EXPECT_FALSE(seen.contains("detecting"));  // face search off
    EXPECT_EQ(manager.currentPhase(), "uploading");
    qint64 sourceBytes = 0;
    for (const QVariant& v : images) sourceBytes += QFileInfo(v.toMap()["sourcePath"].toString()).size();
    EXPECT_EQ(manager.actualCompressedBytes(), sourceBytes);  // at full size: the files' own sizes
    const QString firstGallery = finished[0][0].toString();

    // Level 50: resized copies with their sizes.
    ASSERT_TRUE(deliver(finished, failed, [&] { manager.startDelivery("Half", "pw", 50, images, "nothing.jpg"); }));
    for (const DeliveryItem& item : manager.items()) {
        EXPECT_NE(item.uploadPath, item.sourcePath);
        EXPECT_EQ(item.width, 400);
        EXPECT_EQ(item.height, 300);
        EXPECT_GT(item.compressedSize, 0);
    }
    EXPECT_FALSE(manager.isRunning());

    // The service now lists both galleries; the cover only where it matched.
    QSignalSpy galleries(&manager, &DeliveryManager::galleriesReceived),
        files(&manager, &DeliveryManager::galleryFilesReceived);
    manager.fetchGalleries();
    ASSERT_TRUE(galleries.wait(5000));
    EXPECT_EQ(galleries[0][3].toInt(), 2);
    const QVariantList list = galleries[0][4].toList();
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].toMap()["fileCount"].toInt(), 3);
    EXPECT_EQ(list[0].toMap()["status"].toString(), "active");
    EXPECT_TRUE(list[0].toMap()["createdAt"].toDateTime().isValid());
    manager.fetchGalleryFiles(finished[1][0].toString());
    ASSERT_TRUE(files.wait(5000));
    EXPECT_EQ(files[0][1].toString(), "");  // "nothing.jpg" matched no file
    manager.fetchGalleryFiles(firstGallery);
    ASSERT_TRUE(files.wait(5000));
    EXPECT_FALSE(files[1][1].toString().isEmpty());
    EXPECT_EQ(files[1][2].toList().size(), 3);
}

TEST_P(AnyService, PartialAndTotalFailures) {
    QSignalSpy finished(&manager, &DeliveryManager::deliveryFinished),
        failed(&manager, &DeliveryManager::deliveryFailed);
    QVariantList images = photos(2);
    images.push_back(images[0]);  // the same name twice: only the first gets an upload URL
    ASSERT_TRUE(deliver(finished, failed, [&] { manager.startDelivery("Dup", "pw", 5, images); }));
    EXPECT_EQ(finished[0][2].toInt(), 2);
    EXPECT_EQ(finished[0][3].toInt(), 1);
    EXPECT_EQ(manager.items()[0].width, 80);  // level 5 is used as 10

    // Nothing can be compressed: every upload fails (a missing file; a photograph cut short, whose
    // missing part the decoder would fill with grey).
    const QVariantMap cut = photos(1, 1600, 1200)[0].toMap();
    const QString cutPath = cut["sourcePath"].toString();
    ASSERT_TRUE(QFile::resize(cutPath, QFileInfo(cutPath).size() * 6 / 10));
    const QVariantList missing = {QVariantMap{{"filename", "x.jpg"}, {"sourcePath", "/no/such/x.jpg"}}, cut};
    EXPECT_FALSE(deliver(finished, failed, [&] { manager.startDelivery("None", "pw", 50, missing); }));
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(failed[0][0].toString(), "All uploads failed — nothing to confirm.");

    QSignalSpy empty(&manager, &DeliveryManager::deliveryFailed);
    manager.startDelivery("Empty", "pw", 80, {});
    EXPECT_EQ(empty[0][0].toString(), "No images to deliver.");

    if (!faultRoutes()) return;  // a refused upload request is the stand-in's on request
    // The service refuses the upload request.
    forceNext("POST", "/deliver/upload-request", 500, QJsonObject{{"detail", "maintenance"}});
    EXPECT_FALSE(deliver(finished, failed, [&] { manager.startDelivery("Down", "pw", 80, photos(1)); }));
    EXPECT_EQ(failed.last()[0].toString(), "upload-request failed, http 500: maintenance");
    EXPECT_FALSE(manager.isRunning());
}

TEST_P(AnyService, FaceSearchSendsAlignedFaceCrops) {
    manager.setFaceModelPath(QString::fromStdString(testModelConfig().detectorModelPath));
    // The delivery detects on the full-size image at threshold 0.3: the
    // background stays below 0.3 x 256 so that only the painted face fires.
    const cv::Mat full = analysisFrame({{15, 20, 3, 0.8f}}, 640, 480, 60);
    cv::imwrite(dir.file("faces/face.png"), full);  // lossless: the painted control pixels survive
    const QVariantList images = {
        QVariantMap{{"filename", "face.png"}, {"sourcePath", QString::fromStdString(dir.str() + "/faces/face.png")}}};
    QSignalSpy finished(&manager, &DeliveryManager::deliveryFinished),
        failed(&manager, &DeliveryManager::deliveryFailed), phases(&manager, &DeliveryManager::phaseChanged);
    // Below level 100 the upload is a JPEG copy (a real service stores JPEG files only); faces are
    // still found on the source itself.
    ASSERT_TRUE(deliver(finished, failed, [&] { manager.startDelivery("Faces", "pw", 90, images, "", true, true); }));
    ASSERT_FALSE(manager.items()[0].faces.empty());
    const FaceCrop& crop = manager.items()[0].faces[0];
    EXPECT_NEAR(crop.x, 320 - 48, 3);
    EXPECT_NEAR(crop.width, 96, 3);
    const QImage face = QImage::fromData(QByteArray::fromBase64(crop.imageBase64.toLatin1()), "JPEG");
    EXPECT_EQ(face.size(), QSize(112, 112));
    QStringList seen;
    for (const auto& p : phases) seen << p[0].toString();
    EXPECT_TRUE(seen.contains("detecting"));

    // The service counts the face data it holds (keepframe-gallery embeds the crops in the background).
    QSignalSpy galleries(&manager, &DeliveryManager::galleriesReceived);
    int rows = 0;
    for (int i = 0; i < 100 && rows < 1; ++i) {
        manager.fetchGalleries();
        ASSERT_TRUE(galleries.wait(5000));
        rows = galleries.last()[4].toList()[0].toMap()["faceDataRows"].toInt();
        if (rows < 1) QTest::qWait(100);
    }
    EXPECT_GE(rows, 1);
}

TEST_P(AnyService, GalleryManagementAndTopUps) {
    QSignalSpy finished(&manager, &DeliveryManager::deliveryFinished),
        failed(&manager, &DeliveryManager::deliveryFailed);
    ASSERT_TRUE(deliver(finished, failed, [&] { manager.startDelivery("Manage", "pw", 100, photos(1)); }));
    const QString gid = finished[0][0].toString();

    QSignalSpy download(&manager, &DeliveryManager::galleryDownloadSettingChanged),
        password(&manager, &DeliveryManager::passwordChanged),
        passwordFailed(&manager, &DeliveryManager::passwordChangeFailed),
        deleted(&manager, &DeliveryManager::galleryDeleted),
        filesFailed(&manager, &DeliveryManager::galleryFilesFetchFailed);
    manager.setGalleryAllowDownload(gid, false);
    ASSERT_TRUE(download.wait(5000));
    EXPECT_EQ(download[0][0].toString(), gid);
    manager.changeGalleryPassword(gid, "");  // sent unchanged; the service decides
    ASSERT_TRUE(passwordFailed.wait(5000));
    EXPECT_EQ(passwordFailed[0][0].toString(), "http 422: Password must not be empty");
    manager.changeGalleryPassword(gid, "new-secret");
    ASSERT_TRUE(password.wait(5000));
    manager.deleteGallery(gid);
    ASSERT_TRUE(deleted.wait(5000));
    manager.fetchGalleryFiles(gid);
    ASSERT_TRUE(filesFailed.wait(5000));
    EXPECT_EQ(filesFailed[0][0].toString(), "http 404: Gallery not found");

    QSignalSpy created(&manager, &DeliveryManager::storageTopupCreated),
        topupFailed(&manager, &DeliveryManager::storageTopupFailed),
        pending(&manager, &DeliveryManager::topupStatusPending), paid(&manager, &DeliveryManager::topupStatusPaid);
    manager.requestStorageTopup(20);
    ASSERT_TRUE(created.wait(5000));
    EXPECT_EQ(created[0][1].toInt(), 20);
    const QString topup = created[0][0].toString();
    EXPECT_FALSE(QImage::fromData(call("GET", created[0][5].toString())).isNull());  // the payment code shows, no token
    manager.checkTopupStatus(topup);
    ASSERT_TRUE(pending.wait(5000));
    if (faultRoutes()) {
        // A status that is "paid" only in other letters is still pending.
        forceNext("GET", "/deliver/storage/topup/" + topup + "/status", 200,
                  QJsonObject{{"status", "PAID"}, {"added_gb", 20}});
        manager.checkTopupStatus(topup);
        ASSERT_TRUE(pending.wait(5000));
    }
    ASSERT_TRUE(service->markTopup(topup, "paid"));
    manager.checkTopupStatus(topup);
    ASSERT_TRUE(paid.wait(5000));
    EXPECT_EQ(paid[0][2].toLongLong(), 30LL * 1024 * 1024 * 1024);

    if (!faultRoutes()) return;  // a payment service that is down is the stand-in's on request
    forceNext("POST", "/deliver/storage/topup", 503, QJsonObject{});
    manager.requestStorageTopup(10);
    ASSERT_TRUE(topupFailed.wait(5000));
    EXPECT_EQ(topupFailed[0][0].toString(), "Couldn't generate a payment code — try again.");
}

TEST_F(Service, FolderScanAndCoverThumbnails) {
    for (const char* name : {"b.JPG", "a.jpeg", "c.png", "d.JPEG", "e.jpg"})
        std::ofstream(dir.file(std::string("pick/") + name)) << "x";
    std::filesystem::create_directories(dir.path() / "pick/sub.jpg");
    QStringList names;
    for (const QVariant& v :
         manager.scanFolder(QUrl::fromLocalFile(QString::fromStdString(dir.str() + "/pick")).toString()))
        names << v.toMap()["filename"].toString();
    EXPECT_EQ(names, (QStringList{"a.jpeg", "b.JPG", "d.JPEG", "e.jpg"}));
    EXPECT_TRUE(manager.scanFolder("https://example.com/photos").isEmpty());

    // A sideways-stored portrait (orientation 6) gets an upright thumbnail of at most 200 px.
    shootgen::ExifFields exif;
    exif.orientation = 6;
    shootgen::writeJpeg(dir.file("thumbs/rot.jpg"), cv::Mat(300, 600, CV_8UC3, cv::Scalar(10, 200, 10)), exif);
    const QVariantList images = {
        QVariantMap{{"filename", "rot.jpg"}, {"sourcePath", QString::fromStdString(dir.str() + "/thumbs/rot.jpg")}},
        QVariantMap{{"filename", "has.jpg"}, {"sourcePath", "/x/has.jpg"}, {"thumbUrl", "file:///t/has.jpg"}},
        QVariantMap{{"filename", "bad.jpg"}, {"sourcePath", "/no/such/bad.jpg"}}};
    QSignalSpy ready(&manager, &DeliveryManager::coverThumbnailsReady);
    manager.generateCoverThumbnails(images);
    manager.generateCoverThumbnails(images);  // during a run: ignored
    ASSERT_TRUE(ready.wait(10000));
    QCoreApplication::processEvents();
    ASSERT_EQ(ready.size(), 1);
    const QVariantList thumbs = ready[0][0].toList();
    ASSERT_EQ(thumbs.size(), 3);
    EXPECT_EQ(thumbs[0].toMap()["filename"], "has.jpg");      // the ready ones first
    EXPECT_EQ(thumbs[2].toMap()["thumbUrl"].toString(), "");  // unreadable source
    const QImage thumb(QUrl(thumbs[1].toMap()["thumbUrl"].toString()).toLocalFile());
    ASSERT_FALSE(thumb.isNull());
    EXPECT_EQ(thumb.size(), QSize(100, 200));  // upright: taller than wide

    // Only ready thumbnails: answered at once.
    manager.generateCoverThumbnails({images[1]});
    EXPECT_EQ(ready.size(), 2);
}

TEST_P(AnyService, AServiceThatDoesNotAnswerIsReportedWithTheNetworkReason) {
    QSignalSpy failed(&manager, &DeliveryManager::galleriesFetchFailed);
    service->stop();
    manager.fetchGalleries();
    ASSERT_TRUE(failed.wait(10000));
    const QString reason = failed.last()[0].toString();
    EXPECT_TRUE(reason.startsWith("http 0: ")) << reason.toStdString();
    EXPECT_GT(reason.size(), QString("http 0: ").size()) << "the reason is missing";
}

TEST_F(Service, RedirectsAreFailuresAndNeverFollowed) {
    startOtherOrigin();
    QSignalSpy readFailed(&manager, &DeliveryManager::studioProfileFetchFailed),
        read(&manager, &DeliveryManager::studioProfileReceived);
    for (const int status : {301, 302, 303, 307, 308}) {
        const QString target = other + "/probe/profile-" + QString::number(status);
        forceNext("GET", "/deliver/profile", status, "", {{"Location", target}});
        manager.fetchStudioProfile();
        ASSERT_TRUE(readFailed.wait(5000)) << status;
        const QString reason = readFailed.last()[0].toString();
        EXPECT_TRUE(reason.startsWith(
            QStringLiteral("http %1: the service redirected the request to %2").arg(status).arg(target)))
            << reason.toStdString();
    }
    // A redirect back to the service itself is refused all the same.
    forceNext("GET", "/deliver/profile", 302, "", {{"Location", url + "/deliver/profile"}});
    manager.fetchStudioProfile();
    ASSERT_TRUE(readFailed.wait(5000));
    EXPECT_EQ(read.size(), 0);

    QSignalSpy finished(&manager, &DeliveryManager::deliveryFinished),
        failed(&manager, &DeliveryManager::deliveryFailed);
    forceNext("POST", "/deliver/upload-request", 307, "", {{"Location", other + "/probe/upload-request"}});
    EXPECT_FALSE(deliver(finished, failed, [&] { manager.startDelivery("Moved", "pw", 80, photos(1)); }));
    EXPECT_TRUE(failed.last()[0].toString().startsWith("upload-request failed, http 307: the service redirected"));
    EXPECT_FALSE(manager.isRunning());
    // Storage that redirects the photographs elsewhere is not followed either: the file counts as failed.
    forceNext("PUT", "/storage/*", 307, "", {{"Location", other + "/probe/upload"}});
    EXPECT_FALSE(deliver(finished, failed, [&] { manager.startDelivery("Moved", "pw", 80, photos(1)); }));
    EXPECT_EQ(failed.last()[0].toString(), "All uploads failed — nothing to confirm.");

    // Nothing, and above all no token, reached the other origin; its probe does record what arrives.
    EXPECT_TRUE(probes().isEmpty()) << QJsonDocument(probes()).toJson().toStdString();
    call("GET", other + "/probe/control");
    ASSERT_EQ(probes().size(), 1);
    EXPECT_TRUE(probes()[0].toObject()["authorization"].toBool());
}

namespace {

// Limits short enough for tests of broken services; each trips within two seconds.
RequestLimits shortLimits() {
    RequestLimits limits;
    limits.serviceStallMs = 800;
    limits.uploadStallMs = 1000;
    limits.answerMs = 1500;
    limits.maxAnswerBytes = 64 * 1024;
    return limits;
}

const QString kStalled = "http 0: the request made no progress for 0.8 s; it was stopped";
const QString kTooLarge = "http 200: the answer is larger than 64 KB; it was not read";

}  // namespace

TEST_F(Service, BrokenAnswersEndInOneFailureNamingTheLimit) {
    manager.setRequestLimits(shortLimits());
    QSignalSpy received(&manager, &DeliveryManager::galleriesReceived),
        failed(&manager, &DeliveryManager::galleriesFetchFailed);
    const std::vector<std::tuple<QString, QJsonObject, QString>> cases = {
        {"silent", {}, kStalled},
        {"drip-headers", {{"interval_ms", 100}}, kStalled},  // headers that never end are no progress
        {"drip", {{"interval_ms", 300}},
         "http 200: the answer did not arrive in full within 1.5 s; the request was stopped"},
        {"endless", {}, kTooLarge},
        {"huge", {{"size", 1 << 20}}, kTooLarge},  // announced: refused before it is read
    };
    for (const auto& [behaviour, options, reason] : cases) {
        misbehaveNext("GET", "/deliver/galleries", behaviour, options);
        const qsizetype before = failed.size();
        QElapsedTimer clock;
        clock.start();
        manager.fetchGalleries();
        ASSERT_TRUE(failed.wait(5000)) << behaviour.toStdString();
        EXPECT_LT(clock.elapsed(), 3000) << behaviour.toStdString();
        EXPECT_EQ(failed.last()[0].toString(), reason) << behaviour.toStdString();
        QTest::qWait(200);  // exactly one answer per call
        EXPECT_EQ(failed.size(), before + 1) << behaviour.toStdString();
    }
    EXPECT_EQ(received.size(), 0);

    // A request with a body is held to the same limits.
    QSignalSpy saveFailed(&manager, &DeliveryManager::studioProfileSaveFailed);
    misbehaveNext("POST", "/deliver/profile", "silent");
    manager.saveStudioProfile("Light & Lace", "");
    ASSERT_TRUE(saveFailed.wait(5000));
    EXPECT_EQ(saveFailed[0][0].toString(), kStalled);

    // The service and the manager are none the worse.
    manager.fetchGalleries();
    ASSERT_TRUE(received.wait(5000));
}

TEST_F(Service, JsonAnswersAreReadUpToFourMegabytes) {
    QSignalSpy received(&manager, &DeliveryManager::galleriesReceived),
        failed(&manager, &DeliveryManager::galleriesFetchFailed);
    misbehaveNext("GET", "/deliver/galleries", "huge", {{"size", 3 << 20}});
    manager.fetchGalleries();
    ASSERT_TRUE(received.wait(10000));
    misbehaveNext("GET", "/deliver/galleries", "huge", {{"size", 5 << 20}});
    manager.fetchGalleries();
    ASSERT_TRUE(failed.wait(10000));
    EXPECT_EQ(failed[0][0].toString(), "http 200: the answer is larger than 4 MB; it was not read");
}

TEST_F(Service, StalledOrEndlessUploadsFailAloneAndTheNextDeliveryStarts) {
    manager.setRequestLimits(shortLimits());
    QSignalSpy finished(&manager, &DeliveryManager::deliveryFinished),
        failed(&manager, &DeliveryManager::deliveryFailed);
    misbehaveNext("PUT", "/storage/*", "silent");
    misbehaveNext("PUT", "/storage/*", "endless");
    ASSERT_TRUE(deliver(finished, failed, [&] { manager.startDelivery("Stalled", "pw", 80, photos(3)); }));
    EXPECT_EQ(finished[0][2].toInt(), 1);
    EXPECT_EQ(finished[0][3].toInt(), 2);
    QStringList reasons;
    for (const DeliveryItem& item : manager.items())
        if (!item.uploaded) reasons << item.uploadFailure;
    reasons.sort();
    // Uploads have a limit of their own (1 s here, 0.8 s for service requests).
    EXPECT_EQ(reasons, (QStringList{"http 0: the request made no progress for 1 s; it was stopped", kTooLarge}));
    EXPECT_FALSE(manager.isRunning());

    // A confirmation that is never answered ends the run as well.
    misbehaveNext("POST", "/deliver/upload-complete", "silent");
    EXPECT_FALSE(deliver(finished, failed, [&] { manager.startDelivery("Unconfirmed", "pw", 80, photos(1)); }));
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(failed[0][0].toString(), "upload-complete failed, " + kStalled);
    EXPECT_FALSE(manager.isRunning());
    ASSERT_TRUE(deliver(finished, failed, [&] { manager.startDelivery("Again", "pw", 80, photos(2)); }));
    EXPECT_EQ(finished.last()[2].toInt(), 2);
}

TEST_F(Service, UploadsWaitingTheirTurnNeverTimeOut) {
    // Six slow storage answers would hold every connection Qt opens to one
    // host; uploads queued behind them would see no progress for longer than
    // their limit. Only uploads that are on the wire are held to it.
    RequestLimits limits = shortLimits();
    limits.answerMs = 4000;
    manager.setRequestLimits(limits);
    for (int i = 0; i < 6; ++i)
        misbehaveNext("PUT", "/storage/*", "drip", {{"interval_ms", 250}, {"body", "stored"}});
    QSignalSpy finished(&manager, &DeliveryManager::deliveryFinished),
        failed(&manager, &DeliveryManager::deliveryFailed);
    ASSERT_TRUE(deliver(finished, failed, [&] { manager.startDelivery("Queue", "pw", 10, photos(8)); }));
    EXPECT_EQ(finished[0][2].toInt(), 8);
    for (const DeliveryItem& item : manager.items())
        EXPECT_TRUE(item.uploadFailure.isEmpty()) << item.uploadFailure.toStdString();
}

TEST_F(Service, IdentifiersAreOneNameInTheAddress) {
    QSignalSpy statusFailed(&manager, &DeliveryManager::topupStatusCheckFailed),
        deleteFailed(&manager, &DeliveryManager::galleryDeleteFailed),
        filesFailed(&manager, &DeliveryManager::galleryFilesFetchFailed);
    manager.checkTopupStatus("../../../probe/topup?x=1#");
    ASSERT_TRUE(statusFailed.wait(5000));
    EXPECT_EQ(statusFailed[0][0].toString(), "http 404: Top-up not found");
    manager.deleteGallery("../../probe/delete");
    ASSERT_TRUE(deleteFailed.wait(5000));
    EXPECT_EQ(deleteFailed[0][0].toString(), "http 404: Gallery not found");
    // Nothing, and no token, reached another path of the service.
    const QJsonArray reached = QJsonDocument::fromJson(call("GET", url + "/admin/probes")).object()["probes"].toArray();
    EXPECT_TRUE(reached.isEmpty()) << QJsonDocument(reached).toJson().toStdString();

    // What cannot be one name is refused before anything is sent.
    for (const QString id : {"", ".", ".."}) manager.fetchGalleryFiles(id);
    ASSERT_EQ(filesFailed.size(), 3);
    for (const auto& args : filesFailed)
        EXPECT_EQ(args[0].toString(),
                  "Invalid identifier: it cannot be sent as one name in the address; nothing was sent.");
}

TEST_F(Service, PaymentCodeOnlyFromHttpsOrThisComputer) {
    QSignalSpy created(&manager, &DeliveryManager::storageTopupCreated),
        failed(&manager, &DeliveryManager::storageTopupFailed);
    for (const char* bad : {"file:///etc/passwd", "http://pay.example.com/qr.png", "data:image/png;base64,AAAA"}) {
        forceNext("POST", "/deliver/storage/topup", 200,
                  QJsonObject{{"topup_id", "tp_1"}, {"additional_gb", 10}, {"qr_image_url", bad}});
        manager.requestStorageTopup(10);
        ASSERT_TRUE(failed.wait(5000)) << bad;
        EXPECT_EQ(failed.last()[0].toString(),
                  "The service gave a payment code address that is not https; it was not opened.");
    }
    EXPECT_EQ(created.size(), 0);
    const QString https = "https://pay.example.com/q.png";
    forceNext("POST", "/deliver/storage/topup", 200,
              QJsonObject{{"topup_id", "tp_1"}, {"additional_gb", 10}, {"qr_image_url", https}});
    manager.requestStorageTopup(10);
    ASSERT_TRUE(created.wait(5000));
    EXPECT_EQ(created[0][5].toString(), https);
}

TEST_P(AnyService, UprightSizesAndTheQualityTheUploadLabelStates) {
    QSignalSpy finished(&manager, &DeliveryManager::deliveryFinished),
        failed(&manager, &DeliveryManager::deliveryFailed);
    for (const int orientation : {6, 8}) {
        const QVariantList sideways = photos(2, 600, 300, orientation);  // portraits stored on their side
        ASSERT_TRUE(deliver(finished, failed, [&] { manager.startDelivery("Full", "pw", 100, sideways); }));
        for (const DeliveryItem& item : manager.items())
            EXPECT_EQ(std::make_pair(item.width, item.height), std::make_pair(300, 600))
                << "orientation " << orientation;
        ASSERT_TRUE(deliver(finished, failed, [&] { manager.startDelivery("Half", "pw", 50, sideways); }));
        for (const DeliveryItem& item : manager.items())
            EXPECT_EQ(std::make_pair(item.width, item.height), std::make_pair(150, 300))
                << "orientation " << orientation;
    }
    // The copy that was uploaded is encoded at exactly the quality the Deliver page states.
    QFile copy(manager.items()[0].uploadPath);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(jpegQuality(copy.readAll()), DeliveryManager::compressedJpegQuality());
    EXPECT_EQ(DeliveryManager::compressedJpegQuality(), 98);
    EXPECT_EQ(manager.property("compressedJpegQuality").toInt(), 98);
    // Copies and thumbnails stay in the temporary folder, here the test's own.
    EXPECT_TRUE(copy.fileName().startsWith(QString::fromStdString(dir.str() + "/tmp/keepframe_deliver_tmp/")));
}

#ifdef __linux__
// A file size limit makes the final flush of a copy fail after every write
// call has succeeded (the copy is small enough to sit in the write buffer).
TEST_P(AnyService, CopyWhoseFinalFlushFailsIsNeverUploaded) {
    const QVariantList images = photos(1);  // one flat colour: a copy of a few kilobytes
    QSignalSpy finished(&manager, &DeliveryManager::deliveryFinished),
        failed(&manager, &DeliveryManager::deliveryFailed);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 512;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool delivered = deliver(finished, failed, [&] { manager.startDelivery("Full disk", "pw", 50, images); });
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(delivered) << manager.items()[0].compressedSize;
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(failed[0][0].toString(), "All uploads failed — nothing to confirm.");
    EXPECT_EQ(manager.items()[0].uploadPath, "");
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(dir.str() + "/tmp/keepframe_deliver_tmp/0_compressed.jpg")));

    // A link in the temporary folder is replaced by the copy, never written through.
    const std::string victim = dir.file("elsewhere/keep.txt");
    std::ofstream(victim) << "keep";
    std::filesystem::create_symlink(victim, dir.path() / "tmp/keepframe_deliver_tmp/0_compressed.jpg");
    ASSERT_TRUE(deliver(finished, failed, [&] { manager.startDelivery("Linked", "pw", 50, images); }));
    std::ifstream kept(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep");
}
#endif

// The service settings of the Account page, kept in a temporary data folder.
struct DeliverySettings : ::testing::Test {
    TempDir dir;
    ScopedEnv data{"KEEPFRAME_DATA_DIR", QByteArray::fromStdString(dir.str() + "/data")};
    ScopedEnv envUrl{"KEEPFRAME_DELIVERY_URL", std::nullopt};
    ScopedEnv envToken{"KEEPFRAME_DELIVERY_TOKEN", std::nullopt};
    DefaultTokenProvider provider;
};

TEST_F(DeliverySettings, PersistedAndOverriddenByTheEnvironment) {
    {
        DeliveryManager m;
        m.setTokenProvider(&provider);
        EXPECT_EQ(m.serviceUrl(), DeliveryManager::defaultServiceUrl());
        EXPECT_EQ(m.serviceUrlSource(), "default");
        EXPECT_FALSE(m.hasAccessToken());
        EXPECT_EQ(m.accessTokenSource(), "none");

        QSignalSpy changed(&m, &DeliveryManager::serviceSettingsChanged),
            refused(&m, &DeliveryManager::serviceSettingsChangeFailed);
        EXPECT_FALSE(m.setServiceUrl("http://deliver.example.com"));  // plain http to another machine
        ASSERT_EQ(refused.size(), 1);
        EXPECT_TRUE(refused[0][0].toString().contains("https://"));
        EXPECT_EQ(m.serviceUrlSource(), "default");
        EXPECT_TRUE(m.setServiceUrl("  https://studio.example.com/deliver/ "));
        EXPECT_TRUE(m.setAccessToken("tok-123"));
        EXPECT_EQ(changed.size(), 2);
    }
    // A new manager, as after a restart, reads them back.
    DeliveryManager m;
    m.setTokenProvider(&provider);
    EXPECT_EQ(m.property("serviceUrl").toString(), "https://studio.example.com/deliver");
    EXPECT_EQ(m.property("serviceUrlSource").toString(), "settings");
    EXPECT_TRUE(m.property("hasAccessToken").toBool());
    EXPECT_EQ(m.property("accessTokenSource").toString(), "settings");
    EXPECT_EQ(provider.accessToken(), "tok-123");

    // The environment wins over the settings, and says so.
    {
        ScopedEnv url("KEEPFRAME_DELIVERY_URL", "https://env.example.com/");
        ScopedEnv token("KEEPFRAME_DELIVERY_TOKEN", "env-token");
        EXPECT_EQ(m.serviceUrl(), "https://env.example.com");
        EXPECT_EQ(m.serviceUrlSource(), "environment");
        EXPECT_EQ(m.accessTokenSource(), "environment");
        EXPECT_EQ(provider.accessToken(), "env-token");
        EXPECT_TRUE(m.setServiceUrl("https://stored.example.com"));  // stored, still overridden
        EXPECT_EQ(m.serviceUrl(), "https://env.example.com");
    }
    EXPECT_EQ(m.serviceUrl(), "https://stored.example.com");

    // Clearing returns to "not set" and to the default address.
    EXPECT_TRUE(m.clearAccessToken());
    EXPECT_FALSE(m.hasAccessToken());
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(dir.str() + "/data/delivery_token")));
    EXPECT_TRUE(m.setServiceUrl(""));
    EXPECT_EQ(m.serviceUrlSource(), "default");
    EXPECT_TRUE(m.clearAccessToken());  // nothing stored: still fine
}

TEST_F(DeliverySettings, TokenIsNeverShown) {
    DeliveryManager m;
    m.setTokenProvider(&provider);
    QSignalSpy refused(&m, &DeliveryManager::serviceSettingsChangeFailed);
    const QString secret = "kf_live_Zq81xYt0";
    EXPECT_FALSE(m.setAccessToken(secret + " " + secret));  // a pasted token with a blank inside
    EXPECT_FALSE(m.setAccessToken("   "));
    ASSERT_EQ(refused.size(), 2);
    for (const auto& args : refused) EXPECT_FALSE(args[0].toString().contains(secret));
    EXPECT_FALSE(m.hasAccessToken());

    ASSERT_TRUE(m.setAccessToken(secret));
    const QMetaObject* meta = m.metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i)
        EXPECT_FALSE(meta->property(i).read(&m).toString().contains(secret)) << meta->property(i).name();
    // Stored for its owner only.
    const QFileInfo file(QString::fromStdString(dir.str() + "/data/delivery_token"));
    EXPECT_EQ(file.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther), 0);

    // A data folder that cannot be written: the failure is reported, the old token kept.
    ScopedEnv blocked("KEEPFRAME_DATA_DIR", QByteArray::fromStdString(dir.file("blocker") + "/data"));
    std::ofstream(dir.file("blocker")) << "a file where the folder should be";
    EXPECT_FALSE(m.setAccessToken("another"));
    EXPECT_TRUE(refused.last()[0].toString().startsWith("Could not save the setting"));
}

TEST_F(DeliverySettings, NoTokenFailsAtOnceWithoutTraffic) {
    DeliveryManager m;
    m.setTokenProvider(&provider);
    QSignalSpy galleries(&m, &DeliveryManager::galleriesFetchFailed), delivery(&m, &DeliveryManager::deliveryFailed),
        topup(&m, &DeliveryManager::storageTopupFailed), files(&m, &DeliveryManager::galleryFilesFetchFailed);
    const QString expected = "No access token: add your delivery service token on the Account page.";
    m.fetchGalleries();
    m.fetchGalleryFiles("g_1");
    m.requestStorageTopup(10);
    m.startDelivery("t", "p", 80, {QVariantMap{{"filename", "a.jpg"}, {"sourcePath", "/no/such/a.jpg"}}});
    // Every answer came synchronously: no request was made, no compression started.
    ASSERT_EQ(galleries.size(), 1);
    ASSERT_EQ(files.size(), 1);
    ASSERT_EQ(topup.size(), 1);
    ASSERT_EQ(delivery.size(), 1);
    for (const QSignalSpy* spy : {&galleries, &files, &topup, &delivery}) EXPECT_EQ(spy->at(0)[0].toString(), expected);
    EXPECT_FALSE(m.isRunning());
    EXPECT_EQ(m.currentPhase(), "");
}
