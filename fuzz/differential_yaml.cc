// ReadYaml against its models, in two ways chosen by the input's first byte:
// even, the rest is text, compared with the JSON reference under the YAML
// rules wherever the JSON reference accepts it and libyaml does not refuse it;
// odd, the rest chooses a document with anchors and aliases whose value the
// YAML model builds along with it. Any disagreement aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_input.h"
#include "serialization/yaml.h"
#include "support/reference_readers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string difference;
  std::string text;
  bool aliasesOpenMapping = false;
  if (data[0] % 2 == 0) {
    text = std::string(qmx::fuzz::AsText(data + 1, size - 1));
    difference = qmx::reference::CompareReadYamlWithJson(text);
  } else {
    qmx::fuzz::Input input(data + 1, size - 1);
    qmx::reference::YamlDocuments documents([&input] {
      return static_cast<uint32_t>(input.Byte()) << 8 | input.Byte();
    });
    qmx::ValueResult expected;
    text = documents.Document(expected.value(), aliasesOpenMapping);
    difference = qmx::reference::Difference(expected, qmx::ReadYaml(text), true);
  }
  if (!difference.empty()) {
    std::fprintf(stderr, "ReadYaml disagrees with its model: %s\ntext: %s\n%s", difference.c_str(), text.c_str(),
                 aliasesOpenMapping ? "(an alias copies a mapping still being read)\n" : "");
    std::abort();
  }
  return 0;
}
