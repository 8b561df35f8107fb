// keepframe-gallery-quality-bench: how well "find my photos" finds a guest.
// The identity-labelled test photographs are delivered as one shoot (faces
// found and cropped by the engine as the desktop client does) to a service on
// loopback, except one held-back photograph of each person with several,
// which is then that person's selfie. For each person and overall: the recall
// (their photographs found) and the precision (found photographs that show
// them) at several match thresholds, and the threshold the service uses.
//   keepframe-gallery-quality-bench [PHOTOS_DIR]   (default: the shared identities)
#include "admin.h"
#include "bench_common.h"
#include "config.h"
#include "crypto.h"
#include "db.h"
#include "face_search.h"
#include "gallery_bench_service.h"
#include "gallery_seed.h"
#include "log.h"
#include "server.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

namespace fs = std::filesystem;
using namespace keepframe;
using namespace keepframe::gallery;
using json = nlohmann::json;

namespace {

constexpr float kThresholds[] = {0.20f, 0.25f, 0.30f, 0.35f, 0.40f, 0.45f, 0.50f, 0.55f, 0.60f};

struct Counts {
    int found = 0, right = 0, theirs = 0;
    double recall() const { return theirs ? double(right) / theirs : 1.0; }
    double precision() const { return found ? double(right) / found : 1.0; }
};

}  // namespace

int main(int argc, char** argv) {
    const fs::path photos = argc > 1 ? fs::path(argv[1]) : fs::path(KEEPFRAME_TEST_PHOTOS_DIR) / "identities";
    const std::string models = bench::benchModelsFolder();
    const FaceSearcher searcher(models);
    // Who is in each photograph: one person per folder, the group photographs by their list.
    std::map<std::string, std::set<std::string>> people;  // delivered path -> persons
    std::map<std::string, fs::path> selfies;              // person -> held-back photograph
    std::vector<std::string> delivered;
    std::error_code error;
    std::vector<fs::path> folders;
    for (const auto& entry : fs::directory_iterator(photos, error))
        if (entry.is_directory() && entry.path().filename().string()[0] != '_') folders.push_back(entry.path());
    std::sort(folders.begin(), folders.end());
    for (const fs::path& folder : folders) {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(folder, error))
            if (entry.path().extension() == ".jpg") files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        const std::string person = folder.filename().string();
        // The held-back selfie: the last photograph with one face clearly the largest.
        for (size_t i = files.size(); files.size() >= 2 && i-- > 0;)
            if (!searcher.embedSelfie(bench::fileBytes(files[i])).embedding.empty()) {
                selfies[person] = files[i];
                files.erase(files.begin() + std::ptrdiff_t(i));
                break;
            }
        for (const fs::path& f : files) {
            delivered.push_back(f.string());
            people[f.string()] = {person};
        }
    }
    const fs::path groups = photos / "_groups";
    const json groupList = json::parse(bench::fileBytes(groups / "groups.json"), nullptr, false);
    if (groupList.is_object())
        for (const auto& [name, group] : groupList["groups"].items()) {
            const fs::path file = groups / name;
            if (!fs::is_regular_file(file)) continue;
            delivered.push_back(file.string());
            for (const json& p : group["persons"]) people[file.string()].insert(p.get<std::string>());
        }
    if (selfies.empty()) {
        std::fprintf(stderr, "keepframe-gallery-quality-bench: no identity photographs in %s\n", photos.c_str());
        return 1;
    }

    GalleryConfig config;
    config.modelsDir = models;
    config.faceMatchThreshold = -1.0f;  // every score comes back; the thresholds are applied here
    int status = 0;
    {
        bench::LoopbackGallery service(config, "kfg-quality-bench-");
        if (!service.serving()) return 1;
        GalleryServer& server = service.server();
        SeedOptions options;
        options.url = server.origin();
        options.token = addPhotographer(server.database(), "bench", 100 * kGiB, 12);
        options.modelsDir = config.modelsDir;
        options.password = "pw";
        options.faceSearch = true;
        options.title = "Quality";
        const Seeded seeded = seedGallery(options, delivered);
        int faces = 0;
        for (const SeededFile& f : seeded.files) faces += f.faces;
        for (int i = 0; i < 600; ++i) {
            const int64_t rows = server.database().read([&](Connection& c) {
                return c.query(R"(SELECT COUNT(*) FROM face_data)").at(0).integer(0);
            });
            if (rows >= faces) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        std::map<std::string, std::set<std::string>> fileShows;  // file id -> persons
        for (const SeededFile& f : seeded.files) fileShows[f.fileId] = people[f.path];
        std::printf("models: %s\nshoot: %zu photographs with %d faces; %zu selfies held back\n\n",
                    config.modelsDir.c_str(), seeded.files.size(), faces, selfies.size());

        httplib::Client c(server.origin());
        c.set_read_timeout(60);
        std::map<float, Counts> overall;
        double lowestRight = 1, highestWrong = -1;
        std::map<std::string, std::map<float, Counts>> perPerson;
        for (const auto& [person, selfie] : selfies) {
            const auto r = c.Post(("/gallery/" + seeded.slug + "/face-search").c_str(),
                                  {{"X-Gallery-Password", "pw"}}, bench::fileBytes(selfie), "image/jpeg");
            if (!r || r->status != 200) {
                std::fprintf(stderr, "search with %s: %s\n", selfie.c_str(), r ? r->body.c_str() : "no answer");
                status = 1;
                continue;
            }
            const json matches = json::parse(r->body)["matches"];
            for (const json& m : matches) {
                const double score = m["score"].get<double>();
                if (fileShows[m["file_id"].get<std::string>()].count(person))
                    lowestRight = std::min(lowestRight, score);
                else
                    highestWrong = std::max(highestWrong, score);
            }
            int theirs = 0;
            for (const auto& [file, shows] : fileShows) theirs += shows.count(person) ? 1 : 0;
            for (const float t : kThresholds) {
                Counts k;
                k.theirs = theirs;
                for (const json& m : matches) {
                    if (m["score"].get<double>() < t) continue;
                    ++k.found;
                    k.right += fileShows[m["file_id"].get<std::string>()].count(person) ? 1 : 0;
                }
                perPerson[person][t] = k;
                overall[t].found += k.found;
                overall[t].right += k.right;
                overall[t].theirs += k.theirs;
            }
        }
        std::printf("%-16s", "recall/precision");
        for (const float t : kThresholds) std::printf("  %9.2f", t);
        std::printf("\n");
        for (const auto& [person, byThreshold] : perPerson) {
            std::printf("%-16s", (person + " (" + std::to_string(byThreshold.begin()->second.theirs) + ")").c_str());
            for (const float t : kThresholds)
                std::printf("  %4.2f/%4.2f", byThreshold.at(t).recall(), byThreshold.at(t).precision());
            std::printf("\n");
        }
        std::printf("%-16s", "overall");
        for (const float t : kThresholds) std::printf("  %4.2f/%4.2f", overall[t].recall(), overall[t].precision());
        std::printf("\n\nlowest score of a photograph of the person: %.2f; highest of anyone else's: %.2f\n",
                    lowestRight, highestWrong);
        std::printf("the service's threshold: %.2f\n", kFaceMatchThreshold);
    }
    return status;
}
