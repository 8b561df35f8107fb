// BackgroundJob and parallelFor with real threads and the real event loop.
#include "background_job.h"
#include "parallel_for.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>

#include <atomic>
#include <chrono>
#include <functional>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace keepframe;

namespace {

// Runs the event loop until `spy` has `count` signals or five seconds have passed.
bool waitFor(QSignalSpy& spy, int count = 1) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (spy.count() < count && std::chrono::steady_clock::now() < until) spy.wait(50);
    return spy.count() >= count;
}

// Work that runs until it is asked to stop, counting its rounds.
BackgroundJob::Work untilStopped(std::atomic<bool>& started) {
    return [&started](JobControl& control) {
        started.store(true);
        int rounds = 0;
        while (!control.stopRequested()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ++rounds;
        }
        return QVariant(rounds);
    };
}

void waitUntil(const std::atomic<bool>& flag) {
    while (!flag.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(BackgroundJob, ReportsInOrderThenExactlyOneEnd) {
    BackgroundJob job(QStringLiteral("unknown"));
    QStringList heard;
    QObject::connect(&job, &BackgroundJob::progress,
                     [&](int percent, const QString& message) { heard << QString::number(percent) + message; });
    QObject::connect(&job, &BackgroundJob::finished, [&](const QVariant& r) { heard << "end " + r.toString(); });
    QSignalSpy finished(&job, &BackgroundJob::finished), failed(&job, &BackgroundJob::failed);
    const bool started = job.start(
        [](JobControl& control) {
            for (int i = 1; i <= 3; ++i) {
                control.addDone();
                control.report(i * 10, QString(" step %1").arg(i));
            }
            return QVariant(QStringLiteral("done"));
        },
        1, 3);
    ASSERT_TRUE(started);
    EXPECT_TRUE(job.isActive());
    ASSERT_TRUE(waitFor(finished));
    QCoreApplication::processEvents();  // nothing else is on its way
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(failed.count(), 0);
    EXPECT_EQ(heard, QStringList({"10 step 1", "20 step 2", "30 step 3", "end done"}));
    EXPECT_FALSE(job.isActive());
    EXPECT_FALSE(job.isWorking());
    EXPECT_EQ(job.done(), 3);
    EXPECT_EQ(job.total(), 3);
}

TEST(BackgroundJob, ThrownErrorsEndInFailedWithTheirMessage) {
    BackgroundJob job(QStringLiteral("Something unknown went wrong."));
    QSignalSpy finished(&job, &BackgroundJob::finished), failed(&job, &BackgroundJob::failed);

    ASSERT_TRUE(job.start([](JobControl&) -> QVariant { throw std::runtime_error("The disk is full."); }));
    ASSERT_TRUE(waitFor(failed));
    EXPECT_EQ(failed.takeFirst().at(0).toString(), "The disk is full.");

    ASSERT_TRUE(job.start([](JobControl&) -> QVariant { throw 42; }));
    ASSERT_TRUE(waitFor(failed));
    EXPECT_EQ(failed.takeFirst().at(0).toString(), "Something unknown went wrong.");
    EXPECT_EQ(finished.count(), 0);
}

TEST(BackgroundJob, OneWorkAtATimeAndStartableAgainAfterItsEnd) {
    BackgroundJob job(QStringLiteral("unknown"));
    QSignalSpy finished(&job, &BackgroundJob::finished);
    std::atomic<bool> started{false};
    ASSERT_TRUE(job.start(untilStopped(started)));
    waitUntil(started);
    EXPECT_TRUE(job.isWorking());
    EXPECT_FALSE(job.start([](JobControl&) { return QVariant(1); }));

    job.cancel();
    ASSERT_TRUE(waitFor(finished));
    EXPECT_GE(finished.takeFirst().at(0).toInt(), 0);  // it ended at its own safe point, as usual

    // The cancel of the first work does not reach the second.
    ASSERT_TRUE(job.start([](JobControl& control) { return QVariant(control.stopRequested()); }));
    ASSERT_TRUE(waitFor(finished));
    EXPECT_FALSE(finished.takeFirst().at(0).toBool());
}

TEST(BackgroundJob, AnEndNotYetArrivedIsDeliveredBeforeTheNextStart) {
    BackgroundJob job(QStringLiteral("unknown"));
    QVariantList ends;
    QObject::connect(&job, &BackgroundJob::finished, [&](const QVariant& r) { ends << r; });
    ASSERT_TRUE(job.start([](JobControl&) { return QVariant(1); }));
    while (job.isWorking()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(job.isActive());  // returned, but its notice waits in the event queue
    ASSERT_TRUE(job.start([](JobControl&) { return QVariant(2); }));
    EXPECT_EQ(ends, QVariantList({1}));
    job.wait(BackgroundJob::End::Deliver);
    EXPECT_EQ(ends, QVariantList({1, 2}));
    QCoreApplication::processEvents();  // the first work's queued notice is not told twice
    EXPECT_EQ(ends, QVariantList({1, 2}));
}

TEST(BackgroundJob, AStopThatDiscardsTellsNothingLater) {
    BackgroundJob job(QStringLiteral("unknown"));
    QSignalSpy finished(&job, &BackgroundJob::finished), progress(&job, &BackgroundJob::progress);
    std::atomic<bool> started{false};
    ASSERT_TRUE(job.start([&started](JobControl& control) {
        control.report(1, "begun");
        return untilStopped(started)(control);
    }));
    waitUntil(started);
    job.stop(BackgroundJob::End::Discard);
    EXPECT_FALSE(job.isWorking());
    EXPECT_FALSE(job.isActive());
    QCoreApplication::processEvents();
    EXPECT_EQ(finished.count(), 0);
    EXPECT_EQ(progress.count(), 0);
}

TEST(BackgroundJob, ItsEndStopsARunningWorkAtItsSafePoint) {
    std::atomic<bool> started{false}, ended{false};
    {
        BackgroundJob job(QStringLiteral("unknown"));
        ASSERT_TRUE(job.start([&](JobControl& control) {
            const QVariant r = untilStopped(started)(control);
            ended.store(true);
            return r;
        }));
        waitUntil(started);
    }
    EXPECT_TRUE(ended.load());
}

TEST(BackgroundJob, ForEachSpreadsOverTheJobsThreadsAndStopsWithIt) {
    BackgroundJob job(QStringLiteral("unknown"));
    QSignalSpy finished(&job, &BackgroundJob::finished);
    std::atomic<int> tasks{0};
    ASSERT_TRUE(job.start(
        [&](JobControl& control) {
            control.forEach(40, [&] {
                tasks.fetch_add(1);
                return [&](size_t) { control.addDone(); };
            });
            return QVariant();
        },
        3, 40));
    ASSERT_TRUE(waitFor(finished));
    EXPECT_EQ(job.done(), 40);
    EXPECT_EQ(tasks.load(), 3);

    std::atomic<int> taken{0};
    ASSERT_TRUE(job.start(
        [&](JobControl& control) {
            control.forEach(100000, [&] {
                return [&](size_t) {
                    taken.fetch_add(1);
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                };
            });
            return QVariant();
        },
        2));
    while (taken.load() < 4) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    job.cancel();
    ASSERT_TRUE(waitFor(finished, 2));
    EXPECT_LT(taken.load(), 1000);
}

TEST(ParallelFor, EveryIndexExactlyOnceWithOneTaskPerThread) {
    for (const int threads : {1, 3, 8}) {
        std::vector<std::atomic<int>> hits(25);
        std::atomic<int> tasks{0};
        parallelFor(hits.size(), threads, [&] {
            tasks.fetch_add(1);
            return [&](size_t i) { hits[i].fetch_add(1); };
        });
        for (const auto& h : hits) EXPECT_EQ(h.load(), 1) << threads << " threads";
        EXPECT_EQ(tasks.load(), std::min(threads, 25));
    }
    parallelFor(0, 4, [] { return [](size_t) { FAIL() << "nothing to do"; }; });
}

TEST(ParallelFor, TheFirstErrorStopsTheOthersAndIsRaisedOnce) {
    std::atomic<int> after{0};
    const auto run = [&] {
        parallelFor(1000, 4, [&] {
            return [&](size_t i) {
                if (i == 5) throw std::runtime_error("frame 5 is damaged");
                if (i > 200) after.fetch_add(1);
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            };
        });
    };
    try {
        run();
        FAIL() << "the error was swallowed";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "frame 5 is damaged");
    }
    EXPECT_LT(after.load(), 100);

    // A task that cannot be made fails the run the same way.
    EXPECT_THROW(parallelFor(10, 2, []() -> std::function<void(size_t)> { throw std::bad_alloc(); }),
                 std::bad_alloc);
}

TEST(ParallelFor, ASetStopFlagTakesNoIndexAtAll) {
    std::atomic<bool> stop{true};
    std::atomic<int> done{0};
    parallelFor(50, 2, [&] { return [&](size_t) { done.fetch_add(1); }; }, &stop);
    EXPECT_EQ(done.load(), 0);
}

}  // namespace
