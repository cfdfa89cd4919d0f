// Windows (and Wine) carry the tracing functions in Advapi32.dll: the port
// finds them, and a provider registers, writes and unregisters through them.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "port/trace.h"

namespace qmx {
namespace {

TEST(PortTraceWindowsTest, AdvapiProvidesTheTracingFunctions) {
  ASSERT_TRUE(port::TraceServiceAvailable());
  const port::TraceGuid guid = {0x5A1E0CF1, 0x3B7D, 0x4E21, {0x9A, 0x10, 0x6C, 0x2F, 0x81, 0x44, 0x0B, 0xF1}};
  auto ignore = [](void*, bool, uint8_t, uint64_t, uint64_t) {};
  std::optional<port::TraceHandle> registered = port::TraceRegister(guid, ignore, nullptr);
  ASSERT_TRUE(registered.has_value());
  const port::TraceHandle handle = *registered;
  EXPECT_NE(handle, 0u);
  const port::TraceEventDescriptor event = {.id = 103, .version = 0, .channel = 0, .level = 4, .opcode = 14,
                                            .task = 2, .keyword = 1};
  uint32_t threadId = 1;
  const port::TraceField fields[] = {{&threadId, sizeof threadId}, {"Main thread", 12}};
  EXPECT_TRUE(port::TraceWrite(handle, event, fields, 2));
  port::TraceUnregister(handle);
}

}  // namespace
}  // namespace qmx
