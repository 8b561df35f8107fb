// keepframe-gallery as a child process for the desktop client's tests: a
// fresh data folder with one photographer ("studio", 10 GB), SQLite unless a
// PostgreSQL database is given, the face models of the caller's choice.
#pragma once

#include "service_process.h"

namespace keepframe {

class GalleryService : public DeliveryServiceProcess {
public:
    ~GalleryService() override { stop(); }

    // Models folder for the face data ("" for none); call before start().
    void setModels(const QString& folder) { models_ = folder; }
    // A PostgreSQL database instead of SQLite in the data folder; call before start().
    void setDatabase(const QString& url) { database_ = url; }
    // More options of `keepframe-gallery serve`; call before start().
    void setServeOptions(const QStringList& options) { serveOptions_ = options; }
    bool start(const QString& dataFolder) override;
    QString kind() const override { return QStringLiteral("gallery"); }
    bool markTopup(const QString& topupId, const QString& status) const override;
    // Runs `keepframe-gallery admin --data <folder> ARGS`; its exit code and output.
    int admin(const QStringList& args, QString* output = nullptr) const;
    QString dataFolder() const { return data_; }

private:
    QStringList databaseOptions() const;

    QString data_, models_, database_;
    QStringList serveOptions_;
};

}  // namespace keepframe
