// The gallery service's parts on their own: what crypto.h accepts and refuses,
// storage keys that cannot leave the storage folder, the JPEG check, and the
// database layer's parameters, transactions and migrations on SQLite.
#include "blob_store.h"
#include "crypto.h"
#include "db.h"
#include "face_worker.h"
#include "log.h"
#include "schema.h"
#include "server_internal.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

using namespace keepframe::gallery;
using keepframe::testing::TempDir;

TEST(GalleryCrypto, EncodingsTokensAndPasswords) {
    const std::string text = "any bytes\x01\xff";
    const std::string b64 = encodeBase64(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    const auto back = decodeBase64(b64);
    ASSERT_TRUE(back);
    EXPECT_EQ(std::string(back->begin(), back->end()), text);
    for (const char* bad : {"abc", "ab=c", "a*bc", "====", "ab\ncd=="}) EXPECT_FALSE(decodeBase64(bad)) << bad;
    EXPECT_TRUE(decodeBase64("")->empty());

    EXPECT_TRUE(constantTimeEqual("kfg_1", "kfg_1"));
    EXPECT_FALSE(constantTimeEqual("kfg_1", "kfg_2"));
    EXPECT_FALSE(constantTimeEqual("kfg_1", "kfg_10"));
    EXPECT_NE(newToken(), newToken());
    EXPECT_EQ(newToken().size(), 68u);
    EXPECT_TRUE(isServiceId(newId("g_")));
    for (const char* bad : {"", "ab", "../etc", "g_1/2", "g 1", "g_%2e"}) EXPECT_FALSE(isServiceId(bad)) << bad;

    const PasswordHashing fast{1, 1024, 1};
    const std::string hash = hashPassword("rose garden", fast);
    EXPECT_EQ(hash.rfind("$argon2id$", 0), 0u);
    EXPECT_NE(hash, hashPassword("rose garden", fast));  // salted
    EXPECT_TRUE(verifyPassword("rose garden", hash));
    EXPECT_FALSE(verifyPassword("rose garden ", hash));
    EXPECT_FALSE(verifyPassword("rose garden", "rose garden"));  // never a stored password in the clear
}

TEST(GalleryStorage, KeysStayInsideAndOnlyJpegsAreStored) {
    TempDir dir;
    const BlobStore store(dir.path() / "storage");
    const std::string key = BlobStore::keyFor("g_0123456789abcdef", "f_0123456789abcdef", "original");
    EXPECT_EQ(key, "g_0123456789abcdef/f_0123456789abcdef/original.jpg");
    EXPECT_EQ(store.pathOf(key), dir.path() / "storage" / key);
    for (const char* bad :
         {"../g_1/f_1/original.jpg", "g_123/../../f_1/original.jpg", "/etc/passwd", "g_123/f_123/thumbnail.jpg",
          "g_123/f_123/original.png", "g_123/f_123", "g_123//original.jpg", "g_123/f_123/original.jpg/x"})
        EXPECT_TRUE(store.pathOf(bad).empty()) << bad;
    EXPECT_EQ(BlobStore::keyFor("g_1/..", "f_123", "original"), "");
    EXPECT_FALSE(store.removeGallery(".."));

    std::vector<uint8_t> jpeg, png;
    cv::imencode(".jpg", cv::Mat(48, 64, CV_8UC3, cv::Scalar(1, 2, 3)), jpeg);
    cv::imencode(".png", cv::Mat(48, 64, CV_8UC3, cv::Scalar(1, 2, 3)), png);
    int w = 0, h = 0;
    EXPECT_EQ(jpegProblem(std::string(jpeg.begin(), jpeg.end()), w, h), "");
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(64, 48));
    EXPECT_EQ(jpegProblem(std::string(png.begin(), png.end()), w, h), "not a JPEG file");
    EXPECT_EQ(jpegProblem("\xff\xd8\xff\xe0", w, h), "not a JPEG file: no frame header");

    // An upload that is not finished leaves nothing behind, under either name.
    {
        BlobStore::Upload upload(store, key);
        ASSERT_TRUE(upload.write(reinterpret_cast<const char*>(jpeg.data()), jpeg.size() / 2));
    }
    EXPECT_FALSE(std::filesystem::exists(store.pathOf(key)));
    EXPECT_EQ(store.removePartials(), 0);
    BlobStore::Upload upload(store, key);
    ASSERT_TRUE(upload.write(reinterpret_cast<const char*>(png.data()), png.size()));
    BlobStore::Checked checked;
    EXPECT_FALSE(upload.finish(checked));
    EXPECT_TRUE(upload.refusedData());
}

