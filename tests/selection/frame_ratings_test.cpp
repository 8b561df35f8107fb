// Ratings and colour labels of the review: the keys, what reaches the project
// database, and which frames an export restricted to marked frames takes.
#include "export_marks.h"
#include "frame_ratings.h"
#include "library_fixture.h"

#include <gtest/gtest.h>

using namespace keepframe;

namespace {

struct Ratings : keepframe::testing::LibraryFixture {
    FrameRatings ratings;

    void saveProject(const std::vector<std::string>& names) {
        CullResult r;
        for (const std::string& name : names) {
            ResultImage img;
            img.filename = name;
            img.path = dir.str() + "/shoot/" + name;
            img.category = Category::Portrait;
            img.clusterNumber = 1;
            img.engineSelected = name != "candidate.jpg";
            r.images.push_back(img);
        }
        r.totalInput = int32_t(names.size());
        projectId = store.saveCullResult(r, input, {}, 1);
        ASSERT_GE(projectId, 0) << store.lastError().toStdString();
    }
    // What the project database holds for a frame, read afresh.
    FrameMarks stored(const QString& filename) {
        ProjectStore reader;
        EXPECT_TRUE(reader.openRegistry());
        const QHash<int, FrameMarks> marks = reader.frameMarksForProject(projectId);
        for (const HandoverRow& row : reader.loadHandoverRows(projectId))
            if (row.filename == filename) return marks.value(row.id);
        ADD_FAILURE() << "no frame " << filename.toStdString();
        return {};
    }
};

}  // namespace

TEST_F(Ratings, TheKeysRateAndLabelAndTheSameLabelKeyClears) {
    saveProject({"a.jpg", "b.jpg", "candidate.jpg"});
    ASSERT_TRUE(ratings.loadFromProject(store, projectId)) << ratings.lastError().toStdString();
    EXPECT_EQ(ratings.size(), 3);  // frames the engine left out can be rated too

    EXPECT_TRUE(ratings.pressDigit({"a.jpg"}, 4));
    EXPECT_TRUE(ratings.pressDigit({"a.jpg"}, 6));
    EXPECT_EQ(ratings.marksMap("a.jpg"), QVariantMap({{"rating", 4}, {"label", "red"}}));
    EXPECT_EQ(stored("a.jpg"), FrameMarks({4, ColorLabel::Red}));
    EXPECT_TRUE(ratings.pressDigit({"a.jpg"}, 6));  // again: cleared, the rating stays
    EXPECT_EQ(stored("a.jpg"), FrameMarks({4, ColorLabel::None}));
    EXPECT_TRUE(ratings.pressDigit({"a.jpg"}, 0));  // no stars is a rating too
    EXPECT_EQ(ratings.marksMap("a.jpg")["rating"].toInt(), 0);
    EXPECT_TRUE(ratings.clearRating("a.jpg"));
    EXPECT_EQ(ratings.marksMap("a.jpg"), QVariantMap({{"rating", -1}, {"label", ""}}));
    EXPECT_TRUE(stored("a.jpg").isEmpty());

    // Several checked frames: a label key sets it on all unless all have it.
    EXPECT_TRUE(ratings.pressDigit({"a.jpg"}, 7));
    EXPECT_TRUE(ratings.pressDigit({"a.jpg", "candidate.jpg"}, 7));
    EXPECT_EQ(stored("candidate.jpg").label, ColorLabel::Yellow);
    EXPECT_EQ(ratings.marksOf("a.jpg").label, ColorLabel::Yellow);
    EXPECT_TRUE(ratings.pressDigit({"a.jpg", "candidate.jpg"}, 7));
    EXPECT_TRUE(stored("candidate.jpg").isEmpty());
    EXPECT_TRUE(ratings.marksOf("a.jpg").isEmpty());
    EXPECT_TRUE(ratings.pressDigit({"a.jpg", "b.jpg"}, 9));
    EXPECT_TRUE(ratings.pressDigit({"a.jpg", "b.jpg"}, 5));

    // Reopened, the review shows what was stored; undo puts a frame's marks back in one write.
    FrameRatings reopened;
    ASSERT_TRUE(reopened.loadFromProject(store, projectId));
    EXPECT_EQ(reopened.marksOf("b.jpg"), FrameMarks({5, ColorLabel::Blue}));
    const FrameMarks before = reopened.marksOf("b.jpg");
    EXPECT_TRUE(reopened.pressDigit({"b.jpg"}, 8));
    EXPECT_TRUE(reopened.setMarks("b.jpg", before));
    EXPECT_EQ(stored("b.jpg"), before);
}

