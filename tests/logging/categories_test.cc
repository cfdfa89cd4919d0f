#include "logging/categories.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"

namespace qmx {
namespace {

TEST(CategoryTest, NamesOfMasks) {
  char buffer[64];
  const struct {
    uint64_t mask;
    const char* names;
  } cases[] = {{0, ""}, {0x41, "DBG;NET"}, {0xFF, "DBG;GEN;XTR;PRF;MEM;DSK;NET;TST"}, {1ull << 8, "LOC"},
               {1ull << 63, "???"}};
  for (const auto& c : cases) {
    CategoryNames(buffer, sizeof buffer, c.mask);
    EXPECT_STREQ(buffer, c.names) << c.mask;
  }
  EXPECT_EQ(CategoryNames(buffer, 8, 0x43), 7u);  // "DBG;GEN" fits, ";XTR" does not
  EXPECT_STREQ(buffer, "DBG;GEN");
}

// In a child of its own: registration changes the process-wide table.
TEST(CategoryTest, RegistrationFillsTheTableAndStopsAtItsEnd) {
  test::ChildResult child = test::RunInChild([] {
    if (CategoryMask("NETWORK") != kCategoryNet) return 1;
    if (CategoryMask("DBG") != kCategoryDbg) return 2;
    if (CategoryMask("LOC") != (1ull << 8)) return 3;
    if (CategoryMask("ABC") != (1ull << 9)) return 4;
    if (CategoryMask("ABCDEF") != (1ull << 9)) return 5;
    if (CategoryMask(nullptr) != 0) return 6;
    for (int i = 10; i < 64; ++i) {
      char code[4] = {'Q', static_cast<char>('A' + i / 26), static_cast<char>('A' + i % 26), '\0'};
      if (CategoryMask(code) != (1ull << i)) return 7;
    }
    if (CategoryMask("ZZZ") != 0) return 8;  // the 65th code
    if (CategoryMask("ZZY") != 0) return 9;
    if (CategoryMask("QCL") != (1ull << 63)) return 10;  // the last entry was left intact
    char buffer[16];
    CategoryNames(buffer, sizeof buffer, 1ull << 63);
    return std::string(buffer) == "QCL" ? 0 : 11;
  });
  EXPECT_EQ(child.exitCode, 0) << child.err;
}

TEST(CategoryRaceTest, ConcurrentRegistrationsGetDistinctBits) {
  test::ChildResult child = test::RunInChild([] {
    constexpr int kThreads = 4, kCodes = 13;  // 52 new codes fill entries 9..60
    uint64_t masks[kThreads][kCodes] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t, &masks] {
        for (int i = 0; i < kCodes; ++i) {
          char code[4] = {'R', static_cast<char>('A' + t), static_cast<char>('A' + i), '\0'};
          masks[t][i] = CategoryMask(code);
        }
      });
    }
    for (auto& thread : threads) thread.join();
    uint64_t seen = 0;
    for (const auto& row : masks) {
      for (uint64_t mask : row) {
        if (mask == 0 || (mask & (mask - 1)) != 0 || (seen & mask) != 0) return 1;
        seen |= mask;
      }
    }
    return seen == (((uint64_t{1} << 52) - 1) << 9) ? 0 : 2;
  });
  EXPECT_EQ(child.exitCode, 0) << child.err;
}

}  // namespace
}  // namespace qmx
