#include "support/state_host.h"

#include "binding/value.h"
#include "interface/host_value.h"
#include "serialization/json.h"

namespace qmx::test {

StateHost::StateHost(Mode mode) : TestHost(mode) {
  onJsonApi = [this](HostResponse* response, const HostRequest* request) {
    std::string target = request->target != nullptr ? request->target : "";
    auto scripted = answers.find(target);
    if (scripted != answers.end()) {
      scripted->second(response);
      return;
    }
    auto found = states.find(target);
    if (found == states.end()) {
      response->error = "not found";
      response->status = 404;
      return;
    }
    ValueResult parsed = ReadJson(found->second);
    FromValue(parsed.value(), response->body);
    response->status = 200;
    response->release = [](HostResponse* r) { Release(r->body); };
  };
  onExternal = [this](ExternalResponse* response, const ExternalRequest*) {
    response->result = service.result;
    response->status = service.status;
    response->headers = service.headers;
    response->headerCount = service.headerCount;
    response->body = service.nullBody ? nullptr : reinterpret_cast<const uint8_t*>(service.body.data());
    response->bodyLength = static_cast<uint32_t>(service.body.size());
    response->release = service.release;
  };
}

}  // namespace qmx::test
