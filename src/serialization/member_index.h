// Finds repeated names among the members a decoder appends to one Structure in
// bulk (Value::AppendMember, then FinishMembers).
//
// Each name is hashed once, by the caller, with the string table's own hash;
// the same hash then interns the name (AppendMember with a hash). Maps of up
// to kScanned members compare the kept hashes in turn; larger ones look the
// hash up in an open-addressing table of (hash, position) pairs, which grows
// from its own entries, so no name is hashed again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "binding/value.h"

namespace qmx {

class MemberIndex {
 public:
  static constexpr size_t kScanned = 8;

  // Forgets every member; keeps the storage for the next map. The members
  // recorded from then on are those of map from position first on (a map
  // that held first members already).
  void Clear(size_t first = 0);
  // The position, in append order, of the member of map named name among
  // those recorded, or map.Size() when there is none. hash is Fnv1a(name);
  // map holds first members (see Clear), then exactly the members recorded
  // with Add since the last Clear.
  size_t Find(const Value& map, std::string_view name, uint32_t hash) const;
  // Records the member just appended with this hash.
  void Add(uint32_t hash);

 private:
  struct Slot {
    uint32_t hash;
    uint32_t position;  // position + 1; 0 marks a free slot
  };
  void Grow(size_t capacity);
  void Insert(uint32_t hash, uint32_t position);

  uint32_t scanned_[kScanned];  // the hashes of the first members
  size_t first_ = 0;
  size_t count_ = 0;
  std::vector<Slot> table_;     // in use once count_ passes kScanned
  std::vector<Slot> spare_;     // the table's previous storage, for Grow
};

}  // namespace qmx
