// Copying the final selection (and optionally everything else) out of the input folder.
#include "selection_model.h"

#include "export_run.h"
#include "project_file.h"
#include "project_store.h"

#include <set>

namespace keepframe {

namespace {

// Labels of unselected images come from the stored category.
QString storedLabel(const QString& category) {
    static const QStringList known = {"venue", "featured", "portrait", "group"};
    return known.contains(category) ? SelectionModel::categoryLabel(category) : QStringLiteral("Other");
}

}  // namespace

QVariantMap SelectionModel::exportFinal(const QString& destBaseIn, bool byCategory, bool includeUnselected,
                                        bool embedXmp) {
    int selected = 0, unselected = 0;
    QString base = localPathFromUrl(destBaseIn);
    if (base.isEmpty()) base = outputBase_;
    if (base.isEmpty() || inputFolder_.isEmpty())
        return QVariantMap{{"selected", 0}, {"unselected", 0}, {"inPlace", 0}, {"skipped", QVariantList{}}};
    const QString finalFolder = joinPath(base, "final_selection"), unselectedFolder = joinPath(base, "unselected");

    std::set<QString> keptSubFolders;
    for (const Image& i : images_)
        if (i.status != Removed) keptSubFolders.insert(subFolderOf(i.filename));
    const bool severalFolders = keptSubFolders.size() > 1;

    auto targetFolder = [&](const QString& root, const QString& filename, const QString& label) {
        const QString sub = subFolderOf(filename);
        if (!byCategory) return sub.isEmpty() ? root : joinPath(root, sub);
        if (severalFolders && !sub.isEmpty()) return joinPath(joinPath(root, sub), label);
        return joinPath(root, label);
    };

    ExportRun run(inputFolder_, ExportRun::Earlier::Replace);
    QList<QPair<QString, QString>> copies;
    for (const Image& i : images_) {
        if (i.status == Removed) continue;
        const QString folder = targetFolder(finalFolder, i.filename, categoryLabel(displayCategory(i)));
        QString copy;
        if (!run.copy(i.filename, folder, &copy)) continue;
        ++selected;
        copies.append({copy, i.filename});
    }
    if (includeUnselected && projectOpen()) {
        for (const QVariant& v : store_->unselectedImagesForProject(projectId_)) {
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

}  // namespace keepframe
