#include "routing/route_pattern.h"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace qmx {
namespace {

constexpr std::string_view kNotSlashGroup = "([^/]*)";
constexpr std::string_view kNotLineBreakGroup = "(.*)";
constexpr std::string_view kSyntaxCharacters = "^$\\.*+?()[]{}|";

// Sorted positions of the characters a group class cannot cross.
std::vector<size_t> ForbiddenPositions(std::string_view target, bool notSlash) {
  std::vector<size_t> positions;
  for (size_t i = 0; i < target.size(); ++i) {
    char c = target[i];
    if (notSlash ? c == '/' : (c == '\n' || c == '\r')) positions.push_back(i);
  }
  return positions;
}

}  // namespace

std::shared_ptr<const RoutePattern> RoutePattern::Compile(std::string_view source) {
  auto pattern = std::make_shared<RoutePattern>();
  pattern->source_ = std::string(source);
  pattern->literals_.emplace_back();
  size_t i = 0;
  while (i < source.size()) {
    std::string_view rest = source.substr(i);
    if (rest.starts_with(kNotSlashGroup) || rest.starts_with(kNotLineBreakGroup)) {
      bool notSlash = rest.starts_with(kNotSlashGroup);
      pattern->groups_.push_back(notSlash ? GroupClass::kNotSlash : GroupClass::kNotLineBreak);
      pattern->literals_.emplace_back();
      i += notSlash ? kNotSlashGroup.size() : kNotLineBreakGroup.size();
      continue;
    }
    char c = source[i];
    if (c == '\\') {
      if (i + 1 >= source.size() || kSyntaxCharacters.find(source[i + 1]) == std::string_view::npos) return nullptr;
      pattern->literals_.back().push_back(source[i + 1]);
      i += 2;
      continue;
    }
    if (kSyntaxCharacters.find(c) != std::string_view::npos) return nullptr;
    pattern->literals_.back().push_back(c);
    ++i;
  }
  return pattern;
}

bool RoutePattern::FullMatch(std::string_view target, std::vector<std::string_view>& captures) const {
  captures.clear();
  const std::string& first = literals_.front();
  const std::string& last = literals_.back();
  if (groups_.empty()) return target == first;
  if (!target.starts_with(first) || !target.ends_with(last)) return false;

  const int64_t n = static_cast<int64_t>(target.size());
  const size_t k = groups_.size();

  std::optional<std::vector<size_t>> forbidden[2];
  // First position at or after p that group j cannot cross (n if none).
  auto groupLimit = [&](size_t j, int64_t p) -> int64_t {
    size_t cls = groups_[j] == GroupClass::kNotSlash ? 0 : 1;
    if (!forbidden[cls]) forbidden[cls] = ForbiddenPositions(target, cls == 0);
    const std::vector<size_t>& positions = *forbidden[cls];
    auto it = std::lower_bound(positions.begin(), positions.end(), static_cast<size_t>(p));
    return it == positions.end() ? n : static_cast<int64_t>(*it);
  };
  // The latest position q <= x where the literal after group j can begin
  // (-1 if none). The literal after the last group must end the target.
  auto literalAtOrBefore = [&](size_t j, int64_t x) -> int64_t {
    const std::string& literal = literals_[j + 1];
    int64_t size = static_cast<int64_t>(literal.size());
    if (j + 1 == k) return x >= n - size ? n - size : -1;
    x = std::min(x, n - size);
    if (x < 0) return -1;
    if (literal.empty()) return x;
    size_t found = target.rfind(literal, static_cast<size_t>(x));
    return found == std::string_view::npos ? -1 : static_cast<int64_t>(found);
  };
  auto literalSize = [&](size_t j) { return static_cast<int64_t>(literals_[j + 1].size()); };

  // start[j], end[j]: the span of group j. high[j]: an upper bound on end[j]
  // over all full matches reachable from the current starts.
  std::vector<int64_t> start(k), end(k), high(k);
  high[k - 1] = n - static_cast<int64_t>(last.size());
  for (size_t j = k - 1; j-- > 0;) high[j] = high[j + 1] - literalSize(j);

  start[0] = static_cast<int64_t>(first.size());
  size_t j = 0;
  for (;;) {
    int64_t e = literalAtOrBefore(j, std::min(high[j], groupLimit(j, start[j])));
    // Starts only ever decrease, so no later attempt can end group j later.
    high[j] = e;
    if (e < start[j]) {
      // Group j cannot end at or after its start: the previous group must
      // end earlier, early enough that group j can reach its latest end e.
      if (j == 0) return false;
      --j;
      high[j] = std::min(high[j], e - literalSize(j));
      continue;
    }
    end[j] = e;
    if (j + 1 == k) break;
    start[j + 1] = e + literalSize(j);
    ++j;
  }
  captures.reserve(k);
  for (size_t g = 0; g < k; ++g) {
    captures.push_back(target.substr(static_cast<size_t>(start[g]), static_cast<size_t>(end[g] - start[g])));
  }
  return true;
}

}  // namespace qmx
