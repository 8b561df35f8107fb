#include "frame_image_provider.h"

#include <QCache>
#include <QDir>
#include <QImageReader>
#include <QMutex>
#include <QRunnable>
#include <QSet>
#include <QThread>
#include <QUrl>
#include <QWaitCondition>

#include <algorithm>
#include <atomic>
#include <climits>
#include <functional>

namespace keepframe {

namespace {

const QString kScreen = QStringLiteral("screen");
const QString kFull = QStringLiteral("full");

// Screen-size frames: a moment of twenty at 2048 pixels. Full-resolution
// ones: two 24 MP frames (the two panes), in KB.
constexpr qint64 kScreenBudgetKb = 20 * 2048 * 1366 * 4 / 1024;
constexpr qint64 kFullBudgetKb = 2 * 6000 * 4000 * 4 / 1024;

qint64 costKb(const QImage& image) { return std::max<qint64>(1, image.sizeInBytes() / 1024); }

}  // namespace

// The frames decoded last and the decodes under way, shared by the provider
// and its responses (a response may outlive neither: the provider waits).
class FrameCache {
public:
    FrameCache() {
        screen_.setMaxCost(kScreenBudgetKb);
        full_.setMaxCost(kFullBudgetKb);
    }

    // The frame of a provider id ("screen/<path>" or "full/<path>", the path percent-encoded).
    QImage frame(const QString& id, const QSize& box, QString* error) {
        const qsizetype slash = id.indexOf('/');
        const QString kind = id.left(slash);
        const QString path = QUrl::fromPercentEncoding(id.mid(slash + 1).toUtf8());
        if (slash < 0 || (kind != kScreen && kind != kFull) || !QDir::isAbsolutePath(path)) {
            *error = "Not a frame: " + id;
            return {};
        }
        const bool full = kind == kFull;
        const QString key = full ? kFull + "|" + path
                                 : QStringLiteral("%1|%2x%3|%4").arg(kScreen).arg(box.width()).arg(box.height())
                                       .arg(path);
        const QImage image = get(key, full, [&] { return FrameImageProvider::decode(path, full, box, error); });
        if (image.isNull() && error->isEmpty()) *error = "Cannot read " + path;
        return image;
    }

    int decodes() const {
        QMutexLocker lock(&mutex_);
        return decodes_;
    }
    int hits() const {
        QMutexLocker lock(&mutex_);
        return hits_;
    }

private:
    // The kept image of `key`, else the result of `decode` (run once however
    // many ask at the same time).
    QImage get(const QString& key, bool full, const std::function<QImage()>& decode) {
        QMutexLocker lock(&mutex_);
        QCache<QString, QImage>& kept = full ? full_ : screen_;
        for (;;) {
            if (const QImage* image = kept.object(key)) {
                ++hits_;
                return *image;
            }
            if (!pending_.contains(key)) break;
            done_.wait(&mutex_);
        }
        pending_.insert(key);
        lock.unlock();
        const QImage image = decode();
        lock.relock();
        pending_.remove(key);
        ++decodes_;
        if (!image.isNull()) kept.insert(key, new QImage(image), costKb(image));
        done_.wakeAll();
        return image;
    }

    mutable QMutex mutex_;
    QWaitCondition done_;
    QCache<QString, QImage> screen_, full_;
    QSet<QString> pending_;
    int decodes_ = 0, hits_ = 0;
};

namespace {

class FrameResponse : public QQuickImageResponse, public QRunnable {
public:
    FrameResponse(std::shared_ptr<FrameCache> cache, QString id, QSize box)
        : cache_(std::move(cache)), id_(std::move(id)), box_(box) {
        setAutoDelete(false);  // the engine deletes the response once finished() is told
    }

    void run() override {
        // A frame stepped past before its turn came is not read at all.
        if (!cancelled_) image_ = cache_->frame(id_, box_, &error_);
        emit finished();
    }

    void cancel() override { cancelled_ = true; }

    QQuickTextureFactory* textureFactory() const override {
        return QQuickTextureFactory::textureFactoryForImage(image_);
    }
    QString errorString() const override { return error_; }

private:
    std::shared_ptr<FrameCache> cache_;
    QString id_;
    QSize box_;
    QImage image_;
    QString error_;
    std::atomic<bool> cancelled_{false};
};

}  // namespace

FrameImageProvider::FrameImageProvider() : cache_(std::make_shared<FrameCache>()) {
    // Both panes and the frame decoded ahead at once; more only where there are cores for them.
    pool_.setMaxThreadCount(std::max(3, QThread::idealThreadCount() / 2));
}

FrameImageProvider::~FrameImageProvider() { pool_.waitForDone(); }

QQuickImageResponse* FrameImageProvider::requestImageResponse(const QString& id, const QSize& requestedSize) {
    auto* response = new FrameResponse(cache_, id, requestedSize);
    pool_.start(response);
    return response;
}

QString FrameImageProvider::url(const QString& localPath, bool full) {
    if (localPath.isEmpty()) return {};
    return "image://frames/" + (full ? kFull : kScreen) + "/" + QString::fromLatin1(QUrl::toPercentEncoding(localPath));
}

QImage FrameImageProvider::decode(const QString& localPath, bool full, const QSize& box, QString* error) {
    QImageReader reader(localPath);
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    if (!full && stored.isValid()) {
        const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
        QSize bounds(box.width() > 0 ? box.width() : INT_MAX, box.height() > 0 ? box.height() : INT_MAX);
        if (turned) bounds.transpose();
        if (stored.width() > bounds.width() || stored.height() > bounds.height())
            reader.setScaledSize(stored.scaled(bounds, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    }
    QImage image = reader.read();
    if (image.isNull() && error) *error = localPath + ": " + reader.errorString();
    return image;
}

QImage FrameImageProvider::frame(const QString& id, const QSize& box, QString* error) {
    QString ignored;
    return cache_->frame(id, box, error ? error : &ignored);
}

int FrameImageProvider::decodes() const { return cache_->decodes(); }
int FrameImageProvider::hits() const { return cache_->hits(); }

}  // namespace keepframe
