// The arena behind a root Value: its pages, its string table, its four record
// pools and the block arena that holds its arrays, strings and blob bytes.
// Internal to the value model (binding/value*.cc, member_map.cc, arena_array.h).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string_view>

#include "binding/asan_poison.h"
#include "binding/page_pool.h"
#include "binding/slab_pool.h"
#include "binding/value.h"

namespace qmx {

// An interned string: header followed by length bytes of text and a NUL.
// mark and markPosition belong to MemberMarks (0 in a new entry): the map a
// decoder last appended the name to, and where.
struct InternedString {
  uint32_t refs;
  uint32_t hash;
  uint32_t length;
  uint32_t mark;
  uint32_t markPosition;

  const char* Text() const { return reinterpret_cast<const char*>(this + 1); }
  char* Text() { return reinterpret_cast<char*>(this + 1); }
  std::string_view View() const { return {Text(), length}; }
};

// Whether the first and the last sizeof(Word) bytes of a and b are equal;
// for sizeof(Word) <= size <= 2 * sizeof(Word) the two cover every byte.
template <typename Word>
bool SameEnds(const char* a, const char* b, size_t size) {
  Word headA, tailA, headB, tailB;
  std::memcpy(&headA, a, sizeof(Word));
  std::memcpy(&tailA, a + size - sizeof(Word), sizeof(Word));
  std::memcpy(&headB, b, sizeof(Word));
  std::memcpy(&tailB, b + size - sizeof(Word), sizeof(Word));
  return ((headA ^ headB) | (tailA ^ tailB)) == 0;
}

// Whether the size bytes at a and b are equal. Texts up to 16 bytes (most
// names and short values) are compared with two loads a side that may
// overlap, never touching a byte outside either range.
inline bool SameText(const char* a, const char* b, size_t size) {
  if (size >= 8 && size <= 16) return SameEnds<uint64_t>(a, b, size);
  if (size >= 4 && size < 8) return SameEnds<uint32_t>(a, b, size);
  if (size < 4) {
    for (size_t i = 0; i < size; ++i) {
      if (a[i] != b[i]) return false;
    }
    return true;
  }
  return std::memcmp(a, b, size) == 0;
}

struct BlobHolder {
  uint8_t* begin;
  uint8_t* end;
  uint8_t* capacity;
};

struct ElementArray {
  Value* begin;
  Value* end;
  Value* capacity;
};

struct MemberSlot;  // binding/member_map.h

#if defined(__i386__)
static_assert(sizeof(Value) == 16);
static_assert(sizeof(BlobHolder) == 12 && sizeof(ElementArray) == 12);
static_assert(sizeof(EnumRecord) == 8);
#endif

// Blocks of any size for one document: element and member arrays, interned
// strings, blob bytes and the string table.
//
// Blocks up to kMaxSmall bytes are rounded up to a power of two from 16 and
// cut from the document's pages by bumping a pointer; a freed block goes on
// the free list of its size and is handed out again before the pages are cut
// further, so a long-lived document that keeps changing does not grow without
// bound. Larger blocks come from the heap, each linked into a list behind a
// small header. Dropping the arena frees the large blocks in one pass over
// that list and leaves the small ones to the ledger, which returns the pages
// whole: a document is torn down without visiting its values.
class BlockArena {
 public:
  static constexpr size_t kMaxSmall = 2048;

  explicit BlockArena(PageLedger& pages) : pages_(pages) {}
  ~BlockArena();
  BlockArena(const BlockArena&) = delete;
  BlockArena& operator=(const BlockArena&) = delete;

  // The bytes a block asked for with size actually holds (at least size).
  static size_t Usable(size_t size) {
    return size <= kMaxSmall ? size_t{1} << (ClassOf(size) + kMinShift) : size;
  }
  // A block of Usable(size) bytes, aligned to 16 (small) or to the heap's
  // alignment (large). Throws std::bad_alloc.
  void* Allocate(size_t size) {
    if (size > kMaxSmall) return AllocateLarge(size);
    size_t cls = ClassOf(size);
    size_t bytes = size_t{1} << (cls + kMinShift);
    if (FreeBlock* block = free_[cls]) {
      UnpoisonMemory(block, bytes);
      free_[cls] = block->next;
      return block;
    }
    if (static_cast<size_t>(end_ - next_) < bytes) return Cut(cls);
    void* block = next_;
    next_ += bytes;
    UnpoisonMemory(block, bytes);
    return block;
  }
  // Returns a block; size is any value between what was asked for and Usable.
  void Free(void* block, size_t size);
  // Seeds the bump area with spare bytes of a page owned elsewhere.
  void Donate(char* begin, char* end);
  // Forgets every block at once (the large ones are freed), as if new; the
  // pages the small ones were cut from are the ledger owner's to take back.
  void Reset();

