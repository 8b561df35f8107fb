#include "review_views.h"

#include "exif.h"
#include "path_safety.h"
#include "project_store.h"
#include "review_state.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <map>
#include <utility>
#include <vector>

namespace keepframe {

namespace {

using Image = ReviewState::Image;

// A frame's marks as the views carry them.
void putMarks(QVariantMap& map, const ReviewState& state, const QString& filename) {
    const FrameMarks marks = state.ratings().marksOf(filename);
    map.insert("rating", marks.rating.value_or(-1));
    map.insert("label", colorLabelKey(marks.label));
}

QVariantMap imageMap(const ReviewState& state, const Image& i) {
    QVariantMap map = sharedImageFields(i);
    putMarks(map, state, i.filename);
    map.insert(QVariantMap{{"id", i.id},
                           {"appliedRotation", i.appliedRotation},
                           {"clusterImageCount", i.clusterImageCount},
                           {"thumbUrl", i.thumbUrl},
                           {"original", int(i.original)},
                           {"status", int(i.status)},
                           {"primary", i.status == SelectionModel::Primary}});
    return map;
}

// The key that puts frames in image order: a stored time as written (one a
// camera did not know counts as none), then the name.
struct OrderKey {
    QString time;
    QString filename;
    bool operator<(const OrderKey& o) const {
        if (time.isEmpty() != o.time.isEmpty()) return !time.isEmpty();
        if (time != o.time) return time < o.time;
        return filename < o.filename;
    }
};

OrderKey orderKey(const QString& captureTime, const QString& filename) {
    return {isKnownCaptureTime(captureTime.toStdString()) ? captureTime : QString(), filename};
}

// Frames of the review, kept in image order as they come: each key is made
// once, and the image maps only at the end.
class OrderedImages {
public:
    void add(const Image& image) { items_.push_back({orderKey(image.captureTime, image.filename), &image}); }
    QVariantList maps(const ReviewState& state) {
        std::stable_sort(items_.begin(), items_.end(), [](const Item& a, const Item& b) { return a.key < b.key; });
        QVariantList out;
        out.reserve(qsizetype(items_.size()));
        for (const Item& item : items_) out.push_back(imageMap(state, *item.image));
        return out;
    }

private:
    struct Item {
        OrderKey key;
        const Image* image;
    };
    std::vector<Item> items_;
};

// The kept and the removed frames of one section.
struct SectionFrames {
    OrderedImages kept, removed;
    void add(const Image& image) { (image.status == SelectionModel::Removed ? removed : kept).add(image); }
};

// The images whose status is (or, with `removed` false, is not) Removed and
// that `shown` lets through, in image order.
QVariantList imagesByRemoval(const ReviewState& state, bool removed, const std::function<bool(const Image&)>& shown) {
    OrderedImages out;
    for (const Image& i : state.images())
        if ((i.status == SelectionModel::Removed) == removed && shown(i)) out.add(i);
    return out.maps(state);
}

QVariantMap section(const QString& title, SectionFrames& frames, const ReviewState& state) {
    return QVariantMap{{"folder", title},
                       {"primary", frames.kept.maps(state)},
                       {"removed", frames.removed.maps(state)},
                       {"review", QVariantList{}},
                       {"added", QVariantList{}}};
}

QVariantList flatten(const QVariantList& sections) {
    QVariantList out;
    for (const QVariant& s : sections) {
        const QVariantMap m = s.toMap();
        out += m["primary"].toList();
        out += m["removed"].toList();
    }
    return out;
}

}  // namespace

void sortImageMaps(QVariantList& maps) {
    std::vector<std::pair<OrderKey, QVariant>> keyed;
    keyed.reserve(size_t(maps.size()));
    for (const QVariant& v : std::as_const(maps)) {
        const QVariantMap m = v.toMap();
        keyed.push_back({orderKey(m["captureTime"].toString(), m["filename"].toString()), v});
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t k = 0; k < keyed.size(); ++k) maps[qsizetype(k)] = std::move(keyed[k].second);
}

bool ReviewViews::passes(const Image& image) const {
    if (!filter_.active()) return true;
    const GridPart part = image.status == SelectionModel::Removed ? GridPart::Removed : GridPart::Kept;
    return filter_.matches(ReviewFilter::Frame{image.id, displayCategoryOf(image),
                                               state_.ratings().marksOf(image.filename), part});
}

bool ReviewViews::passesForReview(int id, const QString& filename, const QString& category, int faceCount) const {
    if (!filter_.active()) return true;
    const Category shown = displayCategory(categoryOf(category.toStdString()), faceCount, false);
    return filter_.matches(ReviewFilter::Frame{id, shown, state_.ratings().marksOf(filename), GridPart::ForReview});
}

QVariantList ReviewViews::keptImages() const {
    return imagesByRemoval(state_, false, [](const Image&) { return true; });
}

QVariantList ReviewViews::removedView() const {
    return imagesByRemoval(state_, true, [this](const Image& i) { return passes(i); });
}

QVariantList ReviewViews::groupedView() const {
    std::map<QString, SectionFrames> bySub;  // ordered: the root ("") first
    for (const Image& i : state_.images())
        if (passes(i)) bySub[subFolderOf(i.filename)].add(i);
    QVariantList out;
    for (auto& [sub, frames] : bySub) out.push_back(section(sub, frames, state_));
    return out;
}

QVariantList ReviewViews::categoryView() const {
    std::map<QString, std::map<Category, SectionFrames>> bySub;
    for (const Image& i : state_.images())
        if (passes(i)) bySub[subFolderOf(i.filename)][displayCategoryOf(i)].add(i);
    const bool severalFolders = bySub.size() > 1;
    QVariantList out;
    for (auto& [sub, categories] : bySub) {
        for (const Category c : {Category::Venue, Category::Featured, Category::Portrait, Category::Group}) {
            auto it = categories.find(c);
            if (it == categories.end()) continue;
            const QString label = categoryLabel(c);
            const QString title = severalFolders && !sub.isEmpty() ? sub + QStringLiteral("  —  ") + label : label;
            out.push_back(section(title, it->second, state_));
        }
    }
    return out;
}

QVariantList ReviewViews::flatView() const { return flatten(groupedView()); }

QVariantList ReviewViews::flatViewByCategory() const { return flatten(categoryView()); }

QVariantList ReviewViews::clustersFromDb(const QString& category, bool onlyOrphans) const {
    if (!state_.projectOpen()) return {};
    QVariantList clusters = state_.store()->clustersForProject(state_.projectId(), category, onlyOrphans);
    for (QVariant& c : clusters) {
        QVariantMap cluster = c.toMap();
        QVariantList images = cluster["images"].toList();
        for (QVariant& v : images) {
            QVariantMap m = v.toMap();
            m["alreadySelected"] = m["userSelected"];
            putMarks(m, state_, m["filename"].toString());
            v = m;
        }
        cluster["images"] = images;
        c = cluster;
    }
    return clusters;
}

QVariantList ReviewViews::momentFrames(int imageId) const {
    if (!state_.projectOpen() || imageId < 0) return {};
    QVariantList frames = state_.store()->momentImages(state_.projectId(), imageId);
    for (QVariant& v : frames) {
        QVariantMap m = v.toMap();
        const bool engine = m["engineSelected"].toBool(), user = m["userSelected"].toBool();
        const SelectionModel::Status original = !engine               ? SelectionModel::None
                                                : m["isPrimary"].toBool() ? SelectionModel::Primary
                                                                          : SelectionModel::Review;
        m["status"] = int(user ? (engine ? original : SelectionModel::Added)
                               : (engine ? SelectionModel::Removed : SelectionModel::None));
        m["original"] = int(original);
        QVariantList faces = state_.store()->displayFacesForImage(m["id"].toInt());
        m["faces"] = faces.isEmpty() ? m["faceBoxes"] : faces;
        putMarks(m, state_, m["filename"].toString());
        v = m;
    }
    return frames;
}

QVariantList ReviewViews::notSelectedImages() const {
    if (!state_.projectOpen()) return {};
    QVariantList out;
    for (const QVariant& v : state_.store()->loadProjectImages(state_.projectId())) {
        const QVariantMap m = v.toMap();
        if (!m["engineSelected"].toBool() && !m["userSelected"].toBool()) out.push_back(m);
    }
    return out;
}

QVariantList ReviewViews::unselectedClusterImages() const {
    if (!state_.projectOpen() || (filter_.hasAnyPart() && !filter_.hasPart(GridPart::ForReview))) return {};
    // Counted first: the moments are read (a slow query at wedding scale) only when there are frames to filter.
    if (filter_.active() && state_.store()->orphanClusterImageCount(state_.projectId()) <= 0) return {};
    QVariantList out;
    for (const char* category : {"group", "portrait", "venue"}) {
        for (const QVariant& c : state_.store()->clustersForProject(state_.projectId(), category, true)) {
            for (const QVariant& v : c.toMap()["images"].toList()) {
                QVariantMap m = v.toMap();
                const int faces = int(m.value("faceBoxes").toList().size());
                if (!passesForReview(m.value("id", -1).toInt(), m.value("filename").toString(),
                                     m.value("category").toString(), faces))
                    continue;
                putMarks(m, state_, m["filename"].toString());
                out.push_back(m);
            }
        }
    }
    sortImageMaps(out);
    return out;
}

int ReviewViews::unselectedClusterCount() const {
    // The length of unselectedClusterImages(), counted by the database
    // unless a filter picks among them: the review screen asks after every click.
    if (!state_.projectOpen()) return 0;
    if (!filter_.active()) return std::max(state_.store()->orphanClusterImageCount(state_.projectId()), 0);
    if (filter_.hasAnyPart() && !filter_.hasPart(GridPart::ForReview)) return 0;
    int count = 0;
    for (const OrphanFrame& frame : state_.store()->orphanClusterFrames(state_.projectId()))
        if (passesForReview(frame.id, frame.filename, frame.category, frame.faceCount)) ++count;
    return count;
}

QVariantList ReviewViews::currentFrames(const QVariantList& frames) const {
    QVariantList out;
    out.reserve(frames.size());
    for (const QVariant& v : frames) {
        QVariantMap m = v.toMap();
        const QString name = m.value("filename").toString();
        putMarks(m, state_, name);
        const int k = state_.indexOf(name);
        const SelectionModel::Status status = k >= 0 ? state_.images()[k].status : SelectionModel::None;
        m["status"] = int(status);
        m["userSelected"] = k >= 0 && status != SelectionModel::Removed;
        out.push_back(m);
    }
    return out;
}

QVariantMap ReviewViews::unselectedExportPreview() const {
    qint64 count = 0, bytes = 0;
    if (state_.projectOpen()) {
        for (const QVariant& v : state_.store()->unselectedImagesForProject(state_.projectId())) {
            const QFileInfo file(joinFolder(state_.inputFolder(), v.toMap()["filename"].toString()));
            if (!file.exists()) continue;
            ++count;
            bytes += file.size();
        }
    }
    return QVariantMap{{"count", int(count)}, {"sizeBytes", bytes}};
}

QVariantList ReviewViews::loadClusters(const QString& category) const {
    if (state_.outputBase().isEmpty()) return {};
    QFile file(joinFolder(joinFolder(joinFolder(state_.outputBase(), "_clusters"), category), "category_report.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    QTextStream in(&file);
    in.setEncoding(QStringConverter::Utf8);
    QVariantList out;
    QVariantMap current;
    QVariantList images;
    bool open = false;
    auto close = [&] {
        if (!open) return;
        current["images"] = images;
        out.push_back(current);
        images.clear();
    };
    while (!in.atEnd()) {
        const QString raw = in.readLine();
        const QString line = raw.trimmed();
        // (An indented image line of a file named "Cluster 2.jpg" is no cluster line.)
        const bool imageLine = raw.startsWith("  ") && raw.contains("  valid_faces=");
        if (!imageLine && line.startsWith("Cluster ")) {
            close();
            current = QVariantMap();
            const int paren = line.indexOf('(');
            const int space = line.indexOf(' ');
            current["clusterId"] = line.mid(space + 1, paren - space - 1).trimmed().toInt();
            const int sizeEnd = line.indexOf(' ', paren + 1);
            current["size"] = line.mid(paren + 1, sizeEnd - paren - 1).toInt();
            open = true;
            continue;
        }
        if (!open || !line.contains("valid_faces=")) continue;
        // An image line is two spaces, the file name (which may hold blanks),
        // two spaces and "valid_faces=": the name is everything in between,
        // and the fields are read after it only.
        const int field = raw.lastIndexOf("  valid_faces=");
        const bool wellFormed = raw.startsWith("  ") && field > 2;
        const QString name = wellFormed ? raw.mid(2, field - 2) : line.section(' ', 0, 0);
        const QString fields = wellFormed ? raw.mid(field) : line;
        const int at = fields.indexOf("valid_faces=") + 12;
        int end = at;
        while (end < fields.size() && fields[end].isDigit()) ++end;
        QString time;
        const int ct = fields.indexOf("ct=[");
        if (ct >= 0) time = fields.mid(ct + 4, fields.indexOf(']', ct + 4) - (ct + 4));
        images.push_back(QVariantMap{{"filename", name},
                                     {"validFaces", fields.mid(at, end - at).toInt()},
                                     {"isRep", fields.contains("[REP]")},
                                     {"captureTime", time},
                                     {"alreadySelected", state_.indexOf(name) >= 0}});
    }
    close();
    return out;
}

}  // namespace keepframe
