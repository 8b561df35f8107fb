#include "terminal.h"

#include <QCoreApplication>
#include <QStringList>

#include <csignal>

#include "windows_api.h"

#ifdef _WIN32
#include <io.h>
#define KF_ISATTY _isatty
#define KF_FILENO _fileno
#else
#include <unistd.h>
#define KF_ISATTY isatty
#define KF_FILENO fileno
#endif

namespace keepframe {

std::vector<std::string> commandLineArguments() {
    const QStringList arguments = QCoreApplication::arguments();
    std::vector<std::string> utf8;
    for (qsizetype i = 1; i < arguments.size(); ++i) utf8.push_back(arguments[i].toStdString());
    return utf8;
}

void useUtf8Console() {
#ifdef _WIN32
    SetConsoleOutputCP(CP_UTF8);
#endif
}

void attachParentConsole() {
#ifdef _WIN32
    // Streams the program was given (a pipe, a file) stay as they are.
    if (GetStdHandle(STD_OUTPUT_HANDLE) != nullptr || !AttachConsole(ATTACH_PARENT_PROCESS)) return;
    std::FILE* stream = nullptr;
    freopen_s(&stream, "CONOUT$", "w", stdout);
    freopen_s(&stream, "CONOUT$", "w", stderr);
    SetConsoleOutputCP(CP_UTF8);
#endif
}

bool isTerminal(std::FILE* stream) { return KF_ISATTY(KF_FILENO(stream)) != 0; }

void onInterrupt(void (*handler)(int)) { std::signal(SIGINT, handler); }

}  // namespace keepframe
