#include "reduction.h"

#include "phash.h"
#include "selection.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace keepframe {

FrameList reduceSelection(const FrameList& selected, const EngineConfig& config) {
    config.log.info("\nPhase 4 output reduction (Option B):\n");

    std::map<int32_t, float> best;
    for (const ImageRecord* f : selected) {
        auto it = best.find(f->pickClusterId);
        if (it == best.end() || f->finalScore > it->second) best[f->pickClusterId] = f->finalScore;
    }
    FrameList kept;
    for (ImageRecord* f : selected) {
        const bool keep = f->category == Category::Venue ||
                          (f->category == Category::Portrait && f->finalScore >= config.portraitScoreFloor) ||
                          (f->category == Category::Group && f->finalScore >= config.groupScoreFloor) ||
                          f->finalScore >= best[f->pickClusterId] - 0.000001f;
        if (keep) kept.push_back(f);
    }
    config.log.info("  Score floor (best-protected): %d -> %d\n", int(selected.size()), int(kept.size()));

    std::stable_sort(kept.begin(), kept.end(), [](auto* a, auto* b) { return a->finalScore > b->finalScore; });
    FrameList out;
    for (ImageRecord* g : kept) {
        auto dup = std::find_if(out.begin(), out.end(), [&](const ImageRecord* m) {
            return phashDistance(g->phash, m->phash) <= config.sameShotDistance &&
                   sharesPeople(*g, *m, config.faceMatchThreshold);
        });
        if (dup == out.end()) {
            out.push_back(g);
            continue;
        }
        const ImageRecord* m = *dup;
        const bool tied = std::abs(g->finalScore - m->finalScore) <=
                          config.scoreTieTolerance * std::max(std::abs(g->finalScore), std::abs(m->finalScore));
        if (tied && eyesClearlyBetter(eyeScore(*g), eyeScore(*m), config.eyeTieMargin)) *dup = g;
    }
    config.log.info("  Strict final dedup (pHash<=%d AND >=50%% same people): %d -> %d\n", config.sameShotDistance,
                    int(kept.size()), int(out.size()));

    CategoryCounts counts;
    for (const ImageRecord* f : out) counts.add(f->category);
    config.log.info("  Final: %d (V:%d P:%d G:%d)\n", int(out.size()), counts.venue, counts.portrait, counts.group);
    return out;
}

std::pair<FrameList, FrameList> splitPrimaryReview(FrameList frames, int32_t primaryTarget) {
    std::stable_sort(frames.begin(), frames.end(), [](auto* a, auto* b) { return a->finalScore > b->finalScore; });
    const size_t primary = std::min(frames.size(), size_t(std::max(primaryTarget, 0)));
    return {FrameList(frames.begin(), frames.begin() + long(primary)),
            FrameList(frames.begin() + long(primary), frames.end())};
}

}  // namespace keepframe
