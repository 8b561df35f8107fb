// Clustering and person building on a synthetic 5,000-frame shoot: bursts of
// near-identical hashes, about 60 % of frames with faces drawn from 40 guests.
#include "bench_common.h"
#include "bench_sections.h"

#include "clustering.h"
#include "persons.h"

#include <cmath>
#include <cstdio>
#include <random>

namespace keepframe::bench {

void clusteringBench() {
    const int kFrames = 5000, kGuests = 40, kDim = 512;
    std::mt19937 rng(11);
    std::normal_distribution<float> gauss(0.0f, 1.0f);
    auto unit = [](std::vector<float> v) {
        double n = 0;
        for (float x : v) n += double(x) * x;
        for (float& x : v) x = float(x / std::sqrt(n));
        return v;
    };
    std::vector<std::vector<float>> guests;
    for (int g = 0; g < kGuests; ++g) {
        std::vector<float> v(kDim);
        for (float& x : v) x = gauss(rng);
        guests.push_back(unit(v));
    }
    // A face of guest g: the guest's direction plus noise (similarity ~0.7).
    auto faceOf = [&](int g) {
        std::vector<float> v = guests[size_t(g)];
        for (float& x : v) x += 0.03f * gauss(rng);
        return unit(v);
    };

    std::vector<ImageRecord> frames(kFrames);
    uint64_t scene = 0;
    std::uniform_int_distribution<int> burst(2, 8), guest(0, kGuests - 1), bit(0, 63), roll(0, 99);
    int left = 0, people = 0;
    std::vector<int> cast;  // the guests of the current burst
    for (int i = 0; i < kFrames; ++i) {
        ImageRecord& f = frames[size_t(i)];
        if (left == 0) {
            left = burst(rng);
            scene = (uint64_t(rng()) << 32) | rng();
            const int r = roll(rng);
            people = r < 40 ? 0 : r < 80 ? 1 + roll(rng) % 2 : 3 + roll(rng) % 6;
            cast.clear();
            for (int p = 0; p < people; ++p) cast.push_back(guest(rng));
        }
        --left;
        f.filename = "DSC_" + std::to_string(1000 + i) + ".jpg";
        f.phash = scene ^ (uint64_t(1) << bit(rng)) ^ (uint64_t(1) << bit(rng));
        f.category = people == 0 ? Category::Venue : people <= 2 ? Category::Portrait : Category::Group;
        f.sharpness = 50.0f + float(roll(rng));
        f.exposure = 0.5f + float(roll(rng)) / 400.0f;
        char when[32];
        std::snprintf(when, sizeof when, "2024:06:15 %02d:%02d:%02d", 12 + i / 3600, i / 60 % 60, i % 60);
        f.captureTime = when;
        for (int g : cast) f.embeddings.push_back(faceOf(g));
        f.valid = true;
    }

    EngineConfig config;
    int32_t next = 0;
    const auto start = std::chrono::steady_clock::now();
    clusterFrames(frames, config, next);
    numberClustersByTime(frames);
    const double clustering = secondsSince(start);
    ClusterMap portraits, groups;
    for (auto& f : frames) {
        if (f.category == Category::Portrait) portraits[f.clusterId].push_back(&f);
        if (f.category == Category::Group) groups[f.clusterId].push_back(&f);
    }
    const auto t = std::chrono::steady_clock::now();
    const auto persons = buildPersons(portraits, groups, config.faceMatchThreshold, config.log);
    const double building = secondsSince(t);
    std::printf("clustering: %d synthetic frames (%d guests, 512-float embeddings)\n", kFrames, kGuests);
    std::printf("  clustering and numbering: %.1f ms (%d cluster ids used)\n", clustering * 1000, next);
    std::printf("  person building:          %.1f ms (%zu persons)\n", building * 1000, persons.size());
    std::printf("  total:                    %.1f ms (goal: well under 1000 ms)\n", (clustering + building) * 1000);
}

}  // namespace keepframe::bench
