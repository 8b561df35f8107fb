// Saving the review state to a project file and opening it again.
#include "selection_model.h"

#include "project_file.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

namespace keepframe {

bool SelectionModel::saveProject(const QString& pathIn) {
    const QString path = stripFileUrl(pathIn);
    if (path.isEmpty()) return false;
    QJsonArray items;
    for (const Image& i : images_) {
        QJsonArray boxes;
        for (const QVariant& b : i.faceBoxes) boxes.push_back(QJsonArray::fromVariantList(b.toList()));
        items.push_back(QJsonObject{{"filename", i.filename},
                                    {"category", i.category},
                                    {"reason", i.reason},
                                    {"captureTime", i.captureTime},
                                    {"fullW", i.fullW},
                                    {"fullH", i.fullH},
                                    {"orientation", i.orientation},
                                    {"score", i.score},
                                    {"clusterSize", i.clusterSize},
                                    {"original", int(i.original)},
                                    {"current", int(i.status)},
                                    {"faceBoxes", boxes}});
    }
    return writeProjectFile(path, projectFileDocument(inputFolder_, outputBase_, summary_, items));
}

QVariantMap SelectionModel::openProjectFile(const QString& pathIn) {
    QString error;
    const auto document = readProjectFile(stripFileUrl(pathIn), error);
    if (!document) return QVariantMap{{"ok", false}, {"error", error}};
    pendingProject_ = *document;
    const QString input = document->value("inputFolder").toString(), output = document->value("outputBase").toString();
    return QVariantMap{{"ok", true},
                       {"savedInput", input},
                       {"savedOutput", output},
                       {"inputExists", QDir(input).exists()},
                       {"outputExists", QDir(output).exists()}};
}

int SelectionModel::applyPendingProject(const QString& inputFolderOverride) {
    if (pendingProject_.isEmpty()) return -1;
    QString input = stripFileUrl(inputFolderOverride);
    if (input.isEmpty()) input = pendingProject_.value("inputFolder").toString();
    images_.clear();
    inputFolder_ = input;
    outputBase_ = pendingProject_.value("outputBase").toString();
    int missing = 0;
    auto status = [](const QJsonValue& v) {
        const int s = v.toInt(0);
        return s >= None && s <= Added ? Status(s) : None;
    };
    for (const QJsonValue& v : pendingProject_.value("items").toArray()) {
        const QJsonObject o = v.toObject();
        const QString name = o.value("filename").toString();
        if (!QFileInfo(joinPath(input, name)).isFile()) {
            ++missing;
            continue;
        }
        Image i;
        i.filename = name;
        i.category = o.value("category").toString();
        i.reason = o.value("reason").toString();
        i.captureTime = o.value("captureTime").toString();
        i.fullW = o.value("fullW").toInt(0);
        i.fullH = o.value("fullH").toInt(0);
        i.orientation = o.value("orientation").toInt(1);
        i.score = o.value("score").toDouble(0);
        i.clusterSize = o.value("clusterSize").toInt(0);
        i.original = status(o.value("original"));
        i.status = status(o.value("current"));
        for (const QJsonValue& b : o.value("faceBoxes").toArray()) i.faceBoxes.push_back(b.toArray().toVariantList());
        images_.push_back(i);
    }
    summary_ = pendingProject_.value("summary").toObject().toVariantMap();
    pendingProject_ = QJsonObject();
    emit changed();
    return missing;
}

}  // namespace keepframe
