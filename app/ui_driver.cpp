#include "ui_driver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaProperty>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <cmath>

namespace keepframe::uidriver {

namespace {

// Every object reachable from `root`, each once.
void collect(QObject* object, QList<QObject*>& out, QSet<QObject*>& seen) {
    if (!object || seen.contains(object)) return;
    seen.insert(object);
    out << object;
    for (QObject* child : object->children()) collect(child, out, seen);
    if (auto* item = qobject_cast<QQuickItem*>(object))
        for (QQuickItem* child : item->childItems()) collect(child, out, seen);
    // Popups and controls hold their parts in item properties.
    const QMetaObject* meta = object->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty p = meta->property(i);
        if (!p.metaType().flags().testFlag(QMetaType::PointerToQObject)) continue;
        const QByteArray name = p.name();
        if (name != "contentItem" && name != "header" && name != "footer" && name != "background") continue;
        collect(p.read(object).value<QObject*>(), out, seen);
    }
}

bool shown(QObject* object) {
    auto* item = qobject_cast<QQuickItem*>(object);
    if (item) return item->isVisible();
    const QVariant visible = object->property("visible");
    return !visible.isValid() || visible.toBool();
}

}  // namespace

QObject* find(QObject* root, const QString& name) {
    QList<QObject*> all;
    QSet<QObject*> seen;
    collect(root, all, seen);
    QObject* hidden = nullptr;
    for (QObject* o : all) {
        if (o->objectName() != name) continue;
        if (shown(o)) return o;
        if (!hidden) hidden = o;
    }
    return hidden;
}

QObject* findObject(QQuickWindow* window, const QString& name) {
    if (QObject* o = find(window, name)) return o;
    return find(window->contentItem(), name);
}

QQuickItem* findItem(QQuickWindow* window, const QString& name) {
    return qobject_cast<QQuickItem*>(findObject(window, name));
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qWait(5);
    }
    return true;
}

void settle(QQuickWindow* window) {
    QSignalSpy frames(window, &QQuickWindow::frameSwapped);
    window->update();
    frames.wait(1000);
    QCoreApplication::processEvents();
}

QPoint centre(QQuickItem* item) {
    return item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
}

void click(QQuickWindow* window, QQuickItem* item) {
    settle(window);
    const QPoint at = centre(item);
    QTest::mouseMove(window, at);
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, at);
}

void hover(QQuickWindow* window, QQuickItem* item) {
    settle(window);
    const QPoint at = centre(item);
    QTest::mouseMove(window, at - QPoint(2, 2));
    QTest::mouseMove(window, at);
}

void key(QQuickWindow* window, int key, Qt::KeyboardModifiers modifiers) {
    QTest::keyClick(window, Qt::Key(key), modifiers);
}

void wheel(QQuickWindow* window, QQuickItem* item, QPointF at, double notches, Qt::KeyboardModifiers modifiers) {
    const QPointF scene = item->mapToScene(at);
    QTest::mouseMove(window, scene.toPoint() - QPoint(1, 1));
    QTest::mouseMove(window, scene.toPoint());
    // A wheel event made here reaches the window's items only through the
    // platform's input queue, which tests cannot reach: it goes to the item.
    QWheelEvent event(at, window->mapToGlobal(scene), QPoint(), QPoint(0, int(std::lround(notches * 120))),
                      Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(item, &event);
    QCoreApplication::processEvents();
}

void drag(QQuickWindow* window, QPoint from, QPoint to, Qt::KeyboardModifiers modifiers) {
    QTest::mouseMove(window, from);
    QTest::mousePress(window, Qt::LeftButton, modifiers, from);
    constexpr int steps = 4;
    for (int i = 1; i <= steps; ++i)
        QTest::mouseEvent(QTest::MouseMove, window, Qt::NoButton, modifiers, from + (to - from) * i / steps);
    QTest::mouseRelease(window, Qt::LeftButton, modifiers, to);
    QCoreApplication::processEvents();
}

QVariant call(QObject* object, const char* function, const QVariantList& args) {
    QVariant result;
    const auto arg = [&](int i) { return i < args.size() ? Q_ARG(QVariant, args[i]) : QGenericArgument(); };
    bool ok = false;
    switch (args.size()) {
    case 0: ok = QMetaObject::invokeMethod(object, function, Q_RETURN_ARG(QVariant, result)); break;
    case 1: ok = QMetaObject::invokeMethod(object, function, Q_RETURN_ARG(QVariant, result), arg(0)); break;
    case 2: ok = QMetaObject::invokeMethod(object, function, Q_RETURN_ARG(QVariant, result), arg(0), arg(1)); break;
    default:
        ok = QMetaObject::invokeMethod(object, function, Q_RETURN_ARG(QVariant, result), arg(0), arg(1), arg(2));
        break;
    }
    if (!ok && args.isEmpty()) ok = QMetaObject::invokeMethod(object, function);  // a C++ slot without result
    if (!ok) qWarning("uidriver: cannot call %s", function);
    return result;
}

bool imagesSettled(QQuickWindow* window) {
    QList<QObject*> all;
    QSet<QObject*> seen;
    collect(window->contentItem(), all, seen);
    for (QObject* o : all) {
        auto* item = qobject_cast<QQuickItem*>(o);
        if (!item || !item->isVisible() || !o->inherits("QQuickImage")) continue;
        if (o->property("status").toInt() == 2) return false;  // Image.Loading
    }
    return true;
}

}  // namespace keepframe::uidriver
