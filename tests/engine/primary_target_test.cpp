#include "frame_analysis.h"
#include "primary_target.h"

#include <gtest/gtest.h>

using namespace keepframe;

TEST(PrimaryTarget, HundredFramesAutomaticAndRequested) {
    auto t = computePrimaryTarget(-1, 100);
    EXPECT_EQ(t.target, 18);
    EXPECT_EQ(t.lower, 10);
    EXPECT_EQ(t.upper, 40);
    EXPECT_EQ(computePrimaryTarget(0, 100).target, 18);   // 0 is automatic too
    EXPECT_EQ(computePrimaryTarget(5, 100).target, 10);   // below the range: the lower bound
    EXPECT_EQ(computePrimaryTarget(60, 100).target, 40);  // above: the upper bound
    EXPECT_EQ(computePrimaryTarget(25, 100).target, 25);
    EXPECT_EQ(computePrimaryTarget(10, 100).target, 10);  // exactly the lower bound is honoured
}

TEST(PrimaryTarget, SmallAndEmptyShoots) {
    auto three = computePrimaryTarget(-1, 3);  // round(0.54) = 1
    EXPECT_EQ(three.target, 1);
    EXPECT_EQ(three.lower, 1);
    EXPECT_EQ(three.upper, 1);
    auto none = computePrimaryTarget(-1, 0);
    EXPECT_EQ(none.target, 1);
    EXPECT_EQ(none.lower, 1);
    EXPECT_EQ(none.upper, 1);
    EXPECT_EQ(computePrimaryTarget(50, 4).target, 2);  // upper = round(1.6) = 2
}

TEST(PrimaryTarget, HalvesRoundAwayFromZero) {
    // 0.18 x 25 = 4.5 -> 5; 0.1 x 25 = 2.5 -> 3; 0.4 x 5 = 2; 0.1 x 15 = 1.5 -> 2.
    auto t25 = computePrimaryTarget(-1, 25);
    EXPECT_EQ(t25.target, 5);
    EXPECT_EQ(t25.lower, 3);
    EXPECT_EQ(t25.upper, 10);
    EXPECT_EQ(computePrimaryTarget(-1, 15).lower, 2);
    // A large shoot: no overflow, 18 % of a million.
    EXPECT_EQ(computePrimaryTarget(-1, 1000000).target, 180000);
}

TEST(ThreadCount, Rules) {
    EXPECT_EQ(analysisThreadCount(0, 3, 8), 3);    // fewer files than threads
    EXPECT_EQ(analysisThreadCount(0, 0, 8), 1);    // no files: one thread
    EXPECT_EQ(analysisThreadCount(0, 100, 16), 8); // capped at 8
    EXPECT_EQ(analysisThreadCount(0, 100, 0), 4);  // unknown hardware: 4
    EXPECT_EQ(analysisThreadCount(-3, 100, 2), 2); // negative is automatic
    EXPECT_EQ(analysisThreadCount(3, 100, 16), 3); // an explicit count wins
    EXPECT_EQ(analysisThreadCount(2, 1, 16), 1);
}
