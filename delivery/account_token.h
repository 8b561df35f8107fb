// Where the delivery client gets the user's access token and the service's
// address. Both are configuration of the host program, not constants.
#pragma once

#include <QString>

namespace keepframe {

// Yields the current access token for the user's account on the delivery
// service; asked anew for every request.
class AccountTokenProvider {
public:
    virtual ~AccountTokenProvider() = default;
    virtual QString accessToken() const = 0;
};

// The token from $KEEPFRAME_DELIVERY_TOKEN, else from the file
// "delivery_token" in the application data folder (first line, trimmed).
class DefaultTokenProvider : public AccountTokenProvider {
public:
    QString accessToken() const override;
};

// The one HTTPS origin of the delivery service when nothing else is set.
extern const char* const kDefaultDeliveryBaseUrl;

// The service base URL: $KEEPFRAME_DELIVERY_URL, else the setting
// "delivery/baseUrl" of the program's settings, else the default above.
QString deliveryBaseUrl();

// Requests go only over TLS, except to this machine (a local test service).
bool isAllowedServiceUrl(const QString& url);

}  // namespace keepframe
