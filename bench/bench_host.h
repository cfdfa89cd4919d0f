// A host for benchmarks: a HostApi table that answers at once and records
// nothing, so that a loop of calls measures the plugin alone.
//
// Settings and resource states are answered from a table of JSON texts by
// request target (unknown targets get 404); every outside request gets the
// same canned 200 answer. Events, subscriptions and timers are accepted and
// dropped, except that the callback of each subscription is kept so that a
// benchmark can deliver events.
#pragma once

#include <map>
#include <string>

#include "plugin/interface/host_api.h"

namespace qmx::bench {

class BenchHost {
 public:
  BenchHost();
  BenchHost(const BenchHost&) = delete;
  BenchHost& operator=(const BenchHost&) = delete;

  HostHandle* Handle() { return &handle_; }

  // JSON answer texts by request target.
  std::map<std::string, std::string> states;
  // The body of every outside request's 200 answer.
  std::string externalBody;

  struct Subscription {
    HostEventCallback callback = nullptr;
    void* context = nullptr;
  };
  std::map<std::string, Subscription> subscriptions;

 private:
  static BenchHost* From(const HostApi* api);

  struct Table {
    HostApi api;
    BenchHost* owner;
  };
  Table table_{};
  HostHandle handle_{};
};

// The settings of one region with an entitlements service, the signed-in
// user's access token, and a service answer carrying a token with two
// entitlements.
void ConfigureSignedInUser(BenchHost& host);

}  // namespace qmx::bench
