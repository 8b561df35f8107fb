// Which frames of the final selection an export takes when the photographer
// asks for the rated or labelled ones only: at least N stars, or any colour
// label, or either.
#pragma once

#include "frame_marks.h"

#include <QStringList>
#include <QVariantMap>

namespace keepframe {

class FrameRatings;

struct MarkExportFilter {
    int minStars = 0;      // 1 to 5: frames rated at least this; 0 (or less): no condition on stars
    bool labelled = false; // frames with a colour label

    // Without a condition every frame is taken.
    bool active() const { return minStars > 0 || labelled; }
};

// The filter from the options the screens pass: "minStars" (a number) and
// "labelled" (bool); missing keys set no condition.
MarkExportFilter markExportFilterFrom(const QVariantMap& options);

// Whether a frame with `marks` is exported: every frame when the filter sets
// no condition, otherwise one that meets either condition it sets. A rating
// of 0 stars meets no star condition.
bool passesMarkFilter(const FrameMarks& marks, const MarkExportFilter& filter);

// The frames of `filenames` that pass, in their order; a frame `ratings` does
// not know has no marks.
QStringList framesPassingMarkFilter(const QStringList& filenames, const FrameRatings& ratings,
                                    const MarkExportFilter& filter);

}  // namespace keepframe
