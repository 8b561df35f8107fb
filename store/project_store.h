// The persistence object: the registry of all projects (projects.db, with the
// lifetime usage counters) and the database of the one open project
// (project.db). Each instance and its two connections belong to the thread
// that created it. Nothing here throws: failures return false, -1, 0 or an
// empty result and leave a message in lastError(). The reads that list a
// library or a project (listProjects, loadProjectImages, loadHandoverRows)
// clear lastError() first, so that an empty result with an empty lastError()
// is an empty library or project, and one with a text is a failure: a damaged
// database (a row that cannot be read, even after the first ones) is never
// passed off as an empty or shorter one.
#pragma once

#include <QHash>
#include <QList>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <QtGlobal>

#include <functional>
#include <optional>

#include "frame_marks.h"
#include "people.h"
#include "records.h"

namespace keepframe {

// The folder-name part of a project name: letters, digits, "-" and "_" kept,
// blanks and "." made "_", runs of "_" folded, at most 60 characters.
QString folderSlug(const QString& name);

// The category the review screens group an image by: "venue" for venue frames;
// otherwise "group" when more than two faces were detected, else "featured"
// for frames of the main people only, else "portrait".
QString displayCategoryOf(const QString& category, int totalDetectedFaces, bool isFeatured);

// What handing the cull over (XMP sidecars) needs of one image: its verdicts,
// moment and category, without the faces and paths the review screens read.
// One image of a moment of which the user keeps nothing.
struct OrphanFrame {
    int id = -1;
    QString filename;
    QString category;
    int faceCount = 0;
};

struct HandoverRow {
    int id = 0;
    QString filename;
    QString category;
    int clusterNumber = 0;
    int totalDetectedFaces = 0;
    bool isFeatured = false;
    bool engineSelected = false;
    bool userSelected = false;
};

class ProjectStore {
public:
    ProjectStore();
    ~ProjectStore();
    ProjectStore(const ProjectStore&) = delete;
    ProjectStore& operator=(const ProjectStore&) = delete;

    // The application data folder: $KEEPFRAME_DATA_DIR when set (tests and
    // portable installs), otherwise Qt's writable AppDataLocation.
    static QString resolveAppDataDir();

    // Registry and counters.
    bool openRegistry();
    bool registryOpen() const;
    // Whether a project can be saved now, asked before a cull starts rather
    // than after its analysis: the registry reads back whole and takes a
    // write (tried in a transaction that is rolled back), and the projects
    // folder takes a new file. False with lastError() set otherwise.
    bool checkCanSave();
    QVariantList listProjects();
    bool renameProject(int projectId, const QString& newName);
    bool deleteProject(int projectId);
    bool setCoverImage(int projectId, int imageId);
    bool touchProject(int projectId);
    void bumpStat(const QString& key, qint64 delta);
    qint64 readStat(const QString& key) const;
    qint64 lifetimeProjects();
    qint64 lifetimeCulledImages();
    qint64 lifetimeEnhancedImages();
    QString currentDbFolder() const;
    QString projectsRoot() const;
    // The open project's folder; empty without one or when its stored name is not a plain folder name.
    QString projectFolder() const;
    void purgeEditedOutputs();

    // The open project's database.
    bool openProjectDb(const QString& folder, bool createSchema);
    bool execProjectSql(const QString& statement);
    bool openProject(int projectId);
    QVariantList loadProjectImages(int projectId);
    QVariantList clustersForProject(int projectId, const QString& category, bool onlyOrphans);
    QVariantList unselectedImagesForProject(int projectId);
    // Every frame of the moment (category and cluster) of one image, in
    // capture order, as clustersForProject lists a cluster's images, with
    // "engineSelected" and "eyeScore" besides; empty when the image is unknown.
    QVariantList momentImages(int projectId, int imageId);
    // Number of images in the venue, portrait and group clusters of which the
    // user keeps nothing (what clustersForProject with onlyOrphans lists); -1
    // when the project cannot be read.
    int orphanClusterImageCount(int projectId);
    // What a filter asks of each of those images, in one query: its id,
    // name, stored category and number of face boxes. Empty with
    // lastError() set when the project cannot be read.
    QVector<OrphanFrame> orphanClusterFrames(int projectId);
    bool resetToEngine(int projectId);
    bool setUserSelected(int imageId, bool selected);
    bool setUserSelectedMany(const QList<int>& imageIds, bool selected);
    QVariantList detectionsForImage(int imageId);
    // The measures the cull stored for one image of a project: "sharpness",
    // "eyeSharpness", "exposure", "contrast", "expression" (reals),
    // "detectedFaces" (int), "reason" (text), "engineSelected" (bool) and its
    // "detections" as detectionsForImage lists them; empty when the image is
    // unknown or the project cannot be read.
    QVariantMap imageMeasures(int projectId, int imageId);
    QVariantList facesWithConfidence(int imageId);
    QVariantList displayFacesForImage(int imageId);
    // The person numbers recognised on each image of a project (image id ->
    // distinct numbers, ascending); images without a recognised person are
    // absent. Empty with lastError() set when the project cannot be read.
    QHash<int, QList<int>> personsByImage(int projectId);
    // Every image of a project in the order of loadProjectImages, with only
    // what the handover needs: one query. Empty with lastError() set when the
    // project cannot be read.
    QList<HandoverRow> loadHandoverRows(int projectId);

