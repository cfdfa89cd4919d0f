// The command-line conventions every tool shares.
#pragma once

#include <cstdio>
#include <string_view>

namespace qmx::tools {

// Answers --help (the usage, on standard output) or --version (the tool's
// name and the package version) found anywhere on the command line; the
// first of the two wins. Returns the exit status (0, or 1 when standard
// output could not be written), or -1 when neither option is there.
inline int AnswerHelpOrVersion(int argc, char** argv, const char* name, const char* usage) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help") {
      std::fputs(usage, stdout);
    } else if (arg == "--version") {
      std::printf("%s %s\n", name, QMX_PACKAGE_VERSION);
    } else {
      continue;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  return -1;
}

}  // namespace qmx::tools
