// A fresh temporary folder for one test, removed afterwards.
#pragma once

#include <filesystem>
#include <random>
#include <string>

namespace keepframe::testing {

class TempDir {
public:
    TempDir() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() /
                ("keepframe-test-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    std::string file(const std::string& relative) const {
        const auto p = path_ / std::filesystem::path(std::u8string(relative.begin(), relative.end()));
        std::filesystem::create_directories(p.parent_path());
        const auto u8 = p.u8string();
        return std::string(u8.begin(), u8.end());
    }

private:
    std::filesystem::path path_;
};

}  // namespace keepframe::testing
