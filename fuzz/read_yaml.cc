// ReadYaml over arbitrary text: every outcome is a value or one message.
// Accepted documents are written as JSON, which walks every node.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "serialization/json.h"
#include "serialization/yaml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = qmx::fuzz::AsText(data, size);
  qmx::ValueResult result = qmx::ReadYaml(text);
  if (!result.Ok()) {
    if (result.ErrorText().empty()) std::abort();
    return 0;
  }
  (void)qmx::WriteJson(result.value(), nullptr, "");
  return 0;
}
