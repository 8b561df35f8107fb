// keepframe-gallery's HTTP service: the photographer's API the desktop client
// uses (bearer token), the signed storage addresses uploads go to, the
// payment codes of storage top-ups, and the client's gallery page.
#pragma once

#include "config.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace keepframe::gallery {

class BlobStore;
class Database;
class FaceWorker;
class Log;

class GalleryServer {
public:
    // Opens the database (migrating it) and the storage folder. Throws
    // std::runtime_error (DbError among them) when either cannot be used.
    GalleryServer(GalleryConfig config, const Log& log);
    ~GalleryServer();
    GalleryServer(const GalleryServer&) = delete;
    GalleryServer& operator=(const GalleryServer&) = delete;

    // Binds the address; false, with the reason logged, when it cannot.
    bool bind();
    // The port bound (the chosen one for port 0).
    int port() const { return port_; }
    std::string origin() const;
    // Serves until stop() (from another thread); housekeeping and the face
    // worker run meanwhile.
    void serve();
    void stop();

    Database& database();
    const BlobStore& storage() const;

private:
    struct State;
    std::unique_ptr<State> state_;
    int port_ = 0;
};

}  // namespace keepframe::gallery
