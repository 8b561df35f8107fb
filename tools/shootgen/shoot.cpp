#include "shoot.h"

#include "exif_writer.h"
#include "paths.h"
#include "scan.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace fs = std::filesystem;

namespace keepframe::shootgen {
namespace {

std::vector<std::string> sourcePhotos(const std::string& folder) {
    std::vector<std::string> photos;
    std::error_code ec;
    if (folder.empty() || !fs::is_directory(utf8ToPath(folder), ec)) return photos;
    for (const auto& e : fs::directory_iterator(utf8ToPath(folder), ec)) {
        const std::string name = pathToUtf8(e.path().filename());
        const std::string ext = fileExtension(name);
        if (e.is_regular_file() && (ext == ".jpg" || ext == ".jpeg" || ext == ".png"))
            photos.push_back(pathToUtf8(e.path()));
    }
    std::sort(photos.begin(), photos.end());
    return photos;
}

cv::Mat paintedScene(int width, int height, std::mt19937& rng) {
    const int w = std::max(64, width / 8), h = std::max(64, height / 8);
    cv::Mat scene(h, w, CV_8UC3);
    std::uniform_int_distribution<int> channel(30, 225);
    const cv::Vec3b top(uchar(channel(rng)), uchar(channel(rng)), uchar(channel(rng)));
    const cv::Vec3b bottom(uchar(channel(rng)), uchar(channel(rng)), uchar(channel(rng)));
    for (int y = 0; y < h; ++y) {
        const double t = double(y) / (h - 1);
        scene.row(y).setTo(cv::Scalar(top[0] * (1 - t) + bottom[0] * t, top[1] * (1 - t) + bottom[1] * t,
                                      top[2] * (1 - t) + bottom[2] * t));
    }
    std::uniform_int_distribution<int> px(0, w - 1), py(0, h - 1), radius(h / 20 + 1, h / 4 + 2);
    for (int i = 0; i < 25; ++i) {
        const cv::Scalar colour(channel(rng), channel(rng), channel(rng));
        if (i % 2) cv::circle(scene, {px(rng), py(rng)}, radius(rng), colour, cv::FILLED, cv::LINE_AA);
        else cv::rectangle(scene, cv::Rect(px(rng), py(rng), radius(rng) * 2, radius(rng)), colour, cv::FILLED);
    }
    return scene;
}

// Crops `scene` to the frame's aspect ratio with a small shift and zoom, then
// scales it to the frame size.
cv::Mat frameFrom(const cv::Mat& scene, int width, int height, double shiftX, double shiftY, double zoom) {
    const double aspect = double(width) / height;
    double cw = scene.cols, ch = scene.cols / aspect;
    if (ch > scene.rows) {
        ch = scene.rows;
        cw = ch * aspect;
    }
    cw /= zoom;
    ch /= zoom;
    const double x = std::clamp((scene.cols - cw) / 2 + shiftX * cw, 0.0, scene.cols - cw);
    const double y = std::clamp((scene.rows - ch) / 2 + shiftY * ch, 0.0, scene.rows - ch);
    cv::Mat frame;
    cv::resize(scene(cv::Rect(int(x), int(y), int(cw), int(ch))), frame, cv::Size(width, height), 0, 0,
               cv::INTER_CUBIC);
    return frame;
}

}  // namespace

int generateShoot(const std::string& folder, const ShootOptions& options) {
    std::error_code ec;
    fs::create_directories(utf8ToPath(folder), ec);
    if (ec) throw std::runtime_error("cannot create " + folder + ": " + ec.message());

    const std::vector<std::string> photos = sourcePhotos(options.sourceFolder);
    std::mt19937 rng(options.seed);
    std::uniform_real_distribution<double> shift(-0.03, 0.03), zoom(1.0, 1.08);
    std::uniform_int_distribution<int> burst(3, 5);

    cv::Mat scene;
    int left = 0, sceneIndex = 0, written = 0;
    int seconds = 14 * 3600;
    for (int i = 0; i < options.count; ++i) {
        if (left == 0) {
            left = burst(rng);
            cv::Mat photo;
            if (!photos.empty()) photo = cv::imread(photos[size_t(sceneIndex) % photos.size()], cv::IMREAD_COLOR);
            scene = photo.empty() ? paintedScene(options.width, options.height, rng) : photo;
            ++sceneIndex;
            seconds += 40;
        }
        --left;
        ++seconds;
        cv::Mat frame = frameFrom(scene, options.width, options.height, shift(rng), shift(rng), zoom(rng));
        cv::Mat noise(frame.size(), frame.type());
        cv::randn(noise, cv::Scalar::all(0), cv::Scalar::all(3));
        frame += noise;  // sensor-like grain keeps file sizes camera-like

        char name[32], when[32];
        std::snprintf(name, sizeof name, "DSC_%04d.jpg", i + 1);
        std::snprintf(when, sizeof when, "2024:06:15 %02d:%02d:%02d", seconds / 3600 % 24, seconds / 60 % 60,
                      seconds % 60);
        ExifFields exif;
        exif.dateTimeOriginal = when;
        exif.subSecTimeOriginal = std::to_string(10 + i % 90);
        exif.orientation = 1;
        const std::string path = pathToUtf8(utf8ToPath(folder) / name);
        if (!writeJpeg(path, frame, exif, 92)) throw std::runtime_error("cannot write " + path);
        ++written;
    }
    return written;
}

}  // namespace keepframe::shootgen
