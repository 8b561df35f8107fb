// What a sidecar keeps through a merge and a removal beside its properties'
// values: the namespace each property belongs to (whatever prefix this or
// another file binds), the subject of its descriptions, values given as
// resources, and the sidecar itself when it was there before us. Read back
// with exiftool and with a plain XML reader, never with Exiv2.
#include "exif_writer.h"
#include "exiftool_json.h"
#include "exiv2_headers.h"
#include "handover.h"
#include "qt_print.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QXmlStreamReader>

#include <filesystem>
#include <fstream>
#include <map>

using namespace keepframe;
using keepframe::testing::exiftoolXmp;
using keepframe::testing::listOf;
using keepframe::testing::TempDir;

namespace {

const QString kRdf = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
const QString kDc = "http://purl.org/dc/elements/1.1/";
const QString kLr = "http://ns.adobe.com/lightroom/1.0/";
const QString kXmp = "http://ns.adobe.com/xap/1.0/";

// Binds the prefixes of Dublin Core, Lightroom and our own namespace to
// namespaces of other programs.
const char* const kForeignPrefixes = R"xmp(<x:xmpmeta xmlns:x="adobe:ns:meta/">
 <rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
  <rdf:Description rdf:about=""
    xmlns:dc="http://example.com/not-dublin-core/"
    xmlns:lr="http://example.com/not-lightroom/"
    xmlns:keepframe="http://example.com/another-keepframe/"
   dc:Venue="Old Mill" lr:Preset="Warm" keepframe:Job="2024-117"/>
 </rdf:RDF>
</x:xmpmeta>
)xmp";

// Real Dublin Core and Lightroom properties.
const char* const kCredits = R"xmp(<x:xmpmeta xmlns:x="adobe:ns:meta/">
 <rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
  <rdf:Description rdf:about=""
    xmlns:dc="http://purl.org/dc/elements/1.1/"
    xmlns:lr="http://ns.adobe.com/lightroom/1.0/">
   <dc:title><rdf:Alt><rdf:li xml:lang="x-default">Vows</rdf:li></rdf:Alt></dc:title>
   <dc:creator><rdf:Seq><rdf:li>Ann Smith</rdf:li></rdf:Seq></dc:creator>
   <dc:rights><rdf:Alt><rdf:li xml:lang="x-default">(c) Ann Smith</rdf:li></rdf:Alt></dc:rights>
   <dc:subject><rdf:Bag><rdf:li>Bride</rdf:li></rdf:Bag></dc:subject>
   <lr:hierarchicalSubject><rdf:Bag><rdf:li>People|Bride</rdf:li></rdf:Bag></lr:hierarchicalSubject>
  </rdf:Description>
 </rdf:RDF>
</x:xmpmeta>
)xmp";

// An editor's sidecar about a document id, with an instance id of its own and
// values that are resources.
const char* const kAboutAndResources = R"xmp(<x:xmpmeta xmlns:x="adobe:ns:meta/">
 <rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
  <rdf:Description rdf:about="uuid:faf5bdd5-ba3d-11da-ad31-d33d75182f1b"
    xmlns:xmpMM="http://ns.adobe.com/xap/1.0/mm/" xmpMM:InstanceID="xmp.iid:7f3a"/>
  <rdf:Description rdf:about="uuid:faf5bdd5-ba3d-11da-ad31-d33d75182f1b"
    xmlns:xmpRights="http://ns.adobe.com/xap/1.0/rights/"
    xmlns:dc="http://purl.org/dc/elements/1.1/">
   <xmpRights:WebStatement rdf:resource="https://example.com/licence"/>
   <dc:relation><rdf:Bag>
    <rdf:li rdf:resource="https://example.com/album/7"/>
    <rdf:li>https://example.com/album/8</rdf:li>
   </rdf:Bag></dc:relation>
  </rdf:Description>
 </rdf:RDF>
</x:xmpmeta>
)xmp";

