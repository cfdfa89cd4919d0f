#include "binding/member_marks.h"

#include "binding/member_map.h"
#include "binding/value_context.h"

namespace qmx {

bool MemberMarks::Open() {
  if (nextMark_ == 0 || nextMark_ > lastMark_) return false;
  open_.push_back({nextMark_, open_.empty() ? 0 : open_.back().mark, kNoPosition, saved_.size()});
  // 0 after the last mark: spent for good.
  nextMark_ = nextMark_ == UINT32_MAX ? 0 : nextMark_ + 1;
  return true;
}

void MemberMarks::Close() {
  size_t from = open_.back().savedFrom;
  while (saved_.size() > from) {
    const SavedMark& saved = saved_.back();
    saved.name->mark = saved.mark;
    saved.name->markPosition = saved.position;
    saved_.pop_back();
  }
  open_.pop_back();
}

// Marks grow with the order maps open in, so below the top an open map's mark
// is met before any larger one; a mark between two open maps' belongs to a map
// that has closed. The enclosing map's mark, the usual match, is tested first.
[[gnu::always_inline]] inline bool MemberMarks::IsOpenBelowTop(uint32_t mark) const {
  const OpenMap* open = open_.data() + open_.size() - 1;
  while (open != open_.data()) {
    --open;
    if (open->mark <= mark) return open->mark == mark;
  }
  return false;
}

Value& MemberMarks::Member(Value& map, std::string_view name, uint32_t hash) {
  OpenMap& top = open_.back();
  map.MakeStructure();
  ValueContext* context = map.context_;
  MemberMap* members = map.payload_.members;
  size_t size = members->Size();
  if (name.empty()) {
    if (top.emptyPosition != kNoPosition) return members->begin[top.emptyPosition].value;
    Value& member = members->Append(context, name, hash);
    top.emptyPosition = static_cast<uint32_t>(size);
    return member;
  }
  InternedString* entry = context->Intern(name, hash);
  if (entry->mark == top.mark && entry->markPosition < size &&
      members->begin[entry->markPosition].name == entry) {
    --entry->refs;  // the member holds the name already
    return members->begin[entry->markPosition].value;
  }
  // A mark above the enclosing map's (and not this map's) belongs to a map
  // that opened inside it and has closed: the usual case, decided here.
  bool save = entry->mark != 0 && entry->mark <= top.outerMark && IsOpenBelowTop(entry->mark);
  if (save) {
    try {
      saved_.push_back({entry, entry->mark, entry->markPosition});
    } catch (...) {
      context->Release(entry);
      throw;
    }
  }
  Value* member;
  try {
    member = &members->Append(context, entry);  // drops the reference on failure
  } catch (...) {
    if (save) saved_.pop_back();
    throw;
  }
  entry->mark = top.mark;
  entry->markPosition = static_cast<uint32_t>(size);
  return *member;
}

}  // namespace qmx
