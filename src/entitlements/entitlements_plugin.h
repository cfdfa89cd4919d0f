// EntitlementsPlugin: keeps the entitlements token of the signed-in user current.
//
// It resolves the entitlements service URL for the installation's region,
// fetches a token with the user's access token whenever one of its triggers
// fires (access token, region, token message, out-of-sync signal), retries
// failed fetches on the timer "entitlements.tick" with growing, jittered
// delays, and publishes the decoded token as "/entitlements/v1/token" and to
// the messaging service.
//
// Everything runs on the caller's thread, without locks: the host must not
// call the handlers, the timer and the endpoint at the same time.
//
// The access token and the entitlements token are credentials: they appear
// only in the request header, the resource record and its publications,
// never in a log line.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>

#include "binding/value.h"
#include "entitlements/token_resource.h"
#include "plugin/plugin.h"
#include "routing/request_error.h"

namespace qmx {

class EntitlementsPlugin : public Plugin {
 public:
  static constexpr const char* kTokenPath = "/entitlements/v1/token";
  static constexpr const char* kMessagingPath = "/vask-messaging-service/v1/entitlements";
  static constexpr const char* kTimerName = "entitlements.tick";
  static constexpr double kTickSeconds = 0.2;

  EntitlementsPlugin();
  ~EntitlementsPlugin() override;

  static Plugin* Create();

  // Removes the retry timer if it runs, then unsubscribes everything.
  void Shutdown() override;
  // Registers the record as the struct type TypePrefix() + "Token" with the
  // plugin's tags, then the endpoint.
  void RegisterApi() override;
  // Resolves the service URL and subscribes; never fails.
  bool OnStart() override;

  // The installation's region; empty on failure (logged).
  std::string GetGlobalRegion();
  // Sets entitlementsUrl to the region's service URL, or to "" on failure.
  bool ResolveServiceUrl(const std::string& region);
  void SubscribeToEvents();
  void RegisterTypes();

  // One synchronous fetch; a transport or HTTP failure schedules a retry, and
  // so does an unusable 2xx answer while a retry is already armed.
  void FetchToken();
  void ScheduleRetry();
  void OnTick();

  void OnRegionLocale(const PluginResourceEvent& event);
  void OnAccessToken(const PluginResourceEvent& event);
  void OnTokenMessage(const PluginResourceEvent& event);
  void OnOutOfSync(const PluginResourceEvent& event);

  // The endpoint GET "/entitlements/v1/token": the record once a token is
  // ready, otherwise 404 "Entitlements token is not ready yet".
  RequestResult<EntitlementsTokenResource> GetToken() const;

  // GetToken without the copy: the endpoint converts the kept record straight
  // into its response, which is the caller's copy.
  RequestResult<std::reference_wrapper<const EntitlementsTokenResource>> CurrentToken() const;

 protected:
  // Test seams: a fixed generator seed and a replaceable monotonic clock.
  void SeedRandom(uint32_t seed) { rng_.seed(seed); }
  void SetClock(std::function<int64_t()> clock) { clock_ = std::move(clock); }

  std::string entitlementsUrl_;
  bool timerActive_ = false;
  bool tokenReady_ = false;
  std::string accessToken_;
  EntitlementsTokenResource resource_;
  std::minstd_rand rng_;
  int64_t initialRetryDelay_ = 100;  // milliseconds
  int64_t maxRetryDelay_ = 60000;    // milliseconds
  int64_t retryDelay_ = initialRetryDelay_;
  int64_t nextRetryTime_ = 0;  // steady-clock nanoseconds

 private:
  // The typed subscription for path, delivering the event to handler.
  void SubscribeHandler(const std::string& path,
                        void (EntitlementsPlugin::*handler)(const PluginResourceEvent&));
  // Reads a 2xx answer body into updated: false when it holds no usable
  // token (not JSON, no non-empty "entitlements_token", or too large to
  // decode).
  bool DecodeAnswer(const std::string& body, EntitlementsTokenResource& updated) const;
  void PublishToken(bool wasReady);

  std::function<int64_t()> clock_;
};

}  // namespace qmx
