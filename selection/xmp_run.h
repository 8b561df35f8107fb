// A write of XMP sidecars on a thread of its own, as SelectionModel starts it.
// The user interface thread reads the project before the run starts; the
// worker sees only its own copies of the images and options and the atomics
// below, never the project database, and posts its result back to the model.
#pragma once

#include <atomic>
#include <thread>

namespace keepframe {

struct XmpRun {
    std::thread worker;
    std::atomic<int> done{0};   // images settled
    std::atomic<int> total{0};  // images of the run
    std::atomic<bool> cancel{false};

    // User interface thread only: true from the start until the finished
    // signal, and the number of the run whose end is awaited.
    bool running = false;
    int serial = 0;
};

}  // namespace keepframe
