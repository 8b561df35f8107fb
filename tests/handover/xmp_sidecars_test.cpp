// XMP sidecars and embedded XMP for real projects (SQLite through
// ProjectStore, real JPEG and DNG files), read back with exiftool and with
// Exiv2's own parser.
#include "dng_writer.h"
#include "exif_writer.h"
#include "exiftool_json.h"
#include "exiv2_headers.h"
#include "frames.h"
#include "handover.h"
#include "project_store.h"
#include "qt_print.h"
#include "selection_model.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

using namespace keepframe;
using keepframe::testing::resultRow;
using keepframe::testing::exiftoolXmp;
using keepframe::testing::listOf;
using keepframe::testing::TempDir;

namespace {

struct Shot {
    std::string name;
    Category category = Category::Portrait;
    int cluster = 1;
    bool picked = false;  // by the engine
    bool primary = false;
    int faces = 1;
    std::vector<int> persons = {};
    bool featured = false;
    std::string time = "2024:06:01 12:00:00";  // in the file's EXIF
};

QByteArray readAll(const std::string& path) {
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// What exiftool makes of a file's XMP ("Rating", "Label", "Subject", ...).
QJsonObject exiftool(const std::string& path) { return exiftoolXmp(path); }

// The same read through Exiv2: key -> values.
std::map<std::string, QStringList> exiv2Xmp(const std::string& path) {
    Exiv2::XmpData data;
    EXPECT_EQ(Exiv2::XmpParser::decode(data, readAll(path).toStdString()), 0) << path;
    std::map<std::string, QStringList> out;
    for (const auto& d : data) {
        QStringList values;
        const bool array = d.typeId() == Exiv2::xmpBag || d.typeId() == Exiv2::xmpSeq;
        for (long i = 0; i < (array ? d.count() : 1); ++i)
            values << QString::fromStdString(array ? d.toString(i) : d.toString());
        out[d.key()] = values;
    }
    return out;
}

// Every file below a folder with its SHA-1, to see what changed.
std::map<std::string, QByteArray> snapshot(const std::filesystem::path& root) {
    std::map<std::string, QByteArray> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root))
        if (e.is_regular_file()) {
            out[e.path().string()] = QCryptographicHash::hash(readAll(e.path().string()), QCryptographicHash::Sha1);
        }
    return out;
}

const char* const kEditorSidecar = R"xmp(<x:xmpmeta xmlns:x="adobe:ns:meta/" x:xmptk="Adobe XMP Core 7.0">
 <rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
  <rdf:Description rdf:about=""
    xmlns:crs="http://ns.adobe.com/camera-raw-settings/1.0/"
    xmlns:xmpMM="http://ns.adobe.com/xap/1.0/mm/"
    xmlns:stEvt="http://ns.adobe.com/xap/1.0/sType/ResourceEvent#"
    xmlns:dc="http://purl.org/dc/elements/1.1/"
    xmlns:lr="http://ns.adobe.com/lightroom/1.0/"
    xmlns:studio="http://example.com/studio/1.0/"
   crs:Version="15.0" crs:Exposure2012="+0.35" crs:WhiteBalance="As Shot" studio:Client="Smith">
   <crs:ToneCurvePV2012><rdf:Seq><rdf:li>0, 0</rdf:li><rdf:li>255, 255</rdf:li></rdf:Seq></crs:ToneCurvePV2012>
   <xmpMM:History><rdf:Seq>
    <rdf:li stEvt:action="saved" stEvt:instanceID="xmp.iid:1" stEvt:softwareAgent="Editor"/>
   </rdf:Seq></xmpMM:History>
   <dc:subject><rdf:Bag><rdf:li>Bride</rdf:li><rdf:li>Portrait</rdf:li></rdf:Bag></dc:subject>
   <lr:hierarchicalSubject><rdf:Bag><rdf:li>People|Bride</rdf:li></rdf:Bag></lr:hierarchicalSubject>
  </rdf:Description>
 </rdf:RDF>
</x:xmpmeta>
)xmp";

struct Handover : ::testing::Test {
    TempDir dir;
    ProjectStore store;
    std::string shoot;
    int projectId = -1;

    void SetUp() override {
        qputenv("KEEPFRAME_DATA_DIR", QByteArray::fromStdString(dir.str() + "/library"));
        ASSERT_TRUE(store.openRegistry());
        shoot = dir.str() + "/shoot";
        std::filesystem::create_directories(shoot);
    }
    void TearDown() override {
        setXmpCommitHookForTests({});
        qunsetenv("KEEPFRAME_DATA_DIR");
    }

    std::string at(const std::string& relative) const { return dir.file("shoot/" + relative); }

