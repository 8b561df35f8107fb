// The rows of the review grid: the selection's sections (by sub-folder or by
// display category) cut into rows of thumbnails for a given column count, the
// "For Review" tile and the combined Removed section. One ListView shows
// them, so only the visible rows (and their cells) exist at any time.
// The views are read from the selection only on refresh(); a change of the
// column count re-cuts the rows it already holds.
#pragma once

#include <QAbstractListModel>
#include <QPointer>
#include <QVariant>
#include <QVector>
#include <QtQml/qqmlregistration.h>

namespace keepframe {

class SelectionModel;

class ReviewGridModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QObject* selection READ selection WRITE setSelection NOTIFY selectionChanged)
    Q_PROPERTY(bool byCategory READ byCategory WRITE setByCategory NOTIFY byCategoryChanged)
    Q_PROPERTY(int columns READ columns WRITE setColumns NOTIFY columnsChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(int keptShown READ keptShown NOTIFY refreshed)
    Q_PROPERTY(int removedShown READ removedShown NOTIFY refreshed)
    Q_PROPERTY(int unselectedCount READ unselectedCount NOTIFY refreshed)
    Q_PROPERTY(int sectionCount READ sectionCount NOTIFY refreshed)
public:
    enum Roles { KindRole = Qt::UserRole + 1, TitleRole, CountRole, ItemsRole };
    Q_ENUM(Roles)

    // One row of the grid. Kinds: "section" (a header with the section
    // title, empty for the top folder, and its kept count), "cells" (up to
    // `columns` image maps), "review" (the For Review tile with the number of
    // frames waiting) and "removed" (the header of the Removed section).
    struct Row {
        QString kind;
        QString title;
        int count = 0;
        QVariantList items;
        bool operator==(const Row& o) const {
            return kind == o.kind && title == o.title && count == o.count && items == o.items;
        }
    };

    explicit ReviewGridModel(QObject* parent = nullptr);

    QObject* selection() const;
    void setSelection(QObject* selection);
    bool byCategory() const { return byCategory_; }
    void setByCategory(bool byCategory);
    int columns() const { return columns_; }
    void setColumns(int columns);
    int count() const { return int(rows_.size()); }
    int keptShown() const { return keptShown_; }
    int removedShown() const { return int(removed_.size()); }
    int unselectedCount() const { return unselectedCount_; }
    int sectionCount() const { return int(sections_.size()); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Re-reads the sections, the removed images and the For Review count from
    // the selection (after a load and every change of the selection).
    Q_INVOKABLE void refresh();
    // Takes over the stars and labels of the frames shown from the
    // selection, in the rows whose marks differ: a mark changes no section,
    // so nothing is read or cut again (unless a filter may take frames in or
    // out: then use refresh()).
    Q_INVOKABLE void updateMarks();
    // Empties the grid (a new cull starts).
    Q_INVOKABLE void clear();
    // The row that shows `filename`, or -1.
    Q_INVOKABLE int rowOfFile(const QString& filename) const;
    // The kind of row `row`, for scrolling code ("" when out of range).
    Q_INVOKABLE QString kindOf(int row) const;

    const QVector<Row>& rows() const { return rows_; }

signals:
    void selectionChanged();
    void byCategoryChanged();
    void columnsChanged();
    void countChanged();
    void refreshed();

private:
    QVector<Row> buildRows() const;
    // Replaces the rows with `next`, telling the view only about the rows
    // that differ, so that the view keeps its place.
    void applyRows(QVector<Row> next);
    void appendCells(QVector<Row>& rows, const QVariantList& items) const;

    QPointer<SelectionModel> selection_;
    bool byCategory_ = false;
    int columns_ = 1;
    QVariantList sections_;
    QVariantList removed_;
    int keptShown_ = 0;
    int unselectedCount_ = 0;
    QVector<Row> rows_;
};

}  // namespace keepframe
