#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "binding/native_conversion.h"
#include "binding/native_types.h"
#include "interface/api_descriptor.h"
#include "interface/counted_allocator.h"
#include "interface/host_value.h"
#include "plugin/plugin.h"
#include "support/test_host.h"

namespace qmx {
namespace demo {
struct Item {
  int32_t id = 0;
  std::string label;
  std::vector<std::string> tags;
};
}  // namespace demo
QMX_DECLARE_TYPE_ID(demo::Item, "qmx::demo::Item");
QMX_REGISTERED_STRUCT(demo::Item);

namespace {

class ItemsPlugin : public Plugin {
 public:
  ItemsPlugin() : Plugin("items") {}
  demo::Item kept{3, "kept", {"x"}};
  void RegisterApi() override {
    TypeBuilder item = DefineStruct<demo::Item>("Item");
    AddMember(item, Registry(), "id", &demo::Item::id);
    AddMember(item, Registry(), "label", &demo::Item::label);
    AddMember(item, Registry(), "tags", &demo::Item::tags);
    RegisterGet("/items/{id}",
                [](const int32_t& id, const std::string& label) -> EndpointResult<demo::Item> {
                  if (id < 0) return NotFound("No item " + std::to_string(id));
                  return demo::Item{id, label, {"a", "b"}};
                },
                {"id", "label"});
    RegisterGet("/answer", []() -> EndpointResult<int32_t> {
      CallContext& call = *CurrentCallContext();
      call.status = 201;
      call.contentType = "application/json";
      call.responseHeaders["x-one"] = "1";
      call.responseHeaders["x-two"] = "2";
      call.flags = 3;
      call.kind = 7;  // outside 1..3: passed on as 0
      return 42;
    });
    // Registered with a trailing "/": served without it.
    RegisterGet("/things/", []() -> EndpointResult<int32_t> { return 5; });
    // Declares the request context: echoes the record it receives.
    RegisterGet(
        "/whoami",
        [](const RequestInfo& info, const std::string& label) -> EndpointResult<Value> {
          Value out;
          out.Member("label").SetString(label);
          out.Member("requestId").SetUnsigned(info.requestId);
          out.Member("ticked").SetBool(info.tickTime != 0);
          out.Member("registry").SetBool(info.registry != nullptr);
          out.Member("target").SetString(info.target);
          out.Member("method").SetSigned(static_cast<int64_t>(info.method));
          out.Member("callName").SetString(info.callName);
          for (const auto& [name, value] : info.headers) out.Member("headers").Member(name).SetString(value);
          return out;
        },
        {"label"});
    // Answers with a reference to a record the plugin keeps.
    RegisterGet("/kept", [this]() -> EndpointResult<std::reference_wrapper<const demo::Item>> {
      return std::cref(kept);
    });
    // Declares no context: runs without a record.
    RegisterGet("/plain", []() -> EndpointResult<bool> {
      return CurrentCallContext()->requestInfo == nullptr;
    });
  }
};

// Reads a field of a packed record by value; assertions would bind a
// reference to it, which may be misaligned.
template <typename T>
T Copy(T field) {
  return field;
}

const ApiFunctionEntry* FindEntry(const ApiDescriptor& descriptor, std::string_view name) {
  const auto* entries = static_cast<const ApiFunctionEntry*>(descriptor.functions);
  for (uint32_t i = 0; i < descriptor.functionCount; ++i) {
    if (name == entries[i].name) return &entries[i];
  }
  return nullptr;
}

// A GET of target through entry, as a host makes it.
HostResponse Get(const ApiFunctionEntry& entry, const char* target,
                 std::vector<HostHeader> headers = {}, uint32_t requestId = 0) {
  HostRequest request{};
  request.method = HostMethodGet;
  request.target = target;
  request.functionContext = entry.context;
  request.headers = headers.empty() ? nullptr : headers.data();
  request.headerCount = static_cast<uint32_t>(headers.size());
  request.requestId = requestId;
  HostResponse response{};
  entry.entry(&response, &request);
  return response;
}

class ApiDescriptorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin = new ItemsPlugin();
    plugin->Load(ApiVersion{});
    ASSERT_TRUE(plugin->Callbacks()->Initialize(plugin, host.Handle()));
  }
  void TearDown() override { plugin->Callbacks()->Shutdown(plugin); }

  test::TestHost host;
  ItemsPlugin* plugin = nullptr;
};

