// Compiled route patterns.
//
// Route templates translate to ECMAScript regular expressions of a few
// shapes only: literal characters (the syntax characters escaped with a
// backslash), the group ([^/]*) and the group (.*). RoutePattern compiles
// exactly that subset and matches it without recursion or backtracking
// stacks: std::regex recurses once per input character and overflows small
// thread stacks on long targets.
//
// Matching keeps the ECMAScript semantics of the same pattern under
// std::regex_match: the whole target must match, each group is greedy and
// earlier groups take priority, "." matches every character except "\n" and
// "\r", and "[^/]" every character except "/".
//
// How: a pattern L0 G1 L1 ... Gk Lk matches when every group end e_i (where
// literal L_i begins) satisfies a set of upper-bound constraints. The set of
// full matches is closed under element-wise maximum, so the greedy
// priority-ordered match is the greatest one, found by lowering per-group
// upper bounds until they are consistent. Every step lowers a bound, so the
// work is at most linear in the target per group.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qmx {

class RoutePattern {
 public:
  // Compiles source; nullptr if it uses anything outside the subset above.
  static std::shared_ptr<const RoutePattern> Compile(std::string_view source);

  // Full match of target. On success captures holds one view into target
  // per group, in order.
  bool FullMatch(std::string_view target, std::vector<std::string_view>& captures) const;

  const std::string& source() const { return source_; }
  size_t groupCount() const { return groups_.size(); }

 private:
  enum class GroupClass { kNotSlash, kNotLineBreak };

  std::string source_;
  std::vector<std::string> literals_;  // groupCount() + 1 literals around the groups
  std::vector<GroupClass> groups_;
};

}  // namespace qmx
