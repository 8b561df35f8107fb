// Sidecar files next to the photographs: finding each photograph's original
// (the RAW file behind a preview), naming its sidecar in either style,
// settling photographs that would share one sidecar, and merging the values
// into the sidecar atomically.
//
// Two photographs share a sidecar name in the extension-replacing style when
// they share a stem in one folder (DSC_0001.CR2 and DSC_0001.JPG). They are
// taken as one capture, and share the sidecar, only when both name the same
// original capture time, the same sub-second where both record one and the
// same camera model where both record one. Otherwise the sidecar is written
// for one of them only (a photograph of the project before any other file; a
// kept one before the rest; a RAW file before its companions; then by name)
// and each other is reported as skipped.
#include "handover.h"
#include "xmp_merge.h"

#include "exif.h"
#include "exiv2_compat.h"
#include "exiv2_lock.h"
#include "mapped_file.h"
#include "path_safety.h"
#include "raw_names.h"
#include "scan.h"

#include <exiv2/exif.hpp>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <optional>
#include <utility>

namespace keepframe {

namespace {

// The folders a project's images are found in. A project culled from RAW
// files names the previews in the conversion folder; their originals lie in
// the folder above it, in the same sub-folders.
struct Roots {
    QString project;    // the folder the stored names are relative to
    QString originals;  // the folder of the originals; every sidecar lies below it
    bool fromRaw = false;
};

Roots rootsOf(const QString& inputFolder) {
    Roots r;
    r.project = QDir::cleanPath(QDir(inputFolder).absolutePath());
    const QFileInfo info(r.project);
    const QString parent = info.absolutePath();
    r.fromRaw = info.fileName() == QString::fromStdString(conversionFolderName(parent.toStdString())) &&
                parent != r.project;
    r.originals = r.fromRaw ? parent : r.project;
    return r;
}

QString lowerExtension(const QString& name) {
    return QString::fromStdString(fileExtension(name.toStdString())).toLower();
}

bool isPhotograph(const QString& name) {
    const std::string ext = lowerExtension(name).toStdString();
    return isImageExtension(ext) || isRawExtension(ext);
}

bool isRaw(const QString& name) { return isRawExtension(lowerExtension(name).toStdString()); }

// The files of each folder looked at, listed once per run, with the look-ups
// the writer needs answered from hashes: a run over a folder of thousands of
// photographs stays linear.
class FolderIndex {
public:
    // The files of `folder` whose stem (the name without its last extension)
    // equals `stem` ignoring case, in name order.
    QStringList sameStem(const QString& folder, const QString& stem) {
        return listing(folder).byStem.value(stem.toCaseFolded());
    }
    // The file of `folder` named `name` ignoring case (the last in name order
    // when several are); empty when there is none.
    QString named(const QString& folder, const QString& name) {
        return listing(folder).byName.value(name.toCaseFolded());
    }

private:
    struct Listing {
        QHash<QString, QStringList> byStem;  // case-folded stem -> names
        QHash<QString, QString> byName;      // case-folded name -> name
    };

    const Listing& listing(const QString& folder) {
        auto it = folders_.find(folder);
        if (it != folders_.end()) return *it;
        Listing l;
        for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
            l.byStem[QFileInfo(name).completeBaseName().toCaseFolded()].append(name);
            l.byName.insert(name.toCaseFolded(), name);
        }
        return *folders_.insert(folder, std::move(l));
    }

