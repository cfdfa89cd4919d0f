// ReadJson over arbitrary text; whatever it accepts, WriteJson's text of the
// result must read back to a value that writes the same text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "serialization/json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = qmx::fuzz::AsText(data, size);
  qmx::ValueResult first = qmx::ReadJson(text);
  if (!first.Ok()) return 0;
  const std::string written = qmx::WriteJson(first.value(), nullptr, "");
  // A top-level Empty writes "", which is not JSON; nothing to read back.
  if (first.value().IsEmpty()) return 0;
  qmx::ValueResult second = qmx::ReadJson(written);
  if (!second.Ok()) {
    std::fprintf(stderr, "written JSON does not read back: %s\n%s\n",
                 std::string(second.ErrorText()).c_str(), written.c_str());
    std::abort();
  }
  // A NaN or infinite Float is written as null, which reads back as Empty; at
  // the top level that writes "" rather than "null".
  const bool nullAtTop = written == "null" && second.value().IsEmpty();
  const std::string rewritten = qmx::WriteJson(second.value(), nullptr, "");
  if (rewritten != written && !nullAtTop) {
    std::fprintf(stderr, "round trip changed the text:\n%s\n%s\n", written.c_str(),
                 rewritten.c_str());
    std::abort();
  }
  // The indented layout must read back as well.
  const std::string pretty = qmx::WriteJson(first.value(), nullptr, "\n");
  if (!qmx::ReadJson(pretty).Ok()) {
    std::fprintf(stderr, "indented JSON does not read back:\n%s\n", pretty.c_str());
    std::abort();
  }
  return 0;
}
