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

// A name beside the target, hidden and ending in ".tmp" like every temporary
// file of the program, that no other write picks at the same time.
QString temporarySibling(const QString& target) {
    const QFileInfo info(target);
    const QString unique = QString::number(QRandomGenerator::global()->generate64(), 16);
    return joinFolder(info.absolutePath(), "." + info.fileName() + "." + unique + ".tmp");
}

// Writes the whole content into a new temporary file beside `target` and
// returns its name, or an empty text when `write` or the final flush failed
// (nothing is left then). QSaveFile writes it, so it is on the disk before it
// gets its name; a file it will replace lends it its permissions first, which
// `write` may still narrow.
QString writeTemporarySibling(const QString& target, const std::function<bool(QFileDevice&)>& write,
                              QString* error) {
    const QFileInfo info(target);
    const QString temp = temporarySibling(target);
    QSaveFile file(temp);
    if (!file.open(QIODevice::WriteOnly)) {
        failWith(error, "cannot write " + target + ": " + file.errorString());
        return {};
    }
    if (info.isFile() && !info.isSymLink()) file.setPermissions(info.permissions());
    // The explicit flush is the check: QSaveFile::commit does not report a
    // failure of the flush it does itself, and would rename a cut-off file.
    if (!write(file) || !file.flush()) {
        const QString why = file.error() != QFileDevice::NoError ? file.errorString() : "the write was not completed";
        file.cancelWriting();
        failWith(error, "cannot write " + target + ": " + why);
        return {};
    }
    if (!file.commit()) {
        failWith(error, "cannot write " + target + ": " + file.errorString());
        return {};
    }
    return temp;
}

// Opens a regular file for reading; a pipe is never opened (that would wait
// for a writer).
bool openSource(QFile& in, QString* error) {
    const QString source = in.fileName();
    if (!QFileInfo(source).isFile()) return failWith(error, "not a file: " + source);
    if (!in.open(QIODevice::ReadOnly)) return failWith(error, "cannot read " + source + ": " + in.errorString());
    return true;
}

// A write that copies everything `in` holds; a read error is put in `readError`.
std::function<bool(QFileDevice&)> copyFrom(QFile& in, const QString& source, QString& readError) {
    return [&in, source, &readError](QFileDevice& out) {
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
    };
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
    if (info.isDir() && !info.isSymLink()) return failWith(error, "cannot write " + target + ": it is a folder");
    const QString temp = writeTemporarySibling(target, write, error);
    if (temp.isEmpty()) return false;
    // A link at the target is replaced by the rename, never written through.
    std::error_code ec;
    if (!replaceFile(temp.toStdString(), target.toStdString(), ec)) {
        QFile::remove(temp);
        return failWith(error, "cannot write " + target + ": " + QString::fromStdString(ec.message()));
    }
    return true;
}

bool writeBytesReplacing(const QString& target, const QByteArray& bytes, QString* error) {
    return writeFileReplacing(target, [&bytes](QFileDevice& out) { return out.write(bytes) == bytes.size(); }, error);
}

bool copyFileReplacing(const QString& source, const QString& target, QString* error) {
    QFile in(source);
    if (!openSource(in, error)) return false;
    QString readError;
    const bool copied = writeFileReplacing(target, copyFrom(in, source, readError), error);
    if (!copied && !readError.isEmpty()) return failWith(error, readError);
    return copied;
}

bool copyFileAsNew(const QString& source, const QString& target, QString* error) {
    QFile in(source);
    if (!openSource(in, error)) return false;
    QString readError;
    const QString temp = writeTemporarySibling(target, copyFrom(in, source, readError), error);
    if (temp.isEmpty()) return readError.isEmpty() ? false : failWith(error, readError);
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
        placed = replaceFile(temp.toStdString(), target.toStdString(), ec);
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
