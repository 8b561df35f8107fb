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
#include <QQuickItem>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

QT_BEGIN_NAMESPACE
class QWindow;
QT_END_NAMESPACE

namespace keepframe {

class FolderChoice : public QObject {
    Q_OBJECT
    QML_ELEMENT
    // The FolderDialog watched.
    Q_PROPERTY(QObject* dialog READ dialog WRITE setDialog NOTIFY dialogChanged)
    // A button put among the dialog's own buttons when Qt Quick draws it (a
    // platform's dialog has its own way of making folders).
    Q_PROPERTY(QQuickItem* extraButton READ extraButton WRITE setExtraButton NOTIFY extraButtonChanged)
    // Whether the user picked an entry of the list in the folder now shown.
    Q_PROPERTY(bool picked READ picked NOTIFY pickedChanged)
public:
    explicit FolderChoice(QObject* parent = nullptr);
    ~FolderChoice() override;

    QObject* dialog() const { return dialog_; }
    void setDialog(QObject* dialog);
    QQuickItem* extraButton() const { return extraButton_; }
    void setExtraButton(QQuickItem* button);
    bool picked() const;

    // The folder the dialog means now (its accepted folder).
    Q_INVOKABLE QUrl chosenFolder() const;
    // Moves the open dialog to `folder`, as a double-click on it in the list does.
    Q_INVOKABLE void showFolder(const QUrl& folder);

    // The rule on its own: the folder shown, unless the user picked an entry
    // in it (`pickedIn` is the folder shown at that moment) or the dialog
    // shows no folder; a platform dialog (`drawnByQt` false) means `selected`.
    static QUrl meant(const QUrl& shown, const QUrl& selected, const QUrl& pickedIn, bool drawnByQt);

signals:
    void dialogChanged();
    void pickedChanged();
    void extraButtonChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void follow();
    void look();

private:
    QQuickItem* list() const;
    QUrl shownFolder() const;
    void pick();
    // Puts the extra button into the button box of the dialog's list.
    void placeExtraButton();

    QPointer<QObject> dialog_;
    QPointer<QWindow> window_;
    QPointer<QQuickItem> extraButton_;
    QUrl pickedIn_;
    bool drawnByQt_ = false;
};

// Folders as the folder dialogs and export results need them (published to
// QML as the singleton Folders).
class Folders : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
public:
    explicit Folders(QObject* parent = nullptr) : QObject(parent) {}

    // Where an export's folder dialog starts: the folder that holds the shoot
    // (for a shoot of RAW files, whose frames live in its conversion folder,
    // the one that holds the RAW files' folder). A file URL; empty without a shoot.
    Q_INVOKABLE static QUrl exportStartFolder(const QString& inputFolder);
    // Makes the folder `name` inside the folder at `parent` (a file URL or a
    // path); its URL, or an empty URL for a name that is blank, holds a
    // separator or leads elsewhere ("..", "."), names something that exists,
    // or cannot be made.
    Q_INVOKABLE static QUrl makeFolder(const QUrl& parent, const QString& name);
    // Shows the folder in the desktop's file manager; false when it is not a
    // folder or nothing could open it.
    Q_INVOKABLE static bool openFolder(const QString& path);
};

}  // namespace keepframe
