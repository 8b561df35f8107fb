// Where the program finds its four face models, and what they are.
#pragma once

#include <string>
#include <vector>

namespace keepframe {

// The model files inside a models folder, in the order detector, recogniser,
// expression, eye state.
extern const char* const kModelFiles[4];

// The application folder + "/models"; when that folder does not exist, the
// development folder named by $KEEPFRAME_MODELS if it exists; otherwise the
// first choice (model loading then reports the missing file).
std::string resolveModelsFolder(const std::string& applicationFolder);

// The folder of the running executable.
std::string applicationFolder(const char* argv0);

// Human-readable description of a models folder: each file with its size (or
// "missing") and the model kit's MANIFEST.json summary when present: each
// model's source, licence, origin and the folder its source was taken from.
std::vector<std::string> describeModelsFolder(const std::string& folder);

}  // namespace keepframe
