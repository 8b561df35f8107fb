// The people of a project: the model on a real stored project (persons, their
// frames and face crops, names and merges written in the background and
// taken back), and the strip on the Cull page with the information panel,
// driven as the photographer does.
#include "frame_info.h"
#include "people_model.h"
#include "ui_fixture.h"

#include <QDir>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <algorithm>

using namespace keepframe;
using namespace keepframe::testing;

namespace {

// The standard project's persons: person 0 is the first face of every frame
// with faces (ten frames), person 1 the second face of three.
constexpr int kFramesOfPerson0 = 10;

QList<int> sorted(const QVariantList& ids) {
    QList<int> out;
    for (const QVariant& id : ids) out << id.toInt();
    std::sort(out.begin(), out.end());
    return out;
}

class PeopleData : public StoredProject {
protected:
    PersonEdits edits;
    PeopleModel model;

    void SetUp() override {
        StoredProject::SetUp();
        model.setEdits(&edits);
        model.setImageFolder(path("shoot"));
    }
    void load(int projectId) {
        QSignalSpy loaded(&model, &PeopleModel::loaded);
        model.setProjectId(projectId);
        ASSERT_TRUE(loaded.wait(10000));
    }
    QVariant value(int row, int role) const { return model.data(model.index(row), role); }
    // Waits for a write to be stored and the model to have read it.
    void stored() {
        QSignalSpy loaded(&model, &PeopleModel::loaded);
        edits.waitForIdle();
        ASSERT_TRUE(loaded.wait(10000));
    }
};

class PeopleStripTest : public ProjectTest {
protected:
    PeopleModel* people() const { return qobject_cast<PeopleModel*>(object("peopleModel")); }
    PersonEdits* edits() const { return people()->edits(); }
    QString text(const QString& name) const { return prop(name, "text").toString(); }
    QString infoValue(const QString& label) const {
        for (const QVariant& row : prop("lightboxInfo", "rows").toList())
            if (row.toMap()["label"].toString() == label) return row.toMap()["value"].toString();
        return {};
    }
};

}  // namespace

TEST_F(PeopleData, PersonsOfAStoredProjectWithTheirFramesAndCrops) {
    load(id);
    ASSERT_EQ(model.count(), 2) << model.error().toStdString();
    EXPECT_EQ(value(0, PeopleModel::PersonIdRole).toInt(), 0);
    EXPECT_EQ(value(0, PeopleModel::FrameCountRole).toInt(), kFramesOfPerson0);
    EXPECT_EQ(value(0, PeopleModel::DisplayNameRole).toString(), "Person 0");
    EXPECT_EQ(value(1, PeopleModel::FrameCountRole).toInt(), 3);
    EXPECT_EQ(sorted(model.imageIdsOf(1)), store.imagesOfPerson(id, 1));
    EXPECT_EQ(model.imageIdSet(0).size(), kFramesOfPerson0);

    // The faces are too small in the thumbnails: the crop comes from the photograph, around the face.
    const QUrl source(value(0, PeopleModel::FaceSourceRole).toString());
    EXPECT_EQ(source.toLocalFile(), path("shoot/DSC_0001.jpg"));
    const QRectF clip = value(0, PeopleModel::FaceClipRole).toRectF();
    EXPECT_TRUE(clip.contains(QRectF(300, 200, 160, 160))) << clip.x() << " " << clip.width();
    EXPECT_LE(clip.width(), 260);

    // Choosing tells the person's frames; a person not listed is not chosen.
    QSignalSpy chosen(&model, &PeopleModel::personChosen);
    EXPECT_TRUE(model.choose(1));
    ASSERT_EQ(chosen.size(), 1);
    EXPECT_EQ(chosen[0][1].toString(), "Person 1");
    EXPECT_EQ(sorted(chosen[0][2].toList()), store.imagesOfPerson(id, 1));
    EXPECT_FALSE(model.choose(7));

    // Only persons in enough frames are listed, and named ones always.
    model.setMinimumFrames(4);
    ASSERT_TRUE(QSignalSpy(&model, &PeopleModel::loaded).wait(10000));
    EXPECT_EQ(model.count(), 1);
    ASSERT_TRUE(model.rename(1, "Bride"));
    stored();
    EXPECT_EQ(model.count(), 2);
    EXPECT_EQ(model.displayNameOf(1), "Bride");
}

