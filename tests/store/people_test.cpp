// The people of a project in its database: names, merging two persons and
// giving a face to another person, each taken back and done again; the table
// older projects are given and what a program that predates it still does.
#include "project_store.h"
#include "registry_fixture.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>
#include <functional>
#include <memory>

using namespace keepframe;
using keepframe::testing::TempDir;

namespace {

struct Face {
    int person;
    FaceBox box;
};

// Frame name -> faces, saved by today's code.
struct Frame {
    const char* name;
    std::vector<Face> faces;
};

class People : public keepframe::testing::RegistryTest {
protected:
    int projectId = -1;

    // Person 0 in a, b, c (largest in b); person 1 in c and d; person 2 in e
    // only; a face of nobody in a.
    void saveProject() {
        const std::vector<Frame> frames = {
            {"a.jpg", {{0, {10, 10, 50, 50}}, {-1, {300, 10, 80, 80}}}},
            {"b.jpg", {{0, {100, 100, 200, 180}}}},
            {"c.jpg", {{0, {10, 10, 40, 40}}, {1, {200, 10, 60, 60}}}},
            {"d.jpg", {{1, {20, 20, 90, 90}}}},
            {"e.jpg", {{2, {30, 30, 70, 70}}}},
        };
        CullResult r;
        for (const Frame& f : frames) {
            ResultImage img;
            img.filename = f.name;
            img.path = std::string("/shoot/") + f.name;
            img.category = Category::Portrait;
            img.clusterNumber = 1;
            img.fullW = 1200;
            img.fullH = 800;
            for (const Face& face : f.faces) {
                img.faceBoxes.push_back(face.box);
                img.facePersons.push_back(face.person);
            }
            r.images.push_back(img);
        }
        r.totalInput = int(frames.size());
        projectId = store->saveCullResult(r, "/shoot", {}, 1);
        ASSERT_GE(projectId, 0) << store->lastError().toStdString();
    }

    int idOf(const QString& filename) {
        for (const QVariant& v : store->loadProjectImages(projectId))
            if (v.toMap()["filename"] == filename) return v.toMap()["id"].toInt();
        return -1;
    }
    QList<int> idsOf(const QStringList& names) {
        QList<int> ids;
        for (const QString& n : names) ids << idOf(n);
        std::sort(ids.begin(), ids.end());
        return ids;
    }
    // "person:frames:name" per listed person, in order.
    QStringList summary() {
        QStringList out;
        for (const PersonSummary& p : store->persons(projectId))
            out << QStringLiteral("%1:%2:%3").arg(p.personId).arg(p.frameCount).arg(p.name);
        EXPECT_TRUE(store->lastError().isEmpty()) << store->lastError().toStdString();
        return out;
    }
    int faceOf(const QString& filename, int person) {
        for (const FacePerson& f : store->facesOfImage(projectId, idOf(filename)))
            if (f.personId == person) return f.faceId;
        return -1;
    }
};

const QStringList kAsCulled = {"0:3:", "1:2:", "2:1:"};

}  // namespace

TEST_F(People, PersonsAreListedMostFramesFirstWithTheirLargestFace) {
    saveProject();
    const QList<PersonSummary> persons = store->persons(projectId);
    ASSERT_EQ(persons.size(), 3);
    EXPECT_EQ(summary(), kAsCulled);
    EXPECT_EQ(persons[0].faceImageId, idOf("b.jpg"));
    EXPECT_EQ(persons[0].faceBox, QRect(100, 100, 200, 180));
    EXPECT_EQ(persons[0].faceFilename, "b.jpg");
    EXPECT_EQ(persons[0].fullW, 1200);
    EXPECT_EQ(persons[1].faceImageId, idOf("d.jpg"));
    EXPECT_EQ(store->imagesOfPerson(projectId, 0), idsOf({"a.jpg", "b.jpg", "c.jpg"}));
    EXPECT_EQ(store->imagesByPerson(projectId).value(1), idsOf({"c.jpg", "d.jpg"}));
    EXPECT_TRUE(store->imagesOfPerson(projectId, 9).isEmpty());
    EXPECT_TRUE(store->lastError().isEmpty());
    // The face of nobody is listed with the frame, not as a person.
    const QList<FacePerson> faces = store->facesOfImage(projectId, idOf("a.jpg"));
    ASSERT_EQ(faces.size(), 2);
    EXPECT_EQ(faces[0].personId, 0);
    EXPECT_EQ(faces[1].personId, -1);
    EXPECT_EQ(faces[1].box, QRect(300, 10, 80, 80));

    // Reads of a project that is not there fail, and say so.
    EXPECT_TRUE(store->persons(987654).isEmpty());
    EXPECT_FALSE(store->lastError().isEmpty());
}

