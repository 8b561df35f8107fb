// The project file: the review state of a project in one JSON file that the
// photographer can keep anywhere (folders, run summary, every image with its
// engine verdict and current status; no database ids).
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QVariantMap>

#include <optional>

namespace keepframe {

// A path from a file dialog with a leading "file:///" or "file://" removed.
QString stripFileUrl(const QString& pathOrUrl);

QJsonObject projectFileDocument(const QString& inputFolder, const QString& outputBase, const QVariantMap& summary,
                                const QJsonArray& items);
// Writes the indented JSON, replacing an existing file only once the new one
// is complete; false when it cannot.
bool writeProjectFile(const QString& path, const QJsonObject& document);
// The top-level object, or nothing with `error` set to "Cannot open file.",
// "Not a valid project file." or, when an item's "filename" is absolute or
// climbs out of the input folder, a message naming it.
std::optional<QJsonObject> readProjectFile(const QString& path, QString& error);

}  // namespace keepframe
