#include "final_export.h"

#include "export_run.h"
#include "handover.h"
#include "path_safety.h"
#include "project_file.h"
#include "project_store.h"
#include "review_state.h"

#include <QHash>

#include <set>

namespace keepframe {

namespace {

// Labels of unselected images come from the stored category.
QString storedLabel(const QString& category) {
    const std::optional<Category> known = categoryOf(category.toStdString());
    return known ? categoryLabel(*known) : QStringLiteral("Other");
}

using Image = ReviewState::Image;

}  // namespace

QVariantMap FinalExport::exportFinal(const QString& destBaseIn, bool byCategory, bool includeUnselected,
                                     bool embedXmp) const {
    int selected = 0, unselected = 0;
    QString base = localPathFromUrl(destBaseIn);
    if (base.isEmpty()) base = state_.outputBase();
    if (base.isEmpty() || state_.inputFolder().isEmpty())
        return QVariantMap{{"selected", 0}, {"unselected", 0}, {"inPlace", 0}, {"skipped", QVariantList{}}};
    const QString finalFolder = joinFolder(base, "final_selection"), unselectedFolder = joinFolder(base, "unselected");

    std::set<QString> keptSubFolders;
    for (const Image& i : state_.images())
        if (i.status != SelectionModel::Removed) keptSubFolders.insert(subFolderOf(i.filename));
    const bool severalFolders = keptSubFolders.size() > 1;

    auto targetFolder = [&](const QString& root, const QString& filename, const QString& label) {
        const QString sub = subFolderOf(filename);
        if (!byCategory) return sub.isEmpty() ? root : joinFolder(root, sub);
        if (severalFolders && !sub.isEmpty()) return joinFolder(joinFolder(root, sub), label);
        return joinFolder(root, label);
    };

    ExportRun run(state_.inputFolder(), ExportRun::Earlier::Replace);
    QList<QPair<QString, QString>> copies;
    for (const Image& i : state_.images()) {
        if (i.status == SelectionModel::Removed) continue;
        const QString folder = targetFolder(finalFolder, i.filename, categoryLabel(displayCategoryOf(i)));
        QString copy;
        if (!run.copy(i.filename, folder, &copy)) continue;
        ++selected;
        copies.append({copy, i.filename});
    }
    if (includeUnselected && state_.projectOpen()) {
        for (const QVariant& v : state_.store()->unselectedImagesForProject(state_.projectId())) {
            const QVariantMap row = v.toMap();
            const QString name = row["filename"].toString();
            if (name.isEmpty()) continue;
            if (run.copy(name, targetFolder(unselectedFolder, name, storedLabel(row["category"].toString()))))
                ++unselected;
        }
    }
    QVariantMap result{
        {"selected", selected}, {"unselected", unselected}, {"inPlace", run.inPlace()}, {"skipped", run.skipped()}};
    if (embedXmp) result["xmpFailed"] = embedXmpIntoCopies(copies);
    return result;
}

int FinalExport::embedXmpIntoCopies(const QList<QPair<QString, QString>>& copies) const {
    // What each image hands over: from the project database when one is open
    // (persons, clusters), otherwise from the reviewed list itself.
    QHash<QString, HandoverImage> byName;
    QString error;
    if (state_.projectOpen())
        for (const HandoverImage& h : projectHandoverImages(*state_.store(), state_.projectId(), error))
            byName.insert(h.filename, h);
    for (const Image& i : state_.images()) {
        if (byName.contains(i.filename)) continue;
        HandoverImage h;
        h.filename = i.filename;
        h.category = i.category;
        h.displayCategory = categoryText(displayCategoryOf(i));
        h.clusterNumber = i.clusterNumber;
        h.verdict = i.status == SelectionModel::Removed ? HandoverVerdict::Rejected : HandoverVerdict::Kept;
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
