// The command-line programs as a user runs them: real processes on real
// shoots, a temporary project library, the test models.
#include "gallery_service.h"
#include "painted_frames.h"
#include "raw_shoot.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QThread>

#include <random>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

using namespace keepframe::testing;

namespace {

struct Outcome {
    int exitCode = -1;
    QString out, err;
};

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct CommandLine : ::testing::Test {
    TempDir dir;
    QString library = QString::fromStdString(dir.str() + "/library");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

    void SetUp() override { env.insert("KEEPFRAME_DATA_DIR", library); }

    Outcome run(const QString& program, const QStringList& args) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(program, args);
        Outcome r;
        if (!p.waitForFinished(120000)) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }
    Outcome cull(const QStringList& args) { return run(KEEPFRAME_CULL_PROGRAM, args); }

    // A small shoot with faces, culled into the library; the project's id.
    int culledProject() {
        for (int i = 0; i < 4; ++i)
            writeFrame(dir, "shoot/DSC_000" + std::to_string(i) + ".png",
                       analysisFrame({{15, 20, 3, 0.7f + 0.05f * i}}, 640, 480, 110));
        const Outcome r = cull({QString::fromStdString(dir.str() + "/shoot"), "--models", KEEPFRAME_TEST_MODELS_DIR,
                            "--quiet"});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        const QRegularExpressionMatch m = QRegularExpression("Project: +(\\d+) in (\\S+)").match(r.out);
        EXPECT_TRUE(m.hasMatch()) << r.out.toStdString();
        projectFolder = m.captured(2);
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    }
    QString projectFolder;
};

// Overwrites `length` bytes at `offset` with random ones.
void scribble(const QString& path, qint64 offset, qint64 length) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    std::mt19937 random(7);
    QByteArray noise(int(length), Qt::Uninitialized);
    for (char& c : noise) c = char(random());
    ASSERT_TRUE(f.seek(offset));
    ASSERT_EQ(f.write(noise), length);
}

}  // namespace

TEST_F(CommandLine, ADamagedProjectIsAnErrorAndOverwritesNothing) {
    const int id = culledProject();
    ASSERT_GE(id, 0);
    const QString review = QString::fromStdString(dir.str() + "/review.json");
    const QString sid = QString::number(id);
    ASSERT_EQ(cull({"--save-project-file", sid, review}).exitCode, 0);
    const QByteArray good = readAll(review);
    ASSERT_FALSE(good.isEmpty());

    // The project database cut short, as a full disk or a crash of the disk leaves it.
    const QString db = projectFolder + "/project.db";
    QFile::remove(db + "-wal");
    QFile::remove(db + "-shm");
    ASSERT_TRUE(QFile::resize(db, 5000));

    Outcome r = cull({"--save-project-file", sid, review});
    EXPECT_EQ(r.exitCode, 1) << r.out.toStdString();
    EXPECT_TRUE(r.err.contains("cannot be read")) << r.err.toStdString();
    EXPECT_EQ(readAll(review), good);  // the earlier review file is left whole

    const QString dest = QString::fromStdString(dir.str() + "/export");
    r = cull({"--export", sid, dest});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("cannot be read")) << r.err.toStdString();
    EXPECT_FALSE(QDir(dest + "/final_selection").exists());

    r = cull({"--xmp", sid});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(QDir(QString::fromStdString(dir.str() + "/shoot")).entryList({"*.xmp"}).isEmpty());
}

TEST_F(CommandLine, ADamagedLibraryIsAnErrorBeforeAnyAnalysis) {
    ASSERT_GE(culledProject(), 0);
    // Random bytes over the page that holds the projects.
    const QString registry = library + "/projects.db";
    QFile::remove(registry + "-wal");
    QFile::remove(registry + "-shm");
    scribble(registry, 4096, 4096);

    Outcome r = cull({"--list"});
    EXPECT_EQ(r.exitCode, 1) << r.out.toStdString();
    EXPECT_TRUE(r.err.contains("the project library cannot be read")) << r.err.toStdString();
    EXPECT_FALSE(r.out.contains("projects)"));

    r = cull({QString::fromStdString(dir.str() + "/shoot"), "--models", KEEPFRAME_TEST_MODELS_DIR});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("Could not save the project: ")) << r.err.toStdString();
    // Refused before the analysis: no frame was looked at.
    EXPECT_FALSE(r.out.contains("Step 1")) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains("Summary"));
}

