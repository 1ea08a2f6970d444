#include "platform/uMemory.h"

// The Windows heap decommits large free blocks by itself.
void ReturnFreeMemoryToSystem() {}
