// Paths built from stored data (project files, project databases, the
// registry) and the file operations that must never reach outside their
// folder or lose a file on the way.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QFileDevice;

namespace keepframe {

// True for a relative name that stays inside the folder it is joined to, by
// the rule of nameStaysInside (engine/paths.h): not empty, no NUL, no leading
// "/" or "\", no drive ("C:"), and after resolving "." and ".." ("\" read as
// a separator too) neither climbing out of the folder nor naming the folder
// itself.
bool staysInside(const QString& relativeName);

// The folder and the name joined with "/" unless the folder is empty or already
// ends in a separator. No check: for names already known to stay inside.
QString joinFolder(const QString& folder, const QString& name);

// joinFolder(folder, relativeName), or an empty text when there is no folder
// or the name would leave it.
QString pathInside(const QString& folder, const QString& relativeName);

// A name of a folder directly below its parent: stays inside and is a single
// component.
bool isChildName(const QString& name);

// How the usual file systems of the platform compare names.
constexpr Qt::CaseSensitivity platformPathCase() {
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    return Qt::CaseInsensitive;
#else
    return Qt::CaseSensitive;
#endif
}

// The folder's canonical absolute form (links resolved) when it exists,
// otherwise its cleaned absolute form; empty stays empty.
QString canonicalFolder(const QString& folder);

// Whether `path` is `folder` itself or lies below it, both taken in their
// canonicalFolder() form, so that a link inside the folder that leads out of
// it counts as outside. By default names are compared as the platform's file
// systems usually do (without case on Windows and macOS).
bool resolvesWithin(const QString& folder, const QString& path, Qt::CaseSensitivity cs = platformPathCase());

// Removes a folder with everything in it without following links: a link
// (to a folder or not) is removed itself, never what it points to.
bool removeFolderTree(const QString& path);

// Every file the program replaces from Qt code goes through writeFileReplacing:
// `write` fills a temporary file in the target's folder (which must exist),
// which is renamed over `target` (replaceFile, paths.h: tried again while
// another program holds the target open) only after `write` succeeded and the
// final flush was checked. An existing `target` stays untouched when anything
// fails, and its permissions pass to the new file; a link at `target` is
// replaced, never written through. `error` (optional) says why it failed.
bool writeFileReplacing(const QString& target, const std::function<bool(QFileDevice&)>& write,
                        QString* error = nullptr);
// writeFileReplacing with the bytes as the whole content.
bool writeBytesReplacing(const QString& target, const QByteArray& bytes, QString* error = nullptr);
// writeFileReplacing with a copy of `source` (a regular file) as the content.
bool copyFileReplacing(const QString& source, const QString& target, QString* error = nullptr);
// Copies `source` to `target` only as a new file: a complete, checked copy is
// given the target's name only when no file or link (even a dangling one)
// holds it at that moment. Nothing is replaced or written through, and nothing
// is left behind when it fails.
bool copyFileAsNew(const QString& source, const QString& target, QString* error = nullptr);

}  // namespace keepframe
