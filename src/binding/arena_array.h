// Growable arrays cut from a context's block arena: a Collection's element
// array and a Structure's member map are both a {begin, end, capacity} triple
// over one arena block. Internal to the value model.
//
// Entries are child Value cells (or slots holding one), which hold no pointer
// to themselves, so an array moves to a new block bitwise.
#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "binding/value_context.h"

namespace qmx {

// Moves count entries from one block to another, bitwise.
template <typename T>
inline void Relocate(T* to, T* from, size_t count) {
  if (count != 0) std::memcpy(static_cast<void*>(to), static_cast<const void*>(from), count * sizeof(T));
}

// The capacity after growing an array of current entries that must hold
// needed: at least needed, otherwise half as much again (4 at first), never
// above Value::kMaxElements unless needed is.
inline size_t GrownCapacity(size_t current, size_t needed) {
  size_t grown = current < 4 ? 4 : current + current / 2;
  if (grown > Value::kMaxElements) grown = Value::kMaxElements;
  return grown < needed ? needed : grown;
}

// A block for at least count entries; count becomes the number of entries the
// block actually holds (its spare bytes become capacity, up to
// Value::kMaxElements). Throws std::bad_alloc.
template <typename Entry>
inline Entry* AllocateEntries(ValueContext* context, size_t& count) {
  size_t bytes = BlockArena::Usable(count * sizeof(Entry));
  auto* entries = static_cast<Entry*>(context->blocks.Allocate(bytes));
  count = bytes / sizeof(Entry);
  if (count > Value::kMaxElements) count = Value::kMaxElements;
  return entries;
}

// Returns a block from AllocateEntries; capacity is the count it reported.
template <typename Entry>
inline void FreeEntries(ValueContext* context, Entry* entries, size_t capacity) {
  context->blocks.Free(entries, capacity * sizeof(Entry));
}

// Returns an array's block (the entries are not destroyed).
template <typename Array>
inline void FreeArray(ValueContext* context, Array& array) {
  FreeEntries(context, array.begin, static_cast<size_t>(array.capacity - array.begin));
}

// Gives an array room for count entries, moving what it holds; never shrinks.
// Throws std::bad_alloc, leaving the array as it was.
template <typename Array>
inline void GrowTo(ValueContext* context, Array& array, size_t count) {
  using Entry = std::remove_pointer_t<decltype(array.begin)>;
  size_t capacity = static_cast<size_t>(array.capacity - array.begin);
  if (count <= capacity) return;
  size_t size = static_cast<size_t>(array.end - array.begin);
  Entry* grown = AllocateEntries<Entry>(context, count);
  Relocate(grown, array.begin, size);
  FreeArray(context, array);
  array.begin = grown;
  array.end = grown + size;
  array.capacity = grown + count;
}

}  // namespace qmx
