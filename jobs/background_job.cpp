#include "background_job.h"

#include <QMetaObject>

#include <exception>
#include <system_error>
#include <utility>

namespace keepframe {

JobControl::JobControl(int threads, Post post, Report report)
    : threads_(threads < 1 ? 1 : threads), post_(std::move(post)), report_(std::move(report)) {}

void JobControl::post(std::function<void()> call) const {
    if (post_) post_(std::move(call));
    else call();
}

void JobControl::report(int percent, const QString& message) const {
    if (!report_) return;
    post([report = report_, percent, message] { report(percent, message); });
}

BackgroundJob::BackgroundJob(QString unknownFailure, QObject* parent)
    : QObject(parent), unknownFailure_(std::move(unknownFailure)) {}

BackgroundJob::~BackgroundJob() { stop(End::Discard); }

void BackgroundJob::postFor(int serial, std::function<void()> call) {
    QMetaObject::invokeMethod(
        this,
        [this, serial, call = std::move(call)] {
            if (serial == serial_ && pending_) call();
        },
        Qt::QueuedConnection);
}

bool BackgroundJob::start(Work work, int threads, int total) {
    if (working_.load()) return false;
    wait(End::Deliver);  // a previous end whose notice is still on its way
    if (working_.load() || pending_) return false;  // its receiver started another work
    const int serial = serial_ + 1;
    auto control = std::make_unique<JobControl>(
        threads, [this, serial](std::function<void()> call) { postFor(serial, std::move(call)); },
        [this](int percent, const QString& message) { emit progress(percent, message); });
    control->setTotal(total);
    JobControl* running = control.get();
    succeeded_ = false;
    result_.clear();
    failure_.clear();
    working_.store(true);
    try {
        thread_ = std::thread([this, serial, running, work = std::move(work)] {
            try {
                result_ = work(*running);
                succeeded_ = true;
            } catch (const std::exception& e) {
                failure_ = QString::fromUtf8(e.what());
            } catch (...) {
                failure_ = unknownFailure_;
            }
            working_.store(false);
            postFor(serial, [this] { deliverEnd(); });
        });
    } catch (const std::system_error&) {
        working_.store(false);
        return false;
    }
    // The notices of this work are queued to this thread: none arrives before these are set.
    control_ = std::move(control);
    serial_ = serial;
    pending_ = true;
    return true;
}

void BackgroundJob::cancel() {
    if (control_ && working_.load()) control_->requestStop();
}

void BackgroundJob::joinThread() {
    if (thread_.joinable()) thread_.join();
}

void BackgroundJob::wait(End end) {
    joinThread();
    if (!pending_) return;
    if (end == End::Deliver) {
        deliverEnd();
        return;
    }
    pending_ = false;
}

void BackgroundJob::stop(End end) {
    cancel();
    wait(end);
}

void BackgroundJob::deliverEnd() {
    if (!pending_) return;
    joinThread();  // it has sent its notice as its last act: its end is near
    pending_ = false;
    if (succeeded_) emit finished(result_);
    else emit failed(failure_);
}

}  // namespace keepframe