TEST(GalleryDatabase, ParametersTransactionsAndMigrations) {
    TempDir dir;
    const Log quiet;
    const auto db = Database::open(dir.str() + "/g.db", quiet, 2);
    migrate(*db, quiet);
    migrate(*db, quiet);  // a second time changes nothing
    EXPECT_EQ(db->read([](Connection& c) { return c.query(R"(SELECT MAX(version) FROM schema_migrations)"); })
                  .at(0)
                  .integer(0),
              latestSchemaVersion());
    // $n are positions whatever their order in the statement; text stays text.
    const Rows rows = db->read([](Connection& c) {
        return c.query(R"(SELECT $2, $1, $2 || 'x')", {std::string("first"), std::string("it's; DROP TABLE x --")});
    });
    EXPECT_EQ(rows.at(0).text(0), "it's; DROP TABLE x --");
    EXPECT_EQ(rows.at(0).text(1), "first");
    // A transaction that throws leaves nothing.
    EXPECT_THROW(db->write([](Connection& c) {
        c.query(R"(INSERT INTO settings (key, value) VALUES ('a', 'b'))");
        throw ApiError{422, "refused"};
    }),
                 ApiError);
    EXPECT_TRUE(db->read([](Connection& c) { return c.query(R"(SELECT 1 FROM settings WHERE key = 'a')"); }).empty());
    // The shared setting is made once and then read by everyone.
    EXPECT_EQ(sharedSetting(*db, "k", "one"), "one");
    EXPECT_EQ(sharedSetting(*db, "k", "two"), "one");
    EXPECT_THROW(db->read([](Connection& c) { return c.query(R"(SELECT * FROM no_such_table)"); }), DbError);
    // A database a newer program has migrated is refused, and left as it is.
    db->write([](Connection& c) {
        c.query(R"(INSERT INTO schema_migrations (version, applied_at) VALUES ($1, 0))",
                {int64_t(latestSchemaVersion() + 1)});
    });
    EXPECT_THROW(migrate(*db, quiet), DbError);
    EXPECT_EQ(db->read([](Connection& c) { return c.query(R"(SELECT COUNT(*) FROM schema_migrations)"); })
                  .at(0)
                  .integer(0),
              latestSchemaVersion() + 1);
}

TEST(GalleryNames, SlugsAreReadableAndUnguessable) {
    const std::string slug = makeSlug("Anna & Ben — Lantern Wedding!");
    EXPECT_EQ(slug.substr(0, slug.size() - 9), "anna-ben-lantern-wedding");
    EXPECT_EQ(slug.size() - slug.rfind('-'), 9u);
    EXPECT_EQ(makeSlug("").substr(0, 8), "gallery-");
    EXPECT_EQ(makeSlug("<script>").substr(0, 7), "script-");
    EXPECT_NE(makeSlug("t"), makeSlug("t"));
}

TEST(GalleryFaceData, EmbeddingsReadBackExactlyAndDamagedTextIsRefused) {
    // Lengths whose Base64 ends in no, one and two "=".
    for (const size_t floats : {3u, 512u, 1u}) {
        std::vector<float> embedding(floats);
        for (size_t i = 0; i < floats; ++i) embedding[i] = float(i) * -0.37f + 1e-30f;
        const std::string text = packEmbedding(embedding);
        EXPECT_EQ(unpackEmbedding(text), embedding) << floats;
        EXPECT_EQ(decodeBase64(text)->size(), floats * 4);  // the same text any Base64 reader reads
    }
    const std::string good = packEmbedding({0.5f, -0.25f, 1.0f});
    for (std::string bad : {good.substr(1), good.substr(0, good.size() - 4), std::string("AAA=AAAA"), good}) {
        if (bad == good) bad[3] = '*';
        EXPECT_TRUE(unpackEmbedding(bad).empty()) << bad;
    }
}
