#include "plugin/host_operations.h"

namespace qmx {

// Every forward checks the handle: before Initialize there is no host to call.
#define QMX_HOST_CALL(slot, ...)                                             \
  do {                                                                       \
    if (handle_ != nullptr && handle_->api != nullptr &&                     \
        handle_->api->slot != nullptr) {                                     \
      handle_->api->slot(handle_->api __VA_OPT__(,) __VA_ARGS__);            \
    }                                                                        \
  } while (0)

void HostOperations::CallJsonApi(HostResponse* response, HostRequest* request) {
  QMX_HOST_CALL(CallJsonApi, response, request);
}
void HostOperations::SendExternalRequest(ExternalResponse* response, ExternalRequest* request) {
  QMX_HOST_CALL(SendExternalRequest, response, request);
}
void HostOperations::FireEvent(HostEvent* event) { QMX_HOST_CALL(FireEvent, event); }
void HostOperations::SubscribeEvent(const char* name, uint32_t cookie, HostEventCallback callback,
                                    void* context, int32_t flag) {
  QMX_HOST_CALL(SubscribeEvent, name, cookie, callback, context, flag);
}
void HostOperations::UnsubscribeEvent(const char* name, uint32_t cookie) {
  QMX_HOST_CALL(UnsubscribeEvent, name, cookie);
}
void HostOperations::ScheduleCallback(const char* label, HostTimerCallback callback, void* context,
                                      double seconds, int32_t flag) {
  QMX_HOST_CALL(ScheduleCallback, label, callback, context, seconds, flag);
}
void HostOperations::YieldThread() { QMX_HOST_CALL(YieldThread); }
void HostOperations::BeginWait(const char* label, int32_t flag) { QMX_HOST_CALL(BeginWait, label, flag); }
void HostOperations::EndWait() { QMX_HOST_CALL(EndWait); }

#undef QMX_HOST_CALL

}  // namespace qmx
