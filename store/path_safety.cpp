#include "path_safety.h"

#include "paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStringList>

#include <filesystem>

namespace keepframe {

namespace {

bool failWith(QString* error, const QString& why) {
    if (error) *error = why;
    return false;
}

}  // namespace

bool staysInside(const QString& relativeName) {
    if (relativeName.contains(QChar(0))) return false;
    return nameStaysInside(relativeName.toStdString());
}

QString joinFolder(const QString& folder, const QString& name) {
    if (folder.isEmpty()) return name;
    return folder.endsWith('/') || folder.endsWith('\\') ? folder + name : folder + "/" + name;
}

QString pathInside(const QString& folder, const QString& relativeName) {
    return !folder.isEmpty() && staysInside(relativeName) ? joinFolder(folder, relativeName) : QString();
}

bool isChildName(const QString& name) {
    return staysInside(name) && !name.contains('/') && !name.contains('\\');
}

QString canonicalFolder(const QString& folder) {
    if (folder.isEmpty()) return {};
    const QFileInfo info(folder);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

bool resolvesWithin(const QString& folder, const QString& path, Qt::CaseSensitivity cs) {
    const QString root = canonicalFolder(folder), resolved = canonicalFolder(path);
    if (root.isEmpty() || resolved.isEmpty()) return false;
    const QString prefix = root.endsWith('/') ? root : root + "/";
    return resolved.compare(root, cs) == 0 || resolved.startsWith(prefix, cs);
}

bool removeFolderTree(const QString& path) {
    const QFileInfo info(path);
    if (info.isSymLink() || info.isJunction()) return QFile::remove(path) || QDir().rmdir(path);
    if (!info.exists()) return true;
    if (!info.isDir()) return false;
    // Qt removes links met inside the tree without following them.
    return QDir(path).removeRecursively();
}

bool writeFileReplacing(const QString& target, const std::function<bool(QFileDevice&)>& write, QString* error) {
    const QFileInfo info(target);
    // QSaveFile would write to what a link points to: the link itself goes.
    if ((info.isSymLink() || info.isJunction()) && !QFile::remove(target))
        return failWith(error, "cannot replace the link " + target);
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly)) return failWith(error, "cannot write " + target + ": " + file.errorString());
    // The explicit flush is the check: QSaveFile::commit does not report a
    // failure of the flush it does itself, and would rename a cut-off file.
    if (!write(file) || !file.flush()) {
        const QString why = file.error() != QFileDevice::NoError ? file.errorString() : "the write was not completed";
        file.cancelWriting();
        return failWith(error, "cannot write " + target + ": " + why);
    }
    if (!file.commit()) return failWith(error, "cannot write " + target + ": " + file.errorString());
    return true;
}

bool writeBytesReplacing(const QString& target, const QByteArray& bytes, QString* error) {
    return writeFileReplacing(target, [&bytes](QFileDevice& out) { return out.write(bytes) == bytes.size(); }, error);
}

bool copyFileReplacing(const QString& source, const QString& target, QString* error) {
    // Regular files only: opening a pipe for reading would wait for a writer.
    if (!QFileInfo(source).isFile()) return failWith(error, "not a file: " + source);
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) return failWith(error, "cannot read " + source + ": " + in.errorString());
    QString readError;
    const bool copied = writeFileReplacing(
        target,
        [&](QFileDevice& out) {
            QByteArray buffer(1 << 20, Qt::Uninitialized);
            for (;;) {
                const qint64 n = in.read(buffer.data(), buffer.size());
                if (n < 0) {
                    readError = "cannot read " + source + ": " + in.errorString();
                    return false;
                }
                if (n == 0) return true;
                if (out.write(buffer.constData(), n) != n) return false;
            }
        },
        error);
    if (!copied && !readError.isEmpty()) return failWith(error, readError);
    return copied;
}

bool copyFileAsNew(const QString& source, const QString& target, QString* error) {
    const QFileInfo info(target);
    // Hidden and ending in ".tmp", like every temporary file of the program.
    const QString unique = QString::number(QRandomGenerator::global()->generate64(), 16);
    const QString temp = joinFolder(info.absolutePath(), "." + info.fileName() + "." + unique + ".tmp");
    if (!copyFileReplacing(source, temp, error)) return false;
    // The name is claimed by creating the file exclusively, which fails for
    // any file or link of that name, even a dangling one; only then does the
    // complete copy replace the empty file. (QFile::rename is no help: when
    // the name is in use it falls back to copying, through a link too.)
    QFile claim(target);
    bool placed = claim.open(QIODevice::WriteOnly | QIODevice::NewOnly);
    QString why = claim.errorString();
    claim.close();
    if (placed) {
        std::error_code ec;
        std::filesystem::rename(utf8ToPath(temp.toStdString()), utf8ToPath(target.toStdString()), ec);
        placed = !ec;
        if (!placed) {
            why = QString::fromStdString(ec.message());
            QFile::remove(target);
        }
    }
    if (placed) return true;
    QFile::remove(temp);
    return failWith(error, "cannot write " + target + ": " + why);
}

}  // namespace keepframe
