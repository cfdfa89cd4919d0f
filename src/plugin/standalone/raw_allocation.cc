// For programs that link the runtime library directly (tests, tools): the
// counted allocator's system calls are the ordinary malloc family. The shared
// object does not link this file; there the linker supplies these names.
#include <stdlib.h>

extern "C" {
void* __real_malloc(size_t size) { return malloc(size); }
void __real_free(void* block) { free(block); }
void* __real_realloc(void* block, size_t size) { return realloc(block, size); }
int __real_posix_memalign(void** block, size_t alignment, size_t size) {
  return posix_memalign(block, alignment, size);
}
}
