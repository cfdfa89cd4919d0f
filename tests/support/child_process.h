// Runs a piece of a test in a forked child process, so that a plugin loaded
// there has the whole process to itself, and collects what it wrote.
#pragma once

#include <functional>
#include <string>

namespace qmx::test {

struct ChildResult {
  int exitCode = -1;  // the child's exit status, or -1 when it did not exit normally
  std::string out;    // standard output
  std::string err;    // standard error
};

// body's return value becomes the child's exit code.
ChildResult RunInChild(const std::function<int()>& body);

}  // namespace qmx::test
