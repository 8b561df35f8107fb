#include "color_tools.h"

#include "enhance_pipeline.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace keepframe {

namespace {

uchar toEntry(double v) { return uchar(std::clamp(v, 0.0, 255.0)); }  // clamped, truncated

float confidenceOf(const std::vector<float>& confidences, size_t i) {
    return i < confidences.size() ? confidences[i] : 1.0f;
}

}  // namespace

std::vector<uchar> curveTable(CurvePoints points, float power) {
    std::stable_sort(points.begin(), points.end(), [](auto& a, auto& b) { return a.first < b.first; });
    auto f = [&](float v) -> float {
        if (v <= points.front().first) return points.front().second;
        if (v >= points.back().first) return points.back().second;
        for (size_t j = 1; j < points.size(); ++j) {
            if (points[j].first >= v) {
                const auto [x0, y0] = points[j - 1];
                const auto [x1, y1] = points[j];
                if (x1 == x0) return y0;
                return y0 + (y1 - y0) * (v - x0) / (x1 - x0);
            }
        }
        return points.back().second;
    };
    std::vector<uchar> table(256);
    const bool gammaDomain = points.size() == 3 && points.front() == std::pair<float, float>{0, 0} &&
                             points.back() == std::pair<float, float>{255, 255};
    if (gammaDomain) {
        // Interpolation in a gamma-encoded domain keeps the knee smooth in light.
        float T[256];
        for (int k = 0; k < 256; ++k) T[k] = f(float(k)) / 255.0f;
        for (int i = 0; i < 256; ++i) {
            const double g = 255.0 * std::pow(i / 255.0, 1.0 / power);
            const int k = std::min(int(std::floor(g)), 255), k1 = std::min(k + 1, 255);
            const double t = g - k;
            const double v = T[k] + (T[k1] - T[k]) * t;
            table[size_t(i)] = toEntry(255.0 * std::pow(std::max(v, 0.0), double(power)));
        }
    } else {
        for (int i = 0; i < 256; ++i) table[size_t(i)] = toEntry(f(float(i)));
    }
    return table;
}

cv::Mat applyCurve(const cv::Mat& image, const CurvePoints& points, float power) {
    if (image.empty() || points.empty()) return image;
    cv::Mat out;
    cv::LUT(image, curveTable(points, power), out);
    return out;
}

std::vector<uchar> levelsTable(int black, int white, float gamma) {
    if (white == black) white = black + 1;
    std::vector<uchar> table(256);
    for (int i = 0; i < 256; ++i) {
        const double x = std::clamp(double(i - black) / double(white - black), 0.0, 1.0);
        table[size_t(i)] = toEntry(255.0 * std::pow(x, 1.0 / gamma));
    }
    return table;
}

cv::Mat applyLevels(const cv::Mat& image, int black, int white, float gamma) {
    if (image.empty()) return image;
    cv::Mat out;
    cv::LUT(image, levelsTable(black, white, gamma), out);
    return out;
}

namespace {

using ChannelTable = std::array<uchar, 256>;

// Passes each channel of an 8-bit BGR image through its own table into `out`
// (which may be `in`): one pass over the interleaved pixels.
void lookUpEach(const cv::Mat& in, const ChannelTable& blue, const ChannelTable& green, const ChannelTable& red,
                cv::Mat& out) {
    CV_Assert(in.type() == CV_8UC3);
    out.create(in.size(), CV_8UC3);
    for (int y = 0; y < in.rows; ++y) {
        const uchar* s = in.ptr<uchar>(y);
        uchar* d = out.ptr<uchar>(y);
        for (int x = 0; x < 3 * in.cols; x += 3) {
            d[x] = blue[s[x]];
            d[x + 1] = green[s[x + 1]];
            d[x + 2] = red[s[x + 2]];
        }
    }
}

ChannelTable toArray(const std::vector<uchar>& table) {
    ChannelTable out;
    std::copy_n(table.begin(), 256, out.begin());
    return out;
}

}  // namespace

cv::Mat applyPerChannel(const cv::Mat& image, const std::vector<uchar>& blue, const std::vector<uchar>& green,
                        const std::vector<uchar>& red) {
    if (image.empty()) return image;
    cv::Mat out;
    lookUpEach(image, toArray(blue), toArray(green), toArray(red), out);  // one pass, not split and merge
    return out;
}