    void photo(const std::string& relative, const std::string& time = "2024:06:01 12:00:00") {
        ASSERT_TRUE(shootgen::writeJpeg(at(relative), cv::Mat(16, 16, CV_8UC3, cv::Scalar(90, 120, 150)),
                                        {time, time, "", 1}));
    }
    void raw(const std::string& relative, const std::string& time) {
        keepframe::testing::DngPreview preview;
        preview.rgb.assign(8 * 8 * 3, 128);
        preview.width = preview.height = 8;
        preview.dateTime = time;
        const std::vector<uint8_t> bytes = keepframe::testing::makeDng(preview);
        std::ofstream(at(relative), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }

    // Stores a cull of `shots` whose names are relative to `input`; with
    // `files` the photographs are written there too.
    void save(const std::vector<Shot>& shots, const std::string& input, bool files = true) {
        CullResult r;
        for (const Shot& s : shots) {
            if (files) photo((input == shoot ? "" : input.substr(shoot.size() + 1) + "/") + s.name, s.time);
            ResultImage img = resultRow(input, s.name, s.category, s.cluster, s.picked, s.primary);
            img.detectionCount = s.faces;
            img.onlyTopPersons = s.featured;
            for (int p : s.persons) {
                img.faceBoxes.push_back({10 * p, 10, 20, 20});
                img.facePersons.push_back(p);
            }
            r.images.push_back(img);
        }
        r.totalInput = int32_t(shots.size());
        projectId = store.saveCullResult(r, QString::fromStdString(input), {}, 1);
        ASSERT_GE(projectId, 0) << store.lastError().toStdString();
    }
    void setSelected(const std::string& name, bool selected) {
        for (const QVariant& v : store.loadProjectImages(projectId)) {
            if (v.toMap()["filename"].toString().toStdString() != name) continue;
            ASSERT_TRUE(store.setUserSelected(v.toMap()["id"].toInt(), selected));
        }
    }
    void setMarks(const std::string& name, const FrameMarks& marks) {
        for (const QVariant& v : store.loadProjectImages(projectId)) {
            if (v.toMap()["filename"].toString().toStdString() != name) continue;
            ASSERT_TRUE(store.setFrameMarks(v.toMap()["id"].toInt(), marks)) << store.lastError().toStdString();
        }
    }
    SidecarReport run(const XmpOptions& options = {}, const std::string& input = "") {
        return writeProjectXmpSidecars(store, projectId, QString::fromStdString(input.empty() ? shoot : input),
                                       options);
    }
};

std::string notesOf(const SidecarReport& r) {
    std::string out;
    for (const SidecarNote& n : r.notes)
        out += (outcomeName(n.outcome) + " " + n.file + " (" + n.sidecar + "): " + n.reason + "\n").toStdString();
    return out;
}

}  // namespace

TEST_F(Handover, RatingsLabelsAndKeywordsPerStatus) {
    save({{"kept.jpg", Category::Portrait, 10, true, true, 1, {3}},
          {"review.jpg", Category::Group, 2, true, false, 4, {0, 3}},
          {"removed.jpg", Category::Portrait, 10, true, true},
          {"added.jpg", Category::Venue, 3, false, false, 0},
          {"alone.jpg", Category::Portrait, 11, false, false, 2, {}, true},
          {"unpicked.jpg", Category::Portrait, 10, false, false}},
         shoot);
    setSelected("removed.jpg", false);
    setSelected("added.jpg", true);

    const SidecarReport r = run();
    EXPECT_EQ(r.written, 6) << notesOf(r);
    EXPECT_EQ(r.failed + r.skipped, 0);

    struct Expect {
        std::string file;
        QString rating, label;
        QStringList keywords;
    };
    const std::vector<Expect> expected = {
        {"kept", "3", "Green", {"Keepframe|Category|Portrait", "Keepframe|Moment|PC10", "Keepframe|Person|Person 3"}},
        {"review", "3", "Green",
         {"Keepframe|Category|Group", "Keepframe|Moment|GC2", "Keepframe|Person|Person 0",
          "Keepframe|Person|Person 3"}},
        {"removed", "-1", "", {"Keepframe|Category|Portrait", "Keepframe|Moment|PC10"}},
        {"added", "3", "Green", {"Keepframe|Category|Details", "Keepframe|Moment|DC3"}},
        {"alone", "1", "", {"Keepframe|Category|Featured", "Keepframe|Moment|PC11"}},  // nothing kept in its cluster
        {"unpicked", "", "", {"Keepframe|Category|Portrait", "Keepframe|Moment|PC10"}},
    };
    for (const Expect& e : expected) {
        SCOPED_TRACE(e.file);
        const std::string sidecar = at(e.file + ".xmp");
        const QJsonObject tool = exiftool(sidecar);
        EXPECT_EQ(tool["Rating"].toVariant().toString(), e.rating);
        EXPECT_EQ(tool["Label"].toVariant().toString(), e.label);
        EXPECT_EQ(listOf(tool["HierarchicalSubject"]), e.keywords);
        QStringList leaves;
        for (const QString& k : e.keywords) leaves << k.section('|', -1);
        EXPECT_EQ(listOf(tool["Subject"]), leaves);

        auto x = exiv2Xmp(sidecar);
        EXPECT_EQ(x["Xmp.xmp.Rating"].value(0), e.rating);
        EXPECT_EQ(x["Xmp.lr.hierarchicalSubject"], e.keywords);
    }

    // A rating of 5 and no label for kept frames; the rest as before.
    XmpOptions o;
    o.keptRating = 5;
    o.keptLabel.clear();
    const SidecarReport again = run(o);
    EXPECT_EQ(again.merged, 3);  // the three kept frames
    EXPECT_EQ(again.unchanged, 3);
    EXPECT_EQ(exiftool(at("kept.xmp"))["Rating"].toInt(), 5);
    EXPECT_FALSE(exiftool(at("kept.xmp")).contains("Label"));
    o.keptRating = 6;
    EXPECT_FALSE(run(o).error.isEmpty());
}

