// Memory straight from the system, for the value arenas' page pool.
#pragma once

#include <cstddef>

namespace qmx::port {

// Reserves and commits bytes of zeroed, readable and writable memory
// (mmap / VirtualAlloc); null when the system refuses. Such memory is never
// given back.
void* ReservePages(size_t bytes);

}  // namespace qmx::port
