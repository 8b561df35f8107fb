#include "server_internal.h"

#include "clock.h"
#include "crypto.h"
#include "paths.h"
#include "renditions.h"
#include "schema.h"

#include <algorithm>
#include <cctype>
#include <deque>

namespace keepframe::gallery {

namespace {

// The connections httplib accepts wait here for one of a fixed number of
// threads. When the queue is full the accepting thread waits too, so further
// clients wait in the system's backlog instead of in memory.
class BoundedQueue : public httplib::TaskQueue {
public:
    BoundedQueue(int threads, int capacity) : capacity_(size_t(std::max(1, capacity))) {
        for (int i = 0; i < std::max(1, threads); ++i) threads_.emplace_back([this] { work(); });
    }
    void enqueue(std::function<void()> task) override {
        std::unique_lock lock(mutex_);
        space_.wait(lock, [&] { return tasks_.size() < capacity_ || shutdown_; });
        tasks_.push_back(std::move(task));
        ready_.notify_one();
    }
    void shutdown() override {
        {
            std::lock_guard lock(mutex_);
            shutdown_ = true;
        }
        ready_.notify_all();
        space_.notify_all();
        for (std::thread& t : threads_) t.join();
    }

private:
    void work() {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(mutex_);
                ready_.wait(lock, [&] { return !tasks_.empty() || shutdown_; });
                if (tasks_.empty()) return;
                task = std::move(tasks_.front());
                tasks_.pop_front();
                space_.notify_one();
            }
            task();
        }
    }

    size_t capacity_;
    std::deque<std::function<void()>> tasks_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable ready_, space_;
    bool shutdown_ = false;
};

// The largest body a request may carry, by where it goes.
int64_t bodyLimit(const GalleryConfig& config, const httplib::Request& request) {
    if (request.method == "PUT" && request.path.rfind("/storage/", 0) == 0) return config.maxUploadBytes;
    if (request.method == "POST" && request.path == "/deliver/upload-complete") return config.maxCompleteBytes;
    if (request.method == "POST" && request.path == "/gallery.html") return config.maxFormBytes;
    if (request.method == "POST" && request.path.rfind("/gallery/", 0) == 0 && request.path.ends_with("/face-search"))
        return config.maxSelfieBytes;
    if (request.method == "POST" || request.method == R"(DELETE)") return config.maxJsonBytes;
    return 0;
}

std::string sha256Base64(const std::string& text) {
    const std::string hex = sha256Hex(text);
    std::vector<uint8_t> raw;
    for (size_t i = 0; i < hex.size(); i += 2) raw.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return encodeBase64(raw.data(), raw.size());
}

}  // namespace

// ---------------------------------------------------------------- helpers

void sendJson(httplib::Response& response, int status, const json& body) {
    response.status = status;
    response.set_content(body.dump(), "application/json");
}

httplib::Server::Handler guarded(const Log& log,
                                 std::function<void(const httplib::Request&, httplib::Response&)> f) {
    return [&log, f = std::move(f)](const httplib::Request& request, httplib::Response& response) {
        try {
            f(request, response);
        } catch (const ApiError& e) {
            sendJson(response, e.status, {{"detail", e.detail}});
        } catch (const DbError& e) {
            log.error(request.method + " " + request.path + ": " + e.what());
            sendJson(response, e.busy() ? 503 : 500,
                     {{"detail", e.busy() ? "The service is busy; try again" : "Internal error"}});
        } catch (const std::exception& e) {
            log.error(request.method + " " + request.path + ": " + e.what());
            sendJson(response, 500, {{"detail", "Internal error"}});
        }
    };
}

std::string textField(const json& body, const char* key, size_t maxBytes, bool required) {
    const auto it = body.find(key);
    if (it == body.end() || it->is_null()) {
        if (required) throw ApiError{422, std::string(key) + " missing"};
        return {};
    }
    if (!it->is_string()) throw ApiError{422, std::string(key) + " must be text"};
    const std::string text = it->get<std::string>();
    if (text.size() > maxBytes)
        throw ApiError{422, std::string(key) + " is longer than " + std::to_string(maxBytes) + " bytes"};
    return text;
}

