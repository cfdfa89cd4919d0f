// The process-wide category table: 64 three-letter codes, bit i of a category
// mask standing for entry i. Entries 0..7 are predefined (DBG GEN XTR PRF MEM
// DSK NET TST); "LOC" is registered when the runtime is loaded and takes bit 8.
//
// Registration takes no lock: a new code claims the next entry with an atomic
// increment of the last used index. Once all 64 entries are used, a new code
// gets the mask 0 and the table is left as it is.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qmx {

inline constexpr uint64_t kCategoryDbg = 1u << 0;
inline constexpr uint64_t kCategoryGen = 1u << 1;
inline constexpr uint64_t kCategoryXtr = 1u << 2;
inline constexpr uint64_t kCategoryNet = 1u << 6;

inline constexpr size_t kCategoryCount = 64;

// The mask bit of a code (only its first three characters count), registering
// the code when it is new. A null code gives 0.
uint64_t CategoryMask(const char* code);

// The codes of the set bits from bit 0 upwards, separated by ';', into buffer;
// a zero mask gives "". Stops before a code that does not fit. Returns the
// length written; buffer is NUL-terminated when size > 0.
size_t CategoryNames(char* buffer, size_t size, uint64_t mask);

}  // namespace qmx
