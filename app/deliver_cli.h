// keepframe-cull --deliver: the Deliver page's delivery job on a stored
// project's kept frames, from the command line.
#pragma once

#include <string>
#include <vector>

namespace keepframe {

// `args` starts with "--deliver". Prints the progress and the gallery link;
// 0 when every frame was delivered, 1 with the reason on standard error when
// the delivery failed or left frames out, 2 for a bad request.
int runDeliverCommand(const std::vector<std::string>& args, const std::string& modelsFolder);

}  // namespace keepframe
