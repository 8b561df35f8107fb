// Where the delivery client gets the user's access token and the service's
// address. Both are settings the user sees and changes on the Account page,
// kept in the application data folder; an environment variable overrides each.
#pragma once

#include <QString>

namespace keepframe {

// Yields the current access token for the user's account on the delivery
// service; asked anew for every request.
class AccountTokenProvider {
public:
    virtual ~AccountTokenProvider() = default;
    virtual QString accessToken() const = 0;
    // Where the token comes from, as the Account page names it: "environment",
    // "settings", "none" (no token), or "application" for a provider of the host's own.
    virtual QString accessTokenSource() const { return QStringLiteral("application"); }
};

// One delivery setting in effect and where it came from: "environment",
// "settings" or, when neither holds a value, "default" (the service address)
// or "none" (the access token, which then is empty).
struct DeliverySetting {
    QString value;
    QString source;
};

// $KEEPFRAME_DELIVERY_URL, else the file "delivery_url" in the application
// data folder, else kDefaultDeliveryBaseUrl; without trailing slashes.
DeliverySetting deliveryServiceUrlSetting();
// $KEEPFRAME_DELIVERY_TOKEN, else the file "delivery_token" in the
// application data folder (first line, trimmed), else none.
DeliverySetting deliveryAccessTokenSetting();

// Store a setting (an empty value removes it), replacing its file atomically;
// the token file is readable by its owner only. False, with `error` set, when
// the value is refused or the file could not be written.
bool storeDeliveryServiceUrl(const QString& url, QString* error);
bool storeDeliveryAccessToken(const QString& token, QString* error);

// The token from deliveryAccessTokenSetting().
class DefaultTokenProvider : public AccountTokenProvider {
public:
    QString accessToken() const override;
    QString accessTokenSource() const override;
};

// The one HTTPS origin of the delivery service when nothing else is set.
extern const char* const kDefaultDeliveryBaseUrl;

// Requests go only over TLS, except to this machine (a local test service).
bool isAllowedServiceUrl(const QString& url);

// Why `url` cannot be the service address the user sets; empty when it can.
QString serviceUrlProblem(const QString& url);

}  // namespace keepframe
