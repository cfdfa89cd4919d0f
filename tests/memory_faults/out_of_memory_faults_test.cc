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
#include <cstring>
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
  harness.host.service.body = UndecodableBody();
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
  harness.host.states[kAccessPath] = R"({"token":"access-1"})";
  harness.host.service.body = UndecodableBody();
  bool started = false;
  {
    RefusingHugeBlocks refusing;
    started = harness.Start();
  }
  EXPECT_TRUE(started);
  EXPECT_EQ(harness.Get().error, "Entitlements token is not ready yet");
}

// The host's release functions: how often the plugin gave its records back.
int responseReleases = 0;
int streamReleases = 0;
int externalReleases = 0;

void CountResponseRelease(HostResponse*) { ++responseReleases; }
void CountStreamRelease(void*) { ++streamReleases; }
void CountExternalRelease(ExternalResponse*) { ++externalReleases; }

// A stream announcing 32 MiB that delivers one short JSON text.
bool ReadShortStream(void*, uint8_t* buffer, uint32_t* inOutSize, bool* more) {
  static const char kText[] = "{}";
  *inOutSize = sizeof kText - 1;
  std::memcpy(buffer, kText, *inOutSize);
  *more = false;
  return true;
}

TEST(OutOfMemoryFaultsTest, AFailedAllocationStillReleasesTheHostsRecords) {
  // Each case makes one allocation of the plugin's request client fail while
  // it holds a record of the host's, then checks the record came back.
  const std::string huge(kHuge + 1, 'x');

  {
    SCOPED_TRACE("copying a large body of an outside service's answer");
    PluginHarness harness(&LoadLinkedPlugin);
    ASSERT_TRUE(harness.StartServing());
    harness.host.service.body = huge;
    harness.host.service.release = &CountExternalRelease;
    externalReleases = 0;
    {
      RefusingHugeBlocks refusing;
      harness.DeliverEvent(kAccessPath, "Update", R"({"token":"access-2"})");
    }
    EXPECT_EQ(harness.host.externalCalls.size(), 2u);
    EXPECT_EQ(externalReleases, 1);
  }
  {
    SCOPED_TRACE("reading a streamed answer");
    PluginHarness harness(&LoadLinkedPlugin);
    ASSERT_TRUE(harness.StartServing());
    harness.host.answers[kRegionDataPath] = [](HostResponse* response) {
      response->streamRead = &ReadShortStream;
      response->streamRelease = &CountStreamRelease;
      response->totalLength = 32u << 20;
      response->release = &CountResponseRelease;
    };
    responseReleases = 0;
    streamReleases = 0;
    {
      RefusingHugeBlocks refusing;
      harness.DeliverEvent(kRegionPath, "Update", R"({"region":"us"})");
    }
    EXPECT_EQ(streamReleases, 1);
    EXPECT_EQ(responseReleases, 1);
  }
  {
    SCOPED_TRACE("building the error of a host answer");
    PluginHarness harness(&LoadLinkedPlugin);
    ASSERT_TRUE(harness.StartServing());
    static std::string hugeError;
    hugeError = huge;
    harness.host.answers[kMessagingPost] = [](HostResponse* response) {
      response->error = hugeError.c_str();
      response->status = 500;
      response->release = &CountResponseRelease;
    };
    responseReleases = 0;
    {
      RefusingHugeBlocks refusing;
      harness.DeliverEvent(kAccessPath, "Update", R"({"token":"access-2"})");
    }
    EXPECT_EQ(harness.host.externalCalls.size(), 2u);
    EXPECT_EQ(responseReleases, 1);
    hugeError.clear();
  }
}

}  // namespace
}  // namespace qmx::test
