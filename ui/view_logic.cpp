#include "view_logic.h"

#include "category.h"

#include "project_file.h"

#include <QDateTime>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace keepframe {

namespace {

// The first ten lines as bullets, then how many more there are.
QString bulletList(const QStringList& lines) {
    constexpr qsizetype shown = 10;
    QString text;
    for (qsizetype i = 0; i < std::min(shown, lines.size()); ++i) text += "\n• " + lines[i];
    if (lines.size() > shown) text += "\n…and " + QString::number(lines.size() - shown) + " more";
    return text;
}

QVariantMap fileRow(const QString& file, const QString& reason) {
    return QVariantMap{{"file", file}, {"reason", reason}};
}

bool isNumber(const QVariant& v) {
    switch (v.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float: return true;
    default: return false;
    }
}

// Numbers by value; anything else only as the same type ("7" is not 7).
bool sameValue(const QVariant& a, const QVariant& b) {
    if (isNumber(a) && isNumber(b)) return a.toDouble() == b.toDouble();
    return a.isValid() && a.metaType() == b.metaType() && a == b;
}

}  // namespace

QString ViewLogic::plural(int n) { return n == 1 ? QString() : QStringLiteral("s"); }

QString ViewLogic::elapsedText(const QVariant& seconds) {
    bool ok = false;
    const double value = seconds.isValid() && !seconds.isNull() ? seconds.toDouble(&ok) : 0.0;
    if (!ok || !std::isfinite(value)) return QStringLiteral("—");
    const qint64 total = std::max<qint64>(0, std::llround(value));
    const qint64 h = total / 3600, m = (total % 3600) / 60, s = total % 60;
    QString text;
    if (h > 0) text += QString::number(h) + "h ";
    if (h > 0 || m > 0) text += QString::number(m) + "m ";
    return text + QString::number(s) + "s";
}

QString ViewLogic::sizeText(qint64 bytes) {
    if (bytes <= 0) return QStringLiteral("0 B");
    static const char* const units[] = {"B", "KB", "MB", "GB", "TB"};
    const int unit = std::min(4, int(std::floor(std::log(double(bytes)) / std::log(1024.0))));
    if (unit == 0) return QString::number(bytes) + " B";
    return QString::number(double(bytes) / std::pow(1024.0, unit), 'f', 1) + " " + units[unit];
}

QString ViewLogic::progressText(int percent, const QString& message) {
    return message + "   " + QString::number(percent) + "%";
}

QString ViewLogic::summaryText(const QVariantMap& s) {
    return "Selected " + QString::number(s.value("totalSelected").toInt()) + " of " +
           QString::number(s.value("totalInput").toInt()) + "   V:" + QString::number(s.value("venue").toInt()) +
           " P:" + QString::number(s.value("portrait").toInt()) + " G:" + QString::number(s.value("group").toInt()) +
           "    ·    Culled in " + elapsedText(s.value("elapsedSeconds"));
}

QString ViewLogic::unselectedExportQuestion(int count, qint64 sizeBytes) {
    return "This will also copy " + QString::number(count) + " unselected image" + plural(count) + " (" +
           sizeText(sizeBytes) +
           ") to a separate 'unselected' folder. This may take a while and use significant disk space.\n\nContinue?";
}

QString ViewLogic::exportResultText(int selected, int unselected, bool byCategory, bool includeUnselected) {
    QString text = "Exported " + QString::number(selected) + " image" + plural(selected) +
                   " to a 'final_selection' folder";
    if (byCategory) text += " (organized by category)";
    text += selected > 0 ? QStringLiteral(".") : QStringLiteral(" (nothing to export).");
    if (includeUnselected)
        text += "\n\nAlso exported " + QString::number(unselected) + " unselected image" + plural(unselected) +
                " to an 'unselected' folder.";
    return text;
}

