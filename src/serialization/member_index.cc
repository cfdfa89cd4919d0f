#include "serialization/member_index.h"

namespace qmx {

void MemberIndex::Clear() {
  hashes_.clear();
  table_.clear();
}

size_t MemberIndex::Find(const Value& map, std::string_view name, uint32_t hash) const {
  size_t count = hashes_.size();
  if (count <= kScanned) {
    for (size_t i = 0; i < count; ++i) {
      if (hashes_[i] == hash && map.MemberName(i) == name) return i;
    }
    return count;
  }
  size_t mask = table_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    uint32_t slot = table_[i];
    if (slot == 0) return count;
    size_t position = slot - 1;
    if (hashes_[position] == hash && map.MemberName(position) == name) return position;
  }
}

void MemberIndex::Insert(uint32_t hash, uint32_t position) {
  size_t mask = table_.size() - 1;
  size_t i = hash & mask;
  while (table_[i] != 0) i = (i + 1) & mask;
  table_[i] = position + 1;
}

void MemberIndex::Rebuild(size_t capacity) {
  table_.assign(capacity, 0u);
  for (size_t i = 0; i < hashes_.size(); ++i) Insert(hashes_[i], static_cast<uint32_t>(i));
}

void MemberIndex::Add(uint32_t hash) {
  hashes_.push_back(hash);
  size_t count = hashes_.size();
  // The table is built when scanning stops and kept at most half full.
  if (count <= kScanned) return;
  if (count == kScanned + 1) {
    Rebuild(32);
  } else if (count * 2 > table_.size()) {
    Rebuild(table_.size() * 2);
  } else {
    Insert(hash, static_cast<uint32_t>(count - 1));
  }
}

}  // namespace qmx
