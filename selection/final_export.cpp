#include "final_export.h"

#include "background_job.h"
#include "path_safety.h"
#include "project_file.h"
#include "project_store.h"
#include "review_state.h"

#include <set>

namespace keepframe {

namespace {

// Labels of unselected images come from the stored category.
QString storedLabel(const QString& category) {
    const std::optional<Category> known = categoryOf(category.toStdString());
    return known ? categoryLabel(*known) : QStringLiteral("Other");
}

using Image = ReviewState::Image;
using Kind = ExportCopy::Kind;

// The keys of the result map that count the copies of each kind.
const char* countKey(Kind kind) {
    switch (kind) {
    case Kind::Selected: return "selected";
    case Kind::Unselected: return "unselected";
    case Kind::Enhanced: return "enhanced";
    case Kind::Plus: return "plus";
    }
    return "selected";
}

}  // namespace

FinalExportOptions finalExportOptionsFrom(const QVariantMap& options) {
    FinalExportOptions o;
    o.byCategory = options.value("byCategory", false).toBool();
    o.includeUnselected = options.value("includeUnselected", false).toBool();
    o.embedXmp = options.value("embedXmp", false).toBool();
    o.marks = markExportFilterFrom(options);
    return o;
}

QVariantMap runExportPlan(const ExportPlan& plan, JobControl* control) {
    ExportRun run(plan.inputFolder, plan.earlier);
    QHash<Kind, int> made;
    int xmpFailed = 0, reached = 0;
    bool stopped = false;
    for (const ExportCopy& c : plan.copies) {
        if (control && control->stopRequested()) {
            stopped = true;
            break;
        }
        ++reached;
        QString copy;
        const bool copied = c.source.isEmpty() ? run.copy(c.filename, c.folder, &copy)
                                               : run.copyVersion(c.source, c.filename, c.folder, &copy);
        if (copied) {
            ++made[c.kind];
            QString why;
            // The XMP goes into the copy before the next file: a stop never leaves a copy without it.
            if (plan.embedXmp && c.kind == Kind::Selected &&
                !embedXmp(copy, plan.handover.value(c.filename), XmpOptions(), why))
                ++xmpFailed;
        }
        if (control) control->addDone();
    }
    QVariantMap result{{"inPlace", run.inPlace()},
                       {"skipped", run.skipped()},
                       {"destination", plan.destination},
                       {"stopped", stopped},
                       {"notCopied", int(plan.copies.size()) - reached},
                       {"filteredOut", plan.filteredOut}};
    for (const Kind kind : {Kind::Selected, Kind::Unselected, Kind::Enhanced, Kind::Plus})
        result[countKey(kind)] = made.value(kind);
    if (plan.embedXmp) result["xmpFailed"] = xmpFailed;
    return result;
}

QVariantMap FinalExport::exportFinal(const QString& destBaseIn, bool byCategory, bool includeUnselected,
                                     bool embedXmp) const {
    FinalExportOptions options;
    options.byCategory = byCategory;
    options.includeUnselected = includeUnselected;
    options.embedXmp = embedXmp;
    QVariantMap result = runExportPlan(plan(destBaseIn, options));
    // What the callers of this export have always read.
    for (const char* key : {"enhanced", "plus", "destination", "stopped", "notCopied", "filteredOut"})
        result.remove(key);
    return result;
}

ExportPlan FinalExport::plan(const QString& destBaseIn, const FinalExportOptions& options) const {
    ExportPlan plan;
    QString base = localPathFromUrl(destBaseIn);
    if (base.isEmpty()) base = state_.outputBase();
    if (base.isEmpty() || state_.inputFolder().isEmpty()) return plan;
    plan.destination = base;
    plan.inputFolder = state_.inputFolder();
    plan.earlier = ExportRun::Earlier::Replace;
    const QString finalFolder = joinFolder(base, "final_selection"), unselectedFolder = joinFolder(base, "unselected");

    std::set<QString> keptSubFolders;
    for (const Image& i : state_.images())
        if (i.status != SelectionModel::Removed) keptSubFolders.insert(subFolderOf(i.filename));
    const bool severalFolders = keptSubFolders.size() > 1;

    auto targetFolder = [&](const QString& root, const QString& filename, const QString& label) {
        const QString sub = subFolderOf(filename);
        if (!options.byCategory) return sub.isEmpty() ? root : joinFolder(root, sub);
        if (severalFolders && !sub.isEmpty()) return joinFolder(joinFolder(root, sub), label);
        return joinFolder(root, label);
    };

    QHash<int, FrameMarks> marks;
    if (options.marks.active() && state_.projectOpen())
        marks = state_.store()->frameMarksForProject(state_.projectId());
    for (const Image& i : state_.images()) {
        if (i.status == SelectionModel::Removed) continue;
        if (!passesMarkFilter(marks.value(i.id), options.marks)) {
            ++plan.filteredOut;
            continue;
        }
        plan.copies.append(
            {i.filename, targetFolder(finalFolder, i.filename, categoryLabel(displayCategoryOf(i))), {},
             Kind::Selected});
    }
    if (options.includeUnselected && state_.projectOpen()) {
        for (const QVariant& v : state_.store()->unselectedImagesForProject(state_.projectId())) {
            const QVariantMap row = v.toMap();
            const QString name = row["filename"].toString();
            if (name.isEmpty()) continue;
            plan.copies.append({name, targetFolder(unselectedFolder, name, storedLabel(row["category"].toString())),
                                {}, Kind::Unselected});
        }
    }
    plan.embedXmp = options.embedXmp;
    if (plan.embedXmp) plan.handover = handoverImages();
    return plan;
}

ExportPlan FinalExport::editedPlan(const QString& destBaseIn, const QList<SelectionModel::EditedFiles>& edited) const {
    ExportPlan plan;
    const QString base = localPathFromUrl(destBaseIn);
    if (base.isEmpty() || state_.inputFolder().isEmpty()) return plan;
    plan.destination = base;
    plan.inputFolder = state_.inputFolder();
    plan.earlier = ExportRun::Earlier::Keep;
    const QList<Image>& images = state_.images();
    for (const bool plus : {false, true}) {
        const QString root = joinFolder(base, plus ? "enhanced_plus" : "enhanced");
        for (qsizetype n = 0; n < images.size() && n < edited.size(); ++n) {
            const Image& i = images[n];
            const QString& file = plus ? edited[n].plus : edited[n].enhance;
            if (i.status == SelectionModel::Removed || file.isEmpty()) continue;
            // The copy keeps the source's sub-folder, name and extension.
            const QString sub = subFolderOf(i.filename);
            plan.copies.append({i.filename, sub.isEmpty() ? root : joinFolder(root, sub), file,
                                plus ? Kind::Plus : Kind::Enhanced});
        }
    }
    return plan;
}

QHash<QString, HandoverImage> FinalExport::handoverImages() const {
    // From the project database when one is open (persons, clusters),
    // otherwise from the reviewed list itself.
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
    return byName;
}

}  // namespace keepframe
