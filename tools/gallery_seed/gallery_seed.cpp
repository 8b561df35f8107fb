#include "gallery_seed.h"

#include "faces.h"
#include "image_decode.h"
#include "onnx_model.h"
#include "paths.h"

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include <fstream>
#include <stdexcept>

namespace keepframe::gallery {

namespace {

using json = nlohmann::json;

constexpr float kDetectionThreshold = 0.3f;  // the desktop client's

std::string readFile(const std::string& path) {
    std::ifstream in(utf8ToPath(path), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string base64(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const uint32_t n = (uint32_t(bytes[i]) << 16) | (i + 1 < bytes.size() ? uint32_t(bytes[i + 1]) << 8 : 0) |
                           (i + 2 < bytes.size() ? uint32_t(bytes[i + 2]) : 0);
        out += digits[(n >> 18) & 63];
        out += digits[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? digits[(n >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? digits[n & 63] : '=';
    }
    return out;
}

struct Photo {
    std::string path, name, bytes;
    int width = 0, height = 0;
    json faces = json::array();
};

Photo readPhoto(const std::string& path, const OnnxModel* detector) {
    Photo p;
    p.path = path;
    const std::filesystem::path file = utf8ToPath(path);
    p.name = pathToUtf8(file.parent_path().filename()) + "-" + pathToUtf8(file.filename());
    p.bytes = readFile(path);
    const DecodedImage decoded = decodeImage({reinterpret_cast<const uint8_t*>(p.bytes.data()), p.bytes.size()}, 1);
    if (decoded.status != DecodeStatus::Ok && decoded.status != DecodeStatus::Damaged)
        throw std::runtime_error(path + " cannot be decoded: " + decoded.problem);
    p.width = decoded.image.cols;
    p.height = decoded.image.rows;
    if (!detector) return p;
    for (const FaceCandidate& c : detectFaces(*detector, decoded.image, kDetectionThreshold)) {
        Landmarks landmarks;
        std::copy(c.begin() + 5, c.end(), landmarks.begin());
        const cv::Mat face = alignFace(decoded.image, landmarks);
        std::vector<uint8_t> jpeg;
        if (face.empty() || !cv::imencode(".jpg", face, jpeg, {cv::IMWRITE_JPEG_QUALITY, 90})) continue;
        p.faces.push_back({{"image_base64", base64(jpeg)},
                           {"bbox_x", int(c[0])},
                           {"bbox_y", int(c[1])},
                           {"bbox_width", int(c[2] - c[0])},
                           {"bbox_height", int(c[3] - c[1])}});
    }
    return p;
}

json call(httplib::Client& client, const std::string& path, const std::string& token, const json& body) {
    const auto r = client.Post(path.c_str(), {{"Authorization", "Bearer " + token}}, body.dump(), "application/json");
    if (!r) throw std::runtime_error(path + ": no answer");
    if (r->status != 200) throw std::runtime_error(path + ": " + std::to_string(r->status) + " " + r->body);
    return json::parse(r->body);
}

}  // namespace

Seeded seedGallery(const SeedOptions& options, const std::vector<std::string>& photos) {
    OnnxModel detector;
    if (options.faceSearch) detector = loadDetector(options.modelsDir + "/buffalo_l/det_10g.onnx", 640);
    std::vector<Photo> read;
    json list = json::array();
    for (const std::string& path : photos) {
        read.push_back(readPhoto(path, options.faceSearch ? &detector : nullptr));
        list.push_back({{"filename", read.back().name},
                        {"original_size_bytes", int64_t(read.back().bytes.size())},
                        {"content_type", "image/jpeg"}});
    }
    httplib::Client client(options.url);
    client.set_read_timeout(120, 0);
    const json answer = call(client, "/deliver/upload-request", options.token,
                             {{"gallery_title", options.title},
                              {"gallery_password", options.password},
                              {"allow_download", options.allowDownload},
                              {"face_search_enabled", options.faceSearch},
                              {"files", list}});
    Seeded seeded{answer.at("gallery_id"), answer.at("gallery_slug"), {}};
    json complete = json::array();
    for (size_t i = 0; i < read.size(); ++i) {
        const json& u = answer.at("uploads").at(i);
        const std::string url = u.at("original_upload_url");
        const std::string path = url.substr(url.find("/storage/"));
        const auto stored = client.Put(path.c_str(), read[i].bytes, "image/jpeg");
        if (!stored || stored->status != 200)
            throw std::runtime_error("upload of " + read[i].path + ": " + (stored ? stored->body : "no answer"));
        json f = {{"filename", read[i].name},
                  {"original_r2_key", u.at("original_r2_key")},
                  {"width", read[i].width},
                  {"height", read[i].height},
                  {"is_cover", i == 0}};
        if (!read[i].faces.empty()) f["faces"] = read[i].faces;
        complete.push_back(f);
        const std::string key = u.at("original_r2_key");
        const size_t slash = key.find('/');
        seeded.files.push_back({key.substr(slash + 1, key.find('/', slash + 1) - slash - 1), read[i].name,
                                read[i].path, int(read[i].faces.size())});
    }
    call(client, "/deliver/upload-complete", options.token, {{"gallery_id", seeded.galleryId}, {"files", complete}});
    return seeded;
}

}  // namespace keepframe::gallery
