#include "export_marks.h"

#include "frame_ratings.h"

namespace keepframe {

MarkExportFilter markExportFilterFrom(const QVariantMap& options) {
    MarkExportFilter f;
    bool number = false;
    const int stars = options.value("minStars").toInt(&number);
    if (number) f.minStars = stars;
    f.labelled = options.value("labelled", false).toBool();
    return f;
}

bool passesMarkFilter(const FrameMarks& marks, const MarkExportFilter& filter) {
    if (!filter.active()) return true;
    const bool starred = filter.minStars > 0 && marks.rating.value_or(0) >= filter.minStars;
    const bool labelled = filter.labelled && marks.label != ColorLabel::None;
    return starred || labelled;
}

QStringList framesPassingMarkFilter(const QStringList& filenames, const FrameRatings& ratings,
                                    const MarkExportFilter& filter) {
    QStringList out;
    for (const QString& f : filenames)
        if (passesMarkFilter(ratings.marksOf(f), filter)) out << f;
    return out;
}

}  // namespace keepframe
