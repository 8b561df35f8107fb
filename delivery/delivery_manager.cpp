// Request machinery and gallery management.
#include "delivery_manager.h"

#include "background_job.h"

#include "account_token.h"
#include "jpeg_encoder.h"
#include "onnx_model.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimeZone>

namespace keepframe {

QString httpErrorText(int status, const QByteArray& body) {
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    const QString detail = doc.isObject() ? doc.object().value("detail").toString() : QString();
    return QStringLiteral("http %1: %2").arg(status).arg(detail.isEmpty() ? QString::fromUtf8(body) : detail);
}

namespace {

const char* const kNoAccessToken = "No access token: add your delivery service token on the Account page.";
const char* const kInvalidId = "Invalid identifier: it cannot be sent as one name in the address; nothing was sent.";

// `pattern` with `id` in place of %1 as exactly one path segment: percent-encoded,
// so that a "/", "?", "#" or "%" in an identifier (the service hands many of them
// out) never reaches another path. Empty when `id` cannot be one segment.
QString endpoint(const char* pattern, const QString& id) {
    if (id.isEmpty() || id == "." || id == "..") return {};
    return QString::fromLatin1(pattern).arg(QString::fromLatin1(QUrl::toPercentEncoding(id)));
}

// A redirect would carry the bearer token, or the photographs, to wherever it
// points; it is reported instead of followed.
QString redirectRefusal(int status, const QNetworkReply& reply) {
    const QString target = QString::fromUtf8(reply.rawHeader("Location"));
    return QStringLiteral("http %1: the service redirected the request to %2; redirects are not followed "
                          "(check the service address)")
        .arg(status)
        .arg(target.isEmpty() ? QStringLiteral("another address") : target);
}

}  // namespace

DeliveryManager::DeliveryManager(QObject* parent)
    : QObject(parent),
      preparation_(new BackgroundJob(QStringLiteral("the images could not be prepared"), this)),
      thumbnails_(new BackgroundJob(QStringLiteral("the cover thumbnails could not be made"), this)) {
    // Service requests (with the token) and storage uploads alike: a 3xx answer is final.
    network_.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    connect(preparation_, &BackgroundJob::finished, this, [this] {
        setPhase(QStringLiteral("uploading"));
        sendUploadRequest();
    });
    connect(preparation_, &BackgroundJob::failed, this, [this](const QString& reason) {
        setRunning(false);
        emit deliveryFailed(reason);
    });
    connect(thumbnails_, &BackgroundJob::finished, this, &DeliveryManager::finishThumbnails);
    connect(thumbnails_, &BackgroundJob::failed, this, &DeliveryManager::finishThumbnails);
}

DeliveryManager::~DeliveryManager() {
    // The work uses this object's items and settings: it ends before they go.
    preparation_->stop(BackgroundJob::End::Discard);
    thumbnails_->stop(BackgroundJob::End::Discard);
}

void DeliveryManager::setBaseUrl(const QString& url) {
    baseUrlOverride_ = url;
    while (baseUrlOverride_.endsWith('/')) baseUrlOverride_.chop(1);
    emit serviceSettingsChanged();
}

// ---------------------------------------------------------------- settings

QString DeliveryManager::serviceUrl() const {
    return baseUrlOverride_.isEmpty() ? deliveryServiceUrlSetting().value : baseUrlOverride_;
}

QString DeliveryManager::serviceUrlSource() const {
    return baseUrlOverride_.isEmpty() ? deliveryServiceUrlSetting().source : QStringLiteral("application");
}

QString DeliveryManager::defaultServiceUrl() { return QString::fromLatin1(kDefaultDeliveryBaseUrl); }

bool DeliveryManager::hasAccessToken() const { return tokenProvider_ && !tokenProvider_->accessToken().isEmpty(); }

QString DeliveryManager::accessTokenSource() const {
    return tokenProvider_ ? tokenProvider_->accessTokenSource() : QStringLiteral("none");
}

int DeliveryManager::compressedJpegQuality() { return deliveryCopyJpegOptions().quality; }

bool DeliveryManager::changeSettings(bool stored, const QString& error) {
    if (stored) {
        emit serviceSettingsChanged();
    } else {
        emit serviceSettingsChangeFailed(error);
    }
    return stored;
}

bool DeliveryManager::setServiceUrl(const QString& url) {
    QString error;
    return changeSettings(storeDeliveryServiceUrl(url, &error), error);
}

bool DeliveryManager::setAccessToken(const QString& token) {
    if (token.trimmed().isEmpty())
        return changeSettings(false, QStringLiteral("Paste the access token first (Clear removes the stored one)."));
    QString error;
    return changeSettings(storeDeliveryAccessToken(token, &error), error);
}

bool DeliveryManager::clearAccessToken() {
    QString error;
    return changeSettings(storeDeliveryAccessToken(QString(), &error), error);
}

// ---------------------------------------------------------------- requests

QString DeliveryManager::requestProblem(const QString& token, const QString& base) {
    if (token.isEmpty()) return QString::fromUtf8(kNoAccessToken);
    // Tokens and photographs never travel unencrypted to another machine.
    if (!isAllowedServiceUrl(base))
        return QStringLiteral("Refusing to contact %1: the delivery service must be reached over HTTPS.").arg(base);
    return {};
}

bool DeliveryManager::send(const QByteArray& verb, const QString& path, const QJsonObject* body,
                           const Failure& onFailure, const Reply& onReply) {
    if (!tokenProvider_) {
        onFailure(QStringLiteral("Not initialized."));
        return false;
    }
    const QString token = tokenProvider_->accessToken();
    const QString base = serviceUrl();
    const QString problem = requestProblem(token, base);
    if (!problem.isEmpty()) {
        onFailure(problem);
        return false;
    }
    if (path.isEmpty()) {
        onFailure(QString::fromUtf8(kInvalidId));
        return false;
    }
    QNetworkRequest request{QUrl(base + path)};
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    QNetworkReply* reply = nullptr;
    if (body) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        reply = network_.sendCustomRequest(request, verb, QJsonDocument(*body).toJson());
    } else if (verb == "GET") {
        reply = network_.get(request);
    } else if (verb == "DELETE") {
        reply = network_.deleteResource(request);
    } else {
        reply = network_.sendCustomRequest(request, verb);
    }
    auto* watch = new ReplyWatch(reply, limits_.serviceStallMs, limits_.answerMs, limits_.maxAnswerBytes);
    connect(reply, &QNetworkReply::finished, this, [reply, watch, onReply, onFailure] {
        reply->deleteLater();
        watch->finish();
        if (!watch->failure().isEmpty()) {
            onFailure(watch->failure());
            return;
        }
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status == 0) {
            // No answer at all (refused, no network, TLS, timeout): the reason is Qt's own.
            onFailure(QStringLiteral("http 0: %1").arg(reply->errorString()));
            return;
        }
        if (status >= 300 && status <= 399) {
            onFailure(redirectRefusal(status, *reply));
            return;
        }
        onReply(status, watch->body());
    });
    return true;
}

