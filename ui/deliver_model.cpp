#include "deliver_model.h"

#include "delivery_manager.h"
#include "model_fields.h"
#include "view_logic.h"

#include <QClipboard>
#include <QDateTime>
#include <QGuiApplication>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace keepframe {

namespace {

// A non-negative 64-bit value times a factor below 2^31, held exactly as
// high * 2^32 + low (low below 2^32), so that two such products compare
// without overflow whatever the byte counts.
struct WideProduct {
    quint64 high = 0, low = 0;
    WideProduct(qint64 value, quint32 factor) {
        const quint64 v = quint64(value), split = quint64(v & 0xffffffffu) * factor;
        high = (v >> 32) * factor + (split >> 32);
        low = split & 0xffffffffu;
    }
    bool operator<=(const WideProduct& other) const {
        return high != other.high ? high < other.high : low <= other.low;
    }
};

const char* const kUnreachablePrefix = "http 0: ";

}  // namespace

bool deliveryFitsQuota(qint64 sourceBytes, int level, qint64 remainingBytes) {
    if (remainingBytes < 0) return false;
    const qint64 source = std::max<qint64>(0, sourceBytes);
    const quint32 l = quint32(std::clamp(level, 10, 100));
    // estimate × 1.2 <= remaining, with estimate = source × l² / 10000:
    // 12 × source × l² <= 100000 × remaining, i.e. 3 × source × l² <= 25000 × remaining.
    return WideProduct(source, 3 * l * l) <= WideProduct(remainingBytes, 25000);
}

qint64 estimatedUploadBytes(qint64 sourceBytes, int level) {
    const int l = std::clamp(level, 10, 100);
    if (l == 100 || sourceBytes <= 0) return std::max<qint64>(0, sourceBytes);
    return qint64(std::llround(double(sourceBytes) * l * l / 10000.0));
}

QString readableDeliveryReason(const QString& reason, const QString& serviceUrl) {
    const qsizetype at = reason.indexOf(QLatin1String(kUnreachablePrefix));
    if (at < 0) return reason;
    const QString detail = reason.mid(at + qsizetype(qstrlen(kUnreachablePrefix))).trimmed();
    QString text = reason.left(at) + QStringLiteral("the delivery service at %1 could not be reached").arg(serviceUrl);
    if (!detail.isEmpty()) text += " (" + detail + ")";
    return text + QStringLiteral(" — check the connection, or the service address on the Account page");
}

DeliverModel::DeliverModel(QObject* parent) : QObject(parent) {}

QObject* DeliverModel::service() const { return service_.data(); }

DeliveryManager* DeliverModel::manager() const { return qobject_cast<DeliveryManager*>(service_.data()); }

void DeliverModel::setService(QObject* service) {
    if (service_ == service) return;
    if (service_) disconnect(service_, nullptr, this, nullptr);
    service_ = service;
    connectService();
    emit changed();
}

void DeliverModel::connectService() {
    DeliveryManager* m = manager();
    if (!m) return;
    connect(m, &DeliveryManager::galleriesReceived, this,
            [this](qlonglong quota, qlonglong used, qlonglong remaining, int lifetime, const QVariantList& galleries) {
                quotaLoaded_ = true;
                quota_ = quota;
                used_ = used;
                remaining_ = remaining;
                storageError_.clear();
                lifetimeGalleries_ = lifetime;
                galleries_ = galleries;
                emit changed();
            });
    connect(m, &DeliveryManager::galleriesFetchFailed, this, [this](const QString& reason) {
        quotaLoaded_ = false;
        storageError_ = reason;
        emit changed();
    });
    connect(m, &DeliveryManager::topupStatusPaid, this, [this](const QString&, int, qlonglong storageQuotaBytes) {
        if (!quotaLoaded_) return;
        quota_ = storageQuotaBytes;
        remaining_ = storageQuotaBytes - used_;
        emit changed();
    });
    connect(m, &DeliveryManager::actualSizeKnown, this, [this](qlonglong totalBytes) {
        actualBytes_ = totalBytes;
        emit changed();
    });
    connect(m, &DeliveryManager::deliveryFinished, this,
            [this](const QString&, const QString& slug, int succeeded, int failed) {
                resultText_ = QStringLiteral("Delivered — %1 uploaded").arg(succeeded);
                // Photographs that did not arrive must not go unnoticed.
                if (failed > 0) resultText_ += QStringLiteral(" (%1 failed)").arg(failed);
                resultLink_ = galleryLink(slug);
                emit changed();
                refresh();
            });
    connect(m, &DeliveryManager::deliveryFailed, this, [this](const QString& reason) {
        errorText_ = "Error: " + readableReason(reason);
        emit changed();
        refresh();
    });
    for (auto signal : {&DeliveryManager::runningChanged, &DeliveryManager::deliveryProgress,
                        &DeliveryManager::serviceSettingsChanged})
        connect(m, signal, this, &DeliverModel::changed);
    connect(m, &DeliveryManager::phaseChanged, this, &DeliverModel::changed);
}

QString DeliverModel::storageText() const {
    if (!storageError_.isEmpty()) return "Couldn't load storage/galleries: " + readableReason(storageError_);
    if (!quotaLoaded_) return QStringLiteral("Loading storage usage…");
    return QStringLiteral("Storage: %1 used of %2  (%3 remaining)")
        .arg(gigabytes(used_), gigabytes(quota_), gigabytes(remaining_));
}

double DeliverModel::storageUsedFraction() const {
    if (quota_ <= 0) return 0.0;
    return std::clamp(double(used_) / double(quota_), 0.0, 1.0);
}

