// The XMP side of the hand-over: which values an image gets, how they are
// merged into an existing packet and taken back out again, and the file
// replacement they go through. Internal to the hand-over module.
#pragma once

#include "handover.h"

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"  // Exiv2 0.27 still hands out std::auto_ptr
#endif
#include <exiv2/xmp_exiv2.hpp>

#include <QByteArray>

#include <mutex>
#include <optional>

namespace keepframe {

// The values one image carries in XMP.
struct XmpWanted {
    std::optional<int> rating;
    QString label;        // empty: none
    QStringList keywords; // hierarchical, all starting with "Keepframe|"
};

// Holds the Exiv2 lock (exiv2_lock.h) with our namespaces registered; every
// use of Exiv2 in the hand-over runs under it.
std::unique_lock<std::recursive_mutex> prepareXmp();

XmpWanted wantedXmp(const HandoverImage& image, const XmpOptions& options);

// Reads a sidecar's text; false when it is not XMP. An empty (or blank) file is
// an empty sidecar.
bool parseXmp(const QByteArray& text, Exiv2::XmpData& data);
// Sidecar text for `data` (no packet wrapper, one description per namespace,
// which reads back in the same order); empty when it cannot be made.
QByteArray serializeXmp(const Exiv2::XmpData& data);

// Merges `wanted` into `data`, or takes our values back out when `wanted` is
// null. Ratings and labels that another program set are left alone and
// mentioned in `remarks`.
void applyHandover(Exiv2::XmpData& data, const XmpWanted* wanted, QStringList& remarks);

// The same properties with the same values, in whatever order.
bool sameXmp(const Exiv2::XmpData& a, const Exiv2::XmpData& b);
// The first property of `before` outside our own values (or a foreign keyword)
// that `after` no longer holds unchanged; empty when nothing was lost.
QString lostProperty(const Exiv2::XmpData& before, const Exiv2::XmpData& after);

// Replaces the file with `bytes` through writeFileReplacing (path_safety.h),
// stopping before the rename when the tests' commit hook says so; the old file
// stays as it was when anything fails.
bool replaceXmpFile(const QString& path, const QByteArray& bytes, QString& error);

}  // namespace keepframe
