#include "captured_log.h"
#include "frames.h"
#include "scores.h"
#include "selection.h"

#include <gtest/gtest.h>

#include <deque>

using namespace keepframe;
using namespace keepframe::testing;

namespace {

struct Shoot {
    std::vector<ImageRecord> frames;
    ClusterMap venue, portrait, group;
    std::vector<PersonRecord> persons;

    // Adds frames as one cluster of the given category; returns its id.
    int32_t add(std::vector<ImageRecord> cluster) {
        const int32_t id = nextId++;
        for (auto& f : cluster) {
            f.clusterId = id;
            frames.push_back(std::move(f));
        }
        return id;
    }
    // Builds the maps once all frames are in (pointers stay valid after that).
    FrameList select(EngineConfig config = {}) {
        venue.clear();
        portrait.clear();
        group.clear();
        for (auto& f : frames) {
            ClusterMap& m = f.category == Category::Venue ? venue : f.category == Category::Portrait ? portrait : group;
            m[f.clusterId].push_back(&f);
        }
        keepframe::testing::CapturedLog captured;
        config.log = captured.log();
        FrameList picked = selectFrames(frames, venue, portrait, group, persons, config);
        log = captured.info();
        return picked;
    }
    std::string log;
    int32_t nextId = 0;
};

std::vector<ImageRecord> burst(Category category, int n, int firstNumber,
                               std::vector<std::vector<float>> people = {person(0)}) {
    std::vector<ImageRecord> out;
    for (int i = 0; i < n; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "DSC_%04d.jpg", firstNumber + i);
        out.push_back(frame(name, category, 0x1234, people));
    }
    return out;
}

int countReason(const FrameList& picks, const std::string& prefix) {
    int n = 0;
    for (auto* f : picks) n += f->reason.rfind(prefix, 0) == 0;
    return n;
}

}  // namespace

TEST(Selection, VenueLimitGrowsWithTheShootAndBadClustersUseAPlace) {
    for (auto [total, expected] : {std::pair{250, 3}, std::pair{1000, 10}, std::pair{5000, 25}, std::pair{9000, 25}}) {
        Shoot s;
        for (int c = 0; c < 30; ++c) {
            auto v = burst(Category::Venue, 1, 100 + c, {});
            v[0].sharpness = float(1000 - c);
            s.add(std::move(v));
        }
        while (int(s.frames.size()) < total) s.frames.push_back(frame("x.jpg", Category::Group));
        const FrameList picks = s.select();
        EXPECT_EQ(int(picks.size()), expected) << total << " frames";
        for (auto* f : picks) EXPECT_EQ(f->reason, "venue");
    }
    // The sharpest cluster is too dark: it yields nothing but still takes a place.
    Shoot s;
    for (int c = 0; c < 5; ++c) {
        auto v = burst(Category::Venue, 2, 10 * c, {});
        v[0].sharpness = float(500 - c);
        s.add(std::move(v));
    }
    for (auto& f : s.frames)
        if (f.clusterId == 0) f.exposure = 0.2f;
    const FrameList picks = s.select();
    EXPECT_EQ(picks.size(), 2u);
    EXPECT_EQ(picks[0]->clusterId, 1);
    EXPECT_EQ(picks[0]->clusterSize, 2);
}

TEST(Selection, RunsOfFiveDecideThePortraitPicks) {
    EngineConfig config;
    auto picks = [&](std::vector<ImageRecord> cluster) {
        FrameList list;
        std::deque<ImageRecord> storage(cluster.begin(), cluster.end());
        for (auto& f : storage) list.push_back(&f);
        const int quota = list.size() <= 1 ? 0 : list.size() <= 4 ? 1 : int(list.size() / 5);
        return pickFromCluster(list, Category::Portrait, quota, config).size();
    };
    EXPECT_EQ(picks(burst(Category::Portrait, 7, 1)), 2u);  // quota 1, but runs of 5 and 2
    EXPECT_EQ(picks(burst(Category::Portrait, 5, 1)), 1u);
    auto dim = burst(Category::Portrait, 6, 1);
    dim[0].exposure = dim[3].exposure = 0.3f;
    EXPECT_EQ(picks(dim), 1u);
    EXPECT_EQ(picks(burst(Category::Portrait, 1, 1)), 0u);  // alone: quota 0
}

