// The YAML reader over libyaml's event parser. It is one state machine: the
// event loop, the stack of open collections, anchors and the alias copies
// with their size limit. The file is longer than most because these share
// the reader's state; splitting them would spread one loop across files.
#include "serialization/yaml.h"

#include <yaml.h>

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "messages/message_format.h"
#include "serialization/member_index.h"
#include "serialization/yaml_scalar.h"

namespace qmx {
namespace {


// Copies made by aliases, plus the path steps walked to find them, may not
// exceed this many values per document: a few short aliases of aliases would
// otherwise multiply into gigabytes.
constexpr size_t kAliasBudget = size_t{1} << 22;

// One step of the way from the root to a node. Steps are shared between the
// stack and the anchors that remember them, so an anchor costs one pointer.
struct PathStep {
  enum Kind { Index = 0, Name = 1, Root = 2 };
  Kind kind;
  size_t index;  // the element's position (Index steps)
  std::string name;
  std::shared_ptr<const PathStep> parent;
};
using Path = std::shared_ptr<const PathStep>;

struct Entry {
  Value* target;
  // The step from the entry below to this one; its shared form (path) is
  // made only when an anchor needs it (see YamlReader::PathOf).
  PathStep::Kind kind;
  size_t index;
  std::string name;
  Path path;
  std::string anchor;
  bool open = false;  // a sequence or mapping being filled
  // The members of an open mapping, to find repeated keys: members are
  // appended and sorted once when the mapping ends, since
  // inserting each at its sorted place costs quadratic time on large maps.
  std::unique_ptr<MemberIndex> members;
};

struct Anchor {
  Path path;         // the anchored node, or null for an anchored key
  std::string text;  // the key's text
};

std::string Number(size_t n) { return std::to_string(n); }

class YamlReader {
 public:
  explicit YamlReader(Value& root) : root_(root) {}

  // Handles one event; returns false once the read has failed.
  bool Handle(const yaml_event_t& event) {
    mark_ = event.start_mark;
    switch (event.type) {
      case YAML_STREAM_START_EVENT:
      case YAML_STREAM_END_EVENT:
      case YAML_DOCUMENT_END_EVENT:
      case YAML_NO_EVENT:
        return true;
      case YAML_DOCUMENT_START_EVENT:
        if (!root_.IsEmpty()) return Fail("Multi-document YAML is not supported.");
        stack_.clear();
        Push(&root_, PathStep::Root, 0);
        return true;
      default:
        break;
    }
    if (stack_.empty()) return true;
    bool end = event.type == YAML_SEQUENCE_END_EVENT || event.type == YAML_MAPPING_END_EVENT;
    if (event.type == YAML_SCALAR_EVENT && event.data.scalar.anchor == nullptr) {
      // Most scalars: resolved straight into their slot, without an entry.
      if (Value* slot = ScalarSlot()) return Resolve(event, *slot);
    }
    if (!end && !Place()) return false;
    switch (event.type) {
      case YAML_SCALAR_EVENT:
        return Scalar(event);
      case YAML_SEQUENCE_START_EVENT:
        return Start(reinterpret_cast<const char*>(event.data.sequence_start.anchor), false);
      case YAML_MAPPING_START_EVENT:
        return Start(reinterpret_cast<const char*>(event.data.mapping_start.anchor), true);
      case YAML_SEQUENCE_END_EVENT:
      case YAML_MAPPING_END_EVENT:
        Pop();
        return true;
      case YAML_ALIAS_EVENT:
        return Alias(reinterpret_cast<const char*>(event.data.alias.anchor));
      default:
        return true;
    }
  }

  bool Fail(std::string message) {
    failed_ = true;
    message_ = std::move(message);
    return false;
  }
  bool Failed() const { return failed_; }
  const std::string& Message() const { return message_; }

 private:
  std::string Line() const { return Number(mark_.line + 1); }
  std::string Column() const { return Number(mark_.column + 1); }

  bool KeyPosition() const {
    const Entry& top = stack_.back();
    return top.open && top.target->Kind() == ValueKind::Structure && !hasPendingKey_;
  }