TEST_F(Handover, MergesIntoAnEditorsSidecarAndNeverTouchesPhotographs) {
    save({{"IMG_0001.jpg", Category::Portrait, 4, true, true, 1, {2}},
          {"IMG_0002.jpg", Category::Portrait, 4, true, true}},
         shoot);
    writeText(at("IMG_0001.xmp"), kEditorSidecar);
    const auto photos = snapshot(shoot);

    SidecarReport r = run();
    EXPECT_EQ(r.merged, 1);
    EXPECT_EQ(r.written, 1);
    QJsonObject t = exiftool(at("IMG_0001.xmp"));
    EXPECT_EQ(t["Exposure2012"].toString(), "+0.35");
    EXPECT_EQ(t["WhiteBalance"].toString(), "As Shot");
    EXPECT_EQ(listOf(t["ToneCurvePV2012"]), QStringList({"0, 0", "255, 255"}));
    EXPECT_EQ(listOf(t["HistoryAction"]), QStringList({"saved"}));
    EXPECT_EQ(t["Client"].toString(), "Smith");
    EXPECT_EQ(t["Rating"].toInt(), 3);
    // The user's "Portrait" stays one entry; ours are added after it.
    EXPECT_EQ(listOf(t["Subject"]), QStringList({"Bride", "Portrait", "PC4", "Person 2"}));
    EXPECT_EQ(listOf(t["HierarchicalSubject"]),
              QStringList({"People|Bride", "Keepframe|Category|Portrait", "Keepframe|Moment|PC4",
                           "Keepframe|Person|Person 2"}));

    // Running again changes nothing, byte for byte.
    const QByteArray first = readAll(at("IMG_0001.xmp")), second = readAll(at("IMG_0002.xmp"));
    r = run();
    EXPECT_EQ(r.unchanged, 2) << notesOf(r);
    EXPECT_EQ(readAll(at("IMG_0001.xmp")), first);
    EXPECT_EQ(readAll(at("IMG_0002.xmp")), second);

    // After the user removes the frame, our values change and nothing doubles.
    setSelected("IMG_0001.jpg", false);
    r = run();
    EXPECT_EQ(r.merged, 1);
    t = exiftool(at("IMG_0001.xmp"));
    EXPECT_EQ(t["Rating"].toInt(), -1);
    EXPECT_FALSE(t.contains("Label"));
    EXPECT_EQ(listOf(t["Subject"]), QStringList({"Bride", "Portrait", "PC4", "Person 2"}));
    EXPECT_EQ(listOf(t["HierarchicalSubject"]).count("Keepframe|Moment|PC4"), 1);

    // A rating the photographer gave in the editor is theirs: kept, and said so.
    std::string rated = kEditorSidecar;
    rated.insert(rated.find("crs:Version"), "xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"5\" ");
    writeText(at("IMG_0002.xmp"), rated);
    r = run();
    EXPECT_EQ(exiftool(at("IMG_0002.xmp"))["Rating"].toInt(), 5);
    EXPECT_NE(notesOf(r).find("kept the rating 5"), std::string::npos) << notesOf(r);

    const auto now = snapshot(shoot);
    for (const auto& [path, hash] : photos) {
        if (!path.ends_with(".jpg")) continue;
        EXPECT_EQ(now.at(path), hash) << path;
    }
}

TEST_F(Handover, NamedPersonsBecomeKeywordsThatFollowTheirNames) {
    save({{"IMG_0001.jpg", Category::Group, 4, true, true, 3, {0, 2}},
          {"IMG_0002.jpg", Category::Portrait, 5, true, true, 1, {2}}},
         shoot);
    writeText(at("IMG_0002.xmp"), kEditorSidecar);
    ASSERT_TRUE(store.setPersonName(projectId, 2, "Anna|Smith")) << store.lastError().toStdString();
    SidecarReport r = run();
    EXPECT_EQ(r.written + r.merged, 2) << notesOf(r);
    QJsonObject t = exiftool(at("IMG_0001.xmp"));
    EXPECT_EQ(listOf(t["HierarchicalSubject"]),
              QStringList({"Keepframe|Category|Group", "Keepframe|Moment|GC4", "Keepframe|Person|Person 0",
                           "Keepframe|Person|Anna/Smith"}));
    EXPECT_EQ(listOf(t["Subject"]), QStringList({"Group", "GC4", "Person 0", "Anna/Smith"}));

    // Renamed: the old keyword goes, the editor's own keywords stay.
    ASSERT_TRUE(store.setPersonName(projectId, 2, "Bride"));
    r = run();
    EXPECT_EQ(r.merged, 2) << notesOf(r);
    t = exiftool(at("IMG_0002.xmp"));
    EXPECT_EQ(listOf(t["HierarchicalSubject"]),
              QStringList({"People|Bride", "Keepframe|Category|Portrait", "Keepframe|Moment|PC5",
                           "Keepframe|Person|Bride"}));
    // "Bride" was the editor's flat keyword already: it stays one entry, and stays theirs.
    EXPECT_EQ(listOf(t["Subject"]), QStringList({"Bride", "Portrait", "PC5"}));
    EXPECT_FALSE(listOf(exiftool(at("IMG_0001.xmp"))["Subject"]).contains("Anna/Smith"));

    // Merged into an unnamed person, the name goes with the faces.
    ASSERT_TRUE(store.mergePersons(projectId, 0, 2).has_value());
    run();
    EXPECT_EQ(listOf(exiftool(at("IMG_0001.xmp"))["HierarchicalSubject"]).filter("Keepframe|Person|"),
              QStringList({"Keepframe|Person|Bride"}));

    // Removing ours takes the person keywords too, and only ours.
    XmpOptions o;
    o.remove = true;
    r = run(o);
    EXPECT_EQ(r.removed, 1);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(at("IMG_0001.xmp"))));
    t = exiftool(at("IMG_0002.xmp"));
    EXPECT_EQ(listOf(t["HierarchicalSubject"]), QStringList({"People|Bride"}));
    EXPECT_EQ(listOf(t["Subject"]), QStringList({"Bride", "Portrait"}));
}

