// The little the command line needs from the platform: whether a stream is a
// terminal, and an interrupt (Ctrl-C) hook.
#pragma once

#include <cstdio>

namespace keepframe {

bool isTerminal(std::FILE* stream);

// Calls `handler` (async-signal context: it may only touch atomics and exit)
// when the user presses Ctrl-C.
void onInterrupt(void (*handler)(int));

}  // namespace keepframe
