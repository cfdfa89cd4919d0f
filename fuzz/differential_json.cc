// ReadJson against its reference model on arbitrary text: the same value, or
// the same message. Any disagreement aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_input.h"
#include "support/reference_readers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string difference = qmx::reference::CompareReadJson(qmx::fuzz::AsText(data, size));
  if (!difference.empty()) {
    std::fprintf(stderr, "ReadJson disagrees with the reference: %s\n", difference.c_str());
    std::abort();
  }
  return 0;
}
