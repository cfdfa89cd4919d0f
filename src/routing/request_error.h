// RequestError: the failure of a request, whether the plugin's call of the
// host's JSON API or the host's call of one of the plugin's endpoints, and
// RequestResult, the one result type of both.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "binding/value.h"
#include "common/result.h"

namespace qmx {

struct RequestError {
  // A status code (400, 404 or the host's status), or 0 when none applies.
  // An endpoint that fails with a code above 0 answers with it as its status.
  int32_t code = 0;
  std::string message;
  Value fields;  // a Structure of the named template values (and "errorCode_int")
};

// A T, or the RequestError that stands in its place; RequestResult<> carries
// nothing on success.
template <typename T = void>
using RequestResult = Result<T, RequestError>;

// The failure 404 with message, or with "Not found" when message is empty.
inline Failure<RequestError> NotFound(std::string_view message) {
  RequestError error;
  error.code = 404;
  error.message = message.empty() ? "Not found" : std::string(message);
  return Fail(std::move(error));
}

}  // namespace qmx
