#include "http_front.h"

#include <httplib.h>

#include "serialization/json.h"

namespace qmx::host {
namespace {

// Request bodies above this size are refused before they reach the host.
constexpr size_t kMaxBodyBytes = 16u << 20;

uint32_t MethodCode(const std::string& method) {
  if (method == "GET") return HostMethodGet;
  if (method == "PUT") return HostMethodPut;
  if (method == "POST") return HostMethodPost;
  if (method == "DELETE") return HostMethodDelete;
  return HostMethodNone;
}

void Answer(httplib::Response& response, uint32_t status, const Value& body) {
  response.status = static_cast<int>(status);
  std::string text = WriteJson(body, nullptr, "\n");
  if (!text.empty()) text += "\n";
  response.set_content(text, "application/json");
}

void AnswerError(httplib::Response& response, uint32_t status, std::string_view message) {
  Value body;
  body.Member("error").SetString(message);
  Answer(response, status, body);
}

bool IsLoopback(const std::string& address) {
  return address == "localhost" || address == "::1" || address.starts_with("127.");
}

}  // namespace

Value MemoryStatsValue(const MemoryStats& stats) {
  Value value;
  value.Member("bytesInUse").SetUnsigned(stats.bytesAllocated - stats.bytesReleased);
  value.Member("blocksInUse").SetUnsigned(stats.allocations - stats.releases);
  value.Member("peakBytes").SetUnsigned(stats.peakBytes);
  value.Member("blocksAtPeak").SetUnsigned(stats.blocksAtPeak);
  value.Member("bytesAllocated").SetUnsigned(stats.bytesAllocated);
  value.Member("allocations").SetUnsigned(stats.allocations);
  value.Member("bytesReleased").SetUnsigned(stats.bytesReleased);
  value.Member("releases").SetUnsigned(stats.releases);
  return value;
}

HttpFront::HttpFront(ReferenceHost& host) : host_(host), server_(std::make_unique<httplib::Server>()) {
  server_->set_payload_max_length(kMaxBodyBytes);
  auto handle = [this](const httplib::Request& request, httplib::Response& response) {
    uint32_t method = MethodCode(request.method);
    if (method == HostMethodNone) return AnswerError(response, 405, "Method not allowed");
    if (request.path == kMemoryPath && method == HostMethodGet)
      return Answer(response, 200, MemoryStatsValue(host_.Memory()));
    std::string target = request.target;
    Value body;
    bool hasBody = !request.body.empty();
    if (hasBody) {
      ValueResult parsed = ReadJson(std::string_view(request.body));
      if (!parsed.Ok()) return AnswerError(response, 400, parsed.ErrorText());
      body.Swap(parsed.value());
    }
    ApiAnswer answer = host_.Call(method, target, hasBody ? &body : nullptr);
    if (!answer.Ok()) return AnswerError(response, answer.status != 0 ? answer.status : 500, answer.error);
    Answer(response, answer.status, answer.body);
  };
  server_->Get(".*", handle);
  server_->Put(".*", handle);
  server_->Post(".*", handle);
  server_->Delete(".*", handle);
}

HttpFront::~HttpFront() { Stop(); }

Result<void, std::string> HttpFront::Start(const std::string& listen) {
  size_t colon = listen.rfind(':');
  if (colon == std::string::npos) return Fail("--listen wants ADDRESS:PORT, got '" + listen + "'");
  address_ = listen.substr(0, colon);
  if (address_.size() > 2 && address_.front() == '[' && address_.back() == ']')
    address_ = address_.substr(1, address_.size() - 2);
  if (!IsLoopback(address_)) {
    return Fail("--listen serves loopback addresses only (127.0.0.1, ::1, localhost), not '" + address_ + "'");
  }
  int port = 0;
  try {
    port = std::stoi(listen.substr(colon + 1));
  } catch (...) {
    port = -1;
  }
  if (port < 0 || port > 65535) return Fail("bad port in '" + listen + "'");
  port_ = port == 0 ? server_->bind_to_any_port(address_) : (server_->bind_to_port(address_, port) ? port : -1);
  if (port_ <= 0) return Fail("cannot listen on " + listen);
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  return {};
}

void HttpFront::Stop() {
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

std::string HttpFront::Url() const {
  bool v6 = address_.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + address_ + "]" : address_) + ":" + std::to_string(port_);
}

}  // namespace qmx::host