QByteArray readAll(const std::string& path) {
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

void photo(const std::string& path) {
    ASSERT_TRUE(shootgen::writeJpeg(path, cv::Mat(16, 16, CV_8UC3, cv::Scalar(90, 120, 150)),
                                    {"2024:06:01 12:00:00", "2024:06:01 12:00:00", "", 1}));
}

// Kept photographs in the portrait category, one moment each.
QList<HandoverImage> kept(const QStringList& names) {
    QList<HandoverImage> out;
    for (int i = 0; i < names.size(); ++i) {
        HandoverImage image;
        image.filename = names[i];
        image.category = image.displayCategory = "portrait";
        image.clusterNumber = i + 1;
        image.verdict = HandoverVerdict::Kept;
        out.append(image);
    }
    return out;
}

// What exiftool reads, named by the group of each namespace ("XMP-dc:Title");
// namespaces it does not know get a group of their own.
QJsonObject exiftoolGroups(const std::string& path) { return exiftoolXmp(path, {"-G1", "-a"}); }

// A packet read as plain RDF/XML: each top-level property by namespace URI and
// name with its texts in order, the rdf:about of every description, and
// "property value" for each value given as rdf:resource.
struct Rdf {
    std::map<QString, QStringList> values;
    QStringList abouts;
    QStringList resources;
};

Rdf readRdf(const QByteArray& packet) {
    Rdf rdf;
    QXmlStreamReader xml(packet);
    QString property;  // the top-level property being read
    int depth = 0, descriptionDepth = -1;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            ++depth;
            const bool description = xml.namespaceUri() == kRdf && xml.name() == u"Description";
            if (description && descriptionDepth < 0) {
                descriptionDepth = depth;
                rdf.abouts << xml.attributes().value(kRdf, "about").toString();
                for (const QXmlStreamAttribute& a : xml.attributes())
                    if (a.namespaceUri() != kRdf)
                        rdf.values[a.namespaceUri().toString() + a.name().toString()] << a.value().toString();
            } else if (depth == descriptionDepth + 1) {
                property = xml.namespaceUri().toString() + xml.name().toString();
            }
            if (xml.attributes().hasAttribute(kRdf, "resource")) {
                const QString value = xml.attributes().value(kRdf, "resource").toString();
                rdf.values[property] << value;
                rdf.resources << property + " " + value;
            }
        } else if (xml.isCharacters() && !xml.isWhitespace() && !property.isEmpty()) {
            rdf.values[property] << xml.text().toString();
        } else if (xml.isEndElement()) {
            if (depth == descriptionDepth) descriptionDepth = -1;
            if (depth == descriptionDepth + 1) property.clear();
            --depth;
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return rdf;
}

Rdf readRdfFile(const std::string& path) { return readRdf(readAll(path)); }

std::string notesOf(const SidecarReport& r) {
    std::string out = r.error.toStdString();
    for (const SidecarNote& n : r.notes)
        out += (outcomeName(n.outcome) + " " + n.file + ": " + n.reason + "\n").toStdString();
    return out;
}

struct RoundTrip : ::testing::Test {
    TempDir dir;
    XmpOptions remove;

    RoundTrip() { remove.remove = true; }
    std::string at(const std::string& relative) const { return dir.file(relative); }
    SidecarReport run(const std::string& folder, const QStringList& names, const XmpOptions& options = {}) {
        return writeXmpSidecars(QString::fromStdString(at(folder)), kept(names), options);
    }
};

// Dublin Core, Lightroom and our values of c.xmp as editors read them.
void expectCredits(const std::string& sidecar, const QStringList& subjects, const QStringList& hierarchy) {
    const QJsonObject t = exiftoolGroups(sidecar);
    EXPECT_EQ(t["XMP-dc:Title"].toString(), "Vows");
    EXPECT_EQ(listOf(t["XMP-dc:Creator"]), QStringList{"Ann Smith"});
    EXPECT_EQ(t["XMP-dc:Rights"].toString(), "(c) Ann Smith");
    EXPECT_EQ(listOf(t["XMP-dc:Subject"]), subjects);
    EXPECT_EQ(listOf(t["XMP-lr:HierarchicalSubject"]), hierarchy);
}

}  // namespace

