// Enhance and Enhance Plus on one 24-megapixel photograph, one core.
#include "bench_common.h"
#include "bench_sections.h"

#include "enhance_pipeline.h"
#include "scan.h"

#include <cstdio>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

namespace keepframe::bench {

void enhanceBench() {
    const std::string folder = cachedShoot(60, 6000, 4000);
    const cv::Mat image = cv::imread(folder + "/DSC_0001.jpg", cv::IMREAD_COLOR);
    if (image.empty()) {
        std::printf("enhance: cannot read the benchmark photograph\n");
        return;
    }
    const std::vector<cv::Rect> faces = {cv::Rect(2400, 1200, 600, 700), cv::Rect(3600, 1300, 550, 650)};
    const int threads = cv::getNumThreads();
    cv::setNumThreads(1);
    double ms[2];
    for (int plus = 0; plus < 2; ++plus) {
        EnhancePipeline::run(image, faces, {0.95f, 0.9f}, EnhanceSettings::forLevel(plus));  // warm-up
        const auto start = std::chrono::steady_clock::now();
        const int runs = 3;
        for (int i = 0; i < runs; ++i)
            EnhancePipeline::run(image, faces, {0.95f, 0.9f}, EnhanceSettings::forLevel(plus));
        ms[plus] = secondsSince(start) * 1000 / runs;
    }
    cv::setNumThreads(threads);
    std::printf("enhance: one %dx%d photograph, 2 faces, 1 core\n", image.cols, image.rows);
    std::printf("  Enhance:      %7.1f ms\n", ms[0]);
    std::printf("  Enhance Plus: %7.1f ms (aim: under 1500 ms)\n", ms[1]);
}

}  // namespace keepframe::bench
