// Runs the readers over the shared conformance corpora, when they are present.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/base64.h"
#include "serialization/json.h"
#include "support/paths.h"

namespace qmx {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

TEST(JsonCorpus, ParsingSuite) {
  std::string corpora = test::CorporaDir();
  fs::path dir = fs::path(corpora) / "json-test-suite" / "test_parsing";
  if (corpora.empty() || !fs::is_directory(dir)) GTEST_SKIP() << "no json-test-suite corpus";
  size_t seen = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    std::string text = ReadFile(entry.path());
    ValueResult result = ReadJson(text);
    ++seen;
    if (name.starts_with("y_")) {
      EXPECT_TRUE(result.Ok()) << name << ": " << result.ErrorText();
    } else if (name.starts_with("n_")) {
      if (name == "n_multidigit_number_then_00.json") {
        // The NUL ends the text right after a valid number.
        EXPECT_TRUE(result.Ok()) << name;
      } else {
        EXPECT_FALSE(result.Ok()) << name;
        EXPECT_TRUE(result.ErrorText().starts_with("Error: ")) << name;
      }
    } else {
      // i_ files may go either way; they must only not crash.
      EXPECT_TRUE(result.Ok() || result.ErrorText().starts_with("Error: ")) << name;
    }
  }
  EXPECT_GT(seen, 300u);
}

}  // namespace
}  // namespace qmx
