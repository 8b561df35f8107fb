#include "terminal.h"

#include <csignal>

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

bool isTerminal(std::FILE* stream) { return KF_ISATTY(KF_FILENO(stream)) != 0; }

void onInterrupt(void (*handler)(int)) { std::signal(SIGINT, handler); }

}  // namespace keepframe