TEST_F(People, NamesAreCleanedStoredAndTakenAway) {
    saveProject();
    ASSERT_TRUE(store->setPersonName(projectId, 1, "  Anna\t\n Smith\u200b ")) << store->lastError().toStdString();
    EXPECT_EQ(store->personNames(projectId).value(1), "Anna Smith");
    EXPECT_EQ(summary(), QStringList({"0:3:", "1:2:Anna Smith", "2:1:"}));
    EXPECT_EQ(store->facesOfImage(projectId, idOf("c.jpg"))[1].name, "Anna Smith");
    ASSERT_TRUE(store->setPersonName(projectId, 1, "Bride"));
    EXPECT_EQ(store->personNames(projectId).value(1), "Bride");
    ASSERT_TRUE(store->setPersonName(projectId, 1, "   "));
    EXPECT_TRUE(store->personNames(projectId).isEmpty());
    EXPECT_EQ(cleanPersonName(QString(200, 'x')).size(), kMaxPersonNameLength);
    EXPECT_EQ(personDisplayName(3, {}), "Person 3");

    // A person the cull did not find takes no name.
    EXPECT_FALSE(store->setPersonName(projectId, 7, "Ghost"));
    EXPECT_NE(store->lastError().indexOf("no person 7"), -1) << store->lastError().toStdString();
    EXPECT_FALSE(store->setPersonName(projectId, -1, "Nobody"));
    EXPECT_TRUE(store->personNames(projectId).isEmpty());
}

TEST_F(People, AMergeIsTakenBackAndDoneAgainExactly) {
    saveProject();
    ASSERT_TRUE(store->setPersonName(projectId, 1, "Bride"));
    const auto merge = store->mergePersons(projectId, 0, 1);
    ASSERT_TRUE(merge.has_value()) << store->lastError().toStdString();
    EXPECT_EQ(merge->faceIds.size(), 2);
    EXPECT_EQ(merge->fromName, "Bride");
    EXPECT_TRUE(merge->intoNameBefore.isEmpty());
    // The kept person had no name: it takes the merged one's. c shows both, counted once.
    EXPECT_EQ(summary(), QStringList({"0:4:Bride", "2:1:"}));
    EXPECT_EQ(store->imagesOfPerson(projectId, 0), idsOf({"a.jpg", "b.jpg", "c.jpg", "d.jpg"}));
    EXPECT_TRUE(store->imagesOfPerson(projectId, 1).isEmpty());

    ASSERT_TRUE(store->undoMerge(projectId, *merge)) << store->lastError().toStdString();
    EXPECT_EQ(summary(), QStringList({"0:3:", "1:2:Bride", "2:1:"}));
    EXPECT_EQ(store->imagesOfPerson(projectId, 1), idsOf({"c.jpg", "d.jpg"}));
    ASSERT_TRUE(store->redoMerge(projectId, *merge));
    EXPECT_EQ(summary(), QStringList({"0:4:Bride", "2:1:"}));
    ASSERT_TRUE(store->undoMerge(projectId, *merge));
    // Taken back twice: nothing of it is left to take back.
    EXPECT_FALSE(store->undoMerge(projectId, *merge));
    EXPECT_EQ(summary(), QStringList({"0:3:", "1:2:Bride", "2:1:"}));

    // A named kept person keeps its name; the merged one's comes back with the undo.
    ASSERT_TRUE(store->setPersonName(projectId, 0, "Groom"));
    const auto named = store->mergePersons(projectId, 0, 1);
    ASSERT_TRUE(named.has_value());
    EXPECT_EQ(summary(), QStringList({"0:4:Groom", "2:1:"}));
    ASSERT_TRUE(store->undoMerge(projectId, *named));
    EXPECT_EQ(summary(), QStringList({"0:3:Groom", "1:2:Bride", "2:1:"}));

    // Merges that cannot be change nothing.
    EXPECT_FALSE(store->mergePersons(projectId, 0, 0).has_value());
    EXPECT_FALSE(store->mergePersons(projectId, 0, 9).has_value());
    EXPECT_NE(store->lastError().indexOf("no person 9"), -1) << store->lastError().toStdString();
    EXPECT_FALSE(store->mergePersons(projectId, 9, 0).has_value());
    EXPECT_FALSE(store->mergePersons(projectId, -1, 0).has_value());
    EXPECT_EQ(summary(), QStringList({"0:3:Groom", "1:2:Bride", "2:1:"}));
}

