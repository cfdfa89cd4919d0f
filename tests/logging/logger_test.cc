#include "logging/logger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "logging/assertion.h"
#include "logging/categories.h"
#include "support/child_process.h"

namespace qmx {
namespace {

// Keeps the messages it is given.
class CaptureTarget final : public LogTarget {
 public:
  explicit CaptureTarget(const LogTargetSettings& settings = {}) : LogTarget(settings) {}
  ~CaptureTarget() override { Detach(); }
  const char* GetName() const override { return "CaptureTarget"; }
  std::vector<std::string> messages;
  std::vector<std::string> lines;

 protected:
  void Output(const LogRecord& record, const char* line) override {
    messages.emplace_back(record.message);
    lines.emplace_back(line);
  }
};

// Each test holds the logger for its duration, so every test starts with a
// fresh one.
class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override { AcquireLogger(); }
  void TearDown() override { ReleaseLogger(); }
};

TEST_F(LoggerTest, LoggerFiltersBeforeTheTargets) {
  CaptureTarget target(LogTargetSettings{.minLevel = kLogOkay});
  target.Attach();
  ASSERT_TRUE(target.IsAttached());
  const struct {
    int32_t level;
    uint64_t categories;
    bool delivered;
  } cases[] = {
      {kLogOkay, 0, false},     // below the default minimum WARN
      {kLogWarn, 0, true},      //
      {kLogAlways, 0, true},    //
      {kLogError, kCategoryXtr, false},  // muted by default
      {kLogError, kCategoryXtr | kCategoryNet, false},
      {kLogError, kCategoryNet, true},
  };
  for (const auto& c : cases) {
    target.messages.clear();
    Log(c.level, c.categories, "m");
    EXPECT_EQ(target.messages.size(), c.delivered ? 1u : 0u) << c.level << " " << c.categories;
  }
  SetMinLevel(kLogOkay);
  SetMutedCategories(0);
  target.messages.clear();
  Log(kLogOkay, kCategoryXtr, "now %d", 1);
  EXPECT_EQ(target.messages, std::vector<std::string>{"now 1"});
  Suspend();
  Log(kLogAlways, 0, "suspended");
  Resume();
  Log(kLogAlways, 0, "resumed");
  EXPECT_EQ(target.messages, (std::vector<std::string>{"now 1", "resumed"}));
}

TEST_F(LoggerTest, TargetsFilterByLevelAndMasks) {
  const struct {
    int32_t minLevel;
    uint64_t include, exclude;
    int32_t level;
    uint64_t categories;
    bool delivered;
  } cases[] = {
      {kLogError, 0, 0, kLogWarn, 0, false},
      {kLogError, 0, 0, kLogError, 0, true},
      {kLogWarn, kCategoryDbg, kCategoryGen, kLogWarn, 0, true},  // no categories passes both masks
      {kLogWarn, kCategoryDbg, 0, kLogWarn, kCategoryNet, false},
      {kLogWarn, kCategoryDbg, 0, kLogWarn, kCategoryNet | kCategoryDbg, true},
      {kLogWarn, 0, kCategoryNet, kLogWarn, kCategoryNet | kCategoryDbg, false},
      {kLogWarn, kCategoryNet, kCategoryNet, kLogWarn, kCategoryNet, false},  // exclusion wins
  };
  for (const auto& c : cases) {
    CaptureTarget target;
    target.Configure(LogTargetSettings{c.minLevel, c.include, c.exclude, "#M"});
    ASSERT_TRUE(target.IsAttached());
    Log(c.level, c.categories, "m");
    EXPECT_EQ(target.messages.size(), c.delivered ? 1u : 0u)
        << c.minLevel << " " << c.include << " " << c.exclude << " " << c.categories;
  }
}

TEST_F(LoggerTest, SinkInterfaceDrivesTheTarget) {
  CaptureTarget target;
  LogSink* sink = target.Sink();
  EXPECT_EQ(sink->version(sink), 1);
  sink->setMasks(sink, 0x3, 0x1, 0x1, 0x1);
  EXPECT_EQ(sink->getIncludeMask(sink), 0x2u);
  EXPECT_EQ(sink->getExcludeMask(sink), 0x100000001u);
  sink->setMinLevel(sink, kLogError);
  EXPECT_EQ(sink->getMinLevel(sink), kLogError);
  EXPECT_STREQ(sink->getName(sink), "CaptureTarget");
  EXPECT_STREQ(sink->getFormat(sink), "#D| #L| #G| #M");
  EXPECT_FALSE(sink->isAttached(sink));
  sink->attach(sink);
  sink->attach(sink);  // a second attach does not add it twice
  EXPECT_EQ(FindTarget("CaptureTarget"), sink);
  Log(kLogError, 0, "once");
  EXPECT_EQ(target.messages.size(), 1u);
  sink->detach(sink);
  EXPECT_FALSE(sink->isAttached(sink));
  EXPECT_EQ(FindTarget("CaptureTarget"), nullptr);
  EXPECT_EQ(FindTarget("captureTarget"), nullptr);
}

TEST_F(LoggerTest, BuiltInTargets) {
  const struct {
    LogSink* sink;
    const char* name;
    uint64_t include, exclude;
    const char* format;
    bool attached;
  } cases[] = {
      {StdErrTarget(), "StdErrLogTarget", kCategoryDbg, kCategoryGen, "#E(#T): #L| #M", true},
      {StdOutTarget(), "StdOutLogTarget", kCategoryGen, kCategoryDbg, "#M", false},
      {DebuggerConsoleTarget(), "DebuggerConsoleLogTarget", kCategoryDbg, 0, "#E(#T): #L| #M", true},
  };
  for (const auto& c : cases) {
    ASSERT_NE(c.sink, nullptr) << c.name;
    EXPECT_STREQ(c.sink->getName(c.sink), c.name);
    EXPECT_EQ(c.sink->getMinLevel(c.sink), kLogWarn);
    EXPECT_EQ(c.sink->getIncludeMask(c.sink), c.include) << c.name;
    EXPECT_EQ(c.sink->getExcludeMask(c.sink), c.exclude) << c.name;
    EXPECT_STREQ(c.sink->getFormat(c.sink), c.format);
    EXPECT_EQ(c.sink->isAttached(c.sink), c.attached) << c.name;
    EXPECT_EQ(FindTarget(c.name) != nullptr, c.attached) << c.name;
  }
  // The file name of the executable: logging_tests.exe on Windows.
  EXPECT_TRUE(std::string(ExecutableName()) == "logging_tests" ||
              std::string(ExecutableName()) == "logging_tests.exe")
      << ExecutableName();
}

TEST(LoggerLifetimeTest, LastReleaseDetachesEverythingAndAFreshLoggerStartsEmpty) {
  AcquireLogger();
  AcquireLogger();
  CaptureTarget first;
  CaptureTarget second;
  first.Attach();
  second.Attach();
  EXPECT_TRUE(AttachTarget(second.Sink()));  // a second occurrence without the attached flag
  EXPECT_FALSE(AttachTarget(nullptr));
  ReleaseLogger();
  EXPECT_TRUE(first.IsAttached());
  ReleaseLogger();
  EXPECT_FALSE(first.IsAttached());
  EXPECT_FALSE(second.IsAttached());
  EXPECT_EQ(StdErrTarget(), nullptr);
  first.Attach();  // no logger: nothing to attach to
  EXPECT_FALSE(first.IsAttached());
  EXPECT_FALSE(AttachTarget(first.Sink()));
  ReleaseLogger();  // an extra release is harmless

  AcquireLogger();
  EXPECT_EQ(FindTarget("CaptureTarget"), nullptr);
  EXPECT_EQ(GetMinLevel(), kLogWarn);
  EXPECT_EQ(GetMutedCategories(), kCategoryXtr);
  Log(kLogAlways, 0, "nobody listens");
  EXPECT_TRUE(first.messages.empty());
  ReleaseLogger();
}

// Forgets to detach: the base destructor must still take it out of the list.
class CarelessTarget : public LogTarget {
 protected:
  void Output(const LogRecord&, const char*) override {}
};

TEST_F(LoggerTest, DestroyedTargetIsNeverCalledAgain) {
  {
    CarelessTarget target;
    target.Attach();
    EXPECT_NE(FindTarget("LogTarget"), nullptr);
  }
  EXPECT_EQ(FindTarget("LogTarget"), nullptr);
  Log(kLogAlways, kCategoryNet, "after");  // would reach freed memory otherwise
}

TEST_F(LoggerTest, LongMessagesAreCut) {
  CaptureTarget target(LogTargetSettings{.format = "#M"});
  target.Attach();
  std::string text(6000, 'x');
  Log(kLogError, 0, "%s", text.c_str());
  ASSERT_EQ(target.messages.size(), 1u);
  EXPECT_EQ(target.messages[0].size(), 4095u);
  EXPECT_EQ(target.lines[0].size(), 4095u);
  EXPECT_EQ(target.lines[0].back(), '\n');
}

TEST_F(LoggerTest, InterfaceTableReachesTheLogger) {
  const LoggerInterface& api = GetLoggerInterface();
  static_assert(sizeof(LoggerInterface) == 26 * sizeof(void*));
  static_assert(offsetof(LogSink, owner) == 12 * sizeof(void*));
  EXPECT_EQ(api.version(), 1);
  api.setMutedCategories(0, 1);
  EXPECT_EQ(api.getMutedCategories(), 1ull << 32);
  api.setMinLevel(kLogAlways);
  EXPECT_EQ(api.getMinLevel(), kLogAlways);
  uint64_t out = 0;
  EXPECT_EQ(api.categoryMask(&out, "NET"), kCategoryNet);
  EXPECT_EQ(out, kCategoryNet);
  EXPECT_STREQ(api.levelName(2), " ERROR");
  EXPECT_EQ(api.stdErrTarget(), StdErrTarget());
  CaptureTarget target(LogTargetSettings{.minLevel = kLogOkay, .format = "#M"});
  api.attachTarget(target.Sink());
  EXPECT_FALSE(target.IsAttached());  // AttachTarget leaves the flag alone
  Log(kLogAlways, 0, "via %s", "table");
  api.detachTarget(target.Sink());
  Log(kLogAlways, 0, "gone");
  EXPECT_EQ(target.messages, std::vector<std::string>{"via table"});
}

TEST_F(LoggerTest, ConcurrentLoggingDeliversEveryMessageWhole) {
  CaptureTarget target(LogTargetSettings{.format = "#M"});
  target.Attach();
  constexpr int kThreads = 4, kMessages = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kMessages; ++i) Log(kLogError, kCategoryNet, "thread %d message %d", t, i);
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_EQ(target.lines.size(), static_cast<size_t>(kThreads * kMessages));
  for (const std::string& line : target.lines) {
    EXPECT_TRUE(std::regex_match(line, std::regex("thread [0-3] message [0-9]+\n"))) << line;
  }
}

