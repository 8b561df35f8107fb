// Minimal little-endian DNG files for tests: IFD0 holds the preview (JPEG
// bytes, or an 8-bit RGB bitmap), a sub-IFD a small 16-bit CFA raw image
// (LibRaw only accepts raw images of at least 22 x 22 pixels).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>
namespace keepframe::testing {

struct DngPreview {
    std::vector<uint8_t> jpeg;     // JPEG preview bytes, or
    std::vector<uint8_t> rgb;      // 8-bit RGB pixels
    int width = 0, height = 0;
    std::string dateTime;          // IFD0 DateTime ("YYYY:MM:DD hh:mm:ss"); none when empty
    int orientation = 0;           // IFD0 Orientation; none when 0
};

inline std::vector<uint8_t> makeDng(const DngPreview& preview) {
    std::vector<uint8_t> out = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto u16 = [](std::vector<uint8_t>& v, uint16_t x) { v.push_back(uint8_t(x)); v.push_back(uint8_t(x >> 8)); };
    auto u32 = [&](std::vector<uint8_t>& v, uint32_t x) { u16(v, uint16_t(x)); u16(v, uint16_t(x >> 16)); };
    struct Entry { uint16_t type; uint32_t count; std::vector<uint8_t> data; };
    auto shorts = [&](std::initializer_list<uint16_t> xs) {
        Entry e{3, uint32_t(xs.size()), {}};
        for (auto x : xs) u16(e.data, x);
        return e;
    };
    auto longs = [&](std::initializer_list<uint32_t> xs) {
        Entry e{4, uint32_t(xs.size()), {}};
        for (auto x : xs) u32(e.data, x);
        return e;
    };
    auto bytes = [&](std::initializer_list<uint8_t> xs) {
        return Entry{1, uint32_t(xs.size()), std::vector<uint8_t>(xs)};
    };
    auto ascii = [&](const std::string& s) {
        Entry e{2, uint32_t(s.size() + 1), std::vector<uint8_t>(s.begin(), s.end())};
        e.data.push_back(0);
        return e;
    };

    // Writes an IFD at the end of `out`; `patch` receives the position of each entry's value field.
    auto writeIfd = [&](std::map<uint16_t, Entry> entries, std::map<uint16_t, size_t>& patch) {
        u16(out, uint16_t(entries.size()));
        size_t extra = out.size() + entries.size() * 12 + 4;
        std::vector<uint8_t> data;
        for (auto& [tag, e] : entries) {
            u16(out, tag); u16(out, e.type); u32(out, e.count);
            patch[tag] = out.size();
            if (e.data.size() <= 4) {
                auto d = e.data;
                d.resize(4, 0);
                out.insert(out.end(), d.begin(), d.end());
            } else {
                u32(out, uint32_t(extra + data.size()));
                data.insert(data.end(), e.data.begin(), e.data.end());
                if (data.size() % 2) data.push_back(0);
            }
        }
        u32(out, 0);
        out.insert(out.end(), data.begin(), data.end());
    };
    auto set32 = [&](size_t at, uint32_t v) {
        out[at] = uint8_t(v);
        out[at + 1] = uint8_t(v >> 8);
        out[at + 2] = uint8_t(v >> 16);
        out[at + 3] = uint8_t(v >> 24);
    };

    const bool isJpeg = !preview.jpeg.empty();
    const std::vector<uint8_t>& payload = isJpeg ? preview.jpeg : preview.rgb;
    std::map<uint16_t, Entry> ifd0 = {
        {254, longs({1})}, {256, longs({uint32_t(preview.width)})}, {257, longs({uint32_t(preview.height)})},
        {258, shorts({8, 8, 8})}, {259, shorts({uint16_t(isJpeg ? 7 : 1)})}, {262, shorts({uint16_t(isJpeg ? 6 : 2)})},
        {271, ascii("Keepframe")}, {272, ascii("Test Camera")}, {273, longs({0})}, {277, shorts({3})},
        {278, longs({uint32_t(preview.height)})}, {279, longs({uint32_t(payload.size())})}, {330, longs({0})},
        {50706, bytes({1, 4, 0, 0})}, {50708, ascii("Keepframe Test Camera")}};
    if (!preview.dateTime.empty()) ifd0[306] = ascii(preview.dateTime);
    if (preview.orientation > 0) ifd0[274] = shorts({uint16_t(preview.orientation)});
    std::map<uint16_t, size_t> p0;
    writeIfd(ifd0, p0);
    const uint32_t rawIfd = uint32_t(out.size());
    std::map<uint16_t, Entry> raw = {
        {254, longs({0})}, {256, longs({32})}, {257, longs({32})}, {258, shorts({16})}, {259, shorts({1})},
        {262, shorts({32803})}, {273, longs({0})}, {277, shorts({1})}, {278, longs({32})}, {279, longs({2048})},
        {33421, shorts({2, 2})}, {33422, bytes({0, 1, 1, 2})}};
    std::map<uint16_t, size_t> p1;
    writeIfd(raw, p1);
    set32(p0[330], rawIfd);
    set32(p0[273], uint32_t(out.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    set32(p1[273], uint32_t(out.size()));
    for (int i = 0; i < 1024; ++i) u16(out, uint16_t(1000 + i));
    return out;
}

}  // namespace keepframe::testing
