// An answer too large to decode. The token decoder's reader holds a token per
// character of the claims, so a service answer of some tens of MiB exhausts a
// 32-bit process. Here a huge allocation is made to fail on purpose (the
// operators below refuse any single block of 16 MiB or more while armed); the
// plugin must then treat the answer as unusable: the served record stays the
// last good token, whole, and Initialize does not fail because of it.
//
// The replaced operators apply to the whole program, which is why these tests
// have a program of their own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include "serialization/json.h"
#include "support/plugin_harness.h"

namespace {

bool refuseHugeBlocks = false;
constexpr std::size_t kHuge = 16u << 20;

void* Allocate(std::size_t size) {
  if (refuseHugeBlocks && size >= kHuge) throw std::bad_alloc();
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

}  // namespace

void* operator new(std::size_t size) {
  return Allocate(size);
}
void* operator new[](std::size_t size) {
  return Allocate(size);
}
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete[](void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  std::free(block);
}

namespace qmx::test {
namespace {

// A token whose claims are 1 MiB of '[': small as an answer, huge to decode.
std::string UndecodableBody() {
  return TokenBody("e30." + Base64Url(std::string(1 << 20, '[')) + ".x");
}

// Refuses huge blocks for as long as it lives.
struct RefusingHugeBlocks {
  RefusingHugeBlocks() { refuseHugeBlocks = true; }
  ~RefusingHugeBlocks() { refuseHugeBlocks = false; }
};

TEST(OutOfMemoryFaultsTest, AnAnswerTooLargeToDecodeLeavesTheServedRecordWhole) {
  PluginHarness harness(&LoadLinkedPlugin);
  ASSERT_TRUE(harness.StartServing());
  const EndpointAnswer good = harness.Get();
  harness.service.body = UndecodableBody();
  {
    RefusingHugeBlocks refusing;
    harness.DeliverEvent(kAccessPath, "Update", R"({"token":"access-2"})");
  }
  EXPECT_EQ(harness.host.externalCalls.size(), 2u);
  EXPECT_TRUE(harness.Get().body == good.body) << "the served record changed";
  EXPECT_EQ(harness.RetryTimers(), 0u);
  // Without the limit the same answer is a token like any other.
  harness.DeliverEvent(kAccessPath, "Update", R"({"token":"access-2"})");
  ValueResult served = ReadJson(harness.Get().body);
  EXPECT_EQ(served.value().FindMember("accessToken").ToString(), "access-2");
  EXPECT_EQ(served.value().FindMember("subject").ToString(), "");
}

TEST(OutOfMemoryFaultsTest, AnAnswerTooLargeToDecodeAtStartUpDoesNotFailInitialize) {
  PluginHarness harness(&LoadLinkedPlugin);
  harness.states[kAccessPath] = R"({"token":"access-1"})";
  harness.service.body = UndecodableBody();
  bool started = false;
  {
    RefusingHugeBlocks refusing;
    started = harness.Start();
  }
  EXPECT_TRUE(started);
  EXPECT_EQ(harness.Get().error, "Entitlements token is not ready yet");
}

}  // namespace
}  // namespace qmx::test
