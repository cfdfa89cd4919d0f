// Marks pool memory that no object owns as unaddressable for AddressSanitizer.
//
// The page pool and the slab pools hand out memory the sanitizer sees as one
// large mapping, so without these marks a read through a stale pointer into a
// freed slot or a released page goes unnoticed. In sanitized builds a free
// slot or page is poisoned and unpoisoned again when it is handed out; in
// every other build both calls compile to nothing.
#pragma once

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define QMX_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QMX_ADDRESS_SANITIZER 1
#endif
#endif

#if defined(QMX_ADDRESS_SANITIZER)
#include <sanitizer/asan_interface.h>
#endif

namespace qmx {

inline void PoisonMemory([[maybe_unused]] const void* address, [[maybe_unused]] size_t size) {
#if defined(QMX_ADDRESS_SANITIZER)
  __asan_poison_memory_region(address, size);
#endif
}

inline void UnpoisonMemory([[maybe_unused]] const void* address, [[maybe_unused]] size_t size) {
#if defined(QMX_ADDRESS_SANITIZER)
  __asan_unpoison_memory_region(address, size);
#endif
}

}  // namespace qmx
