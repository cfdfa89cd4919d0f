#include "plugin/external_request_client.h"

#include <strings.h>

#include <algorithm>
#include <vector>

#include "common/scope_exit.h"
#include "messages/message_format.h"
#include "routing/http.h"

namespace qmx {
namespace {

bool NamesUserAgent(const std::string& name) {
  return name.size() == kHeaderUserAgent.size() &&
         strncasecmp(name.c_str(), kHeaderUserAgent.data(), kHeaderUserAgent.size()) == 0;
}

// Takes the answer of a service that was reached over into answer.
void TakeAnswer(const ExternalResponse& response, const std::string& description, ExternalAnswer& answer) {
  answer.status = static_cast<int32_t>(response.status);
  answer.conversionFailed = 0;
  if (response.headerCount != 0 && response.headers == nullptr) {
    answer.conversionFailed = 1;
    answer.message = FormatMessage("Error converting response for %1: headers was null", description);
  } else {
    for (uint32_t i = 0; i < response.headerCount; ++i) {
      const HostHeader& header = response.headers[i];
      answer.headers[header.name != nullptr ? header.name : ""] = header.value != nullptr ? header.value : "";
    }
  }
  if (response.bodyLength != 0 && response.body == nullptr) {
    answer.conversionFailed = 1;
    answer.message = FormatMessage("Error converting response for %1: body was null", description);
  } else if (response.body != nullptr) {
    answer.body.assign(reinterpret_cast<const char*>(response.body), response.bodyLength);
  }
}

}  // namespace

ExternalAnswer ExternalRequestClient::SendRequest(const ExternalRequestSpec& spec) {
  std::vector<HostHeader> headers;
  bool hasUserAgent = std::any_of(spec.headers.begin(), spec.headers.end(),
                                  [](const auto& header) { return NamesUserAgent(header.first); });
  if (!hasUserAgent) headers.push_back({kHeaderUserAgent.data(), userAgent_.c_str()});
  for (const auto& [name, value] : spec.headers) headers.push_back({name.c_str(), value.c_str()});

  ExternalRequest request{};
  request.method = spec.method;
  request.url = spec.url.c_str();
  request.headers = headers.empty() ? nullptr : headers.data();
  request.headerCount = static_cast<uint32_t>(headers.size());
  request.body = reinterpret_cast<const uint8_t*>(spec.body.data());
  request.bodyLength = static_cast<uint32_t>(spec.body.size());
  request.setting1 = spec.setting1;
  request.setting2 = spec.setting2;
  ExternalResponse response{};
  AtScopeExit releaseResponse([&] {
    if (response.release != nullptr) response.release(&response);
  });
  host_.SendExternalRequest(&response, &request);

  std::string description = FormatMessage(
      "%1 %2", std::string(HttpMethodName(HttpMethodFromHost(static_cast<int32_t>(spec.method)))), spec.url);
  ExternalAnswer answer;
  int32_t code = response.result;
  answer.resultCode = (code == -1 || code == 0 || code == 1 || code == 2) ? code : 1;
  if (answer.resultCode != 0) {
    // The host's failure text.
    if (response.body != nullptr) {
      answer.message.assign(reinterpret_cast<const char*>(response.body), response.bodyLength);
    }
  } else {
    TakeAnswer(response, description, answer);
  }
  answer.reserved = -1;
  return answer;
}

}  // namespace qmx
