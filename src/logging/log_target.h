// LogTarget: the base of every place log lines go to.
//
// The logger never sees the objects: each target carries a sink interface, a
// table of twelve functions that take the interface itself first, and the
// logger's list holds pointers to those interfaces. A target is created
// detached; Attach or Configure puts it into the logger's list.
//
// Locks: each target has its own (recursive) lock guarding its settings and
// its output. The logger's lock always comes first: delivery holds it and
// Write takes the target's inside it, and Attach, Detach and Configure take
// the logger's lock before the target's.
// A class derived directly from LogTarget should detach before it is
// destroyed; the base destructor removes a still attached interface as a last
// resort.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "logging/log_record.h"

namespace qmx {

class LogTarget;

struct LogSink {
  int32_t (*version)(LogSink* sink);  // returns 1
  void (*setMinLevel)(LogSink* sink, int32_t level);
  int32_t (*getMinLevel)(LogSink* sink);
  void (*setMasks)(LogSink* sink, uint32_t includeLow, uint32_t includeHigh, uint32_t excludeLow,
                   uint32_t excludeHigh);
  uint64_t (*getIncludeMask)(LogSink* sink);
  uint64_t (*getExcludeMask)(LogSink* sink);
  const char* (*getName)(LogSink* sink);
  const char* (*getFormat)(LogSink* sink);
  void (*attach)(LogSink* sink);
  void (*detach)(LogSink* sink);
  bool (*isAttached)(LogSink* sink);
  bool (*write)(LogSink* sink, const LogRecord* record);  // the default writes nothing and returns false

  // Not a slot: the target this interface belongs to.
  LogTarget* owner;
};

struct LogTargetSettings {
  int32_t minLevel = kLogWarn;
  uint64_t includeMask = 0;
  uint64_t excludeMask = 0;
  std::string format = "#D| #L| #G| #M";
};

class LogTarget {
 public:
  explicit LogTarget(const LogTargetSettings& settings = {});
  // Releases the settings and the lock; removes the interface from the
  // logger when it is still attached.
  virtual ~LogTarget();
  LogTarget(const LogTarget&) = delete;
  LogTarget& operator=(const LogTarget&) = delete;

  // Removes the interface from the logger's list when attached.
  virtual void Detach();
  virtual const char* GetName() const { return "LogTarget"; }
  virtual const char* GetFormat() const { return format_.c_str(); }
  virtual bool Write(const LogRecord& record) = 0;

  LogSink* Sink() { return &sink_; }

  // Appends the interface to the logger's list when not attached yet (and a
  // logger exists).
  void Attach();
  bool IsAttached() const;

  void SetMinLevel(int32_t level);
  int32_t GetMinLevel() const;
  // The include mask keeps only the bits the exclude mask does not have.
  void SetMasks(uint64_t include, uint64_t exclude);
  uint64_t GetIncludeMask() const;
  uint64_t GetExcludeMask() const;

  // Detaches, takes the settings, attaches, then applies the level and the
  // masks (so exclusion wins). Leaves the target attached when a logger exists.
  void Configure(const LogTargetSettings& settings);

 protected:
  // Routes the sink's write slot to the virtual Write.
  void BindWrite();
  // Renders record with the target's format into buffer; returns the length.
  size_t Render(const LogRecord& record, char* buffer, size_t size) const;
  std::recursive_mutex& Lock() const { return lock_; }

 private:
  LogSink sink_;
  bool attached_ = false;
  mutable std::recursive_mutex lock_;
  int32_t minLevel_;
  uint64_t includeMask_;
  uint64_t excludeMask_;
  std::string format_;
};

}  // namespace qmx