 private:
  struct FreeBlock {
    FreeBlock* next;
  };
  struct LargeBlock {
    LargeBlock* prev;
    LargeBlock* next;
  };
  // The header's room in front of a large block: a multiple of 16, so the
  // block keeps the heap's alignment.
  static constexpr size_t kLargeHeader = 16;
  static_assert(sizeof(LargeBlock) <= kLargeHeader);
  static constexpr size_t kMinShift = 4;
  static constexpr size_t kClasses = 8;  // 16 ... 2048
  static_assert(size_t{1} << (kMinShift + kClasses - 1) == kMaxSmall);
  static size_t ClassOf(size_t size) {
    if (size <= (size_t{1} << kMinShift)) return 0;
    return static_cast<size_t>(std::bit_width(size - 1)) - kMinShift;
  }
  // A block of class cls from a new page, the rest of the current one going
  // to the free lists.
  void* Cut(size_t cls);
  void* AllocateLarge(size_t size);
  void Push(size_t cls, void* block);

  PageLedger& pages_;
  FreeBlock* free_[kClasses] = {};
  char* next_ = nullptr;
  char* end_ = nullptr;
  LargeBlock* large_ = nullptr;
};

class ValueContext {
 public:
  // A context lives at the start of a page of its own, and the rest of that
  // page is the first space its arena cuts blocks from.
  //
  // Most documents are small and short-lived, so Destroy empties the context
  // and parks it with up to three of its pages, the others going back to the
  // pool (four contexts parked at most, process-wide, lock-free), and Create
  // takes a parked one before it builds a new one: a small document then
  // costs no page from the pool, no lock, and no preparation of its pages. A
  // parked context holds no string, record or block of the document it
  // served; its pages count as free in GetPagePoolStats.
  static ValueContext* Create();
  static void Destroy(ValueContext* context);

  ValueContext(const ValueContext&) = delete;
  ValueContext& operator=(const ValueContext&) = delete;

  // Empties the context at once for its owner's next tree, as Destroy does
  // before it parks it: every string, record and block goes, and a few pages
  // stay for what comes next.
  void Clear() { Recycle(); }

  // The shared empty string: never counted, never released.
  static InternedString* EmptyString();

  // Finds or inserts text and takes one reference on it. The second form takes
  // the text's Fnv1a, already computed by the caller.
  InternedString* Intern(std::string_view text) { return Intern(text, Fnv1a(text)); }
  InternedString* Intern(std::string_view text, uint32_t hash);
  // Takes one more reference on an entry of this context.
  static void AddRef(InternedString* entry);
  // Drops one reference; the entry is removed when none is left.
  void Release(InternedString* entry);

  // The sorted order of a map whose member names, in append order, are
  // exactly names[0..size) (the same entries), when a recent map had them:
  // documents repeat the same record shape many times. nullptr otherwise.
  const uint32_t* FindOrder(const MemberSlot* slots, size_t size) const;
  // Remembers order (a permutation of 0..size) for these names, holding a
  // reference on each so that no entry is freed and reused while remembered.
  void RememberOrder(const MemberSlot* slots, size_t size, const uint32_t* order);
  static constexpr size_t kMaxRememberedSize = 64;

  // Declared first: destroyed after everything that cuts blocks or slots
  // from its pages.
  PageLedger pages;
  BlockArena blocks{pages};
  SlabPool blobs{sizeof(BlobHolder), &pages};
  SlabPool enums{sizeof(EnumRecord), &pages};
  SlabPool elements{sizeof(ElementArray), &pages};
  SlabPool members;  // MemberMap records (complete in value_context.cc)

 private:
  ValueContext();
  ~ValueContext() = default;

  // Empties the context for its next document and keeps at most a few of its
  // pages; returns how many pages it holds, its own included.
  size_t Recycle();
  void Grow();
  size_t Slot(uint32_t hash) const { return hash & (capacity_ - 1); }

  struct RememberedOrder {
    size_t size = 0;
    InternedString** names = nullptr;
    uint32_t* order = nullptr;
  };
  // Direct-mapped by ShapeSlot: a document's record shapes rarely collide.
  static constexpr size_t kRememberedOrders = 32;
  static size_t ShapeSlot(const MemberSlot* slots, size_t size);
  RememberedOrder orders_[kRememberedOrders];
  uint32_t sightings_[kRememberedOrders] = {};  // the shape last seen per slot
  uint32_t ordersUsed_ = 0;  // bit i: orders_[i] or sightings_[i] is set
  static_assert(kRememberedOrders <= 32);

  // The string table starts in the context itself and moves to the arena
  // when it grows past that.
  static constexpr size_t kInlineTable = 32;
  InternedString* inlineTable_[kInlineTable] = {};
  InternedString** table_ = inlineTable_;  // open addressing, linear probing
  size_t capacity_ = kInlineTable;         // a power of two
  size_t count_ = 0;
  size_t parkedPages_ = 0;  // pages held while parked, its own included
};

}  // namespace qmx
