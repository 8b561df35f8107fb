#include "selection.h"

#include "phash.h"
#include "scores.h"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <unordered_set>

namespace keepframe {

float eyeScore(const ImageRecord& frame) {
    if (frame.faces.empty()) return 1.0f;
    double sum = 0;
    for (const auto& f : frame.faces) sum += f.eyesOpen;
    return float(sum / double(frame.faces.size()));
}

bool eyesClearlyBetter(float a, float b, float margin) { return a - b > margin; }

bool sharesPeople(const ImageRecord& a, const ImageRecord& b, float threshold) {
    if (a.embeddings.empty() || b.embeddings.empty()) return false;
    // The share is taken over a's own faces: not symmetric.
    return matchedShareAtLeast(a.embeddings, b.embeddings, threshold, ShareRatio(0.5), a.embeddings.size());
}

int newFaces(const ImageRecord& frame, const FrameList& references, float threshold) {
    int n = 0;
    for (const auto& e : frame.embeddings) {
        bool seen = false;
        for (const ImageRecord* r : references) {
            for (const auto& f : r->embeddings)
                if (embeddingSimilarity(e, f) >= threshold) {
                    seen = true;
                    break;
                }
            if (seen) break;
        }
        if (!seen) ++n;
    }
    return n;
}

namespace {

bool contains(const FrameList& list, const ImageRecord* f) {
    return std::find(list.begin(), list.end(), f) != list.end();
}

bool scoresTied(float a, float b, float tolerance) {
    return std::abs(a - b) <= tolerance * std::max(std::abs(a), std::abs(b));
}

// Every embedding of the frame matches a face of one of the references (a
// frame without faces brings nobody new).
bool bringsNobodyNew(const ImageRecord& frame, const FrameList& references, float threshold) {
    return newFaces(frame, references, threshold) == 0;
}

bool nearDuplicateOfAny(const ImageRecord& frame, const FrameList& others, int distance) {
    return std::any_of(others.begin(), others.end(),
                       [&](const ImageRecord* o) { return phashDistance(frame.phash, o->phash) <= distance; });
}

// The person a cluster is attributed to: the matched person of highest
// importance (strictly higher replaces; importance 0 never counts).
int32_t clusterPerson(const FrameList& cluster, const std::vector<PersonRecord>& persons, float threshold) {
    int32_t person = -1;
    float best = 0.0f;
    for (const ImageRecord* f : cluster)
        for (const auto& e : f->embeddings) {
            const auto [id, importance] = matchPerson(e, persons, threshold);
            if (id >= 0 && importance > best) {
                best = importance;
                person = id;
            }
        }
    return person;
}

bool clusterHasVip(const FrameList& cluster, const std::vector<PersonRecord>& persons, float threshold) {
    for (const ImageRecord* f : cluster)
        for (const auto& e : f->embeddings)
            if (matchPerson(e, persons, threshold).first == 0) return true;
    return false;
}

bool hasFaces(const FrameList& cluster) {
    return std::any_of(cluster.begin(), cluster.end(), [](const ImageRecord* f) { return !f->faces.empty(); });
}

int quotaOf(size_t frames) { return frames <= 1 ? 0 : frames <= 4 ? 1 : int(frames / 5); }

// Clusters by importance, then size, both descending.
std::vector<std::pair<int32_t, const FrameList*>> orderByImportance(const ClusterMap& clusters,
                                                                    const std::vector<PersonRecord>& persons,
                                                                    float threshold) {
    std::vector<std::tuple<float, size_t, int32_t, const FrameList*>> keyed;
    for (const auto& [id, frames] : clusters)
        keyed.emplace_back(clusterImportance(frames, persons, threshold), frames.size(), id, &frames);
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        if (std::get<0>(a) != std::get<0>(b)) return std::get<0>(a) > std::get<0>(b);
        return std::get<1>(a) > std::get<1>(b);
    });
    std::vector<std::pair<int32_t, const FrameList*>> out;
    for (const auto& k : keyed) out.emplace_back(std::get<2>(k), std::get<3>(k));
    return out;
}

void markPick(ImageRecord& f, const std::string& reason, int32_t person, int32_t clusterId, int32_t clusterSize) {
    f.reason = reason;
    f.selected = 1;
    f.personIndex = person;
    f.pickClusterId = clusterId;
    f.clusterSize = clusterSize;
}

}  // namespace

