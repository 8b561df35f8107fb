// keepframe-gallery's API over real HTTP on loopback, each test against SQLite
// and against PostgreSQL: what one photographer may reach, quotas, upload
// addresses, the checks on stored files, gallery passwords and sessions,
// deletion, restarts and a crash in the middle of an upload.
#include "gallery_support.h"

#include <QTcpSocket>
#include <QUrl>

#include <opencv2/imgcodecs.hpp>

#include <chrono>
#include <filesystem>
#include <thread>

using namespace keepframe::testing;

namespace {

namespace fs = std::filesystem;

// The stored files below the service's storage folder: final names and ".part" files.
std::vector<std::string> storedNames(const fs::path& storage) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::recursive_directory_iterator it(storage, error), end; !error && it != end; it.increment(error))
        if (it->is_regular_file()) names.push_back(it->path().filename().string());
    return names;
}

// The status line the service answers to a request's head alone (no body sent).
std::string answerToHeaders(const std::string& head, const QString& url) {
    QTcpSocket socket;
    socket.connectToHost("127.0.0.1", quint16(QUrl(url).port()));
    if (!socket.waitForConnected(5000)) return "no connection";
    socket.write(head.data(), qint64(head.size()));
    socket.waitForBytesWritten(5000);
    while (!socket.canReadLine() && socket.waitForReadyRead(5000)) {
    }
    return socket.readLine().trimmed().toStdString();
}

std::string photoPath(const Delivered& d, size_t i) { return "/gallery/" + d.slug + "/photo/" + d.fileIds.at(i); }

}  // namespace

INSTANTIATE_TEST_SUITE_P(Databases, GalleryTest, ::testing::Values(DbKind::SQLite, DbKind::PostgreSQL), paramName);

TEST_P(GalleryTest, EachPhotographerReachesOnlyTheirOwn) {
    start();
    const std::string anna = service.token().toStdString(), ben = addPhotographer("ben");
    const Delivered d = deliver(anna, 2);
    const Reply topup = send("POST", "/deliver/storage/topup", anna, {{"additional_gb", 10}});
    ASSERT_EQ(topup.status, 200);
    const std::string topupId = topup.object()["topup_id"];
    const std::string g = "/deliver/galleries/" + d.galleryId;

    // Every endpoint with Anna's identifiers and Ben's token: unknown, and nothing changes.
    const std::vector<std::tuple<std::string, std::string, json>> attempts = {
        {"GET", g + "/files", nullptr},
        {"POST", g + "/settings", {{"allow_download", false}}},
        {"POST", g + "/settings", {{"face_search_enabled", true}}},
        {"POST", g + "/settings", {{"cover_file_id", d.fileIds[1]}}},
        {"POST", "/gallery/" + d.galleryId + "/change-password", {{"new_password", "mine now"}}},
        {R"(DELETE)", g, nullptr},
        {"GET", "/deliver/storage/topup/" + topupId + "/status", nullptr},
        {"POST", "/deliver/upload-complete", {{"gallery_id", d.galleryId}, {"files", json::array()}}},
    };
    for (const auto& [method, path, body] : attempts) {
        const Reply r = send(method, path, ben, body);
        EXPECT_EQ(r.status, 404) << method << " " << path << ": " << r.body;
    }
    EXPECT_TRUE(send("GET", "/deliver/galleries", ben, nullptr).object()["galleries"].empty());
    const json annas = send("GET", "/deliver/galleries", anna).object();
    ASSERT_EQ(annas["galleries"].size(), 1u);
    EXPECT_EQ(annas["galleries"][0]["file_count"], 2);
    EXPECT_EQ(send("GET", g + "/files", anna).object()["current_cover_file_id"], d.fileIds[0]);
    EXPECT_FALSE(login(d.slug, "rose-garden").empty());  // the password is still Anna's

    // Profiles are each photographer's own.
    ASSERT_EQ(send("POST", "/deliver/profile", ben, {{"studio_name", "Ben's"}}).status, 200);
    EXPECT_EQ(send("GET", "/deliver/profile", anna).object()["studio_name"], "");

    // No token, a wrong one, a revoked one: 401 everywhere.
    for (const std::string& t : {std::string(), std::string("kfg_") + std::string(64, '0'), ben}) {
        if (t == ben) {
            ASSERT_EQ(service.admin({"revoke", "ben"}), 0);
        }
        const Reply r = send("GET", "/deliver/galleries", t);
        EXPECT_EQ(r.status, 401);
        EXPECT_EQ(r.object()["detail"], "Invalid or missing token");
    }
    // Tokens are stored only as digests.
    EXPECT_EQ(count(R"(SELECT COUNT(*) FROM photographers WHERE token_hash = $1)", {anna}), 0);
}

