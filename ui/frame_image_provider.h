// The photographs of the compare view, decoded off the GUI thread (published
// to QML as the image provider "frames"): "image://frames/screen/<path>" at
// the size shown (within the Image's sourceSize), "image://frames/full/<path>"
// at full resolution, both upright as the file's EXIF orientation says. The
// last frames decoded are kept, so that a frame decoded ahead (the next one of
// a moment) or shown a moment ago appears at once; a request for a frame that
// is being decoded waits for that decode instead of starting another.
#pragma once

#include <QImage>
#include <QQuickAsyncImageProvider>
#include <QSize>
#include <QString>
#include <QThreadPool>

#include <memory>

namespace keepframe {

class FrameCache;

class FrameImageProvider : public QQuickAsyncImageProvider {
public:
    FrameImageProvider();
    // Waits for the decodes still running.
    ~FrameImageProvider() override;

    QQuickImageResponse* requestImageResponse(const QString& id, const QSize& requestedSize) override;

    // The URL of a local file for this provider; empty for an empty path.
    static QString url(const QString& localPath, bool full);
    // Reads a file upright; without `full` scaled down (never up) to fit
    // `box` (a side of 0 or less leaves that side free). A null image and
    // `error` set when the file cannot be read.
    static QImage decode(const QString& localPath, bool full, const QSize& box, QString* error);

    // What a response to `id` gives, read on the calling thread (through the kept frames, as a response does).
    QImage frame(const QString& id, const QSize& box, QString* error = nullptr);
    // Frames decoded so far, and those served from the kept ones (for the tests and the benchmark).
    int decodes() const;
    int hits() const;

private:
    std::shared_ptr<FrameCache> cache_;
    QThreadPool pool_;
};

}  // namespace keepframe
