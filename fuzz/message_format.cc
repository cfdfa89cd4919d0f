// Message templates with fuzzed templates and arguments. The input is an
// argument count, the arguments (a type byte and its payload each) and the
// template. Numbered formatting goes through FormatInto with a buffer of a
// fuzzed size allocated to exactly that size, so any write past it is caught;
// the named form runs over the same arguments as Values.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "binding/value.h"
#include "fuzz/fuzz_input.h"
#include "messages/message_format.h"
#include "plugin/named_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qmx::fuzz::Input input(data, size);
  const size_t count = input.Byte() % 8;
  const size_t bufferSize = 1 + input.Byte() % 96;
  std::vector<std::string> texts;
  texts.reserve(count);  // FormatArg keeps c_str() pointers into these
  std::vector<qmx::FormatArg> args;
  std::vector<qmx::Value> values(count);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t type = input.Byte();
    const uint64_t word = input.Word();
    switch (type % 8) {
      case 0:
        texts.push_back(input.Text(word % 32));
        args.emplace_back(texts.back());
        values[i].SetString(texts.back());
        break;
      case 1:
        args.emplace_back(static_cast<const char*>(nullptr));
        break;  // values[i] stays Empty
      case 2:
        args.emplace_back(static_cast<int32_t>(word));
        values[i].SetSigned(static_cast<int32_t>(word));
        break;
      case 3:
        args.emplace_back(static_cast<uint32_t>(word));
        values[i].SetBool(word & 1);
        break;
      case 4:
        args.emplace_back(static_cast<int64_t>(word));
        values[i].SetSigned(static_cast<int64_t>(word));
        break;
      case 5:
        args.emplace_back(word);
        values[i].SetUnsigned(word);
        break;
      case 6: {
        double real;
        std::memcpy(&real, &word, sizeof real);
        args.emplace_back(real);
        values[i].SetFloat(real);
        break;
      }
      default:
        args.emplace_back(static_cast<int32_t>(word));
        values[i].Append().SetSigned(static_cast<int64_t>(word));
        break;
    }
  }
  const std::string format = input.Rest();

  // Exactly bufferSize bytes: ASan reports any write beyond them.
  std::unique_ptr<char[]> buffer(new char[bufferSize]);
  const size_t written = qmx::FormatInto(buffer.get(), bufferSize, format.c_str(), args);
  if (written >= bufferSize || buffer[written] != '\0') std::abort();

  const std::string message = qmx::FormatMessageArgs(format.c_str(), args);
  if (message.size() >= qmx::kMessageBufferSize) std::abort();

  qmx::NamedMessage named = qmx::FormatNamed(format.c_str(), values);
  if (named.text.size() >= qmx::kMessageBufferSize) std::abort();
  if (named.fields.Kind() != qmx::ValueKind::Structure) std::abort();
  return 0;
}
