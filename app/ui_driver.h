// Drives the real main window the way a user does, for the tests and the
// screenshot tool: finds items by objectName, clicks, hovers and types with
// QTest events, calls the window's own functions, and waits.
#pragma once

#include <QPoint>
#include <Qt>
#include <QString>
#include <QVariant>

#include <functional>

class QObject;
class QQuickItem;
class QQuickWindow;

namespace keepframe::uidriver {

// The object named `name` below `root`: QML children, items (including open
// popups in the overlay) and the items of popups and dialogs. Visible items
// win over hidden ones; null when there is none.
QObject* find(QObject* root, const QString& name);
QQuickItem* findItem(QQuickWindow* window, const QString& name);
QObject* findObject(QQuickWindow* window, const QString& name);

// Processes events until `condition` holds; false after `timeoutMs`.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000);

// Lets the window lay out and draw a frame (layouts settle when polished).
void settle(QQuickWindow* window);

// Centre of an item in window coordinates.
QPoint centre(QQuickItem* item);
void click(QQuickWindow* window, QQuickItem* item);
void hover(QQuickWindow* window, QQuickItem* item);
void key(QQuickWindow* window, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
// Turns the mouse wheel by `notches` (120 units each; negative: towards the user) over the point `at`
// of `item`, the item under the pointer that takes the wheel (the pointer is moved there first).
void wheel(QQuickWindow* window, QQuickItem* item, QPointF at, double notches,
           Qt::KeyboardModifiers modifiers = Qt::NoModifier);
// Presses the left button at `from`, moves to `to` in a few steps and lets go.
void drag(QQuickWindow* window, QPoint from, QPoint to, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

// Calls a function of a QML object with up to three arguments.
QVariant call(QObject* object, const char* function, const QVariantList& args = {});

// True when no visible Image below the window is still loading.
bool imagesSettled(QQuickWindow* window);

}  // namespace keepframe::uidriver
