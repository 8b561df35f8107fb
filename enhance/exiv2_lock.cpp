#include "exiv2_lock.h"

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"  // Exiv2 0.27 still hands out std::auto_ptr
#endif
#include <exiv2/xmp_exiv2.hpp>

namespace keepframe {

namespace {

// Never destroyed: Exiv2 may still call the lock function while the program's
// statics go away.
std::recursive_mutex& exiv2Mutex() {
    static auto* mutex = new std::recursive_mutex;
    return *mutex;
}

void lockUnlock(void* mutex, bool lock) {
    auto* m = static_cast<std::recursive_mutex*>(mutex);
    if (lock) m->lock();
    else m->unlock();
}

// How many file scopes the thread is inside.
thread_local int fileScopes = 0;

}  // namespace

std::unique_lock<std::recursive_mutex> lockExiv2() {
    std::unique_lock<std::recursive_mutex> guard(exiv2Mutex());
    static const bool initialized = Exiv2::XmpParser::initialize(lockUnlock, &exiv2Mutex());
    (void)initialized;  // a toolkit that cannot start makes every XMP call fail, and each says so
    return guard;
}

void forgetXmpNamespaces() {
    // Ending the toolkit empties both tables; starting it again registers the
    // standard namespaces (and takes the lock function again).
    Exiv2::XmpParser::terminate();
    Exiv2::XmpParser::initialize(lockUnlock, &exiv2Mutex());
}

Exiv2FileScope::Exiv2FileScope() : lock_(lockExiv2()) {
    if (fileScopes++ == 0) forgetXmpNamespaces();
}

Exiv2FileScope::~Exiv2FileScope() { release(); }

void Exiv2FileScope::release() {
    if (!lock_.owns_lock()) return;
    if (--fileScopes == 0) forgetXmpNamespaces();
    lock_.unlock();
}

}  // namespace keepframe