TEST_F(PeopleData, NamesAndMergesAreStoredAndTakenBack) {
    load(id);
    QSignalSpy done(&edits, &PersonEdits::done), replayed(&edits, &PersonEdits::replayed),
        failed(&edits, &PersonEdits::failed);
    ASSERT_TRUE(model.rename(1, " Bride "));
    stored();
    ASSERT_EQ(done.size(), 1);
    EXPECT_EQ(done[0][0].toString(), QStringLiteral("Name Person 1 “Bride”"));
    const QVariantMap naming = done[0][1].toMap();
    EXPECT_EQ(value(1, PeopleModel::NameRole).toString(), "Bride");

    model.toggleChecked(1);
    EXPECT_FALSE(model.mergeChecked());  // one is not two
    model.toggleChecked(0);
    ASSERT_TRUE(model.mergeChecked());
    stored();
    ASSERT_EQ(done.size(), 2);
    EXPECT_EQ(done[1][0].toString(), "Merge Bride into Person 0");
    const QVariantMap merge = done[1][1].toMap();
    // The person in more frames keeps its number and takes the name.
    ASSERT_EQ(model.count(), 1);
    EXPECT_EQ(value(0, PeopleModel::PersonIdRole).toInt(), 0);
    EXPECT_EQ(value(0, PeopleModel::NameRole).toString(), "Bride");
    EXPECT_TRUE(model.checkedIds().isEmpty());

    ASSERT_TRUE(edits.undo(merge));
    stored();
    EXPECT_EQ(model.count(), 2);
    EXPECT_EQ(model.displayNameOf(1), "Bride");
    EXPECT_EQ(model.displayNameOf(0), "Person 0");
    ASSERT_TRUE(edits.redo(merge));
    stored();
    EXPECT_EQ(model.count(), 1);
    ASSERT_TRUE(edits.undo(merge));
    ASSERT_TRUE(edits.undo(naming));
    stored();
    EXPECT_EQ(replayed.size(), 4);
    EXPECT_TRUE(store.personNames(id).isEmpty());
    EXPECT_EQ(store.imagesOfPerson(id, 1).size(), 3);

    // What cannot be stored is told and changes nothing; what cannot be right is refused at once.
    ASSERT_TRUE(edits.undo(merge));  // taken back already
    stored();
    ASSERT_EQ(failed.size(), 1);
    EXPECT_NE(failed[0][0].toString().indexOf("undoMerge failed"), -1);
    EXPECT_FALSE(edits.merge(id, 1, 1));
    EXPECT_FALSE(edits.undo({{"kind", "merge"}}));
    EXPECT_FALSE(edits.moveFace(-1, 1, 0));
    EXPECT_EQ(model.count(), 2);
}

TEST_F(PeopleData, ACropComesFromTheThumbnailWhenTheFaceIsLargeEnoughThere) {
    const QString folder = path("project");
    QDir().mkpath(folder + "/thumbnails");
    ASSERT_TRUE(QImage(640, 427, QImage::Format_RGB32).save(folder + "/thumbnails/1.jpg"));
    PersonSummary p;
    p.personId = 4;
    p.faceBox = QRect(3000, 1000, 600, 600);
    p.faceFilename = "DSC_0001.jpg";
    p.faceThumbPath = "thumbnails/1.jpg";
    p.fullW = 6000;
    p.fullH = 4000;
    PeopleRow row = PeopleModel::cropOf(p, folder, path("shoot"));
    EXPECT_EQ(QUrl(row.faceSource).toLocalFile(), folder + "/thumbnails/1.jpg");
    // A square 1.5 times the face around its centre, in thumbnail pixels.
    EXPECT_NEAR(row.faceClip.x(), 2850 * 640.0 / 6000, 0.01);
    EXPECT_NEAR(row.faceClip.y(), 850 * 427.0 / 4000, 0.01);
    EXPECT_NEAR(row.faceClip.width(), 900 * 640.0 / 6000, 0.01);
    // Too small there: the photograph, turned as it is stored (EXIF 6).
    p.faceBox = QRect(100, 200, 300, 300);
    p.orientation = 6;
    row = PeopleModel::cropOf(p, folder, path("shoot"));
    EXPECT_EQ(QUrl(row.faceSource).toLocalFile(), path("shoot/DSC_0001.jpg"));
    EXPECT_EQ(row.faceClip, QRectF(125, 6000 - 475, 450, 450));
    // A thumbnail path that leaves the project is not read; a name that leaves the shoot gives no crop.
    p.faceThumbPath = "../../thumbnails/1.jpg";
    p.faceFilename = "../elsewhere.jpg";
    EXPECT_TRUE(PeopleModel::cropOf(p, folder, path("shoot")).faceSource.isEmpty());
}

