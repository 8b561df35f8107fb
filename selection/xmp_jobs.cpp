#include "xmp_jobs.h"

#include "handover.h"
#include "project_store.h"
#include "review_state.h"

namespace keepframe {

namespace {

QVariantMap errorMap(const QString& error) {
    SidecarReport r;
    r.error = error;
    return sidecarReportMap(r);
}

// The writer's options from the map the screens pass; an error text when
// they make no sense.
QString readXmpOptions(const QVariantMap& options, XmpOptions& o) {
    const QString style = options.value("style", "replace").toString();
    if (style != "replace" && style != "append") return "Unknown sidecar style \"" + style + "\" (replace or append).";
    o.style = style == "append" ? SidecarStyle::Append : SidecarStyle::Replace;
    o.keptRating = options.value("rating", o.keptRating).toInt();
    o.keptLabel = options.value("label", o.keptLabel).toString();
    o.remove = options.value("remove", false).toBool();
    return {};
}

// Out of memory, most likely: what was written stays, and the end is still told.
QVariantMap failedWrite(const QString& message) {
    return errorMap(QString("The sidecars could not all be written: %1").arg(message));
}

const char* const kAlreadyWriting = "XMP sidecars are being written already.";

}  // namespace

XmpJobs::XmpJobs(const ReviewState& state, QObject* parent) : MapJob(failedWrite, parent), state_(state) {}

QVariantMap XmpJobs::write(const QVariantMap& options) {
    XmpOptions o;
    const QString error = readXmpOptions(options, o);
    if (!error.isEmpty()) return errorMap(error);
    if (!state_.projectOpen()) return errorMap("No project is open.");
    if (isRunning()) return errorMap(kAlreadyWriting);
    return sidecarReportMap(writeProjectXmpSidecars(*state_.store(), state_.projectId(), state_.inputFolder(), o));
}

bool XmpJobs::start(const QVariantMap& options) {
    if (isRunning() || !state_.projectOpen()) return false;
    // The project is read here: the store belongs to this thread.
    XmpOptions o;
    QString error = readXmpOptions(options, o);
    QList<HandoverImage> images;
    if (error.isEmpty()) images = projectHandoverImages(*state_.store(), state_.projectId(), error);
    const int total = int(images.size());
    BackgroundJob::Work work;
    if (!error.isEmpty()) {
        // Told like the end of a write, after this call has returned.
        work = [map = errorMap(error)](JobControl&) { return QVariant(map); };
    } else {
        work = [folder = state_.inputFolder(), images = std::move(images), o](JobControl& control) {
            const auto progress = [&control](int done, int total) {
                control.setDone(done);
                control.setTotal(total);
                return !control.stopRequested();
            };
            return QVariant(sidecarReportMap(keepframe::writeXmpSidecars(folder, images, o, progress)));
        };
    }
    return startWork(std::move(work), total);
}

}  // namespace keepframe
