// Allocation names of the DLL's link on Windows (see cmake/windows.cmake).
#include <stddef.h>

#include "interface/counted_allocator.h"
#include "port/heap.h"

extern "C" {

// The C runtime of Windows spells strdup _strdup as well; the link wraps both.
char* __wrap__strdup(const char* text) { return qmx::CountedDuplicate(text); }

// The thread runtime's per-thread memory (emulated thread-local storage, the
// thread library) comes from the C runtime uncounted, so that the bytes in use
// do not drift with the threads that call into the plugin.
void* __real_calloc(size_t count, size_t size);
void* qmx_thread_runtime_malloc(size_t size) { return qmx::port::SystemAllocate(size); }
void* qmx_thread_runtime_calloc(size_t count, size_t size) { return __real_calloc(count, size); }
void* qmx_thread_runtime_realloc(void* block, size_t size) { return qmx::port::SystemReallocate(block, size); }
void qmx_thread_runtime_free(void* block) { qmx::port::SystemFree(block); }
}
