// The Deliver page against a delivery service: deliveries from the open
// project and from a folder, the storage rule, gallery management, the
// storage top-up, and a service that cannot be reached. Every test that needs
// no fault route of the stand-in runs against keepframe-gallery as well.
#include "delivery_ui.h"

#include "delivery_manager.h"
#include "selection_model.h"
#include "view_logic.h"

#include <QClipboard>
#include <QCryptographicHash>
#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <set>

using namespace keepframe;
using namespace keepframe::testing;

namespace {

// Catches what the page hands to the system's browser.
class LinkCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

class Deliver : public DeliveryUiTest {
protected:
    void openDeliverPage() {
        show("deliver");
        ASSERT_TRUE(uidriver::waitFor([&] { return text("storageLabel").startsWith("Storage: "); }))
            << text("storageLabel").toStdString();
    }
    void fillGallery(const QString& title, const QString& password) {
        type("galleryTitleField", title);
        type("galleryPasswordField", password);
    }
    void startDelivery() {
        reveal("startDeliveryButton");
        ASSERT_TRUE(enabled("startDeliveryButton"));
        click("startDeliveryButton");
    }
    // The files the service stored (the JPEG files below its storage folder),
    // without the gallery page's renditions keepframe-gallery makes of them.
    QStringList storedFiles() const {
        QStringList files;
        QDirIterator it(path("service/storage"), {"*.jpg"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = it.next();
            if (!file.endsWith("/small.jpg") && !file.endsWith("/large.jpg")) files << file;
        }
        return files;
    }
    // The file name of a gallery's cover, as the service lists it.
    QString coverName(const QString& galleryId) const {
        const QJsonObject files = service().getJson("/deliver/galleries/" + galleryId + "/files");
        for (const QJsonValue& f : files["files"].toArray())
            if (f["file_id"].toString() == files["current_cover_file_id"].toString()) return f["filename"].toString();
        return {};
    }
    // Forces the next list of galleries to report this storage.
    void forceStorage(qint64 quota, qint64 used, qint64 remaining) {
        const QJsonObject body{{"quota_bytes", quota}, {"used_bytes", used}, {"remaining_bytes", remaining},
                               {"lifetime_galleries_created", 0}, {"galleries", QJsonArray()}};
        ASSERT_TRUE(service().forceNext("GET", "/deliver/galleries", 200, body));
        click("refreshGalleriesButton");
        ASSERT_TRUE(
            uidriver::waitFor([&] { return prop("deliverModel", "remainingBytes").toLongLong() == remaining; }));
        uidriver::settle(window);
    }
    // The kept photographs of the standard project, as files.
    QStringList keptFiles() const {
        QStringList files;
        for (const ProjectFrame& f : standardFrames())
            if (f.selected) files << path("shoot/" + f.filename);
        return files;
    }
    static qint64 totalSize(const QStringList& files) {
        qint64 total = 0;
        for (const QString& f : files) total += QFileInfo(f).size();
        return total;
    }
    static QByteArray digest(const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1)
                                           : QByteArray();
    }
    // One value of the service's own database.
    QVariant serviceValue(const QString& sql) const {
        QVariant value;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "stand-in");
            db.setDatabaseName(path("service/service().db"));
            if (db.open()) {
                QSqlQuery q(db);
                if (q.exec(sql) && q.next()) value = q.value(0);
            }
        }
        QSqlDatabase::removeDatabase("stand-in");
        return value;
    }
};

using DeliverBoth = OnBothServices<Deliver>;

}  // namespace

INSTANTIATE_TEST_SUITE_P(Services, DeliverBoth, ::testing::Bool(), serviceName);