TEST(Selection, TiedScoresFromTheSameShotGoToTheOpenEyes) {
    EngineConfig config;
    auto a = frame("DSC_0001.jpg", Category::Portrait, 0x1234, {person(0)});
    auto b = frame("DSC_0002.jpg", Category::Portrait, flip(0x1234, 12), {person(0)});
    a.expression = 0.80f;  // higher face score, eyes half shut
    b.expression = 0.775f;
    a.faces[0].eyesOpen = 0.3f;
    b.faces[0].eyesOpen = 0.9f;
    const float sa = faceScore(a, Category::Portrait, config), sb = faceScore(b, Category::Portrait, config);
    ASSERT_GT(sa, sb);
    ASSERT_LE(sa - sb, 0.05f * sa);  // tied
    EXPECT_EQ(pickFromCluster({&a, &b}, Category::Portrait, 1, config), (FrameList{&b}));

    // A different shot (distance 13) or different people: the higher score wins.
    b.phash = flip(0x1234, 13);
    EXPECT_EQ(pickFromCluster({&a, &b}, Category::Portrait, 1, config), (FrameList{&a}));
    b.phash = 0x1234;
    b.embeddings = {person(1)};
    EXPECT_EQ(pickFromCluster({&a, &b}, Category::Portrait, 1, config), (FrameList{&a}));
}

TEST(Selection, CoveragePicksOnlyInGroupClustersOfFourOrMore) {
    EngineConfig config;
    // The winner shows persons 0-2; later frames add 3-5 and then 6-8, each a
    // different view (far in hash) so one new face is enough.
    auto make = [](int n) {
        std::vector<ImageRecord> c;
        const std::vector<std::vector<std::vector<float>>> casts = {
            {person(0), person(1), person(2)}, {person(3), person(4), person(5)}, {person(6), person(0), person(1)},
            {person(0), person(1), person(2)}};
        const uint64_t hashes[] = {0x0, ~0ull, 0x00000000FFFFFFFFull, 0x0};
        for (int i = 0; i < n; ++i) {
            c.push_back(
                frame("DSC_000" + std::to_string(i + 1) + ".jpg", Category::Group, hashes[i], casts[size_t(i)]));
            c.back().expression = 0.75f;
        }
        c[0].faces[0].gradient = 100;  // the clear winner
        return c;
    };
    auto four = make(4), three = make(3);
    FrameList l4, l3;
    for (auto& f : four) l4.push_back(&f);
    for (auto& f : three) l3.push_back(&f);
    const FrameList p4 = pickFromCluster(l4, Category::Group, 1, config);
    EXPECT_EQ(p4, (FrameList{&four[0], &four[1], &four[2]}));
    EXPECT_EQ(pickFromCluster(l3, Category::Group, 1, config), (FrameList{&three[0]}));
    config.groupCoverageEnabled = false;
    EXPECT_EQ(pickFromCluster(l4, Category::Group, 1, config).size(), 1u);
}

TEST(Selection, MostNewFacesPrefersMoreNewPeople) {
    EngineConfig config;
    auto m = frame("m", Category::Group, 0, {person(0), person(1)});
    auto one = frame("one", Category::Group, 0, {person(0), person(2)});
    auto three = frame("three", Category::Group, 0, {person(3), person(4), person(5)});
    auto none = frame("none", Category::Group);
    const auto [best, count] = mostNewFaces({&m, &one, &three, &none}, {&m}, {&m}, config);
    EXPECT_EQ(best, &three);
    EXPECT_EQ(count, 3);
    const auto [nobody, zero] = mostNewFaces({&m}, {&m}, {&m}, config);
    EXPECT_EQ(nobody, nullptr);
    EXPECT_EQ(zero, 0);
}

