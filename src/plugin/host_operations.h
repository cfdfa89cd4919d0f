// HostOperations: the host's nine operations as virtual members of the plugin
// object, each forwarding to the slot of the same name in the host's table.
//
// The runtime's parts (subscriptions, the JSON-API and outside-request
// clients, timers) reach the host only through these members, so a derived
// plugin or a test can stand in for the host by overriding them.
//
// Slot order of the plugin object's virtual operations, fixed from here down:
// Subscribe, Unsubscribe, the destructor, Shutdown, the nine host operations
// in the order of the host's table; Plugin adds RegisterApi and OnStart.
#pragma once

#include <cstdint>
#include <string>

#include "interface/host_api.h"

namespace qmx {

// Subscription to the events of a resource path; nothing at this level.
class EventSubscriber {
 public:
  virtual void Subscribe(const std::string& path) { (void)path; }
  virtual void Unsubscribe(const std::string& path) { (void)path; }
  virtual ~EventSubscriber() = default;
};

class HostOperations : public EventSubscriber {
 public:
  // Unsubscribes everything and clears the runtime's tables; the host calls
  // it once, last, before it destroys the object.
  virtual void Shutdown() = 0;

  // The host's operations, in the order of its table. Before a handle is
  // attached (and for a slot the host left null) they do nothing.
  virtual void CallJsonApi(HostResponse* response, HostRequest* request);
  virtual void SendExternalRequest(ExternalResponse* response, ExternalRequest* request);
  virtual void FireEvent(HostEvent* event);
  virtual void SubscribeEvent(const char* name, uint32_t cookie, HostEventCallback callback,
                              void* context, int32_t flag);
  virtual void UnsubscribeEvent(const char* name, uint32_t cookie);
  virtual void ScheduleCallback(const char* label, HostTimerCallback callback, void* context,
                                double seconds, int32_t flag);
  virtual void YieldThread();
  virtual void BeginWait(const char* label, int32_t flag);
  virtual void EndWait();

  const HostHandle* Handle() const { return handle_; }
  // The cookie of the attached handle, 0 before; every request and
  // subscription carries it.
  uint32_t HostCookie() const { return hostCookie_; }

 protected:
  // Routes the operations to handle's table (null: to nowhere) and takes its
  // cookie. The handle is the host's and outlives the plugin object.
  void AttachHandle(const HostHandle* handle) {
    handle_ = handle;
    hostCookie_ = handle != nullptr ? handle->hostCookie : 0;
  }

 private:
  const HostHandle* handle_ = nullptr;
  uint32_t hostCookie_ = 0;
};

}  // namespace qmx
