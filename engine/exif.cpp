#include "exif.h"

#include "jpeg_segments.h"
#include "paths.h"

#include <optional>
#include <vector>

namespace keepframe {
namespace {

constexpr uint16_t kTagOrientation = 0x0112;
constexpr uint16_t kTagDateTime = 0x0132;
constexpr uint16_t kTagExifIfd = 0x8769;
constexpr uint16_t kTagDateTimeOriginal = 0x9003;
constexpr uint16_t kTagSubSecTimeOriginal = 0x9291;

constexpr uint16_t kTypeAscii = 2;
constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;

// A TIFF structure inside the APP1 payload; every read is bounds-checked.
class TiffReader {
public:
    TiffReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool readHeader(uint32_t& ifd0) {
        if (size_ < 8) return false;
        if (data_[0] == 'I' && data_[1] == 'I') little_ = true;
        else if (data_[0] == 'M' && data_[1] == 'M') little_ = false;
        else return false;
        uint16_t magic = 0;
        if (!u16(2, magic) || magic != 42) return false;
        return u32(4, ifd0);
    }

    struct Entry {
        uint16_t type = 0;
        uint32_t count = 0;
        size_t valueAt = 0;  // offset of the 4-byte value field
    };

    // Finds a tag in the IFD at `ifd`.
    std::optional<Entry> find(uint32_t ifd, uint16_t tag) const {
        uint16_t n = 0;
        if (!u16(ifd, n)) return std::nullopt;
        for (uint32_t i = 0; i < n; ++i) {
            const size_t at = size_t(ifd) + 2 + size_t(i) * 12;
            uint16_t t = 0;
            Entry e;
            if (!u16(at, t) || !u16(at + 2, e.type) || !u32(at + 4, e.count)) return std::nullopt;
            if (!fits(at + 8, 4)) return std::nullopt;
            if (t == tag) {
                e.valueAt = at + 8;
                return e;
            }
        }
        return std::nullopt;
    }

    std::string ascii(const Entry& e) const {
        if (e.type != kTypeAscii || e.count == 0) return {};
        size_t start = e.valueAt;
        if (e.count > 4) {
            uint32_t off = 0;
            if (!u32(e.valueAt, off)) return {};
            start = off;
        }
        if (!fits(start, e.count)) return {};
        std::string s(reinterpret_cast<const char*>(data_ + start), e.count);
        const size_t nul = s.find('\0');
        if (nul != std::string::npos) s.resize(nul);
        return s;  // as the camera wrote it, blanks included
    }

    std::optional<uint32_t> number(const Entry& e) const {
        if (e.count < 1) return std::nullopt;
        if (e.type == kTypeShort) {
            uint16_t v = 0;
            if (!u16(e.valueAt, v)) return std::nullopt;
            return v;
        }
        if (e.type == kTypeLong) {
            uint32_t v = 0;
            if (!u32(e.valueAt, v)) return std::nullopt;
            return v;
        }
        return std::nullopt;
    }

private:
    bool fits(size_t at, size_t len) const { return at <= size_ && len <= size_ - at; }

    bool u16(size_t at, uint16_t& v) const {
        if (!fits(at, 2)) return false;
        const uint8_t* p = data_ + at;
        v = little_ ? uint16_t(p[0] | (p[1] << 8)) : uint16_t((p[0] << 8) | p[1]);
        return true;
    }

    bool u32(size_t at, uint32_t& v) const {
        if (!fits(at, 4)) return false;
        const uint8_t* p = data_ + at;
        v = little_ ? (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24)
                    : (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]));
        return true;
    }

    const uint8_t* data_;
    size_t size_;
    bool little_ = true;
};

// Locates the payload of the first EXIF APP1 segment before the image data.
bool findExifPayload(const uint8_t* data, size_t size, const uint8_t*& payload, size_t& payloadSize) {
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
    // The segment walk ends at the last end-of-image marker, or at the end of
    // the data when a truncated file has none.
    size_t limit = size;
    for (size_t i = size - 1; i >= 3; --i) {
        if (data[i - 1] == 0xFF && data[i] == 0xD9) {
            limit = i + 1;
            break;
        }
    }
    bool found = false;
    walkJpegSegments(data, limit, [&](uint8_t marker, size_t pos, size_t length) {
        if (length > limit - pos - 2) return true;  // runs past the data: no EXIF
        if (marker != 0xE1) return false;
        const uint8_t* seg = data + pos + 4;
        const size_t segSize = length - 2;
        static const uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
        bool isExif = segSize >= 6;
        for (int k = 0; isExif && k < 6; ++k) isExif = seg[k] == kExifHeader[k];
        if (!isExif) return false;
        if (length < 16) return true;
        payload = seg + 6;
        payloadSize = segSize - 6;
        found = true;
        return true;
    });
    return found;
}

ExifInfo readExifFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!readFileBytes(path, bytes)) return {};
    return parseJpegExif(bytes.data(), bytes.size());
}

}  // namespace

ExifInfo parseJpegExif(const uint8_t* data, size_t size) {
    ExifInfo info;
    const uint8_t* payload = nullptr;
    size_t payloadSize = 0;
    if (data == nullptr || !findExifPayload(data, size, payload, payloadSize)) return info;

    TiffReader tiff(payload, payloadSize);
    uint32_t ifd0 = 0;
    if (!tiff.readHeader(ifd0)) return info;

    if (auto e = tiff.find(ifd0, kTagOrientation)) {
        if (auto v = tiff.number(*e); v && *v >= 1 && *v <= 8) info.orientation = int32_t(*v);
    }

    std::string dateTime;
    if (auto e = tiff.find(ifd0, kTagDateTime)) dateTime = tiff.ascii(*e);

    std::string original, subSec;
    if (auto e = tiff.find(ifd0, kTagExifIfd)) {
        if (auto exifIfd = tiff.number(*e)) {
            if (auto o = tiff.find(*exifIfd, kTagDateTimeOriginal)) original = tiff.ascii(*o);
            if (auto s = tiff.find(*exifIfd, kTagSubSecTimeOriginal)) subSec = tiff.ascii(*s);
        }
    }

    if (isKnownCaptureTime(original)) info.captureTime = original;
    else if (isKnownCaptureTime(dateTime)) info.captureTime = dateTime;
    const bool subSecKnown = subSec.find_first_of("0123456789") != std::string::npos;
    if (!info.captureTime.empty() && subSecKnown) info.captureTime += "." + subSec;
    return info;
}

bool isKnownCaptureTime(std::string_view time) {
    return time.substr(0, 10).find_first_of("123456789") != std::string_view::npos;
}

std::string readCaptureTime(const std::string& path) { return readExifFile(path).captureTime; }

int32_t readOrientation(const std::string& path) { return readExifFile(path).orientation; }

}  // namespace keepframe
