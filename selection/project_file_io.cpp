// Saving the review state to a project file and opening it again.
#include "selection_model.h"

#include "path_safety.h"
#include "project_file.h"
#include "project_store.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

namespace keepframe {

bool SelectionModel::saveProject(const QString& pathIn) {
    const QString path = localPathFromUrl(pathIn);
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
                                    {"totalDetectedFaces", i.totalDetectedFaces},
                                    {"isFeatured", i.isFeatured},
                                    {"original", int(i.original)},
                                    {"current", int(i.status)},
                                    {"faceBoxes", boxes}});
    }
    return writeProjectFile(path, projectFileDocument(inputFolder_, outputBase_, summary_, items));
}

QVariantMap SelectionModel::openProjectFile(const QString& pathIn) {
    QString error;
    const auto document = readProjectFile(localPathFromUrl(pathIn), error);
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
    QString input = localPathFromUrl(inputFolderOverride);
    if (input.isEmpty()) input = pendingProject_.value("inputFolder").toString();
    images_.clear();
    inputFolder_ = input;
    outputBase_ = pendingProject_.value("outputBase").toString();
    // The file's records carry no database ids; the project whose database
    // the other views use is the stored one of the same shoot, if any.
    projectId_ = storedProjectOf({input, pendingProject_.value("inputFolder").toString()});
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
        i.totalDetectedFaces = o.value("totalDetectedFaces").toInt(0);  // absent from older files
        i.isFeatured = o.value("isFeatured").toBool(false);
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

int SelectionModel::storedProjectOf(const QStringList& inputFolders) const {
    if (!store_) return -1;
    QStringList wanted;
    for (const QString& folder : inputFolders)
        if (!folder.isEmpty()) wanted << canonicalFolder(folder);
    for (const QVariant& v : store_->listProjects()) {  // most recently opened first
        const QVariantMap p = v.toMap();
        if (wanted.contains(canonicalFolder(p["inputFolder"].toString()))) return p["id"].toInt();
    }
    return -1;
}

}  // namespace keepframe
