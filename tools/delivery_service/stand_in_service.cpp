#include "stand_in_service.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>

namespace keepframe {

StandInService::~StandInService() { stop(); }

bool StandInService::start(const QString& dataFolder, const QString& token) {
    stop();
    token_ = token;
    process_.setProgram(QStringLiteral(KEEPFRAME_PYTHON_PATH));
    process_.setArguments({QStringLiteral(KEEPFRAME_STAND_IN_SCRIPT), "--port", "0", "--data", dataFolder, "--token",
                           token});
    process_.start();
    if (!process_.waitForStarted(5000)) {
        error_ = "cannot start " + process_.program() + ": " + process_.errorString();
        return false;
    }
    // The service names its address on its first line.
    if (!process_.waitForReadyRead(15000)) {
        error_ = "the stand-in service did not come up: " + QString::fromUtf8(process_.readAllStandardError());
        stop();
        return false;
    }
    const QString line = QString::fromUtf8(process_.readLine()).trimmed();
    if (!line.startsWith("listening on http://127.0.0.1:")) {
        error_ = "unexpected first line of the stand-in service: " + line;
        stop();
        return false;
    }
    url_ = line.mid(QStringLiteral("listening on ").size());
    return true;
}

void StandInService::stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.kill();
    process_.waitForFinished(3000);
}

int StandInService::request(const QByteArray& verb, const QString& path, const QJsonObject& body,
                            QByteArray* answer) const {
    QNetworkAccessManager network;
    QNetworkRequest request{QUrl(url_ + path)};
    request.setRawHeader("Authorization", "Bearer " + token_.toUtf8());
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    QNetworkReply* reply =
        network.sendCustomRequest(request, verb, verb == "GET" ? QByteArray() : QJsonDocument(body).toJson());
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    const bool finished = reply->isFinished();
    const int status = finished ? reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() : 0;
    if (answer) *answer = finished ? reply->readAll() : QByteArray();
    reply->abort();
    reply->deleteLater();
    return status;
}

QJsonObject StandInService::getJson(const QString& path) const {
    QByteArray body;
    if (request("GET", path, {}, &body) != 200) return {};
    return QJsonDocument::fromJson(body).object();
}

bool StandInService::forceNext(const QString& method, const QString& path, int status, const QJsonValue& body) const {
    const QJsonObject order{{"method", method}, {"path", path}, {"status", status}, {"body", body}};
    return request("POST", "/admin/fail", order) == 200;
}

bool StandInService::markTopup(const QString& topupId, const QString& status) const {
    return request("POST", "/admin/topup/" + topupId + "/mark", QJsonObject{{"status", status}}) == 200;
}

}  // namespace keepframe