    // The people of a project (persons.h). The names live in a table of their
    // own, which projects stored before it get when opened; one that cannot be
    // given it (read-only, locked) reads as unnamed and refuses names. Reads
    // clear lastError() first: an empty result with a text is a failure. Every
    // change runs in one transaction and changes nothing when it fails, with
    // lastError() saying why.
    //
    // Every person with at least one face, the most frames first (then by
    // number), each with its largest face.
    QList<PersonSummary> persons(int projectId);
    // The images in which a face is the person's, ascending; empty for a person without faces.
    QList<int> imagesOfPerson(int projectId, int personId);
    // Every person's images at once: person id -> ascending image ids.
    QHash<int, QList<int>> imagesByPerson(int projectId);
    // The names of a project's named persons: person id -> name.
    QHash<int, QString> personNames(int projectId);
    // The faces of one image with their persons, in stored order.
    QList<FacePerson> facesOfImage(int projectId, int imageId);
    // Names a person (cleanPersonName); an empty or blank name takes the name
    // away. False for a person without faces in the project.
    bool setPersonName(int projectId, int personId, const QString& name);
    // Gives every face of person `fromId` to person `intoId` and drops the
    // merged person's name; the kept person takes it when it had none.
    // Nothing, with lastError() set, when the two are the same, either has no
    // faces, or the database cannot be written.
    std::optional<PersonMerge> mergePersons(int projectId, int intoId, int fromId);
    // Takes a merge back: the recorded faces that are still the kept person's
    // return to the merged one, and both names are as before. Does it again
    // with `redo`. False when none of the recorded faces is where the merge
    // (or its undoing) left it.
    bool undoMerge(int projectId, const PersonMerge& merge);
    bool redoMerge(int projectId, const PersonMerge& merge);
    // Gives one face to another person (-1: nobody). Nothing, with
    // lastError() set, for an unknown face, a face that already is that
    // person's, or a person below -1.
    std::optional<FaceMove> moveFace(int projectId, int faceId, int toPersonId);
    // Takes a move back (or does it again with `redo`); false when the face is
    // no longer where the move (or its undoing) left it.
    bool undoFaceMove(int projectId, const FaceMove& move);
    bool redoFaceMove(int projectId, const FaceMove& move);

    // The photographer's rating and colour label of one frame (frame_marks.h),
    // both written by one statement, so in one transaction. False with
    // lastError() set when no project database is open, the rating is not 0
    // to 5, the image is unknown, or the database cannot take the marks (a
    // project stored before they existed that could not be given their columns).
    bool setFrameMarks(int imageId, const FrameMarks& marks);
    // One frame's marks from the open project database; nothing, with
    // lastError() set, when the image is unknown or cannot be read.
    std::optional<FrameMarks> frameMarks(int imageId);
    // The marks of every marked frame of a project: image id -> marks; frames
    // without a rating or label are absent. Clears lastError() first; empty
    // with lastError() set when the project cannot be read. A stored value
    // that is no rating or label reads as none.
    QHash<int, FrameMarks> frameMarksForProject(int projectId);

    // A finished cull as a new project; its id, or -1. The project becomes
    // visible in the library only once all of it is written: its row gets
    // its folder name, cover and counters in one last registry transaction.
    // A failed save leaves nothing behind. The input folder is stored in its
    // canonical absolute form.
    int saveCullResult(const CullResult& result, const QString& inputFolder, const QString& projectName,
                       int cullTimeSeconds);

