// The reviewed selection of the open project as the user interface sees it
// (published to QML as "selModel"): every image with its review status, the
// counts the screens show, the views of the review grid, the final export,
// project files, enhancement and XMP sidecars. It is the one object QML
// talks to; the work is done by the parts it owns (ReviewState, ReviewViews,
// FinalExport, ProjectFiles, EnhanceJobs, XmpJobs, ReviewDecisions and its
// DecisionHistory). Every change of a status, a rating or a label is written
// to the project database at once, so the selection survives closing the
// program, and can be undone and redone during the session.
#pragma once

#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QVariant>

#include <memory>

namespace keepframe {

class DecisionHistory;
class EnhanceJobs;
class ExportJobs;
class FinalExport;
class ProjectFiles;
class ProjectStore;
class ReviewDecisions;
class ReviewState;
class ReviewViews;
class XmpJobs;

class SelectionModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(int primaryCount READ primaryCount NOTIFY changed)
    Q_PROPERTY(int reviewCount READ reviewCount NOTIFY changed)
    Q_PROPERTY(int removedCount READ removedCount NOTIFY changed)
    Q_PROPERTY(int addedCount READ addedCount NOTIFY changed)
    Q_PROPERTY(int keptCount READ keptCount NOTIFY changed)
    Q_PROPERTY(bool hasData READ hasData NOTIFY changed)
    Q_PROPERTY(QString inputFolder READ inputFolder NOTIFY changed)
    Q_PROPERTY(bool xmpRunning READ xmpRunning NOTIFY xmpRunningChanged)
    Q_PROPERTY(bool canUndo READ canUndo NOTIFY historyChanged)
    Q_PROPERTY(bool canRedo READ canRedo NOTIFY historyChanged)
    Q_PROPERTY(QString undoLabel READ undoLabel NOTIFY historyChanged)
    Q_PROPERTY(QString redoLabel READ redoLabel NOTIFY historyChanged)
    Q_PROPERTY(QVariantMap filter READ filter NOTIFY filterChanged)
    Q_PROPERTY(bool filterActive READ filterActive NOTIFY filterChanged)
    Q_PROPERTY(QString filterText READ filterText NOTIFY filterChanged)
    Q_PROPERTY(bool exportRunning READ exportRunning NOTIFY exportRunningChanged)
    // The counts beside the summary, following every decision: "kept" (every
    // frame not removed), "removed" (frames the cull kept that were removed
    // since) and "added" (frames the cull left out that were added since).
    Q_PROPERTY(QVariantMap liveCounts READ liveCounts NOTIFY changed)
public:
    enum Status { None = 0, Primary = 1, Review = 2, Removed = 3, Added = 4 };
    Q_ENUM(Status)

    struct Image {
        int id = -1;
        QString filename;
        QString category;
        QString reason;
        QString captureTime;
        int fullW = 0, fullH = 0;
        int orientation = 1;
        int appliedRotation = 0;
        double score = 0;
        int clusterNumber = 0;
        int clusterImageCount = 0;
        int totalDetectedFaces = 0;
        bool isFeatured = false;
        Status original = None;
        Status status = None;
        QVariantList faceBoxes;
        QString thumbUrl;
    };

    // The edited files of one image (local paths, empty where a level has none).
    struct EditedFiles {
        QString enhance;
        QString plus;
    };

    explicit SelectionModel(QObject* parent = nullptr);
    // Stops a running enhancement batch and waits for it; the store, when set,
    // must still exist (the batch's written files are counted in it). A running
    // write of XMP sidecars stops at the next sidecar and is waited for too.
    ~SelectionModel() override;
    void setStore(ProjectStore* store);

    int primaryCount() const;
    int reviewCount() const;
    int removedCount() const;
    int addedCount() const;
    int keptCount() const;
    bool hasData() const;
    QString inputFolder() const;
    const QList<Image>& images() const;

