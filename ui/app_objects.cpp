#include "app_objects.h"

#include <QQmlContext>
#include <QQmlEngine>

namespace keepframe {

namespace {

template <typename T>
T* published(QQmlEngine* qml, const char* name) {
    return qobject_cast<T*>(qml->rootContext()->contextProperty(QString::fromLatin1(name)).value<QObject*>());
}

}  // namespace

AppObjects::AppObjects(EngineController* engine, SelectionModel* selModel, DeliveryManager* delivery)
    : engine_(engine), selModel_(selModel), delivery_(delivery) {}

AppObjects* AppObjects::create(QQmlEngine* qml, QJSEngine*) {
    return new AppObjects(published<EngineController>(qml, "engine"), published<SelectionModel>(qml, "selModel"),
                          published<DeliveryManager>(qml, "delivery"));
}

}  // namespace keepframe