    int currentProjectId() const { return currentProjectId_; }
    QString lastError() const { return lastError_; }
    QString appDataDir() const { return appDataDir_; }
    QString registryConnectionName() const { return registryConnectionName_; }
    QString projectConnectionName() const { return projectConnectionName_; }

private:
    bool createRegistrySchema();
    // Gives the open project database's images the nullable rating and label
    // columns when it lacks them; nothing else of it changes. Empty when they
    // are there afterwards or the database has no images table at all;
    // otherwise why not (lastError() is left alone).
    QString addMarkColumns();
    // Gives the open project database the persons table when it has faces but
    // not the table; empty when it is there afterwards (or there are no faces
    // at all), otherwise why not.
    QString addPersonsTable();
    bool hasPersonsTable() const;
    // The name of a person in the open project database; empty when none.
    QString storedPersonName(int personId);
    // Runs `sql` with its one value bound; false, with lastError() set to
    // "`operation` failed: " and the driver's text, when it cannot run.
    bool execWithValue(QSqlQuery& q, const char* sql, const QVariant& value, const char* operation);
    // Sets (or, empty, removes) a stored name inside the caller's transaction.
    bool writePersonName(int personId, const QString& name, const char* operation);
    // Moves the listed faces from one person to another inside the caller's
    // transaction; how many moved, or -1.
    int moveFaces(const QList<int>& faceIds, int fromId, int toId, const char* operation);
    // Moves the faces of an earlier edit from one person to another again (an
    // undo or a redo) in one transaction, then runs `then` (when set) inside it.
    // Fails with "`operation` failed: `noneMoved`" when none of the faces is
    // the person's any more.
    bool moveFacesAgain(int projectId, const QList<int>& faceIds, int fromId, int toId, const char* operation,
                        const QString& noneMoved, const std::function<bool()>& then = {});
    // Runs `change` in one transaction of the open project database (made
    // ready for names first); rolls back when it returns false.
    bool inPersonsTransaction(int projectId, const char* operation, const std::function<bool()>& change);
    // An edit of persons in one such transaction: its record, as `change`
    // completed it, when the edit was stored; none otherwise.
    template <class Edit>
    std::optional<Edit> recordedEdit(int projectId, const char* operation, Edit edit,
                                     const std::function<bool(Edit&)>& change) {
        if (!inPersonsTransaction(projectId, operation, [&] { return change(edit); })) return std::nullopt;
        return edit;
    }
    bool hasMarkColumns() const;
    bool projectDbOpen() const;
    void closeProjectDb();
    QString folderOf(int projectId) const;  // db_folder of a row, empty when none
    // projectsRoot() + "/" + dbFolder when dbFolder is a plain folder name; empty otherwise.
    QString projectPath(const QString& dbFolder) const;
    // Removes what saves that died left behind: at once when the process
    // that saved is known to be gone (its save lock is stale), otherwise
    // after kAbandonedSaveSeconds.
    void removeAbandonedSaves();
    // The lock a save holds while it writes the project folder `folderName`.
    QString saveLockPath(const QString& folderName) const;
    // True when every image name of the open project database stays inside the input folder.
    bool imageNamesStayInside(int projectId);
    bool addToStat(const QString& key, qint64 delta);
    // A lifetime counter of the registry; 0, with lastError() set, when the registry is not open.
    qint64 lifetimeStat(const char* key);
    // Undoes a save that failed after its row was inserted; always -1.
    int discardSave(int projectId, const QString& folder, const QString& message);
    // The rows `sql` gives for one image (its one value) of the open project
    // database, each made a value by `row`; empty when the query fails, and
    // with lastError() set when no project database is open.
    QVariantList imageRows(const char* sql, int imageId, const std::function<QVariant(const QSqlQuery&)>& row);
    // Face boxes of one image through a prepared faces statement.
    static QVariantList faceBoxes(QSqlQuery& facesQuery, int imageId);
    // The images of one moment through a prepared statement of them.
    static QVariantList momentImageMaps(QSqlQuery& images, const QString& category, int clusterNumber,
                                        const QString& projectFolder, QSqlQuery& faces);
    bool fail(const QString& message);
    // True, with lastError() set to "`operation` failed: " and the driver's
    // text, when `query` met an error; for the end of a loop over its rows,
    // where next() returning false may mean a page that cannot be read.
    bool readFailed(const QSqlQuery& query, const char* operation);

    QString registryConnectionName_;
    QString projectConnectionName_;
    int currentProjectId_ = -1;
    mutable bool markColumnsSeen_ = false;  // the open project database has them; false once it is closed
    QString lastError_;
    QString appDataDir_;
};

}  // namespace keepframe
