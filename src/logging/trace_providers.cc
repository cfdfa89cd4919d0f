#include "logging/trace_providers.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

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

  // Registered at load; the main thread is named when a session already wants it.
  Providers() {
    for (TraceProvider* provider : {&first, &threadNames, &third, &fourth}) provider->Register();
    if (threadNames.EventEnabled(0)) WriteThreadName("Main thread");
  }
  ~Providers() {
    for (TraceProvider* provider : {&first, &threadNames, &third, &fourth}) provider->Unregister();
  }
};

Providers& All() {
  static Providers providers;
  return providers;
}

[[maybe_unused]] const bool kRegisteredAtLoad = (All(), true);

}  // namespace

TraceProvider& ThreadNameProvider() { return All().threadNames; }

bool WriteThreadName(const char* name) {
  if (!ThreadNameProvider().EventEnabled(0)) return false;
  struct {
    uint32_t threadId;
    char name[64];
  } fields{};
  fields.threadId = static_cast<uint32_t>(syscall(SYS_gettid));
  const char* text = name == nullptr ? "NULL" : name;
  std::strncpy(fields.name, text, sizeof fields.name - 1);
  // No tracing service to hand the fields to on this platform.
  return true;
}

}  // namespace qmx
