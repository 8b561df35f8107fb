// The hand-over to the photographer's editor as the review screens reach it:
// XMP sidecars for the open project, and XMP in exported copies.
#include "selection_model.h"

#include "handover.h"
#include "project_store.h"

#include <QHash>

namespace keepframe {

QVariantMap SelectionModel::writeXmpSidecars(const QVariantMap& options) {
    auto refuse = [](const QString& error) {
        SidecarReport r;
        r.error = error;
        return sidecarReportMap(r);
    };
    XmpOptions o;
    const QString style = options.value("style", "replace").toString();
    if (style != "replace" && style != "append")
        return refuse("Unknown sidecar style \"" + style + "\" (replace or append).");
    o.style = style == "append" ? SidecarStyle::Append : SidecarStyle::Replace;
    o.keptRating = options.value("rating", o.keptRating).toInt();
    o.keptLabel = options.value("label", o.keptLabel).toString();
    o.remove = options.value("remove", false).toBool();
    if (!projectOpen()) return refuse("No project is open.");
    return sidecarReportMap(writeProjectXmpSidecars(*store_, projectId_, inputFolder_, o));
}

int SelectionModel::embedXmpIntoCopies(const QList<QPair<QString, QString>>& copies) {
    // What each image hands over: from the project database when one is open
    // (persons, clusters), otherwise from the reviewed list itself.
    QHash<QString, HandoverImage> byName;
    QString error;
    if (projectOpen())
        for (const HandoverImage& h : projectHandoverImages(*store_, projectId_, error)) byName.insert(h.filename, h);
    for (const Image& i : images_) {
        if (byName.contains(i.filename)) continue;
        HandoverImage h;
        h.filename = i.filename;
        h.category = i.category;
        h.displayCategory = displayCategory(i);
        h.clusterNumber = i.clusterSize;
        h.verdict = i.status == Removed ? HandoverVerdict::Rejected : HandoverVerdict::Kept;
        byName.insert(h.filename, h);
    }
    int failed = 0;
    for (const auto& [path, filename] : copies) {
        QString why;
        if (!embedXmp(path, byName.value(filename), XmpOptions(), why)) ++failed;
    }
    return failed;
}

}  // namespace keepframe
