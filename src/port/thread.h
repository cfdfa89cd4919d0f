// The calling thread's system id.
#pragma once

#include <cstdint>

namespace qmx::port {

// GetCurrentThreadId on Windows, the kernel's thread id (gettid) elsewhere.
uint32_t CurrentThreadId();

}  // namespace qmx::port
