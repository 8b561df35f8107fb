// Texts and small calculations of the review screens, shared by every page
// (published to QML as the singleton ViewLogic). Nothing here keeps state.
#pragma once

#include <QObject>
#include <QRect>
#include <QString>
#include <QVariant>
#include <QtQml/qqmlregistration.h>

namespace keepframe {

class ViewLogic : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
public:
    explicit ViewLogic(QObject* parent = nullptr) : QObject(parent) {}

    // "1h 2m 3s", "2m 3s", "3s"; "—" when `seconds` is not a number.
    Q_INVOKABLE static QString elapsedText(const QVariant& seconds);
    // "0 B", "512 B", "1.5 KB" … up to TB.
    Q_INVOKABLE static QString sizeText(qint64 bytes);
    // The progress line of a running cull: message, three blanks, rounded percent.
    Q_INVOKABLE static QString progressText(int percent, const QString& message);
    // "Selected 12 of 40   V:3 P:7 G:2    ·    Culled in 1m 5s" for a cull summary.
    Q_INVOKABLE static QString summaryText(const QVariantMap& summary);
    // The question before an export that also copies the unselected images.
    Q_INVOKABLE static QString unselectedExportQuestion(int count, qint64 sizeBytes);
    // What an export did, for the result dialog.
    Q_INVOKABLE static QString exportResultText(int selected, int unselected, bool byCategory,
                                                bool includeUnselected);
    // exportResultText for an export's result map, followed, when images were
    // left out, by "Not copied: N" and a short list of them with the reasons.
    // An export that was stopped says so first, with the files it did not
    // reach; kept frames a mark filter left out are counted.
    Q_INVOKABLE static QString exportReportText(const QVariantMap& result, bool byCategory, bool includeUnselected);
    // "2 files skipped · 1 damaged" for a cull summary's "skipped" and
    // "damaged" lists; empty when both are empty.
    Q_INVOKABLE static QString leftOutNote(const QVariantMap& summary);
    // Every file of that note as {"file", "reason"}: the skipped ones first.
    Q_INVOKABLE static QVariantList leftOutFiles(const QVariantMap& summary);
    // The counts of a sidecar run, "4 written · 1 merged · …", or its error.
    Q_INVOKABLE static QString xmpResultText(const QVariantMap& result);
    // The photographs a sidecar run failed on or skipped, as {"file", "reason"},
    // the failed ones first.
    Q_INVOKABLE static QVariantList xmpProblemFiles(const QVariantMap& result);
    // "Project loaded." with a note on the images the reopened file could not find.
    Q_INVOKABLE static QString projectLoadedText(int skipped);
    // The question when a reopened project's input folder has gone.
    Q_INVOKABLE static QString movedFolderText(const QString& savedInput);
    // The cluster link of a thumbnail, such as "PC10(50)"; empty for a single-frame cluster.
    Q_INVOKABLE static QString clusterLinkText(const QString& category, int clusterNumber, int imageCount);
    // The part of a relative file name after its last "/" or "\".
    Q_INVOKABLE static QString baseName(const QString& filename);
    // A local path for a folder the UI holds as a path or a file URL.
    Q_INVOKABLE static QString localPath(const QString& pathOrUrl);
    // The file URL of a local path ("" for an empty path).
    Q_INVOKABLE static QString fileUrl(const QString& path);
    // The file URL of an image below the input folder (backslashes made "/").
    Q_INVOKABLE static QString originalUrl(const QString& inputFolder, const QString& filename);
    // The grid's picture of an image: its thumbnail when it has one, else the original.
    Q_INVOKABLE static QString thumbnailSource(const QString& thumbUrl, const QString& inputFolder,
                                               const QString& filename);
    // The folder a cull writes into: the input folder with "_culled" appended.
    Q_INVOKABLE static QString autoOutputFolder(const QString& inputFolder);
    // A face box in upright full-resolution pixels as a rectangle of the file
    // as stored on disk, for an EXIF orientation (6, 8 and 3 turn it).
    Q_INVOKABLE static QRectF faceCropRect(const QVariant& box, int uprightWidth, int uprightHeight,
                                           int orientation);
    // The index of the first map in `list` whose `key` holds `value` (numbers
    // compare by value, whatever their type), or -1.
    Q_INVOKABLE static int indexOfEntry(const QVariantList& list, const QString& key, const QVariant& value);
    // "s" unless n is 1.
    Q_INVOKABLE static QString plural(int n);

    // A project's creation date as a card shows it, "Jun 15, 2024", from the
    // stored ISO date-time; the stored text itself when it is not a date.
    Q_INVOKABLE static QString projectDateText(const QString& createdAt);
    // The line under a card's name: "Jun 15, 2024  ·  120 photos  ·  40 selected".
    Q_INVOKABLE static QString projectCardLine(const QString& createdAt, int totalImages, int selected);
    // The question before a project leaves the library.
    Q_INVOKABLE static QString deleteProjectQuestion(const QString& name);
    // The label of a running enhancement batch: "Enhance  3 / 20", "Enhance Plus  3 / 20".
    Q_INVOKABLE static QString enhanceProgressText(bool plus, int done, int total);
    // What an export of the enhanced images copied, for its result dialog.
    Q_INVOKABLE static QString enhancedExportText(int enhanced, int plus);
    // The photographs a batch could not correct, by name (the first ten, then how many more).
    Q_INVOKABLE static QString enhanceFailureText(const QStringList& names);
    // "Kept 16 · removed 3 since the cull" from SelectionModel::liveCounts
    // (with "· added 2" when frames were added; "no changes" when neither).
    Q_INVOKABLE static QString liveCountText(const QVariantMap& counts);
    // The label of a running export: "Exporting 120 of 300…".
    Q_INVOKABLE static QString exportProgressText(int done, int total);
    // The export's choice of kept frames by their marks: "All kept", "★3+ or label", "★3+", "Labelled".
    Q_INVOKABLE static QString markFilterText(int minStars, bool labelled);
};

}  // namespace keepframe
