// The leak check of the sanitizer build still works in processes that load
// the shared object, whatever the heap layout: a child that leaks on purpose
// is reported, with exactly its own leak, and the check itself survives the
// one placement of the plugin's thread-local block that used to crash it
// (see tls_leak_child.cc).
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "support/child_process.h"

namespace qmx::test {
namespace {

TEST(LeakCheckTest, ALeakInAChildThatLoadedThePluginIsReported) {
#if !defined(QMX_TLS_LEAK_CHILD)
  GTEST_SKIP() << "the leak check runs in the sanitizer build only";
#else
  ChildResult child = RunInChild([] {
    execl(QMX_TLS_LEAK_CHILD, QMX_TLS_LEAK_CHILD, static_cast<char*>(nullptr));
    return 127;
  });
  ASSERT_NE(child.exitCode, 2) << child.err;
  EXPECT_EQ(child.out, "thread-local block at page offset 16\n") << child.err;
  EXPECT_EQ(child.err.find("LeakSanitizer has encountered a fatal error"), std::string::npos)
      << child.err;
  EXPECT_NE(child.err.find("Direct leak of 4242 byte(s) in 1 object(s)"), std::string::npos)
      << child.err;
  // Nothing else: the plugin's thread-local storage holds no pointer that the
  // check now misses.
  EXPECT_NE(child.err.find("SUMMARY: AddressSanitizer: 4242 byte(s) leaked in 1 allocation(s)."),
            std::string::npos)
      << child.err;
  EXPECT_NE(child.exitCode, 0);
#endif
}

}  // namespace
}  // namespace qmx::test
