// The cells of the Enhance page: the kept frames of the open project, each
// with its check (which frames the next batch corrects) and the corrections
// that already exist. The grid shows the best correction over the original;
// a check only decides whether it is shown, so toggling it loads nothing.
// The corrections' URLs carry the file's modification time, so a frame
// corrected again shows its new file while an unchanged one stays cached.
#pragma once

#include <QAbstractListModel>
#include <QPointer>
#include <QVariant>
#include <QVector>
#include <QtQml/qqmlregistration.h>

namespace keepframe {

class SelectionModel;

class EnhanceGridModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QObject* selection READ selection WRITE setSelection NOTIFY selectionChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(int checkedCount READ checkedCount NOTIFY checkedCountChanged)
    // A stored project is open (corrections need one).
    Q_PROPERTY(bool hasProject READ hasProject NOTIFY countChanged)
public:
    enum Roles {
        ImageIdRole = Qt::UserRole + 1,
        FilenameRole,
        NameRole,
        PictureRole,
        EditedUrlRole,
        EnhanceUrlRole,
        PlusUrlRole,
        CheckedRole,
        LandscapeRole
    };
    Q_ENUM(Roles)

    struct Cell {
        int imageId = -1;
        QString filename;
        QString picture;     // the project thumbnail, else the original
        QString enhanceUrl;  // versioned file URLs, empty when the level has no file
        QString plusUrl;
        bool checked = true;
        bool landscape = true;
    };

    explicit EnhanceGridModel(QObject* parent = nullptr);

    QObject* selection() const;
    void setSelection(QObject* selection);
    int count() const { return int(cells_.size()); }
    int checkedCount() const { return checkedCount_; }
    bool hasProject() const { return hasProject_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Re-reads the kept frames; every frame starts checked.
    Q_INVOKABLE void reload();
    // Re-reads which corrections exist (after a batch).
    Q_INVOKABLE void refreshEdited();
    Q_INVOKABLE void toggle(int row);
    Q_INVOKABLE void setChecked(int row, bool checked);
    Q_INVOKABLE void setAllChecked(bool checked);
    // Ids and file names of the checked frames, in grid order.
    Q_INVOKABLE QVariantList checkedIds() const;
    Q_INVOKABLE QVariantList checkedNames() const;
    // One cell as a map with the role names as keys (empty when out of range).
    Q_INVOKABLE QVariantMap get(int row) const;
    Q_INVOKABLE int rowOfFile(const QString& filename) const;

    const QVector<Cell>& cells() const { return cells_; }

signals:
    void selectionChanged();
    void countChanged();
    void checkedCountChanged();

private:
    // Reads the corrections of every cell; the rows whose files changed.
    QList<int> readEdited();
    void setCheckedCount(int n);

    QPointer<SelectionModel> selection_;
    QVector<Cell> cells_;
    int checkedCount_ = 0;
    bool hasProject_ = false;
};

}  // namespace keepframe
