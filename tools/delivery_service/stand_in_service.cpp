#include "stand_in_service.h"

namespace keepframe {

bool StandInService::start(const QString& dataFolder, const QString& token) {
    token_ = token;
    return launch(QStringLiteral(KEEPFRAME_PYTHON_PATH),
                  {QStringLiteral(KEEPFRAME_STAND_IN_SCRIPT), "--port", "0", "--data", dataFolder, "--token", token});
}

bool StandInService::forceNext(const QString& method, const QString& path, int status, const QJsonValue& body) const {
    const QJsonObject order{{"method", method}, {"path", path}, {"status", status}, {"body", body}};
    return request("POST", "/admin/fail", order) == 200;
}

bool StandInService::markTopup(const QString& topupId, const QString& status) const {
    return request("POST", "/admin/topup/" + topupId + "/mark", QJsonObject{{"status", status}}) == 200;
}

}  // namespace keepframe
