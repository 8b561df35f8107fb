#include "project_files.h"

#include "path_safety.h"
#include "project_file.h"
#include "project_store.h"
#include "review_state.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

namespace keepframe {

namespace {

using Image = ReviewState::Image;
using Status = ReviewState::Status;

// The cluster number: written under the name every project file has used for
// it (sharedImageFields), read under either name.
int clusterNumberOf(const QJsonObject& item) {
    return item.contains("clusterNumber") ? item.value("clusterNumber").toInt(0) : item.value("clusterSize").toInt(0);
}

}  // namespace

bool ProjectFiles::saveProject(const QString& pathIn) {
    const QString path = localPathFromUrl(pathIn);
    if (path.isEmpty()) return false;
    QJsonArray items;
    for (const Image& i : state_.images()) {
        QJsonObject item = QJsonObject::fromVariantMap(sharedImageFields(i));
        item.insert("totalDetectedFaces", i.totalDetectedFaces);
        item.insert("isFeatured", i.isFeatured);
        item.insert("original", int(i.original));
        item.insert("current", int(i.status));
        putFrameMarks(item, state_.ratings().marksOf(i.filename));
        items.push_back(item);
    }
    return writeProjectFile(path,
                            projectFileDocument(state_.inputFolder(), state_.outputBase(), state_.summary(), items));
}

QVariantMap ProjectFiles::openProjectFile(const QString& pathIn) {
    QString error;
    const auto document = readProjectFile(localPathFromUrl(pathIn), error);
    if (!document) return QVariantMap{{"ok", false}, {"error", error}};
    pending_ = *document;
    const QString input = document->value("inputFolder").toString(), output = document->value("outputBase").toString();
    return QVariantMap{{"ok", true},
                       {"savedInput", input},
                       {"savedOutput", output},
                       {"inputExists", QDir(input).exists()},
                       {"outputExists", QDir(output).exists()}};
}

int ProjectFiles::applyPendingProject(const QString& inputFolderOverride) {
    if (pending_.isEmpty()) return -1;
    QString input = localPathFromUrl(inputFolderOverride);
    if (input.isEmpty()) input = pending_.value("inputFolder").toString();
    // The file's records carry no database ids; the project whose database
    // the other views use is the stored one of the same shoot, if any.
    const int projectId = storedProjectOf({input, pending_.value("inputFolder").toString()});
    QList<Image> images;
    QList<FrameMarks> marks;
    int missing = 0;
    auto status = [](const QJsonValue& v) {
        const int s = v.toInt(0);
        return s >= SelectionModel::None && s <= SelectionModel::Added ? Status(s) : SelectionModel::None;
    };
    for (const QJsonValue& v : pending_.value("items").toArray()) {
        const QJsonObject o = v.toObject();
        const QString name = o.value("filename").toString();
        if (!QFileInfo(joinFolder(input, name)).isFile()) {
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
        i.clusterNumber = clusterNumberOf(o);
        i.totalDetectedFaces = o.value("totalDetectedFaces").toInt(0);  // absent from older files
        i.isFeatured = o.value("isFeatured").toBool(false);
        i.original = status(o.value("original"));
        i.status = status(o.value("current"));
        for (const QJsonValue& b : o.value("faceBoxes").toArray()) i.faceBoxes.push_back(b.toArray().toVariantList());
        images.push_back(i);
        marks.push_back(frameMarksOf(o));  // none in a file from before marks
    }
    state_.replace(images, input, pending_.value("outputBase").toString(), projectId,
                   pending_.value("summary").toObject().toVariantMap());
    // The file's frames carry no database ids: their marks live with the review.
    for (int k = 0; k < images.size(); ++k) state_.ratings().addFrame(images[k].filename, -1, marks[k]);
    pending_ = QJsonObject();
    return missing;
}

int ProjectFiles::storedProjectOf(const QStringList& inputFolders) const {
    if (state_.store() == nullptr) return -1;
    QStringList wanted;
    for (const QString& folder : inputFolders)
        if (!folder.isEmpty()) wanted << canonicalFolder(folder);
    for (const QVariant& v : state_.store()->listProjects()) {  // most recently opened first
        const QVariantMap p = v.toMap();
        if (wanted.contains(canonicalFolder(p["inputFolder"].toString()))) return p["id"].toInt();
    }
    return -1;
}

}  // namespace keepframe