bool boolField(const json& body, const char* key, bool fallback) {
    const auto it = body.find(key);
    if (it == body.end() || it->is_null()) return fallback;
    if (!it->is_boolean()) throw ApiError{422, std::string(key) + " must be true or false"};
    return it->get<bool>();
}

int64_t intField(const json& body, const char* key, int64_t min, int64_t max, int64_t fallback) {
    const auto it = body.find(key);
    if (it == body.end() || it->is_null()) return fallback;
    if (!it->is_number_integer()) throw ApiError{422, std::string(key) + " must be a whole number"};
    const int64_t value = it->is_number_unsigned() && it->get<uint64_t>() > uint64_t(INT64_MAX)
                              ? INT64_MAX
                              : it->get<int64_t>();
    if (value < min || value > max)
        throw ApiError{422, std::string(key) + " must be from " + std::to_string(min) + " to " + std::to_string(max)};
    return value;
}

std::string makeSlug(const std::string& title) {
    std::string slug;
    for (const char c : title) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) && u < 128) {
            slug += char(std::tolower(u));
        } else if (!slug.empty() && slug.back() != '-') {
            slug += '-';
        }
        if (slug.size() >= 40) break;
    }
    while (!slug.empty() && slug.back() == '-') slug.pop_back();
    if (slug.empty()) slug = "gallery";
    return slug + "-" + randomHex(4);
}

Photographer GalleryServer::State::authenticate(const httplib::Request& request) {
    const std::string header = request.get_header_value("Authorization");
    const std::string prefix = "Bearer ";
    if (header.size() <= prefix.size() || header.compare(0, prefix.size(), prefix) != 0 || header.size() > 512)
        throw ApiError{401, "Invalid or missing token"};
    // Tokens are stored as their SHA-256 only; the digest of a 256-bit random
    // token is looked up, so its time tells nothing of the stored ones.
    const std::string hash = sha256Hex(header.substr(prefix.size()));
    const Rows rows = db->read([&](Connection& c) {
        return c.query(R"(SELECT id, name, quota_bytes, token_hash FROM photographers WHERE token_hash = $1
                       AND revoked = 0)",
                       {hash});
    });
    if (rows.empty() || !constantTimeEqual(rows[0].text(3), hash)) throw ApiError{401, "Invalid or missing token"};
    return {rows[0].text(0), rows[0].text(1), rows[0].integer(2)};
}

json GalleryServer::State::jsonBody(const httplib::Request& request) const {
    // Nesting is bounded before parsing, so that no body can exhaust the stack.
    int depth = 0;
    bool inString = false, escaped = false;
    for (const char c : request.body) {
        if (inString) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > config.maxJsonDepth) throw ApiError{400, "JSON nested too deeply"};
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    json body = json::parse(request.body, nullptr, false);
    if (body.is_discarded()) throw ApiError{400, "Malformed JSON body"};
    if (!body.is_object()) throw ApiError{400, "A JSON object is expected"};
    return body;
}

std::string GalleryServer::State::clientAddress(const httplib::Request& request) const {
    if (config.behindProxy && isLoopbackHost(request.remote_addr)) {
        const std::string forwarded = request.get_header_value("X-Real-IP");
        if (!forwarded.empty() && forwarded.size() <= 64) return forwarded;
    }
    return request.remote_addr;
}

int64_t GalleryServer::State::usedBytes(Connection& c, const std::string& photographerId,
                                        const std::string& except) const {
    const Rows rows = c.query(R"sql(
SELECT COALESCE(SUM(CASE WHEN f.state IN ('stored', 'confirmed') THEN f.stored_bytes
                         WHEN g.uploads_until > $2 THEN f.declared_bytes
                         ELSE 0 END), 0)
FROM files f JOIN galleries g ON g.id = f.gallery_id
WHERE f.photographer_id = $1 AND f.id <> $3)sql",
                              {photographerId, nowSeconds(), except});
    return rows.empty() ? 0 : rows[0].integer(0);
}

