// The arena behind a root Value: its string table, its four record pools and
// the pools that hold its shorter interned strings.
// Internal to the value model; nothing outside binding/value*.cc uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "binding/slab_pool.h"
#include "binding/value.h"

namespace qmx {

// An interned string: header followed by length bytes of text and a NUL.
struct InternedString {
  uint32_t refs;
  uint32_t hash;
  uint32_t length;

  const char* Text() const { return reinterpret_cast<const char*>(this + 1); }
  char* Text() { return reinterpret_cast<char*>(this + 1); }
  std::string_view View() const { return {Text(), length}; }
};

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

struct MemberSlot {
  InternedString* name;
  Value value;
};

struct MemberMap {
  MemberSlot* begin;
  MemberSlot* end;
  MemberSlot* capacity;
};

#if defined(__i386__)
static_assert(sizeof(Value) == 16);
static_assert(sizeof(BlobHolder) == 12 && sizeof(ElementArray) == 12 && sizeof(MemberMap) == 12);
static_assert(sizeof(EnumRecord) == 8);
#endif

// 32-bit FNV-1a over the bytes of text.
uint32_t Fnv1a(std::string_view text);

class ValueContext {
 public:
  ValueContext();
  ~ValueContext();
  ValueContext(const ValueContext&) = delete;
  ValueContext& operator=(const ValueContext&) = delete;

  // The shared empty string: never counted, never released.
  static InternedString* EmptyString();

  // Finds or inserts text and takes one reference on it.
  InternedString* Intern(std::string_view text);
  // Takes one more reference on an entry of this context.
  static void AddRef(InternedString* entry);
  // Drops one reference; the entry is removed when none is left.
  void Release(InternedString* entry);

  SlabPool blobs{sizeof(BlobHolder)};
  SlabPool enums{sizeof(EnumRecord)};
  SlabPool elements{sizeof(ElementArray)};
  SlabPool members{sizeof(MemberMap)};

 private:
  // Interned strings whose entry (header, text and NUL) fits one of these
  // slot sizes come from the matching pool; longer ones from the heap. The
  // class follows from the length alone, so Release finds the pool again.
  static constexpr size_t kStringSlotSizes[] = {32, 64, 128, 256};
  static constexpr size_t kStringClasses = std::size(kStringSlotSizes);
  // The pool index for an entry of length text bytes, or kStringClasses.
  static size_t StringClass(size_t length);
  void* AllocateEntry(size_t length);
  void FreeEntry(InternedString* entry);

  SlabPool strings_[kStringClasses] = {SlabPool(kStringSlotSizes[0]), SlabPool(kStringSlotSizes[1]),
                                       SlabPool(kStringSlotSizes[2]), SlabPool(kStringSlotSizes[3])};

  void Grow();
  size_t Slot(uint32_t hash) const { return hash & (capacity_ - 1); }

  InternedString** table_ = nullptr;  // open addressing, linear probing
  size_t capacity_ = 0;               // a power of two, or 0
  size_t count_ = 0;
};

}  // namespace qmx
