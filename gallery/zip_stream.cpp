#include "zip_stream.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cctype>

namespace keepframe::gallery {

namespace {

constexpr uint16_t kFlags = 0x0008 | 0x0800;  // sizes in a data descriptor; UTF-8 names
constexpr uint16_t kVersion = 20, kVersion64 = 45;
constexpr uint32_t kAll32 = 0xFFFFFFFFu;

const std::array<uint32_t, 256>& crcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

void put16(std::string& out, uint64_t v) {
    for (int i = 0; i < 2; ++i) out += char((v >> (8 * i)) & 0xFF);
}
void put32(std::string& out, uint64_t v) {
    for (int i = 0; i < 4; ++i) out += char((v >> (8 * i)) & 0xFF);
}
void put64(std::string& out, uint64_t v) {
    for (int i = 0; i < 8; ++i) out += char((v >> (8 * i)) & 0xFF);
}

// MS-DOS date and time of `seconds` (UTC), clamped to the years the format holds.
std::pair<uint16_t, uint16_t> dosDateTime(int64_t seconds) {
    using namespace std::chrono;
    const sys_seconds at{std::chrono::seconds(std::clamp<int64_t>(seconds, 315532800, 4354819199))};
    const sys_days day = floor<days>(at);
    const year_month_day ymd{day};
    const hh_mm_ss time{at - day};
    const auto date = uint16_t(((int(ymd.year()) - 1980) << 9) | (unsigned(ymd.month()) << 5) | unsigned(ymd.day()));
    const auto clock = uint16_t((time.hours().count() << 11) | (time.minutes().count() << 5) |
                                (time.seconds().count() / 2));
    return {date, clock};
}

std::string lower(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

uint32_t crc32Update(uint32_t crc, const void* data, size_t size) {
    const auto& table = crcTable();
    const auto* bytes = static_cast<const uint8_t*>(data);
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

ZipStream::ZipStream(std::function<bool(const char*, size_t)> out, uint64_t zip64From)
    : out_(std::move(out)), zip64From_(zip64From) {}

std::string ZipStream::entryName(const std::string& name, std::vector<std::string>& taken) {
    std::string safe;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        safe += (u < 32 || u == 127 || c == '/' || c == '\\' || c == ':') ? '_' : c;
    }
    if (safe.find_first_not_of('.') == std::string::npos) safe = "_" + safe;
    const size_t dot = safe.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? safe : safe.substr(0, dot);
    const std::string extension = stem.size() == safe.size() ? "" : safe.substr(stem.size());
    std::string candidate = safe;
    for (int n = 2; std::find(taken.begin(), taken.end(), lower(candidate)) != taken.end(); ++n)
        candidate = stem + " (" + std::to_string(n) + ")" + extension;
    taken.push_back(lower(candidate));
    return candidate;
}

bool ZipStream::emit(const std::string& bytes) {
    written_ += bytes.size();
    return out_(bytes.data(), bytes.size());
}

bool ZipStream::begin(const std::string& name, uint64_t size, int64_t modified) {
    if (open_) return false;
    Entry e;
    e.name = entryName(name, taken_);
    e.size = size;
    e.offset = written_;
    e.zip64 = size >= zip64From_ || written_ >= zip64From_;
    std::tie(e.date, e.time) = dosDateTime(modified);
    std::string header;
    put32(header, 0x04034b50);
    put16(header, e.zip64 ? kVersion64 : kVersion);
    put16(header, kFlags);
    put16(header, 0);  // stored
    put16(header, e.time);
    put16(header, e.date);
    put32(header, 0);  // the CRC-32 follows the data
    put32(header, e.zip64 ? kAll32 : 0);
    put32(header, e.zip64 ? kAll32 : 0);
    put16(header, e.name.size());
    put16(header, e.zip64 ? 20 : 0);
    header += e.name;
    if (e.zip64) {
        // Announces the 8-byte sizes of the data descriptor.
        put16(header, 0x0001);
        put16(header, 16);
        put64(header, 0);
        put64(header, 0);
    }
    entries_.push_back(std::move(e));
    open_ = true;
    entryBytes_ = 0;
    return emit(header);
}

bool ZipStream::write(const char* data, size_t size) {
    if (!open_) return false;
    Entry& e = entries_.back();
    e.crc = crc32Update(e.crc, data, size);
    entryBytes_ += size;
    written_ += size;
    return entryBytes_ <= e.size && out_(data, size);
}

bool ZipStream::end() {
    if (!open_) return false;
    open_ = false;
    const Entry& e = entries_.back();
    if (entryBytes_ != e.size) return false;
    std::string descriptor;
    put32(descriptor, 0x08074b50);
    put32(descriptor, e.crc);
    if (e.zip64) {
        put64(descriptor, e.size);
        put64(descriptor, e.size);
    } else {
        put32(descriptor, e.size);
        put32(descriptor, e.size);
    }
    return emit(descriptor);
}

bool ZipStream::finish() {
    if (open_) return false;
    const uint64_t directoryAt = written_;
    std::string directory;
    bool anyZip64 = false;
    for (const Entry& e : entries_) {
        anyZip64 = anyZip64 || e.zip64;
        put32(directory, 0x02014b50);
        put16(directory, kVersion64);  // made by
        put16(directory, e.zip64 ? kVersion64 : kVersion);
        put16(directory, kFlags);
        put16(directory, 0);
        put16(directory, e.time);
        put16(directory, e.date);
        put32(directory, e.crc);
        put32(directory, e.zip64 ? kAll32 : e.size);
        put32(directory, e.zip64 ? kAll32 : e.size);
        put16(directory, e.name.size());
        put16(directory, e.zip64 ? 28 : 0);
        put16(directory, 0);  // comment
        put16(directory, 0);  // disk
        put16(directory, 0);  // internal attributes
        put32(directory, 0);  // external attributes
        put32(directory, e.zip64 ? kAll32 : e.offset);
        directory += e.name;
        if (e.zip64) {
            put16(directory, 0x0001);
            put16(directory, 24);
            put64(directory, e.size);
            put64(directory, e.size);
            put64(directory, e.offset);
        }
    }
    if (!emit(directory)) return false;
    const uint64_t directoryBytes = directory.size(), count = entries_.size();
    const bool zip64 = anyZip64 || count >= 0xFFFF || directoryAt >= zip64From_ || directoryBytes >= zip64From_;
    std::string end;
    if (zip64) {
        const uint64_t recordAt = written_;
        put32(end, 0x06064b50);
        put64(end, 44);
        put16(end, kVersion64);
        put16(end, kVersion64);
        put32(end, 0);
        put32(end, 0);
        put64(end, count);
        put64(end, count);
        put64(end, directoryBytes);
        put64(end, directoryAt);
        put32(end, 0x07064b50);
        put32(end, 0);
        put64(end, recordAt);
        put32(end, 1);
    }
    put32(end, 0x06054b50);
    put16(end, 0);
    put16(end, 0);
    put16(end, zip64 ? 0xFFFF : count);
    put16(end, zip64 ? 0xFFFF : count);
    put32(end, zip64 ? kAll32 : directoryBytes);
    put32(end, zip64 ? kAll32 : directoryAt);
    put16(end, 0);
    return emit(end);
}

}  // namespace keepframe::gallery
