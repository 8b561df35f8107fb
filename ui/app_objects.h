// The three objects start-up publishes as the context properties "engine",
// "selModel" and "delivery", offered to the pages with their types (the
// singleton App): App.engine, App.selModel and App.delivery are those same
// objects, and QML tools such as qmllint know their properties, methods and
// signals, which they cannot know of context properties.
#pragma once

#include "delivery_manager.h"
#include "engine_controller.h"
#include "selection_model.h"

#include <QObject>
#include <QPointer>
#include <QtQml/qqml.h>

QT_BEGIN_NAMESPACE
class QJSEngine;
class QQmlEngine;
QT_END_NAMESPACE

namespace keepframe {

class AppObjects : public QObject {
    Q_OBJECT
    QML_NAMED_ELEMENT(App)
    QML_SINGLETON
    Q_PROPERTY(keepframe::EngineController* engine READ engine CONSTANT)
    Q_PROPERTY(keepframe::SelectionModel* selModel READ selModel CONSTANT)
    Q_PROPERTY(keepframe::DeliveryManager* delivery READ delivery CONSTANT)
public:
    // The objects published on the root context of `qml` (null where one is missing).
    static AppObjects* create(QQmlEngine* qml, QJSEngine*);

    EngineController* engine() const { return engine_; }
    SelectionModel* selModel() const { return selModel_; }
    DeliveryManager* delivery() const { return delivery_; }

private:
    AppObjects(EngineController* engine, SelectionModel* selModel, DeliveryManager* delivery);

    QPointer<EngineController> engine_;
    QPointer<SelectionModel> selModel_;
    QPointer<DeliveryManager> delivery_;
};

// The types of the three objects, described to QML without a name: QML never makes one.
struct EngineControllerForQml {
    Q_GADGET
    QML_FOREIGN(keepframe::EngineController)
    QML_ANONYMOUS
};
struct SelectionModelForQml {
    Q_GADGET
    QML_FOREIGN(keepframe::SelectionModel)
    QML_ANONYMOUS
};
struct DeliveryManagerForQml {
    Q_GADGET
    QML_FOREIGN(keepframe::DeliveryManager)
    QML_ANONYMOUS
};

}  // namespace keepframe
