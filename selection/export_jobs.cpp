#include "export_jobs.h"

#include "background_job.h"

namespace keepframe {

ExportJobs::ExportJobs(QObject* parent)
    : QObject(parent), job_(new BackgroundJob(QStringLiteral("unknown error"), this)) {
    connect(job_, &BackgroundJob::finished, this, [this](const QVariant& result) {
        emit runningChanged();
        emit finished(result.toMap());
    });
    // Out of memory, most likely: the copies made are whole, and the end is still told.
    connect(job_, &BackgroundJob::failed, this, [this](const QString& message) {
        emit runningChanged();
        emit finished(QVariantMap{{"error", message}, {"stopped", true}});
    });
}

bool ExportJobs::start(ExportPlan plan) {
    const int total = int(plan.copies.size());
    const auto work = [plan = std::move(plan)](JobControl& control) {
        return QVariant(runExportPlan(plan, &control));
    };
    if (!job_->start(work, 1, total)) return false;
    emit runningChanged();
    return true;
}

int ExportJobs::done() const { return job_->done(); }

int ExportJobs::total() const { return job_->total(); }

bool ExportJobs::isRunning() const { return job_->isActive(); }

void ExportJobs::cancel() { job_->cancel(); }

void ExportJobs::stop() {
    const bool running = isRunning();
    job_->stop(BackgroundJob::End::Discard);
    if (running) emit runningChanged();
}

}  // namespace keepframe
