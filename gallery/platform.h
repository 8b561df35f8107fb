// The few calls that differ between the platforms the service runs on.
#pragma once

#include <cstdio>

namespace keepframe::gallery {

// Flushes a written file to the disk (fsync, or _commit on Windows). False when that fails.
bool syncFile(std::FILE* file);

// Process-wide preparations: writes to a closed socket fail instead of ending the process.
void preparePlatform();

}  // namespace keepframe::gallery
