/*
 * The smallest plugin host: what a host author writes against the installed
 * C headers alone. It loads the plugin named by QMX_PLUGIN_FILE, starts it
 * with a HostApi whose JSON API holds nothing, calls GET
 * "/entitlements/v1/token" through the plugin's ApiDescriptor entry and
 * checks the answer before any sign-in: 404 "Entitlements token is not
 * ready yet". Exits 0 when every check held, 1 otherwise.
 */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "interface/api_descriptor.h"
#include "interface/host_api.h"

#ifndef QMX_PLUGIN_FILE
#error "build with -DQMX_PLUGIN_FILE=\"path of the plugin\""
#endif

static const char kTokenPath[] = "/entitlements/v1/token";
static const char kNotReady[] = "Entitlements token is not ready yet";

/* The JSON API holds no resource and no setting: every call is answered 404. */
static void CallJsonApi(const HostApi* api, HostResponse* response, HostRequest* request) {
  (void)api;
  (void)request;
  response->status = 404;
  response->error = "no such resource";
}

static void SendExternalRequest(const HostApi* api, ExternalResponse* response,
                                ExternalRequest* request) {
  static const char text[] = "this host sends no outside requests";
  (void)api;
  (void)request;
  response->result = -1;
  response->body = (const uint8_t*)text;
  response->bodyLength = sizeof text - 1;
}

static void FireEvent(const HostApi* api, HostEvent* event) {
  (void)api;
  (void)event;
}

static void SubscribeEvent(const HostApi* api, const char* eventName, uint32_t hostCookie,
                           HostEventCallback callback, void* callbackContext, int32_t flag) {
  (void)api;
  (void)eventName;
  (void)hostCookie;
  (void)callback;
  (void)callbackContext;
  (void)flag;
}

static void UnsubscribeEvent(const HostApi* api, const char* eventName, uint32_t hostCookie) {
  (void)api;
  (void)eventName;
  (void)hostCookie;
}

static void ScheduleCallback(const HostApi* api, const char* label, HostTimerCallback callback,
                             void* callbackContext, double delaySeconds, int32_t flag) {
  (void)api;
  (void)label;
  (void)callback;
  (void)callbackContext;
  (void)delaySeconds;
  (void)flag;
}

static void NoWork(const HostApi* api) {
  (void)api;
}

static void BeginWait(const HostApi* api, const char* label, int32_t flag) {
  (void)api;
  (void)label;
  (void)flag;
}

static void WriteLog(const HostApi* api, int32_t level, const char* message) {
  (void)api;
  size_t length = strlen(message);
  fprintf(stderr, "plugin log %d: %s%s", (int)level, message,
          length > 0 && message[length - 1] == '\n' ? "" : "\n");
}

static int Fail(const char* what) {
  fprintf(stderr, "consumer host: %s\n", what);
  return 1;
}

int main(void) {
  static const HostApi api = {CallJsonApi,    SendExternalRequest, FireEvent,
                              SubscribeEvent, UnsubscribeEvent,    ScheduleCallback,
                              NoWork,         BeginWait,           NoWork,
                              WriteLog};
  HostHandle handle = {&api, 1};
  PluginLoadRecord record;
  LoadEntitlementsFn load;
  const ApiFunctionEntry* token = NULL;
  HostRequest request;
  HostResponse response;
  uint32_t i;
  int ok;

  void* library = dlopen(QMX_PLUGIN_FILE, RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) return Fail(dlerror());
  /* ISO C has no cast from an object pointer to a function pointer; POSIX
     guarantees that the bytes of dlsym's answer are the function's address. */
  void* symbol = dlsym(library, "load_entitlements");
  if (symbol == NULL) return Fail("no load_entitlements");
  memcpy(&load, &symbol, sizeof load);

  memset(&record, 0, sizeof record);
  record.major = 18;
  load(&record);
  if (record.context == NULL || record.callbacks == NULL || record.descriptor == NULL)
    return Fail("load_entitlements refused host interface 18.0.0");
  printf("plugin '%s' %u.%u.%u\n", record.shortName, (unsigned)record.major, (unsigned)record.minor,
         (unsigned)record.patch);
  if (!record.callbacks->Initialize(record.context, &handle)) return Fail("Initialize failed");

  for (i = 0; i < record.descriptor->functionCount; ++i) {
    const ApiFunctionEntry* entry = (const ApiFunctionEntry*)record.descriptor->functions + i;
    if (entry->entrySize != sizeof(ApiFunctionEntry)) return Fail("an entry of an unexpected size");
    if (entry->method == HostMethodGet && strcmp(entry->path, kTokenPath) == 0) token = entry;
  }
  if (token == NULL) return Fail("no descriptor entry for GET /entitlements/v1/token");

  memset(&request, 0, sizeof request);
  memset(&response, 0, sizeof response);
  request.method = HostMethodGet;
  request.target = kTokenPath;
  request.functionContext = token->context;
  token->entry(&response, &request);
  printf("GET %s: %u %s\n", kTokenPath, (unsigned)response.status,
         response.error ? response.error : "(no error)");
  ok = response.status == 404 && response.error != NULL && strcmp(response.error, kNotReady) == 0;
  if (response.release != NULL) response.release(&response);
  record.callbacks->Shutdown(record.context);
  return ok ? 0 : Fail("expected 404 \"Entitlements token is not ready yet\"");
}
