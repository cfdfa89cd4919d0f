#include "binding/member_marks.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>

#include "binding/member_map.h"
#include "binding/value_context.h"

namespace qmx {

MemberMarks::~MemberMarks() { Forget(); }

void MemberMarks::Forget() {
  for (size_t word = 0; word < kPredictions / 64; ++word) {
    for (uint64_t bits = used_[word]; bits != 0; bits &= bits - 1) {
      Prediction& prediction = predictions_[word * 64 + static_cast<size_t>(std::countr_zero(bits))];
      context_->Release(prediction.next);
      prediction = {0, nullptr};
    }
    used_[word] = 0;
  }
}

bool MemberMarks::Open() {
  if (nextMark_ == 0 || nextMark_ > lastMark_) return false;
  uintptr_t last = open_.empty() ? 1 : open_.back().last | 1;
  open_.push_back({nextMark_, open_.empty() ? 0 : open_.back().mark, kNoPosition, saved_.size(), last});
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

Value& MemberMarks::Member(Value& map, std::string_view name) {
  OpenMap& top = open_.back();
  map.MakeStructure();
  ValueContext* context = map.context_;
  MemberMap* members = map.payload_.members;
  size_t size = members->Size();
  if (name.empty()) {
    top.last = 2;  // no name's address
    if (top.emptyPosition != kNoPosition) return members->begin[top.emptyPosition].value;
    Value& member = members->Append(context, name, Fnv1a(name));
    top.emptyPosition = static_cast<uint32_t>(size);
    return member;
  }
  size_t slot = PredictionSlot(top.last);
  Prediction& prediction = predictions_[slot];
  InternedString* entry = nullptr;
  if (names_ == kWarmUp && prediction.after == top.last && prediction.next != nullptr &&
      context == context_ && prediction.next->length == name.size() &&
      std::memcmp(prediction.next->Text(), name.data(), name.size()) == 0) {
    entry = prediction.next;
    ++entry->refs;  // never the shared empty entry: the name is not empty
  } else {
    entry = context->Intern(name, Fnv1a(name));
    if (names_ < kWarmUp) {
      if (++names_ == kWarmUp) {
        std::fill(std::begin(predictions_), std::end(predictions_), Prediction{0, nullptr});
      }
    } else {
      if (context != context_) {
        // Another document: forget the names of the one before.
        Forget();
        context_ = context;
      }
      ++entry->refs;
      if (prediction.next != nullptr) context_->Release(prediction.next);
      used_[slot / 64] |= uint64_t{1} << (slot % 64);
      prediction = {top.last, entry};
    }
  }
  top.last = reinterpret_cast<uintptr_t>(entry);
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
