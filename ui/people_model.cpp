#include "people_model.h"

#include "path_safety.h"
#include "project_store.h"
#include "view_logic.h"

#include <QCoreApplication>
#include <QImageReader>
#include <QPointer>
#include <QUrl>

#include <algorithm>

namespace keepframe {

namespace {

const QString kName = QStringLiteral("name");
const QString kMerge = QStringLiteral("merge");
const QString kMove = QStringLiteral("move");

QVariantList idList(const QList<int>& ids) {
    QVariantList out;
    out.reserve(ids.size());
    for (int id : ids) out.append(id);
    return out;
}

struct Outcome {
    bool ok = false;
    QString label;
    QVariantMap record;
    QString error;
};

// A new change stored, with the record that takes it back.
Outcome change(ProjectStore& store, const QVariantMap& asked) {
    Outcome out;
    out.record = asked;
    const int project = asked["projectId"].toInt();
    const QString kind = asked["kind"].toString();
    const QHash<int, QString> names = store.personNames(project);
    if (!store.lastError().isEmpty()) return out;
    const auto shown = [&](int person) {
        return person < 0 ? QStringLiteral("nobody") : personDisplayName(person, names.value(person));
    };
    if (kind == kName) {
        const int person = asked["personId"].toInt();
        const QString after = cleanPersonName(asked["after"].toString());
        out.ok = store.setPersonName(project, person, after);
        out.record["before"] = names.value(person);
        out.record["after"] = after;
        out.label = after.isEmpty() ? "Take the name of " + shown(person)
                                    : "Name " + shown(person) + QStringLiteral(" “") + after + QStringLiteral("”");
    } else if (kind == kMerge) {
        const int into = asked["intoId"].toInt(), from = asked["fromId"].toInt();
        if (const auto merge = store.mergePersons(project, into, from)) {
            out.ok = true;
            out.record = PersonEdits::mergeRecord(project, *merge);
            out.label = "Merge " + shown(from) + " into " + shown(into);
        }
    } else if (kind == kMove) {
        const int to = asked["toPersonId"].toInt();
        if (const auto move = store.moveFace(project, asked["faceId"].toInt(), to)) {
            out.ok = true;
            out.record = PersonEdits::moveRecord(project, *move);
            out.label = to < 0 ? QStringLiteral("Take a face from ") + shown(move->fromPersonId)
                               : "Give a face of " + shown(move->fromPersonId) + " to " + shown(to);
        }
    }
    return out;
}

// A stored change taken back (`undo`) or done again.
bool replay(ProjectStore& store, const QVariantMap& record, bool undo) {
    const int project = record["projectId"].toInt();
    const QString kind = record["kind"].toString();
    if (kind == kName)
        return store.setPersonName(project, record["personId"].toInt(),
                                   record[undo ? "before" : "after"].toString());
    if (kind == kMerge) {
        const PersonMerge merge = PersonEdits::mergeOf(record);
        return undo ? store.undoMerge(project, merge) : store.redoMerge(project, merge);
    }
    const FaceMove move = PersonEdits::moveOf(record);
    return undo ? store.undoFaceMove(project, move) : store.redoFaceMove(project, move);
}

bool wellFormed(const QVariantMap& record) {
    const QString kind = record["kind"].toString();
    if (record.value("projectId", -1).toInt() < 0) return false;
    if (kind == kName) return record.value("personId", -1).toInt() >= 0;
    if (kind == kMerge) {
        const int into = record.value("intoId", -1).toInt(), from = record.value("fromId", -1).toInt();
        return into >= 0 && from >= 0 && into != from;
    }
    if (kind == kMove) return record.value("faceId", -1).toInt() >= 0 && record.value("toPersonId", -2).toInt() >= -1;
    return false;
}

}  // namespace

PersonEdits::PersonEdits(QObject* parent) : QObject(parent) { pool_.setMaxThreadCount(1); }

PersonEdits::~PersonEdits() { pool_.waitForDone(); }

bool PersonEdits::follow(PersonEdits*& current, PersonEdits* edits, QMetaObject::Connection& connection,
                         QObject* receiver, const std::function<void(int projectId)>& changed) {
    if (edits == current) return false;
    disconnect(connection);
    current = edits;
    if (current) connection = connect(current, &PersonEdits::personsChanged, receiver, changed);
    return true;
}

bool PersonEdits::rename(int projectId, int personId, const QString& name) {
    return start({{"kind", kName}, {"projectId", projectId}, {"personId", personId}, {"after", name}}, Replay::No);
}

bool PersonEdits::merge(int projectId, int intoId, int fromId) {
    return start({{"kind", kMerge}, {"projectId", projectId}, {"intoId", intoId}, {"fromId", fromId}}, Replay::No);
}

bool PersonEdits::moveFace(int projectId, int faceId, int toPersonId) {
    return start({{"kind", kMove}, {"projectId", projectId}, {"faceId", faceId}, {"toPersonId", toPersonId}},
                 Replay::No);
}

bool PersonEdits::undo(const QVariantMap& record) { return start(record, Replay::Undo); }

bool PersonEdits::redo(const QVariantMap& record) { return start(record, Replay::Redo); }

bool PersonEdits::start(const QVariantMap& record, Replay how) {
    if (!wellFormed(record)) return false;
    ++pending_;
    if (pending_ == 1) emit busyChanged();
    QPointer<PersonEdits> self(this);
    pool_.start([self, record, how] {
        Outcome out;
        {
            // A store of this thread: its connections belong to the thread that made them.
            ProjectStore store;
            if (!store.openRegistry()) {
                out.error = store.lastError();
            } else if (how == Replay::No) {
                out = change(store, record);
            } else {
                out.record = record;
                out.ok = replay(store, record, how == Replay::Undo);
            }
            if (!out.ok && out.error.isEmpty()) out.error = store.lastError();
        }
        QMetaObject::invokeMethod(
            self.data(),
            [self, out, how] {
                if (!self) return;
                --self->pending_;
                const int project = out.record["projectId"].toInt();
                if (!out.ok) emit self->failed(out.error);
                else if (how == Replay::No) emit self->done(out.label, out.record);
                else emit self->replayed(out.record, how == Replay::Undo);
                // Also after a failure: what is shown follows what is stored.
                emit self->personsChanged(project);
                if (self->pending_ == 0) emit self->busyChanged();
            },
            Qt::QueuedConnection);
    });
    return true;
}

void PersonEdits::waitForIdle() {
    pool_.waitForDone();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

QVariantMap PersonEdits::mergeRecord(int projectId, const PersonMerge& merge) {
    return {{"kind", kMerge},
            {"projectId", projectId},
            {"intoId", merge.intoId},
            {"fromId", merge.fromId},
            {"faceIds", idList(merge.faceIds)},
            {"fromName", merge.fromName},
            {"intoNameBefore", merge.intoNameBefore},
            {"intoNameAfter", merge.intoNameAfter}};
}

PersonMerge PersonEdits::mergeOf(const QVariantMap& record) {
    PersonMerge m;
    m.intoId = record.value("intoId", -1).toInt();
    m.fromId = record.value("fromId", -1).toInt();
    for (const QVariant& id : record["faceIds"].toList()) m.faceIds.append(id.toInt());
    m.fromName = record["fromName"].toString();
    m.intoNameBefore = record["intoNameBefore"].toString();
    m.intoNameAfter = record["intoNameAfter"].toString();
    return m;
}

QVariantMap PersonEdits::moveRecord(int projectId, const FaceMove& move) {
    return {{"kind", kMove},
            {"projectId", projectId},
            {"faceId", move.faceId},
            {"fromPersonId", move.fromPersonId},
            {"toPersonId", move.toPersonId}};
}

FaceMove PersonEdits::moveOf(const QVariantMap& record) {
    FaceMove m;
    m.faceId = record.value("faceId", -1).toInt();
    m.fromPersonId = record.value("fromPersonId", -1).toInt();
    m.toPersonId = record.value("toPersonId", -1).toInt();
    return m;
}

PeopleModel::PeopleModel(QObject* parent) : QAbstractListModel(parent) { pool_.setMaxThreadCount(1); }

PeopleModel::~PeopleModel() { pool_.waitForDone(); }

int PeopleModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

QVariant PeopleModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_.size()) return {};
    const PeopleRow& row = rows_[index.row()];
    switch (role) {
    case PersonIdRole: return row.person.personId;
    case NameRole: return row.person.name;
    case Qt::DisplayRole:
    case DisplayNameRole: return personDisplayName(row.person.personId, row.person.name);
    case FrameCountRole: return row.person.frameCount;
    case FaceSourceRole: return row.faceSource;
    case FaceClipRole: return row.faceClip;
    case CheckedRole: return checked_.contains(row.person.personId);
    default: return {};
    }
}

