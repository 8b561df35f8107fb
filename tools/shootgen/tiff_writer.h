// Writes the structures of a TIFF file (the body of an EXIF block, a DNG) in
// either byte order: numbers, values and image file directories.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace keepframe::shootgen {

// Numbers in the file's byte order, the values of directory entries, and
// whole directories with their values that do not fit in an entry behind them.
class TiffWriter {
public:
    explicit TiffWriter(bool bigEndian) : big_(bigEndian) {}

    void u16(std::vector<uint8_t>& out, uint16_t v) const {
        if (big_) out.insert(out.end(), {uint8_t(v >> 8), uint8_t(v)});
        else out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)});
    }
    void u32(std::vector<uint8_t>& out, uint32_t v) const {
        if (big_) out.insert(out.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
        else out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    }
    void patch32(std::vector<uint8_t>& out, size_t at, uint32_t v) const {
        std::vector<uint8_t> tmp;
        u32(tmp, v);
        std::copy(tmp.begin(), tmp.end(), out.begin() + long(at));
    }

    struct Value {
        uint16_t type;
        uint32_t count;
        std::vector<uint8_t> bytes;  // already in the file's byte order
    };

    Value ascii(const std::string& s) const {
        Value v{2, uint32_t(s.size() + 1), std::vector<uint8_t>(s.begin(), s.end())};
        v.bytes.push_back(0);
        return v;
    }
    Value shortValue(uint16_t n) const {
        Value v{3, 1, {}};
        u16(v.bytes, n);
        return v;
    }
    Value longValue(uint32_t n) const {
        Value v{4, 1, {}};
        u32(v.bytes, n);
        return v;
    }

    // Appends an IFD at the end of `out` (offsets relative to out[0]); returns
    // the position of each entry's value field so pointers can be patched.
    std::map<uint16_t, size_t> ifd(std::vector<uint8_t>& out, const std::map<uint16_t, Value>& entries) const {
        std::map<uint16_t, size_t> valueAt;
        u16(out, uint16_t(entries.size()));
        size_t dataAt = out.size() + entries.size() * 12 + 4;
        std::vector<uint8_t> data;
        for (const auto& [tag, v] : entries) {
            u16(out, tag);
            u16(out, v.type);
            u32(out, v.count);
            valueAt[tag] = out.size();
            if (v.bytes.size() <= 4) {
                std::vector<uint8_t> field = v.bytes;
                field.resize(4, 0);
                out.insert(out.end(), field.begin(), field.end());
            } else {
                u32(out, uint32_t(dataAt + data.size()));
                data.insert(data.end(), v.bytes.begin(), v.bytes.end());
                if (data.size() % 2) data.push_back(0);
            }
        }
        u32(out, 0);  // no next IFD
        out.insert(out.end(), data.begin(), data.end());
        return valueAt;
    }

private:
    bool big_;
};

}  // namespace keepframe::shootgen