void GalleryServer::State::deleteGalleryRows(Connection& c, const std::string& galleryId) const {
    for (const char* sql :
         {R"(DELETE FROM face_data WHERE gallery_id = $1)", R"(DELETE FROM face_jobs WHERE gallery_id = $1)",
          R"(DELETE FROM sessions WHERE gallery_id = $1)", R"(DELETE FROM login_attempts WHERE gallery_id = $1)",
          R"(DELETE FROM files WHERE gallery_id = $1)", R"(DELETE FROM galleries WHERE id = $1)"})
        c.query(sql, {galleryId});
}

void GalleryServer::State::removeGalleryFiles(const std::string& galleryId) const {
    if (!blobs->removeGallery(galleryId))
        log.warning("storage: the files of gallery " + galleryId + " could not all be removed; the next "
                    "housekeeping pass tries again");
}

std::string GalleryServer::State::uploadSignature(const std::string& galleryId, const std::string& fileId,
                                                  const std::string& kind, int64_t size, int64_t expires) const {
    const std::string message = "PUT\n" + galleryId + "\n" + fileId + "\n" + kind + "\n" + std::to_string(size) +
                                "\nimage/jpeg\n" + std::to_string(expires);
    return hmacSha256Hex(signingKey, message);
}

// ---------------------------------------------------------------- housekeeping

void GalleryServer::State::janitorPass() {
    const int64_t now = nowSeconds();
    // Uploads whose window closed without a confirmation: their reservations
    // and files go; a gallery that never received a confirmed file goes too.
    const Rows stale = db->read([&](Connection& c) {
        return c.query(R"(SELECT f.id, f.storage_key FROM files f JOIN galleries g ON g.id = f.gallery_id
                       WHERE f.state <> 'confirmed' AND g.uploads_until < $1)",
                       {now});
    });
    for (const Row& r : stale) {
        const std::filesystem::path file = blobs->pathOf(r.text(1));
        std::error_code error;
        if (!file.empty()) std::filesystem::remove(file, error);
        db->write([&](Connection& c) {
            c.query(R"(DELETE FROM face_jobs WHERE file_id = $1)", {r.text(0)});
            c.query(R"(DELETE FROM files WHERE id = $1 AND state <> 'confirmed')", {r.text(0)});
        });
    }
    const Rows abandoned = db->read([&](Connection& c) {
        return c.query(R"(SELECT id FROM galleries g WHERE status = 'uploading' AND uploads_until < $1 AND NOT EXISTS
                       (SELECT 1 FROM files f WHERE f.gallery_id = g.id))",
                       {now});
    });
    for (const Row& r : abandoned) {
        db->write([&](Connection& c) { deleteGalleryRows(c, r.text(0)); });
        removeGalleryFiles(r.text(0));
    }
    db->write([&](Connection& c) {
        c.query(R"(DELETE FROM sessions WHERE expires_at < $1)", {now});
        c.query(R"(DELETE FROM login_attempts WHERE window_start < $1)", {now - config.loginWindowSeconds});
        c.query(R"(UPDATE topups SET status = 'expired' WHERE status = 'pending' AND expires_at < $1)", {now});
    });
    // Folders of galleries deleted while their files could not be removed.
    for (const std::string& folder : blobs->galleryFolders()) {
        if (!isServiceId(folder)) continue;
        const bool known = db->read([&](Connection& c) {
            return !c.query(R"(SELECT 1 FROM galleries WHERE id = $1)", {folder}).empty();
        });
        if (!known) removeGalleryFiles(folder);
    }
}

