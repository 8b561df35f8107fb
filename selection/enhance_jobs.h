// Colour-correction batches of the open project: the jobs the user interface
// thread builds, and the state it shares with the coordinator and worker
// threads. Workers see only the read-only job list and the atomics below;
// they never touch the database, the model's image list or any Qt object.
#pragma once

#include <QStringList>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core/types.hpp>

namespace keepframe {

struct EnhanceBuffers;

struct EnhanceJob {
    int imageId = -1;
    std::string source;       // UTF-8; empty when the stored name leaves the input folder
    std::string destination;  // UTF-8: edited folder + "/" + id + ".jpg"
    std::vector<cv::Rect> faces;
    std::vector<float> confidences;
    bool plus = false;
};

// Decodes the source, runs the colour pipeline of the job's level and writes
// the result with the enhanced-image settings: the destination is replaced
// only after a complete write. True when the destination holds the new file;
// otherwise nothing was changed. Never throws. The file, the frame and every
// image of the pipeline live in `buffers`, which a worker keeps from job to
// job so that their memory is taken once, not once a photograph.
bool runEnhanceJob(const EnhanceJob& job, EnhanceBuffers& buffers);

// max(1, round(0.3 x hardware threads)), halves rounded up, at most `jobs`;
// an unknown thread count (0) counts as 1.
int enhanceWorkerCount(unsigned hardwareThreads, int jobs);

enum class JobOutcome : uint8_t { Pending, Written, Failed };

struct EnhanceBatch {
    // Built on the user interface thread before the batch starts; read-only while it runs.
    std::vector<EnhanceJob> jobs;
    QStringList names;  // the file name of each job, for failure reports
    std::unique_ptr<std::atomic<JobOutcome>[]> outcomes;

    std::atomic<int> done{0};       // jobs finished, written or not
    std::atomic<int> succeeded{0};  // files written
    std::atomic<int> total{0};
    std::atomic<bool> cancel{false};
    std::atomic<bool> running{false};
    std::atomic<int64_t> next{0};
    std::thread coordinator;

    // User interface thread only: the batch number, the last one whose end was
    // handled, and the project whose folder the batch writes into.
    int serial = 0;
    int finishedSerial = 0;
    int projectId = -1;
};

}  // namespace keepframe
