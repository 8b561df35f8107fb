// keepframe-gallery-search-bench: how long "find my photos" takes on a large
// gallery. A gallery of 2,000 photographs is given 10,000 stored faces (then
// 100,000), one of them a real photograph's face of a person from the shared
// test photographs; a different photograph of that person is the selfie.
// Prints the answer time of the whole request over loopback (selfie decoded,
// face found, aligned and embedded, every stored face compared): the first,
// which reads the faces into memory, and the later ones; the comparison
// alone, and where the planted face ranked.
//   keepframe-gallery-search-bench [FACES]...     (default 10000 100000)
#include "admin.h"
#include "bench_common.h"
#include "clock.h"
#include "crypto.h"
#include "db.h"
#include "face_search.h"
#include "face_worker.h"
#include "gallery_bench_service.h"
#include "log.h"
#include "server.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>

namespace fs = std::filesystem;
using namespace keepframe;
using namespace keepframe::gallery;
using json = nlohmann::json;

namespace {

constexpr int kFiles = 2000;
constexpr int kRuns = 10;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

std::vector<float> randomFace(std::mt19937& random) {
    std::normal_distribution<float> normal;
    std::vector<float> v(512);
    double norm = 0;
    for (float& x : v) {
        x = normal(random);
        norm += double(x) * x;
    }
    for (float& x : v) x = float(x / std::sqrt(norm));
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help") {
            std::printf("usage: keepframe-gallery-search-bench [FACES]...   (default 10000 100000)\n");
            return 0;
        }
        if (a.empty() || a.size() > 7 || a.find_first_not_of("0123456789") != std::string::npos) {
            std::fprintf(stderr, "keepframe-gallery-search-bench: not a number of faces: %s\n", a.c_str());
            return 2;
        }
        sizes.push_back(std::stoi(a));
    }
    if (sizes.empty()) sizes = {10000, 100000};
    std::sort(sizes.begin(), sizes.end());

    const fs::path person = fs::path(KEEPFRAME_TEST_PHOTOS_DIR) / "identities" / "obama";
    const std::string selfie = bench::fileBytes(person / "01.jpg"), planted = bench::fileBytes(person / "02.jpg");
    if (selfie.empty() || planted.empty()) {
        std::fprintf(stderr, "keepframe-gallery-search-bench: no test photographs in %s\n", person.string().c_str());
        return 1;
    }
    GalleryConfig config;
    config.modelsDir = bench::benchModelsFolder();
    int status = 0;
    {
        bench::LoopbackGallery service(config, "kfg-search-bench-");
        if (!service.serving()) return 1;
        GalleryServer& server = service.server();
        httplib::Client c(server.origin());
        c.set_read_timeout(60);
        const std::string token = addPhotographer(server.database(), "bench", 1000 * kGiB, 12);

        // The gallery: 2,000 announced photographs, marked delivered (their bytes do not matter here).
        json files = json::array();
        for (int i = 0; i < kFiles; ++i)
            files.push_back({{"filename", "DSC_" + std::to_string(10000 + i) + ".jpg"}, {"original_size_bytes", 1000}});
        const auto made = c.Post("/deliver/upload-request", {{"Authorization", "Bearer " + token}},
                                 json{{"gallery_title", "Search"}, {"gallery_password", "pw"},
                                      {"face_search_enabled", true}, {"files", files}}.dump(),
                                 "application/json");
        if (!made || made->status != 200) {
            std::fprintf(stderr, "upload-request failed\n");
            status = 1;
        }
        const json answer = made ? json::parse(made->body, nullptr, false) : json();
        const std::string galleryId = answer.value("gallery_id", ""), slug = answer.value("gallery_slug", "");
        std::vector<std::string> fileIds;
        for (const json& u : answer.value("uploads", json::array()))
            fileIds.push_back(u["original_r2_key"].get<std::string>().substr(galleryId.size() + 1, 18));
        Database& db = server.database();
        db.write([&](Connection& t) {
            t.query(R"(UPDATE files SET state = 'confirmed', stored_bytes = declared_bytes WHERE gallery_id = $1)",
                    {galleryId});
            t.query(R"(UPDATE galleries SET status = 'active' WHERE id = $1)", {galleryId});
            return 0;
        });
        const auto login = c.Post(("/gallery.html?g=" + slug).c_str(), httplib::Params{{"password", "pw"}});
        const std::string cookie = login ? login->get_header_value("Set-Cookie") : "";
        const httplib::Headers session{{"Cookie", cookie.substr(0, cookie.find(';'))}};

        const FaceSearcher searcher(config.modelsDir);
        const auto t0 = std::chrono::steady_clock::now();
        const SelfieFace plantedFace = searcher.embedSelfie(planted);
        const double embedSeconds = bench::secondsSince(t0);
        if (plantedFace.embedding.empty() || fileIds.size() != size_t(kFiles)) {
            std::fprintf(stderr, "cannot plant the face: %s\n", plantedFace.problem.c_str());
            return 1;
        }
        const std::string plantedFile = fileIds[1234];
        std::printf("gallery of %d photographs; selfie %s, planted face from %s in %s\n", kFiles,
                    (person / "01.jpg").string().c_str(), (person / "02.jpg").string().c_str(), plantedFile.c_str());
        std::printf("selfie alone (decode, detect, align, embed): %.0f ms\n\n", embedSeconds * 1000);
        std::printf("%8s  %12s  %14s  %12s  %16s  %s\n", "faces", "first answer", "answer median", "answer max",
                    "comparison alone", "planted face");

        std::mt19937 random(7);
        std::vector<StoredFace> stored;
        double baseline = 0;
        for (const int target : sizes) {
            db.write([&](Connection& t) {
                while (int(stored.size()) < target) {
                    const size_t n = stored.size();
                    StoredFace f{fileIds[n % fileIds.size()],
                                 n == 0 ? plantedFace.embedding : randomFace(random)};
                    if (n == 0) f.fileId = plantedFile;
                    t.query(
                        R"sql(INSERT INTO face_data (id, gallery_id, file_id, face_index, bbox_x, bbox_y, bbox_width,
  bbox_height, embedding, created_at) VALUES ($1, $2, $3, $4, 0, 0, 100, 100, $5, $6))sql",
                        {newId("fd_"), galleryId, f.fileId, int64_t(n / fileIds.size()), packEmbedding(f.embedding),
                         nowSeconds()});
                    stored.push_back(std::move(f));
                }
                t.query(R"(UPDATE galleries SET face_version = face_version + 1 WHERE id = $1)", {galleryId});
                return 0;
            });
            // Where the first search's reading goes: the query's rows, then their decoding.
            const auto q0 = std::chrono::steady_clock::now();
            const Rows rows = db.read([&](Connection& t) {
                return t.query(R"(SELECT file_id, embedding FROM face_data WHERE gallery_id = $1)", {galleryId});
            });
            const double queryMs = bench::secondsSince(q0) * 1000;
            const auto d0 = std::chrono::steady_clock::now();
            size_t decoded = 0;
            for (const Row& r : rows) decoded += unpackEmbedding(std::get<std::string>(r.values.at(1))).size();
            const double decodeMs = bench::secondsSince(d0) * 1000;
            std::vector<double> answerMs, compareMs;
            double firstMs = 0;
            std::string rank = "not found";
            for (int run = 0; run <= kRuns; ++run) {
                const auto s0 = std::chrono::steady_clock::now();
                const auto r = c.Post(("/gallery/" + slug + "/face-search").c_str(), session, selfie, "image/jpeg");
                const double ms = bench::secondsSince(s0) * 1000;
                if (!r || r->status != 200) {
                    std::fprintf(stderr, "search failed: %s\n", r ? r->body.c_str() : "no answer");
                    status = 1;
                    break;
                }
                if (run == 0) {  // the first run reads the faces into memory
                    firstMs = ms;
                    const json matches = json::parse(r->body)["matches"];
                    for (size_t i = 0; i < matches.size(); ++i)
                        if (matches[i]["file_id"] == plantedFile) {
                            char text[64];
                            std::snprintf(text, sizeof text, "rank %zu of %zu, score %.2f", i + 1, matches.size(),
                                          matches[i]["score"].get<double>());
                            rank = text;
                        }
                    continue;
                }
                answerMs.push_back(ms);
                const auto m0 = std::chrono::steady_clock::now();
                const auto matches = matchFaces(plantedFace.embedding, stored, config.faceMatchThreshold);
                compareMs.push_back(bench::secondsSince(m0) * 1000);
                if (matches.empty()) status = 1;
            }
            if (answerMs.empty()) break;
            if (baseline == 0) baseline = median(answerMs);
            std::printf("%8d  %9.0f ms  %11.0f ms  %9.0f ms  %13.1f ms  %s (%.1fx the first size's answer)\n", target,
                        firstMs, median(answerMs), *std::max_element(answerMs.begin(), answerMs.end()),
                        median(compareMs), rank.c_str(), median(answerMs) / baseline);
            std::printf("          reading the faces alone: query %.0f ms, decoding %.0f ms (%zu values)\n", queryMs,
                        decodeMs, decoded);
            std::fflush(stdout);
        }
    }
    return status;
}
