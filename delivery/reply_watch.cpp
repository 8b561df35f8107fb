#include "reply_watch.h"

#include <QNetworkReply>
#include <QNetworkRequest>

namespace keepframe {

QString byteLimitText(qint64 bytes) {
    constexpr qint64 kib = 1024;
    if (bytes >= kib * kib && bytes % (kib * kib) == 0) return QStringLiteral("%1 MB").arg(bytes / (kib * kib));
    if (bytes >= kib && bytes % kib == 0) return QStringLiteral("%1 KB").arg(bytes / kib);
    return QStringLiteral("%1 bytes").arg(bytes);
}

QString secondsText(int ms) { return QString::number(ms / 1000.0) + QStringLiteral(" s"); }

ReplyWatch::ReplyWatch(QNetworkReply* reply, int stallMs, int answerMs, qint64 maxBytes)
    : QObject(reply), reply_(reply), maxBytes_(maxBytes) {
    stall_.setSingleShot(true);
    stall_.setInterval(stallMs);
    answer_.setSingleShot(true);
    answer_.setInterval(answerMs);
    connect(&stall_, &QTimer::timeout, this, [this] {
        stop(QStringLiteral("the request made no progress for %1; it was stopped").arg(secondsText(stall_.interval())));
    });
    connect(&answer_, &QTimer::timeout, this, [this] {
        stop(QStringLiteral("the answer did not arrive in full within %1; the request was stopped")
                 .arg(secondsText(answer_.interval())));
    });
    connect(reply, &QNetworkReply::uploadProgress, this, &ReplyWatch::progressed);
    connect(reply, &QNetworkReply::downloadProgress, this, &ReplyWatch::progressed);
    connect(reply, &QNetworkReply::metaDataChanged, this, &ReplyWatch::headersArrived);
    connect(reply, &QNetworkReply::readyRead, this, &ReplyWatch::read);
    stall_.start();
}

void ReplyWatch::progressed() {
    if (failure_.isEmpty() && reply_->isRunning()) stall_.start();
}

void ReplyWatch::headersArrived() {
    progressed();
    if (!answer_.isActive() && reply_->isRunning()) answer_.start();
    // An announced length over the limit is refused before a byte of it is read.
    const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > maxBytes_) stop(tooLarge());
}

void ReplyWatch::read() {
    if (!failure_.isEmpty()) return;
    progressed();
    if (!take()) stop(tooLarge());
}

bool ReplyWatch::take() {
    while (reply_->bytesAvailable() > 0) {
        // One byte past the limit is enough to know the answer is too large.
        body_ += reply_->read(maxBytes_ - body_.size() + 1);
        if (body_.size() > maxBytes_) {
            body_.clear();
            return false;
        }
    }
    return true;
}

QString ReplyWatch::tooLarge() const {
    return QStringLiteral("the answer is larger than %1; it was not read").arg(byteLimitText(maxBytes_));
}

void ReplyWatch::finish() {
    stall_.stop();
    answer_.stop();
    if (failure_.isEmpty() && !take()) stop(tooLarge());
}

void ReplyWatch::stop(const QString& why) {
    if (!failure_.isEmpty()) return;
    stall_.stop();
    answer_.stop();
    const int status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    failure_ = QStringLiteral("http %1: %2").arg(status).arg(why);
    if (reply_->isRunning()) reply_->abort();  // emits finished; the reply's handler reports failure_
}

}  // namespace keepframe
