#include "clustering.h"

#include "disjoint_set.h"
#include "exif.h"
#include "phash.h"
#include "similarity.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <map>
#include <string>

namespace keepframe {
namespace {

struct Cluster {
    int32_t id;
    FrameList frames;  // scan order
};

FrameList framesOf(std::vector<ImageRecord>& frames, Category category) {
    FrameList out;
    for (auto& f : frames)
        if (f.category == category) out.push_back(&f);
    return out;
}

// The frames grouped by cluster id, ascending.
std::vector<Cluster> clustersOf(const FrameList& frames) {
    std::map<int32_t, FrameList> byId;
    for (ImageRecord* f : frames) byId[f->clusterId].push_back(f);
    std::vector<Cluster> out;
    for (auto& [id, list] : byId) out.push_back({id, std::move(list)});
    return out;
}

int distinctIds(const FrameList& frames) {
    std::set<int32_t> ids;
    for (const ImageRecord* f : frames) ids.insert(f->clusterId);
    return int(ids.size());
}

DisjointSet forestOver(const std::vector<Cluster>& clusters) {
    std::vector<int> sizes;
    for (const auto& c : clusters) sizes.push_back(int(c.frames.size()));
    return DisjointSet(clusters.size(), sizes);
}

// Every frame takes the id of the cluster at the root of its cluster's set.
void relabel(const std::vector<Cluster>& clusters, DisjointSet& forest) {
    for (size_t c = 0; c < clusters.size(); ++c) {
        const int32_t id = clusters[size_t(forest.find(int(c)))].id;
        for (ImageRecord* f : clusters[c].frames) f->clusterId = id;
    }
}

// Step 2: frames of one category linked by perceptual-hash distance.
void phashClusters(FrameList frames, Category category, const EngineConfig& config, int32_t& nextId) {
    const int n = int(frames.size());
    if (n == 0) return;
    DisjointSet forest(size_t(n), std::vector<int>(size_t(n), 1));
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            if (phashDistance(frames[size_t(i)]->phash, frames[size_t(j)]->phash) <= config.phashThreshold &&
                !forest.same(i, j) && forest.size(i) + forest.size(j) <= config.maxClusterSize)
                forest.unite(i, j);
    std::map<int, int32_t> idOfRoot;
    for (int i = 0; i < n; ++i) {
        const int root = forest.find(i);
        auto it = idOfRoot.find(root);
        if (it == idOfRoot.end()) it = idOfRoot.emplace(root, nextId++).first;
        frames[size_t(i)]->clusterId = it->second;
    }
    config.log.info("  %-10s: %d → %d clusters\n", categoryText(category), n, int(idOfRoot.size()));
}

// Up to `limit` embeddings of a cluster, frame by frame, in face order.
std::vector<Embedding> embeddingSample(const FrameList& frames, size_t limit) {
    std::vector<Embedding> sample;
    for (const ImageRecord* f : frames)
        for (const auto& e : f->embeddings) {
            if (sample.size() == limit) return sample;
            sample.push_back(e);
        }
    return sample;
}

// Joins, pair by pair in id order, every two clusters of `frames` whose
// joined size stays within the largest cluster size and that `join` accepts;
// the frames take the ids of the joined clusters.
struct MergeCount {
    int before = 0;
    int merges = 0;
};
template <typename Join>
MergeCount mergeClusterPairs(const FrameList& frames, const EngineConfig& config, Join join) {
    const std::vector<Cluster> clusters = clustersOf(frames);
    const int m = int(clusters.size());
    DisjointSet forest = forestOver(clusters);
    int merges = 0;
    for (int a = 0; a < m; ++a)
        for (int b = a + 1; b < m; ++b)
            if (!forest.same(a, b) && forest.size(a) + forest.size(b) <= config.maxClusterSize &&
                join(clusters[size_t(a)].frames, clusters[size_t(b)].frames)) {
                forest.unite(a, b);
                ++merges;
            }
    relabel(clusters, forest);
    return {m, merges};
}

// Two clusters with a pair of frames just beyond the hash threshold whose
// sampled faces match.
bool nearMissOfSameFaces(const FrameList& a, const FrameList& b, const EngineConfig& config) {
    const auto nearMiss = [&](const ImageRecord* p) {
        return std::any_of(b.begin(), b.end(), [&](const ImageRecord* q) {
            const int d = phashDistance(p->phash, q->phash);
            return d >= config.nearMissMinDistance && d <= config.nearMissMaxDistance;
        });
    };
    if (std::none_of(a.begin(), a.end(), nearMiss)) return false;
    const auto sampleA = embeddingSample(a, 10);
    const auto sampleB = embeddingSample(b, 10);
    if (sampleA.empty() || sampleB.empty()) return false;
    const int k = matchingEmbeddings(sampleA, sampleB, config.nearMissFaceSimilarity);
    return ShareRatio(config.nearMissMatchRatio).reachedBy(size_t(k), std::max(sampleA.size(), sampleB.size()));
}

// Step 2.5: clusters just beyond the hash threshold joined when their faces match.
void nearMissMerge(FrameList frames, Category category, const EngineConfig& config) {
    if (frames.size() < 2) return;
    const MergeCount n = mergeClusterPairs(frames, config, [&](const FrameList& a, const FrameList& b) {
        return nearMissOfSameFaces(a, b, config);
    });
    config.log.info("  %-10s: %d → %d (%d near-miss merges)\n", categoryText(category), n.before, distinctIds(frames),
                    n.merges);
}

// Step 2.6: small group clusters close in camera file number joined when
// their lead frames agree in sharpness and exposure.
std::set<int32_t> proximityMerge(FrameList frames, const EngineConfig& config) {
    std::vector<Cluster> clusters = clustersOf(frames);
    struct Lead {
        int64_t number;
        float sharpness, exposure;
    };
    std::vector<Lead> leads;
    for (const auto& c : clusters) {
        const ImageRecord* lead = c.frames.front();
        for (const ImageRecord* f : c.frames)
            if (f->sharpness > lead->sharpness) lead = f;
        leads.push_back({dscFileNumber(lead->filename), lead->sharpness, lead->exposure});
    }
    std::vector<size_t> order(clusters.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return leads[a].number < leads[b].number; });
    std::vector<Cluster> sorted;
    std::vector<Lead> sortedLeads;
    for (size_t i : order) {
        sorted.push_back(clusters[i]);
        sortedLeads.push_back(leads[i]);
    }

