// DecodeMessagePack against its reference model on arbitrary bytes: the same
// success or failure, and on success the same value and consumed count. Any
// disagreement aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/reference_readers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string difference = qmx::reference::CompareDecodeMessagePack(data, size);
  if (!difference.empty()) {
    std::fprintf(stderr, "DecodeMessagePack disagrees with the reference: %s\n", difference.c_str());
    std::abort();
  }
  return 0;
}