TEST_F(CommandLine, InspectWritesJsonUnderACommaLocale) {
    // A German locale of our own: the machine need not have one generated.
    const QString locales = QString::fromStdString(dir.str() + "/locales");
    ASSERT_TRUE(QDir().mkpath(locales));
    QProcess make;
    make.start("localedef", {"-i", "de_DE", "-f", "UTF-8", locales + "/de_DE.UTF-8"});
    // localedef exits with 1 for warnings about the locale sources; the locale is made all the same.
    if (!make.waitForFinished(60000) || make.exitCode() > 1 || !QDir(locales + "/de_DE.UTF-8").exists())
        GTEST_SKIP() << "localedef cannot make de_DE.UTF-8 here";
    env.insert("LOCPATH", locales);
    env.insert("LC_ALL", "de_DE.UTF-8");

    const std::string frame = writeFrame(dir, "DSC_0001.png", analysisFrame({{15, 20, 3, 0.8f}}, 640, 480, 110));
    const Outcome r = cull({"--inspect", QString::fromStdString(frame), "--models", KEEPFRAME_TEST_MODELS_DIR});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 2);
    for (const QString& line : lines) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        EXPECT_TRUE(doc.object()["sharpness"].isDouble()) << line.toStdString();
    }
}

TEST_F(CommandLine, EveryProgramAnswersHelpAndRefusesWhatItDoesNotKnow) {
    // Run where a folder named after an option would land.
    const QString work = QString::fromStdString(dir.str() + "/work");
    ASSERT_TRUE(QDir().mkpath(work));
    for (const char* program :
         {KEEPFRAME_CULL_PROGRAM, KEEPFRAME_ENHANCE_PROGRAM, KEEPFRAME_MAKE_SHOOT_PROGRAM, KEEPFRAME_GALLERY_PROGRAM}) {
        QProcess p;
        p.setWorkingDirectory(work);
        p.start(program, {"--help"});
        ASSERT_TRUE(p.waitForFinished(60000)) << program;
        EXPECT_EQ(p.exitCode(), 0) << program;
        EXPECT_TRUE(QString::fromUtf8(p.readAllStandardOutput()).startsWith("usage: ")) << program;
        p.start(program, {"--no-such-option"});
        ASSERT_TRUE(p.waitForFinished(60000)) << program;
        EXPECT_EQ(p.exitCode(), 2) << program;
        EXPECT_FALSE(p.readAllStandardError().isEmpty()) << program;
    }
    EXPECT_TRUE(QDir(work).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty())
        << QDir(work).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).join(", ").toStdString();
}

