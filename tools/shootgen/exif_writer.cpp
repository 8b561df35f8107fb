#include "exif_writer.h"

#include <fstream>
#include <map>

#include <opencv2/imgcodecs.hpp>

#include "paths.h"
#include "tiff_writer.h"

namespace keepframe::shootgen {

std::vector<uint8_t> makeExifApp1(const ExifFields& fields, bool bigEndian) {
    TiffWriter w(bigEndian);
    std::vector<uint8_t> tiff;
    if (bigEndian) tiff = {'M', 'M'};
    else tiff = {'I', 'I'};
    w.u16(tiff, 42);
    w.u32(tiff, 8);

    std::map<uint16_t, TiffWriter::Value> ifd0, exif;
    if (fields.orientation != 0) ifd0.emplace(0x0112, w.shortValue(uint16_t(fields.orientation)));
    if (!fields.dateTime.empty()) ifd0.emplace(0x0132, w.ascii(fields.dateTime));
    if (!fields.dateTimeOriginal.empty()) exif.emplace(0x9003, w.ascii(fields.dateTimeOriginal));
    if (!fields.subSecTimeOriginal.empty()) exif.emplace(0x9291, w.ascii(fields.subSecTimeOriginal));
    if (!exif.empty()) ifd0.emplace(0x8769, w.longValue(0));

    const auto pointers = w.ifd(tiff, ifd0);
    if (!exif.empty()) {
        w.patch32(tiff, pointers.at(0x8769), uint32_t(tiff.size()));
        w.ifd(tiff, exif);
    }

    std::vector<uint8_t> seg = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    seg.insert(seg.end(), tiff.begin(), tiff.end());
    const size_t length = seg.size() - 2;
    seg[2] = uint8_t(length >> 8);
    seg[3] = uint8_t(length);
    return seg;
}

std::vector<uint8_t> insertSegment(const std::vector<uint8_t>& jpeg, const std::vector<uint8_t>& segment) {
    std::vector<uint8_t> out;
    out.reserve(jpeg.size() + segment.size());
    out.insert(out.end(), jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), segment.begin(), segment.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

bool writeJpeg(const std::string& path, const cv::Mat& image, const ExifFields& fields, int quality,
               bool bigEndian) {
    std::vector<uint8_t> jpeg;
    if (!cv::imencode(".jpg", image, jpeg, {cv::IMWRITE_JPEG_QUALITY, quality})) return false;
    return writeJpegBytes(path, std::move(jpeg), fields, bigEndian);
}

bool writeJpegBytes(const std::string& path, std::vector<uint8_t> jpeg, const ExifFields& fields, bool bigEndian) {
    if (jpeg.size() < 2) return false;
    const bool hasExif = fields.orientation != 0 || !fields.dateTime.empty() || !fields.dateTimeOriginal.empty() ||
                         !fields.subSecTimeOriginal.empty();
    if (hasExif) jpeg = insertSegment(jpeg, makeExifApp1(fields, bigEndian));
    std::ofstream out(utf8ToPath(path), std::ios::binary);
    out.write(reinterpret_cast<const char*>(jpeg.data()), std::streamsize(jpeg.size()));
    out.close();
    return !out.fail();
}


}  // namespace keepframe::shootgen