QHash<int, QByteArray> PeopleModel::roleNames() const {
    return {{PersonIdRole, "personId"},     {NameRole, "name"},           {DisplayNameRole, "displayName"},
            {FrameCountRole, "frameCount"}, {FaceSourceRole, "faceSource"}, {FaceClipRole, "faceClip"},
            {CheckedRole, "checked"}};
}

void PeopleModel::setProjectId(int projectId) {
    if (projectId == projectId_) return;
    projectId_ = projectId;
    emit projectIdChanged();
    clearChecked();
    reload();
}

void PeopleModel::setImageFolder(const QString& folder) {
    if (folder == imageFolder_) return;
    imageFolder_ = folder;
    emit imageFolderChanged();
    if (projectId_ >= 0) reload();
}

void PeopleModel::setEdits(PersonEdits* edits) {
    const auto changed = [this](int projectId) {
        if (projectId == projectId_) reload();
    };
    if (PersonEdits::follow(edits_, edits, editsConnection_, this, changed)) emit editsChanged();
}

void PeopleModel::setMinimumFrames(int frames) {
    frames = std::max(1, frames);
    if (frames == minimumFrames_) return;
    minimumFrames_ = frames;
    emit minimumFramesChanged();
    reload();
}

QVariantList PeopleModel::checkedIds() const { return idList(checked_); }