std::pair<ImageRecord*, int> mostNewFaces(const FrameList& run, const FrameList& references, const FrameList& excluded,
                                          const EngineConfig& config) {
    ImageRecord* best = nullptr;
    int count = 0;
    for (ImageRecord* g : run) {
        if (contains(excluded, g)) continue;
        const int n = newFaces(*g, references, config.faceMatchThreshold);
        if (!best) {
            best = g;
            count = n;
        } else if (std::abs(count - n) > config.newFaceTieBand) {
            if (n > count) {
                best = g;
                count = n;
            }
        } else if (n >= 1 && phashDistance(g->phash, best->phash) <= config.sameShotDistance &&
                   sharesPeople(*g, *best, config.faceMatchThreshold) &&
                   eyesClearlyBetter(eyeScore(*g), eyeScore(*best), config.eyeTieMargin)) {
            best = g;
            count = n;
        }
    }
    return {best, count};
}

FrameList pickFromCluster(const FrameList& cluster, Category category, int quota, const EngineConfig& config) {
    FrameList picks;
    if (cluster.empty() || quota < 1) return picks;
    FrameList candidates;
    for (ImageRecord* f : cluster)
        if (f->exposure >= config.minSelectExposure) candidates.push_back(f);
    if (candidates.empty()) return picks;
    std::stable_sort(candidates.begin(), candidates.end(), [](const ImageRecord* a, const ImageRecord* b) {
        return dscFileNumber(a->filename) < dscFileNumber(b->filename);
    });
    const bool coverage = category == Category::Group && config.groupCoverageEnabled &&
                          int(cluster.size()) >= config.groupCoverageMinClusterSize;
    const float threshold = config.faceMatchThreshold;

    for (size_t start = 0; start < candidates.size(); start += 5) {
        const FrameList run(candidates.begin() + long(start),
                            candidates.begin() + long(std::min(start + 5, candidates.size())));
        // The run's winner.
        ImageRecord* m = run.front();
        float o = faceScore(*m, category, config);
        for (size_t i = 1; i < run.size(); ++i) {
            ImageRecord* c = run[i];
            const float t = faceScore(*c, category, config);
            const bool tie = scoresTied(t, o, config.scoreTieTolerance);
            const bool sameShot = tie && phashDistance(c->phash, m->phash) <= config.sameShotDistance &&
                                  sharesPeople(*c, *m, threshold);
            const float eyeC = eyeScore(*c), eyeM = eyeScore(*m);
            const bool cBetter = eyesClearlyBetter(eyeC, eyeM, config.eyeTieMargin);
            const bool decidedByEyes = sameShot && (cBetter || eyesClearlyBetter(eyeM, eyeC, config.eyeTieMargin));
            const bool takes = decidedByEyes ? cBetter : t > o;
            if (takes) {
                m = c;
                o = t;
            }
        }
        picks.push_back(m);
        if (!coverage || m->embeddings.empty()) continue;

        // A second frame showing people the winner and the previous pick do not.
        FrameList recent = {m};
        if (picks.size() >= 2) recent.push_back(picks[picks.size() - 2]);
        FrameList excluded = {m};
        ImageRecord* v = nullptr;
        for (;;) {
            const auto [cand, k] = mostNewFaces(run, {m}, excluded, config);
            if (!cand || k < 1) break;
            const int need = phashDistance(cand->phash, m->phash) > config.coverageDistinctDistance
                                 ? config.coverageNewFacesDistinct
                                 : config.coverageNewFacesNear;
            if (k >= need && !nearDuplicateOfAny(*cand, recent, config.nearDuplicateDistance) &&
                !bringsNobodyNew(*cand, recent, threshold)) {
                v = cand;
                break;
            }
            excluded.push_back(cand);
        }
        if (!v) continue;
        picks.push_back(v);

        // A third frame adding people neither of the two shows.
        FrameList kept = {m, v};
        excluded = kept;
        for (;;) {
            const auto [u, k] = mostNewFaces(run, kept, excluded, config);
            if (!u || k < 1) break;
            const int distance = std::min(phashDistance(u->phash, m->phash), phashDistance(u->phash, v->phash));
            const int need = distance > config.coverageDistinctDistance ? config.coverageNewFacesDistinct
                                                                        : config.coverageNewFacesNear;
            if (k >= need && !nearDuplicateOfAny(*u, kept, config.nearDuplicateDistance) &&
                !bringsNobodyNew(*u, kept, threshold)) {
                picks.push_back(u);
                break;
            }
            excluded.push_back(u);
        }
    }
    return picks;
}

