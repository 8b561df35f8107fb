// Process-wide memory settings for image work.
#pragma once

namespace keepframe {

// Keeps large freed buffers mapped for reuse. Image stages allocate and free
// buffers of tens of megabytes per photograph; on glibc each such buffer is
// otherwise returned to the system and faulted in again, page by page, on the
// next allocation, which costs more than the image arithmetic itself. Call
// once at program start; a no-op on other C libraries.
void keepLargeAllocationsMapped();

}  // namespace keepframe
