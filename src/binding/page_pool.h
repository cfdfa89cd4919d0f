// The process-wide pool of 4096-byte pages behind every context's record pools.
//
// Pages are carved from 64 KiB regions mapped from the system, sixteen pages
// each, and are never returned to the system; released pages are kept on a free
// list for reuse. Both operations are thread-safe (one mutex, created with the
// pool on first use).
#pragma once

#include <cstddef>

namespace qmx {

inline constexpr size_t kPageSize = 4096;
inline constexpr size_t kPagesPerRegion = 16;

// Returns a zeroed 4096-byte page aligned to 4096. Throws std::bad_alloc when
// the system refuses a new region.
void* AcquirePage();
void ReleasePage(void* page);

}  // namespace qmx
