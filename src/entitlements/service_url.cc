#include "entitlements/service_url.h"

#include "logging/categories.h"
#include "logging/log_record.h"
#include "logging/logger.h"

namespace qmx {
namespace {

// The member called name of a structure; nullptr when absent or when value
// is not a structure.
const Value* Child(const Value& value, const char* name) {
  if (value.Kind() != ValueKind::Structure || !value.HasMember(name)) return nullptr;
  return &value.FindMember(name);
}

}  // namespace

std::string GetGlobalRegion(JsonApiClient& client) {
  RequestResult<Value> globals = client.GetInstallSetting("globals");
  if (!globals) {
    Log(kLogError, kCategoryDbg, "Failed to get global install settings.");
    return {};
  }
  const Value* region = Child(globals.value(), "region");
  if (region == nullptr) {
    Log(kLogError, kCategoryDbg, "Failed to get '%s' from global install settings.", "region");
    return {};
  }
  if (region->Kind() != ValueKind::String) return {};
  return std::string(region->GetString());
}

std::string ResolveServiceUrl(JsonApiClient& client, const std::string& region) {
  if (region.empty()) {
    Log(kLogError, kCategoryDbg, "No region provided.");
    return {};
  }
  RequestResult<Value> regionData = client.GetSystemSetting("region_data");
  if (!regionData) {
    Log(kLogError, kCategoryDbg, "Failed to get '%s' from system settings.", "region_data");
    return {};
  }
  const Value* settings = Child(regionData.value(), region.c_str());
  if (settings == nullptr) {
    Log(kLogError, kCategoryDbg, "Unsupported region '%s'.", region.c_str());
    return {};
  }
  const Value* servers = Child(*settings, "servers");
  if (servers == nullptr) {
    Log(kLogError, kCategoryDbg, "Failed to get '%s' from region settings.", "servers");
    return {};
  }
  const Value* service = Child(*servers, "entitlements");
  if (service == nullptr) {
    Log(kLogError, kCategoryDbg, "Failed to get '%s' from servers settings.", "entitlements");
    return {};
  }
  const Value* url = Child(*service, "entitlements_url");
  if (url == nullptr) {
    Log(kLogError, kCategoryDbg, "Failed to get '%s' from entitlements settings.",
        "entitlements_url");
    return {};
  }
  std::string text = url->ToString();
  if (text.empty()) Log(kLogError, kCategoryDbg, "Entitlements Url was empty.");
  return text;
}

}  // namespace qmx
