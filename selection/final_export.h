// Copying the final selection (and, when asked, everything else) out of the
// input folder, on the calling thread.
#pragma once

#include <QVariant>

namespace keepframe {

class ReviewState;

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

private:
    // Embeds the XMP into exported copies (path, image file name); the number that failed.
    int embedXmpIntoCopies(const QList<QPair<QString, QString>>& copies) const;

    const ReviewState& state_;
};

}  // namespace keepframe
