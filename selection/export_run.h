// One export of the project's images into a folder outside the project: the
// rule both the final export and the export of edited versions follow.
#pragma once

#include <QSet>
#include <QString>
#include <QVariantList>

namespace keepframe {

// A copy never replaces a file of the input folder (a photograph of the
// shoot), a file written earlier in the same export, a link or a folder: such
// a name gets a number instead ("name (2).jpg"). Copies are complete before
// they carry their name. What is left out is named, with the reason.
class ExportRun {
public:
    // What becomes of a file that an earlier export left outside the input folder.
    enum class Earlier { Replace, Keep };

    ExportRun(const QString& inputFolder, Earlier earlier);

    // Copies the image named `filename` (relative to the input folder) into
    // `folder`; `written` receives the path of the copy.
    bool copy(const QString& filename, const QString& folder, QString* written = nullptr);
    // Copies `source`, a version of the image named `filename`, into `folder`
    // under the image's own name.
    bool copyVersion(const QString& source, const QString& filename, const QString& folder,
                     QString* written = nullptr);

    // How many images were left alone because the target was the source itself.
    int inPlace() const { return inPlace_; }
    // {"file", "reason"} for each image left out.
    const QVariantList& skipped() const { return skipped_; }

private:
    // `inPlace` marks a target that is the photograph itself.
    bool skip(const QString& filename, const QString& reason, bool inPlace = false);
    bool taken(const QString& target, bool inShoot) const;

    QString input_;
    Earlier earlier_;
    QSet<QString> written_;
    QVariantList skipped_;
    int inPlace_ = 0;
};

}  // namespace keepframe
