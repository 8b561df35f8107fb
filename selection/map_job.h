// A background job of the review screens whose end is a map of counts and
// texts: the final export and the writing of XMP sidecars. One runs at a
// time; its start and its end are told as runningChanged(), its map with
// finished().
#pragma once

#include "background_job.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

namespace keepframe {

class MapJob : public QObject {
    Q_OBJECT
public:
    // Items handled and items in all, of the running or the last job.
    int done() const;
    int total() const;
    // From a start until finished().
    bool isRunning() const;
    // Stops a running job at its next safe point and waits for it: what it
    // wrote is whole, and the end is not told.
    void stop();

signals:
    void runningChanged();
    void finished(const QVariantMap& result);

protected:
    // `failedMap` is the map told when the work fails (out of memory, most
    // likely) with the failure's message.
    MapJob(const std::function<QVariantMap(const QString&)>& failedMap, QObject* parent);
    // Starts `work` with `total` items; false (and no signal) while a job
    // runs or when no thread can be started.
    bool startWork(BackgroundJob::Work work, int total);

    BackgroundJob* job_;

private:
    void ended(const QVariantMap& result);
};

}  // namespace keepframe
