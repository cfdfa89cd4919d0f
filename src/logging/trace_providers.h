// The four event-tracing providers of the logging module and the state their
// enable callbacks keep.
//
// A tracing session enables a provider with a level and two keyword masks;
// the provider then knows, per event it defines, whether that event is wanted.
// This platform has no tracing service: registration finds nothing to register
// with and writes go nowhere, but the enable-state bookkeeping is the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qmx {

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

class TraceProvider {
 public:
  static constexpr size_t kMaxEvents = 32;

  TraceProvider(const TraceGuid& guid, std::span<const TraceEventDescriptor> events);

  // The enable callback: enable with a session level and keyword masks, or
  // disable (which clears all state).
  void OnEnable(bool enable, uint8_t level, uint64_t anyKeyword, uint64_t allKeyword);

  bool Enabled() const { return enabled_; }
  uint8_t Level() const { return level_; }
  uint64_t AnyKeyword() const { return anyKeyword_; }
  uint64_t AllKeyword() const { return allKeyword_; }
  // Whether event index (of the provider's table) is wanted by the session.
  bool EventEnabled(size_t index) const;

  // No tracing service on this platform: nothing is registered or written.
  bool Register() { return false; }
  void Unregister() {}
  bool Registered() const { return false; }
  const TraceGuid& Guid() const { return guid_; }
  std::span<const TraceEventDescriptor> Events() const { return events_; }

 private:
  TraceGuid guid_;
  std::span<const TraceEventDescriptor> events_;
  bool enabled_ = false;
  uint8_t level_ = 0;
  uint64_t anyKeyword_ = 0;
  uint64_t allKeyword_ = 0;
  uint32_t eventEnabled_ = 0;  // bit i: event i
};

// The provider that carries the thread-name event (id 103).
TraceProvider& ThreadNameProvider();

// Writes the thread-name event (the current thread's id and name, "NULL" for
// a null name) when the session wants it; returns whether it was wanted.
bool WriteThreadName(const char* name);

}  // namespace qmx
