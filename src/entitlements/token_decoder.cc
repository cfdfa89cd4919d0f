#include "entitlements/token_decoder.h"

#include <algorithm>

#include "common/base64.h"
#include "common/split_string.h"

namespace qmx {
namespace {

json::Object ErrorObject() {
  json::Object object;
  object.Add("error", json::Element(true));
  return object;
}

// Decodes one JSON segment (1-based index) into jsonText and object. Every
// reader error, lexical or grammatical, leaves the object as {"error": true}:
// an exception must not escape into the host, and a token with unreadable
// claims is simply one without claims.
void DecodeJsonSegment(const std::vector<std::string>& segments, size_t index,
                       std::string& jsonText, json::Object& object) {
  if (segments.size() < index || segments[index - 1].empty()) {
    object = ErrorObject();
    return;
  }
  jsonText = Base64UrlDecode(segments[index - 1]);
  try {
    object = json::Reader::Read(jsonText);
  } catch (const json::Exception&) {
    object = ErrorObject();
  }
}

}  // namespace

std::string Base64UrlDecode(std::string_view segment) {
  std::string copy(segment);
  std::replace(copy.begin(), copy.end(), '-', '+');
  std::replace(copy.begin(), copy.end(), '_', '/');
  switch (copy.size() % 4) {
    case 2: copy += "=="; break;
    case 3: copy += "="; break;
    default: break;
  }
  return Base64Decode(copy);
}

void TokenDecoder::Decode() {
  if (decoded_) return;
  segments_ = SplitString(token_, ".");
  DecodeJsonSegment(segments_, 1, headerJson_, header_);
  DecodeJsonSegment(segments_, 2, claimsJson_, claims_);
  if (segments_.size() >= 3 && !segments_[2].empty()) {
    signature_ = Base64UrlDecode(segments_[2]);
  } else {
    signature_ = std::string(kNoSignature);
  }
  decoded_ = true;
}

json::Object TokenDecoder::GetClaims() {
  Decode();
  return claims_;
}

}  // namespace qmx
