#include "face_worker.h"

#include "clock.h"
#include "config.h"
#include "crypto.h"
#include "db.h"
#include "faces.h"
#include "image_decode.h"
#include "log.h"
#include "onnx_model.h"

#include <array>
#include <cstring>

namespace keepframe::gallery {

namespace {

// A face crop is 112 x 112; anything much larger is not one and is not decoded.
constexpr int64_t kLargestCropSide = 1024;

}  // namespace

struct FaceWorker::Models {
    OnnxModel recognizer;
};

std::string recogniserPath(const std::string& modelsDir) { return modelsDir + "/buffalo_l/w600k_r50.onnx"; }

std::string packEmbedding(const std::vector<float>& embedding) {
    std::vector<uint8_t> bytes(embedding.size() * 4);
    for (size_t i = 0; i < embedding.size(); ++i) {
        uint32_t bits = 0;
        std::memcpy(&bits, &embedding[i], 4);
        for (int b = 0; b < 4; ++b) bytes[i * 4 + size_t(b)] = uint8_t(bits >> (8 * b));
    }
    return encodeBase64(bytes.data(), bytes.size());
}

// Every stored face of a gallery is unpacked when its first search reads
// them, so this decodes the Base64 text straight into the floats, by table.
std::vector<float> unpackEmbedding(std::string_view text) {
    static const std::array<int8_t, 256> value = [] {
        std::array<int8_t, 256> v{};
        v.fill(-1);
        const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i) v[uint8_t(digits[i])] = int8_t(i);
        return v;
    }();
    // Whole groups of four digits; the last group may end in one or two "=".
    if (text.size() % 4 != 0) return {};
    size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
    const size_t bytes = text.size() / 4 * 3 - padding;
    if (bytes % 4 != 0) return {};
    std::vector<uint8_t> raw(bytes + 2);
    size_t out = 0;
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        uint32_t group = 0;
        for (size_t k = 0; k < 4; ++k) {
            const bool pad = last && k >= 4 - padding;
            const int8_t v = pad ? 0 : value[uint8_t(text[i + k])];
            if (v < 0) return {};
            group = (group << 6) | uint32_t(v);
        }
        raw[out] = uint8_t(group >> 16);
        raw[out + 1] = uint8_t(group >> 8);
        raw[out + 2] = uint8_t(group);
        out += 3;
    }
    std::vector<float> embedding(bytes / 4);
    for (size_t i = 0; i < embedding.size(); ++i) {
        const uint32_t bits = uint32_t(raw[i * 4]) | uint32_t(raw[i * 4 + 1]) << 8 | uint32_t(raw[i * 4 + 2]) << 16 |
                              uint32_t(raw[i * 4 + 3]) << 24;
        std::memcpy(&embedding[i], &bits, 4);
    }
    return embedding;
}

FaceWorker::FaceWorker(Database& db, const GalleryConfig& config, const Log& log, const std::string& modelsDir)
    : db_(db), config_(config), log_(log), models_(std::make_unique<Models>()), claimant_(newId("w_")) {
    models_->recognizer = loadRecognizer(recogniserPath(modelsDir));
    log_.info("face data: embedding with " + recogniserPath(modelsDir));
    thread_ = std::thread([this] { run(); });
}

FaceWorker::~FaceWorker() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void FaceWorker::wake() {
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    wake_.notify_all();
}

void FaceWorker::run() {
    while (!stopping_) {
        try {
            if (drain() > 0 && drained_ && !changed_.empty()) drained_(changed_);
            changed_.clear();
        } catch (const std::exception& e) {
            log_.warning(std::string("face data: ") + e.what());
        }
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(config_.faceIdleMilliseconds),
                       [&] { return woken_ || stopping_.load(); });
        woken_ = false;
    }
}

int FaceWorker::drain() {
    int done = 0;
    while (!stopping_) {
        const int batch = processBatch();
        if (batch == 0) break;
        done += batch;
    }
    return done;
}

int FaceWorker::processBatch() {
    const int64_t now = nowSeconds();
    // Claim: rows nobody holds, or whose holder did not finish in time (a
    // stopped instance); other instances skip the rows claimed here.
    const Rows claimed = db_.write([&](Connection& c) {
        const Rows ids = c.query(
            R"(SELECT id FROM face_jobs WHERE claimed_until < $1 ORDER BY queued_at, id LIMIT $2)" + db_.skipLocked(),
            {now, int64_t(config_.faceBatch)});
        Rows jobs;
        for (const Row& r : ids) {
            c.query(R"(UPDATE face_jobs SET claimed_until = $1 WHERE id = $2)",
                    {now + config_.faceClaimSeconds, r.text(0)});
            const Rows job = c.query(R"(SELECT id, gallery_id, file_id, face_index, crop_base64, bbox_x, bbox_y,
                                     bbox_width, bbox_height FROM face_jobs WHERE id = $1)",
                                     {r.text(0)});
            jobs.insert(jobs.end(), job.begin(), job.end());
        }
        return jobs;
    });
    for (const Row& job : claimed) {
        std::vector<float> embedding;
        const auto bytes = decodeBase64(job.text(4));
        const auto size = bytes ? readDeclaredSize(bytes->data(), bytes->size()) : std::nullopt;
        if (size && size->width <= kLargestCropSide && size->height <= kLargestCropSide) {
            const DecodedImage face = decodeImage(*bytes, 1);
            if (face.status == DecodeStatus::Ok) embedding = embedAlignedFace(models_->recognizer, face.image);
        }
        db_.write([&](Connection& c) {
            // A gallery deleted, or its face search switched off, meanwhile took the job with it.
            c.query(R"(DELETE FROM face_jobs WHERE id = $1)", {job.text(0)});
            if (c.changes() == 0 || embedding.empty()) return;
            c.query(R"(INSERT INTO face_data (id, gallery_id, file_id, face_index, bbox_x, bbox_y, bbox_width,
                    bbox_height, embedding, created_at) SELECT $1, $2, $3, CAST($4 AS INTEGER), CAST($5 AS INTEGER),
                    CAST($6 AS INTEGER), CAST($7 AS INTEGER), CAST($8 AS INTEGER), $9, CAST($10 AS BIGINT)
                    WHERE EXISTS (SELECT 1 FROM galleries WHERE id = $2 AND face_search = 1))",
                    {newId("fd_"), job.text(1), job.text(2), job.integer(3), job.integer(5), job.integer(6),
                     job.integer(7), job.integer(8), packEmbedding(embedding), nowSeconds()});
            c.query(R"(UPDATE galleries SET face_version = face_version + 1 WHERE id = $1)", {job.text(1)});
            changed_.insert(job.text(1));
        });
        if (embedding.empty())
            log_.warning("face data: a crop of file " + job.text(2) + " is not a face image; it was dropped");
    }
    return int(claimed.size());
}

}  // namespace keepframe::gallery