    QHash<QString, Listing> folders_;
};

struct Photo {
    int image = -1;    // index into the images; -1 for a file the project does not know
    QString path;      // absolute
    bool raw = false;
};

// Finds the photograph an image's sidecar belongs to; false with `reason` set
// when there is none to write for.
bool locate(const Roots& roots, const QString& filename, FolderIndex& folders, Photo& photo, QString& reason) {
    const QString joined = pathInside(roots.project, filename);
    if (joined.isEmpty()) {
        reason = "its stored name leads outside the input folder";
        return false;
    }
    const QString file = QDir::cleanPath(joined);
    const QFileInfo info(file);
    if (roots.fromRaw) {
        const QString folder =
            QDir::cleanPath(roots.originals + '/' + QDir(roots.project).relativeFilePath(info.absolutePath()));
        QStringList raws;
        for (const QString& name : folders.sameStem(folder, info.completeBaseName()))
            if (isRaw(name) && QFileInfo(name).completeBaseName() == info.completeBaseName()) raws << name;
        if (raws.size() > 1) {
            reason = "several RAW originals share this preview (" + raws.join(", ") + ")";
            return false;
        }
        if (raws.size() == 1) photo.path = folder + '/' + raws.front();
    }
    if (photo.path.isEmpty()) photo.path = file;
    photo.raw = isRaw(photo.path);
    if (!isPhotograph(photo.path)) {
        reason = "it is not a photograph";
        return false;
    }
    if (!QFileInfo(photo.path).isFile()) {
        reason = "the photograph is not there any more";
        return false;
    }
    return true;
}

// The sidecar's path in the chosen style; an existing sidecar whose name
// differs only in case (IMG_0001.XMP) is used instead. Empty when the name
// cannot carry a sidecar.
QString sidecarPath(const Photo& photo, SidecarStyle style, FolderIndex& folders) {
    const QFileInfo info(photo.path);
    const QString stem = style == SidecarStyle::Append ? info.fileName() : info.completeBaseName();
    if (stem.isEmpty()) return {};
    QString name = stem + ".xmp";
    const QString existing = folders.named(info.absolutePath(), name);
    if (!existing.isEmpty()) name = existing;
    const QString path = info.absolutePath() + '/' + name;
    return path.compare(photo.path, Qt::CaseInsensitive) == 0 ? QString() : path;
}

struct Capture {
    QString time, subSecond, model;
};

std::optional<Capture> captureOf(const QString& path) {
    try {
        // Only the blocks that hold the metadata are read from the disk.
        const MappedFile mapped(path.toStdString());
        if (!mapped.mapped()) return std::nullopt;
        const Exiv2FileScope exiv2;  // the photograph's own XMP is read too
        auto image = openExiv2Image(mapped.data(), mapped.size());
        image->readMetadata();
        const Exiv2::ExifData& exif = image->exifData();
        auto text = [&](const char* key) {
            const auto it = exif.findKey(Exiv2::ExifKey(key));
            return it == exif.end() ? QString() : QString::fromStdString(it->toString()).trimmed();
        };
        Capture c;
        // A time the camera did not know (blanks or zeros) shows no capture.
        auto known = [](const QString& time) { return isKnownCaptureTime(time.toStdString()); };
        for (const char* key : {"Exif.Photo.DateTimeOriginal", "Exif.Image.DateTimeOriginal", "Exif.Image.DateTime"})
            if (!known(c.time)) c.time = text(key);
        if (!known(c.time)) return std::nullopt;
        c.subSecond = text("Exif.Photo.SubSecTimeOriginal");
        c.model = text("Exif.Image.Model");
        return c;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool sameCapture(const std::optional<Capture>& a, const std::optional<Capture>& b) {
    auto agree = [](const QString& x, const QString& y) { return x.isEmpty() || y.isEmpty() || x == y; };
    return a && b && a->time == b->time && agree(a->subSecond, b->subSecond) && agree(a->model, b->model);
}

int verdictRank(HandoverVerdict v) {
    switch (v) {
    case HandoverVerdict::Kept: return 0;
    case HandoverVerdict::ForReview: return 1;
    case HandoverVerdict::Unpicked: return 2;
    case HandoverVerdict::Rejected: return 3;
    }
    return 4;
}

struct Sidecar {
    QString path;
    QList<Photo> claimants;  // the one the sidecar is written for first
};

// Reads, merges and atomically replaces one sidecar (or takes our values back
// out when `wanted` is null).
SidecarOutcome handOverFile(const QString& path, const XmpWanted* wanted, QString& reason, QStringList& remarks) {
    const QFileInfo info(path);
    const bool existed = info.exists() || info.isSymLink();
    QByteArray text;
    if (existed) {
        if (info.isSymLink() || !info.isFile()) {
            reason = "the sidecar's name is taken by a link or a folder; left alone";
            return SidecarOutcome::Failed;
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            reason = "cannot read the existing sidecar: " + file.errorString();
            return SidecarOutcome::Failed;
        }
        text = file.readAll();
    } else if (!wanted) {
        return SidecarOutcome::Unchanged;
    }
    Exiv2FileScope exiv2;
    XmpPacket before;
    if (!parseXmp(text, before)) {
        reason = "the existing sidecar is not valid XMP; left as it is";
        return SidecarOutcome::Failed;
    }
    const XmpContent had = contentOf(before.data, before.form);
    Exiv2::XmpData after = before.data;
    applyHandover(after, wanted, remarks);
    if (wanted && !existed) markAsCreated(after);
    if (existed && contentOf(after, before.form) == had) return SidecarOutcome::Unchanged;
    // Only a sidecar we wrote goes once nothing but our values was in it; one
    // that was there before stays, even empty.
    if (!wanted && after.empty() && createdByUs(before.data)) {
        if (!QFile::remove(path)) {
            reason = "cannot delete the sidecar";
            return SidecarOutcome::Failed;
        }
        return SidecarOutcome::Removed;
    }
    const QByteArray packet = serializeXmp(after, before.form);
    XmpPacket check;
    if (packet.isEmpty() || !parseXmp(packet, check)) {
        reason = "could not encode the XMP";
        return SidecarOutcome::Failed;
    }
    const QString lost = lostProperty(had, contentOf(check.data, check.form));
    if (!lost.isEmpty()) {
        reason = "merging would lose " + lost + "; left as it is";
        return SidecarOutcome::Failed;
    }
    if (check.form.about != before.form.about) {
        reason = "merging would lose the rdf:about of the sidecar; left as it is";
        return SidecarOutcome::Failed;
    }
    exiv2.release();
    QString error;
    if (!replaceXmpFile(path, packet, error)) {
        reason = error;
        return SidecarOutcome::Failed;
    }
    return existed ? SidecarOutcome::Merged : SidecarOutcome::Written;
}

QString stoppedText(int done, int total) {
    return QString("Stopped after %1 of %2 photographs; the sidecars of the others were left as they were.")
        .arg(done)
        .arg(total);
}

class Reporter {
public:
    Reporter(SidecarReport& report, const QString& root) : report_(report), root_(root) {}

    QString relative(const QString& path) const {
        return path.isEmpty() ? QString() : QDir(root_).relativeFilePath(path);
    }

    void add(const QString& file, const QString& sidecar, SidecarOutcome outcome, const QString& reason = {}) {
        count(outcome) += 1;
        const bool routine = outcome == SidecarOutcome::Written || outcome == SidecarOutcome::Merged ||
                             outcome == SidecarOutcome::Unchanged || outcome == SidecarOutcome::Removed;
        if (!routine || !reason.isEmpty()) report_.notes.append({file, relative(sidecar), outcome, reason});
    }

private:
    int& count(SidecarOutcome o) {
        switch (o) {
        case SidecarOutcome::Written: return report_.written;
        case SidecarOutcome::Merged: return report_.merged;
        case SidecarOutcome::Unchanged: return report_.unchanged;
        case SidecarOutcome::Removed: return report_.removed;
        case SidecarOutcome::Shared: return report_.shared;
        case SidecarOutcome::Skipped: return report_.skipped;
        case SidecarOutcome::Failed: break;
        }
        return report_.failed;
    }

    SidecarReport& report_;
    QString root_;
};

}  // namespace

SidecarReport writeXmpSidecars(const QString& inputFolder, const QList<HandoverImage>& images,
                               const XmpOptions& options, const HandoverProgress& progress) {
    SidecarReport report;
    if (options.keptRating < 1 || options.keptRating > 5) {
        report.error = "The rating for kept images must be 1 to 5.";
        return report;
    }
    const Roots roots = rootsOf(inputFolder);
    if (inputFolder.isEmpty() || !QFileInfo(roots.project).isDir() || !QFileInfo::exists(roots.originals)) {
        report.error = "Input folder not found: " + inputFolder;
        return report;
    }
    Reporter reporter(report, roots.originals);
    FolderIndex folders;
    const int total = int(images.size());
    int done = 0;
    if (progress && !progress(done, total)) {
        report.error = stoppedText(done, total);
        return report;
    }

    // Every photograph of the project under the sidecar it belongs to.
    QList<Sidecar> sidecars;
    QHash<QString, int> byPath;
    for (int i = 0; i < total; ++i) {
        Photo photo;
        photo.image = i;
        QString reason;
        QString path;
        if (locate(roots, images[i].filename, folders, photo, reason)) {
            path = sidecarPath(photo, options.style, folders);
            // A link on the way may lead out of the shoot even when the names stay inside.
            if (path.isEmpty()) reason = "its name cannot carry a sidecar";
            else if (!resolvesWithin(roots.originals, QFileInfo(path).absolutePath()))
                reason = "its sidecar would lie outside the input folder";
        }
        if (!reason.isEmpty()) {
            reporter.add(images[i].filename, {}, SidecarOutcome::Skipped, reason);
            ++done;
            continue;
        }
        const QString key = path.toLower();
        if (!byPath.contains(key)) {
            byPath.insert(key, int(sidecars.size()));
            sidecars.append({path, {}});
        }
        sidecars[byPath[key]].claimants.append(photo);
    }

    for (Sidecar& sidecar : sidecars) {
        auto rank = [&](const Photo& p) {
            return std::make_tuple(verdictRank(images[p.image].verdict), !p.raw, p.path);
        };
        std::sort(sidecar.claimants.begin(), sidecar.claimants.end(),
                  [&](const Photo& a, const Photo& b) { return rank(a) < rank(b); });
        const Photo chosen = sidecar.claimants.front();
        const QString chosenName = reporter.relative(chosen.path);
        const QString sidecarName = reporter.relative(sidecar.path);

        if (!options.remove) {
            // Other files that would read this sidecar: same folder, same stem.
            QList<Photo> others = sidecar.claimants.mid(1);
            if (options.style == SidecarStyle::Replace) {
                const QFileInfo info(chosen.path);
                for (const QString& name : folders.sameStem(info.absolutePath(), info.completeBaseName())) {
                    const QString path = info.absolutePath() + '/' + name;
                    const bool known = std::any_of(sidecar.claimants.begin(), sidecar.claimants.end(),
                                                   [&](const Photo& p) { return p.path == path; });
                    if (!known && isPhotograph(name)) others.append({-1, path, isRaw(name)});
                }
            }
            const std::optional<Capture> capture = others.isEmpty() ? std::nullopt : captureOf(chosen.path);
            for (const Photo& other : others) {
                const bool oneCapture = other.path == chosen.path || sameCapture(capture, captureOf(other.path));
                const QString name = reporter.relative(other.path);
                if (oneCapture && other.image >= 0)
                    reporter.add(name, sidecar.path, SidecarOutcome::Shared,
                                 "one capture with " + chosenName + ", whose sidecar holds the values");
                else if (!oneCapture)
                    reporter.add(name, {}, SidecarOutcome::Skipped,
                                 "a different capture with the same name as " + chosenName + ", which has " +
                                     sidecarName + " (the appending style gives each its own sidecar)");
            }
        }

        const XmpWanted wanted = wantedXmp(images[chosen.image], options);
        QString reason;
        QStringList remarks;
        const SidecarOutcome outcome = handOverFile(sidecar.path, options.remove ? nullptr : &wanted, reason, remarks);
        if (reason.isEmpty()) reason = remarks.join("; ");
        reporter.add(chosenName, sidecar.path, outcome, reason);

        done += int(sidecar.claimants.size());
        if (progress && !progress(done, total) && done < total) {
            report.error = stoppedText(done, total);
            return report;
        }
    }
    if (progress) progress(total, total);
    return report;
}

}  // namespace keepframe
