// keepframe-cull's XMP hand-over: sidecars for a stored project, after a cull
// or on their own, and taking them back.
#pragma once

#include "xmp_options.h"

#include <string>
#include <vector>

namespace keepframe {

// True for --xmp followed by a project id, and for --xmp-remove (--xmp
// followed by anything else belongs to a cull).
bool isXmpCommand(const std::vector<std::string>& args);

// --xmp PROJECT_ID [options] and --xmp-remove PROJECT_ID [--xmp-style S]; the exit code.
int runXmpCommand(const std::vector<std::string>& args);

// Writes the sidecars of a freshly saved project and prints the report; the exit code.
int writeXmpAfterCull(int projectId, const XmpRequest& request);

}  // namespace keepframe
