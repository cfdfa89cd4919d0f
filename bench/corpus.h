// The benchmark documents: the three JSON texts of ../shared/corpora/json-bench
// (relative to the source root) and the forms derived from them in memory at
// start-up: MessagePack bytes and block-style YAML.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qmx::bench {

struct Document {
  std::string name;           // "canada", "citm_catalog", "twitter"
  std::string json;           // the file as read
  std::vector<uint8_t> msgpack;
  std::string yamlBlock;      // block mappings and sequences, quoted strings
};

// The corpus folder, or "" when it is not there.
std::string CorpusDir();

// The documents; empty when the folder or any of its files is missing.
std::vector<Document> LoadDocuments();

}  // namespace qmx::bench
