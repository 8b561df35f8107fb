// The object the user interface starts a cull with (published to QML as
// "engine"): validates the folders, builds the run's settings and runs a
// CullWorker as a background job.
#pragma once

#include <QObject>
#include <QVariant>

#include "cull_worker.h"

#include <atomic>
#include <memory>

namespace keepframe {

class BackgroundJob;

static_assert(std::atomic<CullPhase>::is_always_lock_free, "the phase is read in signal handlers");

// Settings of a run that the desktop program leaves at these defaults and the
// command line may change.
struct CullRunOptions {
    int workerThreads = 0;      // 0: automatic
    bool writeOutputs = false;  // reports and copies in the output folder
    bool verbose = false;       // the engine's own console log
    bool saveProject = true;    // store the result in the project library
    bool fullGraphOptimization = false;  // ONNX Runtime's full graph optimisation
    bool keepRawPreviews = false;        // RAW previews kept as the camera wrote them
};

// "file:///" or "file://" removed, separators made native; empty stays empty.
QString normalizeFolderArgument(const QString& text);

class EngineController : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool running READ running NOTIFY runningChanged)
    // The running (or the last) cull was asked to stop.
    Q_PROPERTY(bool stopRequested READ stopRequested NOTIFY stopRequestedChanged)
public:
    explicit EngineController(QObject* parent = nullptr);
    // Waits for a running cull to end as it would (its project saved); its end is not told.
    ~EngineController() override;

    bool running() const { return running_; }
    bool stopRequested() const { return stopRequested_; }
    // Where the running cull is, read from any thread (a signal handler
    // too): Idle when none runs or the last one ended.
    CullPhase phase() const { return phase_->load(); }
    const std::atomic<CullPhase>& phaseFlag() const { return *phase_; }

    void setDetectorModelPath(const QString& p) { detectorPath_ = p; }
    void setRecognizerModelPath(const QString& p) { recognizerPath_ = p; }
    void setExpressionModelPath(const QString& p) { expressionPath_ = p; }
    void setEyeModelPath(const QString& p) { eyePath_ = p; }
    void setRunOptions(const CullRunOptions& options) { options_ = options; }

    Q_INVOKABLE bool inputHasRaw(const QString& inputFolder) const;
    Q_INVOKABLE void startCull(const QString& inputFolder, const QString& outputFolder, int select);
    // Asks a running cull to stop at its next safe point (the next frame or
    // RAW file, or before the project is saved); it then ends with
    // failed("The cull was stopped.") and nothing stored: no project, and no
    // conversion folder it made in the shoot. A cull already saving its
    // project finishes: the save is one transaction, and a project complete
    // on disk is worth more than the second it would save; its finished()
    // then comes with stopRequested() set. Nothing when no cull runs.
    Q_INVOKABLE void cancel();

signals:
    void progress(int percent, const QString& message);
    void finished(const QVariant& summary);
    void failed(const QString& message);
    void runningChanged();
    void stopRequestedChanged();

public slots:
    void onWorkerFinished(const QVariant& summary);
    void onWorkerFailed(const QString& message);

private:
    void setRunning(bool running);
    void setStopRequested(bool requested);

    bool running_ = false;
    bool stopRequested_ = false;
    BackgroundJob* job_;
    QString detectorPath_, recognizerPath_, expressionPath_, eyePath_;
    CullRunOptions options_;
    qint64 startMs_ = 0;
    std::shared_ptr<std::atomic<CullPhase>> phase_ = std::make_shared<std::atomic<CullPhase>>(CullPhase::Idle);
};

}  // namespace keepframe
