#include "desktop_app.h"

#include "account_token.h"
#include "delivery_manager.h"
#include "engine_controller.h"
#include "frame_image_provider.h"
#include "models_folder.h"
#include "project_store.h"
#include "selection_model.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(KeepframeUIPlugin)

namespace keepframe {

const char* const kFontFiles[4] = {"BigShouldersDisplay.ttf", "Inter.ttf", "IBMPlexMono-Regular.ttf",
                                   "IBMPlexMono-Medium.ttf"};

QStringList installFonts(const QString& resourceFolder, const QString& fallbackFolder) {
    QStringList installed;
    for (const char* file : kFontFiles) {
        const QString name = QString::fromLatin1(file);
        if (QFontDatabase::addApplicationFont(resourceFolder + name) >= 0) {
            installed << name + ": " + resourceFolder;
        } else if (QFontDatabase::addApplicationFont(fallbackFolder + name) >= 0) {
            installed << name + ": " + fallbackFolder;
        }
    }
    return installed;
}

DesktopApp::DesktopApp(const QString& applicationFolder) {
    QCoreApplication::setApplicationName(QStringLiteral("Orvo KeepframeEngine"));
    QCoreApplication::setOrganizationName(QStringLiteral("Orvo"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KEEPFRAME_VERSION));

    const std::string fontFolder = programDataFolder(applicationFolder.toStdString(), "fonts");
    fonts_ = installFonts(QStringLiteral(":/fonts/"), QString::fromStdString(fontFolder) + QStringLiteral("/"));
    QFont font(QStringLiteral("Inter"));
    font.setPixelSize(14);
    QGuiApplication::setFont(font);

    engine_ = std::make_unique<EngineController>();
    selection_ = std::make_unique<SelectionModel>();
    tokens_ = std::make_unique<DefaultTokenProvider>();
    delivery_ = std::make_unique<DeliveryManager>();
    delivery_->setTokenProvider(tokens_.get());

    // A registry that cannot be opened does not stop the program: its
    // operations report their own error later.
    store_ = std::make_unique<ProjectStore>();
    store_->openRegistry();
    selection_->setStore(store_.get());
    store_->purgeEditedOutputs();
    ProjectStore* store = store_.get();
    SelectionModel* selection = selection_.get();
    // A running enhancement batch ends before the folders it writes into go.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, engine_.get(), [store, selection] {
        selection->stopEnhance();
        store->purgeEditedOutputs();
    });

    modelsFolder_ = QString::fromStdString(resolveModelsFolder(applicationFolder.toStdString()));
    auto model = [this](int i) { return modelsFolder_ + "/" + QString::fromLatin1(kModelFiles[i]); };
    engine_->setDetectorModelPath(model(0));
    engine_->setRecognizerModelPath(model(1));
    engine_->setExpressionModelPath(model(2));
    engine_->setEyeModelPath(model(3));
    delivery_->setFaceModelPath(model(0));
}

DesktopApp::~DesktopApp() {
    qml_.reset();
    store_.reset();
    delivery_.reset();
    tokens_.reset();
    selection_.reset();
    engine_.reset();
}

bool DesktopApp::loadMainWindow() {
    qml_ = std::make_unique<QQmlApplicationEngine>();
    qml_->addImportPath(QStringLiteral("qrc:/qt/qml"));
    qml_->rootContext()->setContextProperty(QStringLiteral("engine"), engine_.get());
    qml_->rootContext()->setContextProperty(QStringLiteral("selModel"), selection_.get());
    qml_->rootContext()->setContextProperty(QStringLiteral("delivery"), delivery_.get());
    qml_->addImageProvider(QStringLiteral("frames"), new FrameImageProvider);  // the engine owns it
    QObject::connect(
        qml_.get(), &QQmlApplicationEngine::objectCreationFailed, qApp, [] { QCoreApplication::exit(-1); },
        Qt::QueuedConnection);
    qml_->loadData("import KeepframeUI\nMainWindow {}\n", QUrl(QStringLiteral("qrc:/keepframe/main.qml")));
    return !qml_->rootObjects().isEmpty();
}

QQuickWindow* DesktopApp::window() const {
    if (!qml_ || qml_->rootObjects().isEmpty()) return nullptr;
    return qobject_cast<QQuickWindow*>(qml_->rootObjects().constFirst());
}

}  // namespace keepframe
