// The host-defined binding types and events every plugin of this runtime
// registers: plugin-manager state, resource events, legacy-connection messages
// and service-proxy responses.
#pragma once

#include <cstdint>
#include <string>

#include "binding/native_types.h"
#include "binding/type_registry.h"
#include "binding/value.h"

namespace qmx {

enum class PluginManagerState : int32_t { NotReady = 0, PluginsInitialized = 1 };

struct PluginManagerResource {
  PluginManagerState state = PluginManagerState::NotReady;
};

enum class PluginResourceEventType : int32_t { Create = 0, Update = 1, Delete = 2 };

struct PluginResourceEvent {
  std::string uri;
  PluginResourceEventType eventType = PluginResourceEventType::Create;
  Value data;
};

struct PluginLcdsEvent {
  std::string clientId;
  std::string subtopic;
  std::string typeName;
  Value body;
};

struct PluginLcdsResponse {
  std::string typeName;
  Value body;
};

struct PluginServiceProxyResponse {
  std::string uuid;
  std::string serviceName;
  std::string methodName;
  std::string payload;
  std::string status;
  std::string error;
};

QMX_FIXED_TYPE_ID(PluginManagerState, 0xF4E3B901);
QMX_FIXED_TYPE_ID(PluginManagerResource, 0xFA58397C);
QMX_FIXED_TYPE_ID(PluginResourceEventType, 0xDC24D2AD);
QMX_FIXED_TYPE_ID(PluginResourceEvent, 0xA54F35FD);
QMX_FIXED_TYPE_ID(PluginLcdsEvent, 0x739F2EF4);
QMX_FIXED_TYPE_ID(PluginLcdsResponse, 0xF4476A4F);
QMX_FIXED_TYPE_ID(PluginServiceProxyResponse, 0x2C5E7588);
QMX_REGISTERED_STRUCT(PluginManagerResource);
QMX_REGISTERED_STRUCT(PluginResourceEvent);
QMX_REGISTERED_STRUCT(PluginLcdsEvent);
QMX_REGISTERED_STRUCT(PluginLcdsResponse);
QMX_REGISTERED_STRUCT(PluginServiceProxyResponse);

// Registers the seven types and five events above, each tagged "vclient".
void RegisterHostTypes(TypeRegistry& registry);

}  // namespace qmx
