#include "delivery_files.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace keepframe {

QString deliveryTempFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::TempLocation) + "/keepframe_deliver_tmp";
}

bool writeFileAtomically(const QString& path, const std::function<bool(QFileDevice&)>& write) {
    const QFileInfo target(path);
    if (!QDir().mkpath(target.absolutePath())) return false;
    // A link left in a shared temporary folder must not redirect the write elsewhere.
    if (target.isSymbolicLink() && !QFile::remove(path)) return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    // The explicit flush is the check: QSaveFile::commit does not report a
    // failure of the flush it does itself, and would rename a cut-off file.
    if (!write(file) || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

}  // namespace keepframe
