// The few calls that differ between the platforms the service runs on.
#pragma once

#include <cstdio>
#include <filesystem>

namespace keepframe::gallery {

// Flushes a written file to the disk (fsync, or _commit on Windows). False when that fails.
bool syncFile(std::FILE* file);

// Process-wide preparations: writes to a closed socket fail instead of ending the process.
void preparePlatform();

// The folder of the running program, found from the system rather than from
// argv[0] (which names no folder when the program was found through PATH).
// Empty when the system does not tell.
std::filesystem::path runningProgramFolder();

}  // namespace keepframe::gallery
