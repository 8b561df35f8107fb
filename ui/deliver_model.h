// The state behind the Deliver page: the storage quota and the delivered
// galleries as the service last reported them, the gallery being prepared
// (images, cover, compression level, title, password) and the outcome of the
// last delivery. Byte counts stay 64-bit integers here; the rule that a
// delivery must fit the remaining storage is decided exactly, to the byte.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QtQml/qqmlregistration.h>

namespace keepframe {

class DeliveryManager;

// Whether an upload estimated at sourceBytes × (level / 100)² (sourceBytes
// itself at level 100), with a fifth more as headroom, fits `remainingBytes`.
bool deliveryFitsQuota(qint64 sourceBytes, int level, qint64 remainingBytes);
// The estimated upload size: the source bytes scaled by (level / 100)², rounded.
qint64 estimatedUploadBytes(qint64 sourceBytes, int level);
// What a failure reason of the delivery client means to the user: a request
// that never reached the service ("http 0: …") names the address it tried.
QString readableDeliveryReason(const QString& reason, const QString& serviceUrl);

class DeliverModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    // The delivery client (the context property "delivery").
    Q_PROPERTY(QObject* service READ service WRITE setService NOTIFY changed)

    // Storage and galleries, from the last list of galleries.
    Q_PROPERTY(bool quotaLoaded READ quotaLoaded NOTIFY changed)
    Q_PROPERTY(qlonglong quotaBytes READ quotaBytes NOTIFY changed)
    Q_PROPERTY(qlonglong usedBytes READ usedBytes NOTIFY changed)
    Q_PROPERTY(qlonglong remainingBytes READ remainingBytes NOTIFY changed)
    Q_PROPERTY(QString storageText READ storageText NOTIFY changed)
    // How full the storage is, 0 to 1 (0 while no quota is known).
    Q_PROPERTY(double storageUsedFraction READ storageUsedFraction NOTIFY changed)
    Q_PROPERTY(bool storageFailed READ storageFailed NOTIFY changed)
    Q_PROPERTY(QVariantList galleries READ galleries NOTIFY changed)
    Q_PROPERTY(int lifetimeGalleriesCreated READ lifetimeGalleriesCreated NOTIFY changed)

    // The gallery being prepared.
    Q_PROPERTY(QVariantList images READ images WRITE setImages NOTIFY changed)
    Q_PROPERTY(QString coverFilename READ coverFilename WRITE setCoverFilename NOTIFY changed)
    Q_PROPERTY(int level READ level WRITE setLevel NOTIFY changed)
    Q_PROPERTY(QString title READ title WRITE setTitle NOTIFY changed)
    Q_PROPERTY(QString password READ password WRITE setPassword NOTIFY changed)
    Q_PROPERTY(bool allowDownload READ allowDownload WRITE setAllowDownload NOTIFY changed)
    Q_PROPERTY(bool faceSearch READ faceSearch WRITE setFaceSearch NOTIFY changed)
    Q_PROPERTY(qlonglong sourceBytes READ sourceBytes NOTIFY changed)
    Q_PROPERTY(QString sourceText READ sourceText NOTIFY changed)
    Q_PROPERTY(qlonglong estimateBytes READ estimateBytes NOTIFY changed)
    Q_PROPERTY(QString uploadSizeText READ uploadSizeText NOTIFY changed)
    // Images chosen and the quota known, but the estimate with headroom does not fit.
    Q_PROPERTY(bool exceedsQuota READ exceedsQuota NOTIFY changed)
    Q_PROPERTY(bool canStart READ canStart NOTIFY changed)

    // The running or last delivery.
    Q_PROPERTY(bool running READ running NOTIFY changed)
    Q_PROPERTY(QString progressTitle READ progressTitle NOTIFY changed)
    Q_PROPERTY(QString progressCount READ progressCount NOTIFY changed)
    Q_PROPERTY(QString actualSizeText READ actualSizeText NOTIFY changed)
    Q_PROPERTY(QString resultText READ resultText NOTIFY changed)
    Q_PROPERTY(QString resultLink READ resultLink NOTIFY changed)
    Q_PROPERTY(QString errorText READ errorText NOTIFY changed)

public:
    explicit DeliverModel(QObject* parent = nullptr);

