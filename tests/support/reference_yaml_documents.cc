// The YAML model: documents with anchors and aliases, and their values.
#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "support/reference_readers.h"

namespace qmx::reference {
namespace {

// Beyond these an alias is not written: copies of copies grow fast, and
// ReadYaml refuses documents past its own budgets.
constexpr size_t kMostCopied = 50000;
constexpr size_t kMostDepth = kMaxNestingDepth / 2;

// The values in v and the depth of its deepest container.
void Measure(const Value& v, size_t depth, size_t& count, size_t& deepest) {
  ++count;
  deepest = std::max(deepest, depth);
  for (size_t i = 0; i < v.Size() && (v.Kind() == ValueKind::Collection || v.Kind() == ValueKind::Structure); ++i) {
    Measure(v.Kind() == ValueKind::Collection ? v.At(i) : v.MemberValue(i), depth + 1, count, deepest);
  }
}

}  // namespace

std::string YamlDocuments::Document(Value& expected, bool& aliasesOpenMapping) {
  anchors_.clear();
  open_.clear();
  path_.clear();
  copied_ = 0;
  aliasesOpenMapping_ = false;
  text_.clear();
  root_ = &expected;
  Write(expected, 0, 4);
  aliasesOpenMapping = aliasesOpenMapping_;
  return text_;
}

const Value* YamlDocuments::Walk(const std::vector<Step>& path) const {
  const Value* node = root_;
  for (const Step& step : path) node = step.name ? &node->FindMember(step.key) : &node->At(step.index);
  return node;
}

void YamlDocuments::MaybeAnchor(std::vector<size_t>& mine) {
  if (choose_() % 4 != 0) return;
  std::string name = "n" + std::to_string(anchors_.size());
  text_ += "&" + name + " ";
  anchors_.push_back(Anchor{name, path_, true});
  mine.push_back(anchors_.size() - 1);
}

// An alias of a complete node into slot, when there is one to name.
bool YamlDocuments::Alias(Value& slot, size_t depth) {
  std::vector<size_t> usable;
  for (size_t i = 0; i < anchors_.size(); ++i) {
    if (!anchors_[i].open) usable.push_back(i);
  }
  if (usable.empty()) return false;
  const Anchor& anchor = anchors_[usable[choose_() % usable.size()]];
  const Value* source = Walk(anchor.path);
  size_t count = 0;
  size_t deepest = 0;
  Measure(*source, depth, count, deepest);
  if (copied_ + count > kMostCopied || deepest > kMostDepth) return false;
  copied_ += count;
  text_ += "*" + anchor.name;
  // The copy holds a mapping still being read when the source is an open
  // node at or above an open mapping.
  bool inside = false;
  for (const Value* open : open_) {
    inside = inside || open == source;
    if (inside && open->Kind() == ValueKind::Structure) aliasesOpenMapping_ = true;
  }
  // Through a separate root: the source may hold the slot.
  Value copy;
  copy.Assign(*source);
  slot.Swap(copy);
  return true;
}

void YamlDocuments::Write(Value& slot, size_t depth, int levels) {
  unsigned pick = choose_() % 10;
  if (pick < 2 && Alias(slot, depth)) return;
  std::vector<size_t> mine;
  MaybeAnchor(mine);
  if (levels == 0 || pick < 5) {
    switch (choose_() % 5) {
      case 0:
        text_ += "null";
        slot.Reset();
        break;
      case 1:
        text_ += "true";
        slot.SetBool(true);
        break;
      case 2: {
        uint64_t n = choose_() % 1000;
        text_ += std::to_string(n);
        slot.SetUnsigned(n);
        break;
      }
      case 3: {
        int64_t n = -1 - static_cast<int64_t>(choose_() % 1000);
        text_ += std::to_string(n);
        slot.SetSigned(n);
        break;
      }
      default: {
        std::string s = "s" + std::to_string(choose_() % 50);
        text_ += "\"" + s + "\"";
        slot.SetString(s);
        break;
      }
    }
  } else {
    // A sequence or a mapping; a repeated key's later one replaces the
    // earlier value.
    const bool mapping = pick >= 7;
    slot.Reset();
    if (mapping) {
      slot.MakeStructure();
    } else {
      slot.MakeCollection();
    }
    open_.push_back(&slot);
    text_ += mapping ? "{" : "[";
    size_t count = choose_() % (mapping ? 5 : 4);
    for (size_t i = 0; i < count; ++i) {
      if (i != 0) text_ += ", ";
      static const char* const kKeys[] = {"a", "c", "u", "c"};
      std::string key = mapping ? kKeys[choose_() % std::size(kKeys)] : "";
      if (mapping) text_ += "\"" + key + "\": ";
      Value& child = mapping ? slot.Member(key) : slot.Element(slot.Size());
      path_.push_back(Step{mapping, key, i});
      Write(child, depth + 1, levels - 1);
      path_.pop_back();
    }
    text_ += mapping ? "}" : "]";
    open_.pop_back();
  }
  for (size_t i : mine) anchors_[i].open = false;
}

}  // namespace qmx::reference
