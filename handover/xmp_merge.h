// The XMP side of the hand-over: which values an image gets, how they are
// merged into an existing packet and taken back out again, and the file
// replacement they go through. Internal to the hand-over module.
//
// Exiv2 names a property by a prefix ("Xmp.dc.title") that its process-wide
// tables turn into a namespace. Every packet is read with fresh tables
// (parseXmp), after the prefixes it binds against them are renamed, and
// compared with others by namespace, never by prefix (contentOf).
#pragma once

#include "handover.h"
#include "xmp_packet.h"

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"  // Exiv2 0.27 still hands out std::auto_ptr
#endif
#include <exiv2/xmp_exiv2.hpp>

#include <QByteArray>

#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace keepframe {

// The values one image carries in XMP.
struct XmpWanted {
    std::optional<int> rating;
    QString label;        // empty: none
    QStringList keywords; // hierarchical, all starting with "Keepframe|"
};

// A packet as Exiv2 reads it, with what Exiv2 does not keep of it.
struct XmpPacket {
    Exiv2::XmpData data;
    PacketForm form;
};

// A packet's properties as (namespace and path, type, values), sorted.
using XmpContent = std::vector<std::tuple<QString, int, QStringList>>;

// Holds the Exiv2 lock (exiv2_lock.h) with our namespaces registered; every
// use of Exiv2 in the hand-over runs under it.
std::unique_lock<std::recursive_mutex> prepareXmp();

XmpWanted wantedXmp(const HandoverImage& image, const XmpOptions& options);

// Reads a packet's text; false when it is not XMP. An empty (or blank) text is
// an empty packet. Reading starts from the standard namespaces
// (forgetXmpNamespaces): a packet read before can then still be compared
// through its contentOf(), taken before, but no longer written. Call inside
// an Exiv2FileScope.
bool parseXmp(const QByteArray& text, XmpPacket& packet);
// Text for `data` with `form` put back (one description per namespace, which
// reads back in the same order): a sidecar, or with `wrapped` a packet for a
// JPEG file; an empty packet when `data` is empty. Empty when it cannot be made.
QByteArray serializeXmp(const Exiv2::XmpData& data, const PacketForm& form, bool wrapped = false);
// The properties of `data`, read from the packet `form` belongs to, by namespace.
XmpContent contentOf(const Exiv2::XmpData& data, const PacketForm& form);

// Merges `wanted` into `data`, or takes our values back out when `wanted` is
// null. Ratings and labels that another program set are left alone and
// mentioned in `remarks`.
void applyHandover(Exiv2::XmpData& data, const XmpWanted* wanted, QStringList& remarks);

// Marks a sidecar as written by us where there was none; only such a sidecar
// is deleted once our values are taken back out and nothing else is left.
void markAsCreated(Exiv2::XmpData& data);
bool createdByUs(const Exiv2::XmpData& data);

// The first property of `before` outside our own values (or a foreign keyword)
// that `after` no longer holds unchanged; empty when nothing was lost.
QString lostProperty(const XmpContent& before, const XmpContent& after);

// Replaces the file with `bytes` through writeFileReplacing (path_safety.h),
// stopping before the rename when the tests' commit hook says so; the old file
// stays as it was when anything fails.
bool replaceXmpFile(const QString& path, const QByteArray& bytes, QString& error);

}  // namespace keepframe
