// The counted allocator: every heap allocation of the plugin goes through one
// set of five hooks that keep the process-wide MemoryStats counters.
//
// In the shipped shared object the malloc family itself is routed here (the
// link wraps malloc, free, calloc, realloc, strdup and the aligned forms), so
// the C++ runtime's strings and containers are counted too. Elsewhere (tests,
// tools) only the explicit calls below are counted.
//
// Thread safety: every counter update is an atomic 64-bit operation; the hooks
// may be called from any thread.
#pragma once

#include <cstddef>

#include "interface/host_api.h"

namespace qmx {

struct AllocationHooks {
  void* (*allocate)(size_t size);
  void (*free)(void* block);
  void* (*reallocate)(void* block, size_t size);
  char* (*duplicate)(const char* text);
  size_t (*blockSize)(void* block);
  void* context;
};

// The installed hooks; constant-initialised, so they are in place before the
// first allocation of the process is served.
const AllocationHooks& Hooks();

inline void* CountedAllocate(size_t size) { return Hooks().allocate(size); }
inline void CountedFree(void* block) { Hooks().free(block); }
inline void* CountedReallocate(void* block, size_t size) { return Hooks().reallocate(block, size); }
inline char* CountedDuplicate(const char* text) { return Hooks().duplicate(text); }

// Copies size bytes into a new counted block with a NUL after them.
char* CountedCopy(const char* text, size_t size);

// An aligned block (alignments below a pointer's are raised to it), counted
// like any other. Freed with CountedFreeAligned and the same alignment: on
// Windows aligned blocks live apart from the others. Where they share the
// heap (Linux), CountedFree releases them too, as free() must.
void* CountedAllocateAligned(size_t alignment, size_t size);
void CountedFreeAligned(void* block, size_t alignment);

// Reads each counter atomically into out and zeroes the last 8 bytes.
void GetMemoryStats(MemoryStats* out);

// Bytes allocated minus bytes released.
unsigned long long BytesInUse();

}  // namespace qmx