TEST_F(CommandLine, FoldersAndNamesBeyondAsciiPassThroughCullSidecarsExportAndEnhance) {
    // Every argument carries such letters, as a photographer's folders do.
    const std::string shootName = "Hochzeit Müller – Café été";
    for (int i = 0; i < 4; ++i)
        writeFrame(dir, shootName + "/Zeremonie/Brautpaar_ø_000" + std::to_string(i) + ".png",
                   analysisFrame({{15, 20, 3, 0.7f + 0.05f * i}}, 640, 480, 110));
    const QString shoot = QString::fromStdString(dir.str() + "/" + shootName);
    Outcome r = cull({shoot, "--models", KEEPFRAME_TEST_MODELS_DIR, "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QRegularExpressionMatch m = QRegularExpression("Project: +(\\d+) in ").match(r.out);
    ASSERT_TRUE(m.hasMatch()) << r.out.toStdString();
    const QString id = m.captured(1);

    r = cull({"--xmp", id});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList sidecars = QDir(shoot + "/Zeremonie").entryList({"*.xmp"}, QDir::Files);
    EXPECT_EQ(sidecars.size(), 4);
    int rated = 0;
    for (const QString& name : sidecars) {
        EXPECT_TRUE(name.startsWith(QString::fromUtf8("Brautpaar_ø_"))) << name.toStdString();
        const QByteArray xmp = readAll(shoot + "/Zeremonie/" + name);
        EXPECT_TRUE(xmp.contains("Keepframe|Moment|")) << name.toStdString();
        rated += xmp.contains("<xmp:Rating>") ? 1 : 0;
    }
    EXPECT_GT(rated, 0);  // the kept frames

    const QString dest = QString::fromStdString(dir.str() + "/Auslieferung – Frühling");
    r = cull({"--export", id, dest});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList exported = QDir(dest + "/final_selection/Zeremonie").entryList(QDir::Files);
    EXPECT_FALSE(exported.isEmpty());
    for (const QString& name : exported)
        EXPECT_TRUE(name.contains(QString::fromUtf8("Brautpaar_ø_"))) << name.toStdString();

    const QString enhanced = dest + QString::fromUtf8("/Ærø.jpg");
    r = run(KEEPFRAME_ENHANCE_PROGRAM, {shoot + "/Zeremonie/Brautpaar_ø_0000.png", enhanced});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(readAll(enhanced).startsWith("\xff\xd8"));
}

// --deliver runs the Deliver page's job from the command line, against keepframe-gallery as a real client.
TEST_F(CommandLine, DeliverSendsAStoredProjectAndNamesEveryFailure) {
    const int id = culledProject();
    ASSERT_GE(id, 0);
    keepframe::GalleryService service;
    ASSERT_TRUE(service.start(QString::fromStdString(dir.str() + "/service"))) << service.error().toStdString();
    const QString project = QString::number(id), url = service.url(), token = service.token();

    // Bad requests: nothing is sent.
    EXPECT_EQ(cull({"--deliver", project, "--password", "pw"}).exitCode, 2);
    EXPECT_EQ(cull({"--deliver", project, "--title", "T", "--password", "pw", "--level", "5"}).exitCode, 2);
    EXPECT_EQ(cull({"--deliver", "987654", "--title", "T", "--password", "pw"}).exitCode, 2);

    // At full size the shoot's PNG frames are refused by the service, each named with the reason.
    Outcome r = cull({"--deliver", project, "--title", "Originals", "--password", "pw", "--service", url, "--token",
                      token});
    EXPECT_EQ(r.exitCode, 1) << r.out.toStdString();
    EXPECT_TRUE(r.err.contains("was not delivered: http 415: not a JPEG file")) << r.err.toStdString();

    // Below full size they go as JPEG copies; service and token come from the Account settings.
    env.insert("KEEPFRAME_DELIVERY_URL", url);
    env.insert("KEEPFRAME_DELIVERY_TOKEN", token);
    r = cull({"--deliver", project, "--title", "Garden Party", "--password", "tulips", "--level", "50",
              "--face-search", "--no-download"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("  compressing…")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("  detecting…"));
    const QRegularExpressionMatch link = QRegularExpression("Gallery: (\\S+/gallery\\.html\\?g=(\\S+))").match(r.out);
    ASSERT_TRUE(link.hasMatch()) << r.out.toStdString();
    const QJsonArray galleries = service.getJson("/deliver/galleries")["galleries"].toArray();
    ASSERT_EQ(galleries.size(), 2);
    const QJsonObject g = galleries[0].toObject();
    EXPECT_EQ(g["title"].toString(), "Garden Party");
    EXPECT_EQ(g["slug"].toString(), link.captured(2));
    EXPECT_TRUE(g["face_search_enabled"].toBool());
    EXPECT_GT(g["file_count"].toInt(), 0);

    // A wrong token ends the run with the service's reason.
    env.insert("KEEPFRAME_DELIVERY_TOKEN", "kfg_wrong");
    r = cull({"--deliver", project, "--title", "T", "--password", "pw", "--level", "50"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("delivery failed: upload-request failed, http 401: Invalid or missing token"))
        << r.err.toStdString();
}

#ifdef Q_OS_UNIX
// Ctrl+C during the analysis of a RAW shoot stops the cull as the window's
// Cancel does: the JPEG copies it made are taken back and nothing is stored.
TEST_F(CommandLine, CtrlCStopsACullAndTakesBackItsConversionFolder) {
    constexpr int kFiles = 80;
    writeRawShoot(dir, "raw", kFiles);
    const QString shoot = QString::fromStdString(dir.str() + "/raw");

    QProcess p;
    p.setProcessEnvironment(env);
    p.start(KEEPFRAME_CULL_PROGRAM, {shoot, "--models", KEEPFRAME_TEST_MODELS_DIR});
    ASSERT_TRUE(p.waitForStarted());
    // Once every preview is copied out, the analysis runs.
    const QDir converted(shoot + "/raw_JPG");
    for (int wait = 0; wait < 1200 && converted.entryList(QDir::Files).size() < kFiles; ++wait) QThread::msleep(50);
    ASSERT_EQ(converted.entryList(QDir::Files).size(), kFiles);
    ASSERT_EQ(p.state(), QProcess::Running) << "the cull ended before it could be stopped";
    ::kill(pid_t(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 130);
    EXPECT_TRUE(QString::fromUtf8(p.readAllStandardError()).contains("interrupted; nothing of the cull was kept"));
    EXPECT_FALSE(converted.exists());
    EXPECT_EQ(QDir(shoot).entryList(QDir::Files).size(), kFiles);
    const Outcome listed = cull({"--list"});
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_FALSE(listed.out.contains("raw")) << listed.out.toStdString();
}
#endif
