// Project files: the open review saved to a JSON file the photographer keeps
// anywhere, and opened again in two steps (read, then applied to a possibly
// moved shoot folder).
#pragma once

#include <QJsonObject>
#include <QStringList>
#include <QVariant>

namespace keepframe {

class ReviewState;

class ProjectFiles {
public:
    explicit ProjectFiles(ReviewState& state) : state_(state) {}

    // Writes the open review, with each frame's stars and label, to `pathIn`
    // (a path or a file URL); false, with any earlier file left as it was,
    // when it cannot.
    bool saveProject(const QString& pathIn);
    // Reads a project file and keeps it for applyPendingProject: {"ok": true,
    // "savedInput", "savedOutput", "inputExists", "outputExists"}, or {"ok":
    // false, "error"} with nothing kept.
    QVariantMap openProjectFile(const QString& pathIn);
    // Replaces the open review by the file read last, its images found in
    // `inputFolderOverride` (the saved folder when empty); returns the number
    // of images whose file is missing there (left out), or -1 when no file
    // was read. The stored project of the same shoot, if any, becomes the open one.
    int applyPendingProject(const QString& inputFolderOverride);

private:
    // The id of the stored project culled from one of these folders, or -1.
    int storedProjectOf(const QStringList& inputFolders) const;

    ReviewState& state_;
    QJsonObject pending_;
};

}  // namespace keepframe
