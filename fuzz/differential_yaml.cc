// ReadYaml against the JSON reference under the YAML rules, on every input
// the JSON reference accepts and libyaml does not refuse: the same value. Any
// disagreement aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_input.h"
#include "support/reference_readers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string difference = qmx::reference::CompareReadYamlWithJson(qmx::fuzz::AsText(data, size));
  if (!difference.empty()) {
    std::fprintf(stderr, "ReadYaml disagrees with the JSON reference: %s\n", difference.c_str());
    std::abort();
  }
  return 0;
}
