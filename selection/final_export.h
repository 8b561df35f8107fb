// Copying the final selection (and, when asked, everything else) out of the
// input folder. An export is planned on the user interface thread, where the
// review and the project database live, and its copies are made by
// runExportPlan on any thread: at once, or in the background (ExportJobs).
#pragma once

#include "export_marks.h"
#include "export_run.h"
#include "handover.h"
#include "selection_model.h"

#include <QHash>
#include <QList>
#include <QVariant>

namespace keepframe {

class JobControl;
class ReviewState;

// One file an export copies.
struct ExportCopy {
    enum class Kind { Selected, Unselected, Enhanced, Plus };
    QString filename;  // the image, relative to the input folder
    QString folder;    // the folder the copy goes into
    QString source;    // a version of the image (an edited file); empty: the image itself
    Kind kind = Kind::Selected;
};

// Everything an export needs, so that its copies can be made without the review or the database.
struct ExportPlan {
    QString destination;  // the folder the export writes below
    QString inputFolder;
    ExportRun::Earlier earlier = ExportRun::Earlier::Replace;
    QList<ExportCopy> copies;
    // The kept copies also carry the XMP of their image (by file name).
    bool embedXmp = false;
    QHash<QString, HandoverImage> handover;
    // Kept frames a mark filter left out.
    int filteredOut = 0;
};

// How the final selection is exported.
struct FinalExportOptions {
    bool byCategory = false;
    bool includeUnselected = false;
    bool embedXmp = false;
    MarkExportFilter marks;  // applies to the kept frames
};

// The options from the map the screens pass: "byCategory", "includeUnselected",
// "embedXmp" (bools), "minStars" and "labelled" (markExportFilterFrom).
FinalExportOptions finalExportOptionsFrom(const QVariantMap& options);

// Makes the copies of `plan` in order. With `control` the run reports
// done/total through it and ends early once a stop is requested: between two
// files, so that every copy made is whole. Returns "selected", "unselected",
// "enhanced", "plus" (copies made of each kind), "inPlace" and "skipped" (as
// ExportRun names them), "destination", "stopped" (true when it ended early),
// "notCopied" (files not reached then), "filteredOut", and "xmpFailed" (copies
// that could not take their XMP) when the plan embeds XMP.
QVariantMap runExportPlan(const ExportPlan& plan, JobControl* control = nullptr);

class FinalExport {
public:
    explicit FinalExport(const ReviewState& state) : state_(state) {}

    // Copies the kept images into DEST/final_selection (by sub-folder, or by
    // category label) and, with `includeUnselected` and a project open, every
    // other image of the project into DEST/unselected; DEST is the output
    // folder when `destBaseIn` is empty. Returns {"selected", "unselected":
    // copies made; "inPlace": targets that are their source file; "skipped":
    // [{"file", "reason"}] of every image not copied, with "inPlace": true on
    // those whose target is the source file}. With `embedXmp` the kept copies
    // also carry the rating, label and keywords of the XMP sidecars in their
    // own XMP, and "xmpFailed" counts the copies that could not take it (the
    // originals are never touched). Nothing is copied without a destination
    // or an input folder.
    QVariantMap exportFinal(const QString& destBaseIn, bool byCategory, bool includeUnselected, bool embedXmp) const;

    // The plan of that export; with a mark filter only the kept frames that
    // pass it are copied (the stored marks of a project; a review without a
    // project has none). An empty plan without a destination or input folder.
    ExportPlan plan(const QString& destBaseIn, const FinalExportOptions& options) const;
    // The plan of copying the edited versions of the kept images into
    // DEST/enhanced and DEST/enhanced_plus, in the sub-folders and under the
    // names of their sources; no file is ever replaced, not even one of an
    // earlier export. `edited` holds the edited files of each image, in order.
    ExportPlan editedPlan(const QString& destBaseIn, const QList<SelectionModel::EditedFiles>& edited) const;

private:
    // What each image hands over to its copy's XMP, by file name.
    QHash<QString, HandoverImage> handoverImages() const;

    const ReviewState& state_;
};

}  // namespace keepframe
