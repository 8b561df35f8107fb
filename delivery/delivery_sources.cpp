// Folder scanning and cover thumbnails for the Deliver page.
#include "delivery_manager.h"

#include "background_job.h"

#include "delivery_files.h"
#include "path_safety.h"

#include <QDir>
#include <QFileDevice>
#include <QImage>
#include <QImageReader>
#include <QUrl>

#include <cmath>
#include <thread>

namespace keepframe {

namespace {

// The path of a 200-pixel JPEG of `sourcePath` written into `folder`; empty
// when the source cannot be read or the file written.
QString thumbnailOf(const QString& sourcePath, const QString& folder) {
    QImageReader reader(sourcePath);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid()) reader.setScaledSize(size.scaled(200, 200, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull()) return {};
    if (image.width() > 200 || image.height() > 200)
        image = image.scaled(200, 200, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    const QString path = folder + "/" + QString::number(qHash(sourcePath, 0)) + ".jpg";
    const bool written = writeFileReplacing(path, [&image](QFileDevice& out) { return image.save(&out, "JPEG", 85); });
    return written ? path : QString();
}

}  // namespace

QVariantList DeliveryManager::scanFolder(const QString& folderUrl) {
    const QString folder = QUrl(folderUrl).toLocalFile();
    if (folder.isEmpty()) return {};
    const QFileInfoList files =
        QDir(folder).entryInfoList({"*.jpg", "*.jpeg", "*.JPG", "*.JPEG"}, QDir::Files, QDir::Name);
    QVariantList out;
    for (int i = 0; i < files.size(); ++i)
        out.push_back(QVariantMap{{"id", i},
                                  {"filename", files[i].fileName()},
                                  {"sourcePath", files[i].absoluteFilePath()},
                                  {"size", files[i].size()}});
    return out;
}

void DeliveryManager::generateCoverThumbnails(const QVariantList& images) {
    if (thumbnails_->isActive()) return;
    thumbnailJobs_.clear();
    QVariantList ready;
    for (const QVariant& v : images) {
        const QVariantMap m = v.toMap();
        if (!m["thumbUrl"].toString().isEmpty()) ready.push_back(m);
        else thumbnailJobs_.push_back({m["filename"].toString(), m["sourcePath"].toString(), {}});
    }
    if (thumbnailJobs_.empty()) {
        emit coverThumbnailsReady(ready);
        return;
    }
    readyThumbnails_ = ready;
    const auto work = [this](JobControl& control) {
        const QString folder = deliveryTempFolder() + "/cover_thumbs";
        QDir().mkpath(folder);  // when it cannot be made, every write below fails and says so by its empty path
        control.forEach(thumbnailJobs_.size(), [this, folder] {
            return [this, folder](size_t i) {
                ThumbnailJob& job = thumbnailJobs_[i];
                job.thumbnailPath = thumbnailOf(job.sourcePath, folder);
            };
        });
        return QVariant();
    };
    const unsigned reported = std::thread::hardware_concurrency();
    const double h = reported < 2 ? 1.0 : double(reported);
    if (!thumbnails_->start(work, int(std::max(1L, std::lround(0.75 * h))))) finishThumbnails();
}

void DeliveryManager::finishThumbnails() {
    QVariantList list = readyThumbnails_;
    for (const ThumbnailJob& job : thumbnailJobs_) {
        const QString url = job.thumbnailPath.isEmpty() ? QString() : QUrl::fromLocalFile(job.thumbnailPath).toString();
        list.push_back(QVariantMap{{"filename", job.filename}, {"sourcePath", job.sourcePath}, {"thumbUrl", url}});
    }
    emit coverThumbnailsReady(list);
}

}  // namespace keepframe
