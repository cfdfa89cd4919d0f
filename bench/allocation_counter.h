// Counts the operator new calls of this process (the benchmark program links
// the runtime directly, so its containers and strings allocate through the
// global operator new replaced in allocation_counter.cc).
#pragma once

#include <cstdint>

namespace qmx::bench {

uint64_t OperatorNewCalls();

}  // namespace qmx::bench
