// Handing the cull over to the photographer's editor: a rating, a colour label
// and keywords per photograph, in XMP sidecar files next to the originals or
// embedded in exported JPEG copies. Existing sidecars are merged, never
// replaced wholesale, and every write is atomic.
#pragma once

#include "frame_marks.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>

namespace keepframe {

class ProjectStore;

// What the review made of an image.
enum class HandoverVerdict {
    Kept,       // engine pick or added by the user, not removed
    ForReview,  // not kept, in a cluster of which nothing is kept
    Unpicked,   // not kept, in a cluster that has a kept frame: keywords only
    Rejected,   // picked by the engine, removed by the user
};

struct HandoverImage {
    QString filename;         // relative to the input folder, "/" separators
    QString category;         // engine category: "venue", "portrait" or "group"
    QString displayCategory;  // "venue", "featured", "portrait" or "group"
    int clusterNumber = 0;    // 0: none
    HandoverVerdict verdict = HandoverVerdict::Unpicked;
    QList<int> persons;       // person numbers recognised on the image, ascending
    // Names the photographer gave persons of the project (person number ->
    // name; one list shared by all its images); an unnamed person is "Person 3".
    QHash<int, QString> personNames;
    FrameMarks marks;         // the photographer's own rating and label, which win over the verdict's
};

enum class SidecarStyle {
    Replace,  // IMG_0001.xmp: the extension replaced
    Append,   // IMG_0001.CR2.xmp: ".xmp" appended to the whole name
};

struct XmpOptions {
    SidecarStyle style = SidecarStyle::Replace;
    // What an image gets when the photographer gave it no rating or no label of
    // their own: kept keptRating and keptLabel, for review 1, removed -1 (reject).
    int keptRating = 3;            // 1 to 5, for kept images
    QString keptLabel = "Green";   // for kept images; empty: no label
    bool remove = false;           // take our values back out instead of writing them
};

enum class SidecarOutcome { Written, Merged, Unchanged, Removed, Shared, Skipped, Failed };

struct SidecarNote {
    QString file;     // the photograph relative to the folder of the originals (as stored when not found)
    QString sidecar;  // relative likewise; empty when none was chosen
    SidecarOutcome outcome = SidecarOutcome::Skipped;
    QString reason;
};

struct SidecarReport {
    int written = 0;    // new sidecars
    int merged = 0;     // existing sidecars updated
    int unchanged = 0;  // existing sidecars that already held the same values
    int removed = 0;    // sidecars deleted because nothing but our values was in them
    int shared = 0;     // one capture with another photograph whose sidecar holds the values
    int skipped = 0;    // nothing written, for the reason noted
    int failed = 0;     // could not be read or written; the sidecar is as it was
    QList<SidecarNote> notes;  // every shared, skipped and failed photograph, and merges with a remark
    QString error;             // nothing could be done at all
};

// The moment label of the review grid: "G" (group), "D" (venue) or "P", "C",
// then the cluster number, e.g. "PC10".
QString clusterLabel(const QString& category, int clusterNumber);

// Our hierarchical keywords for an image: "Keepframe|Category|Portrait",
// "Keepframe|Moment|PC10", "Keepframe|Person|Anna" for a named person and
// "Keepframe|Person|Person 3" for one without a name, ... A "|" in a name
// (which would start another level) is written as "/".
QStringList handoverKeywords(const HandoverImage& image);

// Every image of a stored project with its verdict, clusters, persons and marks;
// empty with `error` set when the project cannot be read.
QList<HandoverImage> projectHandoverImages(ProjectStore& store, int projectId, QString& error);

// Told how many images are settled after each sidecar; returning false stops
// the run there: the sidecars not reached yet stay as they were, and the
// report says so in its error.
using HandoverProgress = std::function<bool(int done, int total)>;

// Writes (or, with options.remove, takes back) the sidecars of the images
// below `inputFolder`, the folder the project's file names are relative to.
// For previews made from RAW files the sidecars go next to the RAW originals.
// Uses no Qt object and no project database, so it may run on any thread.
SidecarReport writeXmpSidecars(const QString& inputFolder, const QList<HandoverImage>& images,
                               const XmpOptions& options, const HandoverProgress& progress = {});

// The same for every image of a stored project.
SidecarReport writeProjectXmpSidecars(ProjectStore& store, int projectId, const QString& inputFolder,
                                      const XmpOptions& options, const HandoverProgress& progress = {});

// Puts the XMP of `image` into the JPEG file at `jpegCopy`, merged with the XMP
// it already holds, and replaces the file atomically. Meant for exported
// copies, never for originals. False with `error` set when it cannot.
bool embedXmp(const QString& jpegCopy, const HandoverImage& image, const XmpOptions& options, QString& error);

// The report as the desktop program shows it: "written", "merged",
// "unchanged", "removed", "shared", "skipped", "failed" (ints), "error"
// (text) and "notes" (list of {"file", "sidecar", "outcome", "reason"}).
QVariantMap sidecarReportMap(const SidecarReport& report);
QString outcomeName(SidecarOutcome outcome);

// Tests only: called after a file's new content is written and before it
// replaces the old one; returning false abandons that write.
void setXmpCommitHookForTests(std::function<bool(const QString& path)> hook);

}  // namespace keepframe
