// XMP sidecars for the open project, for the photographer's editor: written
// on the calling thread, or in the background with progress. The project is
// read on the user interface thread before a background write starts; the
// write sees only its own copies of the images and options, never the database.
#pragma once

#include "map_job.h"

#include <QObject>
#include <QVariant>

namespace keepframe {

class ReviewState;

class XmpJobs : public MapJob {
    Q_OBJECT
public:
    explicit XmpJobs(const ReviewState& state, QObject* parent = nullptr);

    // Options: "style" ("replace": IMG_0001.xmp, the default; "append":
    // IMG_0001.CR2.xmp), "rating" (1 to 5 for kept images, default 3),
    // "label" (default "Green", empty for none), "remove" (take our values
    // back out). Returns the counts "written", "merged", "unchanged",
    // "removed", "shared", "skipped", "failed", an "error" text and "notes"
    // ({"file", "sidecar", "outcome", "reason"} per photograph that was
    // shared, skipped or failed). Refused with an "error" for options that
    // make no sense, without an open project, and while a background write runs.
    QVariantMap write(const QVariantMap& options);
    // The same in the background; its map arrives with finished(), also for
    // options that make no sense or a project that cannot be read. False (and
    // no signal) while a write runs or without an open project.
    bool start(const QVariantMap& options);

private:
    const ReviewState& state_;
};

}  // namespace keepframe
