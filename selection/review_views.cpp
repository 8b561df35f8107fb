// The ready-made lists the review screens bind to.
#include "selection_model.h"

#include "project_store.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <algorithm>
#include <map>

namespace keepframe {

namespace {

QVariantMap section(const QString& title, QVariantList kept, QVariantList removed) {
    sortImageMaps(kept);
    sortImageMaps(removed);
    return QVariantMap{{"folder", title}, {"primary", kept}, {"removed", removed}, {"review", QVariantList{}},
                       {"added", QVariantList{}}};
}

QVariantList flatten(const QVariantList& sections) {
    QVariantList out;
    for (const QVariant& s : sections) {
        const QVariantMap m = s.toMap();
        out += m["primary"].toList();
        out += m["removed"].toList();
    }
    return out;
}

}  // namespace

QVariantList SelectionModel::keptImages() const {
    QVariantList out;
    for (const Image& i : images_)
        if (i.status != Removed) out.push_back(imageMap(i));
    sortImageMaps(out);
    return out;
}

QVariantList SelectionModel::removedView() const {
    QVariantList out;
    for (const Image& i : images_)
        if (i.status == Removed) out.push_back(imageMap(i));
    sortImageMaps(out);
    return out;
}

QVariantList SelectionModel::groupedView() const {
    std::map<QString, std::pair<QVariantList, QVariantList>> bySub;  // ordered: the root ("") first
    for (const Image& i : images_) {
        auto& [kept, removed] = bySub[subFolderOf(i.filename)];
        (i.status == Removed ? removed : kept).push_back(imageMap(i));
    }
    QVariantList out;
    for (auto& [sub, lists] : bySub) out.push_back(section(sub, lists.first, lists.second));
    return out;
}

QVariantList SelectionModel::categoryView() const {
    static const QString kOrder[] = {"venue", "featured", "portrait", "group"};
    std::map<QString, std::map<QString, std::pair<QVariantList, QVariantList>>> bySub;
    for (const Image& i : images_) {
        auto& [kept, removed] = bySub[subFolderOf(i.filename)][displayCategory(i)];
        (i.status == Removed ? removed : kept).push_back(imageMap(i));
    }
    const bool severalFolders = bySub.size() > 1;
    QVariantList out;
    for (auto& [sub, categories] : bySub) {
        for (const QString& c : kOrder) {
            auto it = categories.find(c);
            if (it == categories.end()) continue;
            const QString label = categoryLabel(c);
            const QString title = severalFolders && !sub.isEmpty() ? sub + QStringLiteral("  —  ") + label : label;
            out.push_back(section(title, it->second.first, it->second.second));
        }
    }
    return out;
}

QVariantList SelectionModel::flatView() { return flatten(groupedView()); }

QVariantList SelectionModel::flatViewByCategory() { return flatten(categoryView()); }

QVariantList SelectionModel::clustersFromDb(const QString& category, bool onlyOrphans) {
    if (!projectOpen()) return {};
    QVariantList clusters = store_->clustersForProject(projectId_, category, onlyOrphans);
    for (QVariant& c : clusters) {
        QVariantMap cluster = c.toMap();
        QVariantList images = cluster["images"].toList();
        for (QVariant& v : images) {
            QVariantMap m = v.toMap();
            m["alreadySelected"] = m["userSelected"];
            v = m;
        }
        cluster["images"] = images;
        c = cluster;
    }
    return clusters;
}

QVariantList SelectionModel::momentFrames(int imageId) {
    if (!projectOpen() || imageId < 0) return {};
    QVariantList frames = store_->momentImages(projectId_, imageId);
    for (QVariant& v : frames) {
        QVariantMap m = v.toMap();
        const bool engine = m["engineSelected"].toBool(), user = m["userSelected"].toBool();
        const Status original = !engine ? None : m["isPrimary"].toBool() ? Primary : Review;
        m["status"] = int(user ? (engine ? original : Added) : (engine ? Removed : None));
        m["original"] = int(original);
        QVariantList faces = store_->displayFacesForImage(m["id"].toInt());
        m["faces"] = faces.isEmpty() ? m["faceBoxes"] : faces;
        v = m;
    }
    return frames;
}

QVariantList SelectionModel::notSelectedImages() {
    if (!projectOpen()) return {};
    QVariantList out;
    for (const QVariant& v : store_->loadProjectImages(projectId_)) {
        const QVariantMap m = v.toMap();
        if (!m["engineSelected"].toBool() && !m["userSelected"].toBool()) out.push_back(m);
    }
    return out;
}

QVariantList SelectionModel::unselectedClusterImages() {
    if (!projectOpen()) return {};
    QVariantList out;
    for (const char* category : {"group", "portrait", "venue"})
        for (const QVariant& c : store_->clustersForProject(projectId_, category, true))
            out += c.toMap()["images"].toList();
    sortImageMaps(out);
    return out;
}

int SelectionModel::unselectedClusterCount() {
    // The length of unselectedClusterImages(), counted by the database: the
    // review screen asks after every click.
    if (!projectOpen()) return 0;
    return std::max(store_->orphanClusterImageCount(projectId_), 0);
}

QVariantMap SelectionModel::unselectedExportPreview() {
    qint64 count = 0, bytes = 0;
    if (projectOpen()) {
        for (const QVariant& v : store_->unselectedImagesForProject(projectId_)) {
            const QFileInfo file(joinPath(inputFolder_, v.toMap()["filename"].toString()));
            if (!file.exists()) continue;
            ++count;
            bytes += file.size();
        }
    }
    return QVariantMap{{"count", int(count)}, {"sizeBytes", bytes}};
}

QVariantList SelectionModel::loadClusters(const QString& category) {
    if (outputBase_.isEmpty()) return {};
    QFile file(joinPath(joinPath(joinPath(outputBase_, "_clusters"), category), "category_report.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    QTextStream in(&file);
    in.setEncoding(QStringConverter::Utf8);
    QVariantList out;
    QVariantMap current;
    QVariantList images;
    bool open = false;
    auto close = [&] {
        if (!open) return;
        current["images"] = images;
        out.push_back(current);
        images.clear();
    };
    while (!in.atEnd()) {
        const QString raw = in.readLine();
        const QString line = raw.trimmed();
        // (An indented image line of a file named "Cluster 2.jpg" is no cluster line.)
        const bool imageLine = raw.startsWith("  ") && raw.contains("  valid_faces=");
        if (!imageLine && line.startsWith("Cluster ")) {
            close();
            current = QVariantMap();
            const int paren = line.indexOf('(');
            const int space = line.indexOf(' ');
            current["clusterId"] = line.mid(space + 1, paren - space - 1).trimmed().toInt();
            const int sizeEnd = line.indexOf(' ', paren + 1);
            current["size"] = line.mid(paren + 1, sizeEnd - paren - 1).toInt();
            open = true;
            continue;
        }
        if (!open || !line.contains("valid_faces=")) continue;
        // An image line is two spaces, the file name (which may hold blanks),
        // two spaces and "valid_faces=": the name is everything in between,
        // and the fields are read after it only.
        const int field = raw.lastIndexOf("  valid_faces=");
        const bool wellFormed = raw.startsWith("  ") && field > 2;
        const QString name = wellFormed ? raw.mid(2, field - 2) : line.section(' ', 0, 0);
        const QString fields = wellFormed ? raw.mid(field) : line;
        const int at = fields.indexOf("valid_faces=") + 12;
        int end = at;
        while (end < fields.size() && fields[end].isDigit()) ++end;
        QString time;
        const int ct = fields.indexOf("ct=[");
        if (ct >= 0) time = fields.mid(ct + 4, fields.indexOf(']', ct + 4) - (ct + 4));
        images.push_back(QVariantMap{{"filename", name},
                                     {"validFaces", fields.mid(at, end - at).toInt()},
                                     {"isRep", fields.contains("[REP]")},
                                     {"captureTime", time},
                                     {"alreadySelected", contains(name)}});
    }
    close();
    return out;
}

}  // namespace keepframe
