#include "logging/console_targets.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "logging/assertion.h"
#include "logging/categories.h"
#include "logging/logger.h"
#include "support/child_process.h"

namespace qmx {
namespace {

// What a console stream received, with the line ends of Windows ("\r\n")
// read as line feeds.
std::string Console(std::string text) {
  std::erase(text, '\r');
  return text;
}

// The line prefix "#E(#T): ": the executable (with ".exe" on Windows) and the
// thread id as "%p" prints it (0x1a2b with glibc, 0000000000001a2b with the
// Windows C runtime).
constexpr char kConsolePrefix[] = "logging_tests(\\.exe)?\\((0x)?[0-9a-fA-F]+\\): ";

// The built-in console targets write to the real streams: each case runs in a
// child whose standard error and output are captured.
TEST(ConsoleOutputTest, DefaultRouting) {
  test::ChildResult dbg = test::RunInChild([] {
    AcquireLogger();
    Log(kLogWarn, kCategoryDbg, "text");
    Log(kLogOkay, kCategoryDbg, "too low");
    Log(kLogError, kCategoryGen, "general");
    ReportAssertion("ALE-TEST", "why", nullptr, 0, nullptr);
    ReleaseLogger();
    return 0;
  });
  EXPECT_EQ(dbg.exitCode, 0);
  const std::string prefix = kConsolePrefix;
  EXPECT_TRUE(std::regex_match(Console(dbg.err), std::regex(prefix + "  WARN\\| text\n" + prefix +
                                                            " ERROR\\| Assertion failed!\n\n"
                                                            "Expression: ALE-TEST\n\nDescription: why\n")))
      << dbg.err;
  EXPECT_EQ(dbg.out, "");

  test::ChildResult gen = test::RunInChild([] {
    AcquireLogger();
    LogSink* out = StdOutTarget();
    out->attach(out);
    Log(kLogWarn, kCategoryGen, "general %d", 1);
    Log(kLogWarn, kCategoryDbg, "debug");
    ReleaseLogger();
    return 0;
  });
  EXPECT_EQ(Console(gen.out), "general 1\n");
  EXPECT_TRUE(std::regex_match(Console(gen.err), std::regex(prefix + "  WARN\\| debug\n"))) << gen.err;
}

}  // namespace
}  // namespace qmx
