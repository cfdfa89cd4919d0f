// Finds repeated names among the members a decoder appends to one Structure in
// bulk (Value::AppendMember, then FinishMembers).
//
// Each name is hashed once, by the caller, with the string table's own hash;
// the same hash then interns the name (AppendMember with a hash). Maps of up
// to kScanned members compare the kept hashes in turn; larger ones look the
// hash up in an open-addressing table of positions built from the kept
// hashes, so no name is hashed again.
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

  // Forgets every member; keeps the storage for the next map.
  void Clear();
  // The position, in append order, of the member of map named name, or
  // map.Size() when there is none. hash is Fnv1a(name); map holds exactly
  // the members recorded with Add since the last Clear.
  size_t Find(const Value& map, std::string_view name, uint32_t hash) const;
  // Records the member just appended with this hash.
  void Add(uint32_t hash);

 private:
  void Rebuild(size_t capacity);
  void Insert(uint32_t hash, uint32_t position);

  std::vector<uint32_t> hashes_;  // by position
  std::vector<uint32_t> table_;   // position + 1, 0 for a free slot
};

}  // namespace qmx
