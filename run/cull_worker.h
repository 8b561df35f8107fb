// Runs one cull on its own thread: RAW conversion when needed, the cull
// pipeline, and saving the result as a project.
#pragma once

#include <QVariant>

#include <atomic>
#include <memory>

#include "records.h"

namespace keepframe {

// Where a run is: what may be stopped at once, and what must finish first.
enum class CullPhase {
    Idle,       // no run
    Analysing,  // RAW conversion and analysis: nothing of a project exists yet
    Saving,     // the project is being written
    Finishing,  // the project is complete
};

class JobControl;

// One cull, run on the calling thread (a BackgroundJob's).
class CullWorker {
public:
    // `phase`, when given, follows the run from any thread.
    explicit CullWorker(EngineConfig config, bool saveProject = true,
                        std::shared_ptr<std::atomic<CullPhase>> phase = nullptr);

    // Converts RAW input, culls, saves the project and returns the summary
    // map (cullSummary). Progress goes to control.report as percent and
    // message. Once control.stopRequested() is set the run ends at its next
    // safe point (between two frames or two RAW files, before the save) with
    // CullStopped, and nothing is stored. Any failure is raised with the
    // message the user reads.
    QVariantMap run(JobControl& control);

private:
    EngineConfig config_;
    bool saveProject_;
    std::shared_ptr<std::atomic<CullPhase>> phase_;
};

// The summary map of a finished cull (without "elapsedSeconds"). Beside the
// documented keys it carries "coverFilename" (empty without a cover),
// "skipped" (a {"file", "reason"} map per file left out, RAW files whose
// preview could not be read included), "damaged" (names of frames stored as
// damaged), and "totalDetectedFaces" and "isFeatured" in each "selected" entry.
QVariantMap cullSummary(const CullResult& result, const EngineConfig& config, int projectId);

}  // namespace keepframe
