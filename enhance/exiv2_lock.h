// Exiv2 from several threads at once. Exiv2 0.27 keeps process-wide tables of
// XMP namespaces that its XMP parser and writer change and walk without a lock
// of their own (reading a JPEG file's metadata parses the XMP in it too), so
// enhancement workers copying EXIF and the sidecar writer would otherwise race
// on them. Every use of Exiv2 holds this lock while it runs.
//
// The same tables make one file's namespaces another's: the parser registers
// every namespace a packet declares under the packet's own prefix, so after a
// packet that binds "dc" to some other namespace, Exiv2 would read and write
// Dublin Core there for every later file of the session. Each file's metadata
// is therefore read and written in an Exiv2FileScope.
#pragma once

#include <mutex>

namespace keepframe {

// Sets up Exiv2's XMP toolkit once per process (its own namespace
// registrations then go through the same lock) and holds the lock until the
// returned guard ends. The lock may be taken again by the thread holding it.
std::unique_lock<std::recursive_mutex> lockExiv2();

// Puts Exiv2's and its XMP toolkit's namespace tables back to the standard
// namespaces, forgetting every namespace a packet declared. Call with the lock
// held, before reading a packet; what Exiv2 read earlier can then no longer be
// written.
void forgetXmpNamespaces();

// The lock for reading or writing the metadata of one file: the namespace
// tables are standard when the outermost scope of a thread starts and again
// when it ends (a scope inside another leaves them alone).
class Exiv2FileScope {
public:
    Exiv2FileScope();
    ~Exiv2FileScope();
    Exiv2FileScope(const Exiv2FileScope&) = delete;
    Exiv2FileScope& operator=(const Exiv2FileScope&) = delete;

    // Ends the scope before the object does (to write a file without the lock).
    void release();

private:
    std::unique_lock<std::recursive_mutex> lock_;
};

}  // namespace keepframe
