#include "engine_log.h"

#include <cstdio>

namespace keepframe {

void printToConsole(LogLevel level, const std::string& text) {
    std::FILE* stream = level == LogLevel::Warning ? stderr : stdout;
    std::fputs(text.c_str(), stream);
    std::fflush(stream);
}

void EngineLog::info(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    send(LogLevel::Info, format, args);
    va_end(args);
}

void EngineLog::warning(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    send(LogLevel::Warning, format, args);
    va_end(args);
}

void EngineLog::send(LogLevel level, const char* format, va_list args) const {
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length < 0) return;
    std::string text(size_t(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(size_t(length));
    if (sink_) sink_(level, text);
    else printToConsole(level, text);
}

}  // namespace keepframe
