#include "engine_controller.h"

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

EngineController::EngineController(QObject* parent) : QObject(parent) {}

EngineController::~EngineController() { disposeThread(); }

void EngineController::setRunning(bool running) {
    if (running_ == running) return;
    running_ = running;
    emit runningChanged();
}

void EngineController::disposeThread() {
    if (!thread_) return;
    if (thread_->isRunning()) {
        thread_->quit();
        thread_->wait();
    }
    thread_->deleteLater();
    thread_ = nullptr;
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

    setRunning(true);
    startMs_ = QDateTime::currentMSecsSinceEpoch();
    emit progress(5, QStringLiteral("Processing images (detect, score, cluster)…"));

    disposeThread();
    thread_ = new QThread(this);
    auto* worker = new CullWorker(std::move(config), options_.saveProject, phase_);
    worker->moveToThread(thread_);
    worker_ = worker;
    connect(thread_, &QThread::started, worker, &CullWorker::run);
    connect(worker, &CullWorker::finished, this, &EngineController::onWorkerFinished);
    connect(worker, &CullWorker::failed, this, &EngineController::onWorkerFailed);
    connect(worker, &CullWorker::progressUpdate, this,
            [this](int percent, const QString& message) { emit progress(percent, message); });
    connect(worker, &CullWorker::finished, thread_, &QThread::quit);
    connect(worker, &CullWorker::failed, thread_, &QThread::quit);
    connect(thread_, &QThread::finished, worker, &QObject::deleteLater);
    thread_->start();
}

void EngineController::onWorkerFinished(const QVariant& summary) {
    phase_->store(CullPhase::Idle);
    emit progress(100, QStringLiteral("Done."));
    setRunning(false);
    QVariantMap map = summary.toMap();
    map["elapsedSeconds"] = double(QDateTime::currentMSecsSinceEpoch() - startMs_) / 1000.0;
    worker_ = nullptr;
    emit finished(map);
}

void EngineController::onWorkerFailed(const QString& message) {
    phase_->store(CullPhase::Idle);
    setRunning(false);
    worker_ = nullptr;
    emit failed(message);
}

}  // namespace keepframe
