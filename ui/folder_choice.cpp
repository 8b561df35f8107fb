#include "folder_choice.h"

#include "project_file.h"
#include "raw_names.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QQuickItem>
#include <QQuickWindow>

namespace keepframe {

namespace {

// The list of folders of the dialog Qt Quick draws (its object name there).
const QString kListName = QStringLiteral("folderDialogListView");

// Every item of that name below `item`.
void collectLists(QQuickItem* item, QList<QQuickItem*>& out) {
    if (!item) return;
    if (item->objectName() == kListName) out << item;
    for (QQuickItem* child : item->childItems()) collectLists(child, out);
}

bool movesInList(int key) {
    return key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_Home || key == Qt::Key_End ||
           key == Qt::Key_PageUp || key == Qt::Key_PageDown;
}

bool sameFolder(const QUrl& a, const QUrl& b) {
    return a.adjusted(QUrl::StripTrailingSlash) == b.adjusted(QUrl::StripTrailingSlash);
}

}  // namespace

FolderChoice::FolderChoice(QObject* parent) : QObject(parent) {}

FolderChoice::~FolderChoice() {
    if (window_) window_->removeEventFilter(this);
}

void FolderChoice::setExtraButton(QQuickItem* button) {
    if (button == extraButton_) return;
    extraButton_ = button;
    placeExtraButton();
    emit extraButtonChanged();
}

void FolderChoice::placeExtraButton() {
    QQuickItem* folders = list();
    if (!extraButton_ || !folders || !folders->parentItem()) return;
    for (QQuickItem* part : folders->parentItem()->childItems()) {
        if (!part->inherits("QQuickDialogButtonBox")) continue;
        if (extraButton_->parentItem() && part->isAncestorOf(extraButton_)) return;
        QMetaObject::invokeMethod(part, "addItem", Q_ARG(QQuickItem*, extraButton_.data()));
        return;
    }
}

void FolderChoice::setDialog(QObject* dialog) {
    if (dialog == dialog_) return;
    if (dialog_) disconnect(dialog_, nullptr, this, nullptr);
    dialog_ = dialog;
    if (dialog_) {
        const QMetaObject* meta = dialog_->metaObject();
        const int visible = meta->indexOfSignal("visibleChanged()");
        const int folder = meta->indexOfSignal("currentFolderChanged()");
        const int selected = meta->indexOfSignal("selectedFolderChanged()");
        const QMetaMethod followIt = metaObject()->method(metaObject()->indexOfMethod("follow()"));
        const QMetaMethod look = metaObject()->method(metaObject()->indexOfMethod("look()"));
        if (visible >= 0) connect(dialog_, meta->method(visible), this, followIt);
        if (selected >= 0) connect(dialog_, meta->method(selected), this, look);
        if (folder >= 0) connect(dialog_, meta->method(folder), this, look);
        if (folder >= 0) connect(dialog_, meta->method(folder), this, metaObject()->method(
                                     metaObject()->indexOfSignal("pickedChanged()")));
    }
    follow();
    emit dialogChanged();
}

bool FolderChoice::picked() const { return !pickedIn_.isEmpty() && sameFolder(pickedIn_, shownFolder()); }

QUrl FolderChoice::chosenFolder() const {
    if (!dialog_) return {};
    return meant(shownFolder(), dialog_->property("selectedFolder").toUrl(), pickedIn_, drawnByQt_ || list());
}

void FolderChoice::showFolder(const QUrl& folder) {
    if (!dialog_) return;
    // The dialog Qt Quick draws takes a new folder only at its next opening;
    // its own part (the list's owner) moves at once.
    QQuickItem* folders = list();
    QObject* drawn = folders ? folders->parent() : nullptr;
    if (drawn && drawn->metaObject()->indexOfProperty("currentFolder") >= 0)
        drawn->setProperty("currentFolder", folder);
    else dialog_->setProperty("currentFolder", folder);
}

QUrl FolderChoice::meant(const QUrl& shown, const QUrl& selected, const QUrl& pickedIn, bool drawnByQt) {
    if (!drawnByQt || shown.isEmpty()) return selected;
    if (!selected.isEmpty() && !pickedIn.isEmpty() && sameFolder(pickedIn, shown)) return selected;
    return shown;
}

// Whether Qt draws the dialog shows once its list is there (it is gone again
// by the time the dialog tells it was accepted).
void FolderChoice::look() {
    if (dialog_ && dialog_->property("visible").toBool() && list()) {
        drawnByQt_ = true;
        placeExtraButton();
    }
}

// The dialog opened or closed: a new look at its list starts with nothing picked.
void FolderChoice::follow() {
    if (window_) window_->removeEventFilter(this);
    window_.clear();
    if (!dialog_ || !dialog_->property("visible").toBool()) return;
    pickedIn_.clear();
    drawnByQt_ = false;
    emit pickedChanged();
    look();
    window_ = dialog_->property("parentWindow").value<QWindow*>();
    if (window_) window_->installEventFilter(this);
}

bool FolderChoice::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_) return false;
    if (event->type() == QEvent::MouseButtonPress) {
        QQuickItem* folders = list();
        if (!folders || !folders->isVisible()) return false;
        const QPointF at = folders->mapFromScene(static_cast<QMouseEvent*>(event)->scenePosition());
        if (!folders->contains(at)) return false;
        QQuickItem* entry = nullptr;
        QMetaObject::invokeMethod(folders, "itemAt", Q_RETURN_ARG(QQuickItem*, entry),
                                  Q_ARG(qreal, at.x() + folders->property("contentX").toReal()),
                                  Q_ARG(qreal, at.y() + folders->property("contentY").toReal()));
        if (entry) pick();
    } else if (event->type() == QEvent::KeyPress && movesInList(static_cast<QKeyEvent*>(event)->key())) {
        QQuickItem* folders = list();
        auto* quick = qobject_cast<QQuickWindow*>(window_);
        QQuickItem* focused = quick ? quick->activeFocusItem() : nullptr;
        if (folders && focused && (focused == folders || folders->isAncestorOf(focused))) pick();
    }
    return false;
}

