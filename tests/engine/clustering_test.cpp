#include "captured_log.h"
#include "clustering.h"
#include "frames.h"
#include "similarity.h"

#include <gtest/gtest.h>

#include <set>

using namespace keepframe;
using namespace keepframe::testing;

namespace {

// Runs clustering and returns its console output.
std::string cluster(std::vector<ImageRecord>& frames, EngineConfig config = {}) {
    int32_t next = 0;
    keepframe::testing::CapturedLog captured;
    config.log = captured.log();
    clusterFrames(frames, config, next);
    return captured.info();
}

std::set<int32_t> ids(const std::vector<ImageRecord>& frames) {
    std::set<int32_t> out;
    for (const auto& f : frames) out.insert(f.clusterId);
    return out;
}

const uint64_t kBase = 0x0123456789ABCDEFull;

}  // namespace

TEST(Clustering, HashThresholdIsInclusiveAndVenueIsNeverRevisited) {
    std::vector<ImageRecord> frames = {frame("a.jpg", Category::Venue, kBase),
                                       frame("b.jpg", Category::Venue, flip(kBase, 15)),
                                       frame("c.jpg", Category::Venue, flip(kBase, 31))};
    // c is 16 from b ... and 31 from a: b-c distance is 16.
    const std::string log = cluster(frames);
    EXPECT_EQ(frames[0].clusterId, frames[1].clusterId);
    EXPECT_NE(frames[1].clusterId, frames[2].clusterId);
    EXPECT_NE(log.find("  venue     : 3 → 2 clusters\n"), std::string::npos) << log;
    // Ids come from one counter: 0 and 1.
    EXPECT_EQ(ids(frames), (std::set<int32_t>{0, 1}));

    // d and e are a near miss with one face, f and g one hash with two people:
    // as portraits they are merged and split, as venue frames they stay as
    // the hash clustering left them.
    auto shoot = [](Category category) {
        return std::vector<ImageRecord>{frame("d.jpg", category, kBase, {person(0)}),
                                        frame("e.jpg", category, flip(kBase, 18), {person(0)}),
                                        frame("f.jpg", category, ~kBase, {person(1)}),
                                        frame("g.jpg", category, ~kBase, {person(2)})};
    };
    std::vector<ImageRecord> portraits = shoot(Category::Portrait), venue = shoot(Category::Venue);
    cluster(portraits);
    ASSERT_EQ(portraits[0].clusterId, portraits[1].clusterId);
    ASSERT_NE(portraits[2].clusterId, portraits[3].clusterId);
    cluster(venue);
    EXPECT_NE(venue[0].clusterId, venue[1].clusterId);
    EXPECT_EQ(venue[2].clusterId, venue[3].clusterId);
}

TEST(Clustering, LongRunOfNearIdenticalFramesIsCutAtFifty) {
    std::vector<ImageRecord> frames;
    for (int i = 0; i < 60; ++i)
        frames.push_back(frame("f" + std::to_string(100 + i) + ".jpg", Category::Venue, kBase));
    cluster(frames);
    std::map<int32_t, int> sizes;
    for (const auto& f : frames) ++sizes[f.clusterId];
    ASSERT_EQ(sizes.size(), 2u);
    EXPECT_EQ(sizes[frames.front().clusterId], 50);
    EXPECT_EQ(sizes[frames.back().clusterId], 10);
}

TEST(Clustering, NearMissMergeNeedsDistanceSixteenToTwentyAndMatchingFaces) {
    struct Case {
        int distance;
        std::vector<float> second;
        bool merged;
    };
    for (const Case& c : {Case{16, person(0), true}, Case{20, person(0), true}, Case{21, person(0), false},
                          Case{18, near(0, 0.35f), false}}) {
        std::vector<ImageRecord> frames = {frame("a.jpg", Category::Portrait, kBase, {person(0)}),
                                           frame("b.jpg", Category::Portrait, flip(kBase, c.distance), {c.second})};
        const std::string log = cluster(frames);
        const std::string expected = c.merged ? "  portrait  : 2 → 1 (1 near-miss merges)\n"
                                              : "  portrait  : 2 → 2 (0 near-miss merges)\n";
        EXPECT_NE(log.find(expected), std::string::npos) << "distance " << c.distance << "\n" << log;
    }
}

