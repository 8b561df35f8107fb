// Where the program finds its four face models, and what they are.
#pragma once

#include <string>
#include <vector>

#include "records.h"

namespace keepframe {

// The model files inside a models folder, in the order detector, recogniser,
// expression, eye state.
extern const char* const kModelFiles[4];

// The line naming the first required model file (detector, recogniser,
// expression) missing from `folder`, or "" when all three are there. A missing
// eye model only disables eye scoring.
std::string missingModelMessage(const std::string& folder);

// Engine settings whose four model paths are the files of `folder`.
EngineConfig modelConfig(const std::string& folder);

// The folder `name` (models, fonts) of the program's own data: beside the
// program (the build tree, and an installed tree on Windows) when it is
// there, else in the data folder of an installed tree on Linux
// ("../share/keepframe" from the programs' "bin"), when that is; otherwise
// the one beside the program.
std::string programDataFolder(const std::string& applicationFolder, const std::string& name);

// The program's models folder (programDataFolder); when it does not exist,
// the development folder named by $KEEPFRAME_MODELS if that exists; otherwise
// the first choice (model loading then reports the missing file).
std::string resolveModelsFolder(const std::string& applicationFolder);

// Human-readable description of a models folder: each file with its size (or
// "missing") and the model kit's MANIFEST.json summary when present: each
// model's source, licence, origin and the folder its source was taken from.
std::vector<std::string> describeModelsFolder(const std::string& folder);

}  // namespace keepframe
