// The benchmark documents: the three JSON texts of ../shared/corpora/json-bench
// (relative to the source root), the two small documents the plugin reads all
// day (built in code), and the forms derived from them in memory at start-up:
// MessagePack bytes and block-style YAML.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qmx::bench {

struct Document {
  std::string name;           // "canada", "citm_catalog", "twitter", "body", "answer"
  std::string json;           // the file as read
  std::vector<uint8_t> msgpack;
  std::string yamlBlock;      // block mappings and sequences, quoted strings
};

// The corpus folder, or "" when it is not there.
std::string CorpusDir();

// The documents; empty when the folder or any of its files is missing.
std::vector<Document> LoadDocuments();

// The endpoint request body of the small-document cases, as JSON text.
inline constexpr char kSmallBody[] =
    R"({"userId":"u-42","offerIds":["OFB-1","OFB-2","OFB-3"],"locale":"en_US","refresh":true})";

// "body" (kSmallBody) and "answer" (the entitlements service's answer: an
// "entitlements_token" of about 1.3 KB, "expires_in" and "token_type", about
// 1.5 KB in all), in every form.
std::vector<Document> SmallDocuments();

}  // namespace qmx::bench
