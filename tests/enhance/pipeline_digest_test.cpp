// The colour pipeline's output, pinned byte for byte: both levels run over
// generated frames that reach the edges of every stage (odd widths, a frame
// mostly above the highlight threshold, faces at the borders, faces the
// samplers reject, no faces, a view into a larger image, a frame smaller than
// the blur kernels), and the output pixels and their JPEG bytes are compared
// with digests recorded from the pipeline as first written. Any change that
// alters one byte of one frame fails here; a deliberate change of the colour
// stages must record the digests anew.
#include "enhance_pipeline.h"
#include "jpeg_encoder.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

using namespace keepframe;

namespace {

// FNV-1a, 64 bits: enough to tell any two outputs apart in a test.
struct Fnv {
    uint64_t h = 1469598103934665603ull;
    void add(const void* data, size_t n) {
        const auto* p = static_cast<const uint8_t*>(data);
        for (size_t i = 0; i < n; ++i) {
            h ^= p[i];
            h *= 1099511628211ull;
        }
    }
};

std::string hex(uint64_t v) {
    char text[17];
    std::snprintf(text, sizeof text, "%016" PRIx64, v);
    return text;
}

// The size, type and pixels row by row (the padding of a view is not part of the image).
std::string pixelDigest(const cv::Mat& image) {
    Fnv f;
    const int header[3] = {image.cols, image.rows, image.type()};
    f.add(header, sizeof header);
    for (int y = 0; y < image.rows; ++y) f.add(image.ptr(y), image.cols * image.elemSize());
    return hex(f.h);
}

std::string jpegDigest(const cv::Mat& image) {
    std::vector<uint8_t> jpeg;
    if (!encodeJpeg(image, enhancedJpegOptions(), jpeg)) return "encoder failed";
    Fnv f;
    f.add(jpeg.data(), jpeg.size());
    return hex(f.h);
}

// Integer noise, the same on every platform and compiler.
int grain(uint32_t x, uint32_t y, uint32_t c, uint32_t seed, int amplitude) {
    uint32_t v = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u ^ (c + 1) * 0xC2B2AE3Du ^ seed * 0x27D4EB2Fu;
    v ^= v >> 15;
    v *= 0x2C1B3C6Du;
    v ^= v >> 12;
    return int(v % uint32_t(2 * amplitude + 1)) - amplitude;
}

struct SceneLayout {
    int width, height;
    int lift = 0;       // added to every channel: a high lift puts most pixels above the highlight threshold
    uint32_t seed = 1;
};

// A camera-like frame: gradients with grain, saturated and neutral blocks,
// pure black and white, one-pixel lines (the detail the sharpening sees),
// and skin-toned patches with dark eyes wherever `skin` places a face.
cv::Mat scene(const SceneLayout& s, const std::vector<cv::Rect>& skin) {
    cv::Mat img(s.height, s.width, CV_8UC3);
    for (int y = 0; y < s.height; ++y) {
        auto* row = img.ptr<cv::Vec3b>(y);
        for (int x = 0; x < s.width; ++x) {
            const int gx = x * 160 / std::max(1, s.width - 1), gy = y * 120 / std::max(1, s.height - 1);
            const int base[3] = {40 + gx / 2 + gy / 3, 50 + gx / 2 + gy / 2, 60 + gx / 3 + gy};
            for (int c = 0; c < 3; ++c)
                row[x][c] = cv::saturate_cast<uchar>(base[c] + s.lift + grain(x, y, c, s.seed, 7));
        }
    }
    const int w = s.width, h = s.height;
    img(cv::Rect(0, 0, std::max(1, w / 9), std::max(1, h / 7))).setTo(cv::Scalar(0, 0, 0));
    img(cv::Rect(w - std::max(1, w / 11), h - std::max(1, h / 6), std::max(1, w / 11), std::max(1, h / 6)))
        .setTo(cv::Scalar(255, 255, 255));
    img(cv::Rect(w / 3, 0, std::max(1, w / 13), h)).setTo(cv::Scalar(30, 200, 250));  // saturated warm band
    img(cv::Rect(w / 2, h / 2, std::max(1, w / 15), std::max(1, h / 4))).setTo(cv::Scalar(230, 90, 20));
    for (int x = 2 * w / 3; x < w; x += 7) img.col(x).setTo(cv::Scalar(245, 240, 235));
    for (int y = h / 5; y < h; y += 11) img.row(y).colRange(0, w / 4).setTo(cv::Scalar(12, 10, 8));
    const cv::Rect frame(0, 0, w, h);
    for (const cv::Rect& face : skin) {
        const cv::Rect inside = face & frame;
        if (inside.empty()) continue;
        for (int y = inside.y; y < inside.y + inside.height; ++y) {
            auto* row = img.ptr<cv::Vec3b>(y);
            for (int x = inside.x; x < inside.x + inside.width; ++x) {
                const int tone[3] = {118, 148, 204};
                for (int c = 0; c < 3; ++c)
                    row[x][c] = cv::saturate_cast<uchar>(tone[c] + s.lift / 4 + grain(x, y, c, s.seed + 7, 9));
            }
        }
        // Two dark eyes for the dark point of stage 1.
        const cv::Rect eye(face.x + face.width / 4, face.y + face.height * 2 / 5, std::max(1, face.width / 8),
                           std::max(1, face.height / 12));
        img(eye & frame).setTo(cv::Scalar(6, 5, 9));
        img((eye + cv::Point(face.width / 3, 0)) & frame).setTo(cv::Scalar(4, 7, 5));
    }
    return img;
}

struct Case {
    const char* name;
    cv::Mat image;
    std::vector<cv::Rect> faces;
    std::vector<float> confidences;
};

std::vector<Case> cases() {
    std::vector<Case> out;
    {
        // An odd width far from any multiple of a vector register, two good faces.
        const std::vector<cv::Rect> faces{{900, 60, 110, 120}, {2600, 90, 95, 105}};
        out.push_back({"wide4001", scene({4001, 257, 0, 1}, faces), faces, {0.97f, 0.91f}});
    }
    {
        // Faces at the borders: one half outside on the left, one at the top
        // (stage 1 ignores it, the later samplers use it), one in the corner
        // and one wholly outside the frame.
        const std::vector<cv::Rect> faces{{-40, 300, 120, 130}, {500, 5, 100, 110}, {960, 590, 110, 120},
                                          {1100, 100, 90, 90}};
        out.push_back({"borders1037", scene({1037, 691, 10, 2}, faces), faces, {0.95f, 0.93f, 0.9f, 0.99f}});
    }
    {
        // About two thirds of the pixels above the highlight threshold.
        const std::vector<cv::Rect> faces{{300, 150, 120, 140}};
        out.push_back({"highlights", scene({1037, 515, 79, 3}, faces), faces, {0.9f}});
    }
    out.push_back({"nofaces", scene({640, 480, 0, 4}, {}), {}, {}});
    {
        // Every face rejected: confidence exactly 0.8, area exactly 5000, a
        // blue patch that is no skin, and a small face without a confidence.
        const std::vector<cv::Rect> skin{{40, 40, 100, 100}, {200, 60, 100, 50}, {420, 200, 60, 60}};
        cv::Mat img = scene({801, 433, -20, 5}, skin);
        img(cv::Rect(560, 40, 120, 120)).setTo(cv::Scalar(200, 150, 110));
        const std::vector<cv::Rect> faces{{40, 40, 100, 100}, {200, 60, 100, 50}, {560, 40, 120, 120},
                                          {420, 200, 60, 60}};
        out.push_back({"rejected", img, faces, {0.8f, 0.99f, 0.99f}});
    }
    {
        // A dark frame, lifted by every stage that can.
        const std::vector<cv::Rect> faces{{200, 100, 100, 120}};
        out.push_back({"dark", scene({513, 389, -45, 6}, faces), faces, {0.85f}});
    }
    {
        // A view into a larger image: rows are not contiguous.
        const std::vector<cv::Rect> skin{{403, 105, 130, 140}};
        const cv::Mat big = scene({1009, 341, 5, 7}, skin);
        const std::vector<cv::Rect> faces{{400, 100, 130, 140}};
        out.push_back({"view", big(cv::Rect(3, 5, 1001, 333)), faces, {0.92f}});
    }
    {
        // Smaller than the highlight blur kernel, with a face covering it.
        const std::vector<cv::Rect> faces{{-30, -30, 100, 100}};
        out.push_back({"tiny", scene({23, 9, 20, 8}, faces), faces, {}});
    }
    return out;
}

struct Digests {
    const char* name;
    const char* enhancePixels;
    const char* enhanceJpeg;
    const char* plusPixels;
    const char* plusJpeg;
};

// Recorded from the pipeline before any of its speed work.
const Digests kRecorded[] = {
    {"wide4001", "3b3328c53d4a525f", "421c42acf202ed72", "aee7ca6c8bea3432", "c197bfa84fd3a29d"},
    {"borders1037", "28c0b179fd05b355", "beb1fe02b5819da6", "66816f247dba4caf", "3d22204bdcb77213"},
    {"highlights", "9958d08b7a7a8c1e", "baffb0f64c9c4a11", "b571a146fb682b62", "6391c168e9b2ee51"},
    {"nofaces", "6da45722654966a9", "1fe83115ee346d6a", "a9729ef929a5d5b7", "6762b167b5f11e50"},
    {"rejected", "fa9ae59a4672e2c3", "728b9804793a9138", "31aac4299271abda", "0d3b2db8bb11704a"},
    {"dark", "2b84c08680cb41d6", "d11e41cd2dacb448", "a772a36302b4a12a", "35c7d85563b2a0bc"},
    {"view", "e265bffe103d22e0", "36328203ee790195", "a541bb2383a55120", "22ffba2b8c4eca64"},
    {"tiny", "d5b1680aac5efc7b", "68189d46e938018a", "5e527fd7529da197", "8ca84c0a6c2c2a84"},
};

double fractionAbove(const cv::Mat& image, int level) {
    int64_t above = 0;
    for (int y = 0; y < image.rows; ++y)
        for (int x = 0; x < image.cols; ++x) {
            const cv::Vec3b p = image.at<cv::Vec3b>(y, x);
            above += std::max({p[0], p[1], p[2]}) > level;
        }
    return double(above) / double(image.total());
}

}  // namespace