QString ViewLogic::exportReportText(const QVariantMap& result, bool byCategory, bool includeUnselected) {
    QString text = exportResultText(result.value("selected").toInt(), result.value("unselected").toInt(), byCategory,
                                    includeUnselected);
    if (result.value("stopped").toBool()) {
        const int left = result.value("notCopied").toInt();
        text = "The export was stopped: " + QString::number(left) + " file" + plural(left) +
               " not copied. Every copy made is complete.\n\n" + text;
    }
    const int filtered = result.value("filteredOut").toInt();
    if (filtered > 0)
        text += "\n\n" + QString::number(filtered) + " kept image" + plural(filtered) +
                " without the chosen rating or label " + (filtered == 1 ? "was" : "were") + " left out.";
    const QVariantList skipped = result.value("skipped").toList();
    if (skipped.isEmpty()) return text;
    QStringList lines;
    for (const QVariant& v : skipped) {
        const QVariantMap row = v.toMap();
        const QString reason = row.value("inPlace").toBool()
                                   ? QStringLiteral("already there — the target is the photograph itself")
                                   : row.value("reason").toString();
        lines << row.value("file").toString() + " — " + reason;
    }
    return text + "\n\nNot copied: " + QString::number(skipped.size()) + bulletList(lines);
}

QString ViewLogic::leftOutNote(const QVariantMap& summary) {
    const int skipped = int(summary.value("skipped").toList().size());
    const int damaged = int(summary.value("damaged").toList().size());
    QStringList parts;
    if (skipped > 0) parts << QString::number(skipped) + " file" + plural(skipped) + " skipped";
    if (damaged > 0) parts << QString::number(damaged) + " damaged";
    return parts.join(" · ");
}

QVariantList ViewLogic::leftOutFiles(const QVariantMap& summary) {
    QVariantList rows;
    for (const QVariant& v : summary.value("skipped").toList()) {
        const QVariantMap row = v.toMap();
        rows << fileRow(row.value("file").toString(), row.value("reason").toString());
    }
    for (const QVariant& name : summary.value("damaged").toList())
        rows << fileRow(name.toString(), QStringLiteral("damaged: the decoder reported corrupt or truncated data"));
    return rows;
}

QString ViewLogic::xmpResultText(const QVariantMap& r) {
    const QString error = r.value("error").toString();
    if (!error.isEmpty()) return error;
    auto count = [&](const char* key) { return QString::number(r.value(key).toInt()) + " " + key; };
    return count("written") + " · " + count("merged") + " · " + count("unchanged") + " · " + count("removed") +
           "\n" + count("shared") + " · " + count("skipped") + " · " + count("failed");
}

QVariantList ViewLogic::xmpProblemFiles(const QVariantMap& result) {
    QVariantList failed, skipped;
    for (const QVariant& v : result.value("notes").toList()) {
        const QVariantMap note = v.toMap();
        const QString outcome = note.value("outcome").toString();
        if (outcome != "failed" && outcome != "skipped") continue;
        (outcome == "failed" ? failed : skipped)
            << fileRow(note.value("file").toString(), outcome + ": " + note.value("reason").toString());
    }
    return failed + skipped;
}

QString ViewLogic::projectLoadedText(int skipped) {
    QString text = QStringLiteral("Project loaded.");
    if (skipped > 0) {
        const QString verb = skipped == 1 ? QStringLiteral("was") : QStringLiteral("were");
        text += "\n\nNote: " + QString::number(skipped) + " image" + plural(skipped) + " from the saved project " +
                verb + " not found in the input folder and " + verb + " skipped.";
    }
    return text;
}

QString ViewLogic::movedFolderText(const QString& savedInput) {
    return "The input folder saved with this project was not found:\n\n" + savedInput +
           "\n\nIf you moved it, click OK and select its new location.";
}

QString ViewLogic::clusterLinkText(const QString& category, int clusterNumber, int imageCount) {
    if (imageCount <= 1) return {};
    return momentLetter(categoryOf(category.toStdString())) + QStringLiteral("C") + QString::number(clusterNumber) +
           "(" + QString::number(imageCount) + ")";
}

QString ViewLogic::baseName(const QString& filename) {
    const qsizetype cut = std::max(filename.lastIndexOf('/'), filename.lastIndexOf('\\'));
    return filename.mid(cut + 1);
}

QString ViewLogic::localPath(const QString& pathOrUrl) { return localPathFromUrl(pathOrUrl); }

QString ViewLogic::fileUrl(const QString& path) {
    return path.isEmpty() ? QString() : QUrl::fromLocalFile(localPath(path)).toString(QUrl::FullyEncoded);
}

