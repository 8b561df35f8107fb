// The review screen's views on a 5,000-image project: computed after every click.
#include "bench_common.h"
#include "bench_sections.h"

#include "project_store.h"
#include "selection_model.h"

#include <QTemporaryDir>

#include <cstdio>

namespace keepframe::bench {

void selectionBench() {
    QTemporaryDir library;
    qputenv("KEEPFRAME_DATA_DIR", library.path().toUtf8());
    CullResult result;
    for (int i = 0; i < 5000; ++i) {
        ResultImage r = syntheticRow(i, "/shoot");
        r.engineSelected = i % 3 == 0;  // about a third kept
        r.captureTime =
            i % 10 ? "2024:06:15 14:" + std::to_string(10 + i / 100) + ":" + std::to_string(10 + i % 50) : "";
        r.detectionCount = i % 5;
        for (int f = 0; f < i % 4; ++f) r.faceBoxes.push_back({100 * f, 100, 200, 200});
        result.images.push_back(std::move(r));
    }
    result.totalInput = 5000;
    ProjectStore store;
    store.openRegistry();
    const int id = store.saveCullResult(result, "/shoot", {}, 1);

    SelectionModel model;
    model.setStore(&store);
    auto time = [](auto&& f) {
        const auto start = std::chrono::steady_clock::now();
        f();
        return secondsSince(start) * 1000;
    };
    const double load = time([&] { model.loadFromProject(id, "/shoot"); });
    int sections = 0, orphans = 0;
    const double grouped = time([&] { sections = int(model.groupedView().size()); });
    const double category = time([&] { sections += int(model.categoryView().size()); });
    const double unselected = time([&] { orphans = model.unselectedClusterCount(); });
    std::printf("selection: 5,000-image project, %d kept\n", model.keptCount());
    std::printf("  loadFromProject:        %7.1f ms\n", load);
    std::printf("  groupedView:            %7.1f ms (aim: under 50 ms)\n", grouped);
    std::printf("  categoryView:           %7.1f ms (aim: under 50 ms)\n", category);
    std::printf("  unselectedClusterCount: %7.1f ms (%d images; aim: under 50 ms)\n", unselected, orphans);
    (void)sections;
    qunsetenv("KEEPFRAME_DATA_DIR");
}

}  // namespace keepframe::bench
