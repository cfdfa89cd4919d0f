// LogTarget: the base of every place log lines go to.
//
// The logger never sees the objects: each target carries a sink interface, a
// table of twelve functions that take the interface itself first, and the
// logger's list holds pointers to those interfaces. A target is created
// detached; Attach or Configure puts it into the logger's list.
//
// Locks: each target has its own (recursive) lock guarding its settings and
// its output, and only this class takes it. The logger's lock always comes
// first: delivery holds it while Write takes the target's, and Attach, Detach,
// Configure and the destructor take the logger's lock before the target's.
// A derived target implements Output, which only puts out an already rendered
// line and is called with the target's lock held; it never locks anything.
//
// Destruction detaches the target. A target that other threads may still be
// logging to must be detached before its derived parts are destroyed (the
// concrete targets here do it first thing in their destructors), so that no
// delivery reaches a half-destroyed object.
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
  // Binds the sink interface's slots to this target.
  explicit LogTarget(const LogTargetSettings& settings = {});
  // Detaches (the logger's lock, then the target's), then releases the
  // settings.
  virtual ~LogTarget();
  LogTarget(const LogTarget&) = delete;
  LogTarget& operator=(const LogTarget&) = delete;

  // Removes the interface from the logger's list when attached.
  virtual void Detach();
  virtual const char* GetName() const { return "LogTarget"; }
  virtual const char* GetFormat() const { return format_.c_str(); }

  // Renders record with the target's format into a 4096-byte buffer and hands
  // the line to Output, all under the target's lock taken once; returns true.
  // The sink interface's write slot calls it.
  bool Write(const LogRecord& record);

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
  // Puts out one rendered line (ending in a line feed) of record. Called by
  // Write with the target's lock held, one line at a time.
  virtual void Output(const LogRecord& record, const char* line) = 0;

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
