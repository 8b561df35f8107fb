// Numbers written for programs to read (JSON lines, reports, EXIF text): "."
// is the decimal point whatever locale the process runs under. printf's "%f"
// follows the C locale, which a Qt program sets from the user's environment,
// and would write "0,4080" under a German or French one.
#pragma once

#include <string>

namespace keepframe {

// `value` with exactly `decimals` places, as "%.*f" gives it in the C locale.
std::string fixedText(double value, int decimals);

// fixedText right-aligned in a field of `width` characters, as "%*.*f".
std::string paddedFixedText(double value, int width, int decimals);

}  // namespace keepframe
