// Parallel analysis of every scanned frame: one model set per thread, a shared
// atomic work index, progress every fifth frame and a console line every fiftieth.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "records.h"
#include "scan.h"

namespace keepframe {

using ProgressCallback = std::function<void(int percent, const std::string& message)>;

// `workerThreads` if 1 or more, otherwise the hardware threads (4 when
// unknown); at most 8, at least 1, and never more than there are files.
int analysisThreadCount(int workerThreads, size_t fileCount, unsigned hardwareThreads);

// Raised when the run's stop flag (EngineConfig::stop) ended it early.
struct CullStopped : std::runtime_error {
    CullStopped() : std::runtime_error("The cull was stopped.") {}
};

// Analyses every file on `threadCount` threads and returns the records that
// decoded (damaged ones included), in scan order. A file that cannot be read,
// decoded or analysed is a soft failure: it is left out and, when `skipped`
// is given, added to it with its reason. An error outside the work on one
// frame (a thread's models failing to load) stops the others and is raised
// again here once all have finished. Once `config.stop` is set every thread
// ends with the frame it is on, and CullStopped is raised.
std::vector<ImageRecord> analyzeFrames(const std::vector<InputFile>& files, const EngineConfig& config,
                                       int threadCount, const ProgressCallback& progress,
                                       std::vector<SkippedFile>* skipped = nullptr);

}  // namespace keepframe
