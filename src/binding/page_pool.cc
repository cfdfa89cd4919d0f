#include "binding/page_pool.h"

#include <cstring>
#include <mutex>
#include <new>

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
    free_ = page->next;
    std::memset(static_cast<void*>(page), 0, kPageSize);
    return page;
  }

  void Release(void* page) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto* entry = static_cast<FreePage*>(page);
    entry->next = free_;
    free_ = entry;
  }

 private:
  // Maps one region and threads its pages onto the free list. Called with the
  // mutex held.
  void MapRegion() {
    void* region = port::ReservePages(kPageSize * kPagesPerRegion);
    if (region == nullptr) throw std::bad_alloc();
    auto* bytes = static_cast<char*>(region);
    for (size_t i = kPagesPerRegion; i-- > 0;) {
      auto* page = reinterpret_cast<FreePage*>(bytes + i * kPageSize);
      page->next = free_;
      free_ = page;
    }
  }

  std::mutex mutex_;
  FreePage* free_ = nullptr;
};

// Created on first use and never destroyed, so contexts that outlive static
// destruction can still return their pages.
PagePool& Pool() {
  static PagePool* pool = new (std::nothrow) PagePool();
  if (pool == nullptr) throw std::bad_alloc();
  return *pool;
}

}  // namespace

void* AcquirePage() { return Pool().Acquire(); }
void ReleasePage(void* page) { Pool().Release(page); }

}  // namespace qmx
