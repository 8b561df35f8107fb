// The recurring people of the open project for the Cull page's people strip
// (PeopleModel, one row per person, the most frames first) and the writes
// that correct them (PersonEdits: naming, merging two persons, giving a face
// to another person, and taking each back). Reads and writes run off the GUI
// thread; each write is stored in one transaction.
#pragma once

#include "people.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QObject>
#include <QRectF>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <QVariant>
#include <QtQml/qqmlregistration.h>

#include <functional>

namespace keepframe {

// The one writer of persons (published to QML as the singleton PersonEdits):
// writes run in the order they were asked for, on one background thread with
// a store of its own. Each change is told with a record of it, which undo()
// takes back and redo() does again, for an undo history:
//   {"kind": "name", "projectId", "personId", "before", "after"}
//   {"kind": "merge", "projectId", "intoId", "fromId", "faceIds", "fromName", "intoNameBefore", "intoNameAfter"}
//   {"kind": "move", "projectId", "faceId", "fromPersonId", "toPersonId"}
class PersonEdits : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
public:
    explicit PersonEdits(QObject* parent = nullptr);
    // Waits for the writes under way; their ends are not told.
    ~PersonEdits() override;

    // Each starts a write and returns true, or returns false at once, with
    // nothing started, when it cannot be right (no project, a person below 0,
    // a person merged with itself). The end comes as done() or failed().
    Q_INVOKABLE bool rename(int projectId, int personId, const QString& name);
    Q_INVOKABLE bool merge(int projectId, int intoId, int fromId);
    Q_INVOKABLE bool moveFace(int projectId, int faceId, int toPersonId);
    // Takes back, or does again, the change of a record done() told; false at
    // once for a record that is none. The end comes as replayed() or failed().
    Q_INVOKABLE bool undo(const QVariantMap& record);
    Q_INVOKABLE bool redo(const QVariantMap& record);

    bool busy() const { return pending_ > 0; }
    // Blocks until every write asked for has been stored or has failed (tests, benchmarks).
    void waitForIdle();

    // The records as the store's types, and back.
    static QVariantMap mergeRecord(int projectId, const PersonMerge& merge);
    static PersonMerge mergeOf(const QVariantMap& record);
    static QVariantMap moveRecord(int projectId, const FaceMove& move);
    static FaceMove moveOf(const QVariantMap& record);

    // Points a view's writer `current` at `edits`, with `connection` (dropped
    // from the one before) calling `changed` on `receiver`'s thread at every
    // personsChanged of it; false, with nothing changed, when it already is.
    static bool follow(PersonEdits*& current, PersonEdits* edits, QMetaObject::Connection& connection,
                       QObject* receiver, const std::function<void(int projectId)>& changed);

signals:
    // A change was stored: `label` says it for an undo history ("Merge Person 5
    // into Anna"), `record` is what undo() and redo() take.
    void done(const QString& label, const QVariantMap& record);
    // The change of `record` was taken back (`undone`) or done again.
    void replayed(const QVariantMap& record, bool undone);
    void failed(const QString& message);
    // The persons of a project changed: after every stored change, undo and redo.
    void personsChanged(int projectId);
    void busyChanged();

private:
    enum class Replay { No, Undo, Redo };
    // Runs `record` (a new change, or the replay of one) in the background.
    bool start(const QVariantMap& record, Replay replay);

    QThreadPool pool_;
    int pending_ = 0;
};

// One person of the strip.
struct PeopleRow {
    PersonSummary person;
    QString faceSource;  // URL of the file the crop is cut from; empty when there is none
    QRectF faceClip;     // the crop, in pixels of that file as stored
};

class PeopleModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    // The stored project whose people are listed (-1: none, the list is empty).
    Q_PROPERTY(int projectId READ projectId WRITE setProjectId NOTIFY projectIdChanged)
    // The folder the project's file names are relative to: crops of faces too
    // small in the thumbnails are cut from the photographs there.
    Q_PROPERTY(QString imageFolder READ imageFolder WRITE setImageFolder NOTIFY imageFolderChanged)
    // The writer whose changes are shown (and through which this model writes).
    Q_PROPERTY(keepframe::PersonEdits* edits READ edits WRITE setEdits NOTIFY editsChanged)
    // Only persons seen in at least this many frames are listed (named ones always).
    Q_PROPERTY(int minimumFrames READ minimumFrames WRITE setMinimumFrames NOTIFY minimumFramesChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    // True from a change of project until its people have been read once.
    Q_PROPERTY(bool loading READ loading NOTIFY loadingChanged)
    // Why the people could not be read; empty otherwise.
    Q_PROPERTY(QString error READ error NOTIFY loadingChanged)
    // The persons checked for a merge, in the order they were checked.
    Q_PROPERTY(QVariantList checkedIds READ checkedIds NOTIFY checkedChanged)
public:
    enum Role {
        PersonIdRole = Qt::UserRole + 1,
        NameRole,         // the stored name; empty when none
        DisplayNameRole,  // the name, or "Person 3"
        FrameCountRole,
        FaceSourceRole,
        FaceClipRole,
        CheckedRole,
    };

    explicit PeopleModel(QObject* parent = nullptr);
    ~PeopleModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    int projectId() const { return projectId_; }
    void setProjectId(int projectId);
    QString imageFolder() const { return imageFolder_; }
    void setImageFolder(const QString& folder);
    PersonEdits* edits() const { return edits_; }
    void setEdits(PersonEdits* edits);
    int minimumFrames() const { return minimumFrames_; }
    void setMinimumFrames(int frames);
    int count() const { return int(rows_.size()); }
    bool loading() const { return loading_; }
    QString error() const { return error_; }
    QVariantList checkedIds() const;

    // The images in which the person appears (ascending ids), as read with the list.
    Q_INVOKABLE QVariantList imageIdsOf(int personId) const;
    QSet<int> imageIdSet(int personId) const;
    // Tells personChosen() for a listed person; false for one that is not listed.
    // The grid's person filter is meant to follow it: setPersonCriterion(personId, name, the ids as a set).
    Q_INVOKABLE bool choose(int personId);
    // The listed persons as {"personId", "displayName", "frameCount"}: the
    // choices for giving a face to another person.
    Q_INVOKABLE QVariantList choices() const;
    Q_INVOKABLE QString displayNameOf(int personId) const;

    // Writes through `edits`; false at once when there is none or no project.
    Q_INVOKABLE bool rename(int personId, const QString& name);
    // Merges the two checked persons: the one with more frames keeps its
    // number (and its name, or takes the other's). False unless exactly two are checked.
    Q_INVOKABLE bool mergeChecked();
    Q_INVOKABLE void toggleChecked(int personId);
    Q_INVOKABLE void clearChecked();
    // Reads the people again.
    Q_INVOKABLE void reload();

    // What a read of a project gives (runs on any thread with a store of its own; tests, benchmarks).
    struct Loaded {
        QList<PeopleRow> rows;
        QHash<int, QList<int>> images;
        QString error;
    };
    static Loaded read(int projectId, const QString& imageFolder, int minimumFrames);
    // The crop of a person's face: from the thumbnail when the face is at
    // least kMinCropSide pixels wide there, otherwise from the photograph.
    static PeopleRow cropOf(const PersonSummary& person, const QString& projectFolder, const QString& imageFolder);
    static constexpr int kMinCropSide = 48;

signals:
    void projectIdChanged();
    void imageFolderChanged();
    void editsChanged();
    void minimumFramesChanged();
    void countChanged();
    void loadingChanged();
    void checkedChanged();
    // A person was chosen: `name` as shown, `imageIds` the images they appear in.
    void personChosen(int personId, const QString& name, const QVariantList& imageIds);
    // The people of a project were read and are shown (also after a change).
    void loaded();

private:
    int rowOf(int personId) const;
    void apply(const Loaded& result);

    int projectId_ = -1;
    QString imageFolder_;
    PersonEdits* edits_ = nullptr;
    QMetaObject::Connection editsConnection_;
    int minimumFrames_ = 2;
    bool loading_ = false;
    QString error_;
    QList<PeopleRow> rows_;
    QHash<int, QList<int>> images_;
    QList<int> checked_;
    // The read under way answers only while it is the latest one.
    int serial_ = 0;
    QThreadPool pool_;
};

}  // namespace keepframe
