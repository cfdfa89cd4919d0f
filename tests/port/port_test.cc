// The port layer behaves alike on every platform it is built for (the same
// suite runs on Linux and, under Wine, on Windows).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "port/clock.h"
#include "port/heap.h"
#include "port/library.h"
#include "port/lock.h"
#include "port/module.h"
#include "port/pages.h"
#include "port/thread.h"
#include "port/trace.h"
#include "support/paths.h"

namespace qmx {
namespace {

TEST(PortPagesTest, ReservedPagesArePageAlignedZeroedAndWritable) {
  // The slab pools find a block's page by rounding its address down to 4096.
  constexpr size_t kBytes = 16 * 4096;
  auto* pages = static_cast<unsigned char*>(port::ReservePages(kBytes));
  ASSERT_NE(pages, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(pages) % 4096, 0u);
  for (size_t i = 0; i < kBytes; i += 512) EXPECT_EQ(pages[i], 0) << i;
  std::memset(pages, 0xA5, kBytes);
  EXPECT_EQ(pages[kBytes - 1], 0xA5);
}

TEST(PortHeapTest, BlockSizesCoverWhatWasAskedForAndAlignedBlocksAreAligned) {
  void* block = port::SystemAllocate(100);
  ASSERT_NE(block, nullptr);
  EXPECT_GE(port::SystemBlockSize(block), 100u);
  block = port::SystemReallocate(block, 5000);
  ASSERT_NE(block, nullptr);
  EXPECT_GE(port::SystemBlockSize(block), 5000u);
  port::SystemFree(block);

  for (size_t alignment : {sizeof(void*), size_t{16}, size_t{64}, size_t{4096}}) {
    void* aligned = port::SystemAllocateAligned(alignment, 300);
    ASSERT_NE(aligned, nullptr) << alignment;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(aligned) % alignment, 0u) << alignment;
    size_t size = port::SystemAlignedBlockSize(aligned, alignment);
    EXPECT_GE(size, 300u) << alignment;
    EXPECT_LT(size, 300u + alignment + 64) << alignment;  // no more than the block around it holds
    std::memset(aligned, 0x5A, 300);
    port::SystemFreeAligned(aligned);
  }
}

constinit port::Mutex sharedCounterLock;
int sharedCounter = 0;

TEST(PortLockTest, AConstantInitialisedMutexSerialisesThreads) {
  auto add = [] {
    for (int i = 0; i < 20000; ++i) {
      std::lock_guard guard(sharedCounterLock);
      ++sharedCounter;
    }
  };
  std::thread first(add), second(add);
  first.join();
  second.join();
  EXPECT_EQ(sharedCounter, 40000);
}

TEST(PortLockTest, TheCriticalSectionIsReenteredByItsOwnerAndExcludesOthers) {
  port::CriticalSection section;
  std::atomic<bool> taken{false};
  std::thread other;
  {
    std::lock_guard outer(section);
    std::lock_guard inner(section);  // would deadlock if it were not recursive
    other = std::thread([&] {
      std::lock_guard guard(section);
      taken = true;
    });
    for (int i = 0; i < 1000; ++i) std::this_thread::yield();
    EXPECT_FALSE(taken.load());  // held twice here: the other thread cannot be in
  }
  other.join();
  EXPECT_TRUE(taken.load());
}

TEST(PortThreadTest, ThreadIdsAreStablePerThreadAndDistinctAcrossThreads) {
  uint32_t mine = port::CurrentThreadId();
  EXPECT_NE(mine, 0u);
  EXPECT_EQ(port::CurrentThreadId(), mine);
  uint32_t other = 0;
  std::thread([&] { other = port::CurrentThreadId(); }).join();
  EXPECT_NE(other, 0u);
  EXPECT_NE(other, mine);
}

TEST(PortClockTest, LocalTimeFieldsAreInRangeAndTheCounterNeverGoesBack) {
  port::LocalTime now = port::LocalTimeNow();
  EXPECT_GE(now.year, 2000);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_GE(now.day, 1);
  EXPECT_LE(now.day, 31);
  EXPECT_LE(now.hour, 23);
  EXPECT_LE(now.minute, 59);
  EXPECT_LE(now.second, 60);
  EXPECT_LE(now.millisecond, 999);
  EXPECT_GE(now.millisecond, 0);
  EXPECT_GT(port::CounterFrequency(), 0u);
  uint64_t previous = port::CounterTicks();
  for (int i = 0; i < 1000; ++i) {
    uint64_t next = port::CounterTicks();
    EXPECT_GE(next, previous);
    previous = next;
  }
}

TEST(PortModuleTest, TheExecutableNameIsTheLastPathComponent) {
  char name[256] = "unchanged";
  ASSERT_TRUE(port::ExecutableFileName(name, sizeof name));
  EXPECT_EQ(std::string(name).rfind("port_tests", 0), 0u) << name;  // port_tests, port_tests.exe
  EXPECT_EQ(std::strchr(name, '/'), nullptr) << name;
  EXPECT_EQ(std::strchr(name, '\\'), nullptr) << name;

  char small[5];
  ASSERT_TRUE(port::ExecutableFileName(small, sizeof small));
  EXPECT_STREQ(small, "port");
  EXPECT_FALSE(port::ExecutableFileName(small, 0));

  EXPECT_STREQ(port::FileNamePart("plain.exe"), "plain.exe");
  EXPECT_STREQ(port::FileNamePart(""), "");
}

// A path that does not fit is a failure, never a path cut short.
TEST(PortModuleTest, ExecutablePathFitsWithItsNulOrFails) {
  char path[4096];
  ASSERT_TRUE(port::ExecutablePath(path, sizeof path));
  const size_t length = std::strlen(path);
  ASSERT_GT(length, 1u);
  char name[256];
  ASSERT_TRUE(port::ExecutableFileName(name, sizeof name));
  EXPECT_STREQ(port::FileNamePart(path), name);

  std::string exact(length + 1, 'x');
  ASSERT_TRUE(port::ExecutablePath(exact.data(), exact.size()));
  EXPECT_STREQ(exact.c_str(), path);
  std::string shorter(length, 'x');
  EXPECT_FALSE(port::ExecutablePath(shorter.data(), shorter.size()));
  std::string half(length / 2, 'x');
  EXPECT_FALSE(port::ExecutablePath(half.data(), half.size()));
  EXPECT_FALSE(port::ExecutablePath(path, 0));
}

TEST(PortLibraryTest, LoadsThePluginAndReportsWhatIsMissing) {
  port::Library missing(test::BuildDir() + "/no-such-library");
  EXPECT_FALSE(missing.Loaded());
  EXPECT_FALSE(missing.Error().empty());
  EXPECT_EQ(missing.Symbol("load_entitlements"), nullptr);

  EXPECT_TRUE(missing.Close());  // nothing to unload

  // The plugin is never unloaded: its C++ runtime keeps process-wide buffers.
  port::Library plugin(test::PluginPath());
  ASSERT_TRUE(plugin.Loaded()) << plugin.Error();
  EXPECT_NE(plugin.Symbol("load_entitlements"), nullptr);
  EXPECT_EQ(plugin.Symbol("LoadPlugin"), nullptr);  // the one export only
  EXPECT_FALSE(plugin.Error().empty());
  port::Library moved = std::move(plugin);
  EXPECT_FALSE(plugin.Loaded());
  EXPECT_TRUE(moved.Loaded());
  EXPECT_NE(moved.Symbol("load_entitlements"), nullptr);
  moved.KeepLoaded();
  EXPECT_FALSE(moved.Loaded());
}

TEST(PortTraceTest, ProvidersRegisterWriteAndUnregisterWhereTheServiceExists) {
  const port::TraceGuid guid = {0x5A1E0CF0, 0x3B7D, 0x4E21, {0x9A, 0x10, 0x6C, 0x2F, 0x81, 0x44, 0x0B, 0xF0}};
  const port::TraceEventDescriptor event = {.id = 1, .version = 0, .channel = 0, .level = 4, .opcode = 0,
                                            .task = 0, .keyword = 0};
  uint32_t value = 7;
  const port::TraceField fields[] = {{&value, sizeof value}};
  auto ignore = [](void*, bool, uint8_t, uint64_t, uint64_t) {};
  std::optional<port::TraceHandle> registered = port::TraceRegister(guid, ignore, nullptr);
  EXPECT_EQ(registered.has_value(), port::TraceServiceAvailable());
  if (!registered) {
    EXPECT_FALSE(port::TraceWrite(0, event, fields, 1));
    return;
  }
  const port::TraceHandle handle = *registered;
  EXPECT_NE(handle, 0u);
  EXPECT_TRUE(port::TraceWrite(handle, event, fields, 1));
  port::TraceUnregister(handle);
}

}  // namespace
}  // namespace qmx
