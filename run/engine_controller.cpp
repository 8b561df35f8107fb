#include "engine_controller.h"

#include "background_job.h"
#include "cull_worker.h"
#include "project_file.h"
#include "raw_conversion.h"
#include "records.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace keepframe {

QString normalizeFolderArgument(const QString& text) {
    const QString s = localPathFromUrl(text);
    return s.isEmpty() ? s : QDir::toNativeSeparators(s);
}

EngineController::EngineController(QObject* parent)
    : QObject(parent), job_(new BackgroundJob(QStringLiteral("Unknown error during culling."), this)) {
    connect(job_, &BackgroundJob::progress, this,
            [this](int percent, const QString& message) { emit progress(percent, message); });
    connect(job_, &BackgroundJob::finished, this, &EngineController::onWorkerFinished);
    connect(job_, &BackgroundJob::failed, this, &EngineController::onWorkerFailed);
}

EngineController::~EngineController() { job_->wait(BackgroundJob::End::Discard); }

void EngineController::setRunning(bool running) {
    if (running_ == running) return;
    running_ = running;
    emit runningChanged();
}

void EngineController::setStopRequested(bool requested) {
    if (stopRequested_ == requested) return;
    stopRequested_ = requested;
    emit stopRequestedChanged();
}

bool EngineController::inputHasRaw(const QString& inputFolder) const {
    const QString folder = normalizeFolderArgument(inputFolder);
    return !folder.isEmpty() && hasRawFiles(folder.toStdString());
}

void EngineController::startCull(const QString& inputFolder, const QString& outputFolder, int select) {
    if (running_) {
        emit failed(QStringLiteral("A cull job is already running."));
        return;
    }
    const QString input = normalizeFolderArgument(inputFolder), output = normalizeFolderArgument(outputFolder);
    if (input.isEmpty()) {
        emit failed(QStringLiteral("Please choose an input folder."));
        return;
    }
    if (output.isEmpty()) {
        emit failed(QStringLiteral("Please choose an output folder."));
        return;
    }

    // Absolute, so that the stored project and the summary do not depend on
    // the working folder of the program that ran the cull.
    auto absolute = [](const QString& folder) {
        return QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(folder).absoluteFilePath())).toStdString();
    };
    EngineConfig config;
    config.inputFolder = absolute(input);
    config.outputFolder = absolute(output);
    config.requestedPrimaryCount = select >= 1 ? select : -1;
    config.verbose = options_.verbose;
    config.workerThreads = options_.workerThreads;
    config.writeOutputs = options_.writeOutputs;
    config.fullGraphOptimization = options_.fullGraphOptimization;
    config.keepRawPreviews = options_.keepRawPreviews;
    if (!detectorPath_.isEmpty()) config.detectorModelPath = detectorPath_.toStdString();
    if (!recognizerPath_.isEmpty()) config.recognizerModelPath = recognizerPath_.toStdString();
    if (!expressionPath_.isEmpty()) config.expressionModelPath = expressionPath_.toStdString();
    if (!eyePath_.isEmpty()) config.eyeModelPath = eyePath_.toStdString();

    setStopRequested(false);
    setRunning(true);
    startMs_ = QDateTime::currentMSecsSinceEpoch();

    auto worker = std::make_shared<CullWorker>(std::move(config), options_.saveProject, phase_);
    if (!job_->start([worker](JobControl& control) { return QVariant(worker->run(control)); })) {
        onWorkerFailed(QStringLiteral("The cull could not be started: no thread is available."));
        return;
    }
    // Before any report of the work, which arrive through this thread's event loop.
    emit progress(5, QStringLiteral("Processing images (detect, score, cluster)…"));
}

void EngineController::cancel() {
    if (!running_) return;
    job_->cancel();
    setStopRequested(true);
}

void EngineController::onWorkerFinished(const QVariant& summary) {
    phase_->store(CullPhase::Idle);
    emit progress(100, QStringLiteral("Done."));
    setRunning(false);
    QVariantMap map = summary.toMap();
    map["elapsedSeconds"] = double(QDateTime::currentMSecsSinceEpoch() - startMs_) / 1000.0;
    emit finished(map);
}

void EngineController::onWorkerFailed(const QString& message) {
    phase_->store(CullPhase::Idle);
    setRunning(false);
    emit failed(message);
}

}  // namespace keepframe