  // Gives the event its slot: a new element of an open sequence, or the member
  // of the pending key of an open mapping.
  bool Place() {
    Entry& top = stack_.back();
    if (!top.open) return true;
    if (top.target->Kind() == ValueKind::Collection) {
      Value& element = top.target->Append();
      size_t index = top.target->Size() - 1;
      Push(&element, PathStep::Index, index);
    } else if (hasPendingKey_) {
      size_t position;
      Value* member = PendingMember(top, position);
      Push(member, PathStep::Name, position).name.swap(pendingKey_);
      hasPendingKey_ = false;
      pendingKey_.clear();
    }
    return true;
  }

  // The member of the pending key in the open mapping top, and its position.
  // A repeated key lands on the existing member. The key is hashed once, for
  // both the search and the string table.
  static Value* PendingMember(Entry& top, const std::string& key, size_t& position) {
    Value& map = *top.target;
    uint32_t hash = Fnv1a(key);
    position = top.members->Find(map, key, hash);
    if (position != map.Size()) return &map.MemberValue(position);
    Value* member = &map.AppendMember(key, hash);
    top.members->Add(hash);
    return member;
  }
  Value* PendingMember(Entry& top, size_t& position) { return PendingMember(top, pendingKey_, position); }

  // The slot of a scalar that needs no entry of its own (no anchor names it):
  // a new element of an open sequence or the member of a pending key, or
  // nullptr when the scalar takes the general way (a key, the root).
  Value* ScalarSlot() {
    Entry& top = stack_.back();
    if (!top.open) return nullptr;
    if (top.target->Kind() == ValueKind::Collection) return &top.target->Append();
    if (!hasPendingKey_) return nullptr;
    size_t position;
    Value* member = PendingMember(top, position);
    hasPendingKey_ = false;
    pendingKey_.clear();
    return member;
  }

  // A new top entry, built in place.
  Entry& Push(Value* target, PathStep::Kind kind, size_t index) {
    Entry& entry = stack_.emplace_back();
    entry.target = target;
    entry.kind = kind;
    entry.index = index;
    return entry;
  }

  // The shared path of the top entry, made (with those of the entries below
  // that lack one) on first use. Each entry's parent is the entry below it.
  Path PathOfTop() {
    size_t first = stack_.size();
    while (first > 0 && stack_[first - 1].path == nullptr) --first;
    for (size_t d = first; d < stack_.size(); ++d) {
      Entry& entry = stack_[d];
      Path parent = d > 0 ? stack_[d - 1].path : nullptr;
      entry.path = std::make_shared<PathStep>(PathStep{entry.kind, entry.index, entry.name, std::move(parent)});
    }
    return stack_.back().path;
  }

  void Pop() {
    Entry& top = stack_.back();
    if (top.open) {
      --depth_;
      top.target->FinishMembers();
    }
    if (top.members != nullptr) {
      top.members->Clear();
      spareIndexes_.push_back(std::move(top.members));
    }
    stack_.pop_back();
  }

  bool EnterAnchor(const char* name, Anchor anchor) {
    auto [it, inserted] = anchors_.emplace(name, std::move(anchor));
    if (!inserted) {
      return Fail(FormatMessageTexts("Duplicate occurrence of anchor \"%1\". At line: %2 col: %3",
                              {name, Line(), Column()}));
    }
    return true;
  }

  bool Scalar(const yaml_event_t& event) {
    const auto& scalar = event.data.scalar;
    const char* anchor = reinterpret_cast<const char*>(scalar.anchor);
    const char* tag = reinterpret_cast<const char*>(scalar.tag);
    const char* text = reinterpret_cast<const char*>(scalar.value);
    if (KeyPosition()) {
      if (tag != nullptr && std::string_view(tag) != "tag:yaml.org,2002:str") {
        return Fail(FormatMessageTexts(
            "Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2",
            {Line(), Column()}));
      }
      pendingKey_.assign(text, scalar.length);
      hasPendingKey_ = true;
      if (anchor != nullptr && !EnterAnchor(anchor, Anchor{nullptr, pendingKey_})) return false;
      return true;
    }
    if (!Resolve(event, *stack_.back().target)) return false;
    if (anchor != nullptr && !EnterAnchor(anchor, Anchor{PathOfTop(), {}})) return false;
    Pop();
    return true;
  }

