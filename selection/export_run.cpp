#include "export_run.h"

#include "path_safety.h"

#include <QDir>
#include <QFileInfo>
#include <QVariantMap>

namespace keepframe {

namespace {

QString ownName(const QString& filename) { return filename.mid(filename.lastIndexOf('/') + 1); }

// "name (2).jpg" for n = 2: the number goes before the extension.
QString numberedName(const QString& name, int n) {
    const int dot = name.lastIndexOf('.');
    const QString number = QStringLiteral(" (%1)").arg(n);
    return dot > 0 ? name.left(dot) + number + name.mid(dot) : name + number;
}

// Case-folded, so that "A.jpg" and "a.jpg" count as one name wherever the
// file system does not tell them apart.
QString key(const QString& path) { return QDir::cleanPath(QFileInfo(path).absoluteFilePath()).toCaseFolded(); }

bool present(const QFileInfo& info) { return info.exists() || info.isSymLink() || info.isJunction(); }

// No number this high is ever reached but by a folder that keeps refusing names.
constexpr int kMaxNumber = 100000;

}  // namespace

ExportRun::ExportRun(const QString& inputFolder, Earlier earlier) : input_(inputFolder), earlier_(earlier) {}

bool ExportRun::copy(const QString& filename, const QString& folder, QString* written) {
    const QString source = pathInside(input_, filename);
    if (source.isEmpty()) return skip(filename, "the name leads outside the input folder");
    if (!QFileInfo(source).isFile()) return skip(filename, "missing from the input folder");
    return copyVersion(source, filename, folder, written);
}

bool ExportRun::copyVersion(const QString& source, const QString& filename, const QString& folder,
                            QString* written) {
    if (!staysInside(filename)) return skip(filename, "the name leads outside the input folder");
    if (!QDir().mkpath(folder)) return skip(filename, "cannot create the folder " + folder);
    const QString name = ownName(filename);
    const QFileInfo targetInfo(joinFolder(folder, name));
    if (targetInfo.exists() && targetInfo.canonicalFilePath() == QFileInfo(source).canonicalFilePath()) {
        ++inPlace_;
        return skip(filename, "the target is the source file itself", true);
    }
    // Compared without case: on a file system that tells case apart this
    // only protects a few more files.
    const bool inShoot = !input_.isEmpty() && resolvesWithin(input_, folder, Qt::CaseInsensitive);
    for (int n = 1; n <= kMaxNumber; ++n) {
        const QString target = joinFolder(folder, n == 1 ? name : numberedName(name, n));
        if (taken(target, inShoot)) continue;
        // Only an earlier export's file is there to be replaced; any other
        // name is taken by a new file alone.
        const bool replacing = present(QFileInfo(target));
        QString error;
        if (replacing ? copyFileReplacing(source, target, &error) : copyFileAsNew(source, target, &error)) {
            written_.insert(key(target));
            if (written) *written = target;
            return true;
        }
        // A file that appeared under the name meanwhile moves the copy on to the next number.
        if (replacing || !present(QFileInfo(target))) return skip(filename, error);
    }
    return skip(filename, "no free name in " + folder);
}

bool ExportRun::skip(const QString& filename, const QString& reason, bool inPlace) {
    QVariantMap row{{"file", filename}, {"reason", reason}};
    if (inPlace) row["inPlace"] = true;
    skipped_.push_back(row);
    return false;
}

bool ExportRun::taken(const QString& target, bool inShoot) const {
    if (written_.contains(key(target))) return true;
    const QFileInfo info(target);
    if (info.isSymLink() || info.isJunction()) return true;  // never written through
    if (!info.exists()) return false;
    return inShoot || earlier_ == Earlier::Keep || !info.isFile();
}

}  // namespace keepframe
