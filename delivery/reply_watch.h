// How long the delivery client waits for the network and how much it reads:
// the limits every request and upload runs under, and the watch that holds
// one reply to them.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

class QNetworkReply;

namespace keepframe {

// The limits of the delivery client, in one place. The defaults are the
// product's; tests shorten them with DeliveryManager::setRequestLimits.
struct RequestLimits {
    // A service request that sends and receives nothing for this long is stopped.
    int serviceStallMs = 30'000;
    // The same for one file upload: storage may take longer to take a file in.
    int uploadStallMs = 120'000;
    // From the arrival of an answer's headers to its last byte, at most this
    // long: an answer dripped a byte at a time is stopped too.
    int answerMs = 60'000;
    // A reply body (service JSON or storage's answer to an upload) larger
    // than this is not read: the request is stopped.
    qint64 maxAnswerBytes = 4LL * 1024 * 1024;
    // File uploads in flight at once; the next starts as one ends. Every
    // upload that runs is on the wire rather than queued behind the others,
    // so its stall limit measures the network and not the queue.
    int parallelUploads = 4;
};

// Holds one reply to a stall limit, an answer deadline and a size limit. It
// reads the body as it arrives (nothing piles up in the reply) and stops the
// reply, with abort(), at the first limit it passes. Owned by the reply.
class ReplyWatch : public QObject {
    Q_OBJECT
public:
    ReplyWatch(QNetworkReply* reply, int stallMs, int answerMs, qint64 maxBytes);

    // Call once the reply has finished: stops the timers and reads what is
    // left. Then failure() is why the watch stopped the reply ("http %1: ...",
    // empty when it ended on its own) and body() the answer read.
    void finish();
    QString failure() const { return failure_; }
    QByteArray body() const { return body_; }

private:
    void progressed();
    void headersArrived();
    void read();
    // Moves what has arrived into body_; false when the body passed the limit.
    bool take();
    QString tooLarge() const;
    // Records why the reply failed ("http %1: why") and aborts it if it still runs.
    void stop(const QString& why);

    QNetworkReply* reply_;
    QTimer stall_, answer_;
    qint64 maxBytes_;
    QByteArray body_;
    QString failure_;
};

// "4 MB", "64 KB" or "1000 bytes": a byte limit in the words of a failure text.
QString byteLimitText(qint64 bytes);
// "30 s", "1.5 s": a time limit in the words of a failure text.
QString secondsText(int ms);

}  // namespace keepframe
