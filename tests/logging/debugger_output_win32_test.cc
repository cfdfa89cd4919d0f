// Where a debugger could be attached (Windows), the debugger-console target
// hands its lines to OutputDebugStringA. Without a debugger that function
// raises DBG_PRINTEXCEPTION_C with the text as its arguments; a vectored
// handler sees the exception first, so the test reads the lines there.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "logging/console_targets.h"
#include "logging/log_record.h"
#include "logging/logger.h"

namespace qmx {
namespace {

std::string captured;

LONG CALLBACK CaptureDebuggerOutput(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2) {
    auto length = static_cast<size_t>(record->ExceptionInformation[0]);
    const auto* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    if (text != nullptr && length > 0) captured.append(text, length - 1);  // the length counts the NUL
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

TEST(DebuggerOutputTest, TheDebuggerTargetWritesItsRenderedLineThroughOutputDebugString) {
  void* handler = AddVectoredExceptionHandler(1, CaptureDebuggerOutput);
  ASSERT_NE(handler, nullptr);
  captured.clear();
  AcquireLogger();  // the logger knows the executable's name
  DebuggerConsoleLogTarget target;
  LogRecord record;
  record.level = 1;
  record.categories = 1;
  record.message = "token expired";
  EXPECT_TRUE(target.Write(record));
  RemoveVectoredExceptionHandler(handler);
  ReleaseLogger();
  // "#E(#T): #L| #M": the executable, the thread id, the level and the text.
  EXPECT_NE(captured.find("logging_tests.exe("), std::string::npos) << captured;
  EXPECT_NE(captured.find("):   WARN| token expired\n"), std::string::npos) << captured;
}

}  // namespace
}  // namespace qmx