// ---------------------------------------------------------------- galleries

QDateTime DeliveryManager::parseCreatedAt(const QString& text) {
    static const QRegularExpression fraction("\\.(\\d{3})\\d*");
    QString t = text;
    t.replace(' ', 'T');
    t.replace(fraction, ".\\1");
    QDateTime when = QDateTime::fromString(t, Qt::ISODateWithMs);
    if (!when.isValid()) when = QDateTime::fromString(t, Qt::ISODate);
    return when.toLocalTime();
}

bool DeliveryManager::request(const QByteArray& verb, const QString& path, const QJsonObject* body,
                              const Failure& onFailure, const Answer& onAnswer) {
    return send(verb, path, body, onFailure, [onFailure, onAnswer](int status, const QByteArray& reply) {
        if (status != 200) return onFailure(httpErrorText(status, reply));
        onAnswer(QJsonDocument::fromJson(reply).object());
    });
}

void DeliveryManager::fetchGalleries() {
    const Failure failed = [this](const QString& r) { emit galleriesFetchFailed(r); };
    request("GET", "/deliver/galleries", nullptr, failed, [this](const QJsonObject& o) {
        QVariantList galleries;
        for (const QJsonValue& v : o.value("galleries").toArray()) {
            const QJsonObject g = v.toObject();
            galleries.push_back(QVariantMap{{"galleryId", g.value("gallery_id").toString()},
                                            {"title", g.value("title").toString()},
                                            {"slug", g.value("slug").toString()},
                                            {"fileCount", g.value("file_count").toInt()},
                                            {"sizeBytes", g.value("size_bytes").toVariant().toLongLong()},
                                            {"status", g.value("status").toString()},
                                            {"faceSearchEnabled", g.value("face_search_enabled").toBool()},
                                            {"faceDataRows", g.value("face_data_rows").toInt()},
                                            {"createdAt", parseCreatedAt(g.value("created_at").toString())}});
        }
        emit galleriesReceived(o.value("quota_bytes").toVariant().toLongLong(),
                               o.value("used_bytes").toVariant().toLongLong(),
                               o.value("remaining_bytes").toVariant().toLongLong(),
                               o.value("lifetime_galleries_created").toInt(), galleries);
    });
}

void DeliveryManager::fetchGalleryFiles(const QString& galleryId) {
    const Failure failed = [this](const QString& r) { emit galleryFilesFetchFailed(r); };
    request("GET", endpoint("/deliver/galleries/%1/files", galleryId), nullptr, failed,
            [this, galleryId](const QJsonObject& o) {
                QVariantList files;
                for (const QJsonValue& v : o.value("files").toArray())
                    files.push_back(QVariantMap{{"fileId", v.toObject().value("file_id").toString()},
                                                {"filename", v.toObject().value("filename").toString()}});
                emit galleryFilesReceived(galleryId, o.value("current_cover_file_id").toString(), files);
            });
}

