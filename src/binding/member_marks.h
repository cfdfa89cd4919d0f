// Finds repeated names among the members a decoder appends in bulk to the
// Structures it has open (see Value::AppendMember and FinishMembers), with no
// search: every interned name carries the mark of the map it was last
// appended to and its position there, so a name seen again in the same map
// is found by one comparison.
//
// Maps nest: a map opened inside another may append a name the outer map
// holds too, overwriting the outer map's mark. Such marks are saved when they
// are overwritten and put back when the inner map closes, so the outer map
// still finds its names afterwards. A found mark is checked against the
// member it names, so marks left on a name by earlier work never mislead.
//
// Records repeat their shapes, so the name that follows a given name in one
// map usually follows it in the next map too. A small table remembers, for
// the last name of a map (or the name a map is the value of, for its first
// name), the name that came next; a key equal to that prediction is taken as
// it is, without hashing it or probing the string table. The table holds a
// reference on each name it remembers, dropped when it forgets the name or
// is destroyed.
//
// One MemberMarks serves one document, on one thread, and must be destroyed
// while that document's context lives (before its root).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "binding/inline_stack.h"
#include "binding/value.h"

namespace qmx {

class MemberMarks {
 public:
  // lastMark bounds the marks handed out (one per map): a smaller one lets
  // tests reach the end of them.
  explicit MemberMarks(uint32_t lastMark = UINT32_MAX) : lastMark_(lastMark) {}
  ~MemberMarks();
  MemberMarks(const MemberMarks&) = delete;
  MemberMarks& operator=(const MemberMarks&) = delete;

  // Starts a map inside the maps open so far. Returns false, and opens
  // nothing, when the marks are spent: the caller then finds that map's
  // repeated names another way and calls neither Member nor Close for it.
  bool Open();
  // The member of map named name, map being the Structure of the innermost
  // open map, built through this function only since it opened: the earlier
  // member when the name repeats, otherwise a new Empty one at the end. The
  // name is hashed (Fnv1a) only when it was not predicted. Raises what
  // AppendMember raises; the map is then unchanged.
  Value& Member(Value& map, std::string_view name);
  // Ends the innermost open map; the maps around it find their names again.
  void Close();

  // Maps open.
  size_t Depth() const { return open_.size(); }

 private:
  static constexpr uint32_t kNoPosition = UINT32_MAX;
  struct OpenMap {
    uint32_t mark;
    uint32_t outerMark;      // the enclosing open map's mark, 0 for none
    uint32_t emptyPosition;  // the empty name's member (the shared entry is never marked)
    size_t savedFrom;        // the first of saved_ this map pushed
    uintptr_t last;          // what predicts the next name (see Prediction)
  };
  // The name that followed after: a name's address, or that address plus one
  // for the first name of a map that is the value of that name.
  struct Prediction {
    uintptr_t after;
    InternedString* next;  // holds a reference
  };
  static constexpr size_t kPredictions = 256;
  // Multiplicative hashing of the address: where the names lie in their
  // pages decides nothing, so the table's slots are used alike.
  static size_t PredictionSlot(uintptr_t after) {
    static_assert(kPredictions == 256, "the slot is the product's top byte");
    uint64_t mixed = static_cast<uint64_t>(after) * 0x9E3779B97F4A7C15u;
    return static_cast<size_t>(mixed >> 56);
  }
  struct SavedMark {
    InternedString* name;
    uint32_t mark;
    uint32_t position;
  };
  bool IsOpenBelowTop(uint32_t mark) const;

  // A document nesting its maps no deeper than this allocates nothing here.
  static constexpr size_t kLocalDepth = 16;
  InlineStack<OpenMap, kLocalDepth> open_;
  InlineStack<SavedMark, kLocalDepth> saved_;
  // Drops every prediction. Only the slots flagged in used_ are visited: a
  // small document does not pay for walking the whole table.
  void Forget();
  // The table is cleared and used from the kWarmUp-th name on, so that a
  // small document pays nothing for it.
  static constexpr size_t kWarmUp = 16;
  size_t names_ = 0;
  Prediction predictions_[kPredictions];
  uint64_t used_[kPredictions / 64] = {};
  ValueContext* context_ = nullptr;  // the predicted names' context
  uint32_t nextMark_ = 1;
  uint32_t lastMark_;
};

}  // namespace qmx
