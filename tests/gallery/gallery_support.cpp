#include "gallery_support.h"

#include "crypto.h"
#include "log.h"
#include "platform.h"

#include <QRegularExpression>

#include <libpq-fe.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <fstream>

namespace keepframe::testing {

namespace {

// One statement on the cluster's maintenance database; empty when it worked.
std::string adminStatement(const std::string& url, const std::string& sql) {
    PGconn* conn = PQconnectdb(url.c_str());
    std::string problem;
    if (PQstatus(conn) != CONNECTION_OK) {
        problem = PQerrorMessage(conn);
    } else {
        PGresult* r = PQexec(conn, sql.c_str());
        if (PQresultStatus(r) != PGRES_COMMAND_OK) problem = PQerrorMessage(conn);
        PQclear(r);
    }
    PQfinish(conn);
    return problem;
}

}  // namespace

std::string paramName(const ::testing::TestParamInfo<DbKind>& info) {
    return info.param == DbKind::PostgreSQL ? "PostgreSQL" : "SQLite";
}

PostgresDatabase::PostgresDatabase() {
    std::ifstream state(KEEPFRAME_TEST_POSTGRES_STATE);
    std::getline(state, admin_);
    if (admin_.empty()) return;
    name_ = "kfg_" + gallery::randomHex(6);
    const std::string problem = adminStatement(admin_, R"(CREATE DATABASE )" + name_);
    if (!problem.empty()) {
        ADD_FAILURE() << "cannot create a test database: " << problem;
        return;
    }
    // postgresql://postgres@/postgres?host=DIR -> the new database on the same socket.
    url_ = admin_;
    url_.replace(url_.find("/postgres?"), 10, "/" + name_ + "?");
}

PostgresDatabase::~PostgresDatabase() {
    if (!url_.empty()) adminStatement(admin_, R"(DROP DATABASE IF EXISTS )" + name_ + " WITH (FORCE)");
}

void PrintTo(DbKind kind, std::ostream* out) { *out << (kind == DbKind::PostgreSQL ? "PostgreSQL" : "SQLite"); }

void GalleryTest::SetUp() {
    gallery::preparePlatform();  // a refused upload closes the connection under the client's feet
    if (GetParam() == DbKind::PostgreSQL) {
        postgres = std::make_unique<PostgresDatabase>();
        if (!postgres->available())
            GTEST_SKIP() << "no PostgreSQL cluster for this run (ctest starts one: gallery.postgres_start)";
        service.setDatabase(QString::fromStdString(postgres->url()));
    }
}

void GalleryTest::TearDown() { service.stop(); }

void GalleryTest::start(const QStringList& serveOptions) {
    service.setServeOptions(serveOptions);
    ASSERT_TRUE(service.start(QString::fromStdString(dir.str() + "/service"))) << service.error().toStdString();
}

httplib::Client GalleryTest::client() const {
    httplib::Client c(service.url().toStdString());
    c.set_connection_timeout(5);
    c.set_read_timeout(20);
    c.set_write_timeout(20);
    return c;
}

Reply GalleryTest::requestOneUpload(const std::string& token, const std::string& copy, int64_t bytes) const {
    return send("POST", "/deliver/upload-request", token,
                {{"gallery_title", "T"},
                 {"gallery_password", "pw"},
                 {"files", {{{"filename", "a.jpg"}, {copy + "_size_bytes", bytes}}}}});
}

Reply GalleryTest::send(const std::string& method, const std::string& path, const std::string& token,
                        const json& body) const {
    httplib::Client c = client();
    httplib::Headers headers;
    if (!token.empty()) headers.emplace("Authorization", "Bearer " + token);
    const std::string text = body.is_null() ? "" : body.dump();
    httplib::Result r = method == "GET"      ? c.Get(path.c_str(), headers)
                        : method == R"(DELETE)" ? c.Delete(path.c_str(), headers)
                        : method == "PUT"    ? c.Put(path.c_str(), headers, text, "application/json")
                                             : c.Post(path.c_str(), headers, text, "application/json");
    if (!r) return {};
    return {r->status, r->body, r->headers};
}

Reply GalleryTest::put(const std::string& uploadUrl, const std::string& bytes, const std::string& type) const {
    // The address's path on the service as it runs now (a restart moves it to another port).
    const size_t path = uploadUrl.find('/', uploadUrl.find("://") + 3);
    EXPECT_EQ(uploadUrl.rfind("http://127.0.0.1:", 0), 0u) << uploadUrl;
    httplib::Client c = client();
    httplib::Result r = c.Put(uploadUrl.substr(path).c_str(), bytes, type.c_str());
    if (!r) return {};
    return {r->status, r->body, r->headers};
}

std::string GalleryTest::addPhotographer(const std::string& name, int quotaGb) {
    QString out;
    EXPECT_EQ(service.admin({"add", QString::fromStdString(name), "--quota-gb", QString::number(quotaGb)}, &out), 0)
        << out.toStdString();
    const QRegularExpressionMatch m = QRegularExpression("(kfg_[0-9a-f]{64})").match(out);
    return m.captured(1).toStdString();
}

std::unique_ptr<gallery::Database> GalleryTest::openDatabase() const {
    static const gallery::Log quiet;
    return gallery::Database::open(postgres ? postgres->url() : dir.str() + "/service/gallery.db", quiet, 1);
}

int64_t GalleryTest::count(const std::string& sql, const std::vector<gallery::SqlValue>& params) const {
    const auto db = openDatabase();
    return db->read([&](gallery::Connection& c) { return c.query(sql, params).at(0).integer(0); });
}

std::string jpegBytes(int width, int height, int seed) {
    cv::Mat image(height, width, CV_8UC3, cv::Scalar(30 + seed * 20 % 200, 90, 160));
    cv::circle(image, {width / 2, height / 2}, std::max(2, height / 4), cv::Scalar(200, 180, 90), cv::FILLED);
    std::vector<uint8_t> out;
    cv::imencode(".jpg", image, out, {cv::IMWRITE_JPEG_QUALITY, 85});
    return std::string(out.begin(), out.end());
}

Delivered GalleryTest::deliver(const std::string& token, int files, int faces, const std::string& password) {
    const std::string crop = [] {
        std::vector<uint8_t> out;
        cv::imencode(".jpg", cv::Mat(112, 112, CV_8UC3, cv::Scalar(120, 140, 180)), out,
                     {cv::IMWRITE_JPEG_QUALITY, 90});
        return std::string(out.begin(), out.end());
    }();
    return deliverCrops(
        token, std::vector<std::vector<std::string>>(size_t(files), std::vector<std::string>(size_t(faces), crop)),
        faces > 0, password);
}

Delivered GalleryTest::deliverFaces(const std::string& token,
                                    const std::vector<std::vector<std::string>>& cropsPerFile) {
    return deliverCrops(token, cropsPerFile, true, "rose-garden");
}

Delivered GalleryTest::deliverCrops(const std::string& token, const std::vector<std::vector<std::string>>& cropsPerFile,
                                    bool faceSearch, const std::string& password) {
    const int files = int(cropsPerFile.size());
    Delivered d;
    std::vector<std::string> bytes;
    json list = json::array();
    for (int i = 0; i < files; ++i) {
        bytes.push_back(jpegBytes(320, 240, i));
        list.push_back({{"filename", "IMG_" + std::to_string(i) + ".jpg"},
                        {"original_size_bytes", 0},
                        {"compressed_size_bytes", int64_t(bytes.back().size())},
                        {"content_type", "image/jpeg"}});
    }
    const Reply request = send("POST", "/deliver/upload-request", token,
                               {{"gallery_title", "Lantern Wedding"},
                                {"gallery_password", password},
                                {"allow_download", true},
                                {"face_search_enabled", faceSearch},
                                {"files", list}});
    EXPECT_EQ(request.status, 200) << request.body;
    const json answer = request.object();
    d.galleryId = answer.value("gallery_id", "");
    d.slug = answer.value("gallery_slug", "");
    d.uploads = answer.value("uploads", json::array());
    json complete = json::array();
    for (int i = 0; i < files && i < int(d.uploads.size()); ++i) {
        const json& u = d.uploads[size_t(i)];
        const Reply stored = put(u["compressed_upload_url"].get<std::string>(), bytes[size_t(i)]);
        EXPECT_EQ(stored.status, 200) << stored.body;
        json f = {{"filename", u["filename"]},
                  {"compressed_r2_key", u["compressed_r2_key"]},
                  {"compressed_size_bytes", int64_t(bytes[size_t(i)].size())},
                  {"width", 320},
                  {"height", 240}};
        if (i == 0) f["is_cover"] = true;
        json cropList = json::array();
        int k = 0;
        for (const std::string& crop : cropsPerFile[size_t(i)]) {
            const std::string base64 =
                gallery::encodeBase64(reinterpret_cast<const uint8_t*>(crop.data()), crop.size());
            cropList.push_back({{"image_base64", base64},
                                {"bbox_x", 10 * k++},
                                {"bbox_y", 20},
                                {"bbox_width", 50},
                                {"bbox_height", 60}});
        }
        if (!cropList.empty()) f["faces"] = cropList;
        complete.push_back(f);
        d.fileIds.push_back(u["compressed_r2_key"].get<std::string>().substr(d.galleryId.size() + 1, 18));
    }
    const Reply done =
        send("POST", "/deliver/upload-complete", token, {{"gallery_id", d.galleryId}, {"files", complete}});
    EXPECT_EQ(done.status, 200) << done.body;
    return d;
}

std::string GalleryTest::login(const std::string& slug, const std::string& password, int* status) const {
    httplib::Client c = client();
    httplib::Params form{{"password", password}};
    httplib::Result r = c.Post(("/gallery.html?g=" + slug).c_str(), form);
    if (status) *status = r ? r->status : 0;
    if (!r || r->status != 303) return {};
    const std::string cookie = r->get_header_value("Set-Cookie");
    return cookie.substr(0, cookie.find(';'));
}

}  // namespace keepframe::testing
