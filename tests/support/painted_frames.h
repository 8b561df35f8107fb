// Frames painted so that the test models find faces exactly where wanted.
#pragma once

#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "temp_dir.h"
#include "test_models.h"

namespace keepframe::testing {

struct FaceSpec {
    int row, col;          // stride-16 cell of the face centre, in analysis pixels / 16
    float half = 3;        // half box side in stride units (3 -> 96 x 96 px)
    float score = 0.75f;
    bool skin = true;
};

// The analysis image (quarter size) with the given faces on black.
// `background` stays below 128 so that it never triggers the test detector.
inline cv::Mat analysisFrame(const std::vector<FaceSpec>& faces, int w = 640, int h = 480, int background = 0) {
    cv::Mat img(h, w, CV_8UC3, cv::Scalar::all(background));
    for (const auto& f : faces) {
        const int cx = f.col * 16, cy = f.row * 16, r = int(f.half * 16);
        const cv::Rect box(cx - r, cy - r, 2 * r, 2 * r);
        if (f.skin) paintSkin(img, box);
        else
            for (int y = 0; y < 2 * r; ++y)
                for (int x = 0; x < 2 * r; ++x)
                    if (box.contains({box.x + x, box.y + y}) && (cv::Rect(0, 0, w, h).contains({box.x + x, box.y + y})))
                        img.at<cv::Vec3b>(box.y + y, box.x + x) =
                            ((x / 2 + y / 2) % 2) ? cv::Vec3b(100, 100, 100) : cv::Vec3b(70, 70, 70);
        paintAnchor(img, {16, f.row, f.col, f.score, {f.half, f.half, f.half, f.half}, faceOffsets(f.half)});
    }
    return img;
}

// Writes the frame at four times the analysis size as PNG, so the quarter-size
// decode gives back exactly the painted analysis image.
inline std::string writeFrame(const TempDir& dir, const std::string& name, const cv::Mat& analysis) {
    cv::Mat full;
    cv::resize(analysis, full, analysis.size() * 4, 0, 0, cv::INTER_NEAREST);
    const std::string path = dir.file(name);
    cv::imwrite(path, full);
    return path;
}

}  // namespace keepframe::testing
