#include "xmp_options.h"

namespace keepframe {

int parseXmpOption(const std::vector<std::string>& args, size_t& i, XmpRequest& request, std::string& error) {
    const std::string& a = args[i];
    if (a == "--xmp") {
        request.enabled = true;
        return 1;
    }
    if (a != "--xmp-style" && a != "--xmp-rating" && a != "--xmp-label") return 0;
    if (i + 1 >= args.size() || args[i + 1].empty()) {
        error = a + " needs a value";
        return -1;
    }
    const std::string v = args[++i];
    request.tuned = true;
    if (a == "--xmp-style") {
        if (v != "replace" && v != "append") {
            error = "--xmp-style is replace (IMG_0001.xmp) or append (IMG_0001.CR2.xmp), not \"" + v + "\"";
            return -1;
        }
        request.append = v == "append";
    } else if (a == "--xmp-rating") {
        if (v.size() != 1 || v[0] < '1' || v[0] > '5') {
            error = "--xmp-rating takes a rating from 1 to 5, not \"" + v + "\"";
            return -1;
        }
        request.rating = v[0] - '0';
    } else {
        request.label = v == "none" ? std::string() : v;
    }
    return 1;
}

}  // namespace keepframe
