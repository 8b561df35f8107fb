// The rules behind the Deliver page that need no window: the storage rule to
// the byte at any size, the estimate, and the texts made from service data.
#include "deliver_model.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QSignalSpy>

#include <limits>

using namespace keepframe;

TEST(DeliverRules, TheEstimateWithAFifthMoreMustFitToTheByte) {
    // Level 100: 1.2 x the files.
    EXPECT_TRUE(deliveryFitsQuota(1000, 100, 1200));
    EXPECT_FALSE(deliveryFitsQuota(1000, 100, 1199));
    EXPECT_TRUE(deliveryFitsQuota(1001, 100, 1202));   // 1201.2 <= 1202
    EXPECT_FALSE(deliveryFitsQuota(1001, 100, 1201));  // 1201.2 > 1201
    // Level 50: a quarter of the files, then a fifth more.
    EXPECT_TRUE(deliveryFitsQuota(1000, 50, 300));
    EXPECT_FALSE(deliveryFitsQuota(1000, 50, 299));
    // Levels outside 10..100 count as their nearest end.
    EXPECT_EQ(deliveryFitsQuota(1000, 5, 12), deliveryFitsQuota(1000, 10, 12));
    EXPECT_TRUE(deliveryFitsQuota(1000, 150, 1200));
    EXPECT_FALSE(deliveryFitsQuota(1000, 150, 1199));
    // Nothing to send fits anything but a negative remainder.
    EXPECT_TRUE(deliveryFitsQuota(0, 100, 0));
    EXPECT_FALSE(deliveryFitsQuota(0, 100, -1));
    EXPECT_FALSE(deliveryFitsQuota(1, 100, -5));
}

TEST(DeliverRules, LargeByteCountsAreComparedExactly) {
    // 5e17 + 1 bytes need 6e17 + 1.2: a double rounds the files to 5e17 and lets 6e17 + 1 through.
    const qint64 source = 500000000000000001LL;
    EXPECT_FALSE(deliveryFitsQuota(source, 100, 600000000000000001LL));
    EXPECT_TRUE(deliveryFitsQuota(source, 100, 600000000000000002LL));
    // Near the top of the 64-bit range the products must not overflow.
    const qint64 top = std::numeric_limits<qint64>::max();
    EXPECT_TRUE(deliveryFitsQuota(top / 2, 100, top));
    EXPECT_FALSE(deliveryFitsQuota(top, 100, top));
    EXPECT_TRUE(deliveryFitsQuota(top, 10, top));
    EXPECT_EQ(estimatedUploadBytes(4000000, 50), 1000000);
    EXPECT_EQ(estimatedUploadBytes(4000000, 100), 4000000);
    EXPECT_EQ(estimatedUploadBytes(1000, 5), 10);
}

TEST(DeliverRules, AnUnreachableServiceIsNamedWithItsAddress) {
    const QString url = "https://deliver.example.com";
    EXPECT_EQ(readableDeliveryReason("http 0: ", url),
              "the delivery service at https://deliver.example.com could not be reached — check the connection, "
              "or the service address on the Account page");
    EXPECT_EQ(readableDeliveryReason("upload-request failed, http 0: Connection refused", url),
              "upload-request failed, the delivery service at https://deliver.example.com could not be reached "
              "(Connection refused) — check the connection, or the service address on the Account page");
    // Answers of the service itself stay as they are.
    EXPECT_EQ(readableDeliveryReason("http 404: Gallery not found", url), "http 404: Gallery not found");
    EXPECT_EQ(readableDeliveryReason("http 500: ", url), "http 500: ");
}

TEST(DeliverRules, GalleryTextsAndLists) {
    QVariantMap gallery{{"fileCount", 12},
                        {"sizeBytes", qint64(3) * 1024 * 1024},
                        {"faceSearchEnabled", true},
                        {"status", "active"},
                        {"createdAt", QDateTime(QDate(2025, 3, 1), QTime(10, 20, 30))}};
    EXPECT_EQ(DeliverModel::galleryDetails(gallery), "12 image(s) · 3.0 MB · 2025-03-01 · Face search on");
    gallery["status"] = "pending";
    gallery["faceSearchEnabled"] = false;
    gallery.remove("createdAt");
    EXPECT_EQ(DeliverModel::galleryDetails(gallery),
              "12 image(s) · 3.0 MB · date unknown · Face search off · pending");
    EXPECT_EQ(DeliverModel::gigabytes(1610612736), "1.50 GB");
    EXPECT_EQ(DeliverModel::topupPriceText(200, 1), "₹200 covers the remaining 1 month of your current term.");
    EXPECT_EQ(DeliverModel::topupPriceText(400, 12), "₹400 covers the remaining 12 months of your current term.");

    const QVariantList images{QVariantMap{{"filename", "a.jpg"}, {"sourcePath", "/p/a.jpg"}},
                              QVariantMap{{"filename", "b.jpg"}, {"sourcePath", "/p/b.jpg"}}};
    // Thumbnails come back with the ready ones first: order does not matter, the images do.
    const QVariantList answer{images[1], images[0]};
    EXPECT_TRUE(DeliverModel::sameImages(answer, images));
    EXPECT_FALSE(DeliverModel::sameImages({images[0]}, images));
    EXPECT_FALSE(DeliverModel::sameImages({images[0], images[0]}, images));
}

TEST(DeliverRules, ThePreparedGalleryWithoutAService) {
    DeliverModel model;
    QSignalSpy changed(&model, &DeliverModel::changed);
    model.setImages({QVariantMap{{"filename", "a.jpg"}, {"sourcePath", "/p/a.jpg"}, {"size", qint64(1500)}},
                     QVariantMap{{"filename", "b.jpg"}, {"sourcePath", "/p/b.jpg"}, {"size", qint64(2500)}}});
    EXPECT_EQ(model.sourceBytes(), 4000);
    EXPECT_EQ(model.sourceText(), "2 image(s) selected — 3.9 KB total");
    model.setCoverFilename("b.jpg");
    model.setLevel(3);
    EXPECT_EQ(model.level(), 10);
    model.setLevel(50);
    EXPECT_EQ(model.estimateBytes(), 1000);
    EXPECT_EQ(model.storageText(), "Loading storage usage…");
    model.setTitle("t");
    model.setPassword("p");
    // Without a quota (and without a service) nothing starts, and nothing says it exceeds.
    EXPECT_FALSE(model.canStart());
    EXPECT_FALSE(model.exceedsQuota());
    EXPECT_FALSE(model.start());
    EXPECT_GT(changed.size(), 0);
    // The same images read again keep the cover; a new list drops it.
    model.setImages({QVariantMap{{"filename", "b.jpg"}, {"sourcePath", "/p/b.jpg"}, {"size", qint64(2500)}},
                     QVariantMap{{"filename", "a.jpg"}, {"sourcePath", "/p/a.jpg"}, {"size", qint64(1500)}}});
    EXPECT_EQ(model.coverFilename(), "b.jpg");
    model.setImages({QVariantMap{{"filename", "c.jpg"}, {"sourcePath", "/p/c.jpg"}, {"size", qint64(10)}}});
    EXPECT_EQ(model.coverFilename(), "");
}
