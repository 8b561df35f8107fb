// Exports in the background: the copies of a planned export (final_export.h)
// made on a thread of their own, with progress and a stop between two files,
// so that a wedding of several gigabytes never holds up the window.
#pragma once

#include "final_export.h"
#include "map_job.h"

#include <QObject>

namespace keepframe {

class ExportJobs : public MapJob {
    Q_OBJECT
public:
    explicit ExportJobs(QObject* parent = nullptr);

    // Starts copying; false (and no signal) while an export runs or when no
    // thread can be started. The map of runExportPlan arrives with finished().
    bool start(ExportPlan plan);
    // The running export takes no further file; it ends as usual, with "stopped" set.
    void cancel();
};

}  // namespace keepframe