TEST_F(RoundTrip, APrefixBoundToAnotherNamespaceMovesNoOtherProperty) {
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) photo(at(std::string("shoot/") + name));
    writeText(at("shoot/a.xmp"), kForeignPrefixes);
    writeText(at("shoot/c.xmp"), kCredits);

    SidecarReport r = run("shoot", {"a.jpg", "b.jpg", "c.jpg"});
    EXPECT_EQ(r.merged, 2) << notesOf(r);
    EXPECT_EQ(r.written, 1);
    expectCredits(at("shoot/c.xmp"), {"Bride", "Portrait", "PC3"},
                  {"People|Bride", "Keepframe|Category|Portrait", "Keepframe|Moment|PC3"});
    EXPECT_EQ(exiftoolGroups(at("shoot/c.xmp"))["XMP-xmp:Rating"].toInt(), 3);
    EXPECT_EQ(listOf(exiftoolGroups(at("shoot/b.xmp"))["XMP-dc:Subject"]), QStringList({"Portrait", "PC2"}));

    // a.xmp keeps the other programs' properties in their namespaces and gets
    // ours in the real ones.
    Rdf a = readRdfFile(at("shoot/a.xmp"));
    EXPECT_EQ(a.values["http://example.com/not-dublin-core/Venue"], QStringList{"Old Mill"});
    EXPECT_EQ(a.values["http://example.com/not-lightroom/Preset"], QStringList{"Warm"});
    EXPECT_EQ(a.values["http://example.com/another-keepframe/Job"], QStringList{"2024-117"});
    EXPECT_EQ(a.values[kDc + "subject"], QStringList({"Portrait", "PC1"}));
    EXPECT_EQ(a.values[kLr + "hierarchicalSubject"],
              QStringList({"Keepframe|Category|Portrait", "Keepframe|Moment|PC1"}));
    EXPECT_EQ(a.values[kXmp + "Rating"], QStringList{"3"});
    EXPECT_EQ(a.values.count("http://example.com/not-dublin-core/subject"), 0u);

    // Taking ours back out leaves everyone else's where it was.
    r = run("shoot", {"a.jpg", "b.jpg", "c.jpg"}, remove);
    EXPECT_EQ(r.merged, 2) << notesOf(r);
    EXPECT_EQ(r.removed, 1);
    expectCredits(at("shoot/c.xmp"), {"Bride"}, {"People|Bride"});
    a = readRdfFile(at("shoot/a.xmp"));
    EXPECT_EQ(a.values["http://example.com/not-dublin-core/Venue"], QStringList{"Old Mill"});
    EXPECT_EQ(a.values["http://example.com/not-lightroom/Preset"], QStringList{"Warm"});
    EXPECT_EQ(a.values["http://example.com/another-keepframe/Job"], QStringList{"2024-117"});
    EXPECT_EQ(a.values.size(), 3u);
}

TEST_F(RoundTrip, ABindingReadInOneRunReachesNoLaterWrite) {
    photo(at("first/a.jpg"));
    photo(at("second/c.jpg"));
    photo(at("copies/c.jpg"));
    writeText(at("first/a.xmp"), kForeignPrefixes);
    writeText(at("second/c.xmp"), kCredits);
    // An exported copy whose embedded XMP holds real Dublin Core.
    QProcess tool;
    tool.start("exiftool",
               {"-q", "-overwrite_original", "-XMP-dc:Title=Vows", QString::fromStdString(at("copies/c.jpg"))});
    ASSERT_TRUE(tool.waitForFinished(60000));

    EXPECT_EQ(run("first", {"a.jpg"}).merged, 1);
    const SidecarReport r = run("second", {"c.jpg"});
    EXPECT_EQ(r.merged, 1) << notesOf(r);
    expectCredits(at("second/c.xmp"), {"Bride", "Portrait", "PC1"},
                  {"People|Bride", "Keepframe|Category|Portrait", "Keepframe|Moment|PC1"});

    QString error;
    ASSERT_TRUE(embedXmp(QString::fromStdString(at("copies/c.jpg")), kept({"c.jpg"}).front(), {}, error))
        << error.toStdString();
    const QJsonObject copy = exiftoolGroups(at("copies/c.jpg"));
    EXPECT_EQ(copy["XMP-dc:Title"].toString(), "Vows");
    EXPECT_EQ(listOf(copy["XMP-dc:Subject"]), QStringList({"Portrait", "PC1"}));

    // The process's namespace tables are as they were before the runs.
    EXPECT_EQ(Exiv2::XmpProperties::ns("dc"), kDc.toStdString());
    EXPECT_EQ(Exiv2::XmpProperties::ns("lr"), kLr.toStdString());
    EXPECT_EQ(Exiv2::XmpProperties::prefix("http://example.com/not-dublin-core/"), "");
}

// The XMP an exported copy holds (written into it by exiftool as it is), with ours embedded.
Rdf embedInto(const std::string& copy, const char* packet) {
    const std::string source = copy + ".source.xmp";
    writeText(source, packet);
    QProcess tool;
    tool.start("exiftool", {"-q", "-overwrite_original", "-XMP<=" + QString::fromStdString(source),
                            QString::fromStdString(copy)});
    EXPECT_TRUE(tool.waitForFinished(60000));
    QString error;
    EXPECT_TRUE(embedXmp(QString::fromStdString(copy), kept({"a.jpg"}).front(), {}, error)) << error.toStdString();
    tool.start("exiftool", {"-b", "-XMP", QString::fromStdString(copy)});
    EXPECT_TRUE(tool.waitForFinished(60000));
    return readRdf(tool.readAllStandardOutput());
}