void PeopleModel::reload() {
    const int serial = ++serial_;
    if (projectId_ < 0) {
        apply({});
        return;
    }
    if (!loading_ && rows_.isEmpty()) {
        loading_ = true;
        emit loadingChanged();
    }
    QPointer<PeopleModel> self(this);
    pool_.start([self, serial, projectId = projectId_, folder = imageFolder_, minimum = minimumFrames_] {
        const Loaded result = read(projectId, folder, minimum);
        QMetaObject::invokeMethod(
            self.data(),
            [self, serial, result] {
                if (self && serial == self->serial_) self->apply(result);
            },
            Qt::QueuedConnection);
    });
}

void PeopleModel::apply(const Loaded& result) {
    const int before = count();
    beginResetModel();
    rows_ = result.rows;
    images_ = result.images;
    endResetModel();
    // Checked persons that are gone (merged) are no longer checked.
    const qsizetype checked = checked_.size();
    checked_.removeIf([this](int id) { return rowOf(id) < 0; });
    if (checked_.size() != checked) emit checkedChanged();
    if (count() != before) emit countChanged();
    error_ = result.error;
    loading_ = false;
    emit loadingChanged();
    emit loaded();
}

PeopleModel::Loaded PeopleModel::read(int projectId, const QString& imageFolder, int minimumFrames) {
    Loaded out;
    ProjectStore store;
    if (!store.openRegistry()) {
        out.error = store.lastError();
        return out;
    }
    const QList<PersonSummary> persons = store.persons(projectId);
    if (store.lastError().isEmpty()) out.images = store.imagesByPerson(projectId);
    if (!store.lastError().isEmpty()) {
        out.error = store.lastError();
        out.images.clear();
        return out;
    }
    const QString projectFolder = store.projectFolder();
    for (const PersonSummary& p : persons)
        if (p.frameCount >= minimumFrames || !p.name.isEmpty()) out.rows.append(cropOf(p, projectFolder, imageFolder));
    return out;
}

