#include "project_file.h"

#include "path_safety.h"

#include <QDateTime>
#include <QFile>
#include <QFileDevice>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QUrl>

namespace keepframe {

QString localPathFromUrl(const QString& pathOrUrl) {
    if (!pathOrUrl.startsWith(QStringLiteral("file:"), Qt::CaseInsensitive)) return pathOrUrl;
    // Parsed tolerantly: a "%" that starts no escape stays a "%".
    const QUrl url(pathOrUrl, QUrl::TolerantMode);
    if (!url.isValid() || !url.isLocalFile()) return pathOrUrl;
    return url.toLocalFile();
}

QJsonObject projectFileDocument(const QString& inputFolder, const QString& outputBase, const QVariantMap& summary,
                                const QJsonArray& items) {
    QJsonObject s;
    for (auto it = summary.begin(); it != summary.end(); ++it) s.insert(it.key(), QJsonValue::fromVariant(it.value()));
    return QJsonObject{{"version", 1},
                       {"inputFolder", inputFolder},
                       {"outputBase", outputBase},
                       {"savedAt", QDateTime::currentDateTime().toString(Qt::ISODate).left(19)},
                       {"summary", s},
                       {"items", items}};
}

namespace {

const char* const kRatingKey = "rating";
const char* const kLabelKey = "label";

}  // namespace

void putFrameMarks(QJsonObject& item, const FrameMarks& marks) {
    if (marks.rating && isValidRating(*marks.rating)) item.insert(kRatingKey, *marks.rating);
    else item.remove(kRatingKey);
    const QString label = colorLabelKey(marks.label);
    if (!label.isEmpty()) item.insert(kLabelKey, label);
    else item.remove(kLabelKey);
}

FrameMarks frameMarksOf(const QJsonObject& item) {
    FrameMarks m;
    const QJsonValue rating = item.value(kRatingKey);
    // Whole numbers only: 2.5 stars or "3" are no rating.
    if (rating.isDouble() && rating.toDouble() == rating.toInt(-1) && isValidRating(rating.toInt()))
        m.rating = rating.toInt();
    const QJsonValue label = item.value(kLabelKey);
    if (label.isString()) m.label = colorLabelFromKey(label.toString()).value_or(ColorLabel::None);
    return m;
}

bool writeProjectFile(const QString& path, const QJsonObject& document) {
    // A failed write leaves the earlier file as it was.
    const QByteArray json = QJsonDocument(document).toJson(QJsonDocument::Indented);
    return writeFileReplacing(path, [&json](QFileDevice& file) {
        file.setTextModeEnabled(true);  // the platform's line ends
        return file.write(json) == json.size();
    });
}

std::optional<QJsonObject> readProjectFile(const QString& path, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        error = "Cannot open file.";
        return std::nullopt;
    }
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
        error = "Not a valid project file.";
        return std::nullopt;
    }
    // Every image is found by joining the input folder and its name: a name
    // that would leave the folder refuses the whole file.
    for (const QJsonValue& item : doc.object().value("items").toArray()) {
        const QString name = item.toObject().value("filename").toString();
        if (!name.isEmpty() && !staysInside(name)) {
            error = "Not a valid project file: it names an image outside its input folder (" + name + ").";
            return std::nullopt;
        }
    }
    return doc.object();
}

}  // namespace keepframe
