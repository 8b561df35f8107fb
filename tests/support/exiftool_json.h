// What exiftool reads of a file's XMP, as the JSON object of its -j output.
#pragma once

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <string>

namespace keepframe::testing {

// The file's XMP as exiftool reads it, numbers as numbers; `options` such as
// "-G1" come before the rest.
inline QJsonObject exiftoolXmp(const std::string& path, const QStringList& options = {}) {
    QProcess p;
    p.start("exiftool", QStringList{"-j"} + options + QStringList{"-n", "-XMP:all", QString::fromStdString(path)});
    EXPECT_TRUE(p.waitForFinished(60000)) << "exiftool did not finish";
    return QJsonDocument::fromJson(p.readAllStandardOutput()).array().at(0).toObject();
}

// A value exiftool gives as one item or as a list, as a list.
inline QStringList listOf(const QJsonValue& v) {
    QStringList out;
    if (v.isArray())
        for (const QJsonValue& x : v.toArray()) out << x.toVariant().toString();
    else if (!v.isUndefined())
        out << v.toVariant().toString();
    return out;
}

}  // namespace keepframe::testing
