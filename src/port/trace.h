// The system's event tracing service (Event Tracing for Windows): provider
// registration, enable notifications and event writes. EventRegister,
// EventWrite and EventUnregister are looked up in "Advapi32.dll" on first
// use, never from a static initialiser (that would load a library under the
// Windows loader lock). Where the service or a function is missing, nothing
// registers and nothing is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace qmx::port {

struct TraceGuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};

struct TraceEventDescriptor {
  uint16_t id;
  uint8_t version;
  uint8_t channel;
  uint8_t level;
  uint8_t opcode;
  uint16_t task;
  uint64_t keyword;
};

// One field of an event: size bytes at data.
struct TraceField {
  const void* data;
  uint32_t size;
};

// Called by the service when a session enables (enable true) or disables a
// provider; possibly from inside TraceRegister.
using TraceEnableCallback = void (*)(void* context, bool enable, uint8_t level, uint64_t anyKeyword,
                                     uint64_t allKeyword);

using TraceHandle = uint64_t;

// Whether the three functions were found (looks them up on the first call).
bool TraceServiceAvailable();

// Registers a provider and returns its handle; nothing when the service is
// missing or refuses.
std::optional<TraceHandle> TraceRegister(const TraceGuid& guid, TraceEnableCallback callback,
                                         void* context);
void TraceUnregister(TraceHandle handle);
// Writes one event; whether the service took it.
bool TraceWrite(TraceHandle handle, const TraceEventDescriptor& event, const TraceField* fields, size_t count);

}  // namespace qmx::port