TEST_F(RoundTrip, AnExportedCopyKeepsWhatItsOwnXmpHolds) {
    photo(at("copies/a.jpg"));
    photo(at("copies/b.jpg"));
    Rdf a = embedInto(at("copies/a.jpg"), kForeignPrefixes);
    EXPECT_EQ(a.values["http://example.com/not-dublin-core/Venue"], QStringList{"Old Mill"});
    EXPECT_EQ(a.values["http://example.com/another-keepframe/Job"], QStringList{"2024-117"});
    EXPECT_EQ(a.values[kDc + "subject"], QStringList({"Portrait", "PC1"}));
    EXPECT_EQ(a.values[kXmp + "Label"], QStringList{"Green"});

    Rdf b = embedInto(at("copies/b.jpg"), kAboutAndResources);
    ASSERT_FALSE(b.abouts.isEmpty());
    for (const QString& about : b.abouts) EXPECT_EQ(about, "uuid:faf5bdd5-ba3d-11da-ad31-d33d75182f1b");
    EXPECT_EQ(b.values["http://ns.adobe.com/xap/1.0/mm/InstanceID"], QStringList{"xmp.iid:7f3a"});
    EXPECT_EQ(b.resources, QStringList({"http://ns.adobe.com/xap/1.0/rights/WebStatement https://example.com/licence",
                                        kDc + "relation https://example.com/album/7"}));
    EXPECT_EQ(b.values[kXmp + "Label"], QStringList{"Green"});
}

TEST_F(RoundTrip, TheSubjectOfTheDescriptionsAndResourcesStayAsTheyWere) {
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) photo(at(std::string("shoot/") + name));
    writeText(at("shoot/a.xmp"), kAboutAndResources);
    // A document id without an instance id of its own, and a path.
    std::string b = kCredits;
    b.replace(b.find("rdf:about=\"\""), 12, "rdf:about=\"uuid:0b7e-11\"");
    writeText(at("shoot/b.xmp"), b);
    std::string c = kCredits;
    c.replace(c.find("rdf:about=\"\""), 12, "rdf:about=\"IMG &amp; Co.CR2\"");
    writeText(at("shoot/c.xmp"), c);

    SidecarReport r = run("shoot", {"a.jpg", "b.jpg", "c.jpg"});
    EXPECT_EQ(r.merged, 3) << notesOf(r);
    Rdf a = readRdfFile(at("shoot/a.xmp"));
    for (const QString& about : a.abouts) EXPECT_EQ(about, "uuid:faf5bdd5-ba3d-11da-ad31-d33d75182f1b");
    EXPECT_EQ(a.values["http://ns.adobe.com/xap/1.0/mm/InstanceID"], QStringList{"xmp.iid:7f3a"});
    EXPECT_EQ(a.resources, QStringList({"http://ns.adobe.com/xap/1.0/rights/WebStatement https://example.com/licence",
                                        kDc + "relation https://example.com/album/7"}));
    EXPECT_EQ(a.values[kDc + "relation"], QStringList({"https://example.com/album/7", "https://example.com/album/8"}));
    EXPECT_EQ(a.values[kXmp + "Rating"], QStringList{"3"});

    const QJsonObject tb = exiftoolGroups(at("shoot/b.xmp"));
    EXPECT_EQ(tb["XMP-rdf:About"].toString(), "uuid:0b7e-11");
    EXPECT_FALSE(tb.contains("XMP-xmpMM:InstanceID"));  // nothing made up from the document id
    EXPECT_EQ(exiftoolGroups(at("shoot/c.xmp"))["XMP-rdf:About"].toString(), "IMG & Co.CR2");

    // Nothing changes on a second run, and the removal keeps them too.
    const QByteArray first = readAll(at("shoot/a.xmp"));
    EXPECT_EQ(run("shoot", {"a.jpg", "b.jpg", "c.jpg"}).unchanged, 3);
    EXPECT_EQ(readAll(at("shoot/a.xmp")), first);
    r = run("shoot", {"a.jpg", "b.jpg", "c.jpg"}, remove);
    EXPECT_EQ(r.merged, 3) << notesOf(r);
    Rdf back = readRdfFile(at("shoot/a.xmp"));
    ASSERT_FALSE(back.abouts.isEmpty());
    for (const QString& about : back.abouts) EXPECT_EQ(about, a.abouts.front());
    EXPECT_EQ(back.resources, a.resources);
    EXPECT_EQ(back.values.count(kXmp + "Rating"), 0u);
    EXPECT_EQ(exiftoolGroups(at("shoot/b.xmp"))["XMP-rdf:About"].toString(), "uuid:0b7e-11");
}

