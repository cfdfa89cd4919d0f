#include "binding/value_context.h"

#include <atomic>
#include <bit>
#include <cstring>
#include <new>

#include "binding/asan_poison.h"
#include "binding/member_map.h"

namespace qmx {

namespace {

struct EmptyEntry {
  InternedString header;
  char text[1];
};

EmptyEntry emptyEntry = {{0, 0x811C9DC5u, 0, 0, 0}, {'\0'}};

constexpr size_t kBlockAlignment = 16;

size_t EntrySize(size_t length) { return sizeof(InternedString) + length + 1; }

// Copies size bytes; texts up to 16 bytes (most names and short values) with
// two loads and two stores that may overlap, never touching a byte outside
// either range.
inline void CopyText(char* to, const char* from, size_t size) {
  if (size >= 8 && size <= 16) {
    uint64_t head, tail;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + size - 8, 8);
    std::memcpy(to, &head, 8);
    std::memcpy(to + size - 8, &tail, 8);
  } else if (size >= 4 && size < 8) {
    uint32_t head, tail;
    std::memcpy(&head, from, 4);
    std::memcpy(&tail, from + size - 4, 4);
    std::memcpy(to, &head, 4);
    std::memcpy(to + size - 4, &tail, 4);
  } else if (size < 4) {
    for (size_t i = 0; i < size; ++i) to[i] = from[i];
  } else {
    std::memcpy(to, from, size);
  }
}

// Parked contexts, each emptied and keeping at most kKeptPages pages besides
// its own; a slot is taken and filled by atomic exchange, so any thread may
// take a context another thread parked.
constexpr size_t kParkedContexts = 4;
constexpr size_t kKeptPages = 3;
std::atomic<ValueContext*> parked[kParkedContexts];

}  // namespace

BlockArena::~BlockArena() {
  while (large_ != nullptr) {
    LargeBlock* block = large_;
    large_ = block->next;
    ::operator delete(block);
  }
}

// A block in use is addressable, so writing the link into a block that is
// already free (a double free) is reported by the sanitizer.
void BlockArena::Push(size_t cls, void* block) {
  auto* entry = static_cast<FreeBlock*>(block);
  entry->next = free_[cls];
  free_[cls] = entry;
  PoisonMemory(block, size_t{1} << (cls + kMinShift));
}

void BlockArena::Donate(char* begin, char* end) {
  auto aligned = (reinterpret_cast<uintptr_t>(begin) + kBlockAlignment - 1) & ~(kBlockAlignment - 1);
  next_ = reinterpret_cast<char*>(aligned);
  end_ = end;
  PoisonMemory(next_, static_cast<size_t>(end_ - next_));
}

void BlockArena::Reset() {
  while (large_ != nullptr) {
    LargeBlock* block = large_;
    large_ = block->next;
    ::operator delete(block);
  }
  for (FreeBlock*& list : free_) list = nullptr;
  next_ = end_ = nullptr;
}

void* BlockArena::Cut(size_t cls) {
  size_t size = size_t{1} << (cls + kMinShift);
  if (static_cast<size_t>(end_ - next_) < size) {
    // The rest of the current page goes to the free lists, largest blocks
    // first, so nothing of it is lost.
    while (end_ - next_ >= static_cast<ptrdiff_t>(kBlockAlignment)) {
      size_t left = static_cast<size_t>(end_ - next_);
      size_t piece = ClassOf(std::bit_floor(left));
      if (piece >= kClasses) piece = kClasses - 1;
      UnpoisonMemory(next_, size_t{1} << (piece + kMinShift));
      Push(piece, next_);
      next_ += size_t{1} << (piece + kMinShift);
    }
    auto* page = static_cast<char*>(pages_.Acquire());
    next_ = page;
    end_ = page + kPageSize;
    PoisonMemory(page, kPageSize);
  }
  void* block = next_;
  next_ += size;
  UnpoisonMemory(block, size);
  return block;
}

void* BlockArena::AllocateLarge(size_t size) {
  if (size > SIZE_MAX - kLargeHeader) throw std::bad_alloc();
  auto* block = static_cast<LargeBlock*>(::operator new(kLargeHeader + size));
  block->prev = nullptr;
  block->next = large_;
  if (large_ != nullptr) large_->prev = block;
  large_ = block;
  return reinterpret_cast<char*>(block) + kLargeHeader;
}

