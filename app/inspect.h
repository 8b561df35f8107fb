// keepframe-cull --inspect FILE...: what the engine sees in each photograph,
// one JSON object a line, to answer "why was this frame rejected?".
#pragma once

#include <string>
#include <vector>

#include "records.h"

namespace keepframe {

struct ModelSet;

// The lines of one file, analysed exactly as a cull analyses it: a "frame"
// line with the frame's own measures, then one "face" line per detection,
// usable or rejected; or a single "error" line when the file cannot be
// analysed. Coordinates are upright full-resolution pixels (analysis pixels x 4).
struct InspectedFile {
    bool analysed = false;
    std::vector<std::string> lines;
};
InspectedFile inspectFile(const std::string& file, ModelSet* models, const EngineConfig& config);

// --inspect FILE... [--models DIR]: prints the lines of every file on standard
// output. Returns 0 when every file was analysed, 1 when one could not be (its
// line says why) or the models cannot be loaded, 2 for a bad command line.
int runInspect(const std::vector<std::string>& args, const std::string& defaultModelsFolder);

}  // namespace keepframe
