// keepframe-bench [SECTION...]: prints the speed figures of each section (all
// sections when none is named). Figures are ratios against baselines measured
// in the same run wherever a baseline exists.
#include "memory_tuning.h"
#include "bench_sections.h"

#include <QCoreApplication>

#include <cstdio>
#include <exception>
#include <functional>
#include <map>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    keepframe::keepLargeAllocationsMapped();
    QCoreApplication app(argc, argv);
    const std::map<std::string, std::function<void()>> sections = {
        {"analysis", keepframe::bench::analysisBench},
        {"faces", keepframe::bench::facesBench},
        {"clustering", keepframe::bench::clusteringBench},
        {"store", keepframe::bench::storeBench},
        {"enhance", keepframe::bench::enhanceBench},
        {"enhancejobs", keepframe::bench::enhanceJobsBench},
        {"selection", keepframe::bench::selectionBench},
        {"camera", keepframe::bench::cameraBench},
        {"scale", keepframe::bench::scaleBench},
        {"graphopt", keepframe::bench::graphOptimizationBench},
        {"rawconvert", keepframe::bench::rawConversionBench},
    };
    std::vector<std::string> chosen(argv + 1, argv + argc);
    if (!chosen.empty() && (chosen[0] == "--help" || chosen[0] == "-h")) {
        std::printf("usage: keepframe-bench [SECTION]...\n  Prints the speed figures of each section named (all "
                    "when none is); sections:");
        for (const auto& [n, fn] : sections) std::printf(" %s", n.c_str());
        std::printf("\n");
        return 0;
    }
    if (chosen.empty())
        for (const auto& [name, fn] : sections) chosen.push_back(name);
    for (const auto& name : chosen) {
        const auto it = sections.find(name);
        if (it == sections.end()) {
            std::fprintf(stderr, "keepframe-bench: unknown section %s; sections:", name.c_str());
            for (const auto& [n, fn] : sections) std::fprintf(stderr, " %s", n.c_str());
            std::fprintf(stderr, "\n");
            return 2;
        }
        try {
            it->second();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "keepframe-bench: %s failed: %s\n", name.c_str(), e.what());
            return 1;
        }
    }
    return 0;
}
