// The client of the gallery delivery web service (published to QML as
// "delivery"): uploads a client gallery with face search, manages delivered
// galleries, the studio profile and storage top-ups. Every operation answers
// later with exactly one success or one failure signal.
#pragma once

#include "reply_watch.h"

#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QVariant>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace keepframe {

class AccountTokenProvider;
class BackgroundJob;
class JobControl;
struct OnnxModel;

struct FaceCrop {
    QString imageBase64;
    int x = 0, y = 0, width = 0, height = 0;
};

struct DeliveryItem {
    int index = 0;
    QString filename;
    QString sourcePath;
    QString uploadPath;
    qint64 originalSize = 0;
    qint64 compressedSize = 0;
    QString originalKey;
    QString compressedKey;
    QString uploadUrl;
    bool uploaded = false;
    QString uploadFailure;  // why a started upload failed ("http %1: %2"); empty otherwise
    bool isCover = false;
    std::vector<FaceCrop> faces;
    int width = 0, height = 0;
};

// "http %1: %2" with the status and the body's "detail", or the whole body.
QString httpErrorText(int status, const QByteArray& body);

class DeliveryManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY runningChanged)
    Q_PROPERTY(int totalCount READ totalCount NOTIFY deliveryProgress)
    Q_PROPERTY(int doneCount READ doneCount NOTIFY deliveryProgress)
    Q_PROPERTY(QString currentPhase READ currentPhase NOTIFY phaseChanged)
    Q_PROPERTY(qlonglong actualCompressedBytes READ actualCompressedBytes NOTIFY actualSizeKnown)
    // Service settings for the Account page. The token itself is never readable.
    Q_PROPERTY(QString serviceUrl READ serviceUrl NOTIFY serviceSettingsChanged)
    Q_PROPERTY(QString serviceUrlSource READ serviceUrlSource NOTIFY serviceSettingsChanged)
    Q_PROPERTY(QString defaultServiceUrl READ defaultServiceUrl CONSTANT)
    Q_PROPERTY(bool hasAccessToken READ hasAccessToken NOTIFY serviceSettingsChanged)
    Q_PROPERTY(QString accessTokenSource READ accessTokenSource NOTIFY serviceSettingsChanged)
    // The JPEG quality of every compressed delivery copy (below level 100).
    Q_PROPERTY(int compressedJpegQuality READ compressedJpegQuality CONSTANT)
public:
    explicit DeliveryManager(QObject* parent = nullptr);
    ~DeliveryManager() override;

    void setTokenProvider(AccountTokenProvider* provider) {
        tokenProvider_ = provider;
        emit serviceSettingsChanged();
    }
    void setFaceModelPath(const QString& path) { faceModelPath_ = path; }
    // Points this manager at `url` whatever the settings say (source "application").
    void setBaseUrl(const QString& url);
    // The time and size limits of requests and uploads (tests shorten them).
    void setRequestLimits(const RequestLimits& limits) { limits_ = limits; }
    const RequestLimits& requestLimits() const { return limits_; }

    bool isRunning() const { return running_.load(); }
    int totalCount() const { return totalCount_.load(); }
    int doneCount() const { return doneCount_.load(); }
    QString currentPhase() const { return currentPhase_; }
    qlonglong actualCompressedBytes() const { return actualCompressedBytes_; }
    const std::vector<DeliveryItem>& items() const { return items_; }

    // The service address in effect and where it comes from: "environment"
    // ($KEEPFRAME_DELIVERY_URL), "settings", "default" or "application".
    QString serviceUrl() const;
    QString serviceUrlSource() const;
    static QString defaultServiceUrl();
    // Whether the token provider yields a token, and where it comes from:
    // "environment" ($KEEPFRAME_DELIVERY_TOKEN), "settings", "none" or "application".
    bool hasAccessToken() const;
    QString accessTokenSource() const;
    static int compressedJpegQuality();

    // Stores the service address (https, or http to this computer only); an
    // empty text returns to the default. The environment variable still wins.
    // Answers with serviceSettingsChanged or serviceSettingsChangeFailed(reason).
    Q_INVOKABLE bool setServiceUrl(const QString& url);
    // Stores or removes the access token read by DefaultTokenProvider, with
    // the same two signals; no signal or error text ever carries the token.
    Q_INVOKABLE bool setAccessToken(const QString& token);
    Q_INVOKABLE bool clearAccessToken();

    Q_INVOKABLE QVariantList scanFolder(const QString& folderUrl);
    Q_INVOKABLE void generateCoverThumbnails(const QVariantList& images);
    Q_INVOKABLE void startDelivery(const QString& galleryTitle, const QString& galleryPassword, int compressionLevel,
                                   const QVariantList& images, const QString& coverFilename = QString(),
                                   bool allowDownload = true, bool enableFaceSearch = false);
    Q_INVOKABLE void fetchGalleries();
    Q_INVOKABLE void fetchStudioProfile();
    Q_INVOKABLE void saveStudioProfile(const QString& studioName, const QString& phone);
    Q_INVOKABLE void changeGalleryPassword(const QString& galleryId, const QString& newPassword);
    Q_INVOKABLE void fetchGalleryFiles(const QString& galleryId);
    Q_INVOKABLE void setGalleryCover(const QString& galleryId, const QString& coverFileId);
    Q_INVOKABLE void setGalleryAllowDownload(const QString& galleryId, bool allow);
    Q_INVOKABLE void setGalleryFaceSearch(const QString& galleryId, bool enabled);
    Q_INVOKABLE void requestStorageTopup(int additionalGb);
    Q_INVOKABLE void checkTopupStatus(const QString& topupId);
    Q_INVOKABLE void deleteGallery(const QString& galleryId);

    // "created_at" of the service as local time (fraction cut to milliseconds;
    // without a zone the text is local time already).
    static QDateTime parseCreatedAt(const QString& text);

