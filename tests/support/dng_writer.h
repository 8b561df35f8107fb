// Minimal little-endian DNG files for tests: IFD0 holds the preview (JPEG
// bytes, or an 8-bit RGB bitmap), a sub-IFD a small 16-bit CFA raw image
// (LibRaw only accepts raw images of at least 22 x 22 pixels).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tiff_writer.h"

namespace keepframe::testing {

struct DngPreview {
    std::vector<uint8_t> jpeg;     // JPEG preview bytes, or
    std::vector<uint8_t> rgb;      // 8-bit RGB pixels
    int width = 0, height = 0;
    std::string dateTime;          // IFD0 DateTime ("YYYY:MM:DD hh:mm:ss"); none when empty
    int orientation = 0;           // IFD0 Orientation; none when 0
};

inline std::vector<uint8_t> makeDng(const DngPreview& preview) {
    using Entry = shootgen::TiffWriter::Value;
    const shootgen::TiffWriter w(false);
    std::vector<uint8_t> out = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto shorts = [&](std::initializer_list<uint16_t> xs) {
        Entry e{3, uint32_t(xs.size()), {}};
        for (auto x : xs) w.u16(e.bytes, x);
        return e;
    };
    auto longs = [&](std::initializer_list<uint32_t> xs) {
        Entry e{4, uint32_t(xs.size()), {}};
        for (auto x : xs) w.u32(e.bytes, x);
        return e;
    };
    auto bytes = [&](std::initializer_list<uint8_t> xs) {
        return Entry{1, uint32_t(xs.size()), std::vector<uint8_t>(xs)};
    };

    const bool isJpeg = !preview.jpeg.empty();
    const std::vector<uint8_t>& payload = isJpeg ? preview.jpeg : preview.rgb;
    std::map<uint16_t, Entry> ifd0 = {
        {254, longs({1})}, {256, longs({uint32_t(preview.width)})}, {257, longs({uint32_t(preview.height)})},
        {258, shorts({8, 8, 8})}, {259, shorts({uint16_t(isJpeg ? 7 : 1)})}, {262, shorts({uint16_t(isJpeg ? 6 : 2)})},
        {271, w.ascii("Keepframe")}, {272, w.ascii("Test Camera")}, {273, longs({0})}, {277, shorts({3})},
        {278, longs({uint32_t(preview.height)})}, {279, longs({uint32_t(payload.size())})}, {330, longs({0})},
        {50706, bytes({1, 4, 0, 0})}, {50708, w.ascii("Keepframe Test Camera")}};
    if (!preview.dateTime.empty()) ifd0[306] = w.ascii(preview.dateTime);
    if (preview.orientation > 0) ifd0[274] = shorts({uint16_t(preview.orientation)});
    const std::map<uint16_t, size_t> p0 = w.ifd(out, ifd0);
    const uint32_t rawIfd = uint32_t(out.size());
    std::map<uint16_t, Entry> raw = {
        {254, longs({0})}, {256, longs({32})}, {257, longs({32})}, {258, shorts({16})}, {259, shorts({1})},
        {262, shorts({32803})}, {273, longs({0})}, {277, shorts({1})}, {278, longs({32})}, {279, longs({2048})},
        {33421, shorts({2, 2})}, {33422, bytes({0, 1, 1, 2})}};
    const std::map<uint16_t, size_t> p1 = w.ifd(out, raw);
    w.patch32(out, p0.at(330), rawIfd);
    w.patch32(out, p0.at(273), uint32_t(out.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    w.patch32(out, p1.at(273), uint32_t(out.size()));
    for (int i = 0; i < 1024; ++i) w.u16(out, uint16_t(1000 + i));
    return out;
}

}  // namespace keepframe::testing
