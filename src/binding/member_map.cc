#include "binding/member_map.h"

#include <algorithm>
#include <new>
#include <stdexcept>

#include "binding/arena_array.h"

namespace qmx {
namespace {

// Byte-wise order of two interned names (see CompareName).
int CompareNames(const InternedString* a, const InternedString* b) {
  return a == b ? 0 : CompareName(a, b->View());
}

// Maps up to this size are put in order in their own array, by straight
// insertion: most of a document's maps are this small.
constexpr size_t kInPlace = 16;

// A member's place in Finish's sort.
struct SortKey {
  uint64_t prefix;
  uint32_t index;
};

// The first eight bytes of a name as a big-endian number, zero-padded: two
// names whose prefixes differ compare as their prefixes do (a name that ends
// early is a proper prefix of the other, or differs before it ends).
//
// An interned entry's block holds at least eight bytes from the start of its
// text (header and text share a block of 32 bytes or more), so the prefix is
// one load with the bytes past the text masked off. The shared empty entry
// is shorter; its prefix is 0.
uint64_t NamePrefix(const InternedString* name) {
  if (name->length == 0) return 0;
  unsigned char bytes[8];
  std::memcpy(bytes, name->Text(), 8);
  uint64_t prefix = 0;
  for (unsigned char byte : bytes) prefix = (prefix << 8) | byte;
  if (name->length < 8) prefix &= ~uint64_t{0} << (8 * (8 - name->length));
  return prefix;
}

// Destroys a slot's value and drops its name.
void DestroySlot(ValueContext* context, MemberSlot& slot) {
  slot.value.~Value();
  context->Release(slot.name);
}

// Folds a later member value into the earlier one of the same name, with the
// effect sequential writes through Member() would have had.
void FoldInto(Value& earlier, Value& later) {
  if (later.Kind() == ValueKind::Structure && earlier.Kind() == ValueKind::Structure) {
    for (size_t i = 0; i < later.Size(); ++i) {
      FoldInto(earlier.Member(later.MemberName(i)), later.MemberValue(i));
    }
  } else if (later.Kind() == ValueKind::Collection && earlier.Kind() == ValueKind::Collection) {
    for (size_t i = 0; i < later.Size(); ++i) earlier.Append().Swap(const_cast<Value&>(later.At(i)));
  } else {
    earlier.Swap(later);
  }
}

}  // namespace

void MemberMap::Reserve(ValueContext* context, size_t count) {
  if (count > Value::kMaxElements) throw std::length_error("vector<T> too long");
  GrowTo(context, *this, count);
}

void MemberMap::Remove(ValueContext* context, size_t position) {
  MemberSlot* slot = begin + position;
  DestroySlot(context, *slot);
  size_t after = static_cast<size_t>(end - slot) - 1;
  if (after != 0) {
    std::memmove(static_cast<void*>(slot), static_cast<const void*>(slot + 1), after * sizeof(MemberSlot));
  }
  --end;
}

void MemberMap::Release(ValueContext* context) {
  for (MemberSlot* m = begin; m != end; ++m) DestroySlot(context, *m);
  FreeArray(context, *this);
  begin = end = capacity = nullptr;
}

bool MemberMap::Finish(ValueContext* context, bool foldRepeated) {
  size_t size = Size();
  bool ordered = true;
  for (size_t i = 1; i < size && ordered; ++i) {
    ordered = CompareNames(begin[i - 1].name, begin[i].name) < 0;
  }
  if (ordered) return false;

  MemberSlot* slots = begin;
  if (const uint32_t* known = context->FindOrder(slots, size)) {
    // The same names as a map sorted before: its order holds, and it had no
    // repeated name.
    if (size <= kInPlace) {
      alignas(MemberSlot) unsigned char aside[kInPlace * sizeof(MemberSlot)];
      std::memcpy(static_cast<void*>(aside), static_cast<const void*>(slots), size * sizeof *slots);
      const auto* copy = reinterpret_cast<const MemberSlot*>(aside);
      for (size_t i = 0; i < size; ++i) {
        std::memcpy(static_cast<void*>(slots + i), static_cast<const void*>(copy + known[i]), sizeof *slots);
      }
      return false;
    }
    size_t sortedCapacity = size;
    MemberSlot* sorted = AllocateEntries<MemberSlot>(context, sortedCapacity);
    for (size_t i = 0; i < size; ++i) {
      std::memcpy(static_cast<void*>(sorted + i), static_cast<const void*>(slots + known[i]), sizeof *slots);
    }
    FreeArray(context, *this);
    begin = sorted;
    end = sorted + size;
    capacity = sorted + sortedCapacity;
    return false;
  }

  // Sort an index rather than the cells themselves: cells are relocated only
  // once, bitwise, into their final place. Each entry carries the first eight
  // bytes of its name as a number, so most comparisons never reach the text.
  // Small maps (most of a document's) sort by insertion in a local index.
  constexpr size_t kLocalOrder = 64;
  SortKey local[kLocalOrder];
  size_t orderCapacity = size;
  SortKey* order = size <= kLocalOrder ? local : AllocateEntries<SortKey>(context, orderCapacity);
  for (size_t i = 0; i < size; ++i) order[i] = {NamePrefix(slots[i].name), static_cast<uint32_t>(i)};
  auto less = [slots](const SortKey& a, const SortKey& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    return CompareNames(slots[a.index].name, slots[b.index].name) < 0;
  };
  if (size <= kInPlace) {
    // Straight insertion: a key moves past greater keys only, so the sort is
    // stable.
    for (size_t i = 1; i < size; ++i) {
      SortKey moving = order[i];
      size_t j = i;
      for (; j > 0 && less(moving, order[j - 1]); --j) order[j] = order[j - 1];
      order[j] = moving;
    }
  } else if (order == local) {
    // Binary insertion after any equal names keeps the sort stable.
    for (size_t i = 1; i < size; ++i) {
      SortKey moving = order[i];
      if (!less(moving, order[i - 1])) continue;
      size_t low = 0, high = i - 1;
      while (low < high) {
        size_t mid = low + (high - low) / 2;
        if (less(moving, order[mid])) {
          high = mid;
        } else {
          low = mid + 1;
        }
      }
      std::memmove(static_cast<void*>(order + low + 1), static_cast<const void*>(order + low),
                   (i - low) * sizeof order[0]);
      order[low] = moving;
    }
  } else {
    try {
      std::stable_sort(order, order + size, less);
    } catch (...) {
      FreeEntries(context, order, orderCapacity);
      throw;
    }
  }
  // Names are interned: equal names are the same entry, next to each other,
  // and have the same prefix.
  bool unique = true;
  for (size_t i = 1; i < size && unique; ++i) {
    unique = order[i - 1].prefix != order[i].prefix ||
             slots[order[i - 1].index].name != slots[order[i].index].name;
  }
  if (!unique && !foldRepeated) {
    if (order != local) FreeEntries(context, order, orderCapacity);
    return true;
  }
  if (size <= ValueContext::kMaxRememberedSize) {
    // Orders without a repeated name are remembered for the next map of the
    // same shape (see FindOrder above).
    if (unique) {
      uint32_t permutation[ValueContext::kMaxRememberedSize];
      for (size_t i = 0; i < size; ++i) permutation[i] = order[i].index;
      context->RememberOrder(slots, size, permutation);
    }
  }
  if (size <= kInPlace) {
    // The cells are copied aside once and written back in order: no second
    // array is cut for a small map.
    alignas(MemberSlot) unsigned char aside[kInPlace * sizeof(MemberSlot)];
    std::memcpy(static_cast<void*>(aside), static_cast<const void*>(slots), size * sizeof *slots);
    auto* copy = reinterpret_cast<MemberSlot*>(aside);
    if (unique) {
      for (size_t i = 0; i < size; ++i) {
        std::memcpy(static_cast<void*>(slots + i), static_cast<const void*>(copy + order[i].index), sizeof *slots);
      }
      return false;
    }
    size_t kept = 0;
    for (size_t i = 0; i < size; ++i) {
      MemberSlot& source = copy[order[i].index];
      if (kept != 0 && slots[kept - 1].name == source.name) {
        FoldInto(slots[kept - 1].value, source.value);
        DestroySlot(context, source);
        continue;
      }
      std::memcpy(static_cast<void*>(slots + kept), static_cast<const void*>(&source), sizeof source);
      ++kept;
    }
    end = slots + kept;
    return kept != size;
  }
  size_t sortedCapacity = size;
  MemberSlot* sorted;
  try {
    sorted = AllocateEntries<MemberSlot>(context, sortedCapacity);
  } catch (...) {
    if (order != local) FreeEntries(context, order, orderCapacity);
    throw;
  }
  size_t kept = 0;
  for (size_t i = 0; i < size; ++i) {
    MemberSlot& source = slots[order[i].index];
    // Names are interned: equal names are the same entry.
    if (kept != 0 && sorted[kept - 1].name == source.name) {
      // A repeated name: fold the later occurrence into the earlier one, which
      // stable sorting placed first, then drop it.
      FoldInto(sorted[kept - 1].value, source.value);
      DestroySlot(context, source);
      continue;
    }
    std::memcpy(static_cast<void*>(sorted + kept), static_cast<const void*>(&source), sizeof source);
    ++kept;
  }
  if (order != local) FreeEntries(context, order, orderCapacity);
  FreeArray(context, *this);
  begin = sorted;
  end = sorted + kept;
  capacity = sorted + sortedCapacity;
  return kept != size;
}

}  // namespace qmx
