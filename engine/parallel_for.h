// Work spread over a few threads: every index of a range goes to exactly one
// thread, and each thread keeps a task of its own (its buffers, its models)
// for all the indices it takes. The frame analysis, RAW conversion and the
// enhancement workers share it.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace keepframe {

namespace detail {

// What the threads of one parallelFor share: the next index, and the first error.
class ParallelRun {
public:
    explicit ParallelRun(const std::atomic<bool>* stop) : stop_(stop) {}

    // The next index to work on; false once the range is used up, a thread
    // failed or the caller's stop flag is set.
    bool take(size_t count, size_t& index) {
        if (failed_.load() || (stop_ != nullptr && stop_->load())) return false;
        index = next_.fetch_add(1);
        return index < count;
    }
    // Keeps the exception being handled when it is the first, and stops the others.
    void fail() {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!error_) error_ = std::current_exception();
        failed_.store(true);
    }
    void rethrow() const {
        if (error_) std::rethrow_exception(error_);
    }

private:
    const std::atomic<bool>* stop_;
    std::atomic<size_t> next_{0};
    std::atomic<bool> failed_{false};
    std::mutex mutex_;
    std::exception_ptr error_;
};

}  // namespace detail

// Runs `task(i)` once for every i in [0, count) on `threads` threads (at
// least one, never more than `count`), each taking the next index when it is
// free, so indices finish in any order. Every thread first calls `makeTask()`
// on itself and keeps the task it returns for all its indices.
//
// `stop`, when given, is checked before each index: once it is true no thread
// takes another one, and the indices under way finish. The first exception
// that `makeTask` or a task raises stops the other threads the same way and is
// raised again here once all have ended; later ones are dropped. When a
// thread cannot be started the others do its share; when none can, the
// calling thread does all the work. Returns when every thread has ended.
template <typename MakeTask>
void parallelFor(size_t count, int threads, MakeTask&& makeTask, const std::atomic<bool>* stop = nullptr) {
    if (count == 0) return;
    detail::ParallelRun run(stop);
    auto work = [&run, &makeTask, count] {
        try {
            auto task = makeTask();
            for (size_t i = 0; run.take(count, i);) task(i);
        } catch (...) {
            run.fail();
        }
    };
    const size_t wanted = std::min(size_t(std::max(threads, 1)), count);
    std::vector<std::thread> pool;
    pool.reserve(wanted);
    for (size_t t = 0; t < wanted; ++t) {
        try {
            pool.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // no more threads to be had: fewer do the work
        }
    }
    if (pool.empty()) work();
    for (std::thread& t : pool) t.join();
    run.rethrow();
}

}  // namespace keepframe
