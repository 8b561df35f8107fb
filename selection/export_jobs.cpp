#include "export_jobs.h"

namespace keepframe {

// Out of memory, most likely: the copies made are whole, and the end is still told.
ExportJobs::ExportJobs(QObject* parent)
    : MapJob([](const QString& message) { return QVariantMap{{"error", message}, {"stopped", true}}; }, parent) {}

bool ExportJobs::start(ExportPlan plan) {
    const int total = int(plan.copies.size());
    return startWork(
        [plan = std::move(plan)](JobControl& control) { return QVariant(runExportPlan(plan, &control)); }, total);
}

void ExportJobs::cancel() { job_->cancel(); }

}  // namespace keepframe
