// The HTTP vocabulary shared by routing and the plugin's outgoing requests:
// method codes and header names. The content types are the body formats'
// (serialization/body_formats.h).
#pragma once

#include <cstdint>
#include <string_view>

namespace qmx {

// The router's method: what routes match on and endpoint names are made
// from. The host's records carry the same codes as the C enumeration
// HostMethod (interface/host_api.h: HostMethodGet is 2, and so on); code that
// fills or reads a host record uses HostMethod, and HttpMethodFromHost turns a
// record's code into the router's method.
enum class HttpMethod : int32_t {
  kNone = 0,
  kDelete = 1,
  kGet = 2,
  kHead = 3,
  kOptions = 4,
  kPatch = 5,
  kPost = 6,
  kPut = 7,
  kCall = 8,  // a call without an HTTP verb; the request carries a call name
};

// Upper-case name of a method; empty for kNone, kCall and unknown codes.
std::string_view HttpMethodName(HttpMethod method);

// The method for a code received from (or sent to) the host: the identity
// for 1..8, kNone for anything else.
HttpMethod HttpMethodFromHost(int32_t code);

// Header names as the plugin sends them (each a NUL-terminated literal).
inline constexpr std::string_view kHeaderUserAgent = "user-agent";
inline constexpr std::string_view kHeaderAccept = "Accept";
inline constexpr std::string_view kHeaderContentType = "Content-Type";
inline constexpr std::string_view kHeaderAuthorization = "Authorization";

}  // namespace qmx
