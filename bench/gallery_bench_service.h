// The keepframe-gallery service of the "find my photos" bench programs.
#pragma once

#include "config.h"
#include "crypto.h"
#include "log.h"
#include "server.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>

namespace keepframe::bench {

// The whole file, or empty when it cannot be read.
inline std::string fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// keepframe-gallery on a loopback port of its own, serving on a thread of its
// own from a fresh data folder below the temporary one; only its warnings and
// errors reach stderr. The end of the scope stops it and removes the folder.
class LoopbackGallery {
public:
    // `config` names the models and the thresholds; the data folder (named
    // `folderPrefix` and a random part) and the port are chosen here.
    LoopbackGallery(gallery::GalleryConfig config, const std::string& folderPrefix)
        : data_(std::filesystem::temp_directory_path() / (folderPrefix + gallery::randomHex(4))),
          log_([](gallery::LogLevel level, std::string_view line) {
              if (level != gallery::LogLevel::Info) std::fprintf(stderr, "%s\n", logLine(level, line).c_str());
          }) {
        config.dataDir = data_.string();
        config.port = 0;
        server_.emplace(config, log_);
        if (server_->bind()) serving_ = std::thread([this] { server_->serve(); });
    }
    ~LoopbackGallery() {
        if (serving_.joinable()) {
            server_->stop();
            serving_.join();
        }
        server_.reset();
        std::error_code error;
        std::filesystem::remove_all(data_, error);
    }
    LoopbackGallery(const LoopbackGallery&) = delete;
    LoopbackGallery& operator=(const LoopbackGallery&) = delete;

    // False when the port could not be bound (the reason is on stderr).
    bool serving() const { return serving_.joinable(); }
    gallery::GalleryServer& server() { return *server_; }

private:
    std::filesystem::path data_;
    gallery::Log log_;
    std::optional<gallery::GalleryServer> server_;
    std::thread serving_;
};

}  // namespace keepframe::bench
