#include "captured_log.h"
#include "frames.h"
#include "reduction.h"

#include <gtest/gtest.h>

using namespace keepframe;
using namespace keepframe::testing;

namespace {
ImageRecord pick(const std::string& name, Category category, float score, int32_t cluster,
                 uint64_t phash = 0, std::vector<std::vector<float>> people = {}) {
    ImageRecord f = frame(name, category, phash, std::move(people));
    f.finalScore = score;
    f.pickClusterId = cluster;
    return f;
}

std::vector<std::string> names(const FrameList& l) {
    std::vector<std::string> out;
    for (auto* f : l) out.push_back(f->filename);
    return out;
}

FrameList reduce(std::vector<ImageRecord>& frames) {
    FrameList in;
    for (auto& f : frames) in.push_back(&f);
    keepframe::testing::CapturedLog quiet;
    EngineConfig config;
    config.log = quiet.log();
    return reduceSelection(in, config);
}
}  // namespace

TEST(Reduction, ScoreFloorProtectsEachClustersBest) {
    // Hashes far apart so that nothing is a duplicate.
    std::vector<ImageRecord> frames = {pick("p60", Category::Portrait, 0.60f, 1, 0x0),
                                       pick("p35", Category::Portrait, 0.35f, 1, 0xFFFF),
                                       pick("p40", Category::Portrait, 0.40f, 1, 0xFFFF0000),
                                       pick("g27", Category::Group, 0.27f, 2, 0xFFFF00000000),
                                       pick("g30", Category::Group, 0.30f, 2, 0xFFFF000000000000),
                                       pick("g28", Category::Group, 0.28f, 3, 0xFF00FF00FF00FF00),
                                       pick("g29", Category::Group, 0.29f, 3, 0x00FF00FF00FF00FF),
                                       pick("v", Category::Venue, 0.01f, 4, 0xF0F0F0F0F0F0F0F0),
                                       pick("single", Category::Portrait, 0.10f, 5, 0x0F0F0F0F0F0F0F0F)};
    const auto out = names(reduce(frames));
    EXPECT_EQ(out, (std::vector<std::string>{"p60", "p40", "g30", "g29", "g28", "single", "v"}));
}

TEST(Reduction, StrictDuplicatesAndTheEyesSwap) {
    // Distance 12 with the same people and untied scores: the lower one goes.
    std::vector<ImageRecord> a = {pick("hi", Category::Portrait, 0.9f, 1, 0x0, {person(0)}),
                                  pick("lo", Category::Portrait, 0.5f, 2, flip(0, 12), {person(0)})};
    EXPECT_EQ(names(reduce(a)), (std::vector<std::string>{"hi"}));
    // Distance 13: both stay.
    a[1].phash = flip(0, 13);
    EXPECT_EQ(names(reduce(a)), (std::vector<std::string>{"hi", "lo"}));
    // No faces on the later frame: never a duplicate.
    std::vector<ImageRecord> faceless = {pick("hi", Category::Portrait, 0.9f, 1, 0x0, {person(0)}),
                                         pick("lo", Category::Portrait, 0.5f, 2, 0x0, {})};
    EXPECT_EQ(names(reduce(faceless)).size(), 2u);

    // 0.700 and 0.690 are tied; the lower one has clearly better eyes and takes the place.
    std::vector<ImageRecord> tied = {pick("first", Category::Portrait, 0.700f, 1, 0x0, {person(0)}),
                                     pick("eyes", Category::Portrait, 0.690f, 2, flip(0, 3), {person(0)}),
                                     pick("other", Category::Portrait, 0.600f, 3, ~0ull, {person(1)})};
    tied[0].faces[0].eyesOpen = 0.60f;
    tied[1].faces[0].eyesOpen = 0.95f;
    EXPECT_EQ(names(reduce(tied)), (std::vector<std::string>{"eyes", "other"}));
}

TEST(Reduction, PrimaryReviewSplit) {
    std::vector<ImageRecord> frames;
    for (int i = 0; i < 30; ++i) frames.push_back(pick("f" + std::to_string(i), Category::Venue, float(i), i));
    FrameList list;
    for (auto& f : frames) list.push_back(&f);
    auto [primary, review] = splitPrimaryReview(list, 75);
    EXPECT_EQ(primary.size(), 30u);
    EXPECT_TRUE(review.empty());
    std::tie(primary, review) = splitPrimaryReview(list, 10);
    ASSERT_EQ(primary.size(), 10u);
    EXPECT_EQ(review.size(), 20u);
    EXPECT_EQ(primary.front()->filename, "f29");  // highest score first
    EXPECT_GE(primary.back()->finalScore, review.front()->finalScore);
}
