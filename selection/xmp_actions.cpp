// The hand-over to the photographer's editor as the review screens reach it:
// XMP sidecars for the open project, written on the calling thread or on a
// thread of its own, and XMP in exported copies.
#include "selection_model.h"

#include "handover.h"
#include "project_store.h"
#include "xmp_run.h"

#include <QHash>

#include <exception>
#include <system_error>
#include <utility>

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

const char* const kAlreadyWriting = "XMP sidecars are being written already.";

}  // namespace

QVariantMap SelectionModel::writeXmpSidecars(const QVariantMap& options) {
    XmpOptions o;
    const QString error = readXmpOptions(options, o);
    if (!error.isEmpty()) return errorMap(error);
    if (!projectOpen()) return errorMap("No project is open.");
    if (xmp_->running) return errorMap(kAlreadyWriting);
    return sidecarReportMap(writeProjectXmpSidecars(*store_, projectId_, inputFolder_, o));
}

bool SelectionModel::startXmpSidecars(const QVariantMap& options) {
    XmpRun& run = *xmp_;
    if (run.running || !projectOpen()) return false;
    if (run.worker.joinable()) run.worker.join();  // a run stopped without its notice

    // The project is read here: the store belongs to this thread.
    XmpOptions o;
    QString error = readXmpOptions(options, o);
    QList<HandoverImage> images;
    if (error.isEmpty()) images = projectHandoverImages(*store_, projectId_, error);
    const int serial = run.serial + 1;
    run.serial = serial;
    run.done.store(0);
    run.total.store(int(images.size()));
    run.cancel.store(false);
    run.running = true;
    emit xmpRunningChanged();
    if (!error.isEmpty()) {
        // Told like the end of a run, after this call has returned.
        QMetaObject::invokeMethod(
            this, [this, serial, map = errorMap(error)] { finishXmp(serial, map); }, Qt::QueuedConnection);
        return true;
    }
    try {
        run.worker = std::thread([this, &run, serial, folder = inputFolder_, images = std::move(images), o] {
            const auto progress = [&run](int done, int total) {
                run.done.store(done);
                run.total.store(total);
                return !run.cancel.load();
            };
            QVariantMap map;
            try {
                map = sidecarReportMap(keepframe::writeXmpSidecars(folder, images, o, progress));
            } catch (const std::exception& e) {
                // Out of memory, most likely: what was written stays, and the end is still told.
                map = errorMap(QString("The sidecars could not all be written: %1").arg(e.what()));
            }
            QMetaObject::invokeMethod(
                this, [this, serial, map = std::move(map)] { finishXmp(serial, map); }, Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        run.running = false;
        emit xmpRunningChanged();
        return false;
    }
    return true;
}

void SelectionModel::finishXmp(int serial, const QVariantMap& result) {
    XmpRun& run = *xmp_;
    if (serial != run.serial || !run.running) return;
    if (run.worker.joinable()) run.worker.join();  // it has sent this notice: its end is near
    run.running = false;
    emit xmpRunningChanged();
    emit xmpSidecarsFinished(result);
}

void SelectionModel::stopXmpSidecars() {
    XmpRun& run = *xmp_;
    run.cancel.store(true);
    if (run.worker.joinable()) run.worker.join();
    // The notice the worker may have queued is for this serial; it is ignored.
    ++run.serial;
    if (run.running) {
        run.running = false;
        emit xmpRunningChanged();
    }
}

bool SelectionModel::xmpRunning() const { return xmp_->running; }

int SelectionModel::xmpProgressDone() const { return xmp_->done.load(); }

int SelectionModel::xmpProgressTotal() const { return xmp_->total.load(); }

int SelectionModel::embedXmpIntoCopies(const QList<QPair<QString, QString>>& copies) {
    // What each image hands over: from the project database when one is open
    // (persons, clusters), otherwise from the reviewed list itself.
    QHash<QString, HandoverImage> byName;
    QString error;
    if (projectOpen())
        for (const HandoverImage& h : projectHandoverImages(*store_, projectId_, error)) byName.insert(h.filename, h);
    for (const Image& i : images_) {
        if (byName.contains(i.filename)) continue;
        HandoverImage h;
        h.filename = i.filename;
        h.category = i.category;
        h.displayCategory = displayCategory(i);
        h.clusterNumber = i.clusterSize;
        h.verdict = i.status == Removed ? HandoverVerdict::Rejected : HandoverVerdict::Kept;
        byName.insert(h.filename, h);
    }
    int failed = 0;
    for (const auto& [path, filename] : copies) {
        QString why;
        if (!embedXmp(path, byName.value(filename), XmpOptions(), why)) ++failed;
    }
    return failed;
}

}  // namespace keepframe
