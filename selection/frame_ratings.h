// The photographer's ratings (0 to 5 stars) and colour labels of the frames of
// the open review, as the views read them and the keys change them. A frame of
// a stored project is written through the writer before its marks change here;
// a frame reopened from a project file (no image id) lives in memory only.
#pragma once

#include "frame_marks.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <optional>
#include <utility>

namespace keepframe {

class ProjectStore;

class FrameRatings {
public:
    // Stores one frame's marks; false with `error` set when it cannot.
    using Writer = std::function<bool(int imageId, const FrameMarks& marks, QString& error)>;

    // A writer into the database of a stored project, opened first when the
    // store has another one open; call it on the store's thread.
    static Writer storeWriter(ProjectStore& store, int projectId);

    void setWriter(Writer writer) { writer_ = std::move(writer); }
    // Forgets every frame (the writer stays).
    void clear();
    // Makes a frame known under its file name (relative to the input folder,
    // as the views name it); imageId -1 for a frame without a database row.
    void addFrame(const QString& filename, int imageId, const FrameMarks& marks = {});
    // Every frame of a stored project with its stored marks, written back
    // through `store` from now on. False with lastError() set when the project
    // cannot be read; the frames known before are kept then.
    bool loadFromProject(ProjectStore& store, int projectId);

    bool contains(const QString& filename) const { return frames_.contains(filename); }
    int size() const { return int(frames_.size()); }
    // None for a frame not known.
    FrameMarks marksOf(const QString& filename) const;
    // For the views: {"rating": 0 to 5, or -1 when not rated; "label": "red",
    // "yellow", "green", "blue", or "" when none}.
    QVariantMap marksMap(const QString& filename) const;

    // Each is false, with lastError() set and the frame as it was, for a frame
    // not known, a rating outside 0 to 5, or a write that failed.
    bool setRating(const QString& filename, int stars);
    bool clearRating(const QString& filename);
    bool setLabel(const QString& filename, ColorLabel label);  // None clears it
    // The label key: sets the label, or clears it when the frame has it already.
    bool pressLabel(const QString& filename, ColorLabel label);
    // Both at once, in one write: what undo and redo put back.
    bool setMarks(const QString& filename, const FrameMarks& marks);

    // The same for several frames (the checked ones of the grid), each frame
    // written on its own, in order, stopping at the first failure. The label
    // key clears the label when every one of them has it, and sets it on all
    // otherwise.
    bool setRating(const QStringList& filenames, int stars);
    bool pressLabel(const QStringList& filenames, ColorLabel label);
    // The keys editors use: 0 to 5 rate, 6 to 9 are the label keys of red,
    // yellow, green and blue. False for any other digit.
    bool pressDigit(const QStringList& filenames, int digit);

    QString lastError() const { return lastError_; }

private:
    struct Frame {
        int id = -1;
        FrameMarks marks;
    };

    bool fail(const QString& message);

    QHash<QString, Frame> frames_;
    Writer writer_;
    QString lastError_;
};

// The label of a label key (6 to 9); nothing for any other digit.
std::optional<ColorLabel> labelOfDigit(int digit);

}  // namespace keepframe