namespace {

// Scaling an 8-bit channel, cutting at 255 and 0 and rounding back is a
// function of the 8-bit value alone: one 256-entry table.
ChannelTable scaleTable(float percent) {
    ChannelTable table;
    const float factor = 1.0f + percent / 100.0f;
    for (int v = 0; v < 256; ++v)
        table[size_t(v)] = cv::saturate_cast<uchar>(std::max(std::min(float(v) * factor, 255.0f), 0.0f));
    return table;
}

// Passes channel `channel` of an 8-bit three-channel image through `table`, in place.
void applyToChannel(cv::Mat& image, int channel, const ChannelTable& table) {
    for (int y = 0; y < image.rows; ++y) {
        uchar* p = image.ptr<uchar>(y) + channel;
        for (int x = 0; x < image.cols; ++x) p[3 * x] = table[p[3 * x]];
    }
}

void rotateHue(cv::Mat& hls, float hueShift) {
    cv::Mat f;
    hls.convertTo(f, CV_32F);
    std::vector<cv::Mat> ch;
    cv::split(f, ch);
    ch[0].forEach<float>([hueShift](float& h, const int*) {
        h = std::fmod(h + hueShift, 180.0f);
        if (h < 0) h += 180.0f;
    });
    cv::merge(ch, f);
    f.convertTo(hls, CV_8U);
}

}  // namespace

cv::Mat adjustHls(const cv::Mat& image, float hueShift, float saturationPercent, float lightnessPercent) {
    EnhanceBuffers buffers;
    return adjustHls(image, hueShift, saturationPercent, lightnessPercent, buffers);
}

cv::Mat adjustHls(const cv::Mat& image, float hueShift, float saturationPercent, float lightnessPercent,
                  EnhanceBuffers& buffers) {
    if (image.empty()) return image;
    const ChannelTable lightness = scaleTable(lightnessPercent), saturation = scaleTable(saturationPercent);
    cv::Mat& out = buffers.reusable(image);
    out.create(image.size(), CV_8UC3);
    // Both conversions work pixel by pixel: a strip of rows at a time gives
    // the pixels of whole-image conversions, and may write over its input.
    for (int top = 0; top < image.rows; top += EnhanceBuffers::kStripRows) {
        const int rows = std::min(EnhanceBuffers::kStripRows, image.rows - top);
        cv::Mat& hls = buffers.strip;
        cv::cvtColor(image.rowRange(top, top + rows), hls, cv::COLOR_BGR2HLS);
        if (hueShift != 0) rotateHue(hls, hueShift);
        // Only the channels that change are looked up (H 0, L 1, S 2).
        if (lightnessPercent != 0) applyToChannel(hls, 1, lightness);
        if (saturationPercent != 0) applyToChannel(hls, 2, saturation);
        cv::Mat target = out.rowRange(top, top + rows);
        cv::cvtColor(hls, target, cv::COLOR_HLS2BGR);
    }
    return out;
}

SkinSample maskedSkinMean(const cv::Mat& region) {
    SkinSample s;
    if (region.empty()) return s;
    cv::Mat mask;
    cv::inRange(region, cv::Scalar(20, 20, 20), cv::Scalar(255, 255, 255), mask);  // every channel >= 20
    if (cv::countNonZero(mask) == 0) return s;
    const cv::Scalar m = cv::mean(region, mask);
    s.blue = m[0];
    s.green = m[1];
    s.red = m[2];
    s.brightness = (s.blue + s.green + s.red) / 3.0;
    return s;
}

cv::Rect insetFaceRegion(const cv::Rect& face, const cv::Size& image) {
    const int dx = int(std::lround(0.15 * face.width)), dy = int(std::lround(0.15 * face.height));
    const int left = std::clamp(face.x + dx, 0, image.width - 1), top = std::clamp(face.y + dy, 0, image.height - 1);
    const int right = std::clamp(face.x + face.width - dx, 0, image.width);
    const int bottom = std::clamp(face.y + face.height - dy, 0, image.height);
    if (right <= left || bottom <= top) return {};
    return cv::Rect(left, top, right - left, bottom - top);
}

bool acceptableSkin(const SkinSample& s, const EnhanceSettings& settings) {
    return s.brightness > settings.minSkinBrightness && s.red > 0 && s.blue / s.red < settings.maxBlueToRed &&
           s.green / s.red < settings.maxGreenToRed;
}

SkinSample sampleSkin(const cv::Mat& image, const std::vector<cv::Rect>& faces, const std::vector<float>& confidences,
                      const EnhanceSettings& settings) {
    if (image.empty()) return {};
    return sampleSkin(image.size(), [&image](const cv::Rect& r) { return image(r); }, faces, confidences, settings);
}

