#include "plugin/host_types.h"

#include "binding/native_conversion.h"

namespace qmx {

void RegisterHostTypes(TypeRegistry& r) {
  TypeBuilder state = r.BeginType(sizeof(PluginManagerState), "PluginManagerState",
                                  TypeIdOf<PluginManagerState>(), TypeKind::Enum);
  state.AddEnumerator("NotReady", 0, "").AddEnumerator("PluginsInitialized", 1, "").AddTag("vclient");

  TypeBuilder manager = r.BeginType(sizeof(PluginManagerResource), "PluginManagerResource",
                                    TypeIdOf<PluginManagerResource>(), TypeKind::Struct);
  AddMember(manager, r, "state", &PluginManagerResource::state);
  manager.AddTag("vclient");

  TypeBuilder eventType = r.BeginType(sizeof(PluginResourceEventType), "PluginResourceEventType",
                                      TypeIdOf<PluginResourceEventType>(), TypeKind::Enum);
  eventType.AddEnumerator("Create", 0, "").AddEnumerator("Update", 1, "").AddEnumerator("Delete", 2, "");
  eventType.AddTag("vclient");

  using Event = PluginResourceEvent;
  TypeBuilder event =
      r.BeginType(sizeof(Event), "PluginResourceEvent", TypeIdOf<Event>(), TypeKind::Struct);
  AddMember(event, r, "uri", &Event::uri);
  AddMember(event, r, "eventType", &Event::eventType);
  AddMember(event, r, "data", &Event::data);
  event.AddTag("vclient");

  using Lcds = PluginLcdsEvent;
  TypeBuilder lcds =
      r.BeginType(sizeof(Lcds), "PluginLcdsEvent", TypeIdOf<Lcds>(), TypeKind::Struct);
  AddMember(lcds, r, "clientId", &Lcds::clientId);
  AddMember(lcds, r, "subtopic", &Lcds::subtopic);
  AddMember(lcds, r, "typeName", &Lcds::typeName);
  AddMember(lcds, r, "body", &Lcds::body);
  lcds.AddTag("vclient");

  using LcdsResponse = PluginLcdsResponse;
  TypeBuilder lcdsResponse = r.BeginType(sizeof(LcdsResponse), "PluginLcdsResponse",
                                         TypeIdOf<LcdsResponse>(), TypeKind::Struct);
  AddMember(lcdsResponse, r, "typeName", &LcdsResponse::typeName);
  AddMember(lcdsResponse, r, "body", &LcdsResponse::body);
  lcdsResponse.AddTag("vclient");

  using Proxy = PluginServiceProxyResponse;
  TypeBuilder proxy =
      r.BeginType(sizeof(Proxy), "PluginServiceProxyResponse", TypeIdOf<Proxy>(), TypeKind::Struct);
  AddMember(proxy, r, "uuid", &Proxy::uuid);
  AddMember(proxy, r, "serviceName", &Proxy::serviceName);
  AddMember(proxy, r, "methodName", &Proxy::methodName);
  AddMember(proxy, r, "payload", &Proxy::payload);
  AddMember(proxy, r, "status", &Proxy::status);
  AddMember(proxy, r, "error", &Proxy::error);
  proxy.AddTag("vclient");

  struct EventEntry {
    const char* name;
    TypeId payload;
    const char* description;
  };
  const EventEntry events[] = {
      {"OnJsonApiEvent", TypeIdOf<Event>(), "Fired when a resource is changed."},
      {"OnLcdsEvent", TypeIdOf<Lcds>(), "Fired when a message is received over the LCDS connection."},
      {"OnServiceProxyUuidEvent", TypeIdOf<Proxy>(), "Fired when a uuid-based service proxy message is received."},
      {"OnServiceProxyMethodEvent", TypeIdOf<Proxy>(), "Fired when a method-based service proxy message is received."},
      {"OnServiceProxyAsyncEvent", TypeIdOf<Proxy>(), "Fired when an async service proxy message is received."},
  };
  for (const EventEntry& entry : events) {
    r.RegisterEvent(entry.name, r.FindType(entry.payload)).SetDescription(entry.description).AddTag("vclient");
  }
}

}  // namespace qmx