TEST_P(DeliverBoth, TheOpenProjectAtLevel60UploadsReducedCopiesAndShowsTheLink) {
    startWithService();
    openStandardProject();
    openDeliverPage();
    const QStringList kept = keptFiles();
    const qint64 source = totalSize(kept);
    EXPECT_TRUE(prop("projectSourceOption", "checked").toBool());
    EXPECT_EQ(text("sourceSummary"), "6 image(s) selected — " + ViewLogic::sizeText(source) + " total");
    EXPECT_EQ(text("storageLabel"), "Storage: 0.00 GB used of 10.00 GB  (10.00 GB remaining)");
    EXPECT_EQ(text("uploadSizeLabel"), "Upload size — Original (untouched, no compression)");
    EXPECT_FALSE(enabled("startDeliveryButton"));  // no title or password yet

    slide("compressionSlider", 60);
    // The label names the quality the job really writes.
    EXPECT_EQ(text("uploadSizeLabel"),
              QStringLiteral("Upload size — 60% of original resolution, JPEG quality %1%, ~%2 (estimated)")
                  .arg(DeliveryManager::compressedJpegQuality())
                  .arg(ViewLogic::sizeText(qRound64(double(source) * 0.36))));
    fillGallery("Lantern Wedding", "rose-garden");
    EXPECT_FALSE(visible("quotaWarning"));
    startDelivery();
    EXPECT_EQ(text("startDeliveryButton"), "Uploading…");
    EXPECT_FALSE(enabled("startDeliveryButton"));
    EXPECT_TRUE(visible("deliveryProgress"));
    EXPECT_TRUE(text("progressTitle").startsWith("Please wait — "));
    ASSERT_TRUE(waitForDelivery()) << text("deliveryError").toStdString();

    const QJsonArray galleries = serviceGalleries();
    ASSERT_EQ(galleries.size(), 1);
    const QJsonObject g = galleries[0].toObject();
    EXPECT_EQ(g["title"].toString(), "Lantern Wedding");
    EXPECT_EQ(g["file_count"].toInt(), 6);
    EXPECT_EQ(g["status"].toString(), "active");
    EXPECT_EQ(text("resultLabel"), "Delivered — 6 uploaded");
    const QString link = service().url() + "/gallery.html?g=" + g["slug"].toString();
    EXPECT_EQ(text("resultLink"), link);
    EXPECT_EQ(text("startDeliveryButton"), "Start Delivery");
    EXPECT_FALSE(visible("deliveryProgress"));

    // Every stored copy is the 60 % size of its 1200 x 800 original.
    const QStringList stored = storedFiles();
    ASSERT_EQ(stored.size(), 6);
    qint64 uploaded = 0;
    for (const QString& file : stored) {
        EXPECT_EQ(QImageReader(file).size(), QSize(720, 480)) << file.toStdString();
        uploaded += QFileInfo(file).size();
    }
    EXPECT_EQ(text("actualSizeLabel"), "Actual total to upload: " + ViewLogic::sizeText(uploaded));

    // The list and the storage are read again after the delivery.
    const QString row = "galleryRow_" + g["gallery_id"].toString();
    ASSERT_TRUE(uidriver::waitFor([&] { return visible(row); }));
    EXPECT_EQ(prop("lifetimeLabel", "text").toString(), "1 created lifetime");
    EXPECT_TRUE(
        uidriver::find(object(row), "galleryDetails")->property("text").toString().startsWith("6 image(s) · "));
    EXPECT_EQ(uidriver::find(object(row), "galleryLink")->property("text").toString(), link);

    // Copy puts the link on the clipboard; Open hands it to the browser.
    click("resultCopyButton");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), link);
    LinkCatcher browser;
    QDesktopServices::setUrlHandler("http", &browser, "open");
    click("resultOpenButton");
    QDesktopServices::unsetUrlHandler("http");
    ASSERT_EQ(browser.opened.size(), 1);
    EXPECT_EQ(browser.opened[0].toString(), link);
}

