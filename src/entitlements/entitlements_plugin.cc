#include "entitlements/entitlements_plugin.h"

#include <exception>
#include <utility>

#include "entitlements/service_url.h"
#include "entitlements/token_decoder.h"
#include "logging/categories.h"
#include "logging/log_record.h"
#include "logging/logger.h"
#include "routing/endpoint.h"
#include "routing/http.h"
#include "serialization/body_formats.h"
#include "serialization/json.h"

namespace qmx {
namespace {

// The text form of a member of an event's data.
std::string DataText(const PluginResourceEvent& event, const char* name) {
  return event.data.FindMember(name).ToString();
}

bool IsCreateOrUpdate(const PluginResourceEvent& event) {
  return event.eventType == PluginResourceEventType::Create ||
         event.eventType == PluginResourceEventType::Update;
}

// The request body: {"urn": "urn:entitlement:%"}, indented, CR LF line breaks.
std::string RequestBody() {
  Value body;
  body.Member("urn").SetString("urn:entitlement:%");
  return WriteJson(body, nullptr, "\r\n");
}

}  // namespace

EntitlementsPlugin::EntitlementsPlugin() : EntitlementsPlugin(RetryPolicy()) {}

EntitlementsPlugin::EntitlementsPlugin(RetryPolicy retry)
    : Plugin("entitlements"), retry_(std::move(retry)) {}

EntitlementsPlugin::~EntitlementsPlugin() = default;

Plugin* EntitlementsPlugin::Create() {
  return new EntitlementsPlugin();
}

void EntitlementsPlugin::Shutdown() {
  if (timerActive_) Timers().RemoveTimer(kTimerName);
  Plugin::Shutdown();
}

void EntitlementsPlugin::RegisterApi() {
  RegisterTypes();
  RegisterGet(kTokenPath,
              std::function<EndpointResult<std::reference_wrapper<const EntitlementsTokenResource>>()>(
                  [this] { return CurrentToken(); }));
}

void EntitlementsPlugin::RegisterTypes() {
  TypeBuilder type = DefineStruct<EntitlementsTokenResource>("Token");
  AddTokenResourceMembers(type, Registry());
}

bool EntitlementsPlugin::OnStart() {
  ResolveServiceUrl(GetGlobalRegion());
  SubscribeToEvents();
  return true;
}

std::string EntitlementsPlugin::GetGlobalRegion() {
  return qmx::GetGlobalRegion(JsonApi());
}

bool EntitlementsPlugin::ResolveServiceUrl(const std::string& region) {
  entitlementsUrl_ = qmx::ResolveServiceUrl(JsonApi(), region);
  return !entitlementsUrl_.empty();
}

void EntitlementsPlugin::SubscribeHandler(
    const std::string& path, void (EntitlementsPlugin::*handler)(const PluginResourceEvent&)) {
  Events().Subscribe<Value>(path, std::function<void(const TypedResourceEvent<Value>&)>(
                                      [this, handler](const TypedResourceEvent<Value>& typed) {
                                        PluginResourceEvent event;
                                        event.uri = typed.uri;
                                        event.eventType = typed.eventType;
                                        event.data.Assign(typed.data);
                                        (this->*handler)(event);
                                      }));
}

void EntitlementsPlugin::SubscribeToEvents() {
  SubscribeHandler("/vaskclient/region-locale", &EntitlementsPlugin::OnRegionLocale);
  SubscribeHandler("/kwe-auth/v1/authorization/access-token", &EntitlementsPlugin::OnAccessToken);
  SubscribeHandler("/vask-messaging-service/v1/message/entitlements/v1/token",
                   &EntitlementsPlugin::OnTokenMessage);
  SubscribeHandler("/vask-messaging-service/v1/out-of-sync", &EntitlementsPlugin::OnOutOfSync);
}

void EntitlementsPlugin::FetchToken() {
  if (entitlementsUrl_.empty() || accessToken_.empty()) return;

  ExternalRequestSpec request;
  request.method = HostMethodPost;
  request.url = entitlementsUrl_;
  request.headers[std::string(kHeaderAuthorization)] = "Bearer " + accessToken_;
  request.headers[std::string(kHeaderAccept)] = kContentTypeJson;
  request.headers[std::string(kHeaderContentType)] = kContentTypeJson;
  request.body = RequestBody();
  ExternalAnswer answer = External().SendRequest(request);

  if (!answer.Succeeded()) {
    // The failure is not logged: the answer may echo the credentials.
    ScheduleRetry();
    return;
  }

  bool wasReady = tokenReady_;
  // The new record is built aside and replaces the served one only once it
  // is complete: an answer too large to decode (the allocation fails) is as
  // unusable as one that does not parse, and leaves the served record whole.
  Result<EntitlementsTokenResource, UnusableAnswer> updated = DecodeAnswer(answer.body);
  if (!updated) {
    // Once the deadline has passed every tick fetches again; an unusable
    // answer must move the deadline or the ticks turn into a request storm.
    // Without an armed timer nothing is scheduled.
    if (timerActive_) ScheduleRetry();
    return;
  }
  resource_ = std::move(updated).value();

  retry_.Reset();
  tokenReady_ = true;
  if (timerActive_) {
    Timers().RemoveTimer(kTimerName);
    timerActive_ = false;
  }
  PublishToken(wasReady);
}

Result<EntitlementsTokenResource, EntitlementsPlugin::UnusableAnswer>
EntitlementsPlugin::DecodeAnswer(const std::string& body) const {
  try {
    ValueResult parsed = ReadJson(body);
    if (!parsed.Ok() || parsed.value().Kind() != ValueKind::Structure)
      return Fail(UnusableAnswer::kNotAnObject);
    const Value& tokenValue = parsed.value().FindMember("entitlements_token");
    if (tokenValue.Kind() != ValueKind::String || tokenValue.GetString().empty())
      return Fail(UnusableAnswer::kNoToken);

    EntitlementsTokenResource updated;
    updated.accessToken = accessToken_;
    updated.token = std::string(tokenValue.GetString());
    json::Object claims = TokenDecoder(updated.token).GetClaims();
    // A token without a readable entitlements list keeps the list of the
    // token before it; a sign-out ends that list (OnAccessToken).
    const json::Element& entitlements = claims["entitlements"];
    if (entitlements.IsArray()) {
      for (const json::Element& element : entitlements.Array())
        updated.entitlements.push_back(element.Text());
    } else {
      updated.entitlements = resource_.entitlements;
    }
    updated.subject = claims["sub"].Text();
    updated.issuer = claims["iss"].Text();
    return updated;
  } catch (const std::exception&) {
    return Fail(UnusableAnswer::kUndecodable);
  }
}

void EntitlementsPlugin::PublishToken(bool wasReady) {
  Events().PublishResourceEvent(
      wasReady ? PluginResourceEventType::Update : PluginResourceEventType::Create, kTokenPath, resource_);
  (void)JsonApi().Post(kMessagingPath, resource_);  // the answer does not matter
}

void EntitlementsPlugin::ScheduleRetry() {
  retry_.Backoff();
  if (!timerActive_) {
    Timers().AddTimer(kTimerName, kTickSeconds, [this] { OnTick(); });
    timerActive_ = true;
  }
}

void EntitlementsPlugin::OnTick() {
  if (!timerActive_) return;
  if (retry_.Due()) FetchToken();
}

void EntitlementsPlugin::OnRegionLocale(const PluginResourceEvent& event) {
  if (!IsCreateOrUpdate(event)) return;
  std::string region = DataText(event, "region");
  std::string previous = entitlementsUrl_;
  if (!ResolveServiceUrl(region))
    Log(kLogError, kCategoryDbg, "Unsupported region '%s'.", region.c_str());
  if (entitlementsUrl_ != previous) FetchToken();
}

void EntitlementsPlugin::OnAccessToken(const PluginResourceEvent& event) {
  if (IsCreateOrUpdate(event)) {
    accessToken_ = DataText(event, "token");
    FetchToken();
    return;
  }
  if (event.eventType != PluginResourceEventType::Delete) return;
  accessToken_.clear();
  tokenReady_ = false;
  // The next user's first token must not inherit this user's entitlements
  // when it carries no list of its own.
  resource_.entitlements.clear();
  Events().PublishResourceDeleted(kTokenPath);
  (void)JsonApi().Request(HostMethodDelete, kMessagingPath);  // the answer does not matter
}

void EntitlementsPlugin::OnTokenMessage(const PluginResourceEvent& event) {
  if (IsCreateOrUpdate(event)) FetchToken();
}

void EntitlementsPlugin::OnOutOfSync(const PluginResourceEvent& event) {
  if (event.eventType == PluginResourceEventType::Delete) FetchToken();
}

RequestResult<EntitlementsTokenResource> EntitlementsPlugin::GetToken() const {
  auto current = CurrentToken();
  if (!current.Ok()) return Fail(std::move(current).error());
  return current.value().get();
}

RequestResult<std::reference_wrapper<const EntitlementsTokenResource>>
EntitlementsPlugin::CurrentToken() const {
  if (!tokenReady_) return NotFound("Entitlements token is not ready yet");
  return std::cref(resource_);
}

}  // namespace qmx