TEST_F(RoundTrip, RemovalDeletesOnlySidecarsItWrote) {
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) photo(at(std::string("shoot/") + name));
    writeText(at("shoot/a.xmp"), "");  // an empty file another program left
    writeText(at("shoot/b.xmp"), R"(<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF
        xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#"/></x:xmpmeta>)");

    SidecarReport r = run("shoot", {"a.jpg", "b.jpg", "c.jpg"});
    EXPECT_EQ(r.merged, 2) << notesOf(r);
    EXPECT_EQ(r.written, 1);
    r = run("shoot", {"a.jpg", "b.jpg", "c.jpg"}, remove);
    EXPECT_EQ(r.removed, 1) << notesOf(r);
    EXPECT_EQ(r.merged, 2);
    EXPECT_FALSE(std::filesystem::exists(at("shoot/c.xmp")));
    for (const char* name : {"shoot/a.xmp", "shoot/b.xmp"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(std::filesystem::exists(at(name)));
        EXPECT_TRUE(readRdfFile(at(name)).values.empty());
        EXPECT_FALSE(exiftoolGroups(at(name)).contains("XMP-xmp:Rating"));
    }
    r = run("shoot", {"a.jpg", "b.jpg", "c.jpg"}, remove);
    EXPECT_EQ(r.unchanged, 3) << notesOf(r);
}

TEST_F(RoundTrip, EveryNamespaceKeepsItsExactName) {
    photo(at("shoot/a.jpg"));
    // One prefix for two namespaces, a namespace without a closing "/" and a
    // prefix with a dot, which Exiv2 cannot name a property with.
    writeText(at("shoot/a.xmp"), R"(<x:xmpmeta xmlns:x="adobe:ns:meta/">
 <rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
  <rdf:Description rdf:about="" xmlns:foo="http://example.com/one/" foo:A="1"/>
  <rdf:Description rdf:about="" xmlns:foo="http://example.com/two/" foo:B="2"/>
  <rdf:Description rdf:about="" xmlns:my="http://example.com/bare" my:C="3"/>
  <rdf:Description rdf:about="" xmlns:a.b="http://example.com/dotted/" a.b:D="4"/>
 </rdf:RDF>
</x:xmpmeta>
)");
    const SidecarReport r = run("shoot", {"a.jpg"});
    EXPECT_EQ(r.merged, 1) << notesOf(r);
    Rdf a = readRdfFile(at("shoot/a.xmp"));
    EXPECT_EQ(a.values["http://example.com/one/A"], QStringList{"1"});
    EXPECT_EQ(a.values["http://example.com/two/B"], QStringList{"2"});
    EXPECT_EQ(a.values["http://example.com/bareC"], QStringList{"3"});
    EXPECT_EQ(a.values["http://example.com/dotted/D"], QStringList{"4"});
    EXPECT_EQ(a.values[kXmp + "Rating"], QStringList{"3"});
    EXPECT_EQ(run("shoot", {"a.jpg"}).unchanged, 1);
}

TEST_F(RoundTrip, APacketWithoutRdfIsLeftAsItIs) {
    photo(at("shoot/a.jpg"));
    // "rdf" bound to another namespace: no RDF at all, though it reads like it.
    const std::string notRdf = R"(<x:xmpmeta xmlns:x="adobe:ns:meta/">
 <rdf:RDF xmlns:rdf="http://example.com/not-rdf#">
  <rdf:Description rdf:about="" xmlns:dc="http://purl.org/dc/elements/1.1/" dc:format="image/jpeg"/>
 </rdf:RDF>
</x:xmpmeta>
)";
    writeText(at("shoot/a.xmp"), notRdf);
    const SidecarReport r = run("shoot", {"a.jpg"});
    EXPECT_EQ(r.failed, 1) << notesOf(r);
    EXPECT_EQ(QString::fromUtf8(readAll(at("shoot/a.xmp"))), QString::fromStdString(notRdf));
}