    const int m = int(sorted.size());
    DisjointSet forest = forestOver(sorted);
    int merges = 0;
    const auto ownCount = [&](int c) { return int(sorted[size_t(c)].frames.size()); };
    for (int i = 0; i < m; ++i) {
        if (ownCount(i) > config.proximityMaxClusterSize) continue;
        for (int j = i + 1; j < m; ++j) {
            const Lead &li = sortedLeads[size_t(i)], &lj = sortedLeads[size_t(j)];
            if (lj.number - li.number > config.proximityMaxGap) break;
            if (forest.same(i, j) || ownCount(j) > config.proximityMaxClusterSize) continue;
            const float lo = std::min(li.sharpness, lj.sharpness), hi = std::max(li.sharpness, lj.sharpness);
            if (hi > 0 && lo / hi < 1 - config.proximitySharpnessTolerance) continue;
            if (std::abs(li.exposure - lj.exposure) > config.proximityExposureTolerance) continue;
            if (forest.size(i) + forest.size(j) <= config.proximityMaxMergedSize) {
                forest.unite(i, j);
                ++merges;
            }
        }
    }
    relabel(sorted, forest);
    config.log.info("  group     : %d → %d (%d proximity merges)\n", m, distinctIds(frames), merges);

    std::map<int, int> clustersPerRoot;
    for (int c = 0; c < m; ++c) ++clustersPerRoot[forest.find(c)];
    std::set<int32_t> protectedIds;
    for (const auto& [root, count] : clustersPerRoot)
        if (count > 1) protectedIds.insert(sorted[size_t(root)].id);
    for (ImageRecord* f : frames)
        if (protectedIds.count(f->clusterId)) f->proximityProtected = true;
    config.log.info("  Protected %d proximity-merged clusters from Step 4 split\n", int(protectedIds.size()));
    return protectedIds;
}

// Step 3: clusters showing the same people joined.
void faceMerge(FrameList frames, Category category, const EngineConfig& config) {
    if (frames.size() < 2) return;
    const MergeCount n = mergeClusterPairs(frames, config, [&](const FrameList& a, const FrameList& b) {
        return clusterFaceMatch(a, b, config.faceMatchThreshold, config.faceMergeRatio);
    });
    config.log.info("  %s: %d → %d (%d merges)\n", categoryText(category), n.before, distinctIds(frames), n.merges);
}

// Step 4: clusters mixing different people split apart.
void splitMixed(FrameList frames, Category category, float ratio, const EngineConfig& config, int32_t& nextId) {
    if (frames.empty()) return;
    const std::vector<Cluster> clusters = clustersOf(frames);
    int splits = 0;
    for (const auto& c : clusters) {
        if (c.frames.size() < 2) continue;
        const bool isGroup = category == Category::Group;
        if (isGroup && std::any_of(c.frames.begin(), c.frames.end(), [](auto* f) { return f->proximityProtected; }))
            continue;
        const auto groups = splitClusterByFaces(c.frames, ratio, config.faceMatchThreshold);
        for (size_t g = 1; g < groups.size(); ++g) {
            const int32_t id = nextId++;
            for (ImageRecord* f : groups[g]) f->clusterId = id;
            ++splits;
        }
    }
    config.log.info("  %s: %d → %d (%d splits)\n", categoryText(category), int(clusters.size()), distinctIds(frames),
                    splits);
}

// Share of a's embeddings matched in b, over the larger embedding count.
bool framesShareFaces(const ImageRecord& a, const ImageRecord& b, float similarity, float ratio) {
    return shareFaces(a.embeddings, b.embeddings, similarity, ShareRatio(ratio));
}

}  // namespace

