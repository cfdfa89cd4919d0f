// The process-wide pool of 4096-byte pages behind every context's record pools
// and block arena.
//
// Pages are carved from 64 KiB regions mapped from the system, sixteen pages
// each, and are never returned to the system; released pages are kept on a free
// list for reuse. Every operation is thread-safe (one mutex, created with the
// pool on first use).
#pragma once

#include <cstddef>

namespace qmx {

inline constexpr size_t kPageSize = 4096;
inline constexpr size_t kPagesPerRegion = 16;

// Returns a zeroed 4096-byte page aligned to 4096. Throws std::bad_alloc when
// the system refuses a new region.
void* AcquirePage();
// The same without zeroing: for owners that initialise what they use.
void* AcquireRawPage();
void ReleasePage(void* page);
// Returns count pages under one lock.
void ReleasePages(void* const* pages, size_t count);

// Pages currently in use (handed out by the pool and not set aside), and
// pages ever acquired from the pool.
struct PagePoolStats {
  size_t inUse;
  size_t acquired;
};
PagePoolStats GetPagePoolStats();

// An owner that keeps pages aside for reuse without returning them (a parked
// context, see value_context.cc) counts them here, so that inUse reports the
// pages that live documents hold. Lock-free.
void NotePagesSetAside(size_t count);
void NotePagesTakenBack(size_t count);

// Remembers the pages taken for one owner so that they go back to the pool
// together, whatever they hold at that point. The record of the pages lives in
// pages of the pool as well. Not thread-safe: a ledger belongs to one context.
class PageLedger {
 public:
  PageLedger() = default;
  ~PageLedger() { ReleaseAll(); }
  PageLedger(const PageLedger&) = delete;
  PageLedger& operator=(const PageLedger&) = delete;

  // A page that is not zeroed; it stays recorded until ReleaseAll.
  void* Acquire();
  void ReleaseAll();
  // Returns every page to the pool but the first keep of those recorded in
  // place, which Acquire hands out again, in the same order, before it takes
  // new ones: an owner that starts over reuses its pages without the pool's
  // lock. The kept pages are poisoned whole until handed out again. Returns
  // how many were kept.
  size_t Recycle(size_t keep);

 private:
  struct Directory {
    Directory* next;
    size_t count;
    void* pages[(kPageSize - 2 * sizeof(void*)) / sizeof(void*)];
  };
  static_assert(sizeof(Directory) <= kPageSize);

  void ReleaseDirectory();

  // The first few pages are recorded in place: most documents need no more.
  static constexpr size_t kInlinePages = 6;
  void* inline_[kInlinePages];
  size_t inlineHeld_ = 0;  // pages recorded in inline_
  size_t inlineUsed_ = 0;  // of those, handed out since the last Recycle
  Directory* directory_ = nullptr;
};

}  // namespace qmx