TEST_F(People, AFaceGivenToAnotherPersonComesBack) {
    saveProject();
    const int face = faceOf("a.jpg", 0);
    ASSERT_GE(face, 0);
    const auto move = store->moveFace(projectId, face, 2);
    ASSERT_TRUE(move.has_value()) << store->lastError().toStdString();
    EXPECT_EQ(move->fromPersonId, 0);
    EXPECT_EQ(summary(), QStringList({"0:2:", "1:2:", "2:2:"}));
    EXPECT_EQ(store->imagesOfPerson(projectId, 2), idsOf({"a.jpg", "e.jpg"}));

    ASSERT_TRUE(store->undoFaceMove(projectId, *move));
    EXPECT_EQ(summary(), kAsCulled);
    // The face is no longer where the move left it.
    EXPECT_FALSE(store->undoFaceMove(projectId, *move));
    EXPECT_NE(store->lastError().indexOf("no longer person 2"), -1) << store->lastError().toStdString();
    ASSERT_TRUE(store->redoFaceMove(projectId, *move));
    EXPECT_EQ(store->imagesOfPerson(projectId, 2), idsOf({"a.jpg", "e.jpg"}));
    ASSERT_TRUE(store->undoFaceMove(projectId, *move));

    // To nobody, and from nobody to a person.
    const auto away = store->moveFace(projectId, faceOf("e.jpg", 2), -1);
    ASSERT_TRUE(away.has_value());
    EXPECT_EQ(summary(), QStringList({"0:3:", "1:2:"}));
    const auto given = store->moveFace(projectId, faceOf("a.jpg", -1), 1);
    ASSERT_TRUE(given.has_value());
    EXPECT_EQ(store->imagesOfPerson(projectId, 1), idsOf({"a.jpg", "c.jpg", "d.jpg"}));
    ASSERT_TRUE(store->undoFaceMove(projectId, *given));
    ASSERT_TRUE(store->undoFaceMove(projectId, *away));
    EXPECT_EQ(summary(), kAsCulled);

    // Moves that cannot be change nothing.
    EXPECT_FALSE(store->moveFace(projectId, face, 0).has_value());
    EXPECT_NE(store->lastError().indexOf("already"), -1);
    EXPECT_FALSE(store->moveFace(projectId, 987654, 1).has_value());
    EXPECT_FALSE(store->moveFace(projectId, face, -2).has_value());
    EXPECT_EQ(summary(), kAsCulled);
}

TEST_F(People, AnOlderProjectGetsTheTableAndAnOlderProgramReadsItAsBefore) {
    saveProject();
    const QString dbFile = store->projectFolder() + "/project.db";
    store = std::make_unique<ProjectStore>();  // closes the project
    ASSERT_TRUE(store->openRegistry());
    const auto older = [&](const std::function<void(QSqlDatabase&)>& run) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "older");
            db.setDatabaseName(dbFile);
            ASSERT_TRUE(db.open());
            run(db);
            db.close();
        }
        QSqlDatabase::removeDatabase("older");
    };
    const auto rows = [](QSqlDatabase& db, const char* sql) {
        QStringList out;
        QSqlQuery q(db);
        EXPECT_TRUE(q.exec(sql)) << q.lastError().text().toStdString();
        while (q.next()) {
            QStringList values;
            for (int i = 0; q.record().count() > i; ++i) values << q.value(i).toString();
            out << values.join('|');
        }
        return out;
    };
    const char* const kFaces = "SELECT id, image_id, x, y, w, h, person_id, conf FROM faces ORDER BY id";
    QStringList facesBefore, tablesBefore;
    // As a program before names left it: no persons table.
    older([&](QSqlDatabase& db) {
        ASSERT_TRUE(QSqlQuery(db).exec("DROP TABLE persons"));
        facesBefore = rows(db, kFaces);
        tablesBefore = rows(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name");
    });
    ASSERT_FALSE(tablesBefore.contains("persons"));

    EXPECT_EQ(summary(), kAsCulled);  // opened: the table is added
    ASSERT_TRUE(store->setPersonName(projectId, 0, "Anna"));
    const auto merge = store->mergePersons(projectId, 0, 2);
    ASSERT_TRUE(merge.has_value());
    ASSERT_TRUE(store->undoMerge(projectId, *merge));
    store = std::make_unique<ProjectStore>();
    ASSERT_TRUE(store->openRegistry());

    older([&](QSqlDatabase& db) {
        // Only the table was added; the faces read as they did.
        QStringList tables = tablesBefore;
        tables << "persons";
        tables.sort();
        EXPECT_EQ(rows(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"), tables);
        EXPECT_EQ(rows(db, kFaces), facesBefore);
        EXPECT_EQ(rows(db, "SELECT DISTINCT image_id, person_id FROM faces WHERE person_id >= 0").size(), 6);
        // Its own writes still go in.
        EXPECT_TRUE(QSqlQuery(db).exec("INSERT INTO faces (image_id, x, y, w, h, person_id) "
                                       "SELECT id, 1, 1, 5, 5, 2 FROM images WHERE filename = 'b.jpg'"));
        EXPECT_TRUE(QSqlQuery(db).exec("UPDATE images SET user_selected = 1"));
    });
    EXPECT_EQ(summary(), QStringList({"0:3:Anna", "1:2:", "2:2:"}));
}
