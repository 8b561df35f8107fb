#include "account_token.h"

#include "delivery_files.h"
#include "path_safety.h"
#include "project_store.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QUrl>

namespace keepframe {

const char* const kDefaultDeliveryBaseUrl = "https://deliver.keepframe.app";

namespace {

const char* const kUrlFile = "delivery_url";
const char* const kTokenFile = "delivery_token";

QString settingPath(const char* name) { return ProjectStore::resolveAppDataDir() + "/" + name; }

// The first line of a setting file, trimmed; empty when there is none.
QString readSetting(const char* name) {
    QFile file(settingPath(name));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    return QString::fromUtf8(file.readLine(64 * 1024)).trimmed();
}

bool storeSetting(const char* name, const QString& value, bool ownerOnly, QString* error) {
    const QString path = settingPath(name);
    if (value.isEmpty()) {
        if (!QFile::exists(path) || QFile::remove(path)) return true;
        *error = QStringLiteral("Could not remove %1.").arg(path);
        return false;
    }
    const QByteArray bytes = value.toUtf8() + '\n';
    auto write = [&](QFileDevice& file) {
        if (ownerOnly && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) return false;
        return file.write(bytes) == bytes.size();
    };
    const bool written = QDir().mkpath(ProjectStore::resolveAppDataDir()) && writeFileReplacing(path, write);
    if (!written) *error = QStringLiteral("Could not save the setting in %1.").arg(path);
    return written;
}

QString withoutTrailingSlashes(QString url) {
    while (url.endsWith('/')) url.chop(1);
    return url;
}

}  // namespace

DeliverySetting deliveryServiceUrlSetting() {
    const QString fromEnv = qEnvironmentVariable("KEEPFRAME_DELIVERY_URL").trimmed();
    if (!fromEnv.isEmpty()) return {withoutTrailingSlashes(fromEnv), QStringLiteral("environment")};
    const QString stored = readSetting(kUrlFile);
    if (!stored.isEmpty()) return {withoutTrailingSlashes(stored), QStringLiteral("settings")};
    return {QString::fromLatin1(kDefaultDeliveryBaseUrl), QStringLiteral("default")};
}

DeliverySetting deliveryAccessTokenSetting() {
    const QString fromEnv = qEnvironmentVariable("KEEPFRAME_DELIVERY_TOKEN").trimmed();
    if (!fromEnv.isEmpty()) return {fromEnv, QStringLiteral("environment")};
    const QString stored = readSetting(kTokenFile);
    if (!stored.isEmpty()) return {stored, QStringLiteral("settings")};
    return {QString(), QStringLiteral("none")};
}

bool storeDeliveryServiceUrl(const QString& url, QString* error) {
    const QString value = withoutTrailingSlashes(url.trimmed());
    if (!value.isEmpty()) {
        const QString problem = serviceUrlProblem(value);
        if (!problem.isEmpty()) {
            *error = problem;
            return false;
        }
    }
    return storeSetting(kUrlFile, value, false, error);
}

bool storeDeliveryAccessToken(const QString& token, QString* error) {
    const QString value = token.trimmed();
    for (const QChar c : value) {
        if (c.isSpace() || c.category() == QChar::Other_Control) {
            // The message never repeats the token: it is a secret.
            *error = QStringLiteral("An access token is one word without spaces; paste it again.");
            return false;
        }
    }
    return storeSetting(kTokenFile, value, true, error);
}

QString DefaultTokenProvider::accessToken() const { return deliveryAccessTokenSetting().value; }

QString DefaultTokenProvider::accessTokenSource() const { return deliveryAccessTokenSetting().source; }

bool isAllowedServiceUrl(const QString& text) {
    const QUrl url(text);
    if (!url.isValid() || url.host().isEmpty()) return false;
    if (url.scheme() == "https") return true;
    if (url.scheme() != "http") return false;
    const QString host = url.host();
    return host == "localhost" || QHostAddress(host).isLoopback();
}

QString serviceUrlProblem(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    if (text.contains(QChar(' ')) || !url.isValid() || url.host().isEmpty())
        return QStringLiteral("Enter the service address in full, for example %1.").arg(kDefaultDeliveryBaseUrl);
    if (!isAllowedServiceUrl(text))
        return QStringLiteral("The service address must start with https:// (http:// only for this computer).");
    if (!url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment())
        return QStringLiteral("The service address must not carry a user name, password, query or fragment.");
    return {};
}

}  // namespace keepframe
