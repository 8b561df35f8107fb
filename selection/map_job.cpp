#include "map_job.h"

namespace keepframe {

MapJob::MapJob(const std::function<QVariantMap(const QString&)>& failedMap, QObject* parent)
    : QObject(parent), job_(new BackgroundJob(QStringLiteral("unknown error"), this)) {
    connect(job_, &BackgroundJob::finished, this, [this](const QVariant& result) { ended(result.toMap()); });
    connect(job_, &BackgroundJob::failed, this,
            [this, failedMap](const QString& message) { ended(failedMap(message)); });
}

bool MapJob::startWork(BackgroundJob::Work work, int total) {
    if (!job_->start(std::move(work), 1, total)) return false;
    emit runningChanged();
    return true;
}

int MapJob::done() const { return job_->done(); }

int MapJob::total() const { return job_->total(); }

bool MapJob::isRunning() const { return job_->isActive(); }

void MapJob::stop() {
    const bool running = isRunning();
    job_->stop(BackgroundJob::End::Discard);
    if (running) emit runningChanged();
}

void MapJob::ended(const QVariantMap& result) {
    emit runningChanged();
    emit finished(result);
}

}  // namespace keepframe
