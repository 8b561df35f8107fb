// The stand-in delivery service (stand_in.py) as a child process, and the
// requests a test makes to its test hooks.
#pragma once

#include "service_process.h"

namespace keepframe {

class StandInService : public DeliveryServiceProcess {
public:
    ~StandInService() override { stop(); }

    bool start(const QString& dataFolder) override { return start(dataFolder, QStringLiteral("secret")); }
    bool start(const QString& dataFolder, const QString& token);
    QString kind() const override { return QStringLiteral("stand-in"); }
    bool hasFaultRoutes() const override { return true; }
    bool forceNext(const QString& method, const QString& path, int status, const QJsonValue& body) const override;
    bool markTopup(const QString& topupId, const QString& status) const override;
};

}  // namespace keepframe