TEST_F(PeopleStripTest, TheStripChoosesRenamesAndMerges) {
    ASSERT_TRUE(uidriver::waitFor([&] { return item("personTile_1") != nullptr; }));
    EXPECT_TRUE(item("peopleStrip")->isVisible());
    EXPECT_EQ(text("peopleTitle"), "People (2)");
    EXPECT_EQ(text("personCount_0"), "10 frames");
    EXPECT_LT(item("personTile_0")->x(), item("personTile_1")->x());  // the most frames first
    EXPECT_TRUE(uidriver::waitFor([&] { return prop("personCrop_0", "status").toInt() == 1; }));  // Image.Ready

    // A click on a face tells the person's frames.
    QSignalSpy chosen(object("peopleStrip"), SIGNAL(personChosen(int, QString, QVariant)));
    click("personChoose_1");
    ASSERT_EQ(chosen.size(), 1);
    EXPECT_EQ(chosen[0][0].toInt(), 1);
    EXPECT_EQ(chosen[0][1].toString(), "Person 1");
    QStringList names;
    for (const QVariant& v : app->store().loadProjectImages(id))
        if (chosen[0][2].toList().contains(v.toMap()["id"])) names << v.toMap()["filename"].toString();
    names.sort();
    EXPECT_EQ(names, QStringList({"DSC_0001.jpg", "ceremony/DSC_0005.jpg", "ceremony/DSC_0006.jpg"}));

    // Named in place.
    QSignalSpy done(edits(), &PersonEdits::done);
    click("personRename_1");
    QObject* field = object("personNameField_1");
    ASSERT_TRUE(uidriver::waitFor([&] { return field->property("visible").toBool(); }));
    field->setProperty("text", "Bride");
    QMetaObject::invokeMethod(field, "accepted");
    ASSERT_TRUE(uidriver::waitFor([&] { return text("personName_1") == "Bride"; }));
    EXPECT_EQ(app->store().personNames(id).value(1), "Bride");
    EXPECT_EQ(done.size(), 1);

    // Two checked and merged in one action; taken back through the record.
    EXPECT_FALSE(prop("peopleMergeButton", "enabled").toBool());
    click("personCheck_0");
    click("personCheck_1");
    EXPECT_TRUE(prop("peopleMergeButton", "enabled").toBool());
    click("peopleMergeButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("peopleStrip", "count").toInt() == 1; }));
    ASSERT_TRUE(uidriver::waitFor([&] { return item("personName_0") && text("personName_0") == "Bride"; }));
    ASSERT_EQ(done.size(), 2);
    ASSERT_TRUE(edits()->undo(done[1][1].toMap()));
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("peopleStrip", "count").toInt() == 2; }));
    EXPECT_EQ(text("peopleTitle"), "People (2)");
}

TEST_F(PeopleStripTest, TheInformationPanelNamesTheFacesAndGivesOneToAnotherPerson) {
    ASSERT_TRUE(uidriver::waitFor([&] { return item("personTile_1") != nullptr; }));
    ASSERT_TRUE(people()->rename(0, "Anna"));
    ASSERT_TRUE(uidriver::waitFor([&] { return text("personName_0") == "Anna"; }));

    uidriver::click(window, partOf("cell_DSC_0001.jpg", "openArea"));
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("lightbox", "opened").toBool(); }));
    uidriver::key(window, Qt::Key_I);
    ASSERT_TRUE(uidriver::waitFor([&] { return infoValue("People") == "Anna, Person 1"; }))
        << infoValue("People").toStdString();
    const QVariantList faces = prop("lightboxInfo", "faces").toList();
    ASSERT_EQ(faces.size(), 2);
    EXPECT_TRUE(item("infoFace_1")->isVisible());

    // The second face is Anna too: moved, shown, stored, and taken back.
    QSignalSpy done(edits(), &PersonEdits::done);
    const int face = faces[1].toMap()["faceId"].toInt();
    ASSERT_TRUE(call("lightboxInfo", "moveFace", {face, 0}).toBool());
    ASSERT_TRUE(uidriver::waitFor([&] { return infoValue("People") == "Anna"; }))
        << infoValue("People").toStdString();
    ASSERT_EQ(done.size(), 1);
    EXPECT_EQ(done[0][0].toString(), "Give a face of Person 1 to Anna");
    EXPECT_EQ(app->store().imagesOfPerson(id, 1).size(), 2);
    // Moving it where it is changes nothing.
    EXPECT_FALSE(call("lightboxInfo", "moveFace", {face, 0}).toBool());
    ASSERT_TRUE(edits()->undo(done[0][1].toMap()));
    ASSERT_TRUE(uidriver::waitFor([&] { return infoValue("People") == "Anna, Person 1"; }));
    EXPECT_EQ(app->store().imagesOfPerson(id, 1).size(), 3);
}

TEST(FrameInfoPeople, TheRowsSayWhoIsOnTheFrameByName) {
    const QVariantMap frame{{"filename", "a.jpg"}, {"reason", "portrait_p2_multi"}, {"engineSelected", true}};
    const QVariantList faces{QVariantMap{{"faceId", 4}, {"personId", 2}, {"displayName", "Anna"}},
                             QVariantMap{{"faceId", 5}, {"personId", -1}, {"displayName", ""}},
                             QVariantMap{{"faceId", 6}, {"personId", 3}, {"displayName", "Person 3"}}};
    QVariantMap measures{
        {"reason", "portrait_p2_multi"}, {"faces", faces}, {"personNames", QVariantMap{{"2", "Anna"}}}};
    QMap<QString, QString> values;
    for (const QVariant& row : FrameInfo::rowsFor(frame, measures))
        values[row.toMap()["label"].toString()] = row.toMap()["value"].toString();
    EXPECT_EQ(values["People"], "Anna, Person 3");
    EXPECT_EQ(values["Why"], "another strong portrait of Anna in its moment");
    measures["faces"] = QVariantList{faces[1]};
    measures.remove("personNames");
    values.clear();
    for (const QVariant& row : FrameInfo::rowsFor(frame, measures))
        values[row.toMap()["label"].toString()] = row.toMap()["value"].toString();
    EXPECT_EQ(values["People"], "no one recognised");
    EXPECT_EQ(values["Why"], "another strong portrait of Person 2 in its moment");
}
