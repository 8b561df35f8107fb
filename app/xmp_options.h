// The XMP hand-over options of keepframe-cull.
#pragma once

#include <string>
#include <vector>

namespace keepframe {

struct XmpRequest {
    bool enabled = false;         // --xmp
    bool append = false;          // --xmp-style append
    int rating = 3;               // --xmp-rating, for kept images
    std::string label = "Green";  // --xmp-label; empty for none
    bool tuned = false;           // a style, rating or label was given
};

// Reads the option at args[i] (and its value) when it is --xmp, --xmp-style,
// --xmp-rating or --xmp-label: 1 when it was one of them, 0 when args[i] is
// something else, -1 with `error` set when its value is wrong.
int parseXmpOption(const std::vector<std::string>& args, size_t& i, XmpRequest& request, std::string& error);

}  // namespace keepframe