void BlockArena::Free(void* block, size_t size) {
  if (block == nullptr) return;
  if (size <= kMaxSmall) {
    Push(ClassOf(size), block);
    return;
  }
  auto* header = reinterpret_cast<LargeBlock*>(static_cast<char*>(block) - kLargeHeader);
  if (header->prev != nullptr) header->prev->next = header->next;
  if (header->next != nullptr) header->next->prev = header->prev;
  if (large_ == header) large_ = header->next;
  ::operator delete(header);
}

ValueContext::ValueContext() : members(sizeof(MemberMap), &pages) {}

ValueContext* ValueContext::Create() {
  static_assert(sizeof(ValueContext) + 256 <= kPageSize);
  for (std::atomic<ValueContext*>& slot : parked) {
    if (slot.load(std::memory_order_relaxed) == nullptr) continue;
    ValueContext* context = slot.exchange(nullptr, std::memory_order_acquire);
    if (context != nullptr) {
      NotePagesTakenBack(context->parkedPages_);
      return context;
    }
  }
  void* page = AcquireRawPage();
  auto* context = new (page) ValueContext();
  context->blocks.Donate(static_cast<char*>(page) + sizeof(ValueContext),
                         static_cast<char*>(page) + kPageSize);
  return context;
}

size_t ValueContext::Recycle() {
  blocks.Reset();
  blobs.Reset();
  enums.Reset();
  elements.Reset();
  members.Reset();
  // The remembered names and orders were blocks of the arena: forgetting
  // them is all that is left to do.
  for (uint32_t used = ordersUsed_; used != 0; used &= used - 1) {
    orders_[std::countr_zero(used)] = RememberedOrder{};
    sightings_[std::countr_zero(used)] = 0;
  }
  ordersUsed_ = 0;
  std::memset(static_cast<void*>(inlineTable_), 0, sizeof inlineTable_);
  table_ = inlineTable_;
  capacity_ = kInlineTable;
  count_ = 0;
  size_t kept = pages.Recycle(kKeptPages);
  blocks.Donate(reinterpret_cast<char*>(this) + sizeof(ValueContext),
                reinterpret_cast<char*>(this) + kPageSize);
  return kept + 1;
}

void ValueContext::Destroy(ValueContext* context) {
  // Every string, array and record goes with the pages: nothing is released
  // one by one.
  size_t held = context->Recycle();
  context->parkedPages_ = held;
  NotePagesSetAside(held);
  for (std::atomic<ValueContext*>& slot : parked) {
    ValueContext* empty = nullptr;
    if (slot.load(std::memory_order_relaxed) == nullptr &&
        slot.compare_exchange_strong(empty, context, std::memory_order_release,
                                     std::memory_order_relaxed)) {
      return;
    }
  }
  NotePagesTakenBack(held);
  context->~ValueContext();
  ReleasePage(context);
}

InternedString* ValueContext::EmptyString() { return &emptyEntry.header; }

void ValueContext::AddRef(InternedString* entry) {
  if (entry != EmptyString()) ++entry->refs;
}

InternedString* ValueContext::Intern(std::string_view text, uint32_t hash) {
  if (text.empty()) return EmptyString();
  if (text.size() > UINT32_MAX - sizeof(InternedString) - 1) throw std::bad_alloc();
  // The table stays at most half full, so that every probe ends. It grows
  // before the lookup rather than after a miss, so that a new text goes where
  // the lookup stopped and the common path probes once.
  if ((count_ + 1) * 2 > capacity_) Grow();
  size_t i = Slot(hash);
  for (;; i = (i + 1) & (capacity_ - 1)) {
    InternedString* entry = table_[i];
    if (entry == nullptr) break;
    if (entry->hash == hash && entry->length == text.size() &&
        SameText(entry->Text(), text.data(), text.size())) {
      ++entry->refs;
      return entry;
    }
  }
  auto* entry = static_cast<InternedString*>(blocks.Allocate(EntrySize(text.size())));
  entry->refs = 1;
  entry->hash = hash;
  entry->length = static_cast<uint32_t>(text.size());
  entry->mark = 0;
  entry->markPosition = 0;
  CopyText(entry->Text(), text.data(), text.size());
  entry->Text()[text.size()] = '\0';
  table_[i] = entry;
  ++count_;
  return entry;
}

