// The folder a folder dialog means (published to QML as FolderChoice, one per
// dialog). The dialog Qt Quick draws itself, where the platform offers none,
// highlights the first sub-folder of every folder it shows, so its
// selectedFolder is that sub-folder even when the user only opened the folder
// and pressed Open. The folder meant is the one the dialog shows, unless the
// user picked a sub-folder in its list: pressed on it, or moved to it with
// the keys. A platform's own dialog means what it selected.
#pragma once

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

QT_BEGIN_NAMESPACE
class QQuickItem;
class QWindow;
QT_END_NAMESPACE

namespace keepframe {

class FolderChoice : public QObject {
    Q_OBJECT
    QML_ELEMENT
    // The FolderDialog watched.
    Q_PROPERTY(QObject* dialog READ dialog WRITE setDialog NOTIFY dialogChanged)
    // Whether the user picked an entry of the list in the folder now shown.
    Q_PROPERTY(bool picked READ picked NOTIFY pickedChanged)
public:
    explicit FolderChoice(QObject* parent = nullptr);
    ~FolderChoice() override;

    QObject* dialog() const { return dialog_; }
    void setDialog(QObject* dialog);
    bool picked() const;

    // The folder the dialog means now (its accepted folder).
    Q_INVOKABLE QUrl chosenFolder() const;

    // The rule on its own: the folder shown, unless the user picked an entry
    // in it (`pickedIn` is the folder shown at that moment) or the dialog
    // shows no folder; a platform dialog (`drawnByQt` false) means `selected`.
    static QUrl meant(const QUrl& shown, const QUrl& selected, const QUrl& pickedIn, bool drawnByQt);

signals:
    void dialogChanged();
    void pickedChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void follow();
    void look();

private:
    QQuickItem* list() const;
    QUrl shownFolder() const;
    void pick();

    QPointer<QObject> dialog_;
    QPointer<QWindow> window_;
    QUrl pickedIn_;
    bool drawnByQt_ = false;
};

}  // namespace keepframe
