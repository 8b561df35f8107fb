// The engine's console log: printf-style lines handed to a sink. The run's
// configuration carries the log (EngineConfig::log); without a sink of its
// own it prints exactly as the command line always has: ordinary lines to
// standard output, warnings (which start with "  WARNING: ") to standard
// error. Tests and the gallery service give it their own sink.
#pragma once

#include <cstdarg>
#include <functional>
#include <string>

#if defined(__GNUC__) || defined(__clang__)
#define KEEPFRAME_PRINTF(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define KEEPFRAME_PRINTF(formatIndex, firstArgument)
#endif

namespace keepframe {

enum class LogLevel { Info, Warning };

// Receives each piece of the log as it is written: text with its own line
// breaks, as the console shows it. It may be called from the analysis threads
// at once, so it must be safe to call from any thread.
using LogSink = std::function<void(LogLevel level, const std::string& text)>;

// The default sink: Info text to standard output, Warning text to standard
// error, each flushed at once so that the two keep their order on a terminal.
void printToConsole(LogLevel level, const std::string& text);

class EngineLog {
public:
    EngineLog() = default;
    explicit EngineLog(LogSink sink) : sink_(std::move(sink)) {}

    void info(const char* format, ...) const KEEPFRAME_PRINTF(2, 3);
    void warning(const char* format, ...) const KEEPFRAME_PRINTF(2, 3);

private:
    void send(LogLevel level, const char* format, va_list args) const;

    LogSink sink_;
};

}  // namespace keepframe
