// keepframe-cull: the command-line face of the cull engine. It runs a cull
// through EngineController on a Qt event loop, exactly as the desktop program
// does, and stores the result in the project library.
#include "memory_tuning.h"
#include "cull_options.h"
#include "deliver_cli.h"
#include "engine_controller.h"
#include "inspect.h"
#include "library_cli.h"
#include "models_folder.h"
#include "paths.h"
#include "primary_target.h"
#include "project_store.h"
#include "selection_model.h"
#include "terminal.h"
#include "xmp_cli.h"

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

using namespace keepframe;

namespace {

// The running cull's phase, set once the controller exists; read by the
// interrupt handler (an atomic of its own size is safe to read there).
const std::atomic<CullPhase>* gPhase = nullptr;
// Ctrl+C while the project is saved: it is finished first.
std::atomic<bool> gInterrupted{false};
// Ctrl+C before: the cull is stopped as the window's Cancel stops it.
std::atomic<bool> gStopAsked{false};

void interrupt(int) {
    // Before saving starts nothing of a project exists: the cull stops at its
    // next frame and takes back the conversion folder it made (the main loop
    // asks for it; a second Ctrl+C quits at once). While it saves, the
    // project is finished first (the main loop exits afterwards). A save cut
    // short anyway is never listed: its project is only complete, and
    // visible, after its last step.
    const CullPhase phase = gPhase != nullptr ? gPhase->load() : CullPhase::Idle;
    if (phase == CullPhase::Saving || phase == CullPhase::Finishing) {
        gInterrupted.store(true);
        return;
    }
    if (phase == CullPhase::Idle || gStopAsked.exchange(true)) std::_Exit(130);
}

void printNames(const char* title, const QVariantList& entries) {
    if (entries.isEmpty()) return;
    std::printf("  %-17s%d\n", title, int(entries.size()));
    for (const QVariant& e : entries) {
        const QVariantMap m = e.toMap();
        if (m.isEmpty()) {
            std::printf("    %s\n", e.toString().toUtf8().constData());
            continue;
        }
        std::printf("    %s: %s\n", m["file"].toString().toUtf8().constData(),
                    m["reason"].toString().toUtf8().constData());
    }
}

void printSummary(const QVariantMap& s, int requested) {
    const int total = s["totalInput"].toInt();
    const PrimaryTarget target = computePrimaryTarget(requested, total);
    const double seconds = s["elapsedSeconds"].toDouble();
    std::printf("\nSummary\n");
    std::printf("  Frames analysed: %d\n", total);
    std::printf("  Primary target:  %d (allowed %d-%d)\n", target.target, target.lower, target.upper);
    std::printf("  Selected:        %d (primary %d, review %d; venue %d, portrait %d, group %d)\n",
                s["totalSelected"].toInt(), s["primaryCount"].toInt(), s["reviewCount"].toInt(), s["venue"].toInt(),
                s["portrait"].toInt(), s["group"].toInt());
    std::printf("  Persons:         %d\n", s["persons"].toInt());
    const QString cover = s["coverFilename"].toString();
    std::printf("  Cover:           %s\n", cover.isEmpty() ? "(none)" : cover.toUtf8().constData());
    std::printf("  Elapsed:         %.2f s (%.2f images/s)\n", seconds, seconds > 0 ? total / seconds : 0.0);
    printNames("Skipped:", s["skipped"].toList());
    printNames("Damaged:", s["damaged"].toList());
}

void printProject(int id) {
    if (id < 0) return;
    ProjectStore store;
    if (store.openRegistry() && store.openProject(id))
        std::printf("  Project:         %d in %s\n", id,
                    (store.projectsRoot() + "/" + store.currentDbFolder()).toUtf8().constData());
}

int listLibrary() {
    ProjectStore store;
    if (!store.openRegistry()) {
        std::fprintf(stderr, "keepframe-cull: %s\n", store.lastError().toUtf8().constData());
        return kExitFailure;
    }
    const QVariantList projects = store.listProjects();
    if (!store.lastError().isEmpty()) {
        std::fprintf(stderr, "keepframe-cull: the project library cannot be read: %s\n",
                     store.lastError().toUtf8().constData());
        return kExitFailure;
    }
    std::printf("Library: %s (%d projects)\n", store.appDataDir().toUtf8().constData(), int(projects.size()));
    std::printf("%-5s %-30s %-19s %7s %8s  %s\n", "id", "name", "created", "images", "selected", "input folder");
    for (const QVariant& v : projects) {
        const QVariantMap p = v.toMap();
        std::printf("%-5d %-30s %-19s %7d %8d  %s\n", p["id"].toInt(), p["name"].toString().toUtf8().constData(),
                    p["createdAt"].toString().toUtf8().constData(), p["totalImages"].toInt(),
                    p["engineSelectedCount"].toInt(), p["inputFolder"].toString().toUtf8().constData());
    }
    return 0;
}

// --export PROJECT_ID DEST [--by-category] [--with-unselected]
int exportProject(const std::vector<std::string>& args) {
    if (args.size() < 3) {
        std::fprintf(stderr, "keepframe-cull: --export needs PROJECT_ID and DEST\n%s\n", kCullUsage);
        return 2;
    }
    bool byCategory = false, withUnselected = false, embedXmp = false;
    for (size_t i = 3; i < args.size(); ++i) {
        if (args[i] == "--by-category") byCategory = true;
        else if (args[i] == "--with-unselected") withUnselected = true;
        else if (args[i] == "--embed-xmp") embedXmp = true;
        else {
            std::fprintf(stderr, "keepframe-cull: unknown export option %s\n", args[i].c_str());
            return 2;
        }
    }
    ProjectStore store;
    SelectionModel model;
    if (const int failed = openProject(store, model, args[1])) return failed;
    const QVariantMap r = model.exportFinal(QString::fromStdString(args[2]), byCategory, withUnselected, embedXmp);
    std::printf("Exported %d kept images to %s/final_selection", r["selected"].toInt(), args[2].c_str());
    if (withUnselected) std::printf(" and %d others to %s/unselected", r["unselected"].toInt(), args[2].c_str());
    if (r["inPlace"].toInt() > 0) std::printf("; %d already there (the source file itself)", r["inPlace"].toInt());
    std::printf("\n");
    // A target that is its own source is already where the export puts it;
    // anything else left out is a failure.
    const QVariantList skipped = r["skipped"].toList();
    for (const QVariant& v : skipped)
        std::fprintf(stderr, "keepframe-cull: not copied: %s: %s\n", v.toMap()["file"].toString().toUtf8().constData(),
                     v.toMap()["reason"].toString().toUtf8().constData());
    if (r["xmpFailed"].toInt() > 0)
        std::fprintf(stderr, "keepframe-cull: %d copies could not take the XMP\n", r["xmpFailed"].toInt());
    return skipped.size() > r["inPlace"].toInt() || r["xmpFailed"].toInt() > 0 ? 1 : 0;
}

// --save-project-file PROJECT_ID FILE
int saveProjectFile(const std::vector<std::string>& args) {
    if (args.size() != 3) {
        std::fprintf(stderr, "keepframe-cull: --save-project-file needs PROJECT_ID and FILE\n%s\n", kCullUsage);
        return 2;
    }
    ProjectStore store;
    SelectionModel model;
    if (const int failed = openProject(store, model, args[1])) return failed;
    if (!model.saveProject(QString::fromStdString(args[2]))) {
        std::fprintf(stderr, "keepframe-cull: cannot write %s\n", args[2].c_str());
        return 1;
    }
    std::printf("Saved %d images of project %s to %s\n", int(model.images().size()), args[1].c_str(), args[2].c_str());
    return 0;
}

// One updating line on a terminal, plain lines otherwise; on standard error so
// that standard output keeps the engine's log.
class ProgressLine {
public:
    ProgressLine() : terminal_(isTerminal(stderr)) {}
    void show(int percent, const QString& message) {
        if (percent == lastPercent_ && message == lastMessage_) return;
        lastPercent_ = percent;
        lastMessage_ = message;
        const QByteArray text = message.toUtf8();
        if (terminal_) std::fprintf(stderr, "\r\033[K[%3d%%] %s", percent, text.constData());
        else std::fprintf(stderr, "[%3d%%] %s\n", percent, text.constData());
        std::fflush(stderr);
    }
    void end() {
        if (terminal_ && lastPercent_ >= 0) std::fprintf(stderr, "\n");
    }

private:
    bool terminal_;
    int lastPercent_ = -1;
    QString lastMessage_;
};

}  // namespace

