// One delivery: compress, detect faces (optional), upload, complete.
#include "delivery_manager.h"

#include "account_token.h"
#include "background_job.h"
#include "delivery_files.h"
#include "faces.h"
#include "image_decode.h"
#include "jpeg_encoder.h"
#include "path_safety.h"
#include "paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>

#include <algorithm>
#include <memory>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace keepframe {

namespace {

// The delivery worker's memory for the frames it decodes one after another:
// a 24 MP frame takes 72 MB, which a worker thread would otherwise take
// afresh, and fault in page by page, for every frame.
struct FrameBuffers {
    std::vector<uint8_t> bytes;
    cv::Mat stored, upright;
};

// The frame upright, in the buffers' memory; empty for one that is too large,
// damaged or no image: a damaged frame is never handed to a client as a whole one.
cv::Mat decodeColour(const QString& path, FrameBuffers& frames) {
    if (!readFileBytes(path.toStdString(), frames.bytes)) return {};
    const DecodedImage decoded = decodeImage(frames.bytes, 1, &frames.stored, &frames.upright);
    return decoded.status == DecodeStatus::Ok ? decoded.image : cv::Mat();
}

// The resized copy of one item; its path, or empty when it could not be made.
QString compress(DeliveryItem& item, int level, FrameBuffers& frames) {
    const cv::Mat image = decodeColour(item.sourcePath, frames);
    if (image.empty()) return {};
    cv::Mat small;
    const double s = level / 100.0;
    cv::resize(image, small, cv::Size(), s, s, cv::INTER_AREA);
    item.width = small.cols;
    item.height = small.rows;
    std::vector<uint8_t> jpeg;
    // The quality DeliveryManager::compressedJpegQuality reports to the Deliver page.
    if (!encodeJpeg(small, deliveryCopyJpegOptions(), jpeg)) return {};
    const QString folder = deliveryTempFolder();
    const QString path = folder + QStringLiteral("/%1_compressed.jpg").arg(item.index);
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(jpeg.data()), qsizetype(jpeg.size()));
    return QDir().mkpath(folder) && writeBytesReplacing(path, bytes) ? path : QString();
}

// The size of the image as shown, without decoding it: a stored size turned by
// a quarter for orientations 5 to 8; invalid when the file cannot be read.
QSize uprightSize(const QString& path) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    if (!stored.isValid()) return {};
    return reader.transformation().testFlag(QImageIOHandler::TransformationRotate90) ? stored.transposed() : stored;
}

void collectFaces(DeliveryItem& item, const OnnxModel& detector, FrameBuffers& frames) {
    const cv::Mat image = decodeColour(item.sourcePath, frames);
    if (image.empty()) return;
    std::vector<FaceCandidate> found;
    try {
        found = detectFaces(detector, image, 0.3f);
    } catch (const std::exception&) {
        return;
    }
    for (const FaceCandidate& c : found) {
        Landmarks lm;
        std::copy(c.begin() + 5, c.end(), lm.begin());
        const cv::Mat face = alignFace(image, lm);
        if (face.empty()) continue;
        std::vector<uint8_t> jpeg;
        if (!cv::imencode(".jpg", face, jpeg, {cv::IMWRITE_JPEG_QUALITY, 90})) continue;
        const QByteArray bytes(reinterpret_cast<const char*>(jpeg.data()), qsizetype(jpeg.size()));
        item.faces.push_back(
            {QString::fromLatin1(bytes.toBase64()), int(c[0]), int(c[1]), int(c[2] - c[0]), int(c[3] - c[1])});
    }
}

}  // namespace

void DeliveryManager::setRunning(bool running) {
    running_ = running;
    emit runningChanged();
}

void DeliveryManager::setPhase(const QString& phase) {
    currentPhase_ = phase;
    emit phaseChanged(phase);
}

