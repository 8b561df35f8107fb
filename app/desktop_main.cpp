// keepframe: the desktop program.
#include "desktop_app.h"
#include "memory_tuning.h"
#include "models_folder.h"
#include "project_store.h"
#include "terminal.h"

#include <QFileInfo>
#include <QGuiApplication>

#include <cstdio>
#include <cstring>

namespace {

const char* const kUsage =
    "usage: keepframe [--help] [--check]\n"
    "  Starts the desktop program. Qt's own options (-platform, -style, ...) are taken as Qt documents them.\n"
    "  --check   starts as usual, loads the main window, says where the models, fonts and project library\n"
    "            were found, and quits: exit code 0 when the window loaded";

// What --check reports: the places start-up settled on, each a line.
void printStartCheck(const keepframe::DesktopApp& desktop) {
    const QString models = desktop.modelsFolder();
    int present = 0;
    for (const char* file : keepframe::kModelFiles)
        if (QFileInfo(models + "/" + QString::fromLatin1(file)).isFile()) ++present;
    std::printf("Keepframe %s\n", QCoreApplication::applicationVersion().toUtf8().constData());
    std::printf("Program folder: %s\n", QCoreApplication::applicationDirPath().toUtf8().constData());
    std::printf("Models: %s (%d of 4 files)\n", models.toUtf8().constData(), present);
    for (const QString& font : desktop.installedFonts()) std::printf("Font %s\n", font.toUtf8().constData());
    std::printf("Library: %s\n", keepframe::ProjectStore::resolveAppDataDir().toUtf8().constData());
    std::printf("Main window: loaded\n");
}

}  // namespace

int main(int argc, char** argv) {
    keepframe::attachParentConsole();
    // Our own options are plain ASCII, the same bytes in every code page: they
    // are looked for before the GUI application exists, which needs a display.
    bool check = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("%s\n", kUsage);
            return 0;
        }
        check = check || std::strcmp(argv[i], "--check") == 0;
    }
    keepframe::keepLargeAllocationsMapped();
    QGuiApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("keepframe"));
    // What Qt did not take is not ours either.
    QStringList rest = QCoreApplication::arguments().mid(1);
    rest.removeAll(QStringLiteral("--check"));
    if (!rest.isEmpty()) {
        std::fprintf(stderr, "keepframe: unknown option %s\n%s\n", rest.first().toUtf8().constData(), kUsage);
        return 2;
    }
    keepframe::DesktopApp desktop(QCoreApplication::applicationDirPath());
    if (!desktop.loadMainWindow()) {
        if (check) std::fprintf(stderr, "keepframe: the main window did not load\n");
        return -1;
    }
    if (check) {
        printStartCheck(desktop);
        return 0;
    }
    return app.exec();
}