QString ViewLogic::originalUrl(const QString& inputFolder, const QString& filename) {
    if (filename.isEmpty()) return {};
    QString folder = localPath(inputFolder);
    folder.replace('\\', '/');
    if (folder.endsWith('/')) folder.chop(1);
    QString name = filename;
    name.replace('\\', '/');
    return fileUrl(folder.isEmpty() ? name : folder + "/" + name);
}

QString ViewLogic::thumbnailSource(const QString& thumbUrl, const QString& inputFolder, const QString& filename) {
    return thumbUrl.isEmpty() ? originalUrl(inputFolder, filename) : thumbUrl;
}

QString ViewLogic::autoOutputFolder(const QString& inputFolder) {
    QString folder = inputFolder;
    if (folder.endsWith('/')) folder.chop(1);
    return folder + "_culled";
}

QRectF ViewLogic::faceCropRect(const QVariant& box, int fw, int fh, int orientation) {
    const QVariantList b = box.toList();
    if (b.size() < 4) return {};
    const int x = b[0].toInt(), y = b[1].toInt(), w = b[2].toInt(), h = b[3].toInt();
    switch (orientation) {
    case 6: return QRectF(y, fw - (x + w), h, w);
    case 8: return QRectF(fh - (y + h), x, h, w);
    case 3: return QRectF(fw - (x + w), fh - (y + h), w, h);
    default: return QRectF(x, y, w, h);
    }
}

int ViewLogic::indexOfEntry(const QVariantList& list, const QString& key, const QVariant& value) {
    for (int i = 0; i < list.size(); ++i)
        if (sameValue(list[i].toMap().value(key), value)) return i;
    return -1;
}

QString ViewLogic::projectDateText(const QString& createdAt) {
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QString text = createdAt.trimmed();
    QDate date = QDateTime::fromString(text, Qt::ISODate).date();
    if (!date.isValid()) date = QDate::fromString(text, Qt::ISODate);
    if (!date.isValid()) return createdAt;
    return QString::fromLatin1(months[date.month() - 1]) + " " + QString::number(date.day()) + ", " +
           QString::number(date.year());
}

QString ViewLogic::projectCardLine(const QString& createdAt, int totalImages, int selected) {
    return projectDateText(createdAt) + "  ·  " + QString::number(totalImages) + " photos  ·  " +
           QString::number(selected) + " selected";
}

QString ViewLogic::deleteProjectQuestion(const QString& name) {
    return "Delete “" + name + "”?\nThis removes it from the library and deletes its thumbnails.\n"
           "Your original photos are NOT touched.";
}

QString ViewLogic::enhanceProgressText(bool plus, int done, int total) {
    return (plus ? QStringLiteral("Enhance Plus  ") : QStringLiteral("Enhance  ")) + QString::number(done) + " / " +
           QString::number(total);
}

QString ViewLogic::enhancedExportText(int enhanced, int plus) {
    if (enhanced <= 0 && plus <= 0)
        return QStringLiteral("No enhanced images to export. Click Enhance or Enhance Plus first.");
    return "Exported:\n• " + QString::number(enhanced) + " Enhanced (enhanced/)\n• " + QString::number(plus) +
           " Enhance Plus (enhanced_plus/)";
}

QString ViewLogic::enhanceFailureText(const QStringList& names) {
    return QString::number(names.size()) + " photo" + plural(int(names.size())) + " could not be enhanced:" +
           bulletList(names);
}

QString ViewLogic::liveCountText(const QVariantMap& counts) {
    const int removed = counts.value("removed").toInt(), added = counts.value("added").toInt();
    QString text = "Kept " + QString::number(counts.value("kept").toInt());
    if (removed == 0 && added == 0) return text + " · no changes since the cull";
    if (removed > 0) text += " · removed " + QString::number(removed);
    if (added > 0) text += " · added " + QString::number(added);
    return text + " since the cull";
}

QString ViewLogic::exportProgressText(int done, int total) {
    return "Exporting " + QString::number(done) + " of " + QString::number(total) + "…";
}

QString ViewLogic::markFilterText(int minStars, bool labelled) {
    if (minStars <= 0) return labelled ? QStringLiteral("Labelled") : QStringLiteral("All kept");
    const QString stars = "★" + QString::number(minStars) + (minStars < 5 ? "+" : "");
    return labelled ? stars + " or label" : stars;
}

}  // namespace keepframe