SkinSample sampleSkin(const cv::Size& image, const RegionReader& read, const std::vector<cv::Rect>& faces,
                      const std::vector<float>& confidences, const EnhanceSettings& settings) {
    SkinSample sum;
    if (image.empty() || faces.empty()) return sum;
    int count = 0;
    for (size_t i = 0; i < faces.size(); ++i) {
        const cv::Rect& f = faces[i];
        if (!(double(f.width) * double(f.height) > settings.minFaceArea &&
              confidenceOf(confidences, i) > settings.minFaceConfidence))
            continue;
        const cv::Rect region = insetFaceRegion(f, image);
        if (region.empty()) continue;
        const SkinSample s = maskedSkinMean(read(region));
        if (!acceptableSkin(s, settings)) continue;
        sum.blue += s.blue;
        sum.green += s.green;
        sum.red += s.red;
        sum.brightness += s.brightness;
        ++count;
    }
    if (count == 0) return {};
    return {sum.blue / count, sum.green / count, sum.red / count, sum.brightness / count};
}

SkinAndDarkPoint sampleSkinAndDarkPoint(const cv::Mat& image, const std::vector<cv::Rect>& faces,
                                        const std::vector<float>& confidences, const EnhanceSettings& settings) {
    SkinAndDarkPoint out;
    if (image.empty() || faces.empty()) return out;
    int darkest = 255;
    auto blend = [](double& running, double sample) { running = running == 0 ? sample : (running + sample) / 2.0; };
    for (size_t i = 0; i < faces.size(); ++i) {
        const cv::Rect& f = faces[i];
        const int mx = int(std::lround(0.2 * f.width)), my = int(std::lround(0.2 * f.height));
        // The box narrowed by 20 % and moved up by 20 % of its height must lie in the frame.
        if (!(f.x + mx >= 0 && f.y - my >= 0 && f.x + f.width - mx <= image.cols && f.y + f.height - my <= image.rows))
            continue;
        if (!(confidenceOf(confidences, i) > settings.minFaceConfidence &&
              double(f.width) * double(f.height) > settings.minFaceArea))
            continue;
        const cv::Rect region = insetFaceRegion(f, image.size());
        if (!region.empty()) {
            const SkinSample s = maskedSkinMean(image(region));
            if (acceptableSkin(s, settings)) {
                blend(out.skin.red, s.red);
                blend(out.skin.green, s.green);
                blend(out.skin.blue, s.blue);
                blend(out.skin.brightness, s.brightness);
            }
        }
        const int x0 = std::max(f.x + mx, 0), x1 = std::min(f.x + f.width - mx, image.cols - 1);
        const int y0 = std::max(f.y - my, 0), y1 = std::min(f.y + f.height - my, image.rows - 1);
        if (x1 > x0 && y1 > y0) {
            // Grey is a per-pixel conversion: the region's own is the whole image's there.
            cv::Mat grey;
            cv::cvtColor(image(cv::Rect(x0, y0, x1 - x0, y1 - y0)), grey, cv::COLOR_BGR2GRAY);
            double minVal = 0;
            cv::Point minLoc;
            cv::minMaxLoc(grey, &minVal, nullptr, &minLoc, nullptr);
            if (int(minVal) < darkest) {
                darkest = int(minVal);
                out.darkPixel = image.at<cv::Vec3b>(y0 + minLoc.y, x0 + minLoc.x);
            }
        }
    }
    return out;
}

ChannelTables::ChannelTables(const cv::Mat& image) : image_(image) {
    for (auto& table : tables_)
        for (int v = 0; v < 256; ++v) table[size_t(v)] = uchar(v);
}

void ChannelTables::then(const std::vector<uchar>& table) { then(table, table, table); }

void ChannelTables::then(const std::vector<uchar>& blue, const std::vector<uchar>& green,
                         const std::vector<uchar>& red) {
    const std::vector<uchar>* next[3] = {&blue, &green, &red};
    for (int c = 0; c < 3; ++c)
        for (uchar& v : tables_[size_t(c)]) v = (*next[c])[v];
    identity_ = false;
}

SkinSample ChannelTables::sampleSkin(const std::vector<cv::Rect>& faces, const std::vector<float>& confidences,
                                     const EnhanceSettings& settings) const {
    if (identity_) return keepframe::sampleSkin(image_, faces, confidences, settings);
    if (image_.empty()) return {};
    const auto read = [this](const cv::Rect& r) {
        cv::Mat region;
        lookUpEach(image_(r), tables_[0], tables_[1], tables_[2], region);
        return region;
    };
    return keepframe::sampleSkin(image_.size(), read, faces, confidences, settings);
}

cv::Mat ChannelTables::applied(EnhanceBuffers& buffers) const {
    if (identity_ || image_.empty()) return image_;
    cv::Mat& out = buffers.reusable(image_);
    lookUpEach(image_, tables_[0], tables_[1], tables_[2], out);
    return out;
}

}  // namespace keepframe
