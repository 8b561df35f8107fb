// The texts and calculations of the review screens, and the rows of the
// review grid over a real stored project.
#include "ui_fixture.h"

#include "category.h"
#include "review_grid_model.h"
#include "selection_model.h"
#include "view_logic.h"

#include <QSignalSpy>

using namespace keepframe;
using namespace keepframe::testing;

TEST(ViewLogicTexts, TimesSizesAndCounts) {
    EXPECT_EQ(ViewLogic::elapsedText(QVariant()), "—");
    EXPECT_EQ(ViewLogic::elapsedText(0.4), "0s");
    EXPECT_EQ(ViewLogic::elapsedText(59.6), "1m 0s");
    EXPECT_EQ(ViewLogic::elapsedText(3600), "1h 0m 0s");
    EXPECT_EQ(ViewLogic::elapsedText(3725.2), "1h 2m 5s");
    EXPECT_EQ(ViewLogic::sizeText(0), "0 B");
    EXPECT_EQ(ViewLogic::sizeText(-5), "0 B");
    EXPECT_EQ(ViewLogic::sizeText(1023), "1023 B");
    EXPECT_EQ(ViewLogic::sizeText(1536), "1.5 KB");
    EXPECT_EQ(ViewLogic::sizeText(qint64(5) << 40), "5.0 TB");
    EXPECT_EQ(ViewLogic::sizeText(qint64(3) << 50), "3072.0 TB");
    EXPECT_EQ(ViewLogic::progressText(42, "Step"), "Step   42%");
    const QVariantMap summary{{"totalSelected", 12}, {"totalInput", 40}, {"venue", 3}, {"portrait", 7},
                              {"group", 2}, {"elapsedSeconds", 65.2}};
    EXPECT_EQ(ViewLogic::summaryText(summary), "Selected 12 of 40   V:3 P:7 G:2    ·    Culled in 1m 5s");
}

TEST(ViewLogicTexts, ExportAndProjectMessages) {
    EXPECT_EQ(ViewLogic::exportResultText(1, 0, false, false), "Exported 1 image to a 'final_selection' folder.");
    EXPECT_EQ(ViewLogic::exportResultText(0, 0, true, false),
              "Exported 0 images to a 'final_selection' folder (organized by category) (nothing to export).");
    EXPECT_EQ(ViewLogic::exportResultText(5, 1, false, true),
              "Exported 5 images to a 'final_selection' folder.\n\nAlso exported 1 unselected image to an "
              "'unselected' folder.");
    EXPECT_EQ(ViewLogic::unselectedExportQuestion(1, 2048),
              "This will also copy 1 unselected image (2.0 KB) to a separate 'unselected' folder. This may take a "
              "while and use significant disk space.\n\nContinue?");
    EXPECT_EQ(ViewLogic::projectLoadedText(0), "Project loaded.");
    EXPECT_EQ(ViewLogic::projectLoadedText(1), "Project loaded.\n\nNote: 1 image from the saved project was not "
                                               "found in the input folder and was skipped.");
    EXPECT_EQ(ViewLogic::projectLoadedText(3), "Project loaded.\n\nNote: 3 images from the saved project were not "
                                               "found in the input folder and were skipped.");
}

TEST(ViewLogicTexts, WhatAnExportDidNotCopy) {
    const auto row = [](const QString& file, const QString& reason) {
        return QVariantMap{{"file", file}, {"reason", reason}};
    };
    QVariantMap result{{"selected", 2}, {"unselected", 0}, {"skipped", QVariantList{}}};
    EXPECT_EQ(ViewLogic::exportReportText(result, false, false), "Exported 2 images to a 'final_selection' folder.");
    QVariantMap inPlace = row("a.jpg", "the target is the source file itself");
    inPlace["inPlace"] = true;
    result["skipped"] = QVariantList{inPlace, row("sub/b.jpg", "missing from the input folder")};
    EXPECT_EQ(ViewLogic::exportReportText(result, true, true),
              "Exported 2 images to a 'final_selection' folder (organized by category).\n\nAlso exported 0 "
              "unselected images to an 'unselected' folder.\n\nNot copied: 2\n• a.jpg — already there — "
              "the target is the photograph itself\n• sub/b.jpg — missing from the input folder");
    // A long list is cut after ten names, with the count of the rest.
    QVariantList many;
    for (int i = 0; i < 13; ++i) many << row(QString("f%1.jpg").arg(i), "gone");
    result["skipped"] = many;
    const QString text = ViewLogic::exportReportText(result, false, false);
    EXPECT_TRUE(text.contains("Not copied: 13\n• f0.jpg — gone\n")) << text.toStdString();
    EXPECT_TRUE(text.endsWith("\n• f9.jpg — gone\n…and 3 more")) << text.toStdString();
    EXPECT_FALSE(text.contains("f10.jpg"));
}

