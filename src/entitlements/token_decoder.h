// Decoding of entitlements tokens: up to three base64url segments separated
// by "." (header, claims, signature). The header and claims are read as JSON
// objects; the signature is kept as bytes and never verified.
//
// Decoding never fails: a missing, empty or unreadable header or claims
// segment yields an object holding the single member "error": true, and a
// missing or empty signature segment yields kNoSignature.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "entitlements/json_reader.h"

namespace qmx {

// Base64url: maps "-" and "_" to "+" and "/", restores the "=" padding from
// the length (n mod 4 = 2 gives "==", 3 gives "="), then decodes with the
// standard alphabet, stopping at the first "=" or foreign character.
std::string Base64UrlDecode(std::string_view segment);

class TokenDecoder {
 public:
  static constexpr std::string_view kNoSignature = "NO_VALID_CRYPTO_SEGMENT_FOUND_IN_TOKEN";

  explicit TokenDecoder(std::string_view token) : token_(token) {}

  // Splits and decodes the token; runs at most once per decoder.
  void Decode();
  // Decodes if needed and returns a copy of the claims.
  json::Object GetClaims();

  // Valid after Decode().
  const std::vector<std::string>& segments() const { return segments_; }
  const std::string& headerJson() const { return headerJson_; }
  const std::string& claimsJson() const { return claimsJson_; }
  const std::string& signature() const { return signature_; }
  const json::Object& header() const { return header_; }
  const json::Object& claims() const { return claims_; }
  bool decoded() const { return decoded_; }

 private:
  std::string token_;
  std::vector<std::string> segments_;
  std::string headerJson_;
  std::string claimsJson_;
  std::string signature_;
  json::Object claims_;
  json::Object header_;
  bool decoded_ = false;
};

}  // namespace qmx