bool clusterFaceMatch(const FrameList& a, const FrameList& b, float similarity, float ratio) {
    auto sample = [](const FrameList& frames) {
        FrameList out;
        for (ImageRecord* f : frames)
            if (!f->embeddings.empty() && out.size() < 10) out.push_back(f);
        return out;
    };
    const FrameList A = sample(a), B = sample(b);
    if (A.empty() || B.empty()) return false;
    // Stops as soon as the share of matching frame pairs is certain either way.
    const size_t pairs = A.size() * B.size(), needed = ShareRatio(ratio).neededOf(pairs);
    size_t matches = 0, seen = 0;
    for (const ImageRecord* fa : A)
        for (const ImageRecord* fb : B) {
            if (matches >= needed) return true;
            if (matches + (pairs - seen) < needed) return false;
            ++seen;
            if (framesShareFaces(*fa, *fb, similarity, ratio)) ++matches;
        }
    return matches >= needed;
}

std::vector<FrameList> splitClusterByFaces(const FrameList& frames, float ratio, float similarity) {
    FrameList withFaces, without;
    for (ImageRecord* f : frames) (f->embeddings.empty() ? without : withFaces).push_back(f);
    if (withFaces.size() < 2) return {frames};

    const int n = int(withFaces.size());
    DisjointSet forest{size_t(n)};
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            if (framesShareFaces(*withFaces[size_t(i)], *withFaces[size_t(j)], similarity, ratio)) forest.unite(i, j);

    std::map<int, FrameList> byRoot;  // ordered by root index
    for (int i = 0; i < n; ++i) byRoot[forest.find(i)].push_back(withFaces[size_t(i)]);
    if (byRoot.size() == 1) return {frames};

    std::vector<FrameList> groups;
    size_t largest = 0;
    for (auto& [root, members] : byRoot) {
        if (!groups.empty() && members.size() > groups[largest].size()) largest = groups.size();
        groups.push_back(std::move(members));
    }
    groups[largest].insert(groups[largest].end(), without.begin(), without.end());
    return groups;
}

std::set<int32_t> clusterFrames(std::vector<ImageRecord>& frames, const EngineConfig& config, int32_t& nextClusterId) {
    config.log.info("Step 2: pHash clustering (threshold=%d)...\n", config.phashThreshold);
    for (const Category category : {Category::Venue, Category::Portrait, Category::Group})
        phashClusters(framesOf(frames, category), category, config, nextClusterId);

    config.log.info("\nStep 2.5: Near-miss pHash merge (dist %d-%d, ratio>=%.1f)...\n", config.nearMissMinDistance,
                    config.nearMissMaxDistance, config.nearMissMatchRatio);
    for (const Category category : {Category::Portrait, Category::Group})
        nearMissMerge(framesOf(frames, category), category, config);

    config.log.info("\nStep 2.6: Proximity merge for group (DSC gap<=%d)...\n", config.proximityMaxGap);
    std::set<int32_t> protectedIds = proximityMerge(framesOf(frames, Category::Group), config);

    config.log.info("\nStep 3: Face-based MERGE...\n");
    for (const Category category : {Category::Portrait, Category::Group})
        faceMerge(framesOf(frames, category), category, config);

    config.log.info("\nStep 4: Splitting mixed clusters...\n");
    splitMixed(framesOf(frames, Category::Portrait), Category::Portrait, config.portraitSplitRatio, config,
               nextClusterId);
    splitMixed(framesOf(frames, Category::Group), Category::Group, config.groupSplitRatio, config, nextClusterId);
    return protectedIds;
}

void numberClustersByTime(std::vector<ImageRecord>& frames) {
    struct Key {
        std::string time;
        bool hasTime = false;
    };
    std::map<Category, std::map<int32_t, Key>> keys;  // category -> cluster id -> key
    for (const auto& f : frames) {
        Key& k = keys[f.category][f.clusterId];
        if (isKnownCaptureTime(f.captureTime) && (!k.hasTime || f.captureTime < k.time)) {
            k.time = f.captureTime;
            k.hasTime = true;
        }
    }
    std::map<Category, std::map<int32_t, int32_t>> numbers;
    for (auto& [category, clusters] : keys) {
        std::vector<std::pair<std::string, int32_t>> order;
        for (auto& [id, k] : clusters) order.emplace_back(k.hasTime ? k.time : "9999", id);
        std::sort(order.begin(), order.end());
        int32_t n = 0;
        for (const auto& [key, id] : order) numbers[category][id] = ++n;
    }
    for (auto& f : frames) f.clusterNumber = numbers[f.category][f.clusterId];
}

}  // namespace keepframe
