// The project file: the review state of a project in one JSON file that the
// photographer can keep anywhere (folders, run summary, every image with its
// engine verdict and current status; no database ids).
#pragma once

#include "frame_marks.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QVariantMap>

#include <optional>

namespace keepframe {

// The local path that a file dialog or the user interface hands over: a
// "file:" URL becomes its local file, with its percent escapes decoded
// ("file:///shoots/100%25%20wedding" is "/shoots/100% wedding") and a host
// kept as the UNC path it names ("file://server/share" is "//server/share"),
// with "/" separators as Qt writes paths; anything else is taken as a path
// already.
QString localPathFromUrl(const QString& pathOrUrl);

QJsonObject projectFileDocument(const QString& inputFolder, const QString& outputBase, const QVariantMap& summary,
                                const QJsonArray& items);
// The photographer's marks of an item, as the optional keys "rating" (a number,
// 0 to 5) and "label" ("red", "yellow", "green" or "blue"): each key is
// written only when set and removed otherwise, so an unmarked item is what it
// was before marks existed.
void putFrameMarks(QJsonObject& item, const FrameMarks& marks);
// The marks an item carries; an absent key, or one that holds no rating or
// label, reads as none.
FrameMarks frameMarksOf(const QJsonObject& item);

// Writes the indented JSON, replacing an existing file only once the new one
// is complete; false when it cannot.
bool writeProjectFile(const QString& path, const QJsonObject& document);
// The top-level object, or nothing with `error` set to "Cannot open file.",
// "Not a valid project file." or, when an item's "filename" is absolute or
// climbs out of the input folder, a message naming it.
std::optional<QJsonObject> readProjectFile(const QString& path, QString& error);

}  // namespace keepframe