TEST_P(GalleryTest, QuotaIsEnforcedAtTheRequestAndAtEveryUpload) {
    start();
    const std::string token = service.token().toStdString();
    const int64_t gib = 1024LL * 1024 * 1024;
    // `files` files of 400 MB each, the largest an upload may be being 512 MB.
    auto request = [&](int files) {
        json list = json::array();
        for (int i = 0; i < files; ++i)
            list.push_back({{"filename", std::to_string(i) + ".jpg"}, {"original_size_bytes", 400LL << 20}});
        return send("POST", "/deliver/upload-request", token,
                    {{"gallery_title", "Big"}, {"gallery_password", "pw"}, {"files", list}});
    };
    // 10 GB: two files fit, 24 more (11 GB in all) are refused before
    // anything is stored, and the refused request reserves nothing.
    EXPECT_EQ(request(2).status, 200);
    const Reply refused = request(24);
    EXPECT_EQ(refused.status, 402);
    EXPECT_EQ(refused.object()["detail"], "Not enough storage left: this delivery needs 10066329600 bytes and "
                                          "9898557440 remain");
    json list = send("GET", "/deliver/galleries", token).object();
    EXPECT_EQ(list["used_bytes"], 800 << 20);  // reserved by the open upload
    EXPECT_EQ(list["remaining_bytes"], 10 * gib - (800 << 20));
    EXPECT_EQ(list["lifetime_galleries_created"], 1);
    EXPECT_EQ(request(1).status, 200);  // 400 MB more still fit

    // A reservation granted, then the quota lowered: the upload is refused.
    const Reply small = send("POST", "/deliver/upload-request", token,
                             {{"gallery_title", "Small"},
                              {"gallery_password", "pw"},
                              {"files", {{{"filename", "s.jpg"}, {"compressed_size_bytes", 5000}}}}});
    ASSERT_EQ(small.status, 200);
    ASSERT_EQ(service.admin({"set-quota", "studio", "0"}), 0);
    const std::string bytes = jpegBytes(64, 48);
    const Reply put1 = put(small.object()["uploads"][0]["compressed_upload_url"], bytes);
    EXPECT_EQ(put1.status, 402) << put1.body;
    EXPECT_EQ(request(1).status, 402);
    ASSERT_EQ(service.admin({"set-quota", "studio", "10"}), 0);
    EXPECT_EQ(put(small.object()["uploads"][0]["compressed_upload_url"], bytes).status, 200);
}