int main(int argc, char** argv) {
    keepframe::keepLargeAllocationsMapped();
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Orvo");
    QCoreApplication::setApplicationName("Orvo KeepframeEngine");
    useUtf8Console();

    const std::vector<std::string> args = commandLineArguments();
    const std::string programFolder = QCoreApplication::applicationDirPath().toStdString();
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::printf("%s\n", kCullUsage);
        return 0;
    }
    if (!args.empty() && args[0] == "--models-info") {
        const std::string folder = args.size() > 1 ? args[1] : resolveModelsFolder(programFolder);
        for (const auto& line : describeModelsFolder(folder)) std::printf("%s\n", line.c_str());
        return 0;
    }
    if (!args.empty() && args[0] == "--list") return listLibrary();
    if (!args.empty() && args[0] == "--inspect") return runInspect(args, resolveModelsFolder(programFolder));
    if (!args.empty() && args[0] == "--export") return exportProject(args);
    if (!args.empty() && args[0] == "--save-project-file") return saveProjectFile(args);
    if (!args.empty() && args[0] == "--deliver")
        return runDeliverCommand(args, resolveModelsFolder(programFolder));
    if (isXmpCommand(args)) return runXmpCommand(args);

    std::string error;
    const auto options = parseCullOptions(args, error);
    if (!options) {
        std::fprintf(stderr, "keepframe-cull: %s\n%s\n", error.c_str(), kCullUsage);
        return 2;
    }
    if (!checkInputFolder(options->input, error)) {
        std::fprintf(stderr, "keepframe-cull: %s\n", error.c_str());
        return 2;
    }

    std::string models = options->modelsFolder;
    if (models.empty()) models = resolveModelsFolder(programFolder);
    // The first three models are required; say which file is missing before
    // any work starts.
    const std::string missing = missingModelMessage(models);
    if (!missing.empty()) {
        std::fprintf(stderr, "keepframe-cull: %s\n", missing.c_str());
        return 1;
    }

    const EngineConfig modelPaths = modelConfig(models);
    EngineController controller;
    controller.setDetectorModelPath(QString::fromStdString(modelPaths.detectorModelPath));
    controller.setRecognizerModelPath(QString::fromStdString(modelPaths.recognizerModelPath));
    controller.setExpressionModelPath(QString::fromStdString(modelPaths.expressionModelPath));
    controller.setEyeModelPath(QString::fromStdString(modelPaths.eyeModelPath));
    controller.setRunOptions({options->threads, options->writeOutputs, !options->quiet, !options->noSave,
                              options->fullGraphOptimization, options->keepRawPreviews});

    ProgressLine line;
    int exitCode = 0;
    QObject::connect(&controller, &EngineController::progress,
                     [&](int percent, const QString& message) { line.show(percent, message); });
    QObject::connect(&controller, &EngineController::finished, [&](const QVariant& summary) {
        line.end();
        const QVariantMap s = summary.toMap();
        printSummary(s, options->select);
        printProject(s["projectId"].toInt());
        const bool interrupted = gInterrupted || gStopAsked;  // the stop came while it saved
        if (options->xmp.enabled && !interrupted) exitCode = writeXmpAfterCull(s["projectId"].toInt(), options->xmp);
        if (interrupted) {
            std::fprintf(stderr, "keepframe-cull: interrupted after the project was saved\n");
            exitCode = 130;
        }
        QCoreApplication::exit(exitCode);
    });
    QObject::connect(&controller, &EngineController::failed, [&](const QString& message) {
        line.end();
        std::fflush(stdout);
        if (gStopAsked) {
            std::fprintf(stderr, "keepframe-cull: interrupted; nothing of the cull was kept\n");
            QCoreApplication::exit(130);
            return;
        }
        std::fprintf(stderr, "keepframe-cull: %s\n", message.toUtf8().constData());
        QCoreApplication::exit(1);
    });

    // The interrupt handler may not call into the controller: a Ctrl+C is
    // passed on from the main loop.
    QTimer stopWatch;
    QObject::connect(&stopWatch, &QTimer::timeout, [&] {
        if (!gStopAsked || controller.stopRequested()) return;
        controller.cancel();
    });
    stopWatch.start(50);

    gPhase = &controller.phaseFlag();
    onInterrupt(interrupt);
    controller.startCull(QString::fromStdString(options->input), QString::fromStdString(options->output),
                         options->select);
    return app.exec();
}
