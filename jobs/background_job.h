// Work off the user interface thread, the one way the program runs it: a
// cull, an enhancement batch, a write of XMP sidecars, a delivery's
// compression. The work runs on a thread of its own (and may spread over more
// through JobControl::forEach); the thread that started it hears its progress
// and exactly one end.
#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "parallel_for.h"

namespace keepframe {

// What a running work sees of its job. Every member may be called from any thread.
class JobControl {
public:
    // Carries a call to the thread that started the work.
    using Post = std::function<void(std::function<void()>)>;
    using Report = std::function<void(int percent, const QString& message)>;

    // Without `post`, calls are made at once on the calling thread, and
    // without `report` progress reports go nowhere: so a work can also be run
    // directly, as the benchmarks do.
    explicit JobControl(int threads = 1, Post post = {}, Report report = {});

    // True once the job was asked to stop. The work checks it at its safe
    // points (between two images, two files, two frames) and ends there,
    // leaving only whole results behind.
    bool stopRequested() const { return stop_.load(); }
    // The flag itself, for loops that check it on their own (EngineConfig::stop).
    const std::atomic<bool>& stopFlag() const { return stop_; }
    void requestStop() { stop_.store(true); }

    // How many threads forEach spreads over.
    int threads() const { return threads_; }

    // Progress that the user interface polls: items done of items in all.
    int done() const { return done_.load(); }
    int total() const { return total_.load(); }
    void setDone(int done) { done_.store(done); }
    void setTotal(int total) { total_.store(total); }
    void addDone(int count = 1) { done_.fetch_add(count); }

    // Hands `call` to the starting thread, after every call handed before it
    // and before the job's end. Dropped when the job's end is discarded.
    void post(std::function<void()> call) const;
    // A progress report for BackgroundJob::progress, handed over like post().
    void report(int percent, const QString& message) const;

    // parallelFor over this job's threads, stopping with the job.
    template <typename MakeTask>
    void forEach(size_t count, MakeTask&& makeTask) const {
        parallelFor(count, threads_, std::forward<MakeTask>(makeTask), &stop_);
    }

private:
    int threads_;
    Post post_;
    Report report_;
    std::atomic<bool> stop_{false};
    std::atomic<int> done_{0};
    std::atomic<int> total_{0};
};

// One work at a time, started and ended on the thread that owns this object
// (the user interface thread). Its end is delivered there as exactly one of
// finished() or failed(), after every progress report of the work, unless it
// is discarded by wait() or stop(). The object may be started again after an end.
class BackgroundJob : public QObject {
    Q_OBJECT
public:
    // Runs on the job's thread; what it returns is the result of finished().
    // An exception ends it with failed(): a std::exception's message, or the
    // job's `unknownFailure` for anything else thrown.
    using Work = std::function<QVariant(JobControl&)>;
    // What becomes of an end that has not been delivered when the work is waited for.
    enum class End { Deliver, Discard };

    explicit BackgroundJob(QString unknownFailure, QObject* parent = nullptr);
    // stop(End::Discard): the work ends at its next safe point and nothing is emitted.
    ~BackgroundJob() override;

    // Starts `work` on a new thread, with `threads` for JobControl::forEach
    // and `total` as the first total of its progress (done starts at 0). The
    // end of a previous work that has returned but whose end has not arrived
    // yet is delivered first. False, with nothing changed or emitted, while a
    // work runs or when no thread can be started.
    bool start(Work work, int threads = 1, int total = 0);
    // Asks the running work to stop at its next safe point; its end still
    // comes as usual. Nothing when no work runs.
    void cancel();
    // Blocks until the work has returned, then emits its end at once
    // (Deliver) or drops it with the reports still on their way (Discard).
    // Nothing when no end is pending.
    void wait(End end);
    // cancel() then wait(): at quit, and before a folder the work writes into
    // is renamed or removed.
    void stop(End end);

    // From start() until the work has returned; may be asked from any thread.
    bool isWorking() const { return working_.load(); }
    // From start() until its end was delivered or dropped.
    bool isActive() const { return pending_; }
    // The progress of the running or the last work (0 before the first).
    int done() const { return control_ ? control_->done() : 0; }
    int total() const { return control_ ? control_->total() : 0; }

signals:
    // JobControl::report of the running work.
    void progress(int percent, const QString& message);
    void finished(const QVariant& result);
    void failed(const QString& message);

private:
    // Calls `call` on this object's thread if work `serial` is still the one
    // whose end is awaited.
    void postFor(int serial, std::function<void()> call);
    // Emits the end of the current work when it has not been delivered or dropped.
    void deliverEnd();
    void joinThread();

    QString unknownFailure_;
    std::unique_ptr<JobControl> control_;
    std::thread thread_;
    std::atomic<bool> working_{false};
    // Owning thread only: the current work's number, and whether its end is awaited.
    int serial_ = 0;
    bool pending_ = false;
    // Written by the work's thread before it lets go of working_, read after the join.
    bool succeeded_ = false;
    QVariant result_;
    QString failure_;
};

}  // namespace keepframe
