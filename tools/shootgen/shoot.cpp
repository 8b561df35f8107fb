#include "shoot.h"

#include "exif_writer.h"
#include "image_decode.h"
#include "paths.h"
#include "scan.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
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

// A face of the labelled photographs: the photograph and the face's box.
struct FaceSource {
    std::string photo;
    cv::Rect box;
};

// Faces labelled with open eyes and at least 100 pixels wide.
std::vector<FaceSource> labelledFaces(const std::string& photoFolder) {
    std::vector<FaceSource> faces;
    const fs::path eyes = utf8ToPath(photoFolder) / "eyes";
    std::ifstream in(eyes / "labels.tsv");
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::istringstream row(line);
        std::string file, label, field;
        double v[8];
        std::getline(row, file, '\t');
        bool ok = true;
        for (double& x : v) {
            ok = ok && bool(std::getline(row, field, '\t'));
            x = ok ? std::atof(field.c_str()) : 0;
        }
        std::getline(row, label, '\t');
        if (ok && label == "open" && v[2] >= 100)
            faces.push_back({pathToUtf8((eyes / utf8ToPath(file)).lexically_normal()),
                             cv::Rect(int(v[0]), int(v[1]), int(v[2]), int(v[3]))});
    }
    return faces;
}

// Pastes the head around `face` onto `canvas`, its face `faceWidth` pixels
// wide with its centre at `centre`, blended in through a soft oval.
void pasteFace(cv::Mat& canvas, const cv::Mat& photo, const cv::Rect& face, int faceWidth, cv::Point centre) {
    const cv::Rect head = cv::Rect(face.x - face.width * 3 / 4, face.y - face.height * 3 / 4, face.width * 5 / 2,
                                   face.height * 5 / 2) & cv::Rect(0, 0, photo.cols, photo.rows);
    const double s = double(faceWidth) / face.width;
    cv::Mat patch;
    cv::resize(photo(head), patch, cv::Size(), s, s, cv::INTER_CUBIC);
    cv::Mat mask(patch.size(), CV_32F, cv::Scalar(0));
    cv::ellipse(mask, cv::Point(patch.cols / 2, patch.rows / 2), cv::Size(patch.cols * 2 / 5, patch.rows * 9 / 20), 0,
                0, 360, cv::Scalar(1), cv::FILLED);
    const int blur = (std::min(patch.cols, patch.rows) / 8) | 1;
    cv::GaussianBlur(mask, mask, cv::Size(blur, blur), 0);
    const cv::Point faceCentre(int((face.x + face.width / 2 - head.x) * s),
                               int((face.y + face.height / 2 - head.y) * s));
    const cv::Rect at = cv::Rect(centre - faceCentre, patch.size()) & cv::Rect(0, 0, canvas.cols, canvas.rows);
    if (at.empty()) return;
    const cv::Rect from(at.tl() - (centre - faceCentre), at.size());
    cv::Mat target = canvas(at), source, background, weights;
    patch(from).convertTo(source, CV_32FC3);
    target.convertTo(background, CV_32FC3);
    cv::cvtColor(mask(from), weights, cv::COLOR_GRAY2BGR);
    cv::Mat blended = source.mul(weights) + background.mul(cv::Scalar::all(1.0) - weights);
    blended.convertTo(target, CV_8UC3);
}

// "DSC_nnnn.jpg" of frame `index` (counted from 0) in `folder`.
std::string framePath(const std::string& folder, int index) {
    char name[32];
    std::snprintf(name, sizeof name, "DSC_%04d.jpg", index + 1);
    return pathToUtf8(utf8ToPath(folder) / name);
}

// The EXIF of frame `index`, taken `seconds` after midnight of the wedding day.
ExifFields frameExif(int index, int seconds, int orientation) {
    char when[32];
    std::snprintf(when, sizeof when, "2024:06:15 %02d:%02d:%02d", seconds / 3600 % 24, seconds / 60 % 60,
                  seconds % 60);
    ExifFields exif;
    exif.dateTimeOriginal = when;
    exif.subSecTimeOriginal = std::to_string(10 + index % 90);
    exif.orientation = orientation;
    return exif;
}

