#include "account_token.h"

#include "project_store.h"

#include <QFile>
#include <QHostAddress>
#include <QSettings>
#include <QUrl>

namespace keepframe {

const char* const kDefaultDeliveryBaseUrl = "https://deliver.keepframe.app";

QString DefaultTokenProvider::accessToken() const {
    const QString fromEnv = qEnvironmentVariable("KEEPFRAME_DELIVERY_TOKEN");
    if (!fromEnv.isEmpty()) return fromEnv;
    QFile file(ProjectStore::resolveAppDataDir() + "/delivery_token");
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    return QString::fromUtf8(file.readLine()).trimmed();
}

QString deliveryBaseUrl() {
    const QString fromEnv = qEnvironmentVariable("KEEPFRAME_DELIVERY_URL");
    QString url =
        !fromEnv.isEmpty() ? fromEnv : QSettings().value("delivery/baseUrl", kDefaultDeliveryBaseUrl).toString();
    while (url.endsWith('/')) url.chop(1);
    return url;
}

bool isAllowedServiceUrl(const QString& text) {
    const QUrl url(text);
    if (!url.isValid() || url.host().isEmpty()) return false;
    if (url.scheme() == "https") return true;
    if (url.scheme() != "http") return false;
    const QString host = url.host();
    return host == "localhost" || QHostAddress(host).isLoopback();
}

}  // namespace keepframe