signals:
    void runningChanged();
    void phaseChanged(const QString& phase);
    void actualSizeKnown(qlonglong totalBytes);
    void deliveryProgress();
    void deliveryFinished(const QString& galleryId, const QString& gallerySlug, int succeeded, int failed);
    void deliveryFailed(const QString& reason);
    void galleriesReceived(qlonglong quotaBytes, qlonglong usedBytes, qlonglong remainingBytes,
                           int lifetimeGalleriesCreated, const QVariantList& galleries);
    void galleriesFetchFailed(const QString& reason);
    void studioProfileReceived(const QString& studioName, const QString& phone);
    void studioProfileFetchFailed(const QString& reason);
    void studioProfileSaved();
    void studioProfileSaveFailed(const QString& reason);
    void galleryFilesReceived(const QString& galleryId, const QString& currentCoverFileId,
                              const QVariantList& galleryFiles);
    void galleryFilesFetchFailed(const QString& reason);
    void galleryCoverChanged(const QString& galleryId);
    void galleryCoverChangeFailed(const QString& reason);
    void galleryDownloadSettingChanged(const QString& galleryId);
    void galleryDownloadSettingChangeFailed(const QString& reason);
    void galleryFaceSearchSettingChanged(const QString& galleryId);
    void galleryFaceSearchSettingChangeFailed(const QString& reason);
    void storageTopupCreated(const QString& topupId, int additionalGb, int remainingMonths, int amountRupees,
                             const QString& qrCodeId, const QString& qrImageUrl);
    void storageTopupFailed(const QString& reason);
    void topupStatusPending(const QString& topupId, int addedGb);
    void topupStatusPaid(const QString& topupId, int addedGb, qlonglong storageQuotaBytes);
    void topupStatusExpired(const QString& topupId);
    void topupStatusCheckFailed(const QString& reason);
    void coverThumbnailsReady(const QVariantList& thumbnails);
    void passwordChanged(const QString& galleryId);
    void passwordChangeFailed(const QString& reason);
    void galleryDeleted(const QString& galleryId);
    void galleryDeleteFailed(const QString& reason);
    void serviceSettingsChanged();
    void serviceSettingsChangeFailed(const QString& reason);

private:
    using Reply = std::function<void(int status, const QByteArray& body)>;
    using Failure = std::function<void(const QString& reason)>;
    using Answer = std::function<void(const QJsonObject& reply)>;

    // Why no service request can be sent with `token` to `base` (no token, or
    // an address that is not allowed); empty when one can.
    static QString requestProblem(const QString& token, const QString& base);
    bool changeSettings(bool stored, const QString& error);
    // Sends one service request; false (with `onFailure` called) when the
    // manager is not initialized, has no token, the address is not allowed or
    // `path` is empty (an identifier that is not one path segment, endpoint()).
    // A redirect is never followed: it ends the request with `onFailure`, and
    // so does passing a limit of limits_ (the reason names the limit).
    bool send(const QByteArray& verb, const QString& path, const QJsonObject* body, const Failure& onFailure,
              const Reply& onReply);
    // send() for a request the service answers with status 200 and a JSON
    // object: the object goes to `onAnswer`, any other status to `onFailure`.
    bool request(const QByteArray& verb, const QString& path, const QJsonObject* body, const Failure& onFailure,
                 const Answer& onAnswer);
    void postSetting(const QString& galleryId, const QJsonObject& setting, const std::function<void()>& ok,
                     const Failure& failed);
    void setPhase(const QString& phase);
    void setRunning(bool running);
    // Compresses the items and, with face search, collects their faces, on
    // the preparation job's thread; ends early (the result unused) once the job is stopped.
    void prepareItems(const JobControl& control);
    void sendUploadRequest();
    // Starts the first uploads, RequestLimits::parallelUploads of them.
    void startUploads();
    // Starts the next item's upload; an item that cannot be sent on the way is
    // counted as failed at once.
    void startNextUpload();
    void uploadFinishedOne();
    void sendCompletion();
    void finishThumbnails();

    AccountTokenProvider* tokenProvider_ = nullptr;
    QNetworkAccessManager network_;
    QString baseUrlOverride_;
    RequestLimits limits_;
    BackgroundJob* preparation_;  // compression and face crops of a delivery
    BackgroundJob* thumbnails_;   // cover thumbnails
    std::vector<DeliveryItem> items_;
    std::atomic<bool> running_{false};
    std::atomic<int> totalCount_{0}, doneCount_{0}, pendingUploads_{0};
    size_t nextUpload_ = 0;  // the item the next upload slot takes
    struct ThumbnailJob {
        QString filename, sourcePath, thumbnailPath;
    };
    std::vector<ThumbnailJob> thumbnailJobs_;
    QVariantList readyThumbnails_;
    int compressionLevel_ = 100;
    bool allowDownload_ = true;
    bool enableFaceSearch_ = false;
    QString faceModelPath_;
    std::unique_ptr<OnnxModel> faceDetector_;
    QString currentPhase_;
    qlonglong actualCompressedBytes_ = 0;
    QString galleryId_, galleryTitle_, galleryPassword_, gallerySlug_;
};

}  // namespace keepframe