TEST_P(GalleryTest, UploadAddressesAreBoundAndExpire) {
    start({"--upload-url-seconds", "3"});
    const std::string token = service.token().toStdString();
    const std::string bytes = jpegBytes(64, 48);
    const Reply r = requestOneUpload(token, "compressed", int64_t(bytes.size()));
    ASSERT_EQ(r.status, 200);
    const std::string url = r.object()["uploads"][0]["compressed_upload_url"];
    EXPECT_EQ(r.object()["uploads"][0]["original_upload_url"], "");  // only the announced file gets an address
    auto replace = [&](const std::string& from, const std::string& to) {
        std::string u = url;
        u.replace(u.find(from), from.size(), to);
        return u;
    };
    const auto issued = std::chrono::steady_clock::now();
    // No token is needed, and none is wanted: the signature is the key.
    EXPECT_EQ(put(url, bytes, "image/png").status, 415);
    const std::string sig = url.substr(url.find("sig=") + 4);
    const std::string forged = sig.substr(0, sig.size() - 1) + (sig.back() == '0' ? "1" : "0");
    for (const std::string& bad :
         {replace("sig=" + sig, "sig=" + forged), replace("size=", "size=9"), replace("/compressed?", "/original?"),
          replace("expires=", "expires=9"), replace("sig=" + sig, "sig=")})
        EXPECT_EQ(put(bad, bytes).status, 403) << bad;
    std::this_thread::sleep_until(issued + std::chrono::milliseconds(3500));
    const Reply late = put(url, bytes);
    EXPECT_EQ(late.status, 403);
    EXPECT_EQ(late.object()["detail"], "This upload address has expired");
    EXPECT_TRUE(storedNames(dir.path() / "service/storage").empty());
}

TEST_P(GalleryTest, StoredFilesAreWholeJpegsOfTheAnnouncedSize) {
    start();
    const std::string token = service.token().toStdString();
    const std::string jpeg = jpegBytes(640, 480);
    const Reply r = requestOneUpload(token, "compressed", int64_t(jpeg.size()));
    const std::string url = r.object()["uploads"][0]["compressed_upload_url"];
    const std::string key = r.object()["uploads"][0]["compressed_r2_key"];
    const Reply larger = put(url, jpeg + "x");
    EXPECT_EQ(larger.status, 413) << larger.body;
    const Reply notJpeg = put(url, std::string(jpeg.size(), 'A'));
    EXPECT_EQ(notJpeg.status, 415) << notJpeg.body;
    EXPECT_EQ(notJpeg.object()["detail"], "not a JPEG file");
    // Nothing arrived: the file cannot be confirmed, and no file was left behind.
    EXPECT_TRUE(storedNames(dir.path() / "service/storage").empty());
    const std::string gid = r.object()["gallery_id"];
    const Reply early = send("POST", "/deliver/upload-complete", token,
                             {{"gallery_id", gid}, {"files", {{{"filename", "a.jpg"}, {"compressed_r2_key", key}}}}});
    EXPECT_EQ(early.status, 422);
    EXPECT_EQ(early.object()["detail"], "File a.jpg was not uploaded");
    // The real file is stored under its key, byte for byte.
    ASSERT_EQ(put(url, jpeg).status, 200);
    std::ifstream stored(dir.path() / "service/storage" / key, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(stored), {}), jpeg);
    // Bodies beyond a route's bound are refused before they are read.
    // A client that waits after the headers hears the refusal at once, and the connection ends.
    const std::string head = "POST /deliver/profile HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + token +
                             "\r\nContent-Type: application/json\r\nContent-Length: 2097152\r\n\r\n";
    EXPECT_EQ(answerToHeaders(head, service.url()), "HTTP/1.1 413 Payload Too Large");
    EXPECT_EQ(answerToHeaders("PUT /storage/upload/g_1/f_1/original HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: "
                              "chunked\r\n\r\n",
                              service.url()),
              "HTTP/1.1 411 Length Required");
    std::string deep(100, '[');
    deep += std::string(100, ']');
    httplib::Client c = client();
    const auto nested = c.Post("/deliver/profile", {{"Authorization", "Bearer " + token}}, deep, "application/json");
    ASSERT_TRUE(nested);
    EXPECT_EQ(nested->status, 400);
}

