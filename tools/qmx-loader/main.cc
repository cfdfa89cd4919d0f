// qmx-loader: loads a plugin shared object, calls load_entitlements with a host
// version and prints what the plugin filled in.
//
//   qmx-loader PLUGIN.so|PLUGIN.dll [MAJOR.MINOR.PATCH]
//   qmx-loader --help | --version
//
// The library stays loaded until the process ends: the plugin has no unload
// entry, and its C++ runtime keeps process-wide buffers.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "../tool_options.h"
#include "interface/host_api.h"
#include "port/library.h"

namespace {

constexpr const char* kUsage =
    "usage: qmx-loader PLUGIN.so|PLUGIN.dll [MAJOR.MINOR.PATCH]\n"
    "       qmx-loader --help | --version\n"
    "Loads the plugin with the given host interface version (18.0.0 by default)\n"
    "and prints what load_entitlements filled in.\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (int status = qmx::tools::AnswerHelpOrVersion(argc, argv, "qmx-loader", kUsage); status >= 0)
    return status;
  if (argc < 2 || argc > 3 || argv[1][0] == '-') return Usage();
  unsigned major = 18, minor = 0, patch = 0;
  if (argc == 3 && std::sscanf(argv[2], "%u.%u.%u", &major, &minor, &patch) != 3) {
    std::fprintf(stderr, "qmx-loader: bad version '%s'\n", argv[2]);
    return Usage();
  }
  qmx::port::Library library(argv[1]);
  if (!library.Loaded()) {
    std::fprintf(stderr, "qmx-loader: %s\n", library.Error().c_str());
    return 1;
  }
  auto load = reinterpret_cast<LoadEntitlementsFn>(library.Symbol("load_entitlements"));
  library.KeepLoaded();
  if (load == nullptr) {
    std::fprintf(stderr, "qmx-loader: no load_entitlements in %s\n", argv[1]);
    return 1;
  }
  PluginLoadRecord record{};
  record.major = major;
  record.minor = minor;
  record.patch = patch;
  load(&record);
  std::printf("host version      %u.%u.%u\n", major, minor, patch);
  if (record.context == nullptr) {
    std::printf("refused           (record left unfilled)\n");
    return 1;
  }
  std::printf("plugin version    %u.%u.%u\n", record.major, record.minor, record.patch);
  std::printf("short name        %s\n", record.shortName);
  std::printf("callbacks         %p\n", static_cast<const void*>(record.callbacks));
  std::printf("context           %p\n", record.context);
  std::printf("descriptor        %p (%u functions, %u types, %u events)\n",
              static_cast<const void*>(record.descriptor), record.descriptor->functionCount,
              record.descriptor->typeCount, record.descriptor->eventCount);
  MemoryStats stats{};
  record.callbacks->GetMemoryStats(record.context, &stats);
  std::printf("memory            %llu bytes in %llu allocations, peak %llu\n",
              static_cast<unsigned long long>(stats.bytesAllocated - stats.bytesReleased),
              static_cast<unsigned long long>(stats.allocations - stats.releases),
              static_cast<unsigned long long>(stats.peakBytes));
  record.callbacks->Shutdown(record.context);

  return 0;
}