    // Project library.
    Q_INVOKABLE QVariantList listProjects();
    // Why the last operation on the library or the open project failed (the
    // store's text); empty after listProjects() or loadFromProject() read
    // everything.
    Q_INVOKABLE QString storeError() const;
    Q_INVOKABLE bool renameProject(int projectId, const QString& newName);
    Q_INVOKABLE bool deleteProject(int projectId);
    Q_INVOKABLE void touchOpenProject();
    // Views of the review grid.
    Q_INVOKABLE QVariantList flatView();
    Q_INVOKABLE QVariantList flatViewByCategory();
    Q_INVOKABLE QVariantList keptImages() const;
    Q_INVOKABLE QVariantList facesForImage(int imageId);
    Q_INVOKABLE QVariantList detectionsForImage(int imageId);
    // Every frame of the moment of one stored image, in capture order, for the
    // compare view: the cluster images of clustersFromDb with "status" (as the
    // grid counts it; 0 for a frame neither the engine nor the user keeps),
    // "eyeScore" and "faces" (the confident faces, else all face boxes).
    Q_INVOKABLE QVariantList momentFrames(int imageId);
    // Enhancement jobs and edited outputs (the working files of this run of the program).
    Q_INVOKABLE QVariantList deliverableImages();
    Q_INVOKABLE bool enhanceImage(int imageId, const QString& filename, bool plus = false);
    Q_INVOKABLE int enhanceProgressDone() const;
    Q_INVOKABLE int enhanceProgressTotal() const;
    Q_INVOKABLE bool enhanceIsRunning() const;
    Q_INVOKABLE void cancelEnhance();
    Q_INVOKABLE bool enhanceImagesParallel(const QVariantList& imageIds, const QVariantList& filenames, bool plus);
    // File names of the images of the current or last batch that produced no file.
    Q_INVOKABLE QStringList enhanceFailures() const;
    Q_INVOKABLE bool hasEdited(int imageId, bool plus = false) const;
    Q_INVOKABLE QString editedUrl(int imageId, bool plus = false) const;
    Q_INVOKABLE QString bestEditedUrl(int imageId) const;
    Q_INVOKABLE QString originalUrl(const QString& filename) const;
    // Copies the edited versions of the kept images into DEST/enhanced and
    // DEST/enhanced_plus, in the sub-folders and under the names of their
    // sources; an existing file is never replaced (a number is added to the
    // name instead). Returns [Enhance copies, Enhance Plus copies].
    Q_INVOKABLE QVariantList exportEdited(const QString& destBaseIn);
    // The edited files of several images, resolving the project's folders
    // once for the whole list.
    QList<EditedFiles> editedFiles(const QList<int>& imageIds) const;
    // The lifetime counters of the library: "lifetimeProjects", "lifetimeCulledImages",
    // "lifetimeEnhancedImages" (0 without a store).
    Q_INVOKABLE QVariantMap usageCounters() const;
    Q_INVOKABLE void clear();
    Q_INVOKABLE void setImageSelected(int imageId, bool selected);
    // False, with storeError() set and no images, when the project cannot be
    // read whole.
    Q_INVOKABLE bool loadFromProject(int projectId, const QString& inputFolder);
    Q_INVOKABLE int projectId() const;
    Q_INVOKABLE QVariantList clustersFromDb(const QString& category, bool onlyOrphans = false);
    Q_INVOKABLE QVariantList notSelectedImages();
    Q_INVOKABLE QVariantList unselectedClusterImages();
    Q_INVOKABLE int unselectedClusterCount();
    Q_INVOKABLE void load(const QVariantList& items, const QString& inputFolder, const QString& outputBase);
    Q_INVOKABLE void setSummary(const QVariantMap& summary);
    Q_INVOKABLE void removeImage(const QString& filename);
    Q_INVOKABLE void restoreImage(const QString& filename);
    Q_INVOKABLE void addImage(const QString& filename, const QString& category, int clusterNumber);
    Q_INVOKABLE void removeMany(const QStringList& files);
    Q_INVOKABLE void restoreMany(const QStringList& files);
    Q_INVOKABLE QVariantList loadClusters(const QString& category);
    Q_INVOKABLE void addMany(const QVariantList& items);
    Q_INVOKABLE void resetAll();
    Q_INVOKABLE bool contains(const QString& filename) const;
    Q_INVOKABLE QVariantList removedView() const;
    Q_INVOKABLE QVariantList categoryView() const;
    Q_INVOKABLE QVariantList groupedView() const;
    Q_INVOKABLE QVariantMap unselectedExportPreview();
    // {"selected", "unselected": copies made; "inPlace": targets that are their
    // source file; "skipped": [{"file", "reason"}] of every image not copied,
    // with "inPlace": true on those whose target is the source file}.
    // With embedXmp the kept copies also carry the rating, label and keywords
    // of writeXmpSidecars in their own XMP (the originals are never touched).
    Q_INVOKABLE QVariantMap exportFinal(const QString& destBaseIn, bool byCategory = false,
                                        bool includeUnselected = false, bool embedXmp = false);
    Q_INVOKABLE bool saveProject(const QString& pathIn);
    Q_INVOKABLE QVariantMap openProjectFile(const QString& pathIn);
    Q_INVOKABLE int applyPendingProject(const QString& inputFolderOverride);
    // Ratings, labels and keywords of the open project in XMP sidecars next to
    // the photographs, for the photographer's editor. Options: "style"
    // ("replace": IMG_0001.xmp, the default; "append": IMG_0001.CR2.xmp),
    // "rating" (1 to 5 for kept images, default 3), "label" (default "Green",
    // empty for none), "remove" (take our values back out). Returns the counts
    // "written", "merged", "unchanged", "removed", "shared", "skipped",
    // "failed", an "error" text and "notes" ({"file", "sidecar", "outcome",
    // "reason"} per photograph that was shared, skipped or failed).
    // Refused with an "error" while startXmpSidecars() runs.
    Q_INVOKABLE QVariantMap writeXmpSidecars(const QVariantMap& options = {});
    // The same on a thread of its own, for the desktop program: the project is
    // read here, the sidecars are written in the background, and the map of
    // writeXmpSidecars() arrives with xmpSidecarsFinished(). False (and no
    // signal) while a write runs or without an open project.
    Q_INVOKABLE bool startXmpSidecars(const QVariantMap& options = {});
    // Images settled and images in all, of the running or the last write.
    Q_INVOKABLE int xmpProgressDone() const;
    Q_INVOKABLE int xmpProgressTotal() const;
    // From startXmpSidecars() until xmpSidecarsFinished().
    bool xmpRunning() const;

