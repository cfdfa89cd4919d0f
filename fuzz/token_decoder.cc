// The token decoder over arbitrary tokens, and json::Reader directly over
// the same bytes. Decoding never throws; the reader throws only its own
// exceptions. A document the reader accepts is copied and compared, which
// walks its whole element tree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "entitlements/json_reader.h"
#include "entitlements/token_decoder.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = qmx::fuzz::AsText(data, size);

  qmx::TokenDecoder decoder(text);
  qmx::json::Object claims = decoder.GetClaims();
  if (!decoder.decoded() || decoder.segments().size() > size + 1) std::abort();
  (void)decoder.header().Find("alg");

  try {
    qmx::json::Object object = qmx::json::Reader::Read(text);
    const qmx::json::Object copy = object;
    if (!(copy == object)) std::abort();
    for (const qmx::json::Member& member : copy.members()) {
      if (copy.Find(member.name) == nullptr) std::abort();
      (void)member.value.Text();
      (void)member.value.Array();
    }
  } catch (const qmx::json::Exception&) {
  }
  (void)qmx::Base64UrlDecode(text);
  return 0;
}
