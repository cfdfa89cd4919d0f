// DecodeMessagePack over arbitrary bytes: consumed never passes the input,
// and the items that follow a decoded one are decoded in turn. Each decoded
// value is written as JSON, which walks every node of it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "serialization/json.h"
#include "serialization/msgpack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t offset = 0;
  // A handful of items is enough to reach the position arithmetic of the
  // later ones; the cap keeps one input's work bounded.
  for (int item = 0; item < 8 && offset < size; ++item) {
    size_t consumed = 0;
    qmx::ValueResult result = qmx::DecodeMessagePack(data + offset, size - offset, consumed);
    if (consumed > size - offset) {
      std::fprintf(stderr, "consumed %zu of %zu bytes\n", consumed, size - offset);
      std::abort();
    }
    if (!result.Ok()) {
      if (result.ErrorText().empty()) std::abort();
      return 0;
    }
    (void)qmx::WriteJson(result.value(), nullptr, "");
    if (consumed == 0) return 0;
    offset += consumed;
  }
  return 0;
}
