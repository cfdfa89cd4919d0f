// JSON, MessagePack and YAML reading (and JSON writing) of the corpus
// documents, each against the library a user would pick instead.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <yaml.h>

#include <cstdio>
#include <memory>
#include <msgpack.hpp>
#include <nlohmann/json.hpp>
#include <string>
#ifdef QMX_BENCH_YAML_CPP
#include <yaml-cpp/yaml.h>
#endif

#include "corpus.h"
#include "registry.h"
#include "serialization/json.h"
#include "serialization/msgpack.h"
#include "serialization/yaml.h"

namespace qmx::bench {
namespace {

// Parses text with libyaml and discards every event: the floor under any
// reader built on it.
bool YamlEventLoop(const std::string& text) {
  yaml_parser_t parser;
  if (yaml_parser_initialize(&parser) == 0) return false;
  yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
  yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()),
                               text.size());
  bool ok = true;
  for (;;) {
    yaml_event_t event;
    if (yaml_parser_parse(&parser, &event) == 0) {
      ok = false;
      break;
    }
    bool end = event.type == YAML_STREAM_END_EVENT;
    yaml_event_delete(&event);
    if (end) break;
  }
  yaml_parser_delete(&parser);
  return ok;
}

// What a document's rows compare: the corpus documents take every case and
// the limits of the large-document table; the small documents take the readers
// (no writer, flow YAML only) and their own limits (0: shown, no limit).
struct DocumentLimits {
  double jsonFullPrecision = 1.3;
  double jsonPeer = 1.0 / 3;
  double msgpack = 2.5;
  double msgpackPeer = 1.0 / 3;
  double yaml = 1.3;
  double yamlPeer = 1.0 / 3;
  bool small = false;
};

benchmark::TimeUnit unit = benchmark::kMillisecond;

template <typename Fn>
void Register(const std::string& name, Fn fn) {
  benchmark::RegisterBenchmark(name.c_str(), fn)->Unit(unit);
}