TEST_F(Ratings, WhatCannotBeStoredLeavesTheFrameAsItWas) {
    saveProject({"a.jpg", "b.jpg"});
    ASSERT_TRUE(ratings.loadFromProject(store, projectId));
    ASSERT_TRUE(ratings.pressDigit({"a.jpg"}, 3));

    EXPECT_FALSE(ratings.setRating("a.jpg", 6));
    EXPECT_FALSE(ratings.setRating("a.jpg", -1));
    EXPECT_FALSE(ratings.pressDigit({"a.jpg"}, 10));
    EXPECT_FALSE(ratings.setRating("nowhere.jpg", 2));
    EXPECT_NE(ratings.lastError().indexOf("nowhere.jpg"), -1);
    EXPECT_EQ(ratings.marksOf("a.jpg"), FrameMarks({3, ColorLabel::None}));
    EXPECT_TRUE(ratings.marksOf("nowhere.jpg").isEmpty());

    // Several frames stop at the first that fails; the ones before it are written.
    EXPECT_FALSE(ratings.pressDigit({"a.jpg", "nowhere.jpg", "b.jpg"}, 1));
    EXPECT_EQ(stored("a.jpg").rating, 1);
    EXPECT_TRUE(stored("b.jpg").isEmpty());

    // With another project open in the store, the marks still reach their own.
    CullResult other;
    other.images.push_back(ResultImage{});
    other.images.back().filename = "x.jpg";
    other.images.back().path = "/x/x.jpg";
    other.images.back().category = Category::Venue;
    const int first = projectId;
    ASSERT_GE(store.saveCullResult(other, "/x", {}, 1), 0);
    ASSERT_NE(store.currentProjectId(), first);
    EXPECT_TRUE(ratings.pressDigit({"b.jpg"}, 2));
    EXPECT_EQ(stored("b.jpg").rating, 2);

    // A project database gone from under the review: the write fails and the review keeps the old marks.
    ASSERT_TRUE(store.deleteProject(first));
    EXPECT_FALSE(ratings.pressDigit({"b.jpg"}, 5));
    EXPECT_FALSE(ratings.lastError().isEmpty());
    EXPECT_EQ(ratings.marksOf("b.jpg").rating, 2);
}

TEST_F(Ratings, FramesWithoutADatabaseRowLiveInTheReviewOnly) {
    saveProject({"a.jpg"});
    int calls = 0;
    ratings.setWriter([&calls](int, const FrameMarks&, QString&) { return ++calls > 0; });
    ratings.addFrame("a.jpg", -1, {2, ColorLabel::Green});  // reopened from a project file
    EXPECT_TRUE(ratings.pressDigit({"a.jpg"}, 8));
    EXPECT_TRUE(ratings.pressDigit({"a.jpg"}, 4));
    EXPECT_EQ(ratings.marksOf("a.jpg"), FrameMarks({4, ColorLabel::None}));
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(stored("a.jpg").isEmpty());
    ratings.clear();
    EXPECT_FALSE(ratings.contains("a.jpg"));
}

TEST(MarkExport, AtLeastNStarsOrALabel) {
    FrameRatings r;
    r.addFrame("unmarked.jpg", -1);
    r.addFrame("zero.jpg", -1, {0, ColorLabel::None});
    r.addFrame("two.jpg", -1, {2, ColorLabel::None});
    r.addFrame("four.jpg", -1, {4, ColorLabel::None});
    r.addFrame("red.jpg", -1, {std::nullopt, ColorLabel::Red});
    r.addFrame("one-blue.jpg", -1, {1, ColorLabel::Blue});
    const QStringList all{"unmarked.jpg", "zero.jpg", "two.jpg", "four.jpg", "red.jpg", "one-blue.jpg", "unknown.jpg"};

    struct Case {
        QVariantMap options;
        QStringList expected;
    };
    const Case cases[] = {
        {{}, all},                                            // no condition: everything
        {{{"minStars", 0}}, all},
        {{{"minStars", 2}}, {"two.jpg", "four.jpg"}},
        {{{"minStars", 5}}, {}},
        {{{"minStars", 9}}, {}},
        {{{"labelled", true}}, {"red.jpg", "one-blue.jpg"}},
        {{{"minStars", 3}, {"labelled", true}}, {"four.jpg", "red.jpg", "one-blue.jpg"}},
        {{{"minStars", "many"}, {"labelled", true}}, {"red.jpg", "one-blue.jpg"}},
    };
    for (const Case& c : cases) {
        const MarkExportFilter f = markExportFilterFrom(c.options);
        EXPECT_EQ(framesPassingMarkFilter(all, r, f), c.expected) << QVariant(c.options).toString().toStdString()
                                                                   << f.minStars << f.labelled;
    }
}
