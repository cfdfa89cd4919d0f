// The dispatcher over fuzzed HostRequests, called the way a host calls: each
// registered function has an ApiFunctionEntry; the request carries the
// entry's context (or none) and goes to its entry point, and the response is
// released with the release function the dispatcher installed. The request's
// method, target, call name, headers, arguments (HostValue graphs, see
// host_graph.h), content type and body all come from the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "binding/native_conversion.h"
#include "binding/native_types.h"
#include "fuzz/host_graph.h"
#include "plugin/api_descriptor_builder.h"
#include "interface/api_descriptor.h"
#include "routing/arguments.h"
#include "routing/endpoint.h"
#include "routing/request_error.h"
#include "serialization/body_formats.h"

namespace qmx::fuzz {
struct Filter {
  std::string name;
  int32_t limit = 0;
  bool exact = false;
  std::vector<std::string> tags;
};
}  // namespace qmx::fuzz

namespace qmx {
QMX_DECLARE_TYPE_ID(fuzz::Filter, "qmx::fuzz::Filter");
QMX_REGISTERED_STRUCT(fuzz::Filter);
}  // namespace qmx

namespace {

using qmx::EndpointResult;
using qmx::fuzz::Filter;

// The registry, the functions and their descriptor, built once.
struct Api {
  Api() {
    registry.RegisterBuiltins();
    qmx::TypeBuilder filter = registry.BeginType(sizeof(Filter), "Filter", qmx::TypeIdOf<Filter>(),
                                                 qmx::TypeKind::Struct);
    qmx::AddMember(filter, registry, "name", &Filter::name);
    qmx::AddMember(filter, registry, "limit", &Filter::limit);
    qmx::AddMember(filter, registry, "exact", &Filter::exact, {}, qmx::kRequired);
    qmx::AddMember(filter, registry, "tags", &Filter::tags, {}, qmx::kOmitIfEmpty);

    Add("/items/{id}", HostMethodGet, "",
        qmx::MakeEndpointFrom(registry, "GetItemsById", {"id", "label", "verbose"},
                              [](const int32_t& id, const std::string& label,
                                 const bool& verbose) -> EndpointResult<Filter> {
                                if (id < 0) return qmx::NotFound("no item");
                                return Filter{label, id, verbose, {label}};
                              }));
    qmx::FunctionDescriptor search = qmx::MakeEndpointFrom(
        registry, "PostSearch", {"filter", "page", "ids"},
        [](const Filter& filter, const uint16_t& page,
           const std::vector<int64_t>& ids) -> EndpointResult<std::vector<std::string>> {
          std::vector<std::string> out = filter.tags;
          out.push_back(filter.name);
          out.resize(out.size() + std::min<size_t>(ids.size(), 4) + page % 3);
          if (qmx::CallContext* call = qmx::CurrentCallContext()) {
            call->status = 201;
            call->contentType = "application/json";
            call->responseHeaders["x-count"] = std::to_string(out.size());
          }
          return out;
        });
    search.arguments[0].location = qmx::kLocationBody;
    search.arguments[1].location = qmx::kLocationQuery;
    Add("/search", HostMethodPost, "", std::move(search));
    qmx::FunctionDescriptor echo = qmx::MakeEndpointFrom(
        registry, "Echo", {"payload", "count", "ratio", "level"},
        [](const qmx::Value& payload, const uint64_t& count, const double& ratio,
           const int8_t& level) -> EndpointResult<qmx::Value> {
          qmx::Value out;
          out.Member("payload").Assign(payload);
          out.Member("count").SetUnsigned(count);
          out.Member("ratio").SetFloat(ratio);
          out.Member("level").SetSigned(level);
          return out;
        });
    echo.arguments[3].location = qmx::kLocationHeader;
    Add("", HostMethodCall, "echo", std::move(echo));
    Add("/files/{+path}", 0, "",
        qmx::MakeEndpointFrom(registry, "GetFiles", {"path", "names"},
                              [](const std::string& path, const std::vector<std::string>& names)
                                  -> EndpointResult<std::string> {
                                return path + std::to_string(names.size());
                              }));
    storage.Build(registry, descriptor);
  }

  void Add(const char* path, uint32_t method, const char* callName, qmx::FunctionDescriptor function) {
    function.path = path;
    function.method = method;
    function.callName = callName;
    registry.RegisterFunction(std::move(function), qmx::FunctionListing::Listed);
  }

  qmx::TypeRegistry registry;
  qmx::ApiDescriptorStorage storage;
  ApiDescriptor descriptor{};
};

// The content types a request may carry: none, empty, one no format claims,
// and every content type of the body-format table, bare and with a parameter.
std::vector<std::string> ContentTypes() {
  std::vector<std::string> types = {"", "text/plain"};
  for (const qmx::BodyFormat& format : qmx::BodyFormats()) {
    for (std::string_view type : format.contentTypes) {
      types.emplace_back(type);
      types.emplace_back(std::string(type) + "; charset=utf-8");
    }
  }
  return types;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Api* api = new Api();  // lives for the process, like a loaded plugin
  static const std::vector<std::string>* contentTypes = new std::vector<std::string>(ContentTypes());
  qmx::fuzz::GraphBuilder input(data, size);

  const auto* entries = static_cast<const ApiFunctionEntry*>(api->descriptor.functions);
  const uint8_t selector = input.Byte();
  const ApiFunctionEntry* entry = &entries[selector % api->descriptor.functionCount];

  HostRequest request{};
  request.method = input.Byte() % 10;
  request.functionContext = selector >= 0xF0 ? nullptr : entry->context;
  request.target = input.Byte() & 1 ? nullptr : input.StoredText(96);
  if (input.Byte() & 1) request.callName = input.StoredText(8);

  std::vector<HostHeader> headers(input.Byte() % 5);
  for (HostHeader& header : headers) {
    header.name = input.StoredText(12);
    header.value = input.StoredText(32);
  }
  request.headers = headers.empty() ? nullptr : headers.data();
  request.headerCount = static_cast<uint32_t>(headers.size());

  std::vector<HostArgument> arguments(input.Byte() % 5);
  for (HostArgument& argument : arguments) {
    const uint8_t code = input.Byte();
    argument.name = code & 1 ? nullptr : input.StoredText(10);
    input.Build(argument.value, 6);
  }
  request.arguments = arguments.empty() ? nullptr : arguments.data();
  request.argumentCount = static_cast<uint32_t>(arguments.size());

  const uint8_t type = input.Byte();
  // Null, one of the types above, or a fuzzed text.
  const size_t choice = type % (contentTypes->size() + 2);
  request.contentType = choice == 0                        ? nullptr
                        : choice <= contentTypes->size() ? (*contentTypes)[choice - 1].c_str()
                                                         : input.StoredText(24);
  // The body sits in a buffer of exactly its length.
  const std::string rest = input.Rest();
  std::vector<uint8_t> body(rest.begin(), rest.end());
  request.body = body.empty() ? nullptr : body.data();
  request.bodyLength = static_cast<uint32_t>(body.size());
  request.requestId = 7;

  HostResponse response{};
  entry->entry(&response, &request);
  if (response.release == nullptr) std::abort();
  if (response.error == nullptr && response.errorOwned != 0) std::abort();
  response.release(&response);
  static const HostValue kEmpty{};
  if (std::memcmp(&response.body, &kEmpty, sizeof kEmpty) != 0 || response.error != nullptr) {
    std::abort();
  }
  return 0;
}