TEST_P(GalleryTest, GalleryPageSessionsEndWithThePassword) {
    start();
    const std::string token = service.token().toStdString();
    const Delivered d = deliver(token, 2);
    httplib::Client c = client();
    const auto form = c.Get(("/gallery.html?g=" + d.slug).c_str());
    ASSERT_TRUE(form);
    EXPECT_EQ(form->status, 401);
    EXPECT_NE(form->body.find("type=password"), std::string::npos);
    EXPECT_NE(form->get_header_value("Content-Security-Policy").find("frame-ancestors 'none'"), std::string::npos);
    EXPECT_EQ(form->get_header_value("X-Frame-Options"), "DENY");
    EXPECT_EQ(form->get_header_value("X-Content-Type-Options"), "nosniff");
    EXPECT_EQ(c.Get(photoPath(d, 0).c_str())->status, 401);  // no photograph without the password

    int status = 0;
    EXPECT_EQ(login(d.slug, "wrong", &status), "");
    EXPECT_EQ(status, 401);
    httplib::Client raw = client();
    const auto opened = raw.Post(("/gallery.html?g=" + d.slug).c_str(), httplib::Params{{"password", "rose-garden"}});
    ASSERT_TRUE(opened);
    ASSERT_EQ(opened->status, 303);
    const std::string setCookie = opened->get_header_value("Set-Cookie");
    EXPECT_NE(setCookie.find("; HttpOnly"), std::string::npos);
    EXPECT_NE(setCookie.find("; SameSite=Strict"), std::string::npos);
    const std::string cookie = setCookie.substr(0, setCookie.find(';'));
    const httplib::Headers session{{"Cookie", cookie}};
    const auto page = c.Get(("/gallery.html?g=" + d.slug).c_str(), session);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("/gallery/page.js"), std::string::npos);
    const auto listed = c.Get(("/gallery/" + d.slug + "/photos.json").c_str(), session);
    ASSERT_EQ(listed->status, 200);
    EXPECT_EQ(json::parse(listed->body)["photos"][1]["file_id"], d.fileIds[1]);
    EXPECT_EQ(c.Get(("/gallery/" + d.slug + "/photos.json").c_str())->status, 401);
    const auto photo = c.Get(photoPath(d, 0).c_str(), session);
    EXPECT_EQ(photo->status, 200);
    EXPECT_EQ(photo->body, jpegBytes(320, 240, 0));
    EXPECT_EQ(c.Get((photoPath(d, 0) + "?download=1").c_str(), session)->status, 200);
    ASSERT_EQ(
        send("POST", "/deliver/galleries/" + d.galleryId + "/settings", token, {{"allow_download", false}}).status,
        200);
    EXPECT_EQ(c.Get((photoPath(d, 0) + "?download=1").c_str(), session)->status, 403);
    EXPECT_EQ(c.Get(photoPath(d, 0).c_str(), session)->status, 403);  // the original, however asked for

    // A new password ends the session opened with the old one.
    ASSERT_EQ(send("POST", "/gallery/" + d.galleryId + "/change-password", token, {{"new_password", "lilies"}}).status,
              200);
    EXPECT_EQ(c.Get(("/gallery.html?g=" + d.slug).c_str(), session)->status, 401);
    EXPECT_EQ(c.Get(photoPath(d, 0).c_str(), session)->status, 401);
    EXPECT_EQ(login(d.slug, "rose-garden"), "");
    EXPECT_NE(login(d.slug, "lilies"), "");
    // Stored as Argon2id, never as the password.
    EXPECT_EQ(count(R"(SELECT COUNT(*) FROM galleries WHERE password_hash LIKE '$argon2id$%')"), 1);

    // Guessing is limited per gallery and address.
    for (int i = 0; i < 10; ++i) login(d.slug, "guess" + std::to_string(i));
    EXPECT_EQ(login(d.slug, "lilies", &status), "");
    EXPECT_EQ(status, 429);
}

