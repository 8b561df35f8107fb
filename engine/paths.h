// UTF-8 strings <-> std::filesystem paths. The engine keeps every path as a
// UTF-8 std::string; this is the one place where they meet the file system.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace keepframe {

std::filesystem::path utf8ToPath(const std::string& utf8);
std::string pathToUtf8(const std::filesystem::path& path);

// The file's path as enumerated below the input folder, UTF-8 with "/"
// separators: a linked file keeps its own place in the shoot, whatever it
// points at. The bare file name when no relative path can be formed. Only the
// platform's own separators become "/": where "\" is not one (Linux, macOS)
// it stays part of the name, so that "sub\kit.jpg" and "sub/kit.jpg" remain
// two photographs.
std::string relativeName(const std::filesystem::path& file, const std::filesystem::path& root);

// True for a relative name that stays inside the folder it is joined to on
// every platform a project may be opened on: not empty, no NUL, no leading "/"
// or "\", no drive ("C:"), and after resolving "." and ".." ("\" read as a
// separator too, as Windows reads it) neither climbing out of the folder nor
// naming the folder itself. On Windows a ":" anywhere (a drive or an alternate
// data stream) is refused as well.
bool nameStaysInside(std::string_view relativeName);

// Whether the path names a regular file (a link to one counts); folders,
// pipes and devices do not.
bool isRegularFile(const std::string& path);

// Reads a whole regular file; false (and an empty buffer) when it cannot be
// read or is not a regular file (a folder or a pipe is never opened).
bool readFileBytes(const std::string& path, std::vector<uint8_t>& bytes);

// One file after another read into memory kept from file to file and never
// zero-filled first: the way to read every photograph of a shoot.
class FileBuffer {
public:
    // As readFileBytes: false, and no bytes, when the file cannot be read.
    bool read(const std::string& path);
    std::span<const uint8_t> bytes() const { return {data_.get(), size_}; }

private:
    std::unique_ptr<uint8_t[]> data_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// Replaces the file at `path` with the bytes: they go to a hidden temporary
// file beside it (ending in ".tmp", so a scan never takes a leftover for a
// photograph) that is renamed over the target (replaceFile) only after a
// complete, checked write. A failed write or a full disk leaves the target as it was, even when
// it is the file being rewritten. A link at `path` is replaced, never written
// through; a folder (or a link to one) is never replaced. True when the target
// now holds the bytes.
bool writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Renames the complete file `from` over `to`. Windows refuses to replace a
// file that another program holds open (a virus scanner reading what was just
// written, a viewer showing it); such a refusal is tried again for a few
// seconds before it counts. False, with `error` set, when `to` still is what
// it was.
bool replaceFile(const std::string& from, const std::string& to, std::error_code& error);

// Whether a failed replacement may succeed once another program lets go of
// the file: a busy file, and on Windows a sharing or lock violation, a denied
// access (a file open without leave to delete it) or a mapped section.
bool heldByAnotherProgram(const std::error_code& error);

// replaceFile's retries: runs `attempt` until it succeeds, fails in a way
// heldByAnotherProgram does not excuse, or every wait in `waits` was spent
// before a further attempt. The last attempt's result.
std::error_code retryWhileHeld(const std::function<std::error_code()>& attempt,
                               std::span<const std::chrono::milliseconds> waits);

}  // namespace keepframe
