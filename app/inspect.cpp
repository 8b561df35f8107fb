#include "inspect.h"

#include "analysis.h"
#include "faces.h"
#include "models_folder.h"
#include "number_text.h"
#include "paths.h"
#include "scan.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>

namespace keepframe {
namespace {

// A JSON string of the text; bytes that are not UTF-8 (a file name given in
// another encoding) are shown as "\xNN", so every line stays valid JSON.
std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char ch : printableName(text)) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

// Numbers rounded to `decimals` places, without trailing zeros; never NaN or
// infinite in the output (JSON has neither).
std::string jsonNumber(double v, int decimals = 4) {
    if (!std::isfinite(v)) return "null";
    std::string s = fixedText(v, decimals);
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    return s == "-0" ? "0" : s;
}

// One JSON object, keys in the order they are added.
class JsonLine {
public:
    explicit JsonLine(const std::string& file, const char* kind) {
        add("file", jsonString(file));
        add("kind", jsonString(kind));
    }
    JsonLine& add(const char* key, const std::string& rawValue) {
        text_ += (text_.size() > 1 ? "," : "") + jsonString(key) + ":" + rawValue;
        return *this;
    }
    std::string str() const { return text_ + "}"; }

private:
    std::string text_ = "{";
};

std::string errorLine(const std::string& file, const std::string& error) {
    return JsonLine(file, "error").add("error", jsonString(error)).str();
}

std::string frameLine(const std::string& file, const ImageRecord& r) {
    JsonLine line(file, "frame");
    line.add("width", std::to_string(r.fullW)).add("height", std::to_string(r.fullH));
    line.add("orientation", std::to_string(r.orientation)).add("category", jsonString(categoryText(r.category)));
    line.add("sharpness", jsonNumber(r.sharpness)).add("exposure", jsonNumber(r.exposure));
    line.add("contrast", jsonNumber(r.contrast)).add("eyeSharpness", jsonNumber(r.eyeSharpness));
    line.add("expression", jsonNumber(r.expression));
    line.add("faces", std::to_string(r.faceCount)).add("detections", std::to_string(r.detectionCount));
    line.add("damaged", r.damaged ? "true" : "false");
    if (r.damaged) line.add("problem", jsonString(r.problem));
    return line.str();
}

// One detection in full-resolution pixels of the frame `r`.
std::string faceLine(const std::string& file, size_t index, const ImageRecord& r, const DetectionDetail& detail) {
    const DetectionRecord& d = r.detections[index];
    const int s = kAnalysisScale;
    std::string landmarks = "[";
    for (size_t j = 0; j < 5; ++j)
        landmarks += (j ? ",[" : "[") + jsonNumber(detail.landmarks[2 * j] * s, 1) + "," +
                     jsonNumber(detail.landmarks[2 * j + 1] * s, 1) + "]";
    landmarks += "]";
    const FaceBox box = fullResolutionBox(d.x1, d.y1, d.x2, d.y2, r.fullW, r.fullH);
    JsonLine line(file, "face");
    line.add("index", std::to_string(index));
    line.add("box", "[" + std::to_string(box[0]) + "," + std::to_string(box[1]) + "," + std::to_string(box[2]) + "," +
                        std::to_string(box[3]) + "]");
    line.add("landmarks", landmarks).add("confidence", jsonNumber(d.confidence));
    line.add("area", jsonNumber(detail.area, 6));
    line.add("valid", d.ok ? "true" : "false").add("reason", d.ok ? "null" : jsonString(d.reason));
    line.add("eyeOpen", jsonNumber(detail.eyesOpen)).add("expression", jsonNumber(detail.expression));
    line.add("sharpness", jsonNumber(detail.sharpness, 2));
    return line.str();
}

}  // namespace

InspectedFile inspectFile(const std::string& file, ModelSet* models, const EngineConfig& config) {
    std::error_code ec;
    const auto status = std::filesystem::status(utf8ToPath(file), ec);
    if (ec || !std::filesystem::exists(status)) return {false, {errorLine(file, "not found")}};
    if (!isRegularFile(file)) return {false, {errorLine(file, "not a file")}};

    std::vector<DetectionDetail> details;
    ImageRecord r;
    try {
        r = analyzeImage(file, file, models, config, &details);
    } catch (const std::exception& e) {
        return {false, {errorLine(file, std::string("analysis failed: ") + e.what())}};
    }
    if (!r.valid) return {false, {errorLine(file, r.problem.empty() ? "undecodable" : r.problem)}};

    InspectedFile out{true, {frameLine(file, r)}};
    for (size_t i = 0; i < r.detections.size() && i < details.size(); ++i)
        out.lines.push_back(faceLine(file, i, r, details[i]));
    return out;
}

int runInspect(const std::vector<std::string>& args, const std::string& defaultModelsFolder) {
    std::string models = defaultModelsFolder;
    std::vector<std::string> files;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--models") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                std::fprintf(stderr, "keepframe-cull: --models needs a value\n");
                return 2;
            }
            models = args[++i];
        } else if (args[i].size() > 2 && args[i].compare(0, 2, "--") == 0) {
            std::fprintf(stderr, "keepframe-cull: unknown --inspect option %s\n", args[i].c_str());
            return 2;
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "keepframe-cull: --inspect needs at least one image file\n");
        return 2;
    }
    const std::string missing = missingModelMessage(models);
    if (!missing.empty()) {
        std::fprintf(stderr, "keepframe-cull: %s\n", missing.c_str());
        return 1;
    }
    const EngineConfig config = modelConfig(models);
    std::unique_ptr<ModelSet> set;
    try {
        set = loadModelSet(config);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "keepframe-cull: cannot load the models in %s: %s\n", models.c_str(), e.what());
        return 1;
    }
    int exitCode = 0;
    for (const std::string& file : files) {
        const InspectedFile inspected = inspectFile(file, set.get(), config);
        for (const std::string& line : inspected.lines) std::printf("%s\n", line.c_str());
        std::fflush(stdout);
        if (!inspected.analysed) exitCode = 1;
    }
    return exitCode;
}

}  // namespace keepframe
