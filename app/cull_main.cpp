// keepframe-cull: the command-line face of the cull engine.
#include "cull.h"
#include "cull_options.h"
#include "paths.h"
#include "primary_target.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <map>

using namespace keepframe;

namespace {

std::string executableFolder(const char* argv0) {
    std::error_code ec;
    const auto exe = std::filesystem::canonical("/proc/self/exe", ec);
    if (!ec) return pathToUtf8(exe.parent_path());
    return pathToUtf8(std::filesystem::absolute(argv0, ec).parent_path());
}

void printSummary(const CullResult& r, const EngineConfig& config, double seconds) {
    std::map<std::string, int> categories;
    for (const auto& img : r.images) ++categories[img.category];
    const PrimaryTarget target = computePrimaryTarget(config.requestedPrimaryCount, r.totalInput);
    std::printf("\nSummary\n");
    std::printf("  Frames analysed: %d\n", r.totalInput);
    std::printf("  Categories:      venue=%d portrait=%d group=%d\n", categories["venue"], categories["portrait"],
                categories["group"]);
    std::printf("  Primary target:  %d (allowed %d-%d)\n", target.target, target.lower, target.upper);
    std::printf("  Elapsed:         %.2f s (%.2f images/s)\n", seconds, seconds > 0 ? r.totalInput / seconds : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::printf("%s\n", kCullUsage);
        return 0;
    }
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
    if (models.empty()) models = executableFolder(argv[0]) + "/models";
    if (models.back() != '/') models += '/';
    config.detectorModelPath = models + "buffalo_l/det_10g.onnx";
    config.recognizerModelPath = models + "buffalo_l/w600k_r50.onnx";
    config.expressionModelPath = models + "emotion-ferplus-8.onnx";
    config.eyeModelPath = models + "open_closed_eye.onnx";

    const auto start = std::chrono::steady_clock::now();
    try {
        const CullResult result = runCull(config);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        printSummary(result, config, seconds);
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "keepframe-cull: %s\n", e.what());
        return 1;
    }
    return 0;
}