void RegisterDocument(const std::shared_ptr<Document>& doc, const DocumentLimits& limits) {
  const std::string& n = doc->name;
  unit = limits.small ? benchmark::kMicrosecond : benchmark::kMillisecond;

  // Reading: the floor (the bare library) and the peer (a dynamic tree a C++
  // user would pick instead); ours must stay near the first and well ahead of
  // the second.
  Cases().push_back({"ReadJson " + n, 0, "rapidjson::Document::Parse, default flags"});
  Cases().push_back({"ReadJson " + n + " vs full precision", limits.jsonFullPrecision,
                     "rapidjson::Document::Parse<kParseFullPrecisionFlag>",
                     "ReadJson " + n + "/ours", "ReadJson " + n + "/fullprecision"});
  Cases().push_back({"ReadJson " + n + " vs nlohmann", limits.jsonPeer, "nlohmann::json::parse",
                     "ReadJson " + n + "/ours", "ReadJson " + n + "/nlohmann"});
  Register("ReadJson " + n + "/fullprecision", [doc](benchmark::State& state) {
    for (auto _ : state) {
      rapidjson::Document parsed;
      parsed.Parse<rapidjson::kParseFullPrecisionFlag>(doc->json.data(), doc->json.size());
      if (parsed.HasParseError()) state.SkipWithError("rapidjson refused the document");
      benchmark::DoNotOptimize(parsed);
    }
  });
  Register("ReadJson " + n + "/nlohmann", [doc](benchmark::State& state) {
    for (auto _ : state) {
      nlohmann::json parsed = nlohmann::json::parse(doc->json, nullptr, false);
      if (parsed.is_discarded()) state.SkipWithError("nlohmann::json refused the document");
      benchmark::DoNotOptimize(parsed);
    }
  });
  Register("ReadJson " + n + "/ours", [doc](benchmark::State& state) {
    for (auto _ : state) {
      ValueResult result = ReadJson(std::string_view(doc->json));
      if (!result.Ok()) state.SkipWithError("ReadJson refused the document");
      benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc->json.size()));
  });
  Register("ReadJson " + n + "/base", [doc](benchmark::State& state) {
    for (auto _ : state) {
      rapidjson::Document parsed;
      parsed.Parse(doc->json.data(), doc->json.size());
      if (parsed.HasParseError()) state.SkipWithError("rapidjson refused the document");
      benchmark::DoNotOptimize(parsed);
    }
  });

  if (!limits.small) {
    Cases().push_back({"WriteJson " + n, 1.2, "rapidjson::Writer over the parsed Document"});
    auto value = std::make_shared<ValueResult>(ReadJson(std::string_view(doc->json)));
    Register("WriteJson " + n + "/ours", [value](benchmark::State& state) {
      for (auto _ : state) {
        std::string text = WriteJson(value->value(), nullptr, nullptr);
        benchmark::DoNotOptimize(text);
      }
    });
    auto parsed = std::make_shared<rapidjson::Document>();
    parsed->Parse(doc->json.data(), doc->json.size());
    Register("WriteJson " + n + "/base", [parsed](benchmark::State& state) {
      for (auto _ : state) {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        parsed->Accept(writer);
        benchmark::DoNotOptimize(buffer.GetString());
      }
    });
  }

  Cases().push_back({"DecodeMessagePack " + n, limits.msgpack, "msgpack::unpack"});
  Cases().push_back({"DecodeMessagePack " + n + " vs nlohmann", limits.msgpackPeer,
                     "nlohmann::json::from_msgpack", "DecodeMessagePack " + n + "/ours",
                     "DecodeMessagePack " + n + "/nlohmann"});
  Register("DecodeMessagePack " + n + "/nlohmann", [doc](benchmark::State& state) {
    for (auto _ : state) {
      nlohmann::json parsed = nlohmann::json::from_msgpack(doc->msgpack, true, false);
      if (parsed.is_discarded()) state.SkipWithError("nlohmann::json refused the document");
      benchmark::DoNotOptimize(parsed);
    }
  });
  Register("DecodeMessagePack " + n + "/ours", [doc](benchmark::State& state) {
    for (auto _ : state) {
      size_t consumed = 0;
      ValueResult result = DecodeMessagePack(doc->msgpack.data(), doc->msgpack.size(), consumed);
      if (!result.Ok()) state.SkipWithError("DecodeMessagePack refused the document");
      benchmark::DoNotOptimize(result);
    }
  });
  Register("DecodeMessagePack " + n + "/base", [doc](benchmark::State& state) {
    for (auto _ : state) {
      msgpack::object_handle handle =
          msgpack::unpack(reinterpret_cast<const char*>(doc->msgpack.data()), doc->msgpack.size());
      benchmark::DoNotOptimize(handle.get());
    }
  });

  struct YamlForm {
    const char* label;
    const std::string* text;
  };
  for (YamlForm form : {YamlForm{"flow", &doc->json}, YamlForm{"block", &doc->yamlBlock}}) {
    if (limits.small && form.text == &doc->yamlBlock) continue;
    std::string name = "ReadYaml " + n + " " + form.label;
    Cases().push_back({name, limits.yaml, "libyaml event loop, events discarded"});
    const std::string* text = form.text;
#ifdef QMX_BENCH_YAML_CPP
    Cases().push_back({name + " vs yaml-cpp", limits.yamlPeer, "YAML::Load", name + "/ours",
                       name + "/yaml-cpp"});
    Register(name + "/yaml-cpp", [doc, text](benchmark::State& state) {
      for (auto _ : state) {
        try {
          YAML::Node node = YAML::Load(*text);
          benchmark::DoNotOptimize(node);
        } catch (const YAML::Exception& e) {
          state.SkipWithError(e.what());
        }
      }
    });
#endif
    Register(name + "/ours", [doc, text](benchmark::State& state) {
      for (auto _ : state) {
        ValueResult result = ReadYaml(*text);
        if (!result.Ok()) state.SkipWithError(std::string(result.ErrorText()).c_str());
        benchmark::DoNotOptimize(result);
      }
    });
    Register(name + "/base", [doc, text](benchmark::State& state) {
      for (auto _ : state) {
        if (!YamlEventLoop(*text)) state.SkipWithError("libyaml refused the document");
      }
    });
  }
}

}  // namespace

void RegisterSerializationCases() {
  // The small documents first: what the plugin reads all day, where the fixed
  // cost of a document dominates. The body's limits hold for its JSON and
  // MessagePack reads; the answer's JSON read must not be slower than
  // RapidJSON's. The answer's other rows are shown without a limit: its
  // MessagePack decode is mostly FNV-1a over the token, which every interned
  // text pays. The YAML rows of both are shown for information.
  DocumentLimits body{1.3, 1.0 / 3, 2.5, 1.0 / 3, 0, 0, true};
  DocumentLimits answer{1.0, 0, 0, 0, 0, 0, true};
  for (Document& document : SmallDocuments()) {
    const DocumentLimits& limits = document.name == "body" ? body : answer;
    RegisterDocument(std::make_shared<Document>(std::move(document)), limits);
  }
  std::vector<Document> documents = LoadDocuments();
  if (documents.empty()) {
    Notes().push_back(
        "corpus cases skipped: ../shared/corpora/json-bench is not there (ReadJson, WriteJson, "
        "DecodeMessagePack, ReadYaml)");
    return;
  }
  for (Document& document : documents) {
    RegisterDocument(std::make_shared<Document>(std::move(document)), DocumentLimits{});
  }
}

}  // namespace qmx::bench
