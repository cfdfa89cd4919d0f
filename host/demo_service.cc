#include "demo_service.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>

#include "binding/value.h"
#include "common/base64.h"
#include "serialization/json.h"

namespace qmx::host {
namespace {

constexpr double kMaxHangSeconds = 120;

std::string JsonAnswer(const Value& value) { return WriteJson(value, nullptr, nullptr); }

// A number from the query, or fallback when it is missing or unreadable.
double QueryNumber(const httplib::Request& request, const char* name, double fallback) {
  if (!request.has_param(name)) return fallback;
  std::string text = request.get_param_value(name);
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  return end != text.c_str() && *end == '\0' && std::isfinite(value) ? value : fallback;
}

}  // namespace

DemoService::DemoService() : server_(std::make_unique<httplib::Server>()) { RegisterRoutes(); }

DemoService::~DemoService() { Stop(); }

Result<void, std::string> DemoService::Start(const std::string& address, int port) {
  address_ = address;
  port_ = port == 0 ? server_->bind_to_any_port(address) : (server_->bind_to_port(address, port) ? port : -1);
  if (port_ <= 0) {
    port_ = 0;
    return Fail("the demo service cannot listen on " + address + ":" + std::to_string(port));
  }
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  return {};
}

void DemoService::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  stopping_.notify_all();  // ends requests that hang
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

std::string DemoService::TokenUrl() const {
  return "http://" + address_ + ":" + std::to_string(port_) + "/entitlements";
}

void DemoService::FailNext(int count) {
  std::lock_guard lock(mutex_);
  failNext_ = std::max(count, 0);
}

void DemoService::HangNext(int count, double seconds) {
  std::lock_guard lock(mutex_);
  hangNext_ = std::max(count, 0);
  hangSeconds_ = std::clamp(seconds, 0.0, kMaxHangSeconds);
}

void DemoService::SetEntitlements(std::vector<std::string> entitlements) {
  std::lock_guard lock(mutex_);
  entitlements_ = std::move(entitlements);
}

std::vector<std::string> DemoService::IssuedTokens() const {
  std::lock_guard lock(mutex_);
  return issued_;
}

DemoService::Next DemoService::TakeNext(double& hangSeconds) {
  std::lock_guard lock(mutex_);
  if (hangNext_ > 0) {
    --hangNext_;
    hangSeconds = hangSeconds_;
    return Next::Hang;
  }
  if (failNext_ > 0) {
    --failNext_;
    return Next::Fail;
  }
  return Next::Answer;
}

std::string DemoService::IssueToken(const std::string& accessToken) {
  std::lock_guard lock(mutex_);
  size_t colon = accessToken.find(':');
  std::string subject = colon != std::string::npos && colon > 0 ? accessToken.substr(0, colon) : "demo-user";

  Value header;
  header.Member("alg").SetString("none");
  header.Member("typ").SetString("JWT");
  Value claims;
  claims.Member("sub").SetString(subject);
  claims.Member("iss").SetString(kIssuer);
  claims.Member("iat").SetSigned(static_cast<int64_t>(std::time(nullptr)));
  claims.Member("jti").SetUnsigned(++serial_);
  Value& list = claims.Member("entitlements");
  list.MakeCollection();
  for (const std::string& entitlement : entitlements_) list.Append().SetString(entitlement);

  std::string signature = "demo-signature-" + std::to_string(serial_);
  std::string token = Base64UrlEncode(JsonAnswer(header)) + "." + Base64UrlEncode(JsonAnswer(claims)) + "." + Base64UrlEncode(signature);
  issued_.push_back(token);
  return token;
}

void DemoService::RegisterRoutes() {
  server_->Post("/entitlements", [this](const httplib::Request& request, httplib::Response& response) {
    ++requests_;
    std::string authorization = request.get_header_value("Authorization");
    constexpr std::string_view kBearer = "Bearer ";
    if (!authorization.starts_with(kBearer) || authorization.size() == kBearer.size()) {
      response.status = 401;
      response.set_content(R"({"error":"a bearer token is required"})", "application/json");
      return;
    }
    double hangSeconds = 0;
    Next next = TakeNext(hangSeconds);
    if (next == Next::Hang) {
      std::unique_lock lock(mutex_);
      stopping_.wait_for(lock, std::chrono::duration<double>(hangSeconds), [this] { return stopped_; });
    }
    if (next != Next::Answer) {
      response.status = 503;
      response.set_content(R"({"error":"the service is unavailable"})", "application/json");
      return;
    }
    Value answer;
    answer.Member("entitlements_token").SetString(IssueToken(authorization.substr(kBearer.size())));
    response.set_content(JsonAnswer(answer), "application/json");
  });

  server_->Post("/control/fail", [this](const httplib::Request& request, httplib::Response& response) {
    FailNext(static_cast<int>(std::clamp(QueryNumber(request, "count", 1), 0.0, 1e6)));
    response.status = 204;
  });
  server_->Post("/control/hang", [this](const httplib::Request& request, httplib::Response& response) {
    HangNext(static_cast<int>(std::clamp(QueryNumber(request, "count", 1), 0.0, 1e6)),
             QueryNumber(request, "seconds", 30));
    response.status = 204;
  });
  server_->Put("/control/entitlements", [this](const httplib::Request& request, httplib::Response& response) {
    ValueResult list = ReadJson(std::string_view(request.body));
    std::vector<std::string> entitlements;
    bool valid = list.Ok() && list.value().Kind() == ValueKind::Collection;
    for (size_t i = 0; valid && i < list.value().Size(); ++i) {
      const Value& item = list.value().At(i);
      valid = item.Kind() == ValueKind::String;
      entitlements.emplace_back(item.GetString());
    }
    if (!valid) {
      response.status = 400;
      response.set_content(R"({"error":"expected a JSON array of texts"})", "application/json");
      return;
    }
    SetEntitlements(std::move(entitlements));
    response.status = 204;
  });
  server_->Get("/control/stats", [this](const httplib::Request&, httplib::Response& response) {
    Value stats;
    stats.Member("requests").SetSigned(requests_);
    stats.Member("issued").SetUnsigned(IssuedTokens().size());
    response.set_content(JsonAnswer(stats), "application/json");
  });
}

}  // namespace qmx::host