TEST_F(ApiDescriptorTest, DescribesTheRegisteredFunctionAndTypes) {
  const ApiDescriptor& descriptor = *plugin->Descriptor();
  const ApiFunctionEntry* entry = FindEntry(descriptor, "GetItemsById");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(Copy(entry->entrySize), sizeof(ApiFunctionEntry));  // 90 on i386
  EXPECT_STREQ(entry->path, "/items/{id}");
  EXPECT_EQ(Copy(entry->method), static_cast<uint32_t>(HostMethodGet));
  ASSERT_EQ(Copy(entry->tagCount), 2u);
  EXPECT_STREQ(entry->tags[1], "Plugin items");
  ASSERT_EQ(Copy(entry->argumentCount), 2u);
  EXPECT_STREQ(entry->arguments[0].name, "id");
  EXPECT_EQ(Copy(entry->arguments[0].type.code), static_cast<uint8_t>(TypeCode::Int32));
  EXPECT_STREQ(entry->returns.typeName, "ItemsItem");
  // The entry point sits at its fixed offset in the packed record.
  ApiFunctionEntryFn atOffset = nullptr;
  std::memcpy(&atOffset,
              reinterpret_cast<const uint8_t*>(entry) + offsetof(ApiFunctionEntry, entry),
              sizeof(atOffset));
  EXPECT_NE(atOffset, nullptr);

  const auto* types = static_cast<const ApiTypeEntry*>(descriptor.types);
  const ApiTypeEntry* item = nullptr;
  for (uint32_t i = 0; i < descriptor.typeCount; ++i) {
    if (std::string_view(types[i].name) == "ItemsItem") item = &types[i];
  }
  ASSERT_NE(item, nullptr);
  ASSERT_EQ(Copy(item->fieldCount), 3u);
  EXPECT_STREQ(item->fields[2].name, "tags");
  EXPECT_EQ(Copy(item->fields[2].type.code), static_cast<uint8_t>(TypeCode::Vector));
  EXPECT_GT(Copy(descriptor.eventCount), 0u);
}

TEST_F(ApiDescriptorTest, HostCallsThroughTheEntryPointWithoutLeaking) {
  const ApiFunctionEntry* entry = FindEntry(*plugin->Descriptor(), "GetItemsById");
  ASSERT_NE(entry, nullptr);
  struct Case {
    const char* target;
    void* context;
    uint32_t status;
    const char* error;  // null on success
  };
  const std::vector<Case> cases = {
      {"/items/7?label=seven", entry->context, 0, nullptr},
      {"/items/-3", entry->context, 404, "No item -3"},
      {"/items/x", entry->context, 0, "Value x for 'id' of type int32 is in an incorrect format"},
      {"/items/7?label.0=a", entry->context, 0,
       "Couldn't assign value to 'label' because the input is not a string."},
      {"/other", entry->context, 404, "Invalid function"},
      {"/items/7", nullptr, 404, "Invalid function"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    const unsigned long long before = BytesInUse();
    HostHeader header{"label", "from header"};
    HostRequest request{};
    request.method = HostMethodGet;
    request.target = c.target;
    request.functionContext = c.context;
    request.headers = &header;
    request.headerCount = 1;
    request.requestId = 12;
    HostResponse response{};
    entry->entry(&response, &request);
    // Fields of the packed record are copied out before the assertions bind them.
    const uint32_t status = response.status;
    const char* const error = response.error;
    const HostResponseReleaseFn release = response.release;
    EXPECT_EQ(status, c.status);
    if (c.error == nullptr) {
      EXPECT_EQ(error, nullptr) << error;
      ValueResult body = ToValue(response.body, "<result>");
      EXPECT_TRUE(body.Ok());
      EXPECT_EQ(body.value().FindMember("id").GetSigned(), 7);
      if (std::string_view(c.target).find("label=") != std::string_view::npos) {
        EXPECT_EQ(body.value().FindMember("label").GetString(), "seven");
      }
    } else {
      EXPECT_STREQ(error, c.error);
    }
    ASSERT_NE(release, nullptr);
    release(&response);
    EXPECT_EQ(BytesInUse(), before);
  }
}

TEST_F(ApiDescriptorTest, AKeptRecordAnswersAsItsOwnCopy) {
  const ApiFunctionEntry* entry = FindEntry(*plugin->Descriptor(), "GetKept");
  ASSERT_NE(entry, nullptr);
  // The declared result is the record's type, not the reference.
  EXPECT_STREQ(entry->returns.typeName, "ItemsItem");
  const unsigned long long before = BytesInUse();
  HostResponse response = Get(*entry, "/kept");
  EXPECT_EQ(Copy(response.status), 0u);
  // The response does not change with the record it was built from.
  plugin->kept = demo::Item{4, "changed", {}};
  ValueResult body = ToValue(response.body, "<result>");
  ASSERT_TRUE(body.Ok());
  EXPECT_EQ(body.value().FindMember("id").GetSigned(), 3);
  EXPECT_EQ(body.value().FindMember("label").GetString(), "kept");
  EXPECT_EQ(body.value().FindMember("tags").Size(), 1u);
  response.release(&response);
  EXPECT_EQ(BytesInUse(), before);
}

TEST_F(ApiDescriptorTest, ResponsePartsSetByTheHandlerReachTheHost) {
  const ApiFunctionEntry* entry = FindEntry(*plugin->Descriptor(), "GetAnswer");
  ASSERT_NE(entry, nullptr);
  const unsigned long long before = BytesInUse();
  HostResponse response = Get(*entry, "/answer");
  const uint32_t status = response.status;
  const uint32_t kind = response.kind;
  const uint32_t headerCount = response.headerCount;
  const HostHeader* const headers = response.headers;
  const char* const contentType = response.contentType;
  EXPECT_EQ(status, 201u);
  EXPECT_EQ(kind, 0u);
  EXPECT_EQ(Copy(response.flags), 3);
  EXPECT_STREQ(contentType, "application/json");
  ASSERT_EQ(headerCount, 2u);
  EXPECT_STREQ(headers[1].name, "x-two");
  EXPECT_STREQ(headers[1].value, "2");
  ValueResult body = ToValue(response.body, "<result>");
  EXPECT_EQ(body.value().GetSigned(), 42);
  // The host may hand the same record back: the earlier answer is released first.
  HostRequest again{};
  again.method = HostMethodGet;
  again.target = "/answer";
  again.functionContext = entry->context;
  entry->entry(&response, &again);
  const HostResponseReleaseFn release = response.release;
  release(&response);
  EXPECT_EQ(BytesInUse(), before);
}

}  // namespace
}  // namespace qmx

