#include "config.h"

namespace keepframe::gallery {

bool isLoopbackHost(const std::string& host) {
    return host == "localhost" || host == "::1" || host == "[::1]" || host.rfind("127.", 0) == 0;
}

std::string configProblem(const GalleryConfig& config) {
    if (config.dataDir.empty()) return "no data folder (--data DIR)";
    if (config.port < 0 || config.port > 65535) return "--port takes a number from 0 to 65535";
    if (!config.behindProxy && !isLoopbackHost(config.host))
        return "refusing to serve plain http on " + config.host +
               ": photographs and passwords would cross the network unencrypted. Serve on 127.0.0.1 behind a "
               "TLS reverse proxy and start with --behind-proxy --public-url https://…";
    if (config.behindProxy && config.publicUrl.rfind("https://", 0) != 0)
        return "--behind-proxy needs --public-url with the https address clients use";
    if (!config.publicUrl.empty() && config.publicUrl.rfind("https://", 0) != 0 &&
        config.publicUrl.rfind("http://", 0) != 0)
        return "--public-url must start with https:// (or http:// on this machine)";
    return {};
}

std::string publicOrigin(const GalleryConfig& config, int boundPort) {
    std::string origin = config.publicUrl;
    if (origin.empty()) {
        const bool v6 = config.host.find(':') != std::string::npos && config.host.front() != '[';
        origin = "http://" + (v6 ? "[" + config.host + "]" : config.host) + ":" + std::to_string(boundPort);
    }
    while (!origin.empty() && origin.back() == '/') origin.pop_back();
    return origin;
}

}  // namespace keepframe::gallery