// Threads log while another attaches and detaches a second target and
// changes the settings. Attaching once took the target's lock before the
// logger's, the reverse of delivery, and this deadlocked. Every message
// reaches the steady target whole; the churning one sees whole messages too.
TEST_F(LoggerTest, TargetsAttachAndDetachWhileOtherThreadsLog) {
  CaptureTarget steady(LogTargetSettings{.minLevel = kLogOkay, .format = "#M"});
  steady.Attach();
  CaptureTarget churning(LogTargetSettings{.minLevel = kLogOkay, .format = "#M"});
  constexpr int kLoggers = 3, kMessages = 300;
  std::atomic<bool> done{false};
  std::thread changer([&] {
    for (int i = 0; !done.load(); ++i) {
      if (i % 2 == 0) {
        churning.Attach();
      } else {
        churning.Detach();
      }
      churning.SetMinLevel(i % 3 == 0 ? kLogError : kLogOkay);
      SetMutedCategories(i % 2 == 0 ? kCategoryXtr : kCategoryXtr | kCategoryDbg);
      (void)FindTarget("CaptureTarget");
      (void)GetMinLevel();
      std::this_thread::yield();
    }
    churning.Detach();
  });
  std::vector<std::thread> loggers;
  for (int t = 0; t < kLoggers; ++t) {
    loggers.emplace_back([t] {
      for (int i = 0; i < kMessages; ++i) {
        Log(kLogError, kCategoryNet, "thread %d message %d", t, i);
        GetLoggerInterface().getMinLevel();
      }
    });
  }
  for (auto& thread : loggers) thread.join();
  done = true;
  changer.join();
  ASSERT_EQ(steady.lines.size(), static_cast<size_t>(kLoggers * kMessages));
  const std::regex whole("thread [0-2] message [0-9]+\n");
  for (const std::string& line : steady.lines) EXPECT_TRUE(std::regex_match(line, whole)) << line;
  EXPECT_LE(churning.lines.size(), steady.lines.size());
  for (const std::string& line : churning.lines) EXPECT_TRUE(std::regex_match(line, whole)) << line;
}

}  // namespace
}  // namespace qmx