void ValueContext::Release(InternedString* entry) {
  if (entry == EmptyString() || --entry->refs != 0) return;
  size_t i = Slot(entry->hash);
  while (table_[i] != entry) i = (i + 1) & (capacity_ - 1);
  // Backward-shift deletion keeps every probe chain unbroken without tombstones.
  size_t hole = i;
  for (size_t j = (i + 1) & (capacity_ - 1); table_[j] != nullptr; j = (j + 1) & (capacity_ - 1)) {
    size_t home = Slot(table_[j]->hash);
    bool movable = hole <= j ? (home <= hole || home > j) : (home <= hole && home > j);
    if (movable) {
      table_[hole] = table_[j];
      hole = j;
    }
  }
  table_[hole] = nullptr;
  --count_;
  blocks.Free(entry, EntrySize(entry->length));
}

size_t ValueContext::ShapeSlot(const MemberSlot* slots, size_t size) {
  uint32_t mix = static_cast<uint32_t>(size) * 0x9E3779B1u;
  mix ^= slots[0].name->hash;
  mix = (mix ^ slots[size - 1].name->hash) * 0x85EBCA6Bu;
  return (mix >> 16) % kRememberedOrders;
}

const uint32_t* ValueContext::FindOrder(const MemberSlot* slots, size_t size) const {
  const RememberedOrder& remembered = orders_[ShapeSlot(slots, size)];
  if (remembered.size != size) return nullptr;
  for (size_t i = 0; i < size; ++i) {
    if (remembered.names[i] != slots[i].name) return nullptr;
  }
  return remembered.order;
}

void ValueContext::RememberOrder(const MemberSlot* slots, size_t size, const uint32_t* order) {
  if (size == 0 || size > kMaxRememberedSize) return;
  size_t index = ShapeSlot(slots, size);
  // A shape is remembered when it comes a second time: most maps of a small
  // document have a shape of their own, and remembering costs two blocks and
  // a reference per name. A sighting is kept as a sketch of the shape; one
  // that matches by chance only remembers a shape early, since FindOrder
  // compares every name.
  uint32_t sketch = static_cast<uint32_t>(size) * 0x9E3779B1u ^ slots[0].name->hash ^
                    (slots[size - 1].name->hash * 0x85EBCA6Bu) ^
                    static_cast<uint32_t>(reinterpret_cast<uintptr_t>(slots[0].name) >> 4);
  ordersUsed_ |= uint32_t{1} << index;
  if (sightings_[index] != sketch) {
    sightings_[index] = sketch;
    return;
  }
  RememberedOrder& slot = orders_[index];
  if (slot.size != 0) {
    for (size_t i = 0; i < slot.size; ++i) Release(slot.names[i]);
    blocks.Free(slot.names, slot.size * sizeof(InternedString*));
    blocks.Free(slot.order, slot.size * sizeof(uint32_t));
    slot.size = 0;
  }
  auto** names = static_cast<InternedString**>(blocks.Allocate(size * sizeof(InternedString*)));
  uint32_t* copy;
  try {
    copy = static_cast<uint32_t*>(blocks.Allocate(size * sizeof(uint32_t)));
  } catch (...) {
    blocks.Free(names, size * sizeof(InternedString*));
    throw;
  }
  for (size_t i = 0; i < size; ++i) {
    names[i] = slots[i].name;
    AddRef(names[i]);
  }
  std::memcpy(copy, order, size * sizeof(uint32_t));
  slot.names = names;
  slot.order = copy;
  slot.size = size;
}

void ValueContext::Grow() {
  size_t capacity = capacity_ * 2;
  auto** table = static_cast<InternedString**>(blocks.Allocate(capacity * sizeof(InternedString*)));
  std::memset(static_cast<void*>(table), 0, capacity * sizeof(InternedString*));
  for (size_t i = 0; i < capacity_; ++i) {
    InternedString* entry = table_[i];
    if (entry == nullptr) continue;
    size_t j = entry->hash & (capacity - 1);
    while (table[j] != nullptr) j = (j + 1) & (capacity - 1);
    table[j] = entry;
  }
  if (table_ != inlineTable_) blocks.Free(table_, capacity_ * sizeof(InternedString*));
  table_ = table;
  capacity_ = capacity;
}

}  // namespace qmx