TEST(ViewLogicTexts, FilesACullLeftOut) {
    EXPECT_EQ(ViewLogic::leftOutNote({}), "");
    EXPECT_EQ(ViewLogic::leftOutNote({{"skipped", QVariantList{}}, {"damaged", QVariantList{}}}), "");
    const QVariantMap two{{"file", "a.jpg"}, {"reason", "undecodable"}};
    const QVariantMap one{{"file", "sub/b.png"}, {"reason", "too large: 30000 x 30000 pixels"}};
    EXPECT_EQ(ViewLogic::leftOutNote({{"skipped", QVariantList{two}}}), "1 file skipped");
    EXPECT_EQ(ViewLogic::leftOutNote({{"damaged", QVariantList{"x.jpg", "y.jpg"}}}), "2 damaged");
    const QVariantMap summary{{"skipped", QVariantList{two, one}}, {"damaged", QVariantList{"cut.jpg"}}};
    EXPECT_EQ(ViewLogic::leftOutNote(summary), "2 files skipped · 1 damaged");
    EXPECT_EQ(ViewLogic::leftOutFiles(summary),
              (QVariantList{two, one,
                            QVariantMap{{"file", "cut.jpg"},
                                        {"reason", "damaged: the decoder reported corrupt or truncated data"}}}));
}

TEST(ViewLogicTexts, SidecarCountsAndProblems) {
    const QVariantList notes{
        QVariantMap{{"file", "a.jpg"}, {"outcome", "skipped"}, {"reason", "the photograph is not there any more"}},
        QVariantMap{{"file", "b.CR2"}, {"outcome", "shared"}, {"reason", "one capture with b.jpg"}},
        QVariantMap{{"file", "c.jpg"}, {"outcome", "failed"}, {"reason", "cannot write the sidecar: denied"}},
        QVariantMap{{"file", "d.jpg"}, {"outcome", "merged"}, {"reason", "kept the user's keywords"}}};
    const QVariantMap result{{"written", 7}, {"merged", 1}, {"unchanged", 2}, {"removed", 0}, {"shared", 1},
                             {"skipped", 1}, {"failed", 1}, {"error", ""}, {"notes", notes}};
    EXPECT_EQ(ViewLogic::xmpResultText(result), "7 written · 1 merged · 2 unchanged · 0 removed\n"
                                                "1 shared · 1 skipped · 1 failed");
    // Failed first, then skipped; shared and merged photographs are not problems.
    EXPECT_EQ(ViewLogic::xmpProblemFiles(result),
              (QVariantList{QVariantMap{{"file", "c.jpg"}, {"reason", "failed: cannot write the sidecar: denied"}},
                            QVariantMap{{"file", "a.jpg"},
                                        {"reason", "skipped: the photograph is not there any more"}}}));
    EXPECT_EQ(ViewLogic::xmpResultText({{"error", "No project is open."}, {"written", 0}}), "No project is open.");
}

TEST(ViewLogicTexts, StoredCategoryTextIsReadOnce) {
    for (const Category c : {Category::Venue, Category::Portrait, Category::Group, Category::Featured})
        EXPECT_EQ(categoryOf(categoryText(c)), c);
    EXPECT_EQ(categoryOf("Portrait"), std::nullopt);  // the stored text is lower case, always
    EXPECT_EQ(categoryOf(""), std::nullopt);
    // A damaged or future category links as a portrait moment, as it always did.
    EXPECT_EQ(ViewLogic::clusterLinkText("", 2, 3), "PC2(3)");
    EXPECT_EQ(ViewLogic::clusterLinkText("crowd", 2, 3), "PC2(3)");
    EXPECT_EQ(displayCategory(Category::Venue, 5, true), Category::Venue);
    EXPECT_EQ(displayCategory(std::nullopt, 3, true), Category::Group);
    EXPECT_EQ(displayCategory(Category::Group, 2, true), Category::Featured);
    EXPECT_EQ(displayCategory(Category::Group, 0, false), Category::Portrait);
}

