// For programs that link the runtime library directly (tests, tools): the
// counted allocator's system calls are the ordinary malloc family. The shared
// object does not link this file; there the linker supplies these names.
// The aligned form, where the system has one, is in raw_allocation_posix.cc.
#include <stdlib.h>

extern "C" {
void* __real_malloc(size_t size) { return malloc(size); }
void __real_free(void* block) { free(block); }
void* __real_realloc(void* block, size_t size) { return realloc(block, size); }
}
