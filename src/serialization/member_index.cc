#include "serialization/member_index.h"

#include <utility>

namespace qmx {

void MemberIndex::Clear(size_t first) {
  first_ = first;
  count_ = 0;
  table_.clear();
}

size_t MemberIndex::Find(const Value& map, std::string_view name, uint32_t hash) const {
  if (count_ <= kScanned) {
    for (size_t i = 0; i < count_; ++i) {
      if (scanned_[i] == hash && map.MemberName(first_ + i) == name) return first_ + i;
    }
    return first_ + count_;
  }
  size_t mask = table_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = table_[i];
    if (slot.position == 0) return first_ + count_;
    if (slot.hash == hash && map.MemberName(first_ + slot.position - 1) == name) {
      return first_ + slot.position - 1;
    }
  }
}

void MemberIndex::Insert(uint32_t hash, uint32_t position) {
  size_t mask = table_.size() - 1;
  size_t i = hash & mask;
  while (table_[i].position != 0) i = (i + 1) & mask;
  table_[i] = {hash, position + 1};
}

void MemberIndex::Grow(size_t capacity) {
  std::swap(spare_, table_);
  table_.assign(capacity, Slot{0, 0});
  if (count_ - 1 == kScanned) {
    for (size_t i = 0; i < kScanned; ++i) Insert(scanned_[i], static_cast<uint32_t>(i));
  } else {
    for (const Slot& slot : spare_) {
      if (slot.position != 0) Insert(slot.hash, slot.position - 1);
    }
  }
  spare_.clear();
}

void MemberIndex::Add(uint32_t hash) {
  size_t position = count_++;
  if (count_ <= kScanned) {
    scanned_[position] = hash;
    return;
  }
  // The table is built when scanning stops and kept at most half full.
  if (count_ == kScanned + 1) {
    Grow(32);
  } else if (count_ * 2 > table_.size()) {
    Grow(table_.size() * 2);
  }
  Insert(hash, static_cast<uint32_t>(position));
}

}  // namespace qmx
