// The aligned allocation of the counted allocator's system calls, for programs
// that link the runtime library directly (see raw_allocation.cc).
#include <stdlib.h>

extern "C" int __real_posix_memalign(void** block, size_t alignment, size_t size) {
  return posix_memalign(block, alignment, size);
}
