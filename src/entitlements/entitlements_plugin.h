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

#include <functional>
#include <string>

#include "binding/value.h"
#include "common/result.h"
#include "entitlements/retry_policy.h"
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

  // The retry policy on the steady clock with a random seed.
  EntitlementsPlugin();
  // The retry policy given, with its own clock and seed.
  explicit EntitlementsPlugin(RetryPolicy retry);
  ~EntitlementsPlugin() override;

  static Plugin* Create();

  // Removes the retry timer if it runs, then unsubscribes everything.
  void Shutdown() override;
  // The installation's region; empty on failure (logged).
  std::string GetGlobalRegion();
  // Sets entitlementsUrl to the region's service URL, or to "" on failure.
  bool ResolveServiceUrl(const std::string& region);
  void SubscribeToEvents();
  void RegisterTypes();

  // One synchronous fetch; a transport or HTTP failure schedules a retry, and
  // so does an unusable 2xx answer while a retry is already armed.
  void FetchToken();
  // Draws the next delay from the retry policy and arms the timer if it is
  // not running yet.
  void ScheduleRetry();
  // The timer's callback: fetches once the policy's deadline is reached.
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

  // The state the handlers move, read-only: the service URL ("" while
  // unresolved), whether the retry timer runs, whether a token is served, and
  // the retry delay and deadline.
  const std::string& EntitlementsUrl() const { return entitlementsUrl_; }
  bool TimerActive() const { return timerActive_; }
  bool TokenReady() const { return tokenReady_; }
  const RetryPolicy& Retry() const { return retry_; }

 protected:
  // Registers the record as the struct type TypePrefix() + "Token" with the
  // plugin's tags, then the endpoint.
  void RegisterApi() override;
  // Resolves the service URL and subscribes; never fails.
  bool OnStart() override;

 private:
  // The typed subscription for path, delivering the event to handler.
  void SubscribeHandler(const std::string& path,
                        void (EntitlementsPlugin::*handler)(const PluginResourceEvent&));
  // Why a 2xx answer gave no token.
  enum class UnusableAnswer {
    kNotAnObject,  // not JSON, or not a JSON object
    kNoToken,      // no non-empty string "entitlements_token"
    kUndecodable,  // the decoding threw (an answer too large for memory)
  };
  // The record a 2xx answer body gives, built aside from the served one.
  Result<EntitlementsTokenResource, UnusableAnswer> DecodeAnswer(const std::string& body) const;
  void PublishToken(bool wasReady);

  std::string entitlementsUrl_;
  bool timerActive_ = false;
  bool tokenReady_ = false;
  std::string accessToken_;
  EntitlementsTokenResource resource_;
  RetryPolicy retry_;
};

}  // namespace qmx