    QObject* service() const;
    void setService(QObject* service);

    bool quotaLoaded() const { return quotaLoaded_; }
    qlonglong quotaBytes() const { return quota_; }
    qlonglong usedBytes() const { return used_; }
    qlonglong remainingBytes() const { return remaining_; }
    QString storageText() const;
    double storageUsedFraction() const;
    bool storageFailed() const { return !storageError_.isEmpty(); }
    QVariantList galleries() const { return galleries_; }
    int lifetimeGalleriesCreated() const { return lifetimeGalleries_; }

    QVariantList images() const { return images_; }
    void setImages(const QVariantList& images);
    QString coverFilename() const { return cover_; }
    void setCoverFilename(const QString& filename);
    int level() const { return level_; }
    void setLevel(int level);
    QString title() const { return title_; }
    void setTitle(const QString& title);
    QString password() const { return password_; }
    void setPassword(const QString& password);
    bool allowDownload() const { return allowDownload_; }
    void setAllowDownload(bool allow);
    bool faceSearch() const { return faceSearch_; }
    void setFaceSearch(bool enabled);
    qlonglong sourceBytes() const { return sourceBytes_; }
    QString sourceText() const;
    qlonglong estimateBytes() const { return estimatedUploadBytes(sourceBytes_, level_); }
    QString uploadSizeText() const;
    bool exceedsQuota() const;
    bool canStart() const;

    bool running() const;
    QString progressTitle() const;
    QString progressCount() const;
    QString actualSizeText() const;
    QString resultText() const { return resultText_; }
    QString resultLink() const { return resultLink_; }
    QString errorText() const { return errorText_; }

    // Asks the service for the quota and the galleries again; the storage
    // line reads "Loading storage usage…" until the answer.
    Q_INVOKABLE void refresh();
    // Starts the delivery of the prepared gallery when canStart allows it.
    Q_INVOKABLE bool start();

    // The client's page of a gallery: the service's "/gallery.html?g=" + slug.
    Q_INVOKABLE QString galleryLink(const QString& slug) const;
    // "12 image(s) · 48.2 MB · 2025-03-01 · Face search on" (+ " · " + status unless active).
    Q_INVOKABLE static QString galleryDetails(const QVariantMap& gallery);
    // "1.25 GB": bytes / 1073741824 to two decimals.
    Q_INVOKABLE static QString gigabytes(qlonglong bytes);
    // The price line of a payment code.
    Q_INVOKABLE static QString topupPriceText(int amountRupees, int remainingMonths);
    // Whether two lists name the same images (by source path, in any order), such
    // as the cover thumbnails and the images they were asked for.
    Q_INVOKABLE static bool sameImages(const QVariantList& a, const QVariantList& b);
    // readableDeliveryReason with the service address in effect.
    Q_INVOKABLE QString readableReason(const QString& reason) const;
    Q_INVOKABLE static QString describeReason(const QString& reason, const QString& serviceUrl) {
        return readableDeliveryReason(reason, serviceUrl);
    }
    Q_INVOKABLE static void copyToClipboard(const QString& text);

signals:
    void changed();

private:
    DeliveryManager* manager() const;
    void connectService();

    QPointer<QObject> service_;
    bool quotaLoaded_ = false;
    qint64 quota_ = 0, used_ = 0, remaining_ = 0;
    QString storageError_;
    QVariantList galleries_;
    int lifetimeGalleries_ = 0;

    QVariantList images_;
    qint64 sourceBytes_ = 0;
    QString cover_;
    int level_ = 100;
    QString title_, password_;
    bool allowDownload_ = true;
    bool faceSearch_ = false;

    qint64 actualBytes_ = 0;
    QString resultText_, resultLink_, errorText_;
};

}  // namespace keepframe