int GalleryServer::State::renditionPass() {
    const Rows files = db->read([&](Connection& c) {
        return c.query(R"(SELECT id, gallery_id, storage_key FROM files WHERE state = 'confirmed' AND renditions = 0
                       ORDER BY gallery_id, position LIMIT 16)");
    });
    for (const Row& f : files) {
        if (stopping) break;
        const std::filesystem::path source = blobs->pathOf(f.text(2));
        const RenditionsMade made =
            source.empty() ? RenditionsMade{"no stored file"}
                           : renditionGate.pass([&] { return makeRenditions(*blobs, f.text(1), f.text(0), source); });
        if (!made.problem.empty()) log.warning("renditions of file " + f.text(0) + ": " + made.problem);
        db->write([&](Connection& c) {
            if (!made.problem.empty()) {
                c.query(R"(UPDATE files SET renditions = 2 WHERE id = $1)", {f.text(0)});
                return;
            }
            // The upright size: the page lays its grid out by it.
            c.query(R"(UPDATE files SET renditions = 1, width = $1, height = $2 WHERE id = $3)",
                    {int64_t(made.width), int64_t(made.height), f.text(0)});
        });
    }
    return int(files.size());
}

FaceSearcher::Faces GalleryServer::State::galleryFaces(const std::string& galleryId) {
    const Rows gallery = db->read([&](Connection& c) {
        return c.query(R"(SELECT face_version FROM galleries WHERE id = $1)", {galleryId});
    });
    const int64_t version = gallery.empty() ? -1 : gallery[0].integer(0);
    return searcher->galleryFaces(galleryId, version, [&] {
        std::vector<StoredFace> stored;
        db->read([&](Connection& c) {
            const Rows rows = c.query(R"(SELECT file_id, embedding FROM face_data WHERE gallery_id = $1)", {galleryId});
            stored.reserve(rows.size());
            for (const Row& r : rows)
                stored.push_back({r.text(0), unpackEmbedding(std::get<std::string>(r.values.at(1)))});
            return 0;
        });
        return stored;
    });
}

void GalleryServer::State::wantRenditions() {
    {
        std::lock_guard lock(janitorMutex);
        renditionsWanted = true;
    }
    janitorWake.notify_all();
}

// ---------------------------------------------------------------- server

GalleryServer::GalleryServer(GalleryConfig config, const Log& log) : state_(std::make_unique<State>(config, log)) {
    State& s = *state_;
    const std::filesystem::path data = utf8ToPath(s.config.dataDir);
    std::error_code error;
    std::filesystem::create_directories(data, error);
    if (!std::filesystem::is_directory(data))
        throw std::runtime_error("cannot create the data folder " + s.config.dataDir);
    const std::string url =
        s.config.databaseUrl.empty() ? pathToUtf8(data / "gallery.db") : s.config.databaseUrl;
    s.db = Database::open(url, log, std::max(4, s.config.threads / 2));
    migrate(*s.db, log);
    s.signingKey = sharedSetting(*s.db, "upload_signing_key", randomHex(32));
    s.blobs = std::make_unique<BlobStore>(data / "storage");
    if (const int removed = s.blobs->removePartials())
        log.info("storage: removed " + std::to_string(removed) + " incomplete upload(s) of an earlier run");
    s.pageStyleHash = "'sha256-" + sha256Base64(kPageStyle) + "'";
    if (!s.config.modelsDir.empty()) {
        try {
            s.faces = std::make_unique<FaceWorker>(*s.db, s.config, log, s.config.modelsDir);
        } catch (const std::exception& e) {
            log.warning(std::string("face data: no embedding worker (") + e.what() +
                        "); face crops stay queued until a service with the models runs");
        }
        try {
            s.searcher = std::make_unique<FaceSearcher>(s.config.modelsDir);
        } catch (const std::exception& e) {
            log.warning(std::string("face search: not available (") + e.what() + ")");
        }
        // Faces just embedded are read into the searcher's memory at once, so
        // that the first guest to search after a delivery does not wait for it.
        if (s.faces && s.searcher)
            s.faces->onDrained([&s](const std::set<std::string>& galleries) {
                for (const std::string& id : galleries) {
                    try {
                        s.galleryFaces(id);
                    } catch (const std::exception& e) {
                        s.log.warning("face search: reading the faces of " + id + ": " + e.what());
                    }
                }
            });
    } else {
        log.warning("face data: no models folder (--models); face crops stay queued");
    }
}

GalleryServer::~GalleryServer() {
    stop();
    // The worker goes first: its thread uses the searcher.
    if (state_) state_->faces.reset();
}

