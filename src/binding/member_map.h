// The member map of a Structure value. Internal to the value model.
//
// A map is one array of slots (an interned name and a child Value) in a block
// of the document's arena. Its invariant: names are unique and the slots are
// in ascending byte-wise order of their names (a proper prefix first), so a
// lookup is a binary search and iteration is in name order.
//
// Decoders build maps in bulk: Append adds slots at the end without keeping
// the invariant, and Finish restores it (sorting, and folding repeated names
// as sequential writes would have). Between the two, lookups, insertions and
// removals must wait: they rely on the invariant.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string_view>

#include "binding/arena_array.h"
#include "binding/value.h"
#include "binding/value_context.h"

namespace qmx {

struct MemberSlot {
  InternedString* name;
  Value value;
};

// Byte-wise (unsigned) order of a member name against name: negative, zero or
// positive. A proper prefix sorts first, so names holding a NUL stay distinct.
inline int CompareName(const InternedString* member, std::string_view name) {
  size_t common = std::min<size_t>(member->length, name.size());
  if (common <= 16) {
    // Names are short and mostly differ in their first bytes: compared in
    // place, without a call.
    const auto* a = reinterpret_cast<const unsigned char*>(member->Text());
    const auto* b = reinterpret_cast<const unsigned char*>(name.data());
    for (size_t i = 0; i < common; ++i) {
      if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
  } else {
    // memcmp compares as unsigned bytes.
    int order = std::memcmp(member->Text(), name.data(), common);
    if (order != 0) return order;
  }
  return member->length < name.size() ? -1 : (member->length > name.size() ? 1 : 0);
}

struct MemberMap {
  // Maps of up to this many members are searched by a scan when the name's
  // hash is known.
  static constexpr size_t kScannedMembers = 8;

  MemberSlot* begin;
  MemberSlot* end;
  MemberSlot* capacity;

  size_t Size() const { return static_cast<size_t>(end - begin); }

  // The index of the first member whose name is not less than name; Size()
  // when there is none.
  size_t LowerBound(std::string_view name) const {
    size_t low = 0;
    size_t high = Size();
    while (low < high) {
      size_t mid = low + (high - low) / 2;
      if (CompareName(begin[mid].name, name) < 0) {
        low = mid + 1;
      } else {
        high = mid;
      }
    }
    return low;
  }

  // The slot of the member named name, or nullptr.
  MemberSlot* Find(std::string_view name) const {
    size_t position = LowerBound(name);
    if (position < Size() && CompareName(begin[position].name, name) == 0) return begin + position;
    return nullptr;
  }

  // The same for a caller that knows Fnv1a(name), such as a field descriptor.
  // Every interned name carries its hash, so in a small map a scan that
  // compares hashes and lengths first beats the binary search's byte-wise
  // comparisons; names are unique, so both find the same slot.
  MemberSlot* Find(std::string_view name, uint32_t nameHash) const {
    if (Size() > kScannedMembers) return Find(name);
    for (MemberSlot* slot = begin; slot != end; ++slot) {
      const InternedString* member = slot->name;
      if (member->hash == nameHash && member->length == name.size() &&
          SameText(member->Text(), name.data(), name.size())) {
        return slot;
      }
    }
    return nullptr;
  }

  // Makes room for count members, keeping those there are. Throws
  // std::length_error beyond Value::kMaxElements and std::bad_alloc; either
  // way the map is unchanged.
  void Reserve(ValueContext* context, size_t count);

  // The value of the member named name; a missing member is inserted in its
  // place as an Empty child. On failure (std::length_error, std::bad_alloc)
  // the map is unchanged.
  Value& FindOrInsert(ValueContext* context, std::string_view name) {
    size_t position = LowerBound(name);
    if (position < Size() && CompareName(begin[position].name, name) == 0) {
      return begin[position].value;
    }
    return Place(context, context->Intern(name), position);
  }

  // The same with nameHash = Fnv1a(name): a member that is there is found by
  // the hashed scan, and a new name is interned without hashing it again.
  Value& FindOrInsert(ValueContext* context, std::string_view name, uint32_t nameHash) {
    if (MemberSlot* slot = Find(name, nameHash)) return slot->value;
    return Place(context, context->Intern(name, nameHash), LowerBound(name));
  }

  // Adds an Empty member named name at the end, without looking for an
  // existing one (see Finish). nameHash must be Fnv1a(name). On failure the
  // map is unchanged.
  Value& Append(ValueContext* context, std::string_view name, uint32_t nameHash) {
    InternedString* interned = context->Intern(name, nameHash);
    return Place(context, interned, Size());
  }

  // The same with a name interned already; the map takes over the caller's
  // reference (dropped on failure).
  Value& Append(ValueContext* context, InternedString* interned) {
    return Place(context, interned, Size());
  }

  // Restores the invariant after Append: sorts the members stably by name and
  // folds each repeated name into its first occurrence, with the effect of
  // writing the members through FindOrInsert in append order (a later scalar
  // replaces the earlier value, Structures merge, Collections concatenate, a
  // container of another kind replaces), each member's value taken as one
  // write (see Value::FinishMembers). Does nothing to a map in order.
  // Returns whether a name repeated. Without foldRepeated, a map whose names
  // repeat is left as it was (in append order) and may only be released.
  bool Finish(ValueContext* context, bool foldRepeated = true);

  // Removes the member at position (< Size()), destroying its value.
  void Remove(ValueContext* context, size_t position);

  // Destroys every member and returns the array's block; the map is then
  // empty and holds no block.
  void Release(ValueContext* context);

 private:
  // Insertion is inline: decoders add every member through it. Append reads
  // Size() after interning, so that the compiler sees position is the end
  // and drops the moves around it.

  // Gives a new Empty member named interned (one reference, which the map
  // takes over; dropped on failure) at position.
  Value& Place(ValueContext* context, InternedString* interned, size_t position) {
    MemberSlot* slot;
    try {
      slot = OpenSlot(context, position);
    } catch (...) {
      context->Release(interned);
      throw;
    }
    slot->name = interned;
    new (&slot->value) Value();
    slot->value.MakeChildOf(context);
    return slot->value;
  }

  // Makes room for one more member at position; returns the slot,
  // uninitialised.
  MemberSlot* OpenSlot(ValueContext* context, size_t position) {
    if (end == capacity) return OpenSlotInNewBlock(context, position);
    size_t after = Size() - position;
    if (after != 0) {
      std::memmove(static_cast<void*>(begin + position + 1), static_cast<const void*>(begin + position),
                   after * sizeof(MemberSlot));
    }
    ++end;
    return begin + position;
  }

  // OpenSlot for a full array: moves the members to a larger block.
  MemberSlot* OpenSlotInNewBlock(ValueContext* context, size_t position) {
    size_t size = Size();
    if (size >= Value::kMaxElements) throw std::length_error("vector<T> too long");
    size_t grownCapacity = GrownCapacity(size, size + 1);
    MemberSlot* grown = AllocateEntries<MemberSlot>(context, grownCapacity);
    Relocate(grown, begin, position);
    Relocate(grown + position + 1, begin + position, size - position);
    FreeArray(context, *this);
    begin = grown;
    end = grown + size + 1;
    capacity = grown + grownCapacity;
    return begin + position;
  }
};

#if defined(__i386__)
static_assert(sizeof(MemberMap) == 12);
#endif

}  // namespace qmx
