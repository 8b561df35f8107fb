#include "path_safety.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

namespace keepframe {

bool staysInside(const QString& relativeName) {
    if (relativeName.isEmpty() || relativeName.contains(QChar(0))) return false;
    if (relativeName.startsWith('/') || relativeName.startsWith('\\')) return false;
    const QChar first = relativeName[0];
    const bool asciiLetter = (first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z');
    if (relativeName.size() >= 2 && asciiLetter && relativeName[1] == ':') return false;  // a drive
    int depth = 0;
    for (const QString& part : QString(relativeName).replace('\\', '/').split('/', Qt::SkipEmptyParts)) {
#ifdef Q_OS_WIN
        if (part.contains(':')) return false;  // a drive or an alternate data stream
#endif
        if (part == ".") continue;
        if (part == "..") {
            if (--depth < 0) return false;
            continue;
        }
        ++depth;
    }
    return depth > 0;
}

QString joinFolder(const QString& folder, const QString& name) {
    if (folder.isEmpty()) return name;
    return folder.endsWith('/') || folder.endsWith('\\') ? folder + name : folder + "/" + name;
}

QString pathInside(const QString& folder, const QString& relativeName) {
    return staysInside(relativeName) ? joinFolder(folder, relativeName) : QString();
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

bool removeFolderTree(const QString& path) {
    const QFileInfo info(path);
    if (info.isSymLink() || info.isJunction()) return QFile::remove(path) || QDir().rmdir(path);
    if (!info.exists()) return true;
    if (!info.isDir()) return false;
    // Qt removes links met inside the tree without following them.
    return QDir(path).removeRecursively();
}

bool copyFileReplacing(const QString& source, const QString& target, QString* error) {
    auto fail = [error](const QString& why) {
        if (error) *error = why;
        return false;
    };
    // Regular files only: opening a pipe for reading would wait for a writer.
    if (!QFileInfo(source).isFile()) return fail("not a file: " + source);
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) return fail("cannot read " + source + ": " + in.errorString());
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly)) return fail("cannot write " + target + ": " + out.errorString());
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = in.read(buffer.data(), buffer.size());
        if (n < 0) {
            out.cancelWriting();
            return fail("cannot read " + source + ": " + in.errorString());
        }
        if (n == 0) break;
        if (out.write(buffer.constData(), n) != n) {
            out.cancelWriting();
            return fail("cannot write " + target + ": " + out.errorString());
        }
    }
    if (!out.commit()) return fail("cannot write " + target + ": " + out.errorString());
    return true;
}

}  // namespace keepframe