TEST(Selection, ReasonsPersonsAndTheSinglesPool) {
    Shoot s;
    s.persons.resize(2);
    s.persons[0].anchor = person(0);
    s.persons[0].portraitImportance = 1.0f;
    s.persons[1].personId = 1;
    s.persons[1].anchor = person(1);
    s.persons[1].portraitImportance = 0.0f;  // seen only in groups
    s.add(burst(Category::Portrait, 2, 1, {person(1)}));  // importance 0: no person
    s.add(burst(Category::Portrait, 6, 10, {person(0)}));
    s.add(burst(Category::Group, 4, 20, {person(0), person(1), person(5)}));
    s.add(burst(Category::Group, 2, 30, {person(6), person(7), person(5)}));
    for (int i = 0; i < 7; ++i) s.add(burst(Category::Portrait, 1, 40 + 3 * i, {person(2 + i % 2)}));
    const FrameList picks = s.select();

    EXPECT_EQ(countReason(picks, "portrait_p-1"), 1);
    EXPECT_EQ(countReason(picks, "portrait_p0"), 2);  // 6 frames: runs of 5 and 1
    EXPECT_EQ(countReason(picks, "portrait_p0_multi"), 1);
    EXPECT_EQ(countReason(picks, "group_vip"), 1);
    EXPECT_EQ(countReason(picks, "group_open"), 1);
    EXPECT_EQ(countReason(picks, "portrait_single"), 2);  // 7 pooled: a third
    for (auto* f : picks) {
        if (f->reason == "group_vip") {
            EXPECT_TRUE(f->personFlag);
        }
        if (f->reason == "group_open") {
            EXPECT_FALSE(f->personFlag);
        }
        if (f->reason == "portrait_single") {
            EXPECT_EQ(f->clusterSize, 1);
        }
        EXPECT_EQ(f->selected, 1);
    }
    // Picks come in the documented order: portraits, groups, singles.
    EXPECT_EQ(picks.back()->reason, "portrait_single");
    EXPECT_NE(s.log.find("  Singles pool: 2 selected from 7 pooled size-1 images"), std::string::npos) << s.log;

    // Two singles give a pool of two and no picks (and no line).
    Shoot small;
    small.add(burst(Category::Portrait, 1, 1));
    small.add(burst(Category::Portrait, 1, 5));
    EXPECT_TRUE(small.select().empty());
    EXPECT_EQ(small.log.find("Singles pool"), std::string::npos);
}

TEST(Selection, EyeTieBreaksAgreeAtTheMargin) {
    EngineConfig config;
    // 0.503 against 0.493: the difference is above the 0.01 margin in float,
    // although 0.493 + 0.01 is not below 0.503. Every tie-break must decide
    // these two frames the same way.
    auto a = frame("DSC_0001.jpg", Category::Portrait, 0x1234, {person(0), person(1)});
    auto b = frame("DSC_0002.jpg", Category::Portrait, 0x1234, {person(0), person(1)});
    for (auto& f : a.faces) f.eyesOpen = 0.493f;
    for (auto& f : b.faces) f.eyesOpen = 0.503f;
    ASSERT_GT(eyeScore(b) - eyeScore(a), config.eyeTieMargin);
    ASSERT_FALSE(eyeScore(b) > eyeScore(a) + config.eyeTieMargin);
    ASSERT_EQ(faceScore(a, Category::Portrait, config), faceScore(b, Category::Portrait, config));

    ImageRecord stranger = frame("r", Category::Group, 0, {person(7)});
    EXPECT_EQ(pickFromCluster({&a, &b}, Category::Portrait, 1, config), (FrameList{&b}));
    EXPECT_EQ(mostNewFaces({&a, &b}, {&stranger}, {}, config).first, &b);
    // The frame with the better eyes first: neither rule moves to the other.
    EXPECT_EQ(pickFromCluster({&b, &a}, Category::Portrait, 1, config), (FrameList{&b}));
    EXPECT_EQ(mostNewFaces({&b, &a}, {&stranger}, {}, config).first, &b);
    // Within the margin the first frame stays.
    for (auto& f : b.faces) f.eyesOpen = 0.5f;
    EXPECT_EQ(pickFromCluster({&a, &b}, Category::Portrait, 1, config), (FrameList{&a}));
    EXPECT_EQ(mostNewFaces({&a, &b}, {&stranger}, {}, config).first, &a);
}
