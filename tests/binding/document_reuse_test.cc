// What a small document no longer pays for must not show: slab pages whose
// free chain is written as they are used, contexts parked and handed to the
// next document, and the readers' stacks whose first levels live in place.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "binding/inline_stack.h"
#include "binding/page_pool.h"
#include "binding/slab_pool.h"
#include "binding/value.h"

namespace qmx {
namespace {

uintptr_t PageOf(const void* slot) {
  return reinterpret_cast<uintptr_t>(slot) & ~(uintptr_t{kPageSize} - 1);
}

// Every slot a page holds is handed out once before another page is taken,
// whatever is freed on the way; freed slots come back first, last freed
// first; and no two live slots overlap.
TEST(SlabPoolTest, FreshPageHandsOutEverySlotOnceAndReusesFreedOnesFirst) {
  for (size_t slotSize : {8u, 12u, 24u, 40u}) {
    SlabPool pool(slotSize);
    std::vector<void*> live;
    live.push_back(pool.Allocate());
    const uintptr_t page = PageOf(live[0]);
    const size_t perPage =
        kPageSize / slotSize - (sizeof(SlabPool::PageHeader) + slotSize - 1) / slotSize;
    // Free two slots while the page is still being used up: they come back
    // before the untouched ones, the later freed first.
    live.push_back(pool.Allocate());
    live.push_back(pool.Allocate());
    void* first = live[1];
    void* second = live[2];
    pool.Free(first);
    pool.Free(second);
    live.resize(1);
    EXPECT_EQ(pool.Allocate(), second) << slotSize;
    EXPECT_EQ(pool.Allocate(), first) << slotSize;
    live.push_back(second);
    live.push_back(first);
    while (live.size() < perPage) live.push_back(pool.Allocate());
    std::set<void*> distinct(live.begin(), live.end());
    EXPECT_EQ(distinct.size(), perPage) << slotSize;
    for (void* slot : live) EXPECT_EQ(PageOf(slot), page) << slotSize;
    // Each slot holds its own pattern: none is handed out twice.
    for (size_t i = 0; i < live.size(); ++i) std::memset(live[i], static_cast<int>(i & 0xFF), slotSize);
    for (size_t i = 0; i < live.size(); ++i) {
      EXPECT_EQ(static_cast<unsigned char*>(live[i])[slotSize - 1], static_cast<unsigned char>(i & 0xFF));
    }
    void* next = pool.Allocate();
    EXPECT_NE(PageOf(next), page) << slotSize;
    // A slot freed on the full page is the next one handed out.
    pool.Free(live[5]);
    EXPECT_EQ(pool.Allocate(), live[5]) << slotSize;
    pool.Free(next);
    for (void* slot : live) pool.Free(slot);
  }
}

TEST(InlineStackTest, EntriesKeepTheirValuesAcrossThePlaceInsideAndTheHeap) {
  InlineStack<std::string, 4> stack;
  EXPECT_TRUE(stack.empty());
  for (int i = 0; i < 10; ++i) stack.push_back("entry " + std::to_string(i) + std::string(20, 'x'));
  ASSERT_EQ(stack.size(), 10u);
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(stack[i], "entry " + std::to_string(i) + std::string(20, 'x'));
  for (int i = 9; i >= 2; --i) {
    EXPECT_EQ(stack.back(), "entry " + std::to_string(i) + std::string(20, 'x'));
    stack.pop_back();
  }
  stack.emplace_back(3, 'y');
  EXPECT_EQ(stack.back(), "yyy");
  EXPECT_EQ(stack.size(), 3u);
  // The rest is destroyed with the stack (checked by the leak sanitizer).
}

size_t PagesInUse() { return GetPagePoolStats().inUse; }

// Appends maps with the given names, in that order, and finishes each.
void AppendMaps(Value& doc, const std::vector<std::string>& names, int count) {
  Value& list = doc.Member("maps");
  for (int i = 0; i < count; ++i) {
    Value& map = list.Append();
    for (size_t n = 0; n < names.size(); ++n) map.AppendMember(names[n]).SetSigned(static_cast<int64_t>(n));
    map.FinishMembers();
  }
}

// A document that takes over a parked context finds nothing of the one
// before: no interned text, no remembered member order (its names may well
// lie where the earlier document's did), and every page counts again.
TEST(DocumentReuseTest, NextDocumentStartsEmpty) {
  const size_t before = PagesInUse();
  for (int round = 0; round < 3; ++round) {
    {
      Value first;
      AppendMaps(first, {"c", "a", "b"}, 3);
      first.Member("text").SetString("kept only by the first");
    }
    EXPECT_EQ(PagesInUse(), before) << round;
    Value second;
    AppendMaps(second, {"b", "c", "a"}, 3);
    const Value& maps = second.FindMember("maps");
    ASSERT_EQ(maps.Size(), 3u);
    for (size_t i = 0; i < maps.Size(); ++i) {
      const Value& map = maps.At(i);
      ASSERT_EQ(map.Size(), 3u);
      EXPECT_EQ(map.MemberName(0), "a");
      EXPECT_EQ(map.MemberName(1), "b");
      EXPECT_EQ(map.MemberName(2), "c");
      EXPECT_EQ(map.FindMember("a").GetSigned(), 2);
      EXPECT_EQ(map.FindMember("b").GetSigned(), 0);
    }
    EXPECT_TRUE(second.FindMember("text").IsEmpty());
    EXPECT_GT(PagesInUse(), before);
  }
  EXPECT_EQ(PagesInUse(), before);
}

// A root cleared in place finds nothing of its tree, as a document that took
// over a parked context does, and takes no new page for the next one; a
// child cleared is reset and its siblings stay.
TEST(DocumentReuseTest, ClearedRootStartsEmptyInItsOwnArena) {
  const size_t before = PagesInUse();
  Value doc;
  AppendMaps(doc, {"c", "a", "b"}, 3);
  doc.Member("text").SetString("gone with the tree");
  for (int i = 0; i < 200; ++i) doc.Member("m" + std::to_string(i)).SetString(std::string(100, 'z'));
  Value& child = doc.Member("maps");
  doc.Member("text").Clear();
  EXPECT_TRUE(doc.FindMember("text").IsEmpty());
  EXPECT_EQ(child.Size(), 3u);

  doc.Clear();
  EXPECT_TRUE(doc.IsEmpty());
  EXPECT_TRUE(doc.IsRoot());
  EXPECT_TRUE(doc.FindMember("maps").IsEmpty());
  const size_t acquired = GetPagePoolStats().acquired;
  for (int round = 0; round < 50; ++round) {
    AppendMaps(doc, {"b", "c", "a"}, 3);
    const Value& map = doc.FindMember("maps").At(2);
    ASSERT_EQ(map.Size(), 3u);
    EXPECT_EQ(map.MemberName(0), "a");
    EXPECT_EQ(map.FindMember("a").GetSigned(), 2);
    EXPECT_TRUE(doc.FindMember("text").IsEmpty());
    doc.Member("text").SetString("gone with the tree");
    EXPECT_EQ(doc.FindMember("text").GetString(), "gone with the tree");
    doc.Clear();
  }
  EXPECT_EQ(GetPagePoolStats().acquired, acquired);
  Value never;
  never.Clear();
  EXPECT_TRUE(never.IsEmpty());
  doc = Value();
  EXPECT_EQ(PagesInUse(), before);
}

// A large document's context goes back with only a few of its pages and its
// heap blocks freed; small documents after it take no page from the pool.
TEST(DocumentReuseTest, SmallDocumentsAfterALargeOneTakeNoNewPages) {
  const size_t before = PagesInUse();
  {
    Value large;
    for (int i = 0; i < 2000; ++i) large.Member("m" + std::to_string(i)).SetString(std::string(100, 'z'));
    large.Member("heap").SetString(std::string(5000, 'h'));
  }
  EXPECT_EQ(PagesInUse(), before);
  auto small = [] {
    Value doc;
    doc.Member("userId").SetString("u-42");
    for (int i = 0; i < 3; ++i) doc.Member("offerIds").Append().SetString("OFB-" + std::to_string(i));
    doc.Member("refresh").SetBool(true);
    return doc.FindMember("offerIds").Size();
  };
  ASSERT_EQ(small(), 3u);
  const size_t acquired = GetPagePoolStats().acquired;
  for (int i = 0; i < 100; ++i) ASSERT_EQ(small(), 3u);
  EXPECT_EQ(GetPagePoolStats().acquired, acquired);
  EXPECT_EQ(PagesInUse(), before);
}

// Contexts parked by one thread are taken over by others.
TEST(DocumentReuseTest, ContextsMoveBetweenThreads) {
  const size_t before = PagesInUse();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int round = 0; round < 200; ++round) {
        Value doc;
        std::string text = "thread " + std::to_string(t) + " round " + std::to_string(round);
        doc.Member("text").SetString(text);
        doc.Member("list").Append().SetSigned(round);
        ASSERT_EQ(doc.FindMember("text").GetString(), text);
        ASSERT_EQ(doc.FindMember("list").At(0).GetSigned(), round);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(PagesInUse(), before);
}

}  // namespace
}  // namespace qmx
