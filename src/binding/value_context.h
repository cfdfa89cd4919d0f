// The arena behind a root Value: its string table and its four record pools.
// Internal to the value model; nothing outside binding/value*.cc uses it.
#pragma once

#include <cstddef>
#include <cstdint>
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
  void Grow();
  size_t Slot(uint32_t hash) const { return hash & (capacity_ - 1); }

  InternedString** table_ = nullptr;  // open addressing, linear probing
  size_t capacity_ = 0;               // a power of two, or 0
  size_t count_ = 0;
};

}  // namespace qmx
