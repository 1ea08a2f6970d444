#include "platform/uMemory.h"

#include <cstdlib> // defines __GLIBC__ where the C library is glibc
#if defined(__GLIBC__)
#include <malloc.h>
#endif

void ReturnFreeMemoryToSystem() {
#if defined(__GLIBC__)
    // Also the free pages inside the heap, not only those at its end.
    malloc_trim(0);
#endif
}
