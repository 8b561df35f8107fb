// The little the programs need from the platform: their command-line
// arguments as UTF-8, a console that shows UTF-8, whether a stream is a
// terminal, and an interrupt (Ctrl-C) hook.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace keepframe {

// The arguments after the program's name, UTF-8, as the QCoreApplication (which
// must exist) read them: on Windows from the wide command line, since argv is
// in the ANSI code page there and loses every letter outside it.
std::vector<std::string> commandLineArguments();

// Lets the console show the UTF-8 the programs write (Windows' console reads
// output in its own code page otherwise); nothing to do elsewhere.
void useUtf8Console();

// For a program without a console of its own (the desktop program on
// Windows): writes to the console it was started from, if there is one.
// Nothing to do elsewhere, where every program has the streams it was given.
void attachParentConsole();

bool isTerminal(std::FILE* stream);

// Calls `handler` (async-signal context: it may only touch atomics and exit)
// when the user presses Ctrl-C.
void onInterrupt(void (*handler)(int));

}  // namespace keepframe