TEST(Clustering, ProximityMergeOfSmallGroupClusters) {
    // Four single-frame group clusters with unrelated hashes and no faces.
    std::vector<ImageRecord> frames = {frame("DSC_0010.jpg", Category::Group, 0x0),
                                       frame("DSC_0015.jpg", Category::Group, 0xFFFFFFFF00000000ull),
                                       frame("DSC_0030.jpg", Category::Group, 0x00000000FFFFFFFFull),
                                       frame("DSC_0033.jpg", Category::Group, 0xFFFFFFFFFFFFFFFFull)};
    frames[3].sharpness = 40;  // less than half as sharp as DSC_0030's 100
    const std::string log = cluster(frames);
    EXPECT_EQ(frames[0].clusterId, frames[1].clusterId);  // gap 5
    EXPECT_NE(frames[1].clusterId, frames[2].clusterId);  // gap 15
    EXPECT_NE(frames[2].clusterId, frames[3].clusterId);  // sharpness guard
    EXPECT_TRUE(frames[0].proximityProtected && frames[1].proximityProtected);
    EXPECT_FALSE(frames[2].proximityProtected || frames[3].proximityProtected);
    EXPECT_NE(log.find("  group     : 4 → 3 (1 proximity merges)\n  Protected 1 proximity-merged clusters"),
              std::string::npos)
        << log;

    // The exposure guard.
    frames[3].sharpness = 100;
    frames[3].exposure = 0.5f;  // 0.3 from DSC_0030
    for (auto& f : frames) f.proximityProtected = false;
    cluster(frames);
    EXPECT_NE(frames[2].clusterId, frames[3].clusterId);

    // A cluster of five frames never takes part, however close.
    std::vector<ImageRecord> burst;
    for (int i = 0; i < 5; ++i) burst.push_back(frame("DSC_004" + std::to_string(i) + ".jpg", Category::Group, kBase));
    burst.push_back(frame("DSC_0046.jpg", Category::Group, ~kBase));
    cluster(burst);
    EXPECT_NE(burst[0].clusterId, burst[5].clusterId);
    EXPECT_FALSE(burst[5].proximityProtected);
}

TEST(Clustering, ProximityLineIsPrintedWithoutGroupFrames) {
    std::vector<ImageRecord> frames = {frame("a.jpg", Category::Venue)};
    const std::string log = cluster(frames);
    EXPECT_NE(log.find("  group     : 0 → 0 (0 proximity merges)\n  Protected 0 proximity-merged clusters"),
              std::string::npos)
        << log;
}

TEST(Clustering, MixedPortraitClusterSplitsAndTheLowerRootKeepsItsId) {
    std::vector<ImageRecord> frames = {frame("a.jpg", Category::Portrait, kBase, {person(0)}),
                                       frame("b.jpg", Category::Portrait, kBase, {person(1)}),
                                       frame("c.jpg", Category::Portrait, kBase, {person(0)})};
    const std::string log = cluster(frames);
    EXPECT_EQ(frames[0].clusterId, 0);  // the group of a and c keeps the old id
    EXPECT_EQ(frames[2].clusterId, 0);
    EXPECT_EQ(frames[1].clusterId, 1);  // b takes the next counter value
    EXPECT_NE(log.find("  portrait: 1 → 2 (1 splits)\n"), std::string::npos) << log;
}

TEST(Clustering, SplitKeepsFacelessFramesWithTheLargestGroup) {
    ImageRecord a = frame("a.jpg", Category::Portrait, 0, {person(1)}),
                b = frame("b.jpg", Category::Portrait, 0, {person(0)}), c = frame("c.jpg", Category::Portrait),
                d = frame("d.jpg", Category::Portrait, 0, {person(0)});
    const auto groups = splitClusterByFaces({&a, &b, &c, &d}, 0.8f, 0.5f);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0], (FrameList{&a}));
    EXPECT_EQ(groups[1], (FrameList{&b, &d, &c}));

    // A two-frame cluster of which only one frame has a face is never split.
    const auto one = splitClusterByFaces({&a, &c}, 0.8f, 0.5f);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0], (FrameList{&a, &c}));
}

TEST(Clustering, FaceMatchBetweenClusters) {
    ImageRecord a = frame("a", Category::Group, 0, {person(0), person(1)}),
                b = frame("b", Category::Group, 0, {person(0), person(1)}),
                c = frame("c", Category::Group, 0, {person(0), person(2)}), none = frame("n", Category::Group);
    EXPECT_TRUE(clusterFaceMatch({&a}, {&b}, 0.5f, 0.7f));
    EXPECT_FALSE(clusterFaceMatch({&a}, {&c}, 0.5f, 0.7f));  // 1 of 2 faces
    EXPECT_TRUE(clusterFaceMatch({&a}, {&c}, 0.5f, 0.5f));
    EXPECT_FALSE(clusterFaceMatch({&a}, {&none}, 0.5f, 0.1f));
}

