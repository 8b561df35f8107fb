// Saving a 5,000-frame cull as a project and loading it back.
#include "bench_common.h"
#include "bench_sections.h"

#include "project_store.h"

#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <random>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace keepframe::bench {

void storeBench() {
    QTemporaryDir library;
    qputenv("KEEPFRAME_DATA_DIR", library.path().toUtf8());

    // One realistic 640 x 427 thumbnail, reused for every frame.
    cv::Mat thumb(427, 640, CV_8UC3);
    cv::randu(thumb, cv::Scalar::all(0), cv::Scalar::all(255));
    cv::GaussianBlur(thumb, thumb, cv::Size(0, 0), 2.5);  // photo-like detail, not pure noise
    std::vector<uint8_t> jpeg;
    cv::imencode(".jpg", thumb, jpeg, {cv::IMWRITE_JPEG_QUALITY, 85});

    CullResult result;
    std::mt19937 rng(3);
    for (int i = 0; i < 5000; ++i) {
        ResultImage r;
        r.filename = "ceremony/DSC_" + std::to_string(10000 + i) + ".jpg";
        r.path = "/shoots/wedding/" + r.filename;
        const int faces = int(rng() % 5);
        r.category = faces == 0 ? Category::Venue : faces <= 2 ? Category::Portrait : Category::Group;
        r.clusterNumber = 1 + i / 5;
        r.captureTime = "2024:06:15 14:" + std::to_string(10 + i / 600) + ":" + std::to_string(10 + i % 50);
        r.engineSelected = i % 4 == 0;
        r.isPrimary = i % 8 == 0;
        r.fullW = 6000;
        r.fullH = 4000;
        for (int f = 0; f < faces; ++f) {
            r.faceBoxes.push_back({100 * f, 200, 300, 300});
            r.facePersons.push_back(f);
            r.faceConfidences.push_back(0.9f);
            r.detections.push_back({25 * f, 50, 25 * f + 75, 125, 0.9f, true, ""});
        }
        r.detections.push_back({0, 0, 10, 10, 0.55f, false, "small_area"});
        r.detectionCount = int32_t(r.detections.size());
        r.thumbnailJpeg = jpeg;
        result.images.push_back(std::move(r));
    }
    result.totalInput = 5000;
    result.totalSelected = 1250;
    result.coverIndex = 0;

    ProjectStore store;
    if (!store.openRegistry()) {
        std::printf("store: cannot open the registry: %s\n", store.lastError().toUtf8().constData());
        return;
    }
    auto start = std::chrono::steady_clock::now();
    const int id = store.saveCullResult(result, "/shoots/wedding", {}, 60);
    const double save = secondsSince(start);

    ProjectStore ui;
    ui.openRegistry();
    start = std::chrono::steady_clock::now();
    const QVariantList images = ui.loadProjectImages(id);
    const double load = secondsSince(start);
    start = std::chrono::steady_clock::now();
    int clusters = 0;
    for (const char* c : {"venue", "portrait", "group"}) clusters += int(ui.clustersForProject(id, c, false).size());
    const double browse = secondsSince(start);

    std::printf("store: 5,000 frames, %zu-byte thumbnails, faces and detections\n", jpeg.size());
    std::printf("  saveCullResult:      %7.1f ms (project %d)\n", save * 1000, id);
    std::printf("  loadProjectImages:   %7.1f ms (%d images)\n", load * 1000, int(images.size()));
    std::printf("  clustersForProject:  %7.1f ms (%d clusters, all categories)\n", browse * 1000, clusters);

    // One frame's rating and label, against the selection flag that every
    // review action already writes the same way (one statement, one commit).
    // Taken in turn, frame by frame, so that both meet the same load.
    const int writes = std::min(200, int(images.size()));
    double flags = 0, marks = 0;
    int failed = 0;
    for (int i = 0; i < writes; ++i) {
        const int imageId = images[i].toMap()["id"].toInt();
        start = std::chrono::steady_clock::now();
        ui.setUserSelected(imageId, i % 2 == 0);
        flags += secondsSince(start) / writes;
        start = std::chrono::steady_clock::now();
        if (!ui.setFrameMarks(imageId, FrameMarks{i % 6, ColorLabel(1 + i % 4)})) ++failed;
        marks += secondsSince(start) / writes;
    }
    start = std::chrono::steady_clock::now();
    const int marked = int(ui.frameMarksForProject(id).size());
    const double readMarks = secondsSince(start);
    std::printf("  setUserSelected:     %7.2f ms per frame (baseline, %d frames)\n", flags * 1000, writes);
    std::printf("  setFrameMarks:       %7.2f ms per frame (%.2fx the baseline, %d failed)\n", marks * 1000,
                flags > 0 ? marks / flags : 0.0, failed);
    std::printf("  frameMarksForProject:%7.1f ms (%d marked frames)\n", readMarks * 1000, marked);
    qunsetenv("KEEPFRAME_DATA_DIR");
}

}  // namespace keepframe::bench