TEST_F(Handover, RemovalTakesBackOnlyWhatIsStillOurs) {
    save({{"a.jpg", Category::Portrait, 1, true, true}, {"b.jpg", Category::Portrait, 1, true, true},
          {"c.jpg", Category::Portrait, 2, true, true}},
         shoot);
    writeText(at("b.xmp"), kEditorSidecar);
    run();
    // In the editor the photographer re-rates c to 4.
    Exiv2::XmpData c;
    Exiv2::XmpParser::decode(c, readAll(at("c.xmp")).toStdString());
    c["Xmp.xmp.Rating"] = "4";
    std::string text;
    Exiv2::XmpParser::encode(text, c);
    writeText(at("c.xmp"), text);

    XmpOptions o;
    o.remove = true;
    const SidecarReport r = run(o);
    EXPECT_EQ(r.removed, 1);  // a held nothing else
    EXPECT_EQ(r.merged, 2);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(at("a.xmp"))));

    const QJsonObject b = exiftool(at("b.xmp"));
    EXPECT_EQ(listOf(b["Subject"]), QStringList({"Bride", "Portrait"}));
    EXPECT_EQ(listOf(b["HierarchicalSubject"]), QStringList({"People|Bride"}));
    EXPECT_FALSE(b.contains("Rating"));
    EXPECT_EQ(b["Exposure2012"].toString(), "+0.35");

    auto x = exiv2Xmp(at("c.xmp"));
    EXPECT_EQ(x["Xmp.xmp.Rating"], QStringList({"4"}));
    EXPECT_EQ(x.count("Xmp.xmp.Label"), 0u);
    EXPECT_EQ(x.count("Xmp.lr.hierarchicalSubject"), 0u);
    EXPECT_EQ(run(o).unchanged, 3);
}

TEST_F(Handover, ThePhotographersRatingAndLabelReplaceTheVerdicts) {
    save({{"kept.jpg", Category::Portrait, 10, true, true},
          {"plain.jpg", Category::Portrait, 10, true, true},
          {"removed.jpg", Category::Portrait, 10, true, true},
          {"unpicked.jpg", Category::Portrait, 10, false, false},
          {"alone.jpg", Category::Portrait, 11, false, false}},
         shoot);
    setSelected("removed.jpg", false);
    setMarks("kept.jpg", {5, ColorLabel::Red});
    setMarks("removed.jpg", {2, ColorLabel::None});
    setMarks("unpicked.jpg", {0, ColorLabel::Yellow});
    setMarks("alone.jpg", {std::nullopt, ColorLabel::Blue});

    SidecarReport r = run();
    EXPECT_EQ(r.written, 5) << notesOf(r);
    struct Expect {
        std::string file;
        QString rating, label;
    };
    auto check = [&](const std::vector<Expect>& expected) {
        for (const Expect& e : expected) {
            SCOPED_TRACE(e.file);
            const QJsonObject tool = exiftool(at(e.file + ".xmp"));
            EXPECT_EQ(tool["Rating"].toVariant().toString(), e.rating);
            EXPECT_EQ(tool["Label"].toVariant().toString(), e.label);
            auto x = exiv2Xmp(at(e.file + ".xmp"));
            EXPECT_EQ(x["Xmp.xmp.Rating"].value(0), e.rating);
            EXPECT_EQ(x["Xmp.xmp.Label"].value(0), e.label);
        }
    };
    check({{"kept", "5", "Red"},
           {"plain", "3", "Green"},      // no marks of its own: the kept frame's values
           {"removed", "2", ""},         // rated after all: not a reject
           {"unpicked", "0", "Yellow"},  // explicitly no stars
           {"alone", "1", "Blue"}});     // for review, labelled

    // Marks taken back in the review: the verdict's values return.
    setMarks("kept.jpg", {5, ColorLabel::None});
    setMarks("removed.jpg", {});
    setMarks("unpicked.jpg", {});
    r = run();
    EXPECT_EQ(r.merged, 3) << notesOf(r);
    check({{"kept", "5", "Green"}, {"removed", "-1", ""}, {"unpicked", "", ""}, {"alone", "1", "Blue"}});

    // Remove Ours (as the command line's --xmp-remove runs it) takes all of it back.
    XmpOptions o;
    o.remove = true;
    r = run(o);
    EXPECT_EQ(r.removed, 5) << notesOf(r);
    EXPECT_TRUE(QDir(QString::fromStdString(shoot)).entryList({"*.xmp"}).isEmpty());
}

