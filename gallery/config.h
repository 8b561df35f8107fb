// Every setting and limit of the gallery service in one place. The defaults
// are the product's; the command line sets the first group, tests shorten
// the rest.
#pragma once

#include "face_search.h"

#include <cstdint>
#include <string>

namespace keepframe::gallery {

constexpr int64_t kGiB = 1024LL * 1024 * 1024;
constexpr int64_t kMiB = 1024LL * 1024;

struct GalleryConfig {
    // ---- where it runs (keepframe-gallery serve)
    std::string host = "127.0.0.1";
    int port = 8790;                // 0 picks a free port
    std::string dataDir;            // database (SQLite), storage and keys
    std::string databaseUrl;        // "postgresql://…" shares one database; empty: SQLite in dataDir
    std::string publicUrl;          // the origin clients reach; empty: http://host:port
    bool behindProxy = false;       // TLS ends at a reverse proxy on this machine
    std::string modelsDir;          // face models; empty: no embedding worker

    // ---- requests
    int64_t maxJsonBytes = 1 * kMiB;          // any JSON body but upload-complete
    int64_t maxCompleteBytes = 64 * kMiB;     // upload-complete, face crops included
    int64_t maxFormBytes = 8 * 1024;          // the gallery page's password form
    int64_t maxUploadBytes = 512 * kMiB;      // one stored JPEG
    int maxJsonDepth = 32;                    // nesting of arrays and objects
    int maxFilesPerGallery = 10'000;
    int maxTextBytes = 1024;                  // titles, filenames, profile fields, passwords
    int readTimeoutSeconds = 15;              // one read of a request (headers or body) stalls at most this long
    int writeTimeoutSeconds = 15;
    int keepAliveSeconds = 5;
    int keepAliveRequests = 100;
    int uploadSeconds = 1800;                 // one PUT from its first byte to its last
    int threads = 64;                         // connections served at once (each holds one thread)
    int queuedConnections = 256;              // accepted connections waiting for a thread

    // ---- uploads
    int uploadUrlSeconds = 6 * 3600;          // a signed PUT address lives this long
    int64_t defaultQuotaBytes = 50 * kGiB;    // of a new photographer unless the administrator says otherwise

    // ---- gallery page
    int loginAttempts = 10;                   // per gallery and address in one window
    int loginAttemptsPerGallery = 100;        // per gallery from all addresses in one window
    int loginWindowSeconds = 900;
    int sessionSeconds = 14 * 24 * 3600;
    int passwordHashesAtOnce = 2;             // Argon2id runs at once (each takes argon2MemoryKiB)
    uint32_t argon2Iterations = 2;
    uint32_t argon2MemoryKiB = 19 * 1024;
    uint32_t argon2Lanes = 1;

    // ---- face data
    int maxFacesPerFile = 64;
    int64_t maxFaceCropBytes = 256 * 1024;
    int faceBatch = 16;                       // crops claimed by one worker at a time
    int faceIdleMilliseconds = 1000;          // a worker with nothing queued looks again after this
    int faceClaimSeconds = 300;               // a claim not finished by then is taken again
    int64_t maxSelfieBytes = 16 * kMiB;       // the photo a guest searches with
    float faceMatchThreshold = kFaceMatchThreshold;  // face_search.h

    // ---- storage top-ups (payment is outside; the administrator approves)
    int topupRupeesPerGbYear = 20;
    int termMonths = 12;
    int topupMinutes = 30;                    // a payment code not approved by then expires

    // ---- housekeeping
    int janitorSeconds = 60;
};

// Why the configuration cannot serve; empty when it can. Plain http is served
// only on a loopback address unless the service sits behind a TLS proxy, which
// then needs the public https address.
std::string configProblem(const GalleryConfig& config);

// The address clients reach: publicUrl, or http://host:port.
std::string publicOrigin(const GalleryConfig& config, int boundPort);

bool isLoopbackHost(const std::string& host);

}  // namespace keepframe::gallery
