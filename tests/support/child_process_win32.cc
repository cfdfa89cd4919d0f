// Windows has no fork: the child is this test program started again with
// CreateProcess, filtered to the running test, with QMX_CHILD_CALL naming
// which RunInChild call of that test it is to carry out. The test runs in the
// child from its start; each RunInChild call before the named one runs as in
// the parent (in a grandchild of its own), the named one runs its body in the
// child itself and ends the process with the body's result. So the calls of a
// test must come in the same order in every run, which they do when a test's
// path does not depend on time or chance.
//
// The child's standard output and error go to temporary files; what it wrote
// before the body started (the test framework's banner) is cut off at a
// marker line. Lines end in "\r\n" on this platform's consoles; they are
// passed on as written.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "support/child_process.h"

namespace qmx::test {
namespace {

constexpr char kCallVariable[] = "QMX_CHILD_CALL";
constexpr char kMarker[] = "\x1eqmx-child-body\x1e\n";

// The RunInChild calls made so far by the running test, in this process.
int callsSoFar = 0;
std::string countedTest;

std::string CurrentTestName() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  if (info == nullptr) return {};
  return std::string(info->test_suite_name()) + "." + info->name();
}

// Which call this process is to carry out, or -1 in the parent. Read once:
// the variable is changed for the children this process starts.
int CallToCarryOut() {
  static const int call = [] {
    char value[32];
    DWORD length = GetEnvironmentVariableA(kCallVariable, value, sizeof value);
    return length == 0 || length >= sizeof value ? -1 : std::atoi(value);
  }();
  return call;
}

std::string TempFile() {
  char dir[MAX_PATH + 1];
  char path[MAX_PATH + 1];
  if (GetTempPathA(sizeof dir, dir) == 0 || GetTempFileNameA(dir, "qmx", 0, path) == 0) return {};
  return path;
}

HANDLE OpenInheritable(const std::string& path) {
  SECURITY_ATTRIBUTES security{sizeof security, nullptr, TRUE};
  return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &security, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// What the child wrote after the marker (all of it when there is no marker:
// the child failed before its body started).
std::string ReadAfterMarker(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  std::string all = text.str();
  for (const char* marker : {"\x1eqmx-child-body\x1e\r\n", kMarker}) {
    size_t at = all.find(marker);
    if (at != std::string::npos) return all.substr(at + std::strlen(marker));
  }
  return all;
}

ChildResult Launch(int call) {
  ChildResult result;
  char program[MAX_PATH + 1];
  DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
  if (length == 0 || length >= sizeof program) return result;
  std::string outPath = TempFile();
  std::string errPath = TempFile();
  if (outPath.empty() || errPath.empty()) return result;
  HANDLE out = OpenInheritable(outPath);
  HANDLE err = OpenInheritable(errPath);
  std::string commandLine = "\"" + std::string(program) + "\" --gtest_filter=" + CurrentTestName();
  CallToCarryOut();
  SetEnvironmentVariableA(kCallVariable, std::to_string(call).c_str());

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  std::fflush(nullptr);
  BOOL started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                &startup, &process);
  SetEnvironmentVariableA(kCallVariable, nullptr);
  CloseHandle(out);
  CloseHandle(err);
  if (started) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(process.hProcess, &code)) result.exitCode = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    result.out = ReadAfterMarker(outPath);
    result.err = ReadAfterMarker(errPath);
  }
  DeleteFileA(outPath.c_str());
  DeleteFileA(errPath.c_str());
  return result;
}

}  // namespace

ChildResult RunInChild(const std::function<int()>& body) {
  std::string test = CurrentTestName();
  if (test != countedTest) {
    countedTest = test;
    callsSoFar = 0;
  }
  int call = callsSoFar++;
  if (call != CallToCarryOut()) return Launch(call);
  // This process exists to run this body.
  std::fputs(kMarker, stdout);
  std::fputs(kMarker, stderr);
  std::fflush(nullptr);
  int code = body();
  std::fflush(nullptr);
  std::_Exit(code);
}

}  // namespace qmx::test
