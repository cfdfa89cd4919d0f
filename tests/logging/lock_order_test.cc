// Targets created, attached and destroyed while other threads log. The
// destructor of a console target once took the target's lock and then the
// logger's, the reverse of delivery, and two logging threads deadlocked
// against it within a second. The race runs in a child process with a
// watchdog, so a lock-order fault fails the test instead of hanging the suite;
// under ThreadSanitizer any report it makes fails the test too.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "logging/categories.h"
#include "logging/console_targets.h"
#include "logging/logger.h"
#include "support/child_process.h"

namespace qmx {
namespace {

constexpr int kHung = 3;

// The end of what the child wrote, where a sanitizer report or the watchdog's
// line would be.
std::string Tail(const std::string& text) { return text.size() <= 4000 ? text : text.substr(text.size() - 4000); }

// Runs body in this process and ends the process with kHung if it has not
// returned within the bound (generous: sanitized builds are slow).
int WithWatchdog(int (*body)()) {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::thread watchdog([&] {
    std::unique_lock lock(mutex);
    if (!finished.wait_for(lock, std::chrono::seconds(60), [&] { return done; })) {
      std::fputs("watchdog: the logging threads are stuck\n", stderr);
      std::_Exit(kHung);
    }
  });
  int result = body();
  {
    std::lock_guard lock(mutex);
    done = true;
  }
  finished.notify_one();
  watchdog.join();
  return result;
}

int LogWhileTargetsComeAndGo() {
  AcquireLogger();
  std::atomic<bool> stop{false};
  std::vector<std::thread> loggers;
  for (int t = 0; t < 2; ++t) {
    loggers.emplace_back([&stop, t] {
      // Uncategorized lines reach every target's Write; NET lines are
      // filtered by the console targets' masks under their locks.
      for (int i = 0; !stop.load(); ++i) Log(kLogError, i % 2 == 0 ? 0 : kCategoryNet, "logger %d line %d", t, i);
    });
  }
  for (int i = 0; i < 2000; ++i) {
    StdErrLogTarget target;
    target.Attach();
    std::this_thread::yield();
  }
  stop = true;
  for (auto& thread : loggers) thread.join();
  ReleaseLogger();
  return 0;
}

TEST(LogTargetLockOrderTest, TargetsDestroyedWhileOtherThreadsLogDoNotDeadlock) {
  test::ChildResult child = test::RunInChild([] { return WithWatchdog(&LogWhileTargetsComeAndGo); });
  EXPECT_EQ(child.exitCode, 0) << Tail(child.err);
  EXPECT_EQ(child.err.find("ThreadSanitizer"), std::string::npos) << Tail(child.err);
}

// Configuring, detaching and destroying targets from one thread while another
// logs: every path that changes a target's attachment takes the logger's lock
// first.
int ReconfigureWhileLogging() {
  AcquireLogger();
  std::atomic<bool> stop{false};
  std::thread logger([&stop] {
    for (int i = 0; !stop.load(); ++i) Log(kLogError, 0, "line %d", i);
  });
  for (int i = 0; i < 1000; ++i) {
    StdOutLogTarget target;
    target.Configure(LogTargetSettings{.minLevel = kLogAlways, .format = "#M"});
    target.SetMinLevel(kLogOkay);
    target.Detach();
    target.Attach();
  }
  stop = true;
  logger.join();
  ReleaseLogger();
  return 0;
}

TEST(LogTargetLockOrderTest, TargetsReconfiguredWhileAnotherThreadLogsDoNotDeadlock) {
  test::ChildResult child = test::RunInChild([] { return WithWatchdog(&ReconfigureWhileLogging); });
  EXPECT_EQ(child.exitCode, 0) << Tail(child.err);
  EXPECT_EQ(child.err.find("ThreadSanitizer"), std::string::npos) << Tail(child.err);
}

}  // namespace
}  // namespace qmx
