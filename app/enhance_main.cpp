// keepframe-enhance INPUT OUTPUT [--plus] [--face x,y,w,h[,conf]]...
// Colour-corrects one photograph with the Enhance (or Enhance Plus) pipeline
// and writes it as a JPEG with the program's enhanced-image encoder settings.
#include "enhance_pipeline.h"
#include "image_decode.h"
#include "jpeg_encoder.h"
#include "jpeg_output.h"
#include "memory_tuning.h"
#include "paths.h"
#include "terminal.h"

#include <QCoreApplication>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

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
    const QCoreApplication app(argc, argv);
    useUtf8Console();
    const std::vector<std::string> args = commandLineArguments();
    std::vector<std::string> positional;
    std::vector<cv::Rect> faces;
    std::vector<float> confidences;
    bool plus = false, confidenceGap = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            std::printf("%s\n", kUsage);
            return 0;
        } else if (a == "--plus") {
            plus = true;
        } else if (a == "--face") {
            if (i + 1 >= args.size()) return fail("--face needs x,y,w,h[,conf]");
            cv::Rect box;
            float conf = 1;
            bool hasConf = false;
            if (!parseFace(args[++i], box, conf, hasConf))
                return fail("malformed face \"" + args[i] + "\" (want x,y,w,h[,conf] with w and h above 0)");
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

    const std::string& input = positional[0];
    const std::string& output = positional[1];
    std::error_code ec;
    if (!std::filesystem::exists(utf8ToPath(input), ec)) return fail("cannot read " + input + ": no such file");
    if (!isRegularFile(input)) return fail(input + " is not a regular file");
    if (std::filesystem::is_directory(utf8ToPath(output), ec))
        return fail(output + " is a folder; name the output file");
    std::vector<uint8_t> bytes;
    if (!readFileBytes(input, bytes)) return fail("cannot read " + input);
    const DecodedImage decoded = decodeImage(bytes, 1);  // upright, as the cull saw it
    switch (decoded.status) {
    case DecodeStatus::Ok:
        break;
    case DecodeStatus::Damaged:
        return fail(input + " is damaged (" + decoded.problem + "); nothing written");
    case DecodeStatus::Refused:
        return fail("refused " + input + ": " + decoded.problem);
    case DecodeStatus::Undecodable:
        return fail("cannot decode " + input + " as an image");
    }

    EnhanceResult result;
    try {
        result = EnhancePipeline::run(decoded.image, faces, confidences, EnhanceSettings::forLevel(plus));
    } catch (const std::exception& e) {
        return fail(std::string("the colour pipeline failed: ") + e.what());
    }
    if (!result.ok) return fail("the colour pipeline gave no image");
    // Written beside the target and renamed over it: the input may be the
    // output, and a failed write must leave it whole.
    if (!writeJpeg(output, result.image, enhancedJpegOptions())) return fail("cannot write " + output);
    std::printf("Wrote %s (%s, %d faces)\n", output.c_str(), plus ? "Enhance Plus" : "Enhance", int(faces.size()));
    return 0;
}
