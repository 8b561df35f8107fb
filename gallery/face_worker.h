// The background worker that turns the face crops of upload-complete into
// face data: it claims queued crops from the face_jobs table (several service
// instances share the queue), embeds each with the recogniser of the model
// set (the one the cull uses) and stores the embedding in face_data.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace keepframe::gallery {

class Database;
class Log;
struct GalleryConfig;

class FaceWorker {
public:
    // Loads the recogniser from `modelsDir` ("buffalo_l/w600k_r50.onnx").
    // Throws std::runtime_error when it cannot be loaded.
    FaceWorker(Database& db, const GalleryConfig& config, const Log& log, const std::string& modelsDir);
    ~FaceWorker();
    FaceWorker(const FaceWorker&) = delete;
    FaceWorker& operator=(const FaceWorker&) = delete;

    // New crops are queued: look now rather than at the next idle check.
    void wake();
    // Called on the worker's thread, once the queue is empty, with the
    // galleries whose face data it changed meanwhile. Set before crops arrive.
    void onDrained(std::function<void(const std::set<std::string>&)> changed) { drained_ = std::move(changed); }
    // Claims and embeds queued crops until none is left; how many were done.
    // The worker thread calls it; tests call it directly.
    int drain();

private:
    void run();
    // One claimed batch; how many crops it finished (embedded or dropped).
    int processBatch();

    struct Models;
    Database& db_;
    const GalleryConfig& config_;
    const Log& log_;
    std::unique_ptr<Models> models_;
    std::string claimant_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool woken_ = false;
    std::function<void(const std::set<std::string>&)> drained_;
    std::set<std::string> changed_;  // the worker thread's own
    std::thread thread_;
};

// The recogniser's file below a models folder.
std::string recogniserPath(const std::string& modelsDir);

// An embedding as stored: its 512 floats little-endian, in Base64.
std::string packEmbedding(const std::vector<float>& embedding);
// Empty for text that is not such an embedding.
std::vector<float> unpackEmbedding(std::string_view text);

}  // namespace keepframe::gallery
