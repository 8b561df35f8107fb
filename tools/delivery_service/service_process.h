// A delivery service run as a child process on a free loopback port, with its
// data in a folder of the caller's: the stand-in (stand_in.py, with its fault
// routes) or keepframe-gallery. Tests and the screenshot tool talk to either
// through this interface.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>

namespace keepframe {

class DeliveryServiceProcess {
public:
    virtual ~DeliveryServiceProcess() = default;

    // Starts the service; false (with error() telling why) when it did not come up.
    virtual bool start(const QString& dataFolder) = 0;
    // Stops it by its process id, as a crash would (no clean shutdown).
    void stop();
    bool running() const { return process_.state() == QProcess::Running; }
    // The process id while it runs (0 otherwise).
    qint64 pid() const { return process_.processId(); }
    // "stand-in" or "gallery".
    virtual QString kind() const = 0;
    // "http://127.0.0.1:<port>" once started.
    QString url() const { return url_; }
    // The bearer token of the service's photographer.
    QString token() const { return token_; }
    QString error() const { return error_; }

    // One request with the service's token; the status (0 when no answer came)
    // and the body of the answer.
    int request(const QByteArray& verb, const QString& path, const QJsonObject& body = {},
                QByteArray* answer = nullptr) const;
    QJsonObject getJson(const QString& path) const;
    // Whether forceNext works: the stand-in answers as told, the real service never.
    virtual bool hasFaultRoutes() const { return false; }
    // The next request with this method and path is answered with this status and body.
    virtual bool forceNext(const QString&, const QString&, int, const QJsonValue&) const { return false; }
    // Marks a storage top-up "paid" or "expired".
    virtual bool markTopup(const QString& topupId, const QString& status) const = 0;

protected:
    // Starts `program` and reads its first line, "listening on http://127.0.0.1:<port>".
    bool launch(const QString& program, const QStringList& arguments);

    mutable QProcess process_;
    QString url_, token_, error_;
};

}  // namespace keepframe
