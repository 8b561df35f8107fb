#include "review_grid_model.h"

#include "selection_model.h"

#include <algorithm>

namespace keepframe {

ReviewGridModel::ReviewGridModel(QObject* parent) : QAbstractListModel(parent) {}

QObject* ReviewGridModel::selection() const { return selection_.data(); }

void ReviewGridModel::setSelection(QObject* selection) {
    auto* model = qobject_cast<SelectionModel*>(selection);
    if (model == selection_) return;
    selection_ = model;
    emit selectionChanged();
}

void ReviewGridModel::setByCategory(bool byCategory) {
    if (byCategory == byCategory_) return;
    byCategory_ = byCategory;
    emit byCategoryChanged();
    refresh();
}

void ReviewGridModel::setColumns(int columns) {
    columns = std::max(1, columns);
    if (columns == columns_) return;
    columns_ = columns;
    emit columnsChanged();
    applyRows(buildRows());
}

int ReviewGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

QVariant ReviewGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= rows_.size()) return {};
    const Row& r = rows_[index.row()];
    switch (role) {
    case KindRole: return r.kind;
    case TitleRole: return r.title;
    case CountRole: return r.count;
    case ItemsRole: return r.items;
    default: return {};
    }
}

QHash<int, QByteArray> ReviewGridModel::roleNames() const {
    return {{KindRole, "kind"}, {TitleRole, "title"}, {CountRole, "count"}, {ItemsRole, "items"}};
}

void ReviewGridModel::refresh() {
    if (!selection_) {
        clear();
        return;
    }
    sections_ = byCategory_ ? selection_->categoryView() : selection_->groupedView();
    removed_ = selection_->removedView();
    unselectedCount_ = selection_->unselectedClusterCount();
    keptShown_ = 0;
    for (const QVariant& s : std::as_const(sections_)) keptShown_ += int(s.toMap().value("primary").toList().size());
    applyRows(buildRows());
    emit refreshed();
}

namespace {

// Puts the selection's marks into the image maps of `items` where they
// differ; true when one of them changed.
bool takeMarks(QVariantList& items, const SelectionModel& selection) {
    bool any = false;
    for (QVariant& v : items) {
        QVariantMap m = v.toMap();
        const QVariantMap marks = selection.marksOf(m.value("filename").toString());
        if (m.value("rating") == marks.value("rating") && m.value("label") == marks.value("label")) continue;
        m.insert(marks);
        v = m;
        any = true;
    }
    return any;
}

}  // namespace

void ReviewGridModel::updateMarks() {
    if (!selection_) return;
    for (QVariant& s : sections_) {
        QVariantMap section = s.toMap();
        QVariantList kept = section.value("primary").toList();
        if (!takeMarks(kept, *selection_)) continue;
        section.insert("primary", kept);
        s = section;
    }
    takeMarks(removed_, *selection_);
    for (int r = 0; r < rows_.size(); ++r)
        if (rows_[r].kind == QLatin1String("cells") && takeMarks(rows_[r].items, *selection_))
            emit dataChanged(index(r), index(r), {ItemsRole});
}

void ReviewGridModel::clear() {
    sections_.clear();
    removed_.clear();
    keptShown_ = 0;
    unselectedCount_ = 0;
    applyRows({});
    emit refreshed();
}

int ReviewGridModel::rowOfFile(const QString& filename) const {
    for (int r = 0; r < rows_.size(); ++r) {
        if (rows_[r].kind != "cells") continue;
        for (const QVariant& item : rows_[r].items)
            if (item.toMap().value("filename").toString() == filename) return r;
    }
    return -1;
}

QString ReviewGridModel::kindOf(int row) const { return row >= 0 && row < rows_.size() ? rows_[row].kind : QString(); }

void ReviewGridModel::appendCells(QVector<Row>& rows, const QVariantList& items) const {
    for (qsizetype start = 0; start < items.size(); start += columns_)
        rows.push_back(Row{QStringLiteral("cells"), {}, 0, items.mid(start, columns_)});
}

QVector<ReviewGridModel::Row> ReviewGridModel::buildRows() const {
    QVector<Row> rows;
    for (const QVariant& v : sections_) {
        const QVariantMap section = v.toMap();
        const QVariantList kept = section.value("primary").toList();
        rows.push_back(Row{QStringLiteral("section"), section.value("folder").toString(), int(kept.size()), {}});
        appendCells(rows, kept);
    }
    if (unselectedCount_ > 0) rows.push_back(Row{QStringLiteral("review"), {}, unselectedCount_, {}});
    if (!removed_.isEmpty()) {
        rows.push_back(Row{QStringLiteral("removed"), {}, int(removed_.size()), {}});
        appendCells(rows, removed_);
    }
    return rows;
}

void ReviewGridModel::applyRows(QVector<Row> next) {
    const int oldSize = int(rows_.size()), newSize = int(next.size());
    int prefix = 0;
    while (prefix < oldSize && prefix < newSize && rows_[prefix] == next[prefix]) ++prefix;
    int suffix = 0;
    while (suffix < oldSize - prefix && suffix < newSize - prefix &&
           rows_[oldSize - 1 - suffix] == next[newSize - 1 - suffix])
        ++suffix;
    const int oldMiddle = oldSize - prefix - suffix, newMiddle = newSize - prefix - suffix;
    const int common = std::min(oldMiddle, newMiddle);
    for (int i = 0; i < common; ++i) rows_[prefix + i] = std::move(next[prefix + i]);
    if (common > 0) emit dataChanged(index(prefix), index(prefix + common - 1));
    if (newMiddle > oldMiddle) {
        beginInsertRows({}, prefix + common, prefix + newMiddle - 1);
        for (int i = common; i < newMiddle; ++i) rows_.insert(prefix + i, std::move(next[prefix + i]));
        endInsertRows();
        emit countChanged();
    } else if (oldMiddle > newMiddle) {
        beginRemoveRows({}, prefix + common, prefix + oldMiddle - 1);
        rows_.remove(prefix + common, oldMiddle - common);
        endRemoveRows();
        emit countChanged();
    }
}

}  // namespace keepframe
