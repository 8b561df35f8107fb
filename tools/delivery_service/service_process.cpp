#include "service_process.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>

namespace keepframe {

bool DeliveryServiceProcess::launch(const QString& program, const QStringList& arguments) {
    stop();
    process_.setProgram(program);
    process_.setArguments(arguments);
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start();
    if (!process_.waitForStarted(5000)) {
        error_ = "cannot start " + program + ": " + process_.errorString();
        return false;
    }
    // The service names its address on its first line.
    QString line;
    for (int i = 0; i < 300 && !line.endsWith('\n'); ++i) {
        if (!process_.waitForReadyRead(100) && process_.state() != QProcess::Running) break;
        line += QString::fromUtf8(process_.readLine());
    }
    line = line.trimmed();
    if (!line.startsWith("listening on http://127.0.0.1:")) {
        error_ = "the service did not come up (" + line + "): " + QString::fromUtf8(process_.readAllStandardError());
        stop();
        return false;
    }
    url_ = line.mid(QStringLiteral("listening on ").size());
    return true;
}

void DeliveryServiceProcess::stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.kill();
    process_.waitForFinished(3000);
}

int DeliveryServiceProcess::request(const QByteArray& verb, const QString& path, const QJsonObject& body,
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

QJsonObject DeliveryServiceProcess::getJson(const QString& path) const {
    QByteArray body;
    if (request("GET", path, {}, &body) != 200) return {};
    return QJsonDocument::fromJson(body).object();
}

}  // namespace keepframe
