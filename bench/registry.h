// The cases of the one table scripts/bench prints. Each case registers one
// benchmark for our code ("<case>/ours") and, where there is one, one for the
// library it is compared with ("<case>/base"); main pairs them by case name.
// A row that compares an existing benchmark of ours with another library names
// both benchmarks itself (ours, base), so our side is measured once.
#pragma once

#include <string>
#include <vector>

namespace qmx::bench {

struct CaseInfo {
  std::string name;
  double limit = 0;     // the highest acceptable ratio, 0 when none applies
  std::string baseline; // what the baseline runs, for the table's notes
  std::string ours = {};  // benchmark names; empty means "<name>/ours" and "<name>/base"
  std::string base = {};
  // Limits of a row without a baseline, 0 when none applies: its time, and
  // its "allocs" counter.
  double maxNanoseconds = 0;
  double maxAllocs = 0;

  std::string OursKey() const { return ours.empty() ? name + "/ours" : ours; }
  std::string BaseKey() const { return base.empty() ? name + "/base" : base; }
};

// Every case in table order.
std::vector<CaseInfo>& Cases();

// Lines printed under the table (skipped cases and similar).
std::vector<std::string>& Notes();

void RegisterSerializationCases();
void RegisterPluginCases();

}  // namespace qmx::bench
