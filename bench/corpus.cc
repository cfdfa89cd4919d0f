#include "corpus.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <msgpack.hpp>
#include <sstream>

#include "common/base64.h"

namespace qmx::bench {
namespace {

bool ReadFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

void PackValue(const rapidjson::Value& v, msgpack::packer<msgpack::sbuffer>& packer) {
  switch (v.GetType()) {
    case rapidjson::kNullType:
      packer.pack_nil();
      break;
    case rapidjson::kFalseType:
      packer.pack_false();
      break;
    case rapidjson::kTrueType:
      packer.pack_true();
      break;
    case rapidjson::kStringType:
      packer.pack_str(v.GetStringLength());
      packer.pack_str_body(v.GetString(), v.GetStringLength());
      break;
    case rapidjson::kNumberType:
      if (v.IsUint64()) {
        packer.pack_uint64(v.GetUint64());
      } else if (v.IsInt64()) {
        packer.pack_int64(v.GetInt64());
      } else {
        packer.pack_double(v.GetDouble());
      }
      break;
    case rapidjson::kArrayType:
      packer.pack_array(v.Size());
      for (const auto& element : v.GetArray()) PackValue(element, packer);
      break;
    case rapidjson::kObjectType:
      packer.pack_map(v.MemberCount());
      for (const auto& member : v.GetObject()) {
        PackValue(member.name, packer);
        PackValue(member.value, packer);
      }
      break;
  }
}

// A JSON string literal is a valid YAML double-quoted scalar once "\/" is
// avoided; the writer never produces it.
std::string Quoted(const rapidjson::Value& text) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.String(text.GetString(), text.GetStringLength());
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::string Scalar(const rapidjson::Value& v) {
  if (v.IsString()) return Quoted(v);
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  v.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

bool IsBlock(const rapidjson::Value& v) {
  return (v.IsObject() && v.MemberCount() != 0) || (v.IsArray() && !v.Empty());
}

// Writes v as a block node whose lines are indented by indent spaces. A block
// container that is a mapping value or sequence entry starts on a new line.
void WriteBlock(const rapidjson::Value& v, size_t indent, std::string& out) {
  const std::string pad(indent, ' ');
  if (v.IsObject()) {
    for (const auto& member : v.GetObject()) {
      out += pad;
      out += Quoted(member.name);
      out += ':';
      if (IsBlock(member.value)) {
        out += '\n';
        WriteBlock(member.value, indent + 2, out);
      } else {
        out += ' ';
        out += Scalar(member.value);
        out += '\n';
      }
    }
  } else if (v.IsArray()) {
    for (const auto& element : v.GetArray()) {
      out += pad;
      out += '-';
      if (IsBlock(element)) {
        out += '\n';
        WriteBlock(element, indent + 2, out);
      } else {
        out += ' ';
        out += Scalar(element);
        out += '\n';
      }
    }
  }
}

// The derived forms of document.json; false when it does not parse.
bool Derive(Document& document) {
  rapidjson::Document parsed;
  parsed.Parse<rapidjson::kParseFullPrecisionFlag>(document.json.data(), document.json.size());
  if (parsed.HasParseError()) {
    std::fprintf(stderr, "bench: %s does not parse\n", document.name.c_str());
    return false;
  }
  msgpack::sbuffer packed;
  msgpack::packer<msgpack::sbuffer> packer(packed);
  PackValue(parsed, packer);
  document.msgpack.assign(packed.data(), packed.data() + packed.size());
  WriteBlock(parsed, 0, document.yamlBlock);
  return true;
}

// A token of the service's form: header, claims and signature, Base64url,
// the claims listing enough entitlements to make it about 1.3 KB.
std::string AnswerToken() {
  std::string claims = R"({"sub":"user-42","iss":"entitlements.example","iat":1765238400,)"
                       R"("exp":1765242000,"entitlements":[)";
  for (int i = 0; i < 38; ++i) {
    if (i != 0) claims += ',';
    claims += "\"game.content." + std::to_string(1000 + i) + "\"";
  }
  claims += "]}";
  return Base64UrlEncode(R"({"alg":"RS256","typ":"JWT"})") + "." + Base64UrlEncode(claims) + "." +
         Base64UrlEncode(std::string(96, 's'));
}

}  // namespace

std::vector<Document> SmallDocuments() {
  std::vector<Document> documents(2);
  documents[0].name = "body";
  documents[0].json = kSmallBody;
  documents[1].name = "answer";
  documents[1].json = R"({"entitlements_token":")" + AnswerToken() +
                      R"(","expires_in":3600,"token_type":"Bearer"})";
  for (Document& document : documents) {
    if (!Derive(document)) return {};
  }
  return documents;
}

std::string CorpusDir() {
  std::string dir = std::string(QMX_SOURCE_DIR) + "/../shared/corpora/json-bench";
  struct stat info;
  return stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? dir : std::string();
}

std::vector<Document> LoadDocuments() {
  std::vector<Document> documents;
  std::string dir = CorpusDir();
  if (dir.empty()) return documents;
  for (const char* name : {"canada", "citm_catalog", "twitter"}) {
    Document document;
    document.name = name;
    if (!ReadFile(dir + "/" + name + ".json", document.json)) return {};
    if (!Derive(document)) return {};
    documents.push_back(std::move(document));
  }
  return documents;
}

}  // namespace qmx::bench
