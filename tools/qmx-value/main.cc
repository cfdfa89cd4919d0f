// qmx-value: shows what a request body decodes to.
//
//   qmx-value decode --from json|msgpack|yaml [--pretty] [FILE]
//   qmx-value token TOKEN|-
//   qmx-value --help | --version
//
// Reads FILE (standard input when absent or "-"), decodes it with the runtime's
// reader and prints the value as JSON (indented under --pretty) and a line
// feed. Exit status: 0 decoded, 1 the reader refused the input or FILE could
// not be read (message on standard error), 2 wrong usage.
//
// token decodes an entitlements token (standard input for "-") and prints one
// JSON object: "header" and "claims" as the decoder read them ({"error":true}
// for an unreadable segment) and "signature", the standard Base64 of the
// signature bytes or the decoder's no-signature text.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "../tool_options.h"
#include "common/base64.h"
#include "common/result.h"
#include "entitlements/json_value.h"
#include "entitlements/token_decoder.h"
#include "serialization/body_formats.h"
#include "serialization/json.h"

namespace {

// The usage text, naming every format of the body-format table.
std::string UsageText() {
  std::string formats;
  for (const qmx::BodyFormat& format : qmx::BodyFormats()) {
    if (!formats.empty()) formats += '|';
    formats += format.name;
  }
  return "usage: qmx-value decode --from " + formats +
         " [--pretty] [FILE]\n"
         "       qmx-value token TOKEN|-\n"
         "       qmx-value --help | --version\n"
         "Decodes FILE (standard input when absent or -) and prints it as JSON;\n"
         "token prints the header, claims and signature of a token.\n";
}

int Usage() {
  std::fputs(UsageText().c_str(), stderr);
  return 2;
}

// Everything in, or "cannot read NAME" (name says what in is).
qmx::Result<std::string, std::string> ReadAll(std::FILE* in, std::string_view name) {
  std::string out;
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) out.append(buffer, got);
  if (std::ferror(in) != 0) return qmx::Fail("cannot read " + std::string(name));
  return out;
}

int Complain(const std::string& problem) {
  std::fprintf(stderr, "qmx-value: %s\n", problem.c_str());
  return 1;
}

int Token(const char* argument) {
  std::string token;
  if (std::string_view(argument) == "-") {
    qmx::Result<std::string, std::string> read = ReadAll(stdin, "standard input");
    if (!read) return Complain(read.error());
    token = std::move(read).value();
    while (!token.empty() && (token.back() == '\n' || token.back() == '\r')) token.pop_back();
  } else {
    token = argument;
  }
  qmx::TokenDecoder decoder(token);
  decoder.Decode();
  qmx::Value out;
  qmx::JsonObjectToValue(decoder.header(), out.Member("header"));
  qmx::JsonObjectToValue(decoder.claims(), out.Member("claims"));
  const std::string& signature = decoder.signature();
  bool missing = decoder.segments().size() < 3 || decoder.segments()[2].empty();
  out.Member("signature").SetString(missing ? signature : qmx::Base64Encode(std::string_view(signature)));
  std::string text = qmx::WriteJson(out, nullptr, nullptr);
  text.push_back('\n');
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (int status = qmx::tools::AnswerHelpOrVersion(argc, argv, "qmx-value", UsageText().c_str());
      status >= 0)
    return status;
  if (argc == 3 && std::string_view(argv[1]) == "token") return Token(argv[2]);
  if (argc < 2 || std::string_view(argv[1]) != "decode") return Usage();
  std::string_view formatName;
  bool pretty = false;
  const char* file = nullptr;
  for (int i = 2; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--from" && i + 1 < argc) {
      formatName = argv[++i];
    } else if (arg.starts_with("--from=")) {
      formatName = arg.substr(7);
    } else if (arg == "--pretty") {
      pretty = true;
    } else if ((arg == "-" || !arg.starts_with("-")) && file == nullptr) {
      file = argv[i];
    } else {
      return Usage();
    }
  }
  const qmx::BodyFormat* format = qmx::FindBodyFormatByName(formatName);
  if (format == nullptr) return Usage();

  bool useStdin = file == nullptr || std::string_view(file) == "-";
  std::FILE* in = useStdin ? stdin : std::fopen(file, "rb");
  if (in == nullptr) {
    std::fprintf(stderr, "qmx-value: cannot open %s: %s\n", file, std::strerror(errno));
    return 1;
  }
  qmx::Result<std::string, std::string> read = ReadAll(in, useStdin ? "standard input" : file);
  if (!useStdin) std::fclose(in);
  if (!read) return Complain(read.error());
  const std::string input = std::move(read).value();

  // One document; MessagePack bytes after the first item are ignored.
  qmx::ValueResult result = format->read(input);
  if (!result.Ok()) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(result.ErrorText().size()),
                 result.ErrorText().data());
    return 1;
  }
  std::string text = qmx::WriteJson(result.value(), nullptr, pretty ? "\n" : nullptr);
  text.push_back('\n');
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
