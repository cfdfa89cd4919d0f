#include "bench_host.h"

#include "binding/value.h"
#include "common/base64.h"
#include "plugin/interface/host_value.h"
#include "serialization/json.h"

namespace qmx::bench {
namespace {

std::string Base64Url(std::string_view bytes) { return Base64UrlEncode(bytes); }

}  // namespace

BenchHost* BenchHost::From(const HostApi* api) { return reinterpret_cast<const Table*>(api)->owner; }

BenchHost::BenchHost() {
  table_.owner = this;
  HostApi& api = table_.api;
  api.CallJsonApi = [](const HostApi* table, HostResponse* response, HostRequest* request) {
    BenchHost* host = From(table);
    auto found = host->states.find(request->target != nullptr ? request->target : "");
    if (found == host->states.end()) {
      response->error = "not found";
      response->status = 404;
      return;
    }
    ValueResult parsed = ReadJson(found->second);
    FromValue(parsed.value(), response->body);
    response->status = 200;
    response->release = [](HostResponse* r) { Release(r->body); };
  };
  api.SendExternalRequest = [](const HostApi* table, ExternalResponse* response, ExternalRequest*) {
    BenchHost* host = From(table);
    response->result = 0;
    response->status = 200;
    response->body = reinterpret_cast<const uint8_t*>(host->externalBody.data());
    response->bodyLength = static_cast<uint32_t>(host->externalBody.size());
  };
  api.FireEvent = [](const HostApi*, HostEvent*) {};
  api.SubscribeEvent = [](const HostApi* table, const char* name, uint32_t, HostEventCallback callback,
                          void* context, int32_t) {
    From(table)->subscriptions[name] = Subscription{callback, context};
  };
  api.UnsubscribeEvent = [](const HostApi* table, const char* name, uint32_t) {
    From(table)->subscriptions.erase(name);
  };
  api.ScheduleCallback = [](const HostApi*, const char*, HostTimerCallback, void*, double, int32_t) {};
  api.YieldThread = [](const HostApi*) {};
  api.BeginWait = [](const HostApi*, const char*, int32_t) {};
  api.EndWait = [](const HostApi*) {};
  api.WriteLog = [](const HostApi*, int32_t, const char*) {};
  handle_.api = &table_.api;
  handle_.hostCookie = 0xBE7C4;
}

void ConfigureSignedInUser(BenchHost& host) {
  host.states["/data-store/v1/install-settings/globals"] = R"({"region":"eu"})";
  host.states["/data-store/v1/system-settings/region_data"] =
      R"({"eu":{"servers":{"entitlements":{"entitlements_url":"https://eu.example/token"}}}})";
  host.states["/kwe-auth/v1/authorization/access-token"] = R"({"token":"access-token-0123456789"})";
  std::string claims =
      R"({"sub":"user-42","iss":"entitlements.example","entitlements":["game.base","game.dlc1"]})";
  std::string token = "e30." + Base64Url(claims) + ".c2lnbmF0dXJl";
  host.externalBody = R"({"entitlements_token":")" + token + "\"}";
}

}  // namespace qmx::bench