    // Stars and colour labels. The keys 0 to 5 rate the frames, 6 to 9 set
    // (or, when all of them have it, clear) the label red, yellow, green or
    // blue; false when nothing changed (lastMarksError() says why when a
    // write failed).
    Q_INVOKABLE bool pressDigit(const QStringList& files, int digit);
    Q_INVOKABLE QString lastMarksError() const;
    // {"rating": 0 to 5 or -1, "label": "red" … or ""} of one frame.
    Q_INVOKABLE QVariantMap marksOf(const QString& filename) const;
    // Image maps of any view as they are now (marks, and status and
    // "userSelected" for the review), for a screen that holds a list.
    Q_INVOKABLE QVariantList currentFrames(const QVariantList& frames) const;

    // The decisions of this session (statuses, stars, labels, and whatever
    // else records itself in history()). False when there is nothing to undo
    // or redo, or it could not be written.
    Q_INVOKABLE bool undo();
    Q_INVOKABLE bool redo();
    bool canUndo() const;
    bool canRedo() const;
    QString undoLabel() const;
    QString redoLabel() const;
    // For other parts of the program that record their own decisions; a
    // change made through an entry is told with changed().
    DecisionHistory& history();
    // Records a change another part of the program made and stored (a person
    // renamed, merged, a face moved): undo and redo call `editor`'s invokables
    // undo(record) and redo(record), which return whether the change was taken.
    Q_INVOKABLE void recordEdit(const QString& label, QObject* editor, const QVariantMap& record);

    // The filter of the review grid: {"minRating", "labels", "parts",
    // "category"} as ReviewFilter::setFromMap reads it; the person stays.
    QVariantMap filter() const;
    bool filterActive() const;
    QString filterText() const;
    Q_INVOKABLE void setFilter(const QVariantMap& filter);
    Q_INVOKABLE void clearFilter();
    // The frames one person appears in (an empty set: any person).
    void setPersonCriterion(int personId, const QString& name, const QSet<int>& imageIds);
    Q_INVOKABLE void setPersonFilter(int personId, const QString& name, const QVariantList& imageIds);
    // The final export (options of finalExportOptionsFrom) or the export of
    // the edited versions (as exportEdited) on a thread of their own; the map
    // of runExportPlan arrives with exportFinished(). False (and no signal)
    // while an export runs.
    Q_INVOKABLE bool startExportFinal(const QString& destBaseIn, const QVariantMap& options);
    // The same export on the calling thread; returns the map at once.
    QVariantMap exportFinalWith(const QString& destBaseIn, const QVariantMap& options);
    Q_INVOKABLE bool startExportEdited(const QString& destBaseIn);
    // The running export copies no further file; it ends as usual.
    Q_INVOKABLE void cancelExport();
    Q_INVOKABLE int exportProgressDone() const;
    Q_INVOKABLE int exportProgressTotal() const;
    bool exportRunning() const;
    QVariantMap liveCounts() const;

    // Cancels a running enhancement batch and waits until it has ended
    // (enhanceFinished() is emitted). Called before edited outputs are purged
    // at quit, and before the open project's folder is renamed or deleted.
    void stopEnhance();

signals:
    void changed();
    // Stars or labels changed (statuses did not).
    void marksChanged();
    void historyChanged();
    void filterChanged();
    void enhanceFinished();
    void xmpRunningChanged();
    void xmpSidecarsFinished(const QVariantMap& result);
    void exportRunningChanged();
    void exportFinished(const QVariantMap& result);

private:
    // Tells the screens when `changed` is true.
    void tell(bool changed);
    // A decision was made (or not): the screens and the history are told.
    void decided(bool changed);
    // Another review opens: the history and the filter are forgotten.
    void forgetSession();

    std::unique_ptr<ReviewState> state_;
    std::unique_ptr<ReviewViews> views_;
    std::unique_ptr<FinalExport> export_;
    std::unique_ptr<ProjectFiles> files_;
    std::unique_ptr<DecisionHistory> history_;
    std::unique_ptr<ReviewDecisions> decisions_;
    // Children of this object; stopped by its destructor before anything goes.
    EnhanceJobs* enhance_;
    XmpJobs* xmp_;
    ExportJobs* exports_;
};

}  // namespace keepframe
