// A sink for the engine's log that keeps what a run wrote, for a test to read.
#pragma once

#include "engine_log.h"

#include <mutex>
#include <string>

namespace keepframe::testing {

class CapturedLog {
public:
    // A log that writes here; the capture must outlive every run given it.
    EngineLog log() {
        return EngineLog([this](LogLevel level, const std::string& text) {
            std::lock_guard<std::mutex> lock(mutex_);
            (level == LogLevel::Warning ? warnings_ : info_) += text;
        });
    }
    std::string info() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return info_;
    }
    std::string warnings() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return warnings_;
    }

private:
    mutable std::mutex mutex_;
    std::string info_, warnings_;
};

}  // namespace keepframe::testing
