#include "binding/page_pool.h"

#include <atomic>
#include <cstring>
#include <iterator>
#include <mutex>
#include <new>

#include "binding/asan_poison.h"
#include "port/pages.h"

namespace qmx {
namespace {

struct FreePage {
  FreePage* next;
};

class PagePool {
 public:
  void* Acquire() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (free_ == nullptr) MapRegion();
    FreePage* page = free_;
    UnpoisonMemory(page, kPageSize);
    free_ = page->next;
    ++inUse_;
    ++acquired_;
    return page;
  }

  void Release(void* const* pages, size_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < count; ++i) {
      auto* entry = static_cast<FreePage*>(pages[i]);
      entry->next = free_;
      free_ = entry;
      PoisonMemory(entry, kPageSize);
    }
    inUse_ -= count;
  }

  PagePoolStats Stats() {
    std::lock_guard<std::mutex> lock(mutex_);
    return {inUse_ - setAside.load(std::memory_order_relaxed), acquired_};
  }

  // Pages their owners keep aside (see NotePagesSetAside): kept apart from
  // the pool so that noting them needs neither the pool nor its lock.
  static inline std::atomic<size_t> setAside{0};

 private:
  // Maps one region and threads its pages onto the free list. Called with the
  // mutex held. A page on the free list is poisoned whole, its link included;
  // Acquire unpoisons it before reading the link.
  void MapRegion() {
    void* region = port::ReservePages(kPageSize * kPagesPerRegion);
    if (region == nullptr) throw std::bad_alloc();
    auto* bytes = static_cast<char*>(region);
    for (size_t i = kPagesPerRegion; i-- > 0;) {
      auto* page = reinterpret_cast<FreePage*>(bytes + i * kPageSize);
      page->next = free_;
      free_ = page;
      PoisonMemory(page, kPageSize);
    }
  }

  std::mutex mutex_;
  FreePage* free_ = nullptr;
  size_t inUse_ = 0;
  size_t acquired_ = 0;
};

// Created on first use and never destroyed, so contexts that outlive static
// destruction can still return their pages.
PagePool& Pool() {
  static PagePool* pool = new (std::nothrow) PagePool();
  if (pool == nullptr) throw std::bad_alloc();
  return *pool;
}

}  // namespace

void* AcquirePage() {
  void* page = Pool().Acquire();
  std::memset(page, 0, kPageSize);
  return page;
}

void* AcquireRawPage() { return Pool().Acquire(); }

void ReleasePage(void* page) { Pool().Release(&page, 1); }

void ReleasePages(void* const* pages, size_t count) {
  if (count != 0) Pool().Release(pages, count);
}

PagePoolStats GetPagePoolStats() { return Pool().Stats(); }

void NotePagesSetAside(size_t count) {
  PagePool::setAside.fetch_add(count, std::memory_order_relaxed);
}

void NotePagesTakenBack(size_t count) {
  PagePool::setAside.fetch_sub(count, std::memory_order_relaxed);
}

void* PageLedger::Acquire() {
  if (inlineUsed_ < kInlinePages) {
    if (inlineUsed_ == inlineHeld_) {
      inline_[inlineHeld_++] = AcquireRawPage();
    } else {
      UnpoisonMemory(inline_[inlineUsed_], kPageSize);
    }
    return inline_[inlineUsed_++];
  }
  if (directory_ == nullptr || directory_->count == std::size(directory_->pages)) {
    auto* directory = static_cast<Directory*>(AcquireRawPage());
    directory->next = directory_;
    directory->count = 0;
    directory_ = directory;
  }
  void* page = AcquireRawPage();
  directory_->pages[directory_->count++] = page;
  return page;
}

// The owner's blocks and slots may have left parts of a page poisoned; the
// pool poisons each page whole again once its link is written.
void PageLedger::ReleaseAll() {
  for (size_t i = 0; i < inlineHeld_; ++i) UnpoisonMemory(inline_[i], kPageSize);
  ReleasePages(inline_, inlineHeld_);
  inlineHeld_ = 0;
  inlineUsed_ = 0;
  ReleaseDirectory();
}

size_t PageLedger::Recycle(size_t keep) {
  if (keep > inlineHeld_) keep = inlineHeld_;
  for (size_t i = keep; i < inlineHeld_; ++i) UnpoisonMemory(inline_[i], kPageSize);
  ReleasePages(inline_ + keep, inlineHeld_ - keep);
  ReleaseDirectory();
  for (size_t i = 0; i < keep; ++i) PoisonMemory(inline_[i], kPageSize);
  inlineHeld_ = keep;
  inlineUsed_ = 0;
  return keep;
}

void PageLedger::ReleaseDirectory() {
  while (directory_ != nullptr) {
    Directory* directory = directory_;
    directory_ = directory->next;
    for (size_t i = 0; i < directory->count; ++i) UnpoisonMemory(directory->pages[i], kPageSize);
    ReleasePages(directory->pages, directory->count);
    ReleasePage(directory);
  }
}

}  // namespace qmx
