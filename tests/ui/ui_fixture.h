// The real desktop program, headless, for tests: the start-up of main() with
// a temporary library, the test models, and stored projects made from
// generated photographs.
#pragma once

#include "desktop_app.h"
#include "project_store.h"
#include "selection_model.h"
#include "temp_dir.h"
#include "ui_driver.h"

#include <gtest/gtest.h>

#include <QQuickItem>
#include <QQuickWindow>
#include <QString>
#include <QUrl>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

QT_BEGIN_NAMESPACE
// Readable failure messages for texts.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace keepframe::testing {

// One photograph of a hand-made stored project.
struct ProjectFrame {
    std::string filename;  // relative, "/" separators
    std::string category = "portrait";
    int cluster = 1;
    bool selected = false;
    bool primary = false;
    std::vector<FaceBox> faces;
    int width = 1200;  // upright pixels
    int height = 800;
    int orientation = 1;  // EXIF: 6 and 8 store the frame turned, 3 upside down
    float eyeSharpness = 0;
};

// The review state most tests start from: twelve frames in the top folder
// and the sub-folders "ceremony" and "reception", six of them kept; the
// moments 3 (two group frames) and 6 (one venue frame) keep nothing.
std::vector<ProjectFrame> standardFrames();

// Writes each frame as a JPEG below `folder` and stores the project in the
// library, with frame `coverIndex` as its cover (-1: none); returns its id
// (-1 on failure).
int storeProject(const QString& folder, const std::vector<ProjectFrame>& frames, const QString& name,
                 int coverIndex = -1);

class UiTest : public ::testing::Test {
protected:
    TempDir dir;
    std::unique_ptr<DesktopApp> app;
    QQuickWindow* window = nullptr;

    void SetUp() override;
    void TearDown() override;

    // Starts the program; `withModels` points the development models folder
    // at the test models.
    void start(bool withModels = true);

    QString path(const std::string& relative) const { return QString::fromStdString(dir.str() + "/" + relative); }
    static QString url(const QString& localPath) { return QUrl::fromLocalFile(localPath).toString(); }

    QQuickItem* item(const QString& name) const { return uidriver::findItem(window, name); }
    QObject* object(const QString& name) const { return uidriver::findObject(window, name); }
    QVariant prop(const QString& name, const char* property) const;
    QVariant call(const QString& name, const char* function, const QVariantList& args = {}) const;
    void click(const QString& name) const;
    // A named part of the item `owner` (a grid cell, a card); null when either is missing.
    QQuickItem* partOf(const QString& owner, const QString& part) const;
    // A property of such a part; invalid, and a failure, when it is not there.
    QVariant partProp(const QString& owner, const QString& part, const char* property) const;

    // Opens the standard project through the Home page's signal, as a click
    // on its card does; returns the project id.
    int openStandardProject();
    // The user_selected flag of one image in the project database.
    int userSelected(int projectId, const QString& filename) const;
};

// The standard project stored in a temporary library, with a store and a
// selection of the test's own, without the window.
class StoredProject : public UiTest {
protected:
    ProjectStore store;
    SelectionModel selection;
    int id = -1;
    void SetUp() override;
};

// The program started with the standard project open on the Cull page.
class ProjectTest : public UiTest {
protected:
    int id = -1;
    void SetUp() override {
        UiTest::SetUp();
        start();
        id = openStandardProject();
        ASSERT_TRUE(uidriver::waitFor([&] { return item("cell_DSC_0001.jpg") != nullptr; }));
    }
};

}  // namespace keepframe::testing
