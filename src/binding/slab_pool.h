// A pool of equal-sized slots carved from 4096-byte pages of the page pool.
//
// Page layout: a header (links to the neighbouring pages with free slots, page
// size, count of used slots, index of the first free slot) occupies the first
// ceil(sizeof(header) / slotSize) slots; every other slot is free or used. Free
// slots form a chain of 16-bit slot indices kept in each free slot's first two
// bytes; 0 ends the chain. A page is found from any of its slots by rounding the
// slot's address down to a multiple of 4096.
//
// A new page's chain is written as it is used, not all at once: the slots of
// the newest page from its frontier on have never been handed out, and the
// chain runs through them in order (each one's link is the next index, the
// last one's 0). The pool keeps that frontier, and a link is written into a
// slot only when the slot is freed, so a document that takes a few slots of a
// page touches only those. Only the newest page can have a frontier: a new
// page is taken only when every page is full, its predecessor included.
//
// A pool given a PageLedger takes its pages from the ledger and leaves them
// there: the ledger's owner returns them all at once, used slots included, so
// a document can be dropped without freeing its records one by one. A pool
// without one takes pages from the page pool and returns them when it is
// destroyed, by which time every slot must have been freed.
//
// Not thread-safe: a pool belongs to one context.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qmx {

class PageLedger;

class SlabPool {
 public:
  explicit SlabPool(size_t slotSize, PageLedger* ledger = nullptr);
  ~SlabPool();
  SlabPool(const SlabPool&) = delete;
  SlabPool& operator=(const SlabPool&) = delete;

  // A slot of slotSize bytes, not initialised. Throws std::bad_alloc when no
  // page can be had.
  void* Allocate();
  // Returns a slot obtained from this pool.
  void Free(void* slot);
  // Forgets every page and slot at once, for a pool given a PageLedger whose
  // owner takes its pages back: the pool is then as if new.
  void Reset() {
    withFree_ = nullptr;
    fresh_ = nullptr;
    frontier_ = 0;
    pages_ = 0;
  }

  size_t SlotSize() const { return slotSize_; }

  struct PageHeader {
    PageHeader* prev;
    PageHeader* next;
    uint32_t pageSize;
    uint16_t used;
    uint16_t firstFree;
  };

 private:
  void LinkFront(PageHeader* page);
  void Unlink(PageHeader* page);
  PageHeader* NewPage();

  size_t slotSize_;
  uint16_t firstSlot_;   // index of the first slot after the header
  uint16_t slotCount_;   // slots per page, header slots included
  PageLedger* ledger_;
  PageHeader* withFree_ = nullptr;  // pages that have at least one free slot
  PageHeader* fresh_ = nullptr;     // the page whose slots from frontier_ on were never used
  uint16_t frontier_ = 0;
  size_t pages_ = 0;
};

#if defined(__i386__)
static_assert(sizeof(SlabPool::PageHeader) == 16, "page header is 16 bytes on i386");
#endif

}  // namespace qmx