TEST(ViewLogicTexts, NamesLinksAndUrls) {
    EXPECT_EQ(ViewLogic::clusterLinkText("portrait", 10, 50), "PC10(50)");
    EXPECT_EQ(ViewLogic::clusterLinkText("featured", 3, 2), "PC3(2)");
    EXPECT_EQ(ViewLogic::clusterLinkText("group", 4, 3), "GC4(3)");
    EXPECT_EQ(ViewLogic::clusterLinkText("venue", 7, 2), "DC7(2)");
    EXPECT_EQ(ViewLogic::clusterLinkText("venue", 7, 1), "");
    EXPECT_EQ(ViewLogic::baseName("ceremony\\a/DSC_1.jpg"), "DSC_1.jpg");
    EXPECT_EQ(ViewLogic::baseName("DSC_1.jpg"), "DSC_1.jpg");
    EXPECT_EQ(ViewLogic::originalUrl("/shoot/", "ceremony\\DSC 1.jpg"), "file:///shoot/ceremony/DSC%201.jpg");
    EXPECT_EQ(ViewLogic::originalUrl("file:///my%20shoot", "a.jpg"), "file:///my%20shoot/a.jpg");
    EXPECT_EQ(ViewLogic::thumbnailSource("file:///t/1.jpg", "/shoot", "a.jpg"), "file:///t/1.jpg");
    EXPECT_EQ(ViewLogic::thumbnailSource("", "/shoot", "a.jpg"), "file:///shoot/a.jpg");
    EXPECT_EQ(ViewLogic::localPath("file:///my%20shoot/x"), "/my shoot/x");
    EXPECT_EQ(ViewLogic::autoOutputFolder("file:///shoot/"), "file:///shoot_culled");
    EXPECT_EQ(ViewLogic::autoOutputFolder("/shoot"), "/shoot_culled");
}

TEST(ViewLogicTexts, ProjectCardsAndEnhanceMessages) {
    EXPECT_EQ(ViewLogic::projectDateText("2024-06-15T14:03:22"), "Jun 15, 2024");
    EXPECT_EQ(ViewLogic::projectDateText("2025-01-05T00:00:00.250+02:00"), "Jan 5, 2025");
    EXPECT_EQ(ViewLogic::projectDateText("2023-12-31"), "Dec 31, 2023");
    // Anything else is shown as stored.
    EXPECT_EQ(ViewLogic::projectDateText("2024-13-40T10:00:00"), "2024-13-40T10:00:00");
    EXPECT_EQ(ViewLogic::projectDateText("last summer"), "last summer");
    EXPECT_EQ(ViewLogic::projectDateText(""), "");
    EXPECT_EQ(ViewLogic::projectCardLine("2024-06-15T14:03:22", 120, 1),
              "Jun 15, 2024  ·  120 photos  ·  1 selected");
    EXPECT_EQ(ViewLogic::projectCardLine("soon", 0, 0), "soon  ·  0 photos  ·  0 selected");
    EXPECT_EQ(ViewLogic::deleteProjectQuestion("A “B”"),
              "Delete “A “B””?\nThis removes it from the library and deletes its thumbnails.\n"
              "Your original photos are NOT touched.");

    EXPECT_EQ(ViewLogic::enhanceProgressText(false, 3, 20), "Enhance  3 / 20");
    EXPECT_EQ(ViewLogic::enhanceProgressText(true, 0, 1), "Enhance Plus  0 / 1");
    EXPECT_EQ(ViewLogic::enhancedExportText(0, 0),
              "No enhanced images to export. Click Enhance or Enhance Plus first.");
    EXPECT_EQ(ViewLogic::enhancedExportText(0, 4), "Exported:\n• 0 Enhanced (enhanced/)\n• 4 Enhance Plus "
                                                   "(enhanced_plus/)");
    QStringList names;
    for (int i = 1; i <= 12; ++i) names << QString("DSC_%1.jpg").arg(i);
    const QString failures = ViewLogic::enhanceFailureText(names);
    EXPECT_TRUE(failures.startsWith("12 photos could not be enhanced:\n• DSC_1.jpg\n• DSC_2.jpg"));
    EXPECT_TRUE(failures.endsWith("\n• DSC_10.jpg\n…and 2 more")) << failures.toStdString();
}

// The viewers find an image in a view by its file name or database id; an id
// from QML is a double, the view's own an integer.
TEST(ViewLogicLookup, FindsTheFirstMapWithTheValueWhateverTheNumberType) {
    const QVariantList list{QVariantMap{{"id", 7}, {"filename", "a.jpg"}},
                            QVariantMap{{"filename", "b.jpg"}},
                            QVariantMap{{"id", qint64(9)}, {"filename", "b.jpg"}}};
    EXPECT_EQ(ViewLogic::indexOfEntry(list, "filename", "b.jpg"), 1);
    EXPECT_EQ(ViewLogic::indexOfEntry(list, "id", 9.0), 2);
    EXPECT_EQ(ViewLogic::indexOfEntry(list, "id", 7), 0);
    EXPECT_EQ(ViewLogic::indexOfEntry(list, "id", 8.0), -1);
    EXPECT_EQ(ViewLogic::indexOfEntry(list, "id", "7"), -1);
    EXPECT_EQ(ViewLogic::indexOfEntry(list, "filename", QVariant()), -1);
    EXPECT_EQ(ViewLogic::indexOfEntry({}, "id", 1), -1);
}

