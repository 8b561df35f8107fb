// keepframe-cull: the command-line face of the cull engine.
#include "cull.h"
#include "cull_options.h"
#include "models_folder.h"
#include "paths.h"
#include "primary_target.h"
#include "project_store.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <map>

using namespace keepframe;

namespace {

void printSummary(const CullResult& r, const EngineConfig& config, double seconds) {
    std::map<std::string, int> categories;
    for (const auto& img : r.images) ++categories[img.category];
    const PrimaryTarget target = computePrimaryTarget(config.requestedPrimaryCount, r.totalInput);
    std::printf("\nSummary\n");
    std::printf("  Frames analysed: %d\n", r.totalInput);
    std::printf("  Categories:      venue=%d portrait=%d group=%d\n", categories["venue"], categories["portrait"],
                categories["group"]);
    std::printf("  Primary target:  %d (allowed %d-%d)\n", target.target, target.lower, target.upper);
    std::printf("  Selected:        %d (primary %d, review %d; venue %d, portrait %d, group %d)\n", r.totalSelected,
                r.primaryCount, r.reviewCount, r.venueCount, r.portraitCount, r.groupCount);
    std::printf("  Persons:         %d\n", r.persons);
    std::printf("  Cover:           %s\n", r.coverIndex >= 0 ? r.images[size_t(r.coverIndex)].filename.c_str() : "(none)");
    std::printf("  Elapsed:         %.2f s (%.2f images/s)\n", seconds, seconds > 0 ? r.totalInput / seconds : 0.0);
}

// Stores the cull as a project in the library, as the desktop program does.
void saveProject(const CullResult& r, const EngineConfig& config, double seconds) {
    ProjectStore store;
    if (!store.openRegistry()) {
        std::fprintf(stderr, "keepframe-cull: project not saved: %s\n", store.lastError().toUtf8().constData());
        return;
    }
    const int id = store.saveCullResult(r, QString::fromStdString(config.inputFolder), {}, int(seconds));
    if (id < 0) {
        std::fprintf(stderr, "keepframe-cull: project not saved: %s\n", store.lastError().toUtf8().constData());
        return;
    }
    std::printf("  Project:         %d in %s\n", id, (store.projectsRoot() + "/" + store.currentDbFolder()).toUtf8().constData());
}

int listLibrary() {
    ProjectStore store;
    if (!store.openRegistry()) {
        std::fprintf(stderr, "keepframe-cull: %s\n", store.lastError().toUtf8().constData());
        return 1;
    }
    const QVariantList projects = store.listProjects();
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

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Orvo");
    QCoreApplication::setApplicationName("Orvo KeepframeEngine");
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::printf("%s\n", kCullUsage);
        return 0;
    }
    if (!args.empty() && args[0] == "--models-info") {
        const std::string folder = args.size() > 1 ? args[1] : resolveModelsFolder(applicationFolder(argv[0]));
        for (const auto& line : describeModelsFolder(folder)) std::printf("%s\n", line.c_str());
        return 0;
    }
    if (!args.empty() && args[0] == "--list") return listLibrary();
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

    EngineConfig config;
    config.inputFolder = options->input;
    config.outputFolder = options->output;
    config.requestedPrimaryCount = options->select;
    config.workerThreads = options->threads;
    config.writeOutputs = options->writeOutputs;
    config.verbose = !options->quiet;
    std::string models = options->modelsFolder;
    if (models.empty()) models = resolveModelsFolder(applicationFolder(argv[0]));
    if (models.back() != '/') models += '/';
    config.detectorModelPath = models + kModelFiles[0];
    config.recognizerModelPath = models + kModelFiles[1];
    config.expressionModelPath = models + kModelFiles[2];
    config.eyeModelPath = models + kModelFiles[3];
    // The first three models are required; say which file is missing before
    // any work starts. (A missing eye model only disables eye scoring.)
    for (const std::string* path : {&config.detectorModelPath, &config.recognizerModelPath, &config.expressionModelPath}) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(utf8ToPath(*path), ec)) {
            std::fprintf(stderr,
                         "keepframe-cull: model file not found: %s (build the models with tools/modelkit, or name a "
                         "models folder with --models DIR or KEEPFRAME_MODELS)\n",
                         path->c_str());
            return 1;
        }
    }

    const auto start = std::chrono::steady_clock::now();
    try {
        const CullResult result = runCull(config);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        printSummary(result, config, seconds);
        if (!options->noSave) saveProject(result, config, seconds);
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "keepframe-cull: %s\n", e.what());
        return 1;
    }
    return 0;
}
