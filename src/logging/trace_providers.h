// The four event-tracing providers of the logging module and the state their
// enable callbacks keep.
//
// A tracing session enables a provider with a level and two keyword masks;
// the provider then knows, per event it defines, whether that event is wanted.
// Registration and writes go through the system's tracing service (see
// port/trace.h); where there is none, nothing is registered or written, but
// the enable-state bookkeeping is the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "port/trace.h"

namespace qmx {

using TraceGuid = port::TraceGuid;
using TraceEventDescriptor = port::TraceEventDescriptor;

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

  // Registers with the tracing service, which then reports sessions through
  // OnEnable; false when there is no service or it refuses.
  bool Register();
  void Unregister();
  bool Registered() const { return registered_; }
  // Writes event index of the provider's table with the given fields; whether
  // the service took it. Does not look at the enable state.
  bool Write(size_t index, const port::TraceField* fields, size_t count) const;
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
  bool registered_ = false;
  port::TraceHandle handle_ = 0;
};

// Registers the four providers, once per process, and writes the thread-name
// event for "Main thread" when a session already wants it. Called when the
// plugin is loaded, never from a static initialiser: it loads the tracing
// library, which the Windows loader lock forbids there. The providers are
// unregistered when the module is unloaded.
void RegisterTraceProviders();

// The provider that carries the thread-name event (id 103).
TraceProvider& ThreadNameProvider();

// Writes the thread-name event (the current thread's id and name as an ANSI
// text with its NUL, "NULL" for a null name) when the session wants it;
// returns whether it was wanted.
bool WriteThreadName(const char* name);

}  // namespace qmx
