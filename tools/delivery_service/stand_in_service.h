// The stand-in delivery service (stand_in.py) as a child process on a free
// loopback port, with its data in a folder of the caller's, and the requests
// a test or the screenshot tool makes to it directly (its test hooks).
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>

namespace keepframe {

class StandInService {
public:
    StandInService() = default;
    ~StandInService();
    StandInService(const StandInService&) = delete;
    StandInService& operator=(const StandInService&) = delete;

    // Starts the service; false (with error() telling why) when it did not come up.
    bool start(const QString& dataFolder, const QString& token);
    void stop();
    bool running() const { return process_.state() == QProcess::Running; }
    // "http://127.0.0.1:<port>" once started.
    QString url() const { return url_; }
    QString error() const { return error_; }

    // One request with the service's token; the status (0 when no answer came)
    // and the body of the answer.
    int request(const QByteArray& verb, const QString& path, const QJsonObject& body = {},
                QByteArray* answer = nullptr) const;
    QJsonObject getJson(const QString& path) const;
    // The next request with this method and path is answered with this status and body.
    bool forceNext(const QString& method, const QString& path, int status, const QJsonValue& body) const;
    // Marks a storage top-up "paid" or "expired".
    bool markTopup(const QString& topupId, const QString& status) const;

private:
    QProcess process_;
    QString url_, token_, error_;
};

}  // namespace keepframe