TEST(PipelineDigests, TheCasesStressWhatTheyClaim) {
    const std::vector<Case> all = cases();
    ASSERT_EQ(all.size(), std::size(kRecorded));
    for (size_t i = 0; i < all.size(); ++i) EXPECT_STREQ(all[i].name, kRecorded[i].name);
    EXPECT_NEAR(fractionAbove(all[2].image, 210), 0.67, 0.03);
    EXPECT_FALSE(all[6].image.isContinuous());
    EXPECT_EQ(all[0].image.cols % 2, 1);
    EXPECT_EQ(all[1].image.cols % 2, 1);
}

TEST(PipelineDigests, BothLevelsGiveTheRecordedBytes) {
    const std::vector<Case> all = cases();
    std::string table;
    bool same = true;
    for (size_t i = 0; i < all.size(); ++i) {
        const Case& c = all[i];
        const cv::Mat before = c.image.clone();
        std::string got[4];
        for (int plus = 0; plus < 2; ++plus) {
            const EnhanceResult r =
                EnhancePipeline::run(c.image, c.faces, c.confidences, EnhanceSettings::forLevel(plus));
            ASSERT_TRUE(r.ok) << c.name;
            got[2 * plus] = pixelDigest(r.image);
            got[2 * plus + 1] = jpegDigest(r.image);
        }
        EXPECT_EQ(cv::norm(before, c.image, cv::NORM_INF), 0) << c.name << ": the input changed";
        const Digests& want = kRecorded[i];
        const char* expected[4] = {want.enhancePixels, want.enhanceJpeg, want.plusPixels, want.plusJpeg};
        const char* what[4] = {"Enhance pixels", "Enhance JPEG", "Plus pixels", "Plus JPEG"};
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(got[k], expected[k]) << c.name << ": " << what[k];
            same = same && got[k] == expected[k];
        }
        table += "    {\"" + std::string(c.name) + "\", \"" + got[0] + "\", \"" + got[1] + "\", \"" + got[2] +
                 "\", \"" + got[3] + "\"},\n";
    }
    if (!same) std::printf("Digests of this build:\n%s", table.c_str());
}

// A worker's buffers serve frame after frame: every case in turn, sizes
// changing from one to the next, both levels alternating and the whole run
// twice, through one EnhanceBuffers, gives the recorded pixels every time.
TEST(PipelineDigests, OneBuffersServeEveryFrameInTurn) {
    const std::vector<Case> all = cases();
    EnhanceBuffers buffers;
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t i = 0; i < all.size(); ++i) {
            for (int plus : {pass, 1 - pass}) {
                const Case& c = all[i];
                const EnhanceResult r = EnhancePipeline::run(c.image, c.faces, c.confidences,
                                                             EnhanceSettings::forLevel(plus), buffers);
                ASSERT_TRUE(r.ok) << c.name;
                EXPECT_EQ(pixelDigest(r.image), plus ? kRecorded[i].plusPixels : kRecorded[i].enhancePixels)
                    << c.name << (plus ? " (Plus)" : " (Enhance)") << ", pass " << pass;
            }
        }
    }
}
