// Several threads using the registry, Values and host records at once. The
// registry's maps are locked, every Value's records come from the locked page
// pool, and the counted allocator's counters are atomic; the ThreadSanitizer
// build runs these tests to check exactly that.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "binding/builtin_types.h"
#include "binding/type_registry.h"
#include "binding/value.h"
#include "interface/counted_allocator.h"
#include "interface/host_value.h"

namespace qmx {
namespace {

constexpr int kThreads = 4;

template <typename Body>
void RunOnThreads(Body body) {
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(body, t);
  for (std::thread& thread : threads) thread.join();
}

TEST(ConcurrencyTest, RegistrationsAndLookupsFromSeveralThreads) {
  TypeRegistry registry;
  registry.RegisterBuiltins();
  constexpr int kTypes = 50;
  std::atomic<int> sharedWinners{0};
  RunOnThreads([&](int t) {
    for (int i = 0; i < kTypes; ++i) {
      const std::string name = "T" + std::to_string(t) + "_" + std::to_string(i);
      const TypeId id(0x10000000u + static_cast<uint32_t>(t * kTypes + i));
      TypeBuilder own = registry.BeginType(8, name, id, TypeKind::Struct);
      EXPECT_FALSE(own.AlreadyRegistered()) << name;
      own.SetDescription("own " + name);
      // Every thread races for the same names; exactly one registration wins each.
      TypeBuilder shared = registry.BeginType(4, "Shared" + std::to_string(i),
                                              TypeId(TypeId::kReserved), TypeKind::Enum);
      if (!shared.AlreadyRegistered()) {
        shared.AddEnumerator("A", t, "");
        ++sharedWinners;
      }
      registry.RegisterEvent("OnEvent" + name, own.Descriptor());
      FunctionDescriptor function;
      function.name = "Call" + name;
      registry.RegisterFunction(std::move(function),
                                i % 2 == 0 ? FunctionListing::Unlisted : FunctionListing::Listed);
      // Lookups of what other threads are registering meanwhile.
      EXPECT_EQ(registry.FindType(id), own.Descriptor());
      EXPECT_NE(registry.FindTypeByName("BindingHelpFormat"), nullptr);
      (void)registry.FindTypeByName("T0_" + std::to_string(i));
      (void)registry.FindEvent("OnEventT1_" + std::to_string(i));
      (void)registry.FindFunction("CallT2_" + std::to_string(i));
      if (i % 10 == 0) {
        (void)registry.Types();
        (void)registry.Functions();
        (void)registry.Events();
      }
    }
  });
  EXPECT_EQ(sharedWinners.load(), kTypes);
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kTypes; ++i) {
      const std::string name = "T" + std::to_string(t) + "_" + std::to_string(i);
      const TypeDescriptor* type = registry.FindTypeByName(name);
      ASSERT_NE(type, nullptr) << name;
      EXPECT_EQ(type->description, "own " + name);
      EXPECT_EQ(registry.FindEvent("OnEvent" + name)->type, type);
      EXPECT_EQ(registry.FindFunction("Call" + name) != nullptr, i % 2 == 1) << name;
    }
  }
  EXPECT_EQ(registry.ListedFunctionCount(), static_cast<size_t>(kThreads * kTypes / 2));
}

TEST(ConcurrencyTest, ValuesAndHostRecordsOnSeveralThreadsKeepTheCountsBalanced) {
  MemoryStats before{};
  GetMemoryStats(&before);
  const unsigned long long inUse = BytesInUse();
  constexpr int kRounds = 100;
  RunOnThreads([](int t) {
    for (int round = 0; round < kRounds; ++round) {
      Value value;
      Value& list = value.Member("list");
      for (int i = 0; i < 40; ++i) list.Append().SetString("item " + std::to_string(t * i));
      value.Member("blob").SetBlob("bytes", 5);
      value.Member("number").SetSigned(round);
      HostValue record{};
      ASSERT_TRUE(FromValue(value, record));
      ValueResult back = ToValue(record, "<thread>");
      ASSERT_TRUE(back.Ok());
      EXPECT_EQ(back.value().FindMember("list").Size(), 40u);
      Release(record);
      void* block = CountedAllocate(16 + static_cast<size_t>(round));
      CountedFree(block);
    }
  });
  MemoryStats after{};
  GetMemoryStats(&after);
  EXPECT_EQ(BytesInUse(), inUse);
  EXPECT_EQ(after.allocations - before.allocations, after.releases - before.releases);
  EXPECT_GE(after.allocations - before.allocations, static_cast<uint64_t>(kThreads * kRounds));
}

}  // namespace
}  // namespace qmx
