// keepframe: the desktop program.
#include "desktop_app.h"
#include "memory_tuning.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstring>

namespace {

const char* const kUsage =
    "usage: keepframe [--help]\n"
    "  Starts the desktop program. Qt's own options (-platform, -style, ...) are taken as Qt documents them.";

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("%s\n", kUsage);
            return 0;
        }
    }
    keepframe::keepLargeAllocationsMapped();
    QGuiApplication app(argc, argv);
    // What Qt did not take is not ours either.
    const QStringList rest = QCoreApplication::arguments().mid(1);
    if (!rest.isEmpty()) {
        std::fprintf(stderr, "keepframe: unknown option %s\n%s\n", rest.first().toUtf8().constData(), kUsage);
        return 2;
    }
    keepframe::DesktopApp desktop(QCoreApplication::applicationDirPath());
    if (!desktop.loadMainWindow()) return -1;
    return app.exec();
}
