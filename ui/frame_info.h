// What the viewer and the compare view tell about one frame (published to QML
// as FrameInfo, one per panel): when and how large it was taken, its moment,
// whether it is kept and why, its final score, and the measures of the cull
// in words and numbers. The measures are read from the project in the
// background; the rows from the frame's own map show at once.
#pragma once

#include "people_model.h"

#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QVariant>
#include <QtQml/qqmlregistration.h>

namespace keepframe {

class ProjectStore;

class FrameInfo : public QObject {
    Q_OBJECT
    QML_ELEMENT
    // The frame as the views hand it over (a grid item or a frame of a moment).
    Q_PROPERTY(QVariantMap frame READ frame WRITE setFrame NOTIFY frameChanged)
    // The stored project the frame belongs to (-1: none, the measures stay unread).
    Q_PROPERTY(int projectId READ projectId WRITE setProjectId NOTIFY frameChanged)
    // Whether the rows are wanted: nothing is read while the panel is hidden.
    Q_PROPERTY(bool active READ active WRITE setActive NOTIFY frameChanged)
    // {"label", "value"} in the order shown; a row with an empty value is a heading.
    Q_PROPERTY(QVariantList rows READ rows NOTIFY rowsChanged)
    // The measures of this frame have been read.
    Q_PROPERTY(bool measured READ measured NOTIFY rowsChanged)
    // The faces of the frame with their persons, once read: {"faceId", "personId"
    // (-1: nobody), "displayName" ("Anna", "Person 3" or empty for nobody)}.
    Q_PROPERTY(QVariantList faces READ faces NOTIFY rowsChanged)
    // The persons a face can be given to: {"personId", "displayName"}, the
    // most frames first (those of the strip and those on this frame), then
    // nobody (-1).
    Q_PROPERTY(QVariantList personChoices READ personChoices NOTIFY rowsChanged)
    // The writer of persons: its changes are read again, and faces are given through it.
    Q_PROPERTY(keepframe::PersonEdits* edits READ edits WRITE setEdits NOTIFY frameChanged)
public:
    explicit FrameInfo(QObject* parent = nullptr);
    ~FrameInfo() override;

    QVariantMap frame() const { return frame_; }
    void setFrame(const QVariantMap& frame);
    int projectId() const { return projectId_; }
    void setProjectId(int projectId);
    bool active() const { return active_; }
    void setActive(bool active);
    QVariantList rows() const { return rows_; }
    bool measured() const { return measured_; }
    QVariantList faces() const { return measures_.value("faces").toList(); }
    QVariantList personChoices() const { return measures_.value("personChoices").toList(); }
    PersonEdits* edits() const { return edits_; }
    void setEdits(PersonEdits* edits);

    // Gives a face of the frame to another person (-1: nobody) through `edits`;
    // false at once without a writer or a stored project.
    Q_INVOKABLE bool moveFace(int faceId, int toPersonId);
    // What the rows need of the frame's faces: "faces" and "personChoices"
    // as the properties give them (runs on any thread with a store of its own).
    static QVariantMap readPeople(ProjectStore& store, int projectId, int imageId);

    // The rows for a frame and its stored measures (an empty map: not read yet).
    static QVariantList rowsFor(const QVariantMap& frame, const QVariantMap& measures);
    // Why the cull kept a frame or not, from its stored reason, in words.
    Q_INVOKABLE static QString reasonText(const QString& reason, bool engineSelected);
    // "final score 0.62", or "not scored" for a frame the cull did not pick.
    Q_INVOKABLE static QString scoreText(double score, bool engineSelected);
    // "eyes sharp (772)", "eyes soft (210)", "no eyes measured".
    Q_INVOKABLE static QString eyeText(double eyeSharpness);
    // The measures in words followed by their numbers.
    static QString exposureText(double exposure);
    static QString sharpnessText(double sharpness);
    static QString expressionText(double expression);
    // Why a detection was not taken as a face ("too small" for "small_area").
    static QString rejectionText(const QString& reason);

signals:
    void frameChanged();
    void rowsChanged();

private:
    // After a change of the frame, the project or the panel's showing: the
    // measures read before are forgotten when they are another frame's.
    void changed(bool otherFrame);
    void refresh();
    PersonEdits* edits_ = nullptr;
    QMetaObject::Connection editsConnection_;

    QVariantMap frame_;
    QVariantMap measures_;
    int projectId_ = -1;
    bool active_ = false;
    bool measured_ = false;
    QVariantList rows_;
    // The read under way answers only while it is the latest one.
    int serial_ = 0;
    QThreadPool pool_;
};

}  // namespace keepframe
