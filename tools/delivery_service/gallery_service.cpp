#include "gallery_service.h"

#include <QRegularExpression>

namespace keepframe {

int GalleryService::admin(const QStringList& args, QString* output) const {
    QProcess p;
    p.start(QStringLiteral(KEEPFRAME_GALLERY_PROGRAM), QStringList{"admin"} + databaseOptions() + args);
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished(3000);
        return -1;
    }
    if (output) *output = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

bool GalleryService::start(const QString& dataFolder) {
    data_ = dataFolder;
    if (token_.isEmpty()) {
        QString out;
        if (admin({"add", "studio", "--quota-gb", "10"}, &out) != 0) {
            error_ = "cannot add the photographer: " + out;
            return false;
        }
        const QRegularExpressionMatch m = QRegularExpression("(kfg_[0-9a-f]{64})").match(out);
        if (!m.hasMatch()) {
            error_ = "no token in: " + out;
            return false;
        }
        token_ = m.captured(1);
    }
    return launch(QStringLiteral(KEEPFRAME_GALLERY_PROGRAM),
                  QStringList{"serve", "--port", "0", "--models", models_.isEmpty() ? "none" : models_} +
                      databaseOptions() + serveOptions_);
}

QStringList GalleryService::databaseOptions() const {
    QStringList options{"--data", data_};
    if (!database_.isEmpty()) options << "--database" << database_;
    return options;
}

bool GalleryService::markTopup(const QString& topupId, const QString& status) const {
    return admin({status == "paid" ? "approve-topup" : "expire-topup", topupId}) == 0;
}

}  // namespace keepframe
