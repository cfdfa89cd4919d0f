#include "logging/trace_providers.h"

#include <cstring>
#include <iterator>
#include <mutex>
#include <optional>

#include "port/lock.h"
#include "port/thread.h"

namespace qmx {

TraceProvider::TraceProvider(const TraceGuid& guid, std::span<const TraceEventDescriptor> events)
    : guid_(guid), events_(events.first(events.size() < kMaxEvents ? events.size() : kMaxEvents)) {}

void TraceProvider::OnEnable(bool enable, uint8_t level, uint64_t anyKeyword, uint64_t allKeyword) {
  if (!enable) {
    enabled_ = false;
    level_ = 0;
    anyKeyword_ = allKeyword_ = 0;
    eventEnabled_ = 0;
    return;
  }
  enabled_ = true;
  level_ = level;
  anyKeyword_ = anyKeyword;
  allKeyword_ = allKeyword;
  eventEnabled_ = 0;
  for (size_t i = 0; i < events_.size(); ++i) {
    const TraceEventDescriptor& event = events_[i];
    bool levelOk = level == 0 || level >= event.level;
    bool keywordOk = event.keyword == 0 ||
                     ((event.keyword & anyKeyword) != 0 && (event.keyword & allKeyword) == allKeyword);
    if (levelOk && keywordOk) eventEnabled_ |= uint32_t{1} << i;
  }
}

bool TraceProvider::EventEnabled(size_t index) const {
  return index < events_.size() && (eventEnabled_ & (uint32_t{1} << index)) != 0;
}

bool TraceProvider::Register() {
  if (registered_) return true;
  auto onEnable = [](void* context, bool enable, uint8_t level, uint64_t anyKeyword, uint64_t allKeyword) {
    static_cast<TraceProvider*>(context)->OnEnable(enable, level, anyKeyword, allKeyword);
  };
  std::optional<port::TraceHandle> handle = port::TraceRegister(guid_, onEnable, this);
  registered_ = handle.has_value();
  handle_ = handle.value_or(0);
  return registered_;
}

void TraceProvider::Unregister() {
  if (!registered_) return;
  port::TraceUnregister(handle_);
  registered_ = false;
  handle_ = 0;
}

bool TraceProvider::Write(size_t index, const port::TraceField* fields, size_t count) const {
  if (!registered_ || index >= events_.size()) return false;
  return port::TraceWrite(handle_, events_[index], fields, count);
}

namespace {

constexpr TraceEventDescriptor kThreadNameEvents[] = {
    {.id = 103, .version = 0, .channel = 0, .level = 4, .opcode = 14, .task = 2, .keyword = 1},
};

// Four fixed, distinct identifiers.
constexpr TraceGuid kGuids[4] = {
    {0x5A1E0C01, 0x3B7D, 0x4E21, {0x9A, 0x10, 0x6C, 0x2F, 0x81, 0x44, 0x0B, 0x01}},
    {0x5A1E0C02, 0x3B7D, 0x4E21, {0x9A, 0x10, 0x6C, 0x2F, 0x81, 0x44, 0x0B, 0x02}},
    {0x5A1E0C03, 0x3B7D, 0x4E21, {0x9A, 0x10, 0x6C, 0x2F, 0x81, 0x44, 0x0B, 0x03}},
    {0x5A1E0C04, 0x3B7D, 0x4E21, {0x9A, 0x10, 0x6C, 0x2F, 0x81, 0x44, 0x0B, 0x04}},
};

struct Providers {
  TraceProvider first{kGuids[0], {}};
  TraceProvider threadNames{kGuids[1], kThreadNameEvents};
  TraceProvider third{kGuids[2], {}};
  TraceProvider fourth{kGuids[3], {}};

  ~Providers() {
    for (TraceProvider* provider : {&first, &threadNames, &third, &fourth}) provider->Unregister();
  }
};

Providers& All() {
  static Providers providers;
  return providers;
}

constinit port::Mutex registrationLock;
constinit bool registeredOnce = false;

}  // namespace

void RegisterTraceProviders() {
  std::lock_guard guard(registrationLock);
  if (registeredOnce) return;
  registeredOnce = true;
  Providers& providers = All();
  for (TraceProvider* provider : {&providers.first, &providers.threadNames, &providers.third, &providers.fourth}) {
    provider->Register();
  }
  // A session that is already running enabled the provider during Register.
  if (providers.threadNames.EventEnabled(0)) WriteThreadName("Main thread");
}

TraceProvider& ThreadNameProvider() { return All().threadNames; }

bool WriteThreadName(const char* name) {
  if (!ThreadNameProvider().EventEnabled(0)) return false;
  uint32_t threadId = port::CurrentThreadId();
  const char* text = name == nullptr ? "NULL" : name;
  const port::TraceField fields[] = {
      {&threadId, sizeof threadId},
      {text, static_cast<uint32_t>(std::strlen(text) + 1)},
  };
  ThreadNameProvider().Write(0, fields, std::size(fields));
  return true;
}

}  // namespace qmx
