// The start-up and wiring of the desktop program, shared by its main() and
// the tests that drive the real window: names, fonts, the objects the user
// interface talks to, the project registry, the model files, and the main
// window of the KeepframeUI module.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class QQmlApplicationEngine;
class QQuickWindow;

namespace keepframe {

class AccountTokenProvider;
class DeliveryManager;
class EngineController;
class ProjectStore;
class SelectionModel;

// The four font files, in the order they are installed.
extern const char* const kFontFiles[4];

// Installs the four fonts, each from `resourceFolder` or, when that fails,
// from `fallbackFolder`; a font found in neither is skipped. Returns one line
// per installed font: the file name, ": ", and where it came from.
QStringList installFonts(const QString& resourceFolder, const QString& fallbackFolder);

class DesktopApp {
public:
    // After the QGuiApplication exists: names the application, installs the
    // fonts (resources first, then the program's fonts folder: "fonts" beside
    // it or in an installed tree's data folder), sets the default font,
    // creates the objects and the UI-thread store, opens the registry, clears
    // enhanced outputs (again at exit) and points the engine and the delivery
    // client at the models folder.
    explicit DesktopApp(const QString& applicationFolder);
    // Destroys the QML engine, the store, the delivery client, the selection
    // and the engine controller, in this order.
    ~DesktopApp();
    DesktopApp(const DesktopApp&) = delete;
    DesktopApp& operator=(const DesktopApp&) = delete;

    // Publishes the objects and loads the main window. False when QML could
    // not create it (the program then ends with -1).
    bool loadMainWindow();

    EngineController& engine() { return *engine_; }
    SelectionModel& selection() { return *selection_; }
    DeliveryManager& delivery() { return *delivery_; }
    ProjectStore& store() { return *store_; }
    QQmlApplicationEngine* qmlEngine() { return qml_.get(); }
    // The main window once loaded, else null.
    QQuickWindow* window() const;
    QString modelsFolder() const { return modelsFolder_; }
    const QStringList& installedFonts() const { return fonts_; }

private:
    QString modelsFolder_;
    QStringList fonts_;
    std::unique_ptr<EngineController> engine_;
    std::unique_ptr<SelectionModel> selection_;
    std::unique_ptr<AccountTokenProvider> tokens_;
    std::unique_ptr<DeliveryManager> delivery_;
    std::unique_ptr<ProjectStore> store_;
    std::unique_ptr<QQmlApplicationEngine> qml_;
};

}  // namespace keepframe