// Password guesses count per client address and for the gallery as a whole;
// the proxy's X-Real-IP names the address only behind a proxy, so a client
// cannot pick a new address for each guess.
TEST_P(GalleryTest, PasswordGuessesAreLimitedPerAddressAndPerGallery) {
    start();
    const Delivered d = deliver(service.token().toStdString(), 1);
    auto attempt = [&](const std::string& address, const std::string& password) {
        httplib::Client c = client();
        const auto r = c.Post(("/gallery.html?g=" + d.slug).c_str(), {{"X-Real-IP", address}},
                              httplib::Params{{"password", password}});
        return r ? r->status : 0;
    };
    int guesses = 0;  // every attempt counts for the gallery, the right password too
    for (int i = 0; i < 10; ++i, ++guesses) EXPECT_EQ(attempt("10.9.0." + std::to_string(i), "guess"), 401);
    EXPECT_EQ(attempt("10.9.1.1", "rose-garden"), 429);  // all from 127.0.0.1: the header is not believed
    ++guesses;

    service.stop();
    start({"--behind-proxy", "--public-url", "https://gallery.test"});
    for (int i = 0; i < 10; ++i, ++guesses) EXPECT_EQ(attempt("10.0.0.1", "guess"), 401);
    EXPECT_EQ(attempt("10.0.0.1", "rose-garden"), 429);
    EXPECT_EQ(attempt("10.0.0.2", "rose-garden"), 303);  // another address still gets in
    guesses += 2;
    // Up to the gallery's limit of 100 from everywhere, then no address gets in.
    for (int i = 0; guesses < 100; ++i, ++guesses)
        ASSERT_EQ(attempt("10.1." + std::to_string(i / 5) + ".1", "guess"), 401) << guesses;
    EXPECT_EQ(attempt("10.2.0.1", "rose-garden"), 429);
}

