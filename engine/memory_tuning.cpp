#include "memory_tuning.h"

#include <climits>  // brings in the C library's feature macros (__GLIBC__)

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace keepframe {

void keepLargeAllocationsMapped() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 512 << 20);  // serve large blocks from the heap...
    mallopt(M_TRIM_THRESHOLD, INT_MAX);    // ...and keep them there once freed
    mallopt(M_TOP_PAD, 256 << 20);
#endif
}

}  // namespace keepframe