  // Stores the value of a scalar that is not a key into target.
  bool Resolve(const yaml_event_t& event, Value& target) {
    const auto& scalar = event.data.scalar;
    bool quoted = scalar.style == YAML_SINGLE_QUOTED_SCALAR_STYLE ||
                  scalar.style == YAML_DOUBLE_QUOTED_SCALAR_STYLE;
    Result<void, std::string> resolved = resolver_.Resolve(
        reinterpret_cast<const char*>(scalar.tag), reinterpret_cast<const char*>(scalar.value),
        scalar.length, quoted, target);
    if (!resolved) return Fail(std::move(resolved).error());
    return true;
  }

  bool Start(const char* anchor, bool mapping) {
    if (KeyPosition()) {
      return Fail(FormatMessageTexts(mapping ? "Unexpected start of mapping. At line: %1 col: %2"
                                      : "Unexpected start of sequence. At line: %1 col: %2",
                              {Line(), Column()}));
    }
    if (depth_ >= kMaxNestingDepth) {
      return Fail(FormatMessageTexts("Nesting deeper than %1 levels is not supported. At line: %2 col: %3",
                              {Number(kMaxNestingDepth), Line(), Column()}));
    }
    Entry& top = stack_.back();
    // A repeated key's later container replaces the earlier value.
    top.target->Reset();
    if (mapping) {
      top.target->MakeStructure();
      if (spareIndexes_.empty()) {
        top.members = std::make_unique<MemberIndex>();
      } else {
        top.members = std::move(spareIndexes_.back());
        spareIndexes_.pop_back();
      }
    } else {
      top.target->MakeCollection();
    }
    top.open = true;
    ++depth_;
    if (anchor != nullptr) {
      top.anchor = anchor;
      if (!EnterAnchor(anchor, Anchor{PathOfTop(), {}})) return false;
    }
    return true;
  }

  // Counts the values of v into used; false once used passes the budget or v
  // would nest beyond the limit at depth.
  bool Measure(const Value& v, unsigned depth, size_t& used) const {
    if (++used > kAliasBudget) return false;
    ValueKind kind = v.Kind();
    if (kind != ValueKind::Collection && kind != ValueKind::Structure) return true;
    if (depth >= kMaxNestingDepth) return false;
    for (size_t i = 0; i < v.Size(); ++i) {
      const Value& child = kind == ValueKind::Collection ? v.At(i) : v.MemberValue(i);
      if (!Measure(child, depth + 1, used)) return false;
    }
    return true;
  }

  bool Alias(const char* name) {
    if (KeyPosition()) {
      // An alias cannot name a mapping key: only string scalars can.
      return Fail(FormatMessageTexts(
          "Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2",
          {Line(), Column()}));
    }
    for (size_t i = 0; i + 1 < stack_.size(); ++i) {
      if (stack_[i].anchor == name) {
        return Fail(FormatMessageTexts("Cannot deserialize cyclic aliases. Alias \"%1\". At line: %2 col: %3",
                                {name, Line(), Column()}));
      }
    }
    auto found = anchors_.find(name);
    if (found == anchors_.end()) {
      return Fail(FormatMessageTexts("Undefined alias encountered: \"%1\". At line: %2 col: %3",
                              {name, Line(), Column()}));
    }
    Value& slot = *stack_.back().target;
    if (found->second.path == nullptr) {
      slot.SetString(found->second.text);
      budgetUsed_ += 1;
    } else {
      bool intoOpen = false;
      const Value* source = Walk(found->second.path, intoOpen);
      if (source == nullptr || !Measure(*source, depth_, budgetUsed_)) {
        return Fail(FormatMessageTexts(
            "Alias \"%1\" expands the document beyond %2 values or %3 levels. At line: %4 col: %5",
            {name, Number(kAliasBudget), Number(kMaxNestingDepth), Line(), Column()}));
      }
      // Copy through a separate root: the source may lie inside the slot when
      // a repeated key names an alias of its own earlier content.
      Value copy;
      copy.Assign(*source);
      // A mapping still being read is in append order, and so is its copy.
      if (intoOpen) SortMembers(copy);
      slot.Swap(copy);
    }
    Pop();
    return true;
  }

