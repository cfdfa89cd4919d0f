// ToValue over bounded HostValue graphs that the input describes (see
// host_graph.h). A graph with an unknown kind or with null data under a
// non-zero length must be refused. An accepted graph goes through FromValue
// and ToValue again, must give the same value, and is released twice.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/host_graph.h"
#include "interface/host_value.h"
#include "serialization/json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qmx::fuzz::GraphBuilder builder(data, size);
  HostValue record;
  builder.Build(record, 0);

  qmx::ValueResult first = qmx::ToValue(record, "<fuzz>");
  if (!first.Ok()) {
    if (first.ErrorText().empty()) std::abort();
    return 0;
  }
  if (builder.MustBeRefused()) {
    std::fprintf(stderr, "ToValue accepted an unknown kind or null data with a length\n");
    std::abort();
  }

  HostValue copy{};
  if (!qmx::FromValue(first.value(), copy)) std::abort();
  qmx::ValueResult second = qmx::ToValue(copy, "<copy>");
  if (!second.Ok()) std::abort();
  if (qmx::WriteJson(first.value(), nullptr, "") != qmx::WriteJson(second.value(), nullptr, "")) {
    std::fprintf(stderr, "FromValue and ToValue changed the value\n");
    std::abort();
  }
  qmx::Release(copy);
  qmx::Release(copy);
  static const HostValue kZero{};
  if (std::memcmp(&copy, &kZero, sizeof copy) != 0) std::abort();
  return 0;
}