TEST_F(Handover, RemovalGivesBackTheRatingAndLabelASidecarHadBefore) {
    save({{"zero.jpg", Category::Portrait, 1, true, true},
          {"rated.jpg", Category::Portrait, 1, true, true},
          {"same.jpg", Category::Portrait, 2, true, true}},
         shoot);
    auto editorSidecar = [&](const std::string& name, const std::string& attributes) {
        std::string text = kEditorSidecar;
        text.insert(text.find("crs:Version"), "xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" " + attributes + " ");
        writeText(at(name), text);
    };
    editorSidecar("zero.xmp", "xmp:Rating=\"0\"");  // explicitly unrated in the editor
    editorSidecar("rated.xmp", "xmp:Rating=\"2\" xmp:Label=\"Red\"");
    editorSidecar("same.xmp", "xmp:Label=\"Blue\"");
    setMarks("zero.jpg", {4, ColorLabel::Green});
    setMarks("rated.jpg", {5, ColorLabel::Blue});
    setMarks("same.jpg", {std::nullopt, ColorLabel::Blue});

    SidecarReport r = run();
    EXPECT_EQ(r.merged, 3) << notesOf(r);
    QJsonObject t = exiftool(at("zero.xmp"));
    EXPECT_EQ(t["Rating"].toInt(), 4);
    EXPECT_EQ(t["Label"].toString(), "Green");
    t = exiftool(at("rated.xmp"));  // the editor's own values win, and the report says so
    EXPECT_EQ(t["Rating"].toInt(), 2);
    EXPECT_EQ(t["Label"].toString(), "Red");
    EXPECT_NE(notesOf(r).find("kept the rating 2"), std::string::npos) << notesOf(r);
    EXPECT_NE(notesOf(r).find("kept the label Red"), std::string::npos) << notesOf(r);
    EXPECT_EQ(exiftool(at("same.xmp"))["Label"].toString(), "Blue");

    // The desktop's Remove Ours.
    SelectionModel model;
    model.setStore(&store);
    ASSERT_TRUE(model.loadFromProject(projectId, QString::fromStdString(shoot)));
    const QVariantMap m = model.writeXmpSidecars({{"remove", true}});
    EXPECT_EQ(m["error"].toString(), "");
    EXPECT_EQ(m["removed"].toInt(), 0);  // every one was the editor's to begin with
    t = exiftool(at("zero.xmp"));
    EXPECT_EQ(t["Rating"].toVariant().toString(), "0");
    EXPECT_FALSE(t.contains("Label"));
    EXPECT_EQ(t["Exposure2012"].toString(), "+0.35");
    t = exiftool(at("rated.xmp"));
    EXPECT_EQ(t["Rating"].toInt(), 2);
    EXPECT_EQ(t["Label"].toString(), "Red");
    EXPECT_EQ(exiftool(at("same.xmp"))["Label"].toString(), "Blue");
    for (const char* name : {"zero.xmp", "rated.xmp", "same.xmp"}) {
        const auto x = exiv2Xmp(at(name));
        for (const auto& [key, values] : x)
            EXPECT_FALSE(QString::fromStdString(key).startsWith("Xmp.keepframe.")) << key;
        EXPECT_EQ(x.count("Xmp.lr.hierarchicalSubject") ? x.at("Xmp.lr.hierarchicalSubject") : QStringList(),
                  QStringList({"People|Bride"}));
    }
}

TEST_F(Handover, RawOriginalsGetTheSidecarsAndSameStemsAreSettled) {
    // Culled from the previews in shoot/shoot_JPG; the originals are DNG files.
    const std::string previews = shoot + "/shoot_JPG";
    raw("DSC_0001.DNG", "2024:06:01 12:00:00");
    photo("DSC_0001.JPG", "2024:06:01 12:00:00");  // the camera's JPEG of the same capture
    raw("DSC_0002.DNG", "2024:06:01 12:00:05");
    photo("DSC_0002.JPG", "2024:06:01 13:30:00");  // another camera, another moment
    raw("sub/DSC_0003.DNG", "2024:06:01 12:01:00");
    save({{"DSC_0001.jpg", Category::Portrait, 1, true, true},
          {"DSC_0002.jpg", Category::Portrait, 2, true, true},
          {"sub/DSC_0003.jpg", Category::Portrait, 3, true, true},
          {"DSC_0004.jpg", Category::Portrait, 4, true, true}},  // its original is gone
         previews);
    std::filesystem::remove(at("shoot_JPG/DSC_0004.jpg"));
    const auto before = snapshot(shoot);

    SidecarReport r = run({}, previews);
    EXPECT_EQ(r.written, 3) << notesOf(r);
    EXPECT_EQ(r.skipped, 2) << notesOf(r);
    for (const char* s : {"DSC_0001.xmp", "DSC_0002.xmp", "sub/DSC_0003.xmp"})
        EXPECT_EQ(exiftool(at(s))["Rating"].toInt(), 3) << s;
    EXPECT_FALSE(std::filesystem::exists(at("shoot_JPG/DSC_0001.xmp")));
    const std::string notes = notesOf(r);
    EXPECT_NE(notes.find("skipped DSC_0002.JPG"), std::string::npos) << notes;
    EXPECT_NE(notes.find("DSC_0002.DNG, which has DSC_0002.xmp"), std::string::npos) << notes;
    EXPECT_EQ(notes.find("DSC_0001.JPG"), std::string::npos) << notes;  // one capture: shares it
    EXPECT_NE(notes.find("skipped DSC_0004.jpg"), std::string::npos) << notes;
    for (const auto& [path, hash] : before) EXPECT_EQ(snapshot(shoot)[path], hash) << path;

    // The appending style gives every original its own.
    XmpOptions append;
    append.style = SidecarStyle::Append;
    r = run(append, previews);
    EXPECT_EQ(r.written, 3) << notesOf(r);
    EXPECT_EQ(r.skipped, 1);
    EXPECT_EQ(exiv2Xmp(at("sub/DSC_0003.DNG.xmp"))["Xmp.xmp.Label"], QStringList({"Green"}));
}

TEST_F(Handover, SameStemPhotographsOfOneProject) {
    photo("IMG_1.jpg", "2024:06:01 10:00:00");
    photo("IMG_1.jpeg", "2024:06:01 10:00:00");
    photo("IMG_2.jpg", "2024:06:01 11:00:00");
    photo("IMG_2.jpeg", "2024:06:01 11:00:09");
    save({{"IMG_1.jpeg", Category::Portrait, 1, false, false}, {"IMG_1.jpg", Category::Portrait, 1, true, true},
          {"IMG_2.jpeg", Category::Portrait, 2, true, true}, {"IMG_2.jpg", Category::Portrait, 2, false, false}},
         shoot, false);
    const SidecarReport r = run();
    EXPECT_EQ(r.written, 2);
    EXPECT_EQ(r.shared, 1);
    EXPECT_EQ(r.skipped, 1);
    // The kept frame of each pair holds the sidecar.
    EXPECT_EQ(exiftool(at("IMG_1.xmp"))["Rating"].toInt(), 3);
    EXPECT_EQ(exiftool(at("IMG_2.xmp"))["Rating"].toInt(), 3);
    const std::string notes = notesOf(r);
    EXPECT_NE(notes.find("shared IMG_1.jpeg (IMG_1.xmp): one capture with IMG_1.jpg"), std::string::npos) << notes;
    EXPECT_NE(notes.find("skipped IMG_2.jpg"), std::string::npos) << notes;
}

TEST_F(Handover, PhotographsWithoutAKnownTimeAreNeverOneCapture) {
    // A camera without a set clock writes zeros; two such frames share nothing but their name.
    photo("IMG_3.jpg", "0000:00:00 00:00:00");
    photo("IMG_3.jpeg", "0000:00:00 00:00:00");
    save({{"IMG_3.jpg", Category::Portrait, 1, true, true}, {"IMG_3.jpeg", Category::Portrait, 1, false, false}}, shoot,
         false);
    const SidecarReport r = run();
    EXPECT_EQ(r.written, 1);
    EXPECT_EQ(r.shared, 0);
    EXPECT_EQ(r.skipped, 1);
    EXPECT_EQ(exiftool(at("IMG_3.xmp"))["Rating"].toInt(), 3);
}

TEST_F(Handover, FailuresStayPerFileAndLeaveOldSidecarsIntact) {
    save({{"a.jpg"}, {"b.jpg"}, {"c.jpg"}, {"d.jpg"}}, shoot);
    writeText(at("a.xmp"), kEditorSidecar);
    writeText(at("b.xmp"), "<x:xmpmeta this is not XMP");
    std::filesystem::create_directories(at("c.xmp"));
    // The write of a.xmp breaks off between writing and renaming.
    setXmpCommitHookForTests([](const QString& path) { return !path.endsWith("a.xmp"); });

    const SidecarReport r = run();
    EXPECT_EQ(r.failed, 3) << notesOf(r);
    EXPECT_EQ(r.written, 1);
    EXPECT_EQ(readAll(at("a.xmp")), QByteArray(kEditorSidecar));
    EXPECT_EQ(readAll(at("b.xmp")), QByteArray("<x:xmpmeta this is not XMP"));
    EXPECT_NE(notesOf(r).find("b.jpg (b.xmp): the existing sidecar is not valid XMP"), std::string::npos);
    EXPECT_EQ(QDir(QString::fromStdString(shoot)).entryList(QDir::Files).size(), 7);  // no temporary files left
    EXPECT_EQ(exiftool(at("d.xmp"))["Rating"].toVariant().toString(), "1");

    // A folder that cannot be written: every file fails on its own (root is
    // not stopped by permissions, so there is nothing to see then).
    setXmpCommitHookForTests({});
    std::filesystem::remove(at("d.xmp"));
    const auto perms = std::filesystem::status(shoot).permissions();
    std::filesystem::permissions(shoot, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    QFile probe(QString::fromStdString(shoot + "/probe"));
    const bool enforced = !probe.open(QIODevice::WriteOnly);
    if (enforced) {
        const SidecarReport locked = run();
        EXPECT_EQ(locked.failed, 4) << notesOf(locked);
        EXPECT_EQ(readAll(at("a.xmp")), QByteArray(kEditorSidecar));
    }
    std::filesystem::permissions(shoot, perms);
}

TEST_F(Handover, HostileNamesWriteNothingOutsideTheInputFolder) {
    photo("inside.jpg");
    const std::string outside = dir.str() + "/outside";
    shootgen::writeJpeg(dir.file("outside/x.jpg"), cv::Mat(8, 8, CV_8UC3), {});
    shootgen::writeJpeg(dir.file("outside.jpg"), cv::Mat(8, 8, CV_8UC3), {});
    std::filesystem::create_directory_symlink(outside, shoot + "/link");
    save({{"inside.jpg"}, {"escape.jpg"}}, shoot, false);
    const auto withoutLibrary = [](std::map<std::string, QByteArray> files) {
        for (auto it = files.begin(); it != files.end();)
            it = it->first.find("/library/") != std::string::npos ? files.erase(it) : std::next(it);
        return files;
    };
    const auto before = withoutLibrary(snapshot(dir.path()));

    // A project database edited to climb out of the shoot is refused whole.
    ASSERT_TRUE(store.execProjectSql(R"sql(UPDATE images SET filename = '../outside.jpg'
                                           WHERE filename = 'escape.jpg')sql"));
    ProjectStore reopened;  // a later session opens the edited database afresh
    ASSERT_TRUE(reopened.openRegistry());
    const SidecarReport refused = writeProjectXmpSidecars(reopened, projectId, QString::fromStdString(shoot), {});
    EXPECT_FALSE(refused.error.isEmpty());
    EXPECT_EQ(refused.written, 0) << notesOf(refused);
    EXPECT_EQ(withoutLibrary(snapshot(dir.path())), before);

    // The writer checks every name itself too, links included.
    QList<HandoverImage> images;
    for (const char* name : {"inside.jpg", "../outside.jpg", "sub/../../outside.jpg", "link/x.jpg",
                             "..\\outside.jpg", ""}) {
        HandoverImage image;
        image.filename = QString::fromUtf8(name);
        image.category = image.displayCategory = "portrait";
        image.verdict = HandoverVerdict::Kept;
        images.append(image);
    }
    HandoverImage absolute = images.front();
    absolute.filename = QString::fromStdString(dir.str() + "/outside.jpg");
    images.append(absolute);
    const SidecarReport r = writeXmpSidecars(QString::fromStdString(shoot), images, {});
    EXPECT_EQ(r.written, 1) << notesOf(r);  // inside.xmp
    EXPECT_EQ(r.skipped, 6) << notesOf(r);
    auto after = withoutLibrary(snapshot(dir.path()));
    after.erase(at("inside.xmp"));
    EXPECT_EQ(after, before);
}

TEST_F(Handover, ExportEmbedsXmpInCopiesAndTheModelReportsAsAMap) {
    save({{"a.jpg", Category::Group, 5, true, true, 3, {1}}, {"b.jpg", Category::Portrait, 6, true, false}}, shoot);
    setSelected("b.jpg", false);
    SelectionModel model;
    model.setStore(&store);
    ASSERT_TRUE(model.loadFromProject(projectId, QString::fromStdString(shoot)));
    const auto originals = snapshot(shoot);

    const QVariantMap e = model.exportFinal(QString::fromStdString(dir.str() + "/out"), false, false, true);
    EXPECT_EQ(e["selected"].toInt(), 1);
    EXPECT_EQ(e["xmpFailed"].toInt(), 0);
    const QJsonObject t = exiftool(dir.str() + "/out/final_selection/a.jpg");
    EXPECT_EQ(t["Rating"].toInt(), 3);
    EXPECT_EQ(t["Label"].toString(), "Green");
    EXPECT_EQ(listOf(t["HierarchicalSubject"]),
              QStringList({"Keepframe|Category|Group", "Keepframe|Moment|GC5", "Keepframe|Person|Person 1"}));
    EXPECT_EQ(snapshot(shoot), originals);
    EXPECT_FALSE(model.exportFinal(QString::fromStdString(dir.str() + "/plain")).contains("xmpFailed"));

    QVariantMap m = model.writeXmpSidecars({{"style", "append"}, {"rating", 4}, {"label", ""}});
    EXPECT_EQ(m["written"].toInt(), 2);
    EXPECT_EQ(m["error"].toString(), "");
    EXPECT_EQ(exiftool(at("a.jpg.xmp"))["Rating"].toInt(), 4);
    m = model.writeXmpSidecars({{"style", "sideways"}});
    EXPECT_FALSE(m["error"].toString().isEmpty());
    model.clear();
    EXPECT_EQ(model.writeXmpSidecars()["error"].toString(), "No project is open.");
}

namespace {

// A commit hook that holds every sidecar's commit on the writer's thread until
// the test opens the gate.
class Gate {
public:
    bool pass() {
        std::unique_lock<std::mutex> lock(mutex_);
        ++arrived_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
        return true;
    }
    bool arrived(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return arrived_ >= count; });
    }
    void open() {
        const std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int arrived_ = 0;
    bool open_ = false;
};

}  // namespace

TEST_F(Handover, SidecarNamesAndStemsThatDifferOnlyInCase) {
    save({{"IMG_7.jpg", Category::Portrait, 1, true, true}, {"IMG_8.jpg", Category::Portrait, 2, true, true}}, shoot);
    writeText(at("IMG_7.XMP"), kEditorSidecar);    // an editor's sidecar named in capitals
    photo("img_8.JPEG", "2024:06:01 18:00:00");    // another camera's frame, the same name but for case

    const SidecarReport r = run();
    EXPECT_EQ(r.merged, 1) << notesOf(r);
    EXPECT_EQ(r.written, 1);
    EXPECT_EQ(r.skipped, 1);
    EXPECT_FALSE(std::filesystem::exists(at("IMG_7.xmp")));
    const QJsonObject t = exiftool(at("IMG_7.XMP"));
    EXPECT_EQ(t["Rating"].toInt(), 3);
    EXPECT_EQ(t["Exposure2012"].toString(), "+0.35");
    const std::string notes = notesOf(r);
    EXPECT_NE(notes.find("skipped img_8.JPEG"), std::string::npos) << notes;
    EXPECT_NE(notes.find("which has IMG_8.xmp"), std::string::npos) << notes;
}

TEST_F(Handover, TheBackgroundWriteGivesTheSameResultAndRunsOneAtATime) {
    save({{"a.jpg", Category::Portrait, 1, true, true, 1, {2}}, {"b.jpg", Category::Group, 2, true, false}, {"c.jpg"},
          {"gone.jpg"}},
         shoot);
    std::filesystem::remove(at("gone.jpg"));
    photo("a.jpeg", "2024:06:01 14:00:00");  // another capture with a's name, not in the project
    writeText(at("c.xmp"), "<x:xmpmeta this is not XMP");
    SelectionModel model;
    model.setStore(&store);
    ASSERT_TRUE(model.loadFromProject(projectId, QString::fromStdString(shoot)));
    QSignalSpy finished(&model, &SelectionModel::xmpSidecarsFinished);
    QSignalSpy running(&model, &SelectionModel::xmpRunningChanged);
    const QVariantMap options{{"rating", 4}, {"label", ""}};

    // Held at its first sidecar, the write runs and is the only one.
    Gate gate;
    setXmpCommitHookForTests([&](const QString&) { return gate.pass(); });
    ASSERT_TRUE(model.startXmpSidecars(options));
    EXPECT_TRUE(model.xmpRunning());
    EXPECT_EQ(running.count(), 1);
    ASSERT_TRUE(gate.arrived(1));
    EXPECT_EQ(model.xmpProgressTotal(), 4);
    EXPECT_LT(model.xmpProgressDone(), 4);
    EXPECT_FALSE(model.startXmpSidecars(options));
    EXPECT_EQ(model.writeXmpSidecars(options)["error"].toString(), "XMP sidecars are being written already.");
    gate.open();
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_FALSE(model.xmpRunning());
    EXPECT_EQ(running.count(), 2);
    EXPECT_EQ(model.xmpProgressDone(), 4);
    const QVariantMap background = finished.takeFirst().at(0).toMap();
    const auto afterBackground = snapshot(shoot);
    setXmpCommitHookForTests({});

    // From the same start the write on the calling thread gives the same map and the same files.
    std::filesystem::remove(at("a.xmp"));
    std::filesystem::remove(at("b.xmp"));
    const QVariantMap direct = model.writeXmpSidecars(options);
    EXPECT_EQ(background, direct);
    EXPECT_EQ(direct["written"].toInt(), 2);
    EXPECT_EQ(direct["failed"].toInt(), 1);
    EXPECT_EQ(direct["skipped"].toInt(), 2);  // gone.jpg, and a.jpeg beside a.jpg
    EXPECT_EQ(snapshot(shoot), afterBackground);

    // Options that make no sense end the same way, told after the call returns.
    const QVariantMap sideways{{"style", "sideways"}};
    ASSERT_TRUE(model.startXmpSidecars(sideways));
    EXPECT_EQ(finished.count(), 0);
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_EQ(finished.takeFirst().at(0).toMap(), model.writeXmpSidecars(sideways));
    EXPECT_FALSE(model.xmpRunning());

    model.clear();
    EXPECT_FALSE(model.startXmpSidecars(options));
    EXPECT_FALSE(model.xmpRunning());
    QCoreApplication::processEvents();
    EXPECT_EQ(finished.count(), 0);
}

TEST_F(Handover, DestroyingTheModelDuringABackgroundWriteStopsItAtAWholeSidecar) {
    std::vector<Shot> shots;
    for (int i = 0; i < 40; ++i)
        shots.push_back({"f" + std::to_string(i) + ".jpg", Category::Portrait, i + 1, true, true});
    save(shots, shoot);
    std::atomic<int> commits{0};
    setXmpCommitHookForTests([&](const QString&) {
        ++commits;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return true;
    });
    auto model = std::make_unique<SelectionModel>();
    model->setStore(&store);
    ASSERT_TRUE(model->loadFromProject(projectId, QString::fromStdString(shoot)));
    QObject listener;
    int notices = 0;
    QObject::connect(model.get(), &SelectionModel::xmpSidecarsFinished, &listener, [&] { ++notices; });
    ASSERT_TRUE(model->startXmpSidecars());
    for (int waited = 0; commits.load() < 3 && waited < 30000; waited += 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_GE(commits.load(), 3);

    model.reset();  // waits for the write, which ends at the next sidecar
    const int committed = commits.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    QCoreApplication::processEvents();
    EXPECT_EQ(commits.load(), committed);  // nothing runs on
    EXPECT_EQ(notices, 0);
    EXPECT_LT(committed, 40);

    // Every sidecar there is whole, and nothing else was left behind.
    int sidecars = 0;
    for (const auto& e : std::filesystem::directory_iterator(shoot)) {
        const std::string ext = e.path().extension().string();
        if (ext == ".xmp") {
            ++sidecars;
            EXPECT_EQ(exiv2Xmp(e.path().string())["Xmp.xmp.Rating"], QStringList({"3"})) << e.path();
        } else {
            EXPECT_EQ(ext, ".jpg") << e.path();
        }
    }
    EXPECT_EQ(sidecars, committed);
}