void DeliveryManager::startDelivery(const QString& galleryTitle, const QString& galleryPassword, int compressionLevel,
                                    const QVariantList& images, const QString& coverFilename, bool allowDownload,
                                    bool enableFaceSearch) {
    if (running_) return;
    if (!tokenProvider_) {
        emit deliveryFailed(QStringLiteral("Delivery not fully initialized."));
        return;
    }
    if (images.isEmpty()) {
        emit deliveryFailed(QStringLiteral("No images to deliver."));
        return;
    }
    // Without a token or a usable address nothing is compressed only to fail at the first request.
    const QString problem = requestProblem(tokenProvider_->accessToken(), serviceUrl());
    if (!problem.isEmpty()) {
        emit deliveryFailed(problem);
        return;
    }
    items_.clear();
    for (int i = 0; i < images.size(); ++i) {
        const QVariantMap m = images[i].toMap();
        DeliveryItem item;
        item.index = i;
        item.filename = m["filename"].toString();
        item.sourcePath = m["sourcePath"].toString();
        item.isCover = !coverFilename.isEmpty() && coverFilename == item.filename;
        items_.push_back(item);
    }
    compressionLevel_ = std::clamp(compressionLevel, 10, 100);
    allowDownload_ = allowDownload;
    enableFaceSearch_ = enableFaceSearch;
    galleryTitle_ = galleryTitle;
    galleryPassword_ = galleryPassword;
    galleryId_.clear();

    setRunning(true);
    totalCount_ = int(items_.size());
    doneCount_ = 0;
    actualCompressedBytes_ = 0;
    emit actualSizeKnown(0);
    setPhase(QStringLiteral("compressing"));
    const auto work = [this](JobControl& control) {
        prepareItems(control);
        return QVariant();
    };
    if (!preparation_->start(work)) {
        setRunning(false);
        emit deliveryFailed(QStringLiteral("The delivery could not be started: no thread is available."));
    }
}

void DeliveryManager::prepareItems(const JobControl& control) {
    doneCount_ = 0;
    totalCount_ = int(items_.size());
    control.post([this] { setPhase(QStringLiteral("compressing")); });
    emit deliveryProgress();
    FrameBuffers frames;
    qint64 total = 0;
    for (DeliveryItem& item : items_) {
        if (control.stopRequested()) return;
        item.originalSize = QFileInfo(item.sourcePath).size();
        if (compressionLevel_ >= 100) {
            item.uploadPath = item.sourcePath;
            const QSize size = uprightSize(item.sourcePath);
            if (size.isValid()) {
                item.width = size.width();
                item.height = size.height();
            }
            total += item.originalSize;
        } else {
            item.uploadPath = compress(item, compressionLevel_, frames);
            item.compressedSize = item.uploadPath.isEmpty() ? 0 : QFileInfo(item.uploadPath).size();
            total += item.compressedSize;
        }
        ++doneCount_;
        emit deliveryProgress();
    }
    control.post([this, total] {
        actualCompressedBytes_ = total;
        emit actualSizeKnown(total);
    });

    if (enableFaceSearch_) {
        doneCount_ = 0;
        totalCount_ = int(items_.size());
        control.post([this] { setPhase(QStringLiteral("detecting")); });
        emit deliveryProgress();
        if (!faceDetector_ && !faceModelPath_.isEmpty()) {
            try {
                faceDetector_ = std::make_unique<OnnxModel>(loadDetector(faceModelPath_.toStdString(), 640));
            } catch (const std::exception&) {
                faceDetector_.reset();
            }
        }
        for (DeliveryItem& item : items_) {
            if (control.stopRequested()) return;
            if (faceDetector_) collectFaces(item, *faceDetector_, frames);
            ++doneCount_;
            emit deliveryProgress();
        }
    }
}

void DeliveryManager::sendUploadRequest() {
    QJsonArray files;
    for (const DeliveryItem& item : items_) {
        QJsonObject f{{"filename", item.filename},
                      {"original_size_bytes", compressionLevel_ >= 100 ? item.originalSize : 0},
                      {"content_type", "image/jpeg"}};
        if (compressionLevel_ < 100) f["compressed_size_bytes"] = item.compressedSize;
        files.push_back(f);
    }
    const QJsonObject body{{"gallery_title", galleryTitle_},
                           {"gallery_password", galleryPassword_},
                           {"allow_download", allowDownload_},
                           {"face_search_enabled", enableFaceSearch_},
                           {"files", files}};
    const Failure failed = [this](const QString& reason) {
        setRunning(false);
        emit deliveryFailed("upload-request failed, " + reason);
    };
    send("POST", "/deliver/upload-request", &body, failed, [this, failed](int status, const QByteArray& reply) {
        if (status != 200) return failed(httpErrorText(status, reply));
        const QJsonObject o = QJsonDocument::fromJson(reply).object();
        galleryId_ = o.value("gallery_id").toString();
        gallerySlug_ = o.value("gallery_slug").toString();
        for (const QJsonValue& v : o.value("uploads").toArray()) {
            const QJsonObject u = v.toObject();
            auto it = std::find_if(items_.begin(), items_.end(),
                                   [&](const DeliveryItem& i) { return i.filename == u.value("filename").toString(); });
            if (it == items_.end()) continue;
            it->originalKey = u.value("original_r2_key").toString();
            it->compressedKey = u.value("compressed_r2_key").toString();
            const char* urlKey = compressionLevel_ < 100 ? "compressed_upload_url" : "original_upload_url";
            it->uploadUrl = u.value(urlKey).toString();
        }
        startUploads();
    });
}