TEST(ViewLogicFaceCrops, FollowTheOrientationOfTheFileOnDisk) {
    // Upright 4000 x 6000 frame (a portrait shot stored as 6000 x 4000).
    const QVariantList box{100, 200, 300, 400};
    EXPECT_EQ(ViewLogic::faceCropRect(box, 4000, 6000, 1), QRect(100, 200, 300, 400));
    EXPECT_EQ(ViewLogic::faceCropRect(box, 4000, 6000, 6), QRect(200, 4000 - 400, 400, 300));
    EXPECT_EQ(ViewLogic::faceCropRect(box, 4000, 6000, 8), QRect(6000 - 600, 100, 400, 300));
    EXPECT_EQ(ViewLogic::faceCropRect(box, 6000, 4000, 3), QRect(6000 - 400, 4000 - 600, 300, 400));
    EXPECT_EQ(ViewLogic::faceCropRect(box, 6000, 4000, 5), QRect(100, 200, 300, 400));
    EXPECT_EQ(ViewLogic::faceCropRect(QVariantList{1, 2}, 10, 10, 1), QRect());
}

class GridRows : public StoredProject {
protected:
    ReviewGridModel rows;

    void SetUp() override {
        StoredProject::SetUp();
        selection.loadFromProject(id, path("shoot"));
        rows.setSelection(&selection);
    }
    QStringList kinds() const {
        QStringList out;
        for (const auto& r : rows.rows()) out << r.kind + (r.kind == "cells" ? QString::number(r.items.size()) : "");
        return out;
    }
};

TEST_F(GridRows, SectionsCellsReviewTileAndRemoved) {
    rows.setColumns(2);
    rows.refresh();
    // Top folder: 3 kept; ceremony: 1; reception: 2; then the For Review tile.
    EXPECT_EQ(kinds(), QStringList({"section", "cells2", "cells1", "section", "cells1", "section", "cells2",
                                    "review"}));
    EXPECT_EQ(rows.rows()[0].title, "");
    EXPECT_EQ(rows.rows()[3].title, "ceremony");
    EXPECT_EQ(rows.rows()[7].count, 3);
    EXPECT_EQ(rows.keptShown(), 6);
    EXPECT_EQ(rows.rowOfFile("reception/DSC_0010.jpg"), 6);
    EXPECT_EQ(rows.rowOfFile("DSC_0003.jpg"), -1);

    // A new column count re-cuts without asking the selection again.
    QSignalSpy refreshed(&rows, &ReviewGridModel::refreshed);
    rows.setColumns(3);
    EXPECT_EQ(kinds(), QStringList({"section", "cells3", "section", "cells1", "section", "cells2", "review"}));
    EXPECT_EQ(refreshed.size(), 0);

    selection.removeImage("DSC_0002.jpg");
    rows.refresh();
    EXPECT_EQ(kinds(), QStringList({"section", "cells2", "section", "cells1", "section", "cells2", "review",
                                    "removed", "cells1"}));
    EXPECT_EQ(rows.removedShown(), 1);

    rows.setByCategory(true);  // switching the view re-reads
    EXPECT_EQ(refreshed.size(), 2);
    EXPECT_EQ(rows.rows()[0].title, "Details");
}

TEST_F(GridRows, ARefreshTellsTheViewOnlyAboutRowsThatChanged) {
    rows.setColumns(4);
    rows.refresh();
    QSignalSpy reset(&rows, &QAbstractItemModel::modelReset);
    QSignalSpy changed(&rows, &QAbstractItemModel::dataChanged);
    QSignalSpy inserted(&rows, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&rows, &QAbstractItemModel::rowsRemoved);
    rows.refresh();  // nothing changed
    EXPECT_EQ(changed.size() + inserted.size() + removed.size() + reset.size(), 0);

    selection.removeImage("reception/DSC_0009.jpg");
    rows.refresh();
    EXPECT_EQ(reset.size(), 0);
    ASSERT_EQ(changed.size(), 1);  // the reception section and its row of cells
    EXPECT_EQ(changed[0][0].toModelIndex().row(), 4);
    ASSERT_EQ(inserted.size(), 1);  // the Removed header and its row
    EXPECT_EQ(rows.rows().size(), 9);
    EXPECT_EQ(rows.rows()[7].kind, "removed");

    rows.clear();
    EXPECT_EQ(rows.rowCount(), 0);
    EXPECT_EQ(rows.unselectedCount(), 0);
}
