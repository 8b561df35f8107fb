// keepframe-gallery for its own tests: the service as a process (SQLite in its
// data folder, or a fresh database of the test run's PostgreSQL cluster), a
// plain HTTP client, and deliveries of real JPEG files through the API.
#pragma once

#include "db.h"
#include "gallery_service.h"
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <vector>

namespace keepframe::testing {

using json = nlohmann::json;

enum class DbKind { SQLite, PostgreSQL };
void PrintTo(DbKind kind, std::ostream* out);

struct Reply {
    int status = 0;
    std::string body;
    httplib::Headers headers;
    json object() const { return json::parse(body, nullptr, false); }
    std::string header(const std::string& name) const {
        const auto it = headers.find(name);
        return it == headers.end() ? "" : it->second;
    }
};

// One delivered gallery.
struct Delivered {
    std::string galleryId, slug;
    std::vector<std::string> fileIds;
    json uploads;
};

// A database of the test run's PostgreSQL cluster, made for one test and dropped after it.
class PostgresDatabase {
public:
    // Skips (with the reason) when the test run started no cluster.
    PostgresDatabase();
    ~PostgresDatabase();
    const std::string& url() const { return url_; }
    bool available() const { return !url_.empty(); }

private:
    std::string admin_, name_, url_;
};

class GalleryTest : public ::testing::TestWithParam<DbKind> {
protected:
    TempDir dir;
    std::unique_ptr<PostgresDatabase> postgres;
    GalleryService service;

    void SetUp() override;
    void TearDown() override;

    // Starts (or restarts, keeping its data) the service.
    void start(const QStringList& serveOptions = {});
    httplib::Client client() const;
    Reply send(const std::string& method, const std::string& path, const std::string& token,
               const json& body = nullptr) const;
    // PUT of `bytes` to an upload address the service handed out.
    Reply put(const std::string& uploadUrl, const std::string& bytes, const std::string& type = "image/jpeg") const;
    // A new photographer's token.
    std::string addPhotographer(const std::string& name, int quotaGb = 10);
    // The database the service uses, opened by the test itself.
    std::unique_ptr<gallery::Database> openDatabase() const;
    int64_t count(const std::string& sql, const std::vector<gallery::SqlValue>& params = {}) const;

    // upload-request of a gallery "T" (password "pw") of one file "a.jpg" of
    // `bytes` bytes, announced as its `copy`: "compressed" or "original".
    Reply requestOneUpload(const std::string& token, const std::string& copy, int64_t bytes) const;
    // upload-request, one PUT per file and upload-complete; each file a real JPEG
    // of the given size, with `faces` face crops each when face search is on.
    Delivered deliver(const std::string& token, int files, int faces = 0, const std::string& password = "rose-garden");
    // The same with face search on and these face crops (JPEG files) for each file.
    Delivered deliverFaces(const std::string& token, const std::vector<std::vector<std::string>>& cropsPerFile);
    Delivered deliverCrops(const std::string& token, const std::vector<std::vector<std::string>>& cropsPerFile,
                           bool faceSearch, const std::string& password);
    // The session cookie ("name=value") for the gallery page, or "" when refused.
    std::string login(const std::string& slug, const std::string& password, int* status = nullptr) const;
};

// A JPEG of width x height with a painted pattern.
std::string jpegBytes(int width, int height, int seed = 0);

std::string paramName(const ::testing::TestParamInfo<DbKind>& info);

}  // namespace keepframe::testing
