// Exiv2 from several threads at once. Exiv2 0.27 keeps process-wide tables of
// XMP namespaces that its XMP parser and writer change and walk without a lock
// of their own (reading a JPEG file's metadata parses the XMP in it too), so
// enhancement workers copying EXIF and the sidecar writer would otherwise race
// on them. Every use of Exiv2 holds this lock while it runs.
#pragma once

#include <mutex>

namespace keepframe {

// Sets up Exiv2's XMP toolkit once per process (its own namespace
// registrations then go through the same lock) and holds the lock until the
// returned guard ends. The lock may be taken again by the thread holding it.
std::unique_lock<std::recursive_mutex> lockExiv2();

}  // namespace keepframe
