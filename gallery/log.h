// The gallery service's log: every line goes to one sink that the program
// chooses (standard error for keepframe-gallery, a list for the tests). The
// library never writes to the console itself.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace keepframe::gallery {

enum class LogLevel { Info, Warning, Error };

using LogSink = std::function<void(LogLevel, std::string_view line)>;

class Log {
public:
    Log() = default;
    explicit Log(LogSink sink) : sink_(std::move(sink)) {}

    void info(std::string_view line) const { write(LogLevel::Info, line); }
    void warning(std::string_view line) const { write(LogLevel::Warning, line); }
    void error(std::string_view line) const { write(LogLevel::Error, line); }

private:
    // Lines from several threads reach the sink one at a time.
    void write(LogLevel level, std::string_view line) const;

    LogSink sink_;
    mutable std::mutex mutex_;
};

// "2026-01-31T10:20:30Z WARNING text": the form of the standard error sink.
std::string logLine(LogLevel level, std::string_view line);

}  // namespace keepframe::gallery
