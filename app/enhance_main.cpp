// keepframe-enhance INPUT OUTPUT [--plus] [--face x,y,w,h[,conf]]...
// Colour-corrects one photograph with the Enhance (or Enhance Plus) pipeline
// and writes it as a JPEG with the program's enhanced-image encoder settings.
#include "memory_tuning.h"
#include "enhance_pipeline.h"
#include "jpeg_encoder.h"
#include "jpeg_output.h"
#include "paths.h"

#include <cstdio>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>

using namespace keepframe;

namespace {

const char* const kUsage = "usage: keepframe-enhance INPUT OUTPUT [--plus] [--face x,y,w,h[,conf]]...";

bool parseFace(const std::string& text, cv::Rect& box, float& conf, bool& hasConf) {
    int x, y, w, h, used = 0;
    float c = 0;
    const int n = std::sscanf(text.c_str(), "%d,%d,%d,%d%n,%f%n", &x, &y, &w, &h, &used, &c, &used);
    if (n < 4 || size_t(used) != text.size() || w <= 0 || h <= 0) return false;
    box = cv::Rect(x, y, w, h);
    hasConf = n == 5;
    conf = c;
    return true;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "keepframe-enhance: %s\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    keepframe::keepLargeAllocationsMapped();
    std::vector<std::string> positional;
    std::vector<cv::Rect> faces;
    std::vector<float> confidences;
    bool plus = false, confidenceGap = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::printf("%s\n", kUsage);
            return 0;
        } else if (a == "--plus") {
            plus = true;
        } else if (a == "--face") {
            if (i + 1 >= argc) return fail("--face needs x,y,w,h[,conf]");
            cv::Rect box;
            float conf = 1;
            bool hasConf = false;
            if (!parseFace(argv[++i], box, conf, hasConf))
                return fail(std::string("malformed face \"") + argv[i] + "\" (want x,y,w,h[,conf] with w and h above 0)");
            // Confidences line up with faces; a face without one counts as 1.0.
            if (!hasConf) confidenceGap = true;
            else if (confidenceGap) return fail("give a confidence for every face or only for the first ones");
            faces.push_back(box);
            if (hasConf) confidences.push_back(conf);
        } else if (a.size() > 1 && a[0] == '-') {
            return fail("unknown option " + a + "\n" + kUsage);
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2) return fail(std::string("need INPUT and OUTPUT\n") + kUsage);

    std::vector<uint8_t> bytes;
    if (!readFileBytes(positional[0], bytes)) return fail("cannot read " + positional[0]);
    cv::Mat image;
    try {
        image = cv::imdecode(bytes, cv::IMREAD_COLOR);  // upright, as the cull saw it
    } catch (const cv::Exception&) {
    }
    if (image.empty()) return fail("cannot decode " + positional[0] + " as an image");

    const EnhanceResult result = EnhancePipeline::run(image, faces, confidences, EnhanceSettings::forLevel(plus));
    if (!result.ok) return fail("the colour pipeline gave no image");
    std::vector<uint8_t> jpeg;
    if (!encodeJpeg(result.image, enhancedJpegOptions(), jpeg)) return fail("cannot encode the result");
    if (!writeBytes(positional[1], jpeg)) return fail("cannot write " + positional[1]);
    std::printf("Wrote %s (%s, %d faces)\n", positional[1].c_str(), plus ? "Enhance Plus" : "Enhance", int(faces.size()));
    return 0;
}
