#include "captured_log.h"
#include "frames.h"
#include "persons.h"

#include <gtest/gtest.h>

using namespace keepframe;
using namespace keepframe::testing;

namespace {
std::vector<PersonRecord> build(std::vector<ImageRecord>& portraits, std::vector<ImageRecord>& groups) {
    ClusterMap p, g;
    for (size_t i = 0; i < portraits.size(); ++i) p[int32_t(i)].push_back(&portraits[i]);
    for (size_t i = 0; i < groups.size(); ++i) g[int32_t(100 + i)].push_back(&groups[i]);
    keepframe::testing::CapturedLog quiet;
    return buildPersons(p, g, 0.5f, quiet.log());
}
}  // namespace

TEST(Persons, VipHasMostPortraitsAndGroupOnlyPeopleHaveNoImportance) {
    std::vector<ImageRecord> portraits = {
        frame("p1.jpg", Category::Portrait, 0, {person(1)}), frame("p2.jpg", Category::Portrait, 0, {person(2)}),
        frame("p3.jpg", Category::Portrait, 0, {person(2)}),
        // A three-face portrait counts only its first face: person 1, not 3 or 4.
        frame("p4.jpg", Category::Portrait, 0, {person(1), person(3), person(4)})};
    std::vector<ImageRecord> groups = {frame("g1.jpg", Category::Group, 0, {person(5), person(2), person(6)}),
                                       frame("g2.jpg", Category::Group, 0, {person(1), person(5)})};
    const auto persons = build(portraits, groups);
    // Persons 1 and 2 both have 2 portraits. A group frame counts for one
    // person only, the first of its faces with the best similarity: g1 goes to
    // person 5 (new, similarity 1, ahead of person 2), g2 to person 1. So
    // person 1 has more frames in all and comes first; person 6 was met but
    // counts no frame.
    ASSERT_EQ(persons.size(), 4u);
    const std::vector<int> kFirstAxis = {1, 2, 5, 6}, kPortraits = {2, 2, 0, 0}, kGroups = {1, 0, 1, 0};
    for (size_t i = 0; i < persons.size(); ++i) {
        EXPECT_EQ(persons[i].personId, int32_t(i));
        EXPECT_EQ(persons[i].anchor, person(kFirstAxis[i])) << i;
        EXPECT_EQ(persons[i].portraitCount, kPortraits[i]) << i;
        EXPECT_EQ(persons[i].groupCount, kGroups[i]) << i;
        EXPECT_EQ(persons[i].totalCount, kPortraits[i] + kGroups[i]) << i;
    }
    EXPECT_EQ(persons[0].samples, (std::vector<std::string>{"p1.jpg", "p4.jpg", "g2.jpg"}));
    EXPECT_EQ(persons[1].samples, (std::vector<std::string>{"p2.jpg", "p3.jpg"}));
    EXPECT_EQ(persons[2].samples, (std::vector<std::string>{"g1.jpg"}));
    // Nobody was made from the second and third faces of p4.
    for (const auto& p : persons) {
        EXPECT_NE(p.anchor, person(3));
        EXPECT_NE(p.anchor, person(4));
    }
    // The group-only person 5 has importance 0 and cannot be matched to a cluster with any weight.
    const auto five = std::find_if(persons.begin(), persons.end(), [](auto& p) { return p.anchor == person(5); });
    ASSERT_NE(five, persons.end());
    EXPECT_EQ(five->portraitCount, 0);
    EXPECT_FLOAT_EQ(five->portraitImportance, 0.0f);
    EXPECT_FLOAT_EQ(persons[0].portraitImportance, 1.0f);
    const auto [id, importance] = matchPerson(person(5), persons, 0.5f);
    EXPECT_EQ(id, five->personId);
    EXPECT_FLOAT_EQ(importance, 0.0f);
}

TEST(Persons, AnchorsBecomeTheMeanAndSamplesStayDistinctAndCapped) {
    std::vector<ImageRecord> portraits;
    for (int i = 0; i < 7; ++i)
        portraits.push_back(
            frame("p" + std::to_string(i % 6) + ".jpg", Category::Portrait, 0, {i % 2 ? near(0, 0.8f) : person(0)}));
    std::vector<ImageRecord> none;
    const auto persons = build(portraits, none);
    ASSERT_EQ(persons.size(), 1u);
    EXPECT_EQ(persons[0].portraitCount, 7);
    EXPECT_EQ(persons[0].samples, (std::vector<std::string>{"p0.jpg", "p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg"}));
    const auto mean = averageEmbedding(persons[0].embeddings);
    EXPECT_EQ(persons[0].anchor, mean);
    EXPECT_NEAR(embeddingSimilarity(mean, mean), 1.0, 1e-6);
}

TEST(Persons, PerFrameFields) {
    std::vector<PersonRecord> persons(3);
    persons[0].anchor = person(0);
    persons[1].anchor = person(1);
    persons[2].anchor = person(2);
    ImageRecord f = frame("x", Category::Group, 0, {person(1), person(0)});
    EXPECT_EQ(facePersonsOf(f, persons, 0.5f), (std::vector<int32_t>{1, 0}));
    EXPECT_TRUE(onlyTopPersonsOf(facePersonsOf(f, persons, 0.5f), persons.size()));
    EXPECT_FLOAT_EQ(vipSimilarityOf(f, persons), 1.0f);

    ImageRecord stranger = frame("y", Category::Group, 0, {near(0, 0.3f), person(2)});
    const auto fp = facePersonsOf(stranger, persons, 0.5f);
    EXPECT_EQ(fp, (std::vector<int32_t>{-1, 2}));
    EXPECT_FALSE(onlyTopPersonsOf(fp, persons.size()));
    EXPECT_NEAR(vipSimilarityOf(stranger, persons), 0.3f, 1e-6);  // reported even below the threshold

    // One person only: every face must be Person 0. None: never.
    EXPECT_FALSE(onlyTopPersonsOf({0, 1}, 1));
    EXPECT_TRUE(onlyTopPersonsOf({0, 0}, 1));
    EXPECT_FALSE(onlyTopPersonsOf({}, 3));
    EXPECT_FALSE(onlyTopPersonsOf({-1}, 0));
    EXPECT_FLOAT_EQ(vipSimilarityOf(f, {}), 0.0f);

    // Equal similarity to two persons: the later one wins.
    persons[2].anchor = person(1);
    EXPECT_EQ(facePersonsOf(frame("z", Category::Group, 0, {person(1)}), persons, 0.5f), (std::vector<int32_t>{2}));
}

TEST(Persons, CoverChoice) {
    std::vector<ResultImage> rows(5);
    const Category cat[] = {Category::Venue, Category::Portrait, Category::Group, Category::Portrait, Category::Venue};
    const float score[] = {2.0f, 0.6f, 0.7f, 0.9f, 3.0f};
    for (size_t i = 0; i < rows.size(); ++i) {
        rows[i].category = cat[i];
        rows[i].score = score[i];
        rows[i].engineSelected = true;
    }
    rows[3].engineSelected = false;
    EXPECT_EQ(chooseCover(rows), 2);  // best selected portrait or group
    rows[1].hasVip = true;
    EXPECT_EQ(chooseCover(rows), 1);  // the VIP wins whatever the score
    rows[1].hasVip = false;
    rows[1].engineSelected = rows[2].engineSelected = false;
    EXPECT_EQ(chooseCover(rows), 4);  // only venue frames: the best one
    for (auto& r : rows) r.engineSelected = false;
    EXPECT_EQ(chooseCover(rows), -1);
}
