// A program that loads the shared object, has its thread-local block
// allocated at a chosen place in the heap (16 bytes into a page), serves a
// token, leaks one block on purpose and exits normally, so that the leak
// check runs at exit over the plugin's thread-local storage.
// leak_check_posix_test.cc runs it.
//
// The placement is what makes this a test: GCC 12's leak checker takes a
// dynamic thread-local block that starts 16 bytes into a page for one with
// an old glibc's header in front of it, and then scans whatever that header
// would say, which crashed the check at exit of processes that had loaded the
// plugin whenever the heap happened to put the block there.
#include <link.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/paths.h"
#include "support/plugin_harness.h"

namespace {

constexpr std::uintptr_t kPage = 4096;
constexpr std::uintptr_t kSuspectOffset = 16;  // the page offset the checker misreads
constexpr std::size_t kLeakedBytes = 4242;     // what the test looks for in the report
constexpr int kMaxPadding = 4096;

struct TlsInfo {
  const char* path;
  std::size_t size = 0;        // the plugin's thread-local block, in bytes
  std::size_t module = 0;      // its module id
  const void* data = nullptr;  // this thread's block, once allocated
};

// The argument of __tls_get_addr on x86-64, which allocates a thread's block
// of a dynamically loaded module on first use. The plugin's own code calls it
// the same way on its first thread-local access.
struct TlsIndex {
  unsigned long module;
  unsigned long offset;
};
extern "C" void* __tls_get_addr(TlsIndex* index);

int FindPluginTls(dl_phdr_info* info, size_t, void* arg) {
  auto* tls = static_cast<TlsInfo*>(arg);
  if (info->dlpi_name == nullptr || std::strcmp(info->dlpi_name, tls->path) != 0) return 0;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    if (info->dlpi_phdr[i].p_type == PT_TLS) tls->size = info->dlpi_phdr[i].p_memsz;
  }
  tls->module = info->dlpi_tls_modid;
  tls->data = info->dlpi_tls_data;
  return 1;
}

TlsInfo PluginTls(const std::string& path) {
  TlsInfo tls{path.c_str()};
  dl_iterate_phdr(FindPluginTls, &tls);
  return tls;
}

// Blocks of the thread-local block's size taken from the heap until the next
// one would start kSuspectOffset bytes into a page. The allocator hands out
// fresh blocks of one size one stride apart, so the plugin's block, allocated
// next, lands there. Kept (not freed), so that they are reachable, not leaks.
void* padding[kMaxPadding];

bool PlaceNextBlockAtPageStart(std::size_t size) {
  std::uintptr_t previous = 0;
  for (int i = 0; i < kMaxPadding; ++i) {
    padding[i] = std::malloc(size);
    auto address = reinterpret_cast<std::uintptr_t>(padding[i]);
    if (previous != 0 && address > previous &&
        (address + (address - previous)) % kPage == kSuspectOffset) {
      return true;
    }
    previous = address;
  }
  return false;
}

}  // namespace

int main() {
  using namespace qmx::test;
  LoadEntitlementsFn load = LoadSharedObject();
  if (load == nullptr) {
    std::fprintf(stderr, "cannot open %s\n", PluginPath().c_str());
    return 2;
  }
  TlsInfo before = PluginTls(PluginPath());
  if (before.size == 0 || before.data != nullptr) {
    std::fprintf(stderr, "the plugin has no thread-local block to place (size %zu)\n", before.size);
    return 2;
  }
  if (!PlaceNextBlockAtPageStart(before.size)) {
    std::fprintf(stderr, "could not place the thread-local block\n");
    return 2;
  }
  TlsIndex index{before.module, 0};
  auto block = reinterpret_cast<std::uintptr_t>(__tls_get_addr(&index));
  std::printf("thread-local block at page offset %u\n", static_cast<unsigned>(block % kPage));
  std::fflush(stdout);
  {
    PluginHarness harness(load);
    if (!harness.StartServing()) {
      std::fprintf(stderr, "the plugin did not serve a token\n");
      return 2;
    }
    harness.Stop();
  }

  static void* volatile leaked = nullptr;
  leaked = std::malloc(kLeakedBytes);
  std::memset(leaked, 1, kLeakedBytes);
  leaked = nullptr;
  return 0;
}
