#include "logging/line_format.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "logging/categories.h"
#include "logging/timestamps.h"
#include "support/child_process.h"

namespace qmx {
namespace {

LogRecord Sample(const char* message, int32_t level = kLogWarn, uint64_t categories = kCategoryNet) {
  LogRecord record;
  record.year = 2021;
  record.month = 11;
  record.day = 9;
  record.hour = 10;
  record.minute = 20;
  record.second = 30;
  record.millisecond = 456;
  record.level = level;
  record.categories = categories;
  record.message = message;
  return record;
}

std::string Line(const char* format, const LogRecord& record, size_t size = 4096) {
  std::string buffer(size, '\x7f');
  size_t length = FormatLine(buffer.data(), size, format, record);
  EXPECT_EQ(buffer[length], '\0') << format;
  return buffer.substr(0, length);
}

TEST(LineFormatTest, Tokens) {
  struct Case {
    const char* format;
    LogRecord record;
    std::string expected;
  };
  const Case cases[] = {
      {kDefaultLineFormat, Sample("token expired"), "2021-11-09T10:20:30.456|   WARN| NET| token expired\n"},
      {"##M", Sample("x"), "#M\n"},
      {"", Sample("x"), "\n"},
      {"#M", Sample("ends with a feed\n"), "ends with a feed\n"},
      {"#M", Sample("two\n\n"), "two\n\n"},
      {"#G", Sample("", kLogWarn, 0x41), "DBG;NET\n"},
      {"#G", Sample("", kLogWarn, 0), "\n"},
      {"#M", Sample(nullptr), "\n"},
      {"#Q#", Sample("x"), "Q\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Line(c.format, c.record), c.expected) << c.format;
  }
  const struct {
    int32_t level;
    const char* name;
  } levels[] = {{0, "  OKAY"}, {1, "  WARN"}, {2, " ERROR"}, {3, "ALWAYS"}, {4, "  ????"}, {-1, "  ????"}};
  for (const auto& l : levels) {
    EXPECT_EQ(Line("#L", Sample("", l.level)), std::string(l.name) + "\n") << l.level;
  }
}

TEST(LineFormatTest, ThreadAndUptimeTokensHaveTheirShape) {
  // "%p": 0x1a2b with glibc, 0000000000001a2b with the Windows C runtime.
  EXPECT_TRUE(std::regex_match(Line("#T", Sample("")), std::regex("(0x)?[0-9a-fA-F]+\n")));
  EXPECT_TRUE(std::regex_match(Line("#H", Sample("")), std::regex("[0-9]{6,}\\.[0-9]{3}\n")));
  // Without a logger the executable is unknown.
  EXPECT_EQ(Line("#E", Sample("")), "<unknown>\n");
}

TEST(LineFormatTest, CutsSoTheLineFeedAndNulFit) {
  std::string longMessage(5000, 'm');
  std::string line = Line("#M", Sample(longMessage.c_str()));
  EXPECT_EQ(line.size(), 4095u);
  EXPECT_EQ(line.back(), '\n');
  EXPECT_EQ(Line("abcdef", Sample(""), 5), "abc\n");
  EXPECT_EQ(Line("#D", Sample(""), 8), "2021-1\n");
  EXPECT_EQ(Line("ab", Sample(""), 2), "\n");
  char one = 'x';
  EXPECT_EQ(FormatLine(&one, 1, "ab", Sample("")), 0u);
  EXPECT_EQ(one, '\0');
}

TEST(TimestampTest, BothFormatsAndNow) {
  char buffer[64];
  LogRecord record = Sample("");
  EXPECT_EQ(FormatTimestamp(buffer, sizeof buffer, record), 23u);
  EXPECT_STREQ(buffer, "2021-11-09T10:20:30.456");
  EXPECT_EQ(FormatFileTimestamp(buffer, sizeof buffer, record), 19u);
  EXPECT_STREQ(buffer, "2021-11-09T10-20-30");
  EXPECT_EQ(FormatFileTimestamp(buffer, 5, record), 4u);
  EXPECT_STREQ(buffer, "2021");

  LogRecord now;
  Now(now);
  EXPECT_GE(now.year, 2024);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12 && now.day >= 1 && now.day <= 31);
  EXPECT_TRUE(now.millisecond >= 0 && now.millisecond < 1000);
  double first = SecondsSinceStart();
  EXPECT_GE(SecondsSinceStart(), first);
}

}  // namespace
}  // namespace qmx