  // Puts the members of every Structure in v into name order.
  static void SortMembers(Value& v) {
    if (v.Kind() != ValueKind::Collection && v.Kind() != ValueKind::Structure) return;
    for (size_t i = 0; i < v.Size(); ++i) {
      SortMembers(v.Kind() == ValueKind::Collection ? v.Element(i) : v.MemberValue(i));
    }
    v.FinishMembers();
  }

  // The node a path leads to, or null when the walk exceeds the budget.
  // intoOpen tells whether the node is a sequence or mapping still being
  // read: a repeated key has put a new container where the anchored node
  // was, and the path leads into it. Only such a node can hold mappings in
  // append order (itself, or those open inside it), since every open
  // container lies on the way from the root to the alias.
  const Value* Walk(const Path& path, bool& intoOpen) {
    std::vector<const PathStep*> steps;
    for (const PathStep* step = path.get(); step != nullptr; step = step->parent.get()) {
      if (++budgetUsed_ > kAliasBudget) return nullptr;
      steps.push_back(step);
    }
    // Members are found by name. A mapping that is still open on the stack
    // (the walk reaches the value an open entry is filling) is in append
    // order and is searched as such; every other mapping is sorted.
    const Value* node = &root_;
    size_t depth = 0;
    for (auto it = steps.rbegin(); it != steps.rend(); ++it, ++depth) {
      const PathStep& step = **it;
      if (step.kind == PathStep::Index) {
        node = &node->At(step.index);
      } else if (step.kind == PathStep::Name) {
        Entry* open = depth > 0 && depth - 1 < stack_.size() ? &stack_[depth - 1] : nullptr;
        if (open != nullptr && open->open && open->target == node &&
            node->Kind() == ValueKind::Structure) {
          size_t position = open->members != nullptr
                                ? open->members->Find(*node, step.name, Fnv1a(step.name))
                                : node->Size();
          node = position < node->Size() ? &node->MemberValue(position) : &Value::EmptyValue();
        } else {
          node = &node->FindMember(step.name);
        }
      }
    }
    for (const Entry& entry : stack_) {
      if (entry.open && entry.target == node) intoOpen = true;
    }
    return node;
  }

  Value& root_;
  serialization_detail::YamlScalarResolver resolver_;
  std::vector<Entry> stack_;
  std::unordered_map<std::string, Anchor> anchors_;
  std::string pendingKey_;
  // Indexes of mappings already closed, kept for their storage.
  std::vector<std::unique_ptr<MemberIndex>> spareIndexes_;
  bool hasPendingKey_ = false;
  unsigned depth_ = 0;
  size_t budgetUsed_ = 0;
  yaml_mark_t mark_{};
  bool failed_ = false;
  std::string message_;
};

}  // namespace

ValueResult ReadYaml(std::string_view text) {
  // libyaml reads the whole text, NULs included (it refuses them as control
  // characters). It asserts on a null input pointer, which an empty view may carry.
  if (text.data() == nullptr) text = std::string_view("", 0);

  ValueResult result;
  yaml_parser_t parser;
  if (yaml_parser_initialize(&parser) == 0) {
    result.SetError("YAML parser error: out of memory. At line: 0 col: 0");
    return result;
  }
  yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
  yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()),
                               text.size());
  YamlReader reader(result.value());
  bool parserFailed = false;
  for (;;) {
    yaml_event_t event;
    if (yaml_parser_parse(&parser, &event) == 0) {
      parserFailed = true;
      break;
    }
    bool keepGoing = reader.Handle(event);
    bool streamEnd = event.type == YAML_STREAM_END_EVENT;
    yaml_event_delete(&event);
    if (!keepGoing || streamEnd) break;
  }
  if (reader.Failed()) {
    result.SetError(reader.Message());
  } else if (parserFailed) {
    result.SetError(FormatMessageTexts("YAML parser error: %1. At line: %2 col: %3",
                                {parser.problem != nullptr ? parser.problem : "",
                                 Number(parser.problem_mark.line),
                                 Number(parser.problem_mark.column)}));
  }
  yaml_parser_delete(&parser);
  return result;
}

}  // namespace qmx