FrameList selectFrames(std::vector<ImageRecord>& frames, const ClusterMap& venue, const ClusterMap& portrait,
                       const ClusterMap& group, const std::vector<PersonRecord>& persons, const EngineConfig& config) {
    config.log.info("\nPhase 3: Selection (Option B — every cluster max(1,size/5))...\n");
    const float threshold = config.faceMatchThreshold;
    FrameList result;
    std::unordered_set<const ImageRecord*> inResult;
    auto append = [&](ImageRecord* f) {
        if (inResult.insert(f).second) result.push_back(f);
    };

    // Venue: the sharpest well-exposed frame of each of the sharpest clusters.
    std::vector<std::pair<float, const FrameList*>> venueOrder;
    for (const auto& [id, list] : venue) {
        float best = 0;
        for (const ImageRecord* f : list) best = std::max(best, f->sharpness);
        venueOrder.emplace_back(best, &list);
    }
    std::stable_sort(venueOrder.begin(), venueOrder.end(), [](auto& a, auto& b) { return a.first > b.first; });
    const int limit = std::clamp(int(frames.size() / 100), 3, 25);
    int venuePicks = 0;
    for (size_t c = 0; c < venueOrder.size() && int(c) < limit; ++c) {
        const FrameList& list = *venueOrder[c].second;
        ImageRecord* best = nullptr;
        for (ImageRecord* f : list)
            if (f->exposure >= config.minSelectExposure && (!best || f->sharpness > best->sharpness)) best = f;
        if (!best) continue;  // the cluster still used one place
        markPick(*best, "venue", -1, best->clusterId, int32_t(list.size()));
        append(best);
        ++venuePicks;
    }
    config.log.info("  Venue: %d selected\n", venuePicks);

    // Portrait clusters.
    int portraitPicks = 0;
    for (const auto& [id, list] : orderByImportance(portrait, persons, threshold)) {
        if (!hasFaces(*list)) continue;
        const int32_t person = clusterPerson(*list, persons, threshold);
        const FrameList picks = pickFromCluster(*list, Category::Portrait, quotaOf(list->size()), config);
        for (size_t k = 0; k < picks.size(); ++k) {
            markPick(*picks[k], "portrait_p" + std::to_string(person) + (k ? "_multi" : ""), person, id,
                     int32_t(list->size()));
            append(picks[k]);
            ++portraitPicks;
        }
    }
    config.log.info("  Portrait: %d selected from %d clusters\n", portraitPicks, int(portrait.size()));

    // Group clusters.
    int groupPicks = 0, groupClusters = 0;
    for (const auto& [id, list] : orderByImportance(group, persons, threshold)) {
        if (!hasFaces(*list)) continue;
        ++groupClusters;
        const int32_t person = clusterPerson(*list, persons, threshold);
        const bool vip = clusterHasVip(*list, persons, threshold);
        const FrameList picks = pickFromCluster(*list, Category::Group, quotaOf(list->size()), config);
        for (size_t k = 0; k < picks.size(); ++k) {
            markPick(*picks[k], std::string("group") + (vip ? "_vip" : "_open") + (k ? "_multi" : ""), person, id,
                     int32_t(list->size()));
            picks[k]->personFlag = vip;
            append(picks[k]);
            ++groupPicks;
        }
    }
    config.log.info("  Group: %d selected from %d clusters\n", groupPicks, groupClusters);

    // Singles pool: the best third of the frames that were alone in their cluster.
    FrameList pool;
    for (const ClusterMap* map : {&portrait, &group})
        for (const auto& [id, list] : *map)
            if (list.size() == 1 && !list.front()->faces.empty() &&
                list.front()->exposure >= config.minSelectExposure && !inResult.count(list.front()))
                pool.push_back(list.front());
    const size_t take = pool.size() / 3;
    if (take > 0) {
        std::vector<std::pair<float, ImageRecord*>> scored;
        for (ImageRecord* f : pool) scored.emplace_back(faceScore(*f, f->category, config), f);
        std::stable_sort(scored.begin(), scored.end(), [](auto& a, auto& b) { return a.first > b.first; });
        for (size_t i = 0; i < take; ++i) {
            ImageRecord* f = scored[i].second;
            const int32_t person = clusterPerson({f}, persons, threshold);
            markPick(*f, std::string(f->category == Category::Portrait ? "portrait" : "group") + "_single", person,
                     f->clusterId, 1);
            append(f);
        }
        config.log.info("  Singles pool: %d selected from %d pooled size-1 images\n", int(take), int(pool.size()));
    }

    config.log.info("\n  Total selected: %d images\n", int(result.size()));
    return result;
}

}  // namespace keepframe