void DeliveryManager::postSetting(const QString& galleryId, const QJsonObject& setting, const std::function<void()>& ok,
                                  const Failure& failed) {
    request("POST", endpoint("/deliver/galleries/%1/settings", galleryId), &setting, failed,
            [ok](const QJsonObject&) { ok(); });
}

void DeliveryManager::setGalleryCover(const QString& galleryId, const QString& coverFileId) {
    postSetting(galleryId, {{"cover_file_id", coverFileId}}, [this, galleryId] { emit galleryCoverChanged(galleryId); },
                [this](const QString& r) { emit galleryCoverChangeFailed(r); });
}

void DeliveryManager::setGalleryAllowDownload(const QString& galleryId, bool allow) {
    postSetting(galleryId, {{"allow_download", allow}},
                [this, galleryId] { emit galleryDownloadSettingChanged(galleryId); },
                [this](const QString& r) { emit galleryDownloadSettingChangeFailed(r); });
}

void DeliveryManager::setGalleryFaceSearch(const QString& galleryId, bool enabled) {
    postSetting(galleryId, {{"face_search_enabled", enabled}},
                [this, galleryId] { emit galleryFaceSearchSettingChanged(galleryId); },
                [this](const QString& r) { emit galleryFaceSearchSettingChangeFailed(r); });
}

void DeliveryManager::changeGalleryPassword(const QString& galleryId, const QString& newPassword) {
    const Failure failed = [this](const QString& r) { emit passwordChangeFailed(r); };
    const QJsonObject body{{"new_password", newPassword}};
    request("POST", endpoint("/gallery/%1/change-password", galleryId), &body, failed,
            [this, galleryId](const QJsonObject&) { emit passwordChanged(galleryId); });
}

void DeliveryManager::deleteGallery(const QString& galleryId) {
    const Failure failed = [this](const QString& r) { emit galleryDeleteFailed(r); };
    request("DELETE", endpoint("/deliver/galleries/%1", galleryId), nullptr, failed,
            [this, galleryId](const QJsonObject&) { emit galleryDeleted(galleryId); });
}

void DeliveryManager::fetchStudioProfile() {
    const Failure failed = [this](const QString& r) { emit studioProfileFetchFailed(r); };
    request("GET", "/deliver/profile", nullptr, failed, [this](const QJsonObject& o) {
        emit studioProfileReceived(o.value("studio_name").toString(), o.value("public_contact_phone").toString());
    });
}

void DeliveryManager::saveStudioProfile(const QString& studioName, const QString& phone) {
    const Failure failed = [this](const QString& r) { emit studioProfileSaveFailed(r); };
    if (!tokenProvider_) return failed(QStringLiteral("Not initialized."));
    QJsonObject body;
    if (!studioName.isEmpty()) body["studio_name"] = studioName;
    if (!phone.isEmpty()) body["public_contact_phone"] = phone;
    if (body.isEmpty()) return failed(QStringLiteral("Nothing to save."));
    request("POST", "/deliver/profile", &body, failed, [this](const QJsonObject&) { emit studioProfileSaved(); });
}

void DeliveryManager::requestStorageTopup(int additionalGb) {
    const Failure failed = [this](const QString& r) { emit storageTopupFailed(r); };
    if (additionalGb <= 0 || additionalGb % 10 != 0)
        return failed(QStringLiteral("Amount must be a positive multiple of 10 GB."));
    const QJsonObject body{{"additional_gb", additionalGb}};
    send("POST", "/deliver/storage/topup", &body, failed, [this, failed](int status, const QByteArray& reply) {
        if (status == 503) return failed(QStringLiteral("Couldn't generate a payment code — try again."));
        if (status != 200) return failed(httpErrorText(status, reply));
        const QJsonObject o = QJsonDocument::fromJson(reply).object();
        // The page shows the payment code from this address: never a local file or plain http elsewhere
        // (a missing address reads as empty, as every missing key does, and shows nothing).
        const QString qrImageUrl = o.value("qr_image_url").toString();
        if (!qrImageUrl.isEmpty() && !isAllowedServiceUrl(qrImageUrl))
            return failed(QStringLiteral("The service gave a payment code address that is not https; "
                                         "it was not opened."));
        emit storageTopupCreated(o.value("topup_id").toString(), o.value("additional_gb").toInt(),
                                 o.value("remaining_months").toInt(), o.value("amount_rupees").toInt(),
                                 o.value("qr_code_id").toString(), qrImageUrl);
    });
}

void DeliveryManager::checkTopupStatus(const QString& topupId) {
    const Failure failed = [this](const QString& r) { emit topupStatusCheckFailed(r); };
    request("GET", endpoint("/deliver/storage/topup/%1/status", topupId), nullptr, failed,
            [this, topupId](const QJsonObject& o) {
                const QString state = o.value("status").toString();
                const int added = o.value("added_gb").toInt();
                if (state == "paid") {
                    emit topupStatusPaid(topupId, added, o.value("storage_quota_bytes").toVariant().toLongLong());
                } else if (state == "expired") {
                    emit topupStatusExpired(topupId);
                } else {
                    emit topupStatusPending(topupId, added);
                }
            });
}

}  // namespace keepframe