namespace qmx {
namespace {

TEST_F(ApiDescriptorTest, AnArgumentTheRequestLeavesOutIsRequired) {
  const ApiFunctionEntry* entry = FindEntry(*plugin->Descriptor(), "GetItemsById");
  ASSERT_NE(entry, nullptr);
  HostResponse response = Get(*entry, "/items/7");
  const char* const error = response.error;
  EXPECT_STREQ(error, "A value for 'label' is required.");
  const HostResponseReleaseFn release = response.release;
  release(&response);
}

}  // namespace
}  // namespace qmx

namespace qmx {
namespace {

// Calls an entry with a GET of target and the given headers; the body as a
// Value, or the error text as a String.
Value CallEntry(const ApiFunctionEntry& entry, const char* target,
                std::vector<HostHeader> headers = {}, uint32_t requestId = 0) {
  HostResponse response = Get(entry, target, std::move(headers), requestId);
  Value out;
  if (response.error != nullptr) {
    out.SetString(response.error);
  } else {
    ValueResult body = ToValue(response.body, "<result>");
    out.Swap(body.value());
  }
  const HostResponseReleaseFn release = response.release;
  if (release != nullptr) release(&response);
  return out;
}

TEST_F(ApiDescriptorTest, ATrailingSlashIsDroppedWhenTheEndpointIsRegistered) {
  const ApiFunctionEntry* entry = FindEntry(*plugin->Descriptor(), "GetThings");
  ASSERT_NE(entry, nullptr);
  EXPECT_STREQ(entry->path, "/things");
  EXPECT_EQ(CallEntry(*entry, "/things").GetSigned(), 5);
  EXPECT_EQ(CallEntry(*entry, "/things/").ToString(), "Invalid function");
}

TEST_F(ApiDescriptorTest, AFunctionDeclaringTheRequestContextReceivesTheRequestRecord) {
  const ApiFunctionEntry* whoami = FindEntry(*plugin->Descriptor(), "GetWhoami");
  ASSERT_NE(whoami, nullptr);
  // The context is not an argument the host sees.
  ASSERT_EQ(Copy(whoami->argumentCount), 1u);
  EXPECT_STREQ(whoami->arguments[0].name, "label");
  const unsigned long long before = BytesInUse();
  {
    Value out = CallEntry(*whoami, "/whoami?label=me",
                          {{"x-trace", "abc"}, {"accept", "application/json"}}, 77);
    EXPECT_EQ(out.FindMember("label").ToString(), "me");
    EXPECT_EQ(out.FindMember("requestId").GetUnsigned(), 77u);
    EXPECT_TRUE(out.FindMember("ticked").GetBool());
    EXPECT_TRUE(out.FindMember("registry").GetBool());
    EXPECT_EQ(out.FindMember("target").ToString(), "/whoami?label=me");
    EXPECT_EQ(out.FindMember("method").GetSigned(), static_cast<int64_t>(HttpMethod::kGet));
    EXPECT_EQ(out.FindMember("callName").ToString(), "");
    EXPECT_EQ(out.FindMember("headers").FindMember("x-trace").ToString(), "abc");
    EXPECT_EQ(out.FindMember("headers").FindMember("accept").ToString(), "application/json");
  }
  EXPECT_EQ(BytesInUse(), before);

  const ApiFunctionEntry* plain = FindEntry(*plugin->Descriptor(), "GetPlain");
  ASSERT_NE(plain, nullptr);
  EXPECT_TRUE(CallEntry(*plain, "/plain").GetBool());
}

TEST(RequestContextTypeTest, OnlyTheTwoRuntimeTypesAreRequestContexts) {
  EXPECT_TRUE(IsRequestContextType(TypeId(0x466F9860)));
  EXPECT_TRUE(IsRequestContextType(TypeId(0x89462EBF)));
  EXPECT_FALSE(IsRequestContextType(TypeId()));
  EXPECT_FALSE(IsRequestContextType(TypeIdOf<std::string>()));
}

}  // namespace
}  // namespace qmx
