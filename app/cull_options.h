// Command line of keepframe-cull.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "xmp_options.h"

namespace keepframe {

struct CullOptions {
    std::string input;
    std::string output;        // default: INPUT + "_culled"
    int select = -1;           // requested primary count; automatic when not given
    int threads = 0;           // 0: automatic
    bool writeOutputs = false;
    std::string modelsFolder;  // empty: the default models folder
    bool quiet = false;
    bool noSave = false;       // do not store the cull as a project
    bool fullGraphOptimization = false;  // --graph-optimization all
    bool keepRawPreviews = false;        // --keep-raw-previews
    XmpRequest xmp;            // XMP sidecars for the editor after the cull
};

extern const char* const kCullUsage;

// Parses argv[1..]; on failure returns nothing and sets `error` to one line.
std::optional<CullOptions> parseCullOptions(const std::vector<std::string>& args, std::string& error);

// Checks that the input is a readable folder; sets `error` otherwise.
bool checkInputFolder(const std::string& input, std::string& error);

}  // namespace keepframe
