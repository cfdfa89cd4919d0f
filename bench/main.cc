// qmx-bench: runs every case with Google Benchmark and prints one table of
// our time, the baseline's time and their ratio. Each benchmark is repeated
// (interleaved at random, so that a burst of load on the shared machine hits
// both sides alike) and the fastest repetition counts. Benchmark flags on the
// command line override the defaults set here.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "registry.h"

namespace qmx::bench {

std::vector<CaseInfo>& Cases() {
  static std::vector<CaseInfo> cases;
  return cases;
}

std::vector<std::string>& Notes() {
  static std::vector<std::string> notes;
  return notes;
}

namespace {

struct Best {
  double nanoseconds = std::numeric_limits<double>::infinity();
  std::map<std::string, double> counters;
  std::string error;
};

// Keeps the fastest repetition of every benchmark; prints nothing.
class CollectingReporter : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context&) override { return true; }
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      Best& best = results[run.benchmark_name()];
      if (run.error_occurred) {
        best.error = run.error_message;
        continue;
      }
      double ns = run.real_accumulated_time * 1e9 / static_cast<double>(run.iterations);
      std::fprintf(stderr, ".");
      if (ns < best.nanoseconds) {
        best.nanoseconds = ns;
        best.counters.clear();
        for (const auto& [name, counter] : run.counters) best.counters[name] = counter.value;
      }
    }
  }
  std::map<std::string, Best> results;
};

std::string Time(double ns) {
  char text[32];
  if (ns >= 1e6) {
    std::snprintf(text, sizeof text, "%.2f ms", ns / 1e6);
  } else if (ns >= 1e3) {
    std::snprintf(text, sizeof text, "%.2f us", ns / 1e3);
  } else {
    std::snprintf(text, sizeof text, "%.0f ns", ns);
  }
  return text;
}

// The limits of a row without a baseline: "<time> met; allocs <n> NOT MET".
std::string OwnLimits(const CaseInfo& info, const Best& best) {
  std::string text;
  if (info.maxNanoseconds > 0) {
    text = Time(info.maxNanoseconds) + (best.nanoseconds <= info.maxNanoseconds ? " met" : " NOT MET");
  }
  auto allocs = best.counters.find("allocs");
  if (info.maxAllocs > 0 && allocs != best.counters.end()) {
    char part[48];
    std::snprintf(part, sizeof part, "allocs %.1f %s", info.maxAllocs,
                  allocs->second <= info.maxAllocs ? "met" : "NOT MET");
    text += text.empty() ? "" : "; ";
    text += part;
  }
  return text.empty() ? "-" : text;
}

void PrintTable(const std::map<std::string, Best>& results) {
  std::printf("\n| case | build | ours | baseline | ratio | limit | notes |\n");
  std::printf("|---|---|---:|---:|---:|---:|---|\n");
  for (const CaseInfo& info : Cases()) {
    auto ours = results.find(info.OursKey());
    auto base = results.find(info.BaseKey());
    if (ours == results.end()) continue;  // filtered out
    std::string notes = info.baseline;
    std::string oursText = "-", baseText = "-", ratioText = "-", limitText = "-";
    if (!ours->second.error.empty()) {
      notes = "failed: " + ours->second.error;
    } else {
      oursText = Time(ours->second.nanoseconds);
      for (const auto& [name, value] : ours->second.counters) {
        char text[64];
        std::snprintf(text, sizeof text, name == "calls/s" ? "%s %.0f" : "%s %.1f", name.c_str(), value);
        notes += notes.empty() ? "" : "; ";
        notes += text;
      }
    }
    if (base != results.end() && base->second.error.empty() && ours->second.error.empty()) {
      baseText = Time(base->second.nanoseconds);
      double ratio = ours->second.nanoseconds / base->second.nanoseconds;
      char text[32];
      std::snprintf(text, sizeof text, "%.2f", ratio);
      ratioText = text;
      if (info.limit > 0) {
        std::snprintf(text, sizeof text, "%.2g %s", info.limit, ratio <= info.limit ? "met" : "NOT MET");
        limitText = text;
      }
    } else if (base != results.end() && !base->second.error.empty()) {
      notes += "; baseline failed: " + base->second.error;
    } else if (ours->second.error.empty()) {
      limitText = OwnLimits(info, ours->second);
    }
    std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", info.name.c_str(), QMX_BENCH_BUILD, oursText.c_str(),
                baseText.c_str(), ratioText.c_str(), limitText.c_str(), notes.c_str());
  }
  for (const std::string& note : Notes()) std::printf("\n%s\n", note.c_str());
}

}  // namespace
}  // namespace qmx::bench

int main(int argc, char** argv) {
  // Defaults first, so that flags given on the command line win.
  std::vector<char*> args{argv[0]};
  std::string defaults[] = {"--benchmark_repetitions=5", "--benchmark_enable_random_interleaving=true",
                            "--benchmark_min_time=0.2"};
  for (std::string& flag : defaults) args.push_back(flag.data());
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;

  qmx::bench::RegisterSerializationCases();
  qmx::bench::RegisterPluginCases();

  qmx::bench::CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::fprintf(stderr, "\n");
  qmx::bench::PrintTable(reporter.results);
  benchmark::Shutdown();
  return 0;
}
