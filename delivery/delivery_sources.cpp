// Folder scanning and cover thumbnails for the Deliver page.
#include "delivery_manager.h"

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
    if (thumbnailsRunning_) return;
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
    thumbnailsRunning_ = true;
    thumbnailCursor_ = 0;
    readyThumbnails_ = ready;
    if (thumbnailThread_.joinable()) thumbnailThread_.join();
    thumbnailThread_ = std::thread([this] {
        const unsigned reported = std::thread::hardware_concurrency();
        const double h = reported < 2 ? 1.0 : double(reported);
        const size_t workers = std::min(thumbnailJobs_.size(), size_t(std::max(1L, std::lround(0.75 * h))));
        const QString folder = deliveryTempFolder() + "/cover_thumbs";
        QDir().mkpath(folder);  // when it cannot be made, every write below fails and says so by its empty path
        auto work = [this, folder] {
            for (qint64 i; (i = thumbnailCursor_.fetch_add(1)) < qint64(thumbnailJobs_.size());) {
                ThumbnailJob& job = thumbnailJobs_[size_t(i)];
                QImageReader reader(job.sourcePath);
                reader.setAutoTransform(true);
                const QSize size = reader.size();
                if (size.isValid()) reader.setScaledSize(size.scaled(200, 200, Qt::KeepAspectRatio));
                QImage image = reader.read();
                if (image.isNull()) continue;
                if (image.width() > 200 || image.height() > 200)
                    image = image.scaled(200, 200, Qt::KeepAspectRatio, Qt::SmoothTransformation);
                const QString path = folder + "/" + QString::number(qHash(job.sourcePath, 0)) + ".jpg";
                if (writeFileReplacing(path, [&image](QFileDevice& out) { return image.save(&out, "JPEG", 85); }))
                    job.thumbnailPath = path;
            }
        };
        std::vector<std::thread> pool;
        for (size_t w = 0; w < workers; ++w) pool.emplace_back(work);
        for (auto& t : pool) t.join();
        QMetaObject::invokeMethod(this, [this] { finishThumbnails(); }, Qt::QueuedConnection);
    });
}

void DeliveryManager::finishThumbnails() {
    QVariantList list = readyThumbnails_;
    for (const ThumbnailJob& job : thumbnailJobs_) {
        const QString url = job.thumbnailPath.isEmpty() ? QString() : QUrl::fromLocalFile(job.thumbnailPath).toString();
        list.push_back(QVariantMap{{"filename", job.filename}, {"sourcePath", job.sourcePath}, {"thumbUrl", url}});
    }
    thumbnailsRunning_ = false;
    emit coverThumbnailsReady(list);
}

}  // namespace keepframe