void DeliverModel::setImages(const QVariantList& images) {
    // The same images read again (the page shown again) keep their cover;
    // another list drops it, as the cover may not be among them.
    if (!sameImages(images, images_)) cover_.clear();
    images_ = images;
    sourceBytes_ = 0;
    for (const QVariant& v : images_) sourceBytes_ += std::max<qint64>(0, v.toMap().value("size").toLongLong());
    emit changed();
}

void DeliverModel::setCoverFilename(const QString& filename) {
    if (setField(cover_, filename)) emit changed();
}

void DeliverModel::setLevel(int level) {
    const int l = std::clamp(level, 10, 100);
    if (setField(level_, l)) emit changed();
}

void DeliverModel::setTitle(const QString& title) {
    if (setField(title_, title)) emit changed();
}

void DeliverModel::setPassword(const QString& password) {
    if (setField(password_, password)) emit changed();
}

void DeliverModel::setAllowDownload(bool allow) {
    if (setField(allowDownload_, allow)) emit changed();
}

void DeliverModel::setFaceSearch(bool enabled) {
    if (setField(faceSearch_, enabled)) emit changed();
}

QString DeliverModel::sourceText() const {
    return QStringLiteral("%1 image(s) selected — %2 total")
        .arg(images_.size())
        .arg(ViewLogic::sizeText(sourceBytes_));
}

QString DeliverModel::uploadSizeText() const {
    if (level_ >= 100) return QStringLiteral("Upload size — Original (untouched, no compression)");
    return QStringLiteral("Upload size — %1% of original resolution, JPEG quality %2%, ~%3 (estimated)")
        .arg(level_)
        .arg(DeliveryManager::compressedJpegQuality())
        .arg(ViewLogic::sizeText(estimateBytes()));
}

bool DeliverModel::exceedsQuota() const {
    return !images_.isEmpty() && quotaLoaded_ && !deliveryFitsQuota(sourceBytes_, level_, remaining_);
}

bool DeliverModel::canStart() const {
    return manager() && !running() && !images_.isEmpty() && !title_.isEmpty() && !password_.isEmpty() &&
           quotaLoaded_ && deliveryFitsQuota(sourceBytes_, level_, remaining_);
}

bool DeliverModel::running() const { return manager() && manager()->isRunning(); }

QString DeliverModel::progressTitle() const {
    const QString phase = manager() ? manager()->currentPhase() : QString();
    const QString doing = phase == "compressing" ? QStringLiteral("compressing files…")
                          : phase == "detecting" ? QStringLiteral("detecting faces…")
                          : phase == "uploading" ? QStringLiteral("uploading files…")
                                                 : QStringLiteral("working…");
    return "Please wait — " + doing;
}

QString DeliverModel::progressCount() const {
    const DeliveryManager* m = manager();
    if (!m) return {};
    const QString phase = m->currentPhase();
    const QString unit = phase == "compressing" ? QStringLiteral("compressed")
                         : phase == "detecting" ? QStringLiteral("checked for faces")
                         : phase == "uploading" ? QStringLiteral("uploaded")
                                                : QStringLiteral("done");
    return QStringLiteral("%1 / %2 %3").arg(m->doneCount()).arg(m->totalCount()).arg(unit);
}

QString DeliverModel::actualSizeText() const {
    return actualBytes_ > 0 ? "Actual total to upload: " + ViewLogic::sizeText(actualBytes_) : QString();
}

void DeliverModel::refresh() {
    quotaLoaded_ = false;
    storageError_.clear();
    emit changed();
    if (DeliveryManager* m = manager()) m->fetchGalleries();
}

bool DeliverModel::start() {
    if (!canStart()) return false;
    errorText_.clear();
    resultText_.clear();
    resultLink_.clear();
    actualBytes_ = 0;
    emit changed();
    manager()->startDelivery(title_, password_, level_, images_, cover_, allowDownload_, faceSearch_);
    return true;
}

QString DeliverModel::galleryLink(const QString& slug) const {
    const QString base = manager() ? manager()->serviceUrl() : QString();
    return base + "/gallery.html?g=" + QString::fromLatin1(QUrl::toPercentEncoding(slug));
}

QString DeliverModel::galleryDetails(const QVariantMap& gallery) {
    const QDateTime created = gallery.value("createdAt").toDateTime();
    QString text = QStringLiteral("%1 image(s) · %2 · %3 · Face search %4")
                       .arg(gallery.value("fileCount").toInt())
                       .arg(ViewLogic::sizeText(gallery.value("sizeBytes").toLongLong()))
                       .arg(created.isValid() ? created.toString("yyyy-MM-dd") : QStringLiteral("date unknown"))
                       .arg(gallery.value("faceSearchEnabled").toBool() ? "on" : "off");
    const QString status = gallery.value("status").toString();
    if (status != "active") text += " · " + status;
    return text;
}

QString DeliverModel::gigabytes(qlonglong bytes) {
    return QString::number(double(bytes) / 1073741824.0, 'f', 2) + " GB";
}

QString DeliverModel::topupPriceText(int amountRupees, int remainingMonths) {
    return QStringLiteral("₹%1 covers the remaining %2 month%3 of your current term.")
        .arg(amountRupees)
        .arg(remainingMonths)
        .arg(remainingMonths == 1 ? "" : "s");
}

bool DeliverModel::sameImages(const QVariantList& a, const QVariantList& b) {
    if (a.size() != b.size()) return false;
    const auto paths = [](const QVariantList& list) {
        QStringList out;
        for (const QVariant& v : list) out << v.toMap().value("sourcePath").toString();
        out.sort();
        return out;
    };
    return paths(a) == paths(b);
}

QString DeliverModel::readableReason(const QString& reason) const {
    return readableDeliveryReason(reason, manager() ? manager()->serviceUrl() : QString());
}

void DeliverModel::copyToClipboard(const QString& text) {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(text);
}

}  // namespace keepframe