// The EXIF orientation that undoes `orientation`.
int inverseOrientation(int orientation) { return orientation == 6 ? 8 : orientation == 8 ? 6 : orientation; }

}  // namespace

int generateCameraShoot(const std::string& folder, const CameraShootOptions& options) {
    std::error_code ec;
    fs::create_directories(utf8ToPath(folder), ec);
    if (ec) throw std::runtime_error("cannot create " + folder + ": " + ec.message());

    const std::vector<FaceSource> faces = labelledFaces(options.photoFolder);
    const std::vector<std::string> groups = sourcePhotos(options.photoFolder);
    std::map<std::string, cv::Mat> photos;
    const auto photo = [&](const std::string& path) -> const cv::Mat& {
        auto it = photos.find(path);
        if (it == photos.end()) it = photos.emplace(path, cv::imread(path, cv::IMREAD_COLOR)).first;
        return it->second;
    };
    std::mt19937 rng(options.seed);
    std::uniform_real_distribution<double> shift(-0.02, 0.02), zoom(1.0, 1.05), unit(0.0, 1.0);
    std::uniform_int_distribution<int> burst(3, 6);
    // Mostly held level; some frames turned either way, a few upside down.
    const int orientations[] = {1, 1, 1, 1, 6, 6, 8, 3};

    cv::Mat scene, grain;
    int left = 0, sceneIndex = 0, orientation = 1, seconds = 15 * 3600;
    for (int i = 0; i < options.count; ++i) {
        if (left == 0) {
            left = burst(rng);
            orientation = orientations[rng() % 8];
            const bool sideways = orientation >= 5;
            const int w = sideways ? options.height : options.width, h = sideways ? options.width : options.height;
            // Venue, portrait, couple, group, portrait, ...
            const int kind = faces.empty() ? 0 : sceneIndex % 4;
            if (kind == 3 && !groups.empty() && !photo(groups[size_t(sceneIndex / 4) % groups.size()]).empty()) {
                scene = photo(groups[size_t(sceneIndex / 4) % groups.size()]);
            } else {
                cv::resize(paintedScene(w, h, rng), scene, cv::Size(w, h), 0, 0, cv::INTER_CUBIC);
                for (int k = 0; k < std::min(kind, 2); ++k) {
                    const FaceSource& f = faces[rng() % faces.size()];
                    if (photo(f.photo).empty()) continue;
                    const int faceWidth = int(std::min(w, h) * (0.12 + 0.08 * unit(rng)));
                    const int x = kind == 1 ? w / 2 : w * (1 + 2 * k) / 4;
                    const cv::Point centre(x + int(w * 0.05 * (unit(rng) - 0.5)), int(h * (0.35 + 0.1 * unit(rng))));
                    pasteFace(scene, photo(f.photo), f.box, faceWidth, centre);
                }
            }
            ++sceneIndex;
            seconds += 30;
            grain.release();
        }
        --left;
        ++seconds;
        const bool sideways = orientation >= 5;
        const int w = sideways ? options.height : options.width, h = sideways ? options.width : options.height;
        cv::Mat frame = frameFrom(scene, w, h, shift(rng), shift(rng), zoom(rng));
        // One grain field per burst: drawing it is the slowest step of the generator.
        if (grain.size() != frame.size()) {
            grain.create(frame.size(), CV_16SC3);
            cv::randn(grain, cv::Scalar::all(0), cv::Scalar::all(options.noise));
        }
        cv::add(frame, grain, frame, cv::noArray(), CV_8UC3);
        applyOrientation(frame, inverseOrientation(orientation));  // stored as the sensor saw it

        const std::string path = framePath(folder, i);
        std::vector<uint8_t> jpeg;
        if (!encodeJpeg(frame, options.encoding, jpeg) ||
            !writeJpegBytes(path, std::move(jpeg), frameExif(i, seconds, orientation)))
            throw std::runtime_error("cannot write " + path);
    }
    return options.count;
}

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

        const std::string path = framePath(folder, i);
        if (!writeJpeg(path, frame, frameExif(i, seconds, 1), 92)) throw std::runtime_error("cannot write " + path);
        ++written;
    }
    return written;
}

}  // namespace keepframe::shootgen
