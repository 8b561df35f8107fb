// Exports in the background: the copies of a planned export (final_export.h)
// made on a thread of their own, with progress and a stop between two files,
// so that a wedding of several gigabytes never holds up the window.
#pragma once

#include "final_export.h"

#include <QObject>
#include <QVariant>

namespace keepframe {

class BackgroundJob;

class ExportJobs : public QObject {
    Q_OBJECT
public:
    explicit ExportJobs(QObject* parent = nullptr);

    // Starts copying; false (and no signal) while an export runs or when no
    // thread can be started. The map of runExportPlan arrives with finished().
    bool start(ExportPlan plan);
    // Files handled and files in all, of the running or the last export.
    int done() const;
    int total() const;
    // From start() until finished().
    bool isRunning() const;
    // The running export takes no further file; it ends as usual, with "stopped" set.
    void cancel();
    // Cancels and waits: every copy made is whole, and the end is not told.
    void stop();

signals:
    void runningChanged();
    void finished(const QVariantMap& result);

private:
    BackgroundJob* job_;
};

}  // namespace keepframe