TEST_P(DeliverBoth, TheOpenProjectAtLevel100UploadsTheFilesUntouched) {
    startWithService();
    openStandardProject();
    openDeliverPage();
    // The project's own thumbnails serve the cover picker: nothing is made.
    click("coverChooseButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("coverPicker", "opened").toBool(); }));
    EXPECT_FALSE(prop("coverPicker", "generating").toBool());
    const QVariantList previews = prop("coverPicker", "thumbnails").toList();
    ASSERT_EQ(previews.size(), 6);
    for (const QVariant& p : previews) EXPECT_TRUE(p.toMap()["thumbUrl"].toString().startsWith("file://"));
    EXPECT_FALSE(QDir(path("tmp/keepframe_deliver_tmp/cover_thumbs")).exists());
    click("coverTile_ceremony/DSC_0007.jpg");
    click("coverUseButton");
    EXPECT_EQ(text("coverLabel"), "DSC_0007.jpg");

    fillGallery("Lantern Wedding — originals", "rose-garden");
    startDelivery();
    ASSERT_TRUE(waitForDelivery()) << text("deliveryError").toStdString();
    EXPECT_EQ(text("resultLabel"), "Delivered — 6 uploaded");
    EXPECT_EQ(coverName(serviceGalleries()[0].toObject()["gallery_id"].toString()), "ceremony/DSC_0007.jpg");

    std::multiset<QByteArray> sent, stored;
    for (const QString& f : keptFiles()) sent.insert(digest(f));
    for (const QString& f : storedFiles()) stored.insert(digest(f));
    EXPECT_EQ(stored, sent);
    EXPECT_EQ(text("actualSizeLabel"), "Actual total to upload: " + ViewLogic::sizeText(totalSize(keptFiles())));
    EXPECT_EQ(serviceGalleries()[0].toObject()["size_bytes"].toInteger(), totalSize(keptFiles()));
}

TEST_P(DeliverBoth, AFolderSourceWithACoverAndAnUnreadableFile) {
    startWithService();
    openDeliverPage();
    // Without a project the folder is the only source.
    EXPECT_FALSE(enabled("projectSourceOption"));
    EXPECT_TRUE(prop("folderSourceOption", "checked").toBool());
    EXPECT_EQ(text("sourceSummary"), "0 image(s) selected — 0 B total");
    EXPECT_FALSE(enabled("coverChooseButton"));

    const QString folder = path("pick");
    qint64 size = writePhotos(folder, 3);
    QFile broken(folder + "/IMG_0009.jpg");
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    size += broken.write("not a photograph at all");
    broken.close();
    call("deliverPage", "useFolder", {url(folder)});
    uidriver::settle(window);
    EXPECT_EQ(text("sourceSummary"), "4 image(s) selected — " + ViewLogic::sizeText(size) + " total");

    // The picker makes previews; the unreadable file gets "?" and can still be chosen.
    click("coverChooseButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("coverPicker", "opened").toBool(); }));
    ASSERT_TRUE(uidriver::waitFor([&] { return !prop("coverPicker", "generating").toBool(); }));
    ASSERT_TRUE(uidriver::waitFor([&] { return uidriver::imagesSettled(window); }));
    uidriver::settle(window);
    EXPECT_EQ(text("coverPickerStatus"), "4 image(s) — click one to use it as the gallery cover.");
    EXPECT_TRUE(uidriver::find(object("coverTile_IMG_0009.jpg"), "missingPreview")->property("visible").toBool());
    EXPECT_FALSE(uidriver::find(object("coverTile_IMG_0002.jpg"), "missingPreview")->property("visible").toBool());
    click("coverTile_IMG_0009.jpg");
    EXPECT_EQ(prop("coverPicker", "current").toString(), "IMG_0009.jpg");
    EXPECT_TRUE(enabled("coverUseButton"));
    click("coverTile_IMG_0002.jpg");
    click("coverUseButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return !prop("coverPicker", "visible").toBool(); }));
    EXPECT_EQ(text("coverLabel"), "IMG_0002.jpg");

    slide("compressionSlider", 50);
    fillGallery("Garden Party", "tulips");
    startDelivery();
    ASSERT_TRUE(waitForDelivery()) << text("deliveryError").toStdString();
    // The unreadable file could not be compressed: the result says so.
    EXPECT_EQ(text("resultLabel"), "Delivered — 3 uploaded (1 failed)");
    const QString galleryId = serviceGalleries()[0].toObject()["gallery_id"].toString();
    EXPECT_EQ(coverName(galleryId), "IMG_0002.jpg");

    // Another list of images drops the chosen cover.
    writePhotos(path("second"), 2);
    call("deliverPage", "useFolder", {url(path("second"))});
    uidriver::settle(window);
    EXPECT_EQ(text("coverLabel"), "None chosen — the service picks one.");
    EXPECT_EQ(prop("deliverModel", "coverFilename").toString(), "");
}

TEST_F(Deliver, StartNeedsTheEstimateWithAFifthMoreToFitToTheByte) {
    startWithService();
    openStandardProject();
    openDeliverPage();
    fillGallery("Lantern Wedding", "rose-garden");
    const qint64 source = totalSize(keptFiles());
    const qint64 used = 3 * 1073741824LL;

    // Level 100: the files themselves, 1.2 x source.
    const qint64 need = (6 * source + 4) / 5;
    forceStorage(used + need - 1, used, need - 1);
    EXPECT_FALSE(enabled("startDeliveryButton"));
    EXPECT_TRUE(visible("quotaWarning"));
    EXPECT_EQ(text("quotaWarning"),
              "This exceeds your remaining storage — increase compression or free up space below.");
    forceStorage(used + need, used, need);
    EXPECT_TRUE(enabled("startDeliveryButton"));
    EXPECT_FALSE(visible("quotaWarning"));

    // Level 50: a quarter of the source, so 0.3 x source with the headroom.
    slide("compressionSlider", 50);
    const qint64 needAtHalf = (3 * source + 9) / 10;
    forceStorage(used + needAtHalf - 1, used, needAtHalf - 1);
    EXPECT_FALSE(enabled("startDeliveryButton"));
    EXPECT_TRUE(visible("quotaWarning"));
    slide("compressionSlider", 45);
    EXPECT_TRUE(enabled("startDeliveryButton"));
    EXPECT_FALSE(visible("quotaWarning"));

    // No title: never enabled, whatever the storage.
    type("galleryTitleField", "");
    EXPECT_FALSE(enabled("startDeliveryButton"));
    EXPECT_FALSE(visible("quotaWarning"));
}

// The storage bar shows the used part of the quota, and stays full when more is used than the quota.
TEST_F(Deliver, TheStorageBarShowsTheUsedPartOfTheQuota) {
    startWithService();
    openDeliverPage();
    const qint64 gb = 1073741824LL;
    forceStorage(4 * gb, gb, 3 * gb);
    EXPECT_NEAR(prop("storageBar", "visualPosition").toDouble(), 0.25, 1e-9);
    forceStorage(gb, 2 * gb, 0);
    EXPECT_NEAR(prop("storageBar", "visualPosition").toDouble(), 1.0, 1e-9);
}

TEST_P(DeliverBoth, GallerySettingsPasswordAndDelete) {
    startWithService();
    openDeliverPage();
    writePhotos(path("party"), 3);
    call("deliverPage", "useFolder", {url(path("party"))});
    fillGallery("Garden Party", "tulips");
    startDelivery();
    ASSERT_TRUE(waitForDelivery()) << text("deliveryError").toStdString();
    const QJsonObject g = serviceGalleries()[0].toObject();
    const QString id = g["gallery_id"].toString(), row = "galleryRow_" + id;
    ASSERT_TRUE(uidriver::waitFor([&] { return visible(row); }));
    EXPECT_TRUE(uidriver::find(object(row), "galleryDetails")
                    ->property("text")
                    .toString()
                    .endsWith(" · Face search off"));

    // Settings: the files of this gallery; a late answer about another gallery changes nothing.
    clickIn(row, "settingsButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("gallerySettingsDialog", "opened").toBool(); }));
    EXPECT_EQ(prop("gallerySettingsDialog", "title").toString(), "Settings — Garden Party");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("galleryFileList", "count").toInt() == 3; }));
    EXPECT_FALSE(enabled("faceSearchSwitch"));  // delivered without face data
    const QVariantList intruder{QVariantMap{{"fileId", "f_other"}, {"filename", "intruder.jpg"}}};
    ASSERT_TRUE(QMetaObject::invokeMethod(&app->delivery(), "galleryFilesReceived", Q_ARG(QString, "g_other"),
                                          Q_ARG(QString, "f_other"), Q_ARG(QVariantList, intruder)));
    uidriver::settle(window);
    EXPECT_EQ(prop("galleryFileList", "count").toInt(), 3);
    EXPECT_EQ(item("galleryFile_intruder.jpg"), nullptr);

    click("galleryFile_IMG_0003.jpg");
    click("setCoverButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return text("settingsStatus") == "Cover updated."; }));
    const QJsonObject files = service().getJson("/deliver/galleries/" + id + "/files");
    for (const QJsonValue& f : files["files"].toArray()) {
        if (f["filename"].toString() == "IMG_0003.jpg") {
            EXPECT_EQ(files["current_cover_file_id"].toString(), f["file_id"].toString());
        }
    }

    click("disableDownloadButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return text("settingsStatus") == "Download setting updated."; }));
    EXPECT_EQ(serviceValue("SELECT allow_download FROM galleries").toInt(), 0);
    if (service().hasFaultRoutes()) {
        ASSERT_TRUE(service().forceNext("POST", "/deliver/galleries/" + id + "/settings", 500,
                                        QJsonObject{{"detail", "storage offline"}}));
        click("enableDownloadButton");
        ASSERT_TRUE(uidriver::waitFor([&] { return text("settingsStatus").startsWith("Couldn't"); }));
        EXPECT_EQ(text("settingsStatus"), "Couldn't update download setting: http 500: storage offline");
        EXPECT_EQ(serviceValue("SELECT allow_download FROM galleries").toInt(), 0);
    }
    click("settingsCloseButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return !prop("gallerySettingsDialog", "visible").toBool(); }));

    // Password: the service's refusal is shown and the dialog stays; a good one closes it.
    clickIn(row, "passwordButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("galleryPasswordDialog", "opened").toBool(); }));
    EXPECT_EQ(prop("galleryPasswordDialog", "title").toString(), "Change password — Garden Party");
    click("passwordSaveButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return text("passwordError") != ""; }));
    EXPECT_EQ(text("passwordError"), "http 422: Password must not be empty");
    EXPECT_TRUE(prop("galleryPasswordDialog", "opened").toBool());
    type("newPasswordField", "daffodils");
    click("passwordSaveButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return !prop("galleryPasswordDialog", "visible").toBool(); }));
    EXPECT_TRUE(passwordOpens(g["slug"].toString(), "daffodils"));
    EXPECT_FALSE(passwordOpens(g["slug"].toString(), "tulips"));

    // Delete asks first, then the gallery is gone from the service and the list.
    clickIn(row, "deleteButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("deleteGalleryDialog", "opened").toBool(); }));
    EXPECT_EQ(prop("deleteGalleryDialog", "title").toString(), "Delete gallery?");
    clickIn("deleteGalleryDialog", "okButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return visible("noGalleriesLabel"); }));
    EXPECT_TRUE(serviceGalleries().isEmpty());
    EXPECT_EQ(text("noGalleriesLabel"), "No galleries yet.");
    EXPECT_EQ(text("lifetimeLabel"), "1 created lifetime");
}

TEST_P(DeliverBoth, StorageTopUpThroughPendingToPaidAndThroughExpiredBack) {
    startWithService();
    openDeliverPage();
    click("buyStorageButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("topupDialog", "opened").toBool(); }));
    EXPECT_EQ(prop("topupDialog", "title").toString(), "Buy more space");
    object("topupDialog")->setProperty("pollInterval", 60);
    EXPECT_EQ(prop("topupAmount", "displayText").toString(), "10 GB");
    auto* up = prop("topupAmount", "up").value<QObject*>();
    ASSERT_NE(up, nullptr);
    uidriver::click(window, up->property("indicator").value<QQuickItem*>());
    EXPECT_EQ(prop("topupAmount", "value").toInt(), 20);
    EXPECT_EQ(prop("topupAmount", "displayText").toString(), "20 GB");

    click("topupRequestButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("topupDialog", "stage").toString() == "pay"; }));
    EXPECT_EQ(prop("topupDialog", "title").toString(), "Scan to pay");
    EXPECT_EQ(text("topupPrice"), "₹400 covers the remaining 12 months of your current term.");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("topupQrImage", "status").toInt() == 1; }));  // Image.Ready
    EXPECT_LE(item("topupQrImage")->width(), 400);
    // Pending answers keep the code up and the polling going.
    QTest::qWait(400);
    EXPECT_EQ(prop("topupDialog", "stage").toString(), "pay");
    EXPECT_TRUE(prop("topupPollTimer", "running").toBool());

    const QString first = prop("topupDialog", "topupId").toString();
    ASSERT_TRUE(service().markTopup(first, "paid"));
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("topupDialog", "stage").toString() == "paid"; }));
    EXPECT_EQ(prop("topupDialog", "title").toString(), "Storage added");
    EXPECT_EQ(text("topupPaidText"), "20 GB added. Your storage is now 30.00 GB.");
    EXPECT_FALSE(prop("topupPollTimer", "running").toBool());
    EXPECT_EQ(text("storageLabel"), "Storage: 0.00 GB used of 30.00 GB  (30.00 GB remaining)");
    click("topupCloseButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return !prop("topupDialog", "visible").toBool(); }));

    // A code that expires leads back to the first stage with the reason.
    click("buyStorageButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("topupDialog", "opened").toBool(); }));
    EXPECT_EQ(prop("topupDialog", "stage").toString(), "choose");
    click("topupRequestButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("topupDialog", "stage").toString() == "pay"; }));
    const QString second = prop("topupDialog", "topupId").toString();
    EXPECT_NE(second, first);
    ASSERT_TRUE(service().markTopup(second, "expired"));
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("topupDialog", "stage").toString() == "choose"; }));
    EXPECT_EQ(text("topupMessage"), "This code expired before payment was completed. Please generate a new one.");
    EXPECT_FALSE(prop("topupPollTimer", "running").toBool());

    // Closing the dialog stops the polling.
    click("topupRequestButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("topupDialog", "stage").toString() == "pay"; }));
    EXPECT_TRUE(prop("topupPollTimer", "running").toBool());
    click("topupCloseButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return !prop("topupDialog", "visible").toBool(); }));
    EXPECT_FALSE(prop("topupPollTimer", "running").toBool());
}

TEST_P(DeliverBoth, AServiceThatIsDownEndsTheDeliveryWithAClearMessage) {
    startWithService();
    openStandardProject();
    openDeliverPage();
    fillGallery("Lantern Wedding", "rose-garden");
    const QString address = service().url();
    service().stop();

    startDelivery();
    ASSERT_FALSE(waitForDelivery());
    EXPECT_TRUE(text("deliveryError")
                    .startsWith("Error: upload-request failed, the delivery service at " + address +
                                " could not be reached"))
        << text("deliveryError").toStdString();
    EXPECT_EQ(text("startDeliveryButton"), "Start Delivery");
    EXPECT_FALSE(visible("deliveryProgress"));
    EXPECT_FALSE(visible("resultLabel"));
    ASSERT_TRUE(uidriver::waitFor([&] { return text("storageLabel").startsWith("Couldn't"); }));
    EXPECT_TRUE(text("storageLabel")
                    .startsWith("Couldn't load storage/galleries: the delivery service at " + address +
                                " could not be reached"));
    // The quota is unknown, so nothing can start until the service answers again.
    EXPECT_FALSE(enabled("startDeliveryButton"));
}

TEST_F(Deliver, WithoutATokenThePageSaysWhatToDo) {
    startWithService(false);
    show("deliver");
    EXPECT_TRUE(visible("noTokenNotice"));
    EXPECT_FALSE(visible("storageLabel"));
    EXPECT_FALSE(visible("startDeliveryButton"));
    click("goToAccountButton");
    EXPECT_EQ(prop("mainWindow", "activePage").toString(), "account");
}

#include "deliver_test.moc"
