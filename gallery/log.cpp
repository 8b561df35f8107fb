#include "log.h"

#include "clock.h"

namespace keepframe::gallery {

void Log::write(LogLevel level, std::string_view line) const {
    if (!sink_) return;
    std::lock_guard lock(mutex_);
    sink_(level, line);
}

std::string logLine(LogLevel level, std::string_view line) {
    const char* word = level == LogLevel::Info ? "INFO" : level == LogLevel::Warning ? "WARNING" : "ERROR";
    std::string out = isoUtc(nowSeconds());
    out += ' ';
    out += word;
    out += ' ';
    out += line;
    return out;
}

}  // namespace keepframe::gallery
