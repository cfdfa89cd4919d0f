// The runtime library's heap underneath the counted allocator: the system's
// malloc family (never the shared object's wrapped one), the usable size of a
// block, and aligned blocks.
//
// Aligned blocks may live in a heap of their own (Windows), so they are freed
// and measured only through the aligned functions here.
#pragma once

#include <cstddef>

namespace qmx::port {

void* SystemAllocate(size_t size);
void SystemFree(void* block);
void* SystemReallocate(void* block, size_t size);
// The usable size of a block from SystemAllocate or SystemReallocate.
size_t SystemBlockSize(void* block);

// alignment is a power of two, at least sizeof(void*). Null on failure.
void* SystemAllocateAligned(size_t alignment, size_t size);
void SystemFreeAligned(void* block);
size_t SystemAlignedBlockSize(void* block, size_t alignment);

}  // namespace qmx::port