void DeliveryManager::startUploads() {
    totalCount_ = int(items_.size());
    doneCount_ = 0;
    pendingUploads_ = int(items_.size());
    nextUpload_ = 0;
    emit deliveryProgress();
    for (int slot = 0; slot < std::max(1, limits_.parallelUploads) && nextUpload_ < items_.size(); ++slot)
        startNextUpload();
}

void DeliveryManager::startNextUpload() {
    while (nextUpload_ < items_.size()) {
        DeliveryItem& item = items_[nextUpload_++];
        auto file = std::make_unique<QFile>(item.uploadPath);
        // Storage URLs come from the service; they too must be HTTPS or local.
        if (item.uploadUrl.isEmpty() || item.uploadPath.isEmpty() || !isAllowedServiceUrl(item.uploadUrl) ||
            !file->open(QIODevice::ReadOnly)) {
            item.uploaded = false;
            ++doneCount_;
            emit deliveryProgress();
            uploadFinishedOne();
            continue;
        }
        QNetworkRequest request{QUrl(item.uploadUrl)};
        request.setHeader(QNetworkRequest::ContentTypeHeader, "image/jpeg");
        QNetworkReply* reply = network_.put(request, file.get());  // streamed from disk
        file.release()->setParent(reply);
        auto* watch = new ReplyWatch(reply, limits_.uploadStallMs, limits_.answerMs, limits_.maxAnswerBytes);
        const size_t index = size_t(item.index);
        connect(reply, &QNetworkReply::finished, this, [this, reply, watch, index] {
            reply->deleteLater();
            watch->finish();
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            DeliveryItem& done = items_[index];
            done.uploaded = watch->failure().isEmpty() && status >= 200 && status <= 299;
            if (!watch->failure().isEmpty()) {
                done.uploadFailure = watch->failure();
            } else if (status == 0) {
                done.uploadFailure = QStringLiteral("http 0: %1").arg(reply->errorString());
            } else if (!done.uploaded) {
                done.uploadFailure = httpErrorText(status, watch->body());
            }
            ++doneCount_;
            emit deliveryProgress();
            uploadFinishedOne();
            startNextUpload();
        });
        return;
    }
}

void DeliveryManager::uploadFinishedOne() {
    if (--pendingUploads_ == 0) sendCompletion();
}

void DeliveryManager::sendCompletion() {
    QJsonArray files;
    for (const DeliveryItem& item : items_) {
        if (!item.uploaded) continue;
        QJsonObject f{{"filename", item.filename}};
        if (item.isCover) f["is_cover"] = true;
        if (compressionLevel_ >= 100) {
            f["original_r2_key"] = item.originalKey;
            f["original_size_bytes"] = item.originalSize;
        } else {
            f["compressed_r2_key"] = item.compressedKey;
            f["compressed_size_bytes"] = item.compressedSize;
        }
        if (item.width > 0 && item.height > 0) {
            f["width"] = item.width;
            f["height"] = item.height;
        }
        if (!item.faces.empty()) {
            QJsonArray faces;
            for (const FaceCrop& c : item.faces)
                faces.push_back(QJsonObject{{"image_base64", c.imageBase64},
                                            {"bbox_x", c.x},
                                            {"bbox_y", c.y},
                                            {"bbox_width", c.width},
                                            {"bbox_height", c.height}});
            f["faces"] = faces;
        }
        files.push_back(f);
    }
    if (files.isEmpty()) {
        setRunning(false);
        emit deliveryFailed(QStringLiteral("All uploads failed — nothing to confirm."));
        return;
    }
    const int succeeded = int(files.size()), failedCount = int(items_.size()) - succeeded;
    const QJsonObject body{{"gallery_id", galleryId_}, {"files", files}};
    const Failure failed = [this](const QString& reason) {
        setRunning(false);
        emit deliveryFailed("upload-complete failed, " + reason);
    };
    send("POST", "/deliver/upload-complete", &body, failed,
         [this, succeeded, failedCount](int status, const QByteArray& reply) {
             setRunning(false);
             if (status != 200) {
                 emit deliveryFailed("upload-complete failed, " + httpErrorText(status, reply));
                 return;
             }
             emit deliveryFinished(galleryId_, gallerySlug_, succeeded, failedCount);
         });
}

}  // namespace keepframe
