#include "number_text.h"

#include <charconv>

namespace keepframe {

std::string fixedText(double value, int decimals) {
    char text[400];  // the longest double written with a few decimals fits
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) return "0";
    return std::string(text, result.ptr);
}

std::string paddedFixedText(double value, int width, int decimals) {
    std::string text = fixedText(value, decimals);
    if (int(text.size()) < width) text.insert(0, size_t(width) - text.size(), ' ');
    return text;
}

}  // namespace keepframe
