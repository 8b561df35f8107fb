#include "project_file.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>

namespace keepframe {

QString stripFileUrl(const QString& pathOrUrl) {
    if (pathOrUrl.startsWith("file:///")) {
#ifdef _WIN32
        return pathOrUrl.mid(8);
#else
        return pathOrUrl.mid(7);  // keep the root of a local path on this platform
#endif
    }
    if (pathOrUrl.startsWith("file://")) return pathOrUrl.mid(7);
    return pathOrUrl;
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

bool writeProjectFile(const QString& path, const QJsonObject& document) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) return false;
    const QByteArray json = QJsonDocument(document).toJson(QJsonDocument::Indented);
    return file.write(json) == json.size() && file.flush();
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
    return doc.object();
}

}  // namespace keepframe
