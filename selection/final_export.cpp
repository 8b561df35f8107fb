// Copying the final selection (and optionally everything else) out of the input folder.
#include "selection_model.h"

#include "path_safety.h"
#include "project_file.h"
#include "project_store.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <set>

namespace keepframe {

namespace {

QString ownName(const QString& filename) { return filename.mid(filename.lastIndexOf('/') + 1); }

// Labels of unselected images come from the stored category.
QString storedLabel(const QString& category) {
    static const QStringList known = {"venue", "featured", "portrait", "group"};
    return known.contains(category) ? SelectionModel::categoryLabel(category) : QStringLiteral("Other");
}

// "name (2).jpg" for n = 2: the number goes before the extension.
QString numberedName(const QString& name, int n) {
    const int dot = name.lastIndexOf('.');
    const QString number = QStringLiteral(" (%1)").arg(n);
    return dot > 0 ? name.left(dot) + number + name.mid(dot) : name + number;
}

// One export. It never replaces a file of the input folder (a photograph of
// the shoot) nor a file it wrote itself earlier: such a name gets a number
// instead. A file from an earlier export elsewhere is replaced, and only by a
// complete copy. What it leaves out it names, with the reason.
class ExportRun {
public:
    explicit ExportRun(const QString& inputFolder) : input_(inputFolder), inputRoot_(canonicalFolder(inputFolder)) {}

    // Copies the image named `filename` (relative to the input folder) into
    // `folder`; `written` receives the path of the copy.
    bool copy(const QString& filename, const QString& folder, QString* written = nullptr) {
        const QString source = pathInside(input_, filename);
        if (source.isEmpty()) return skip(filename, "the name leads outside the input folder");
        const QFileInfo sourceInfo(source);
        if (!sourceInfo.isFile()) return skip(filename, "missing from the input folder");
        if (!QDir().mkpath(folder)) return skip(filename, "cannot create the folder " + folder);
        const QString name = ownName(filename);
        QString target = joinFolder(folder, name);
        const QFileInfo targetInfo(target);
        if (targetInfo.exists() && targetInfo.canonicalFilePath() == sourceInfo.canonicalFilePath()) {
            ++inPlace_;
            return skip(filename, "the target is the source file itself", true);
        }
        const bool inShoot = insideInput(folder);
        for (int n = 2; taken(target, inShoot); ++n) target = joinFolder(folder, numberedName(name, n));
        QString error;
        if (!copyFileReplacing(source, target, &error)) return skip(filename, error);
        written_.insert(key(target));
        if (written) *written = target;
        return true;
    }

    int inPlace() const { return inPlace_; }
    const QVariantList& skipped() const { return skipped_; }

private:
    // `inPlace` marks a target that is the photograph itself.
    bool skip(const QString& filename, const QString& reason, bool inPlace = false) {
        QVariantMap row{{"file", filename}, {"reason", reason}};
        if (inPlace) row["inPlace"] = true;
        skipped_.push_back(row);
        return false;
    }
    // Case-folded, so that "A.jpg" and "a.jpg" count as one name wherever the
    // file system does not tell them apart.
    static QString key(const QString& path) {
        return QDir::cleanPath(QFileInfo(path).absoluteFilePath()).toCaseFolded();
    }
    // Compared without case: on a file system that tells case apart this
    // only protects a few more files.
    bool insideInput(const QString& folder) const {
        if (inputRoot_.isEmpty()) return false;
        const QString canonical = canonicalFolder(folder);
        const QString root = inputRoot_.endsWith('/') ? inputRoot_ : inputRoot_ + "/";
        return canonical.compare(inputRoot_, Qt::CaseInsensitive) == 0 ||
               canonical.startsWith(root, Qt::CaseInsensitive);
    }
    bool taken(const QString& target, bool inShoot) const {
        if (written_.contains(key(target))) return true;
        const QFileInfo info(target);
        if (info.isSymLink() || info.isJunction()) return true;  // never written through
        if (!info.exists()) return false;
        return inShoot || !info.isFile();
    }

    QString input_;
    QString inputRoot_;
    QSet<QString> written_;
    QVariantList skipped_;
    int inPlace_ = 0;
};

}  // namespace

QVariantMap SelectionModel::exportFinal(const QString& destBaseIn, bool byCategory, bool includeUnselected,
                                        bool embedXmp) {
    int selected = 0, unselected = 0;
    QString base = stripFileUrl(destBaseIn);
    if (base.isEmpty()) base = outputBase_;
    if (base.isEmpty() || inputFolder_.isEmpty())
        return QVariantMap{{"selected", 0}, {"unselected", 0}, {"inPlace", 0}, {"skipped", QVariantList{}}};
    const QString finalFolder = joinPath(base, "final_selection"), unselectedFolder = joinPath(base, "unselected");

    std::set<QString> keptSubFolders;
    for (const Image& i : images_)
        if (i.status != Removed) keptSubFolders.insert(subFolderOf(i.filename));
    const bool severalFolders = keptSubFolders.size() > 1;

    auto targetFolder = [&](const QString& root, const QString& filename, const QString& label) {
        const QString sub = subFolderOf(filename);
        if (!byCategory) return sub.isEmpty() ? root : joinPath(root, sub);
        if (severalFolders && !sub.isEmpty()) return joinPath(joinPath(root, sub), label);
        return joinPath(root, label);
    };

    ExportRun run(inputFolder_);
    QList<QPair<QString, QString>> copies;
    for (const Image& i : images_) {
        if (i.status == Removed) continue;
        const QString folder = targetFolder(finalFolder, i.filename, categoryLabel(displayCategory(i)));
        QString copy;
        if (!run.copy(i.filename, folder, &copy)) continue;
        ++selected;
        copies.append({copy, i.filename});
    }
    if (includeUnselected && projectOpen()) {
        for (const QVariant& v : store_->unselectedImagesForProject(projectId_)) {
            const QVariantMap row = v.toMap();
            const QString name = row["filename"].toString();
            if (name.isEmpty()) continue;
            if (run.copy(name, targetFolder(unselectedFolder, name, storedLabel(row["category"].toString()))))
                ++unselected;
        }
    }
    QVariantMap result{
        {"selected", selected}, {"unselected", unselected}, {"inPlace", run.inPlace()}, {"skipped", run.skipped()}};
    if (embedXmp) result["xmpFailed"] = embedXmpIntoCopies(copies);
    return result;
}

}  // namespace keepframe
