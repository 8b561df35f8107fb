// What an image of a project hands over: its verdict, moment, category and
// persons, read from the project database; and the report as a map.
#include "handover.h"

#include "category.h"
#include "people.h"
#include "project_store.h"

#include <QSet>

#include <utility>

namespace keepframe {

namespace {

// The category keyword's last level: "Details", "Featured", "Group", or "Portrait" for any other text.
QString keywordCategory(const QString& displayCategory) {
    switch (categoryOf(displayCategory.toStdString()).value_or(Category::Portrait)) {
    case Category::Venue: return QStringLiteral("Details");
    case Category::Featured: return QStringLiteral("Featured");
    case Category::Group: return QStringLiteral("Group");
    case Category::Portrait: break;
    }
    return QStringLiteral("Portrait");
}

}  // namespace

QString clusterLabel(const QString& category, int clusterNumber) {
    return momentLetter(categoryOf(category.toStdString())) + QStringLiteral("C") + QString::number(clusterNumber);
}

QStringList handoverKeywords(const HandoverImage& image) {
    QStringList out{"Keepframe|Category|" + keywordCategory(image.displayCategory)};
    if (image.clusterNumber > 0) out << "Keepframe|Moment|" + clusterLabel(image.category, image.clusterNumber);
    for (int person : image.persons) {
        QString name = cleanPersonName(image.personNames.value(person));
        name.replace('|', '/');
        const QString keyword = "Keepframe|Person|" + personDisplayName(person, name);
        // Two persons may carry one name (the same guest found twice and named twice).
        if (!out.contains(keyword)) out << keyword;
    }
    return out;
}

QList<HandoverImage> projectHandoverImages(ProjectStore& store, int projectId, QString& error) {
    error.clear();
    if (!store.openProject(projectId)) {
        error = store.lastError();
        return {};
    }
    // The rows' read clears the store's error; after it, any text is a failure of this project's reads.
    const QList<HandoverRow> rows = store.loadHandoverRows(projectId);
    const QHash<int, QList<int>> persons = store.lastError().isEmpty() ? store.personsByImage(projectId)
                                                                       : QHash<int, QList<int>>();
    const QHash<int, FrameMarks> marks =
        store.lastError().isEmpty() ? store.frameMarksForProject(projectId) : QHash<int, FrameMarks>();
    const QHash<int, QString> names =
        store.lastError().isEmpty() ? store.personNames(projectId) : QHash<int, QString>();
    if (!store.lastError().isEmpty()) {
        error = store.lastError();
        return {};
    }
    // Clusters of which the user keeps at least one frame.
    QSet<std::pair<QString, int>> keptClusters;
    for (const HandoverRow& row : rows)
        if (row.userSelected) keptClusters.insert({row.category, row.clusterNumber});
    QList<HandoverImage> out;
    out.reserve(rows.size());
    for (const HandoverRow& row : rows) {
        HandoverImage image;
        image.filename = row.filename;
        image.category = row.category;
        image.displayCategory = displayCategoryOf(row.category, row.totalDetectedFaces, row.isFeatured);
        image.clusterNumber = row.clusterNumber;
        image.persons = persons.value(row.id);
        image.personNames = names;
        image.marks = marks.value(row.id);
        const bool clusterKept = keptClusters.contains({image.category, image.clusterNumber});
        if (row.userSelected) image.verdict = HandoverVerdict::Kept;
        else if (row.engineSelected) image.verdict = HandoverVerdict::Rejected;
        else image.verdict = clusterKept ? HandoverVerdict::Unpicked : HandoverVerdict::ForReview;
        out.append(image);
    }
    return out;
}

SidecarReport writeProjectXmpSidecars(ProjectStore& store, int projectId, const QString& inputFolder,
                                      const XmpOptions& options, const HandoverProgress& progress) {
    QString error;
    const QList<HandoverImage> images = projectHandoverImages(store, projectId, error);
    if (!error.isEmpty()) {
        SidecarReport report;
        report.error = error;
        return report;
    }
    return writeXmpSidecars(inputFolder, images, options, progress);
}

QString outcomeName(SidecarOutcome outcome) {
    switch (outcome) {
    case SidecarOutcome::Written: return "written";
    case SidecarOutcome::Merged: return "merged";
    case SidecarOutcome::Unchanged: return "unchanged";
    case SidecarOutcome::Removed: return "removed";
    case SidecarOutcome::Shared: return "shared";
    case SidecarOutcome::Skipped: return "skipped";
    case SidecarOutcome::Failed: break;
    }
    return "failed";
}

QVariantMap sidecarReportMap(const SidecarReport& report) {
    QVariantList notes;
    for (const SidecarNote& n : report.notes)
        notes.append(QVariantMap{
            {"file", n.file}, {"sidecar", n.sidecar}, {"outcome", outcomeName(n.outcome)}, {"reason", n.reason}});
    return QVariantMap{{"written", report.written}, {"merged", report.merged},   {"unchanged", report.unchanged},
                       {"removed", report.removed}, {"shared", report.shared},   {"skipped", report.skipped},
                       {"failed", report.failed},   {"error", report.error},     {"notes", notes}};
}

}  // namespace keepframe
