#include "enhance_grid_model.h"

#include "model_fields.h"
#include "selection_model.h"
#include "view_logic.h"

#include <QFileInfo>

namespace keepframe {

namespace {

// The file URL of an edited file with its modification time as a query, so
// that a new file under the same name is not taken from the image cache.
QString versionedUrl(const QString& path) {
    if (path.isEmpty()) return {};
    const qint64 stamp = QFileInfo(path).lastModified().toMSecsSinceEpoch();
    return ViewLogic::fileUrl(path) + "?v=" + QString::number(stamp);
}

}  // namespace

EnhanceGridModel::EnhanceGridModel(QObject* parent) : QAbstractListModel(parent) {}

QObject* EnhanceGridModel::selection() const { return selection_.data(); }

void EnhanceGridModel::setSelection(QObject* selection) {
    if (setField(selection_, qobject_cast<SelectionModel*>(selection))) emit selectionChanged();
}

int EnhanceGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : count(); }

QVariant EnhanceGridModel::data(const QModelIndex& index, int role) const {
    const Cell* cell = rowAt(cells_, index);
    if (cell == nullptr) return {};
    const Cell& c = *cell;
    switch (role) {
    case ImageIdRole: return c.imageId;
    case FilenameRole: return c.filename;
    case NameRole: return ViewLogic::baseName(c.filename);
    case PictureRole: return c.picture;
    case EditedUrlRole: return c.plusUrl.isEmpty() ? c.enhanceUrl : c.plusUrl;
    case EnhanceUrlRole: return c.enhanceUrl;
    case PlusUrlRole: return c.plusUrl;
    case CheckedRole: return c.checked;
    case LandscapeRole: return c.landscape;
    default: return {};
    }
}

QHash<int, QByteArray> EnhanceGridModel::roleNames() const {
    return {{ImageIdRole, "imageId"},     {FilenameRole, "filename"},     {NameRole, "name"},
            {PictureRole, "picture"},     {EditedUrlRole, "editedUrl"},   {EnhanceUrlRole, "enhanceUrl"},
            {PlusUrlRole, "plusUrl"},     {CheckedRole, "checked"},       {LandscapeRole, "landscape"}};
}

void EnhanceGridModel::reload() {
    beginResetModel();
    cells_.clear();
    hasProject_ = selection_ && selection_->projectId() >= 0 && selection_->hasData();
    if (hasProject_) {
        const QString folder = selection_->inputFolder();
        for (const QVariant& v : selection_->keptImages()) {
            const QVariantMap m = v.toMap();
            Cell c;
            c.imageId = m.value("id", -1).toInt();
            c.filename = m.value("filename").toString();
            c.picture = ViewLogic::thumbnailSource(m.value("thumbUrl").toString(), folder, c.filename);
            const int w = m.value("fullW").toInt(), h = m.value("fullH").toInt();
            c.landscape = w <= 0 || h <= 0 || w >= h;
            cells_.push_back(c);
        }
        readEdited();
    }
    endResetModel();
    setCheckedCount(int(cells_.size()));
    emit countChanged();
}

QList<int> EnhanceGridModel::readEdited() {
    QList<int> changed;
    if (!selection_) return changed;
    QList<int> ids;
    ids.reserve(cells_.size());
    for (const Cell& c : cells_) ids << c.imageId;
    const QList<SelectionModel::EditedFiles> files = selection_->editedFiles(ids);
    for (int row = 0; row < cells_.size() && row < files.size(); ++row) {
        Cell& c = cells_[row];
        const QString enhance = versionedUrl(files[row].enhance), plus = versionedUrl(files[row].plus);
        if (enhance == c.enhanceUrl && plus == c.plusUrl) continue;
        c.enhanceUrl = enhance;
        c.plusUrl = plus;
        changed << row;
    }
    return changed;
}

void EnhanceGridModel::refreshEdited() {
    for (int row : readEdited())
        emit dataChanged(index(row), index(row), {EditedUrlRole, EnhanceUrlRole, PlusUrlRole});
}

void EnhanceGridModel::toggle(int row) {
    if (row >= 0 && row < cells_.size()) setChecked(row, !cells_[row].checked);
}

void EnhanceGridModel::setChecked(int row, bool checked) {
    if (row < 0 || row >= cells_.size() || cells_[row].checked == checked) return;
    cells_[row].checked = checked;
    emit dataChanged(index(row), index(row), {CheckedRole});
    setCheckedCount(checkedCount_ + (checked ? 1 : -1));
}

void EnhanceGridModel::setAllChecked(bool checked) {
    if (cells_.isEmpty()) return;
    for (Cell& c : cells_) c.checked = checked;
    emit dataChanged(index(0), index(int(cells_.size()) - 1), {CheckedRole});
    setCheckedCount(checked ? int(cells_.size()) : 0);
}

QVariantList EnhanceGridModel::checkedIds() const {
    QVariantList out;
    for (const Cell& c : cells_)
        if (c.checked) out << c.imageId;
    return out;
}

QVariantList EnhanceGridModel::checkedNames() const {
    QVariantList out;
    for (const Cell& c : cells_)
        if (c.checked) out << c.filename;
    return out;
}

QVariantMap EnhanceGridModel::get(int row) const {
    QVariantMap out;
    if (row < 0 || row >= cells_.size()) return out;
    const QHash<int, QByteArray> names = roleNames();
    for (auto it = names.cbegin(); it != names.cend(); ++it)
        out.insert(QString::fromLatin1(it.value()), data(index(row), it.key()));
    return out;
}

int EnhanceGridModel::rowOfFile(const QString& filename) const {
    for (int row = 0; row < cells_.size(); ++row)
        if (cells_[row].filename == filename) return row;
    return -1;
}

void EnhanceGridModel::setCheckedCount(int n) {
    if (n == checkedCount_) return;
    checkedCount_ = n;
    emit checkedCountChanged();
}

}  // namespace keepframe
