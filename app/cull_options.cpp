#include "cull_options.h"

#include "paths.h"

#include <charconv>
#include <filesystem>

namespace fs = std::filesystem;

namespace keepframe {

const char* const kCullUsage =
    "usage: keepframe-cull INPUT [--output DIR] [--select N] [--threads N] [--write-outputs] [--models DIR] "
    "[--quiet] [--no-save]\n                      [--graph-optimization extended|all] [--keep-raw-previews]\n"
    "                      [--xmp [--xmp-style replace|append] [--xmp-rating 1-5] "
    "[--xmp-label NAME|none]]\n       keepframe-cull --list\n       keepframe-cull --export PROJECT_ID DEST "
    "[--by-category] [--with-unselected] [--embed-xmp]\n       keepframe-cull --xmp PROJECT_ID "
    "[--xmp-style replace|append] [--xmp-rating 1-5] [--xmp-label NAME|none]\n       keepframe-cull --xmp-remove "
    "PROJECT_ID [--xmp-style replace|append]\n       keepframe-cull --save-project-file PROJECT_ID FILE\n"
    "       keepframe-cull --deliver PROJECT_ID --title T --password P [--face-search] [--no-download] "
    "[--level N]\n                      [--service URL --token TOKEN]\n"
    "       keepframe-cull --models-info [DIR]\n       keepframe-cull --inspect FILE... [--models DIR]\n"
    "  --graph-optimization all   ONNX Runtime's full graph optimisation: faster face models whose figures differ "
    "from\n                             the default (extended) level in the last float digits\n"
    "  --keep-raw-previews        RAW input: keep each camera preview as it is (with the RAW's EXIF and 300 "
    "dpi)\n                             instead of re-encoding it at full quality";

namespace {
bool parseCount(const std::string& text, int& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}
}  // namespace

std::optional<CullOptions> parseCullOptions(const std::vector<std::string>& args, std::string& error) {
    CullOptions o;
    bool haveOutput = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                error = a + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string v;
        const int xmp = parseXmpOption(args, i, o.xmp, error);
        if (xmp < 0) return std::nullopt;
        if (xmp > 0) continue;
        if (a == "--output") {
            if (!value(o.output)) return std::nullopt;
            haveOutput = true;
        } else if (a == "--select" || a == "--threads") {
            if (!value(v)) return std::nullopt;
            int n = 0;
            if (!parseCount(v, n) || n < 0) {
                error = a + " takes a whole number of 0 or more, not \"" + v + "\"";
                return std::nullopt;
            }
            (a == "--select" ? o.select : o.threads) = n;
        } else if (a == "--models") {
            if (!value(o.modelsFolder)) return std::nullopt;
        } else if (a == "--graph-optimization") {
            if (!value(v)) return std::nullopt;
            if (v != "extended" && v != "all") {
                error = "--graph-optimization takes extended or all, not \"" + v + "\"";
                return std::nullopt;
            }
            o.fullGraphOptimization = v == "all";
        } else if (a == "--keep-raw-previews") {
            o.keepRawPreviews = true;
        } else if (a == "--write-outputs") {
            o.writeOutputs = true;
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (a == "--no-save") {
            o.noSave = true;
        } else if (a.size() > 1 && a[0] == '-') {
            error = "unknown option " + a;
            return std::nullopt;
        } else if (o.input.empty()) {
            o.input = a;
        } else {
            error = "more than one input folder given (\"" + o.input + "\" and \"" + a + "\")";
            return std::nullopt;
        }
    }
    if (o.input.empty()) {
        error = "no input folder given";
        return std::nullopt;
    }
    if (o.xmp.tuned && !o.xmp.enabled) {
        error = "--xmp-style, --xmp-rating and --xmp-label go with --xmp";
        return std::nullopt;
    }
    if (o.xmp.enabled && o.noSave) {
        error = "--xmp writes the sidecars of the saved project; it cannot go with --no-save";
        return std::nullopt;
    }
    if (!haveOutput) {
        std::string base = o.input;
        while (base.size() > 1 && (base.back() == '/' || base.back() == '\\')) base.pop_back();
        o.output = base + "_culled";
    }
    if (o.select == 0) o.select = -1;  // 0 means automatic, as in the engine
    return o;
}

bool checkInputFolder(const std::string& input, std::string& error) {
    const fs::path p = utf8ToPath(input);
    std::error_code ec;
    const auto status = fs::status(p, ec);
    if (ec || !fs::exists(status)) {
        error = "input folder not found: " + input;
        return false;
    }
    if (!fs::is_directory(status)) {
        error = "input is not a folder: " + input;
        return false;
    }
    fs::directory_iterator it(p, ec);
    if (ec) {
        error = "cannot read input folder " + input + ": " + ec.message();
        return false;
    }
    return true;
}

}  // namespace keepframe