PeopleRow PeopleModel::cropOf(const PersonSummary& person, const QString& projectFolder, const QString& imageFolder) {
    PeopleRow row;
    row.person = person;
    const QRect box = person.faceBox;
    if (box.width() <= 0 || box.height() <= 0 || person.fullW <= 0 || person.fullH <= 0) return row;
    // A square around the face with room for the hair and the chin.
    const int side = std::max(box.width(), box.height()) * 3 / 2;
    const int cx = box.x() + box.width() / 2, cy = box.y() + box.height() / 2;
    const QRect square = QRect(cx - side / 2, cy - side / 2, side, side)
                             .intersected(QRect(0, 0, person.fullW, person.fullH));
    if (square.isEmpty()) return row;
    // The thumbnail is upright, like the boxes.
    const QString thumb = pathInside(projectFolder, person.faceThumbPath);
    const QSize thumbSize = thumb.isEmpty() ? QSize() : QImageReader(thumb).size();
    if (thumbSize.isValid()) {
        const double sx = double(thumbSize.width()) / person.fullW, sy = double(thumbSize.height()) / person.fullH;
        if (box.width() * sx >= kMinCropSide) {
            row.faceSource = QUrl::fromLocalFile(thumb).toString();
            row.faceClip = QRectF(square.x() * sx, square.y() * sy, square.width() * sx, square.height() * sy);
            return row;
        }
    }
    const QString original = pathInside(imageFolder, person.faceFilename);
    if (original.isEmpty()) return row;
    row.faceSource = QUrl::fromLocalFile(original).toString();
    row.faceClip = ViewLogic::faceCropRect(QVariantList{square.x(), square.y(), square.width(), square.height()},
                                           person.fullW, person.fullH, person.orientation);
    return row;
}

int PeopleModel::rowOf(int personId) const {
    for (int i = 0; i < rows_.size(); ++i)
        if (rows_[i].person.personId == personId) return i;
    return -1;
}

QVariantList PeopleModel::imageIdsOf(int personId) const { return idList(images_.value(personId)); }

QSet<int> PeopleModel::imageIdSet(int personId) const {
    const QList<int> ids = images_.value(personId);
    return QSet<int>(ids.begin(), ids.end());
}

bool PeopleModel::choose(int personId) {
    const int row = rowOf(personId);
    if (row < 0) return false;
    emit personChosen(personId, personDisplayName(personId, rows_[row].person.name), imageIdsOf(personId));
    return true;
}

QVariantList PeopleModel::choices() const {
    QVariantList out;
    for (const PeopleRow& r : rows_)
        out.append(QVariantMap{{"personId", r.person.personId},
                               {"displayName", personDisplayName(r.person.personId, r.person.name)},
                               {"frameCount", r.person.frameCount}});
    return out;
}

QString PeopleModel::displayNameOf(int personId) const {
    const int row = rowOf(personId);
    return personDisplayName(personId, row < 0 ? QString() : rows_[row].person.name);
}

bool PeopleModel::rename(int personId, const QString& name) {
    return edits_ && projectId_ >= 0 && edits_->rename(projectId_, personId, name);
}

bool PeopleModel::mergeChecked() {
    if (!edits_ || projectId_ < 0 || checked_.size() != 2) return false;
    // The rows are in order of frames: the first one listed keeps its number.
    int into = checked_[0], from = checked_[1];
    if (rowOf(from) < rowOf(into)) std::swap(into, from);
    if (!edits_->merge(projectId_, into, from)) return false;
    clearChecked();
    return true;
}

void PeopleModel::toggleChecked(int personId) {
    const int row = rowOf(personId);
    if (row < 0) return;
    if (!checked_.removeOne(personId)) checked_.append(personId);
    emit dataChanged(index(row), index(row), {CheckedRole});
    emit checkedChanged();
}

void PeopleModel::clearChecked() {
    if (checked_.isEmpty()) return;
    const QList<int> was = checked_;
    checked_.clear();
    for (int id : was) {
        const int row = rowOf(id);
        if (row >= 0) emit dataChanged(index(row), index(row), {CheckedRole});
    }
    emit checkedChanged();
}

}  // namespace keepframe