TEST_P(GalleryTest, DeletingAGalleryRemovesItsFilesAndFaceData) {
    service.setModels(KEEPFRAME_TEST_MODELS_DIR);
    start();
    const std::string token = service.token().toStdString();
    const Delivered kept = deliver(token, 1, 1);
    const Delivered d = deliver(token, 3, 2);
    // The background worker embeds every crop.
    int64_t rows = 0;
    for (int i = 0; i < 200 && rows < 7; ++i) {
        rows = count(R"(SELECT COUNT(*) FROM face_data)");
        if (rows < 7) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_EQ(rows, 7);
    EXPECT_EQ(count(R"(SELECT COUNT(*) FROM face_jobs)"), 0);
    const json list = send("GET", "/deliver/galleries", token).object();
    EXPECT_EQ(list["galleries"][0]["face_data_rows"], 6);
    EXPECT_TRUE(fs::exists(dir.path() / "service/storage" / d.galleryId));

    ASSERT_EQ(send(R"(DELETE)", "/deliver/galleries/" + d.galleryId, token).status, 200);
    EXPECT_FALSE(fs::exists(dir.path() / "service/storage" / d.galleryId));
    EXPECT_EQ(count(R"(SELECT COUNT(*) FROM face_data WHERE gallery_id = $1)", {d.galleryId}), 0);
    EXPECT_EQ(count(R"(SELECT COUNT(*) FROM files WHERE gallery_id = $1)", {d.galleryId}), 0);
    EXPECT_EQ(count(R"(SELECT COUNT(*) FROM face_data)"), 1);  // the other gallery's stays
    EXPECT_EQ(send("GET", "/deliver/galleries/" + d.galleryId + "/files", token).status, 404);
    const json after = send("GET", "/deliver/galleries", token).object();
    EXPECT_EQ(after["galleries"].size(), 1u);
    EXPECT_EQ(after["lifetime_galleries_created"], 2);

    // Face search switched off: the gallery's face data goes too.
    ASSERT_EQ(send("POST", "/deliver/galleries/" + kept.galleryId + "/settings", token,
                   {{"face_search_enabled", false}})
                  .status,
              200);
    EXPECT_EQ(count(R"(SELECT COUNT(*) FROM face_data)"), 0);
}

TEST_P(GalleryTest, ARestartKeepsEverything) {
    start();
    const std::string token = service.token().toStdString();
    const Delivered d = deliver(token, 2);
    ASSERT_EQ(send("POST", "/deliver/profile", token, {{"studio_name", "Lantern"}}).status, 200);
    const json before = send("GET", "/deliver/galleries", token).object();
    service.stop();
    start();
    EXPECT_EQ(send("GET", "/deliver/galleries", token).object(), before);
    EXPECT_EQ(send("GET", "/deliver/profile", token).object()["studio_name"], "Lantern");
    const std::string cookie = login(d.slug, "rose-garden");
    ASSERT_NE(cookie, "");
    EXPECT_EQ(client().Get(photoPath(d, 1).c_str(), {{"Cookie", cookie}})->body, jpegBytes(320, 240, 1));
}

TEST_P(GalleryTest, AnUploadCutShortByACrashLeavesNothingVisible) {
    start();
    const std::string token = service.token().toStdString();
    const std::string jpeg = jpegBytes(2000, 1500) + std::string(4 << 20, '\0');
    const Reply r = requestOneUpload(token, "original", int64_t(jpeg.size()));
    const std::string url = r.object()["uploads"][0]["original_upload_url"];
    const std::string origin = service.url().toStdString();
    // The upload sends half the file, then the service is killed (SIGKILL) mid-body.
    std::atomic<bool> half{false};
    std::thread uploader([&] {
        httplib::Client c(origin);
        c.set_write_timeout(10);
        c.Put(url.substr(origin.size()).c_str(), jpeg.size(),
              [&](size_t offset, size_t length, httplib::DataSink& sink) {
                  if (offset >= jpeg.size() / 2) {
                      half = true;
                      std::this_thread::sleep_for(std::chrono::milliseconds(200));
                      return offset < jpeg.size() / 2 + 1;  // stays open until the service is gone
                  }
                  sink.write(jpeg.data() + offset, std::min<size_t>(length, 64 * 1024));
                  return true;
              },
              "image/jpeg");
    });
    for (int i = 0; i < 200 && !half; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    service.stop();
    uploader.join();
    const std::vector<std::string> left = storedNames(dir.path() / "service/storage");
    for (const std::string& name : left) EXPECT_TRUE(name.ends_with(".part")) << name;
    start();
    EXPECT_TRUE(storedNames(dir.path() / "service/storage").empty());  // the start removed the partial file
    const std::string key = r.object()["uploads"][0]["original_r2_key"];
    const Reply confirm = send("POST", "/deliver/upload-complete", token,
                               {{"gallery_id", r.object()["gallery_id"]},
                                {"files", {{{"filename", "a.jpg"}, {"original_r2_key", key}}}}});
    EXPECT_EQ(confirm.status, 422);
    EXPECT_EQ(put(url, jpeg).status, 200);  // the address still works for a new try
}

TEST_P(GalleryTest, AdministrationAndTopUps) {
    start();
    const std::string token = service.token().toStdString();
    QString out;
    EXPECT_EQ(service.admin({"add", "studio"}, &out), 1);  // names are unique
    EXPECT_EQ(service.admin({"list"}, &out), 0);
    EXPECT_TRUE(out.contains("studio\t0.00 GB of 10.00 GB\t0 galleries")) << out.toStdString();
    EXPECT_FALSE(out.contains("kfg_"));
    const Reply topup = send("POST", "/deliver/storage/topup", token, {{"additional_gb", 20}});
    ASSERT_EQ(topup.status, 200);
    const json t = topup.object();
    EXPECT_EQ(t["amount_rupees"], 400);
    EXPECT_EQ(t["remaining_months"], 12);
    // The payment code is served without a token.
    const auto qr = client().Get(("/pay/qr/" + t["topup_id"].get<std::string>() + ".png").c_str());
    ASSERT_TRUE(qr);
    EXPECT_EQ(qr->status, 200);
    EXPECT_EQ(qr->get_header_value("Content-Type"), "image/png");
    EXPECT_EQ(send("POST", "/deliver/storage/topup", token, {{"additional_gb", 25}}).status, 422);
    const std::string status = "/deliver/storage/topup/" + t["topup_id"].get<std::string>() + "/status";
    EXPECT_EQ(send("GET", status, token).object()["status"], "pending");
    EXPECT_EQ(service.admin({"approve-topup", QString::fromStdString(t["topup_id"])}), 0);
    EXPECT_EQ(service.admin({"approve-topup", QString::fromStdString(t["topup_id"])}, &out), 1);  // once only
    const json paid = send("GET", status, token).object();
    EXPECT_EQ(paid["status"], "paid");
    EXPECT_EQ(paid["storage_quota_bytes"], 30LL << 30);
    // A new token replaces the old one.
    EXPECT_EQ(service.admin({"new-token", "studio"}, &out), 0);
    EXPECT_EQ(send("GET", "/deliver/galleries", token).status, 401);
}

TEST_P(GalleryTest, RenditionsAreMadeOnceAndTheArchiveHoldsEveryOriginal) {
    start();
    const std::string token = service.token().toStdString();
    const Delivered d = deliver(token, 3);
    for (int i = 0; i < 200 && count(R"(SELECT COUNT(*) FROM files WHERE renditions = 1)") < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(count(R"(SELECT COUNT(*) FROM files WHERE renditions = 1)"), 3);
    // Beside each photograph, made from it by the housekeeping thread.
    for (const std::string& id : d.fileIds)
        for (const char* kind : {"small.jpg", "large.jpg"})
            EXPECT_TRUE(fs::is_regular_file(dir.path() / "service/storage" / d.galleryId / id / kind)) << id;

    httplib::Client c = client();
    const std::string base = "/gallery/" + d.slug;
    EXPECT_EQ(c.Get((base + "/image/" + d.fileIds[0] + "/small").c_str())->status, 401);
    const httplib::Headers session{{"Cookie", login(d.slug, "rose-garden")}};
    const auto small = c.Get((base + "/image/" + d.fileIds[0] + "/small").c_str(), session);
    ASSERT_EQ(small->status, 200);
    EXPECT_EQ(cv::imdecode(std::vector<uint8_t>(small->body.begin(), small->body.end()), cv::IMREAD_COLOR).cols, 320);
    EXPECT_EQ(c.Get((base + "/image/" + d.fileIds[0] + "/huge").c_str(), session)->status, 404);

    // The archive: each original whole, in the gallery's order, and the end record last.
    const auto archive = c.Get((base + "/download.zip").c_str(), session);
    ASSERT_EQ(archive->status, 200);
    EXPECT_EQ(archive->get_header_value("Content-Type"), "application/zip");
    EXPECT_EQ(archive->body.rfind("PK\x03\x04", 0), 0u);
    EXPECT_EQ(archive->body.find("PK\x05\x06"), archive->body.size() - 22);
    size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        const size_t found = archive->body.find(jpegBytes(320, 240, i), at);
        ASSERT_NE(found, std::string::npos) << i;
        at = found + 1;
    }
    ASSERT_EQ(send("POST", "/deliver/galleries/" + d.galleryId + "/settings", token, {{"allow_download", false}})
                  .status,
              200);
    const auto refused = c.Get((base + "/download.zip").c_str(), session);
    EXPECT_EQ(refused->status, 403);
    EXPECT_EQ(json::parse(refused->body)["detail"], "Downloads are switched off for this gallery");
    EXPECT_EQ(c.Get((base + "/image/" + d.fileIds[1] + "/large").c_str(), session)->status, 200);
}
