#include "binding/slab_pool.h"

#include <cassert>
#include <cstring>

#include "binding/asan_poison.h"
#include "binding/page_pool.h"

namespace qmx {
namespace {

uint16_t ReadLink(const char* slot) {
  uint16_t link;
  std::memcpy(&link, slot, sizeof link);
  return link;
}

void WriteLink(char* slot, uint16_t link) { std::memcpy(slot, &link, sizeof link); }

}  // namespace

SlabPool::SlabPool(size_t slotSize, PageLedger* ledger)
    : slotSize_(slotSize < sizeof(uint16_t) ? sizeof(uint16_t) : slotSize),
      firstSlot_(static_cast<uint16_t>((sizeof(PageHeader) + slotSize_ - 1) / slotSize_)),
      slotCount_(static_cast<uint16_t>(kPageSize / slotSize_)),
      ledger_(ledger) {
  assert(slotCount_ > firstSlot_);
}

SlabPool::~SlabPool() {
  if (ledger_ != nullptr) return;  // the ledger's owner returns the pages
  // Every slot has been returned by the time a context is destroyed, so every
  // page is on the free list.
  while (withFree_ != nullptr) {
    PageHeader* page = withFree_;
    Unlink(page);
    ReleasePage(page);
    --pages_;
  }
  assert(pages_ == 0);
}

void SlabPool::LinkFront(PageHeader* page) {
  page->prev = nullptr;
  page->next = withFree_;
  if (withFree_ != nullptr) withFree_->prev = page;
  withFree_ = page;
}

void SlabPool::Unlink(PageHeader* page) {
  if (page->prev != nullptr) page->prev->next = page->next;
  if (page->next != nullptr) page->next->prev = page->prev;
  if (withFree_ == page) withFree_ = page->next;
  page->prev = page->next = nullptr;
}

SlabPool::PageHeader* SlabPool::NewPage() {
  auto* page = static_cast<PageHeader*>(ledger_ != nullptr ? ledger_->Acquire() : AcquireRawPage());
  page->pageSize = static_cast<uint32_t>(kPageSize);
  page->used = 0;
  page->firstFree = firstSlot_;
  // The chain through the slots is implied by the frontier until they are used.
  fresh_ = page;
  frontier_ = firstSlot_;
  char* base = reinterpret_cast<char*>(page);
  // Everything past the header belongs to no object until Allocate hands it
  // out, the unused tail of the page included.
  PoisonMemory(base + firstSlot_ * slotSize_, kPageSize - firstSlot_ * slotSize_);
  ++pages_;
  LinkFront(page);
  return page;
}

void* SlabPool::Allocate() {
  PageHeader* page = withFree_ != nullptr ? withFree_ : NewPage();
  char* slot = reinterpret_cast<char*>(page) + page->firstFree * slotSize_;
  UnpoisonMemory(slot, slotSize_);
  if (page == fresh_ && page->firstFree == frontier_) {
    // A slot never used: its link is the next slot, or the end of the page.
    ++frontier_;
    if (frontier_ == slotCount_) {
      frontier_ = 0;
      fresh_ = nullptr;
    }
    page->firstFree = frontier_;
  } else {
    page->firstFree = ReadLink(slot);
  }
  ++page->used;
  if (page->firstFree == 0) Unlink(page);
  return slot;
}

void SlabPool::Free(void* slot) {
  auto address = reinterpret_cast<uintptr_t>(slot);
  auto* page = reinterpret_cast<PageHeader*>(address & ~(uintptr_t{kPageSize} - 1));
  auto index = static_cast<uint16_t>((address - reinterpret_cast<uintptr_t>(page)) / slotSize_);
  bool wasFull = page->firstFree == 0;
  // Writing the link into a slot that is already free (a double free) is
  // reported by the sanitizer, since free slots are poisoned.
  WriteLink(static_cast<char*>(slot), page->firstFree);
  PoisonMemory(slot, slotSize_);
  page->firstFree = index;
  --page->used;
  if (wasFull) LinkFront(page);
}

}  // namespace qmx