// The list of this dialog when Qt Quick draws it: the one showing the
// dialog's folder, a visible one first; null for a platform dialog.
QQuickItem* FolderChoice::list() const {
    auto* quick = qobject_cast<QQuickWindow*>(dialog_ ? dialog_->property("parentWindow").value<QWindow*>()
                                                      : nullptr);
    if (!quick) return nullptr;
    QList<QQuickItem*> lists;
    collectLists(quick->contentItem() ? quick->contentItem()->parentItem() : nullptr, lists);
    if (lists.isEmpty()) collectLists(quick->contentItem(), lists);
    QQuickItem* hidden = nullptr;
    for (QQuickItem* candidate : lists) {
        const QObject* model = candidate->property("model").value<QObject*>();
        if (model && !sameFolder(model->property("folder").toUrl(), shownFolder())) continue;
        if (candidate->isVisible()) return candidate;
        if (!hidden) hidden = candidate;
    }
    return hidden;
}

QUrl FolderChoice::shownFolder() const { return dialog_ ? dialog_->property("currentFolder").toUrl() : QUrl(); }

void FolderChoice::pick() {
    pickedIn_ = shownFolder();
    emit pickedChanged();
}

QUrl Folders::exportStartFolder(const QString& inputFolder) {
    const QString shoot = localPathFromUrl(inputFolder);
    if (shoot.isEmpty()) return {};
    // Named, not looked up: the folder may be gone.
    const QFileInfo folder(QDir::cleanPath(QFileInfo(shoot).absoluteFilePath()));
    QString parent = folder.absolutePath();
    // The JPEG copies of RAW files live in a folder inside the shoot.
    if (QString::fromStdString(conversionFolderName(parent.toStdString())) == folder.fileName())
        parent = QFileInfo(parent).absolutePath();
    return QUrl::fromLocalFile(parent);
}

QUrl Folders::makeFolder(const QUrl& parent, const QString& name) {
    const QString base = localPathFromUrl(parent.toString());
    const QString clean = name.trimmed();
    if (base.isEmpty() || clean.isEmpty() || clean == "." || clean == ".." || clean.contains('/') ||
        clean.contains('\\'))
        return {};
    const QString path = QDir(base).filePath(clean);
    if (QFileInfo::exists(path) || !QDir(base).mkdir(clean)) return {};
    return QUrl::fromLocalFile(path);
}

bool Folders::openFolder(const QString& path) {
    const QString folder = localPathFromUrl(path);
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

}  // namespace keepframe
