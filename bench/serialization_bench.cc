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
#include <string>

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

template <typename Fn>
void Register(const std::string& name, Fn fn) {
  benchmark::RegisterBenchmark(name.c_str(), fn)->Unit(benchmark::kMillisecond);
}

void RegisterDocument(const std::shared_ptr<Document>& doc) {
  const std::string& n = doc->name;

  Cases().push_back({"ReadJson " + n, 1.5, "rapidjson::Document::Parse, default flags"});
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

  Cases().push_back({"WriteJson " + n, 1.5, "rapidjson::Writer over the parsed Document"});
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

  Cases().push_back({"DecodeMessagePack " + n, 1.0, "msgpack::unpack"});
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
    std::string name = "ReadYaml " + n + " " + form.label;
    Cases().push_back({name, 1.5, "libyaml event loop, events discarded"});
    const std::string* text = form.text;
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
  std::vector<Document> documents = LoadDocuments();
  if (documents.empty()) {
    Notes().push_back(
        "corpus cases skipped: ../shared/corpora/json-bench is not there (ReadJson, WriteJson, "
        "DecodeMessagePack, ReadYaml)");
    return;
  }
  for (Document& document : documents) {
    RegisterDocument(std::make_shared<Document>(std::move(document)));
  }
}

}  // namespace qmx::bench