Database& GalleryServer::database() { return *state_->db; }
const BlobStore& GalleryServer::storage() const { return *state_->blobs; }
std::string GalleryServer::origin() const { return state_->origin; }

bool GalleryServer::bind() {
    State& s = *state_;
    const GalleryConfig& c = s.config;
    httplib::Server& http = s.http;
    http.new_task_queue = [&c] { return new BoundedQueue(c.threads, c.queuedConnections); };
    http.set_read_timeout(c.readTimeoutSeconds, 0);
    http.set_write_timeout(c.writeTimeoutSeconds, 0);
    http.set_keep_alive_timeout(c.keepAliveSeconds);
    http.set_keep_alive_max_count(size_t(c.keepAliveRequests));
    http.set_payload_max_length(size_t(c.maxUploadBytes));
    http.set_default_headers({{"X-Content-Type-Options", "nosniff"}, {"Referrer-Policy", "no-referrer"}});
    // Bodies are bounded before they are read: what a route does not take is
    // refused with the connection closed, so the rest is never read.
    http.set_pre_routing_handler([&c](const httplib::Request& request, httplib::Response& response) {
        auto refuse = [&](int status, const std::string& detail) {
            sendJson(response, status, {{"detail", detail}});
            response.set_header("Connection", "close");
            return httplib::Server::HandlerResponse::Handled;
        };
        if (request.has_header("Transfer-Encoding")) return refuse(411, "Content-Length required");
        const std::string length = request.get_header_value("Content-Length");
        int64_t declared = 0;
        if (!length.empty()) {
            if (length.size() > 18 || length.find_first_not_of("0123456789") != std::string::npos)
                return refuse(400, "Bad Content-Length");
            declared = std::stoll(length);
        }
        if (declared > bodyLimit(c, request))
            return refuse(413, "The request body is larger than " + std::to_string(bodyLimit(c, request)) + " bytes");
        return httplib::Server::HandlerResponse::Unhandled;
    });
    http.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (response.body.empty()) {
            const char* detail = response.status == 404 ? "No such endpoint" : "Request refused";
            sendJson(response, response.status, {{"detail", detail}});
        }
    });
    s.addApiRoutes();
    s.addUploadRoutes();
    s.addPageRoutes();
    http.Get("/healthz", [](const httplib::Request&, httplib::Response& response) {
        sendJson(response, 200, {{"ok", true}});
    });

    port_ = c.port == 0 ? http.bind_to_any_port(c.host) : (http.bind_to_port(c.host, c.port) ? c.port : -1);
    if (port_ <= 0) {
        s.log.error("cannot listen on " + c.host + ":" + std::to_string(c.port));
        return false;
    }
    s.origin = publicOrigin(c, port_);
    return true;
}

void GalleryServer::serve() {
    State& s = *state_;
    std::thread janitor([&s] {
        std::unique_lock lock(s.janitorMutex);
        while (!s.stopping) {
            lock.unlock();
            try {
                s.janitorPass();
                // The page's renditions of confirmed files, a batch at a time until
                // none is left, or until the next housekeeping pass is due.
                const auto due = std::chrono::steady_clock::now() + std::chrono::seconds(s.config.janitorSeconds);
                bool more = true;
                while (!s.stopping && more && std::chrono::steady_clock::now() < due) more = s.renditionPass() > 0;
                if (more) {
                    std::lock_guard wanted(s.janitorMutex);
                    s.renditionsWanted = true;
                }
            } catch (const std::exception& e) {
                s.log.warning(std::string("housekeeping: ") + e.what());
            }
            lock.lock();
            s.janitorWake.wait_for(lock, std::chrono::seconds(s.config.janitorSeconds),
                                   [&] { return s.stopping.load() || s.renditionsWanted; });
            s.renditionsWanted = false;
        }
    });
    s.http.listen_after_bind();
    {
        std::lock_guard lock(s.janitorMutex);
        s.stopping = true;
    }
    s.janitorWake.notify_all();
    janitor.join();
}

void GalleryServer::stop() {
    if (state_) state_->http.stop();
}

}  // namespace keepframe::gallery
