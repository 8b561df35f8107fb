// What the parts of GalleryServer share: its state, the error a handler
// throws to answer with a status, and the helpers every route uses.
#pragma once

#include "blob_store.h"
#include "config.h"
#include "crypto.h"
#include "db.h"
#include "face_search.h"
#include "face_worker.h"
#include "log.h"
#include "server.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

namespace keepframe::gallery {

using json = nlohmann::json;

// Ends a request with this status and {"detail": detail}.
struct ApiError {
    int status;
    std::string detail;
};

struct Photographer {
    std::string id;
    std::string name;
    int64_t quotaBytes = 0;
};

// Lets at most `count` callers in at once; the others wait their turn.
class Gate {
public:
    explicit Gate(int count) : free_(std::max(1, count)) {}
    template <class F>
    auto pass(F&& work) {
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return free_ > 0; });
            --free_;
        }
        struct Leave {
            Gate& gate;
            ~Leave() {
                std::lock_guard lock(gate.mutex_);
                ++gate.free_;
                gate.changed_.notify_one();
            }
        } leave{*this};
        return work();
    }

private:
    int free_;
    std::mutex mutex_;
    std::condition_variable changed_;
};

struct GalleryServer::State {
    GalleryConfig config;
    const Log& log;
    std::unique_ptr<Database> db;
    std::unique_ptr<BlobStore> blobs;
    std::string signingKey;
    std::string origin;
    std::string pageStyleHash;  // CSP hash of the gallery page's style sheet
    httplib::Server http;
    Gate passwordGate;
    Gate renditionGate{2};  // renditions made at once for the page (each decodes a whole photograph)
    std::unique_ptr<FaceWorker> faces;
    std::unique_ptr<FaceSearcher> searcher;  // none without models
    std::atomic<bool> stopping{false};
    std::mutex janitorMutex;
    std::condition_variable janitorWake;
    bool renditionsWanted = false;  // under janitorMutex: files were confirmed

    State(GalleryConfig c, const Log& l) : config(std::move(c)), log(l), passwordGate(config.passwordHashesAtOnce) {}

    // ---- shared helpers (server.cpp)
    PasswordHashing hashing() const { return {config.argon2Iterations, config.argon2MemoryKiB, config.argon2Lanes}; }
    // The photographer whose bearer token the request carries; throws 401.
    Photographer authenticate(const httplib::Request& request);
    // The body as a JSON object; throws 400 for anything else.
    json jsonBody(const httplib::Request& request) const;
    // The client's address: the proxy's X-Real-IP behind a proxy, else the peer's.
    std::string clientAddress(const httplib::Request& request) const;
    // Bytes the photographer uses: stored files, and the declared size of
    // files whose upload window is still open (reserved). `except` leaves one file out.
    int64_t usedBytes(Connection& c, const std::string& photographerId, const std::string& except = "") const;
    // Deletes a gallery's rows (in the caller's transaction).
    void deleteGalleryRows(Connection& c, const std::string& galleryId) const;
    // Removes a gallery's files; a failure is logged and left to the janitor.
    void removeGalleryFiles(const std::string& galleryId) const;
    std::string uploadSignature(const std::string& galleryId, const std::string& fileId, const std::string& kind,
                                int64_t size, int64_t expires) const;

    // ---- routes
    void addApiRoutes();      // api.cpp
    void addUploadRoutes();   // uploads.cpp
    void addPageRoutes();     // page.cpp
    void janitorPass();       // server.cpp
    // The stored faces of a gallery at its current version, from the
    // searcher's memory or read now (server.cpp). Needs the searcher.
    FaceSearcher::Faces galleryFaces(const std::string& galleryId);
    // Makes the renditions of a batch of files that have none yet; how many it handled.
    int renditionPass();      // server.cpp
    // Wakes the housekeeping thread to make renditions of files just confirmed.
    void wantRenditions();
};

// Wraps a route: ApiError becomes its status and detail, a database that is
// busy 503, anything else 500 with the reason logged (never sent).
httplib::Server::Handler guarded(const Log& log, std::function<void(const httplib::Request&, httplib::Response&)> f);
void sendJson(httplib::Response& response, int status, const json& body);

// Field readers for request bodies: each throws 422 naming the field when it
// has the wrong type or breaks its bound.
std::string textField(const json& body, const char* key, size_t maxBytes, bool required);
bool boolField(const json& body, const char* key, bool fallback);
int64_t intField(const json& body, const char* key, int64_t min, int64_t max, int64_t fallback);

// The gallery page's style sheet, allowed by its hash in the page's policy,
// and its script, served as /gallery/page.js (page_assets.cpp).
extern const char* const kPageStyle;
extern const char* const kPageScript;

// A gallery's public name made from its title: lower-case letters and digits
// joined by "-", at most 40 characters, then "-" and 8 random hex digits.
std::string makeSlug(const std::string& title);

}  // namespace keepframe::gallery
