// The cases of the one table scripts/bench prints. Each case registers one
// benchmark for our code ("<case>/ours") and, where there is one, one for the
// library it is compared with ("<case>/base"); main pairs them by case name.
#pragma once

#include <string>
#include <vector>

namespace qmx::bench {

struct CaseInfo {
  std::string name;
  double limit = 0;     // the highest acceptable ratio, 0 when none applies
  std::string baseline; // what the baseline runs, for the table's notes
};

// Every case in table order.
std::vector<CaseInfo>& Cases();

// Lines printed under the table (skipped cases and similar).
std::vector<std::string>& Notes();

void RegisterSerializationCases();
void RegisterPluginCases();

}  // namespace qmx::bench