TEST(Numbering, ChronologicalPerCategoryWithUndatedLast) {
    std::vector<ImageRecord> frames = {frame("a", Category::Portrait, 0, {}, "2024:05:01 12:00:00"),
                                       frame("b", Category::Portrait, 0, {}, ""),
                                       frame("c", Category::Portrait, 0, {}, "2024:05:01 09:00:00.5"),
                                       frame("d", Category::Portrait, 0, {}, "2024:05:01 09:00:00"),
                                       frame("e", Category::Venue, 0, {}, ""),
                                       frame("f", Category::Venue, 0, {}, "")};
    const int32_t cluster[] = {7, 3, 5, 9, 2, 1};
    for (size_t i = 0; i < frames.size(); ++i) frames[i].clusterId = cluster[i];
    numberClustersByTime(frames);
    EXPECT_EQ(frames[3].clusterNumber, 1);  // 09:00:00 is a prefix of 09:00:00.5: earlier
    EXPECT_EQ(frames[2].clusterNumber, 2);
    EXPECT_EQ(frames[0].clusterNumber, 3);
    EXPECT_EQ(frames[1].clusterNumber, 4);  // no time: after the dated ones
    EXPECT_EQ(frames[5].clusterNumber, 1);  // undated category: by cluster id
    EXPECT_EQ(frames[4].clusterNumber, 2);
}

TEST(Numbering, TimesTheCameraDidNotKnowCountAsUndated) {
    std::vector<ImageRecord> frames = {frame("a", Category::Group, 0, {}, "0000:00:00 00:00:00"),
                                       frame("b", Category::Group, 0, {}, "    :  :     :  :  "),
                                       frame("c", Category::Group, 0, {}, "2024:05:01 12:00:00")};
    const int32_t cluster[] = {1, 2, 3};
    for (size_t i = 0; i < frames.size(); ++i) frames[i].clusterId = cluster[i];
    numberClustersByTime(frames);
    EXPECT_EQ(frames[2].clusterNumber, 1);
    EXPECT_EQ(frames[0].clusterNumber, 2);  // undated: by cluster id, after the dated one
    EXPECT_EQ(frames[1].clusterNumber, 3);
}

TEST(ShareRatio, CountsAreComparedExactly) {
    // The float 0.6 is a little above 0.6, the float 0.8 too: 3 of 5 and 4
    // of 5 must still reach them.
    EXPECT_TRUE(ShareRatio(0.6f).reachedBy(3, 5));
    EXPECT_FALSE(ShareRatio(0.6f).reachedBy(2, 5));
    EXPECT_TRUE(ShareRatio(0.8f).reachedBy(4, 5));
    EXPECT_FALSE(ShareRatio(0.5).reachedBy(0, 0));  // nothing to share
    EXPECT_EQ(ShareRatio(0.6f).neededOf(5), 3u);
    EXPECT_EQ(ShareRatio(0.7f).neededOf(3), 3u);  // 2.1 rounds up
    EXPECT_EQ(ShareRatio(1.5f).neededOf(4), 5u);  // out of reach
}

TEST(ShareRatio, ThreeOfFiveFacesAtSixTenthsKeepFramesTogether) {
    // Five faces each, three of them the same people.
    ImageRecord a = frame("a", Category::Group, 0, {person(0), person(1), person(2), person(3), person(4)});
    ImageRecord b = frame("b", Category::Group, 0, {person(0), person(1), person(2), person(5), person(6)});
    ImageRecord c = frame("c", Category::Group, 0, {person(0), person(1), person(5), person(6), person(7)});
    EXPECT_EQ(splitClusterByFaces({&a, &b}, 0.6f, 0.5f).size(), 1u);
    EXPECT_EQ(splitClusterByFaces({&a, &c}, 0.6f, 0.5f).size(), 2u);  // 2 of 5
    EXPECT_TRUE(clusterFaceMatch({&a}, {&b}, 0.5f, 0.6f));
    // Three of five frame pairs matching is the cluster-level boundary.
    ImageRecord other = frame("o", Category::Group, 0, {person(7)});
    EXPECT_TRUE(clusterFaceMatch({&a, &a, &a, &other, &other}, {&b}, 0.5f, 0.6f));
    EXPECT_FALSE(clusterFaceMatch({&a, &a, &other, &other, &other}, {&b}, 0.5f, 0.6f));
    // Four of five at the portrait ratio 0.8.
    ImageRecord d = frame("d", Category::Portrait, 0, {person(0), person(1), person(2), person(3), person(7)});
    EXPECT_EQ(splitClusterByFaces({&a, &d}, 0.8f, 0.5f).size(), 1u);

    // The near-miss merge with a ratio of 0.6: samples of five faces, three shared.
    EngineConfig config;
    config.nearMissMatchRatio = 0.6f;
    std::vector<ImageRecord> frames = {frame("a.jpg", Category::Group, kBase, a.embeddings),
                                       frame("b.jpg", Category::Group, flip(kBase, 18), b.embeddings)};
    const std::string log = cluster(frames, config);
    EXPECT_NE(log.find("  group     : 2 → 1 (1 near-miss merges)\n"), std::string::npos) << log;
}
