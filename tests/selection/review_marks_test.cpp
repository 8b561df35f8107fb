// Undo and redo of the review's decisions, stars and labels on a stored
// project, the grid's filter, and project files carrying the marks: through
// SelectionModel on a real ProjectStore.
#include "decision_history.h"
#include "library_fixture.h"
#include "project_file.h"
#include "review_filter.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

#include <fstream>

using namespace keepframe;

namespace {

// An entry that counts its calls and can be made to fail.
struct Counted {
    int undone = 0, redone = 0;
    bool failing = false;
    DecisionHistory::Entry entry(const QString& label) {
        return {label, [this] { return !failing && ++undone > 0; }, [this] { return !failing && ++redone > 0; }};
    }
};

TEST(DecisionHistory, UndoRedoOrderAndANewDecisionDropsWhatWasTakenBack) {
    DecisionHistory history;
    EXPECT_FALSE(history.undo());
    EXPECT_FALSE(history.redo());
    Counted a, b, c;
    history.push(a.entry("a"));
    history.push(b.entry("b"));
    EXPECT_EQ(history.undoLabel(), "b");
    ASSERT_TRUE(history.undo());
    EXPECT_EQ(b.undone, 1);
    EXPECT_EQ(history.undoLabel(), "a");
    EXPECT_EQ(history.redoLabel(), "b");
    ASSERT_TRUE(history.redo());
    EXPECT_EQ(b.redone, 1);
    EXPECT_FALSE(history.canRedo());
    ASSERT_TRUE(history.undo());
    ASSERT_TRUE(history.undo());
    EXPECT_EQ(a.undone, 1);
    EXPECT_FALSE(history.canUndo());
    history.redo();  // a again, b still to redo
    history.push(c.entry("c"));
    EXPECT_FALSE(history.canRedo());
    EXPECT_EQ(history.undoDepth(), 2);

    // A failed action leaves the entry where it was, to be tried again.
    c.failing = true;
    EXPECT_FALSE(history.undo());
    EXPECT_EQ(history.undoLabel(), "c");
    c.failing = false;
    EXPECT_TRUE(history.undo());
    EXPECT_EQ(history.redoLabel(), "c");
}

TEST(DecisionHistory, KeepsOnlyTheNewestEntries) {
    DecisionHistory history(3);
    std::vector<Counted> counted(5);
    for (int i = 0; i < 5; ++i) history.push(counted[i].entry(QString::number(i)));
    EXPECT_EQ(history.undoDepth(), 3);
    while (history.undo()) {
    }
    EXPECT_EQ(counted[2].undone, 1);
    EXPECT_EQ(counted[1].undone, 0);
}

ReviewFilter::Frame frame(int id, Category category, std::optional<int> stars, ColorLabel label, GridPart part) {
    return ReviewFilter::Frame{id, category, FrameMarks{stars, label}, part};
}

TEST(ReviewFilter, ConditionsCombineAndEachListIsAnyOf) {
    ReviewFilter f;
    const auto portrait4Red = frame(1, Category::Portrait, 4, ColorLabel::Red, GridPart::Kept);
    const auto venue2Blue = frame(2, Category::Venue, 2, ColorLabel::Blue, GridPart::Removed);
    const auto groupUnrated = frame(3, Category::Group, std::nullopt, ColorLabel::None, GridPart::ForReview);
    EXPECT_FALSE(f.active());
    EXPECT_TRUE(f.matches(groupUnrated));

    f.setMinRating(3);
    EXPECT_TRUE(f.matches(portrait4Red));
    EXPECT_FALSE(f.matches(venue2Blue));
    EXPECT_FALSE(f.matches(groupUnrated));  // not rated is below every N
    f.setMinRating(0);

    f.setLabels({ColorLabel::Red, ColorLabel::Blue});
    EXPECT_TRUE(f.matches(portrait4Red));
    EXPECT_TRUE(f.matches(venue2Blue));
    EXPECT_FALSE(f.matches(groupUnrated));
    f.setParts({GridPart::Removed, GridPart::ForReview});
    EXPECT_FALSE(f.matches(portrait4Red));
    EXPECT_TRUE(f.matches(venue2Blue));
    f.setCategory(Category::Portrait);
    EXPECT_FALSE(f.matches(venue2Blue));
    f.setParts({});
    EXPECT_TRUE(f.matches(portrait4Red));
    EXPECT_EQ(f.describe(), "Red or Blue · Portraits");

    // The person: the frames given, and none without a database row.
    f.clear();
    f.setPerson(7, "Anna", {2, 3});
    EXPECT_TRUE(f.active());
    EXPECT_FALSE(f.matches(portrait4Red));
    EXPECT_TRUE(f.matches(venue2Blue));
    EXPECT_FALSE(f.matches(frame(-1, Category::Venue, 2, ColorLabel::Blue, GridPart::Kept)));
    EXPECT_EQ(f.describe(), "Anna");
    f.setMinRating(5);  // the top: no "5+"
    EXPECT_EQ(f.describe(), "★ 5 · Anna");
    f.setMinRating(0);
    f.setPerson(7, "Anna", {});  // an empty set is any person
    EXPECT_FALSE(f.active());
}

TEST(ReviewFilter, TheScreensMapKeepsThePersonAndDropsUnknownNames) {
    ReviewFilter f;
    f.setPerson(4, "Ben", {10});
    EXPECT_TRUE(f.setFromMap({{"minRating", 9}, {"labels", QStringList{"green", "purple"}},
                              {"parts", QStringList{"kept", "lost"}}, {"category", "Featured"}}));
    const QVariantMap m = f.toMap();
    EXPECT_EQ(m["minRating"].toInt(), 0);  // 9 is no rating
    EXPECT_EQ(m["labels"].toStringList(), QStringList{"green"});
    EXPECT_EQ(m["parts"].toStringList(), QStringList{"kept"});
    EXPECT_EQ(m["category"].toString(), "Featured");
    EXPECT_EQ(m["personName"].toString(), "Ben");
    EXPECT_FALSE(f.setFromMap(m));  // nothing changed
    EXPECT_TRUE(f.setFromMap({}));
    EXPECT_TRUE(f.active());  // the person stays
}

struct Marks : keepframe::testing::LibraryFixture {
    // a–f kept by the engine (a, c, e primary), g–h left out; moments of two frames.
    void SetUp() override {
        LibraryFixture::SetUp();
        CullResult r;
        const char* names[] = {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg", "f.jpg", "g.jpg", "h.jpg"};
        for (int i = 0; i < 8; ++i) {
            std::ofstream(dir.file(std::string("shoot/") + names[i])) << "photo " << i;
            ResultImage img;
            img.filename = names[i];
            img.path = input.toStdString() + "/" + names[i];
            img.category = i < 4 ? Category::Portrait : Category::Venue;
            img.clusterNumber = 1 + i / 2;
            img.engineSelected = i < 6;
            img.isPrimary = i % 2 == 0 && i < 6;
            img.captureTime = "2024:06:15 14:00:1" + std::to_string(i);
            r.images.push_back(img);
        }
        // g and h: a moment of their own where nothing is kept.
        r.images[6].clusterNumber = r.images[7].clusterNumber = 9;
        r.totalInput = 8;
        projectId = store.saveCullResult(r, input, {}, 1);
        ASSERT_GE(projectId, 0) << store.lastError().toStdString();
        ASSERT_TRUE(model.loadFromProject(projectId, input));
    }
    int idOf(const QString& name) {
        for (const QVariant& v : store.loadProjectImages(projectId))
            if (v.toMap()["filename"] == name) return v.toMap()["id"].toInt();
        return -1;
    }
    // The stored flag of a frame (-1: no such frame), read through a store of its own.
    int stored(const QString& name) {
        ProjectStore reader;
        EXPECT_TRUE(reader.openRegistry());
        for (const QVariant& v : reader.loadProjectImages(projectId))
            if (v.toMap()["filename"] == name) return v.toMap()["userSelected"].toBool() ? 1 : 0;
        return -1;
    }
    FrameMarks storedMarks(const QString& name) {
        ProjectStore reader;
        EXPECT_TRUE(reader.openRegistry());
        return reader.frameMarksForProject(projectId).value(idOf(name));
    }
    QStringList names(const QVariantList& maps) {
        QStringList out;
        for (const QVariant& v : maps) out << v.toMap()["filename"].toString();
        return out;
    }
    QString statusOf(const QString& name) {
        for (const auto& i : model.images())
            if (i.filename == name) return i.status == SelectionModel::Removed ? "removed" : "kept";
        return "absent";
    }
};

TEST_F(Marks, EveryKindOfDecisionIsUndoneAndRedoneInTheProject) {
    QSignalSpy changed(&model, &SelectionModel::changed);
    model.removeMany({"a.jpg", "b.jpg"});     // the batch button
    model.removeImage("c.jpg");               // the viewer
    model.restoreImage("a.jpg");
    model.setImageSelected(idOf("g.jpg"), true);  // a pool frame kept in the cluster popup
    ASSERT_EQ(statusOf("g.jpg"), "kept");
    model.setImageSelected(idOf("d.jpg"), false);  // the compare view drops a kept frame
    EXPECT_EQ(model.undoLabel(), "Drop d.jpg");

    ASSERT_TRUE(model.undo());
    EXPECT_EQ(stored("d.jpg"), 1);
    EXPECT_EQ(statusOf("d.jpg"), "kept");
    ASSERT_TRUE(model.undo());  // g leaves the review again
    EXPECT_EQ(statusOf("g.jpg"), "absent");
    EXPECT_EQ(stored("g.jpg"), 0);
    EXPECT_EQ(model.unselectedClusterCount(), 2);
    ASSERT_TRUE(model.undo());
    EXPECT_EQ(stored("a.jpg"), 0);
    ASSERT_TRUE(model.undo());
    EXPECT_EQ(stored("c.jpg"), 1);
    ASSERT_TRUE(model.undo());
    EXPECT_EQ(stored("a.jpg"), 1);
    EXPECT_EQ(stored("b.jpg"), 1);
    EXPECT_EQ(model.removedCount(), 0);
    EXPECT_FALSE(model.canUndo());
    EXPECT_FALSE(model.undo());

    for (int i = 0; i < 5; ++i) ASSERT_TRUE(model.redo()) << i;
    EXPECT_FALSE(model.redo());
    EXPECT_EQ(stored("a.jpg"), 1);
    EXPECT_EQ(stored("b.jpg"), 0);
    EXPECT_EQ(stored("c.jpg"), 0);
    EXPECT_EQ(stored("g.jpg"), 1);
    EXPECT_EQ(stored("d.jpg"), 0);
    EXPECT_EQ(model.removedCount(), 3);  // b, c and d
    EXPECT_GE(changed.count(), 15);

    // Reopened, the project shows the decisions as redone.
    SelectionModel reopened;
    reopened.setStore(&store);
    ASSERT_TRUE(reopened.loadFromProject(projectId, input));
    EXPECT_EQ(reopened.removedCount(), 3);
    EXPECT_FALSE(reopened.canUndo());

    // A decision that changes nothing is not recorded; another project forgets the history.
    model.removeImage("b.jpg");
    EXPECT_EQ(model.undoLabel(), "Drop d.jpg");
    ASSERT_TRUE(model.loadFromProject(projectId, input));
    EXPECT_FALSE(model.canUndo());
}

TEST_F(Marks, StarsAndLabelsAreWrittenShownAndUndoneWithTheDecisions) {
    QSignalSpy marks(&model, &SelectionModel::marksChanged);
    EXPECT_TRUE(model.pressDigit({"a.jpg", "b.jpg"}, 4));
    EXPECT_TRUE(model.pressDigit({"b.jpg"}, 9));
    EXPECT_FALSE(model.pressDigit({"b.jpg"}, 4));  // nothing changed: nothing recorded
    EXPECT_FALSE(model.pressDigit({"nope.jpg"}, 3));
    model.removeImage("a.jpg");
    EXPECT_TRUE(model.pressDigit({"g.jpg"}, 2));  // a frame of the pool is rated too
    EXPECT_EQ(marks.count(), 3);
    EXPECT_EQ(storedMarks("b.jpg"), FrameMarks({4, ColorLabel::Blue}));
    EXPECT_EQ(model.marksOf("b.jpg"), QVariantMap({{"rating", 4}, {"label", "blue"}}));

    // Every view carries the marks.
    const QVariantList removed = model.removedView();
    ASSERT_EQ(removed.size(), 1);
    EXPECT_EQ(removed[0].toMap()["rating"].toInt(), 4);
    const QVariantList pool = model.unselectedClusterImages();
    ASSERT_EQ(names(pool), (QStringList{"g.jpg", "h.jpg"}));
    EXPECT_EQ(pool[0].toMap()["rating"].toInt(), 2);
    EXPECT_EQ(pool[1].toMap()["rating"].toInt(), -1);
    const QVariantList moment = model.momentFrames(idOf("b.jpg"));
    ASSERT_EQ(moment.size(), 2);
    EXPECT_EQ(moment[1].toMap()["label"].toString(), "blue");
    // A screen's held list brought up to date.
    const QVariantList held = model.currentFrames({QVariantMap{{"filename", "a.jpg"}, {"status", 1}},
                                                   QVariantMap{{"filename", "h.jpg"}, {"userSelected", true}}});
    EXPECT_EQ(held[0].toMap()["status"].toInt(), int(SelectionModel::Removed));
    EXPECT_FALSE(held[0].toMap()["userSelected"].toBool());
    EXPECT_EQ(held[0].toMap()["rating"].toInt(), 4);
    EXPECT_EQ(held[1].toMap()["status"].toInt(), 0);
    EXPECT_FALSE(held[1].toMap()["userSelected"].toBool());

    ASSERT_TRUE(model.undo());  // the pool frame's stars
    EXPECT_TRUE(storedMarks("g.jpg").isEmpty());
    ASSERT_TRUE(model.undo());  // the removal
    ASSERT_TRUE(model.undo());  // the blue label
    EXPECT_EQ(storedMarks("b.jpg"), FrameMarks({4, ColorLabel::None}));
    ASSERT_TRUE(model.undo());  // both frames' stars at once
    EXPECT_TRUE(storedMarks("a.jpg").isEmpty());
    EXPECT_TRUE(storedMarks("b.jpg").isEmpty());
    ASSERT_TRUE(model.redo());
    EXPECT_EQ(storedMarks("a.jpg").rating, 4);
    EXPECT_EQ(model.marksOf("a.jpg")["rating"].toInt(), 4);

    // Reopened: the marks come back from the project.
    SelectionModel reopened;
    reopened.setStore(&store);
    ASSERT_TRUE(reopened.loadFromProject(projectId, input));
    EXPECT_EQ(reopened.marksOf("b.jpg")["rating"].toInt(), 4);
}

TEST_F(Marks, TheFilterPicksTheGridsFramesAndItsCounts) {
    model.pressDigit({"a.jpg", "c.jpg"}, 5);
    model.pressDigit({"b.jpg"}, 3);
    model.pressDigit({"c.jpg", "e.jpg", "g.jpg"}, 6);  // red
    model.removeImage("c.jpg");
    QSignalSpy filterChanged(&model, &SelectionModel::filterChanged);

    model.setFilter({{"minRating", 3}});
    EXPECT_EQ(names(model.flatView()), (QStringList{"a.jpg", "b.jpg", "c.jpg"}));  // kept first, then removed
    EXPECT_EQ(model.unselectedClusterCount(), 0);
    model.setFilter({{"minRating", 3}, {"labels", QStringList{"red"}}});
    EXPECT_EQ(names(model.flatView()), (QStringList{"c.jpg"}));
    EXPECT_EQ(model.filterText(), "★ 3+ · Red");
    model.setFilter({{"labels", QStringList{"red"}}, {"parts", QStringList{"kept", "review"}}});
    EXPECT_EQ(names(model.flatView()), (QStringList{"e.jpg"}));
    EXPECT_EQ(names(model.unselectedClusterImages()), (QStringList{"g.jpg"}));
    EXPECT_EQ(model.unselectedClusterCount(), 1);
    model.setFilter({{"parts", QStringList{"removed"}}});
    EXPECT_EQ(names(model.flatView()), (QStringList{"c.jpg"}));
    EXPECT_EQ(model.unselectedClusterCount(), 0);
    model.setFilter({{"category", "Details"}});  // the venue frames
    EXPECT_EQ(names(model.flatViewByCategory()), (QStringList{"e.jpg", "f.jpg"}));
    EXPECT_EQ(model.categoryView().size(), 1);

    // The person comes from outside and combines with the rest.
    model.setPersonCriterion(3, "Anna", {idOf("a.jpg"), idOf("e.jpg"), idOf("h.jpg")});
    EXPECT_EQ(names(model.flatView()), (QStringList{"e.jpg"}));
    EXPECT_EQ(model.filterText(), "Details · Anna");
    model.setFilter({});
    EXPECT_EQ(names(model.flatView()), (QStringList{"a.jpg", "e.jpg"}));
    EXPECT_EQ(names(model.unselectedClusterImages()), (QStringList{"h.jpg"}));
    EXPECT_TRUE(model.filterActive());

    // The grid counts the frames for review without reading the moments:
    // the count is always the length of the list the For Review screen shows.
    for (const QVariantMap& f : {QVariantMap{{"category", "Portraits"}}, QVariantMap{{"category", "Group"}},
                                 QVariantMap{{"category", "Details"}}, QVariantMap{{"labels", QStringList{"red"}}},
                                 QVariantMap{{"minRating", 1}}, QVariantMap{{"parts", QStringList{"review"}}}}) {
        model.setFilter(f);
        EXPECT_EQ(model.unselectedClusterCount(), model.unselectedClusterImages().size()) << f.firstKey().toStdString();
    }
    model.setFilter({});

    // The other pages read every kept frame whatever the filter.
    EXPECT_EQ(model.keptImages().size(), 5);

    model.clearFilter();
    EXPECT_FALSE(model.filterActive());
    EXPECT_EQ(model.flatView().size(), 6);
    EXPECT_EQ(model.unselectedClusterCount(), 2);
    EXPECT_EQ(filterChanged.count(), 15);
}

TEST_F(Marks, ProjectFilesCarryTheMarksAndOlderFilesStillOpen) {
    model.pressDigit({"a.jpg"}, 5);
    model.pressDigit({"a.jpg"}, 8);
    model.pressDigit({"b.jpg"}, 0);
    const QString file = QString::fromStdString(dir.str() + "/marks.json");
    ASSERT_TRUE(model.saveProject(file));

    QFile saved(file);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    QJsonObject doc = QJsonDocument::fromJson(saved.readAll()).object();
    saved.close();
    QJsonArray items = doc["items"].toArray();
    for (const QJsonValue& v : items) {
        const QJsonObject item = v.toObject();
        if (item["filename"] == "c.jpg") {
            EXPECT_FALSE(item.contains("rating"));  // an unmarked frame is written as before
            EXPECT_FALSE(item.contains("label"));
        }
    }

    SelectionModel reopened;
    ASSERT_TRUE(reopened.openProjectFile(file)["ok"].toBool());
    ASSERT_EQ(reopened.applyPendingProject(""), 0);
    EXPECT_EQ(reopened.marksOf("a.jpg"), QVariantMap({{"rating", 5}, {"label", "green"}}));
    EXPECT_EQ(reopened.marksOf("b.jpg")["rating"].toInt(), 0);
    EXPECT_EQ(reopened.marksOf("c.jpg")["rating"].toInt(), -1);
    // Rated and undone in memory: these frames have no database row.
    EXPECT_TRUE(reopened.pressDigit({"c.jpg"}, 2));
    EXPECT_TRUE(reopened.undo());
    EXPECT_EQ(reopened.marksOf("c.jpg")["rating"].toInt(), -1);

    // A file from before marks: no keys, and one with keys that hold nonsense.
    QJsonArray older;
    for (const QJsonValue& v : items) {
        QJsonObject item = v.toObject();
        item.remove("rating");
        item.remove("label");
        if (item["filename"] == "b.jpg") {
            item["rating"] = 11;
            item["label"] = "purple";
        }
        older.push_back(item);
    }
    doc["items"] = older;
    QFile rewritten(file);
    ASSERT_TRUE(rewritten.open(QIODevice::WriteOnly));
    rewritten.write(QJsonDocument(doc).toJson());
    rewritten.close();
    SelectionModel old;
    ASSERT_TRUE(old.openProjectFile(file)["ok"].toBool());
    ASSERT_EQ(old.applyPendingProject(""), 0);
    EXPECT_EQ(old.images().size(), 6);
    EXPECT_EQ(old.marksOf("a.jpg"), QVariantMap({{"rating", -1}, {"label", ""}}));
    EXPECT_EQ(old.marksOf("b.jpg"), QVariantMap({{"rating", -1}, {"label", ""}}));
}

}  // namespace
