// Routes the malloc family of everything linked into the shared object (our
// code, the static C++ runtime, libyaml) through the counted allocator. The
// link passes --wrap for each of these names, so a call of malloc inside the
// object reaches __wrap_malloc, and __real_malloc reaches the system's.
#include <errno.h>
#include <stdint.h>
#include <string.h>

#include "interface/counted_allocator.h"

extern "C" {

void* __wrap_malloc(size_t size) { return qmx::CountedAllocate(size); }

void __wrap_free(void* block) { qmx::CountedFree(block); }

void* __wrap_calloc(size_t count, size_t size) {
  if (size != 0 && count > SIZE_MAX / size) {
    errno = ENOMEM;
    return nullptr;
  }
  void* block = qmx::CountedAllocate(count * size);
  if (block != nullptr) memset(block, 0, count * size);
  return block;
}

void* __wrap_realloc(void* block, size_t size) { return qmx::CountedReallocate(block, size); }

char* __wrap_strdup(const char* text) { return qmx::CountedDuplicate(text); }

char* __wrap_strndup(const char* text, size_t limit) {
  size_t size = strnlen(text, limit);
  char* copy = static_cast<char*>(qmx::CountedAllocate(size + 1));
  if (copy == nullptr) return nullptr;
  memcpy(copy, text, size);
  copy[size] = '\0';
  return copy;
}

int __wrap_posix_memalign(void** block, size_t alignment, size_t size) {
  void* aligned = qmx::CountedAllocateAligned(alignment, size);
  if (aligned == nullptr) return ENOMEM;
  *block = aligned;
  return 0;
}

void* __wrap_aligned_alloc(size_t alignment, size_t size) {
  return qmx::CountedAllocateAligned(alignment, size);
}

void* __wrap_memalign(size_t alignment, size_t size) {
  return qmx::CountedAllocateAligned(alignment, size);
}
}
