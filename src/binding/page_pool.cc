#include "binding/page_pool.h"

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
    return {inUse_, acquired_};
  }

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

void* PageLedger::Acquire() {
  if (inlineCount_ < kInlinePages) {
    void* page = AcquireRawPage();
    inline_[inlineCount_++] = page;
    return page;
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
  for (size_t i = 0; i < inlineCount_; ++i) UnpoisonMemory(inline_[i], kPageSize);
  ReleasePages(inline_, inlineCount_);
  inlineCount_ = 0;
  while (directory_ != nullptr) {
    Directory* directory = directory_;
    directory_ = directory->next;
    for (size_t i = 0; i < directory->count; ++i) UnpoisonMemory(directory->pages[i], kPageSize);
    ReleasePages(directory->pages, directory->count);
    ReleasePage(directory);
  }
}

}  // namespace qmx
