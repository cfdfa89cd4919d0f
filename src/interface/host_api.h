/*
 * The binary interface between a plugin host and this plugin.
 *
 * This header is plain C and can be read on its own by a host author.
 *
 * Conventions:
 *  1. Every record is little-endian and packed: no padding anywhere. On i386,
 *     the shipped target, pointers and length fields are 32 bits wide and the
 *     sizes and offsets checked at the end of this file are exact. On x86-64
 *     the same records keep their field order with 64-bit pointers.
 *  2. Every function of both tables uses the platform's default calling
 *     convention (cdecl) and unmangled linkage. None of them throws.
 *  3. The host calls the one export, load_entitlements, with a
 *     PluginLoadRecord. On success the plugin fills the record's out fields;
 *     an incompatible host (see below) gets an assertion report and an
 *     unfilled record.
 *  4. Compatibility: the host's version is accepted when its major equals the
 *     plugin's (18) and its (minor, patch) is at least the plugin's (0, 0).
 *  5. Ownership. The host owns the load record, its HostHandle and its HostApi
 *     table; the HostHandle must stay valid until Shutdown returns. The plugin
 *     owns every text and record it passes to the host: texts and records
 *     passed as arguments are valid for the duration of the call only, the
 *     callbacks table, short name and ApiDescriptor until Shutdown.
 *  6. HostValue records built by the plugin are released by the plugin; a
 *     record the host fills in a response is released by calling the response's
 *     release function when it is not null.
 *  7. Each HostApi function receives the table's own address as its first
 *     argument. The plugin never reads a HostApi function's return value.
 *  8. Strings are NUL-terminated UTF-8 unless a length is given.
 */
#ifndef QMX_PLUGIN_HOST_API_H_
#define QMX_PLUGIN_HOST_API_H_

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)

/* Kinds of a HostValue. 5 and 7 borrow their data; 6, 8, 9 and 10 own it. */
enum HostValueKind {
  HostValueEmpty = 0,
  HostValueBool = 1,       /* u8 at 0x04, non-zero is true */
  HostValueSigned = 2,     /* i64 at 0x04 */
  HostValueUnsigned = 3,   /* u64 at 0x04 */
  HostValueFloat = 4,      /* f64 at 0x04 */
  HostValueStringRef = 5,  /* text pointer at 0x04, borrowed */
  HostValueString = 6,     /* text pointer at 0x04, byte length at 0x08, owned */
  HostValueBlobRef = 7,    /* pointer at 0x04, length at 0x08, borrowed */
  HostValueBlob = 8,       /* pointer at 0x04, length at 0x08, owned */
  HostValueCollection = 9, /* HostValue array at 0x04, count at 0x08, owned */
  HostValueStructure = 10  /* HostMember array at 0x04, count at 0x08, owned */
};

struct HostMember;

/* The value record of the boundary (12 bytes on i386). */
typedef struct HostValue {
  uint32_t kind;
  union {
    uint8_t boolean;
    int64_t signedValue;
    uint64_t unsignedValue;
    double floatValue;
    struct {
      void* data; /* text, bytes, HostValue[] or HostMember[] by kind */
      uint32_t length;
    } buffer;
  } payload;
} HostValue;

/* A member of a Structure (17 bytes on i386). */
typedef struct HostMember {
  const char* name;
  HostValue value;
  uint8_t nameOwned; /* 1 when the record owns the name text */
} HostMember;

/* A named (name non-null) or positional argument of a request (16 bytes). */
typedef struct HostArgument {
  const char* name;
  HostValue value;
} HostArgument;

/* A header: two texts (8 bytes). */
typedef struct HostHeader {
  const char* name;
  const char* value;
} HostHeader;

/* An event published by or delivered to the plugin (24 bytes). */
typedef struct HostEvent {
  const char* name;
  HostValue payload;
  int32_t reserved; /* the plugin sends 0 and never reads it */
  void* context;    /* on delivery: the callbackContext given to SubscribeEvent */
} HostEvent;

/* HTTP-style method codes of HostRequest and ExternalRequest. */
enum HostMethod {
  HostMethodNone = 0,
  HostMethodDelete = 1,
  HostMethodGet = 2,
  HostMethodHead = 3,
  HostMethodOptions = 4,
  HostMethodPatch = 5,
  HostMethodPost = 6,
  HostMethodPut = 7,
  HostMethodCall = 8 /* a call by name: see callName */
};

/* One call of a JSON API, in either direction (48 bytes). In its own requests
   the plugin fills method, target, arguments and requestId (its hostCookie) and
   leaves everything else zero. */
typedef struct HostRequest {
  uint32_t method;
  const char* target; /* path, optionally with "?" and a query */
  HostArgument* arguments;
  uint32_t argumentCount;
  void* functionContext; /* in calls of the plugin's functions: the entry's context */
  HostHeader* headers;
  uint32_t headerCount;
  const char* contentType;
  const uint8_t* body;
  uint32_t bodyLength;
  uint32_t requestId;
  const char* callName; /* with method 8; null otherwise */
} HostRequest;

struct HostResponse;

typedef bool (*HostStreamReadFn)(void* streamContext, uint8_t* buffer, uint32_t* inOutSize,
                                 bool* more);
typedef void (*HostStreamReleaseFn)(void* streamContext);
typedef void (*HostResponseReleaseFn)(struct HostResponse* response);

/* The answer to a HostRequest (62 bytes), zero-initialised by whoever asks and
   filled by whoever answers. */
typedef struct HostResponse {
  HostValue body;
  const char* error; /* non-null means the call failed */
  uint8_t errorOwned; /* 1 when error must be freed by the release function */
  uint8_t flags;
  uint32_t kind;      /* 1, 2 or 3, otherwise 0 */
  uint32_t status;
  const char* contentType; /* "" when none */
  HostHeader* headers;
  uint32_t headerCount;
  HostStreamReadFn streamRead; /* null when the body is not streamed */
  HostStreamReleaseFn streamRelease; /* may be null */
  uint64_t totalLength; /* a capacity hint; only the low word is used */
  void* streamContext;
  HostResponseReleaseFn release; /* set by the side that filled the record */
} HostResponse;

struct ExternalResponse;
typedef void (*ExternalResponseReleaseFn)(struct ExternalResponse* response);

/* A request to an outside HTTP service (32 bytes). */
typedef struct ExternalRequest {
  uint32_t method;
  const char* url;
  HostHeader* headers;
  uint32_t headerCount;
  const uint8_t* body;
  uint32_t bodyLength;
  uint32_t setting1; /* default 0, passed through */
  uint32_t setting2; /* default 1, passed through */
} ExternalRequest;

/* The answer of an outside service (28 bytes), zero-initialised by the plugin
   and filled by the host. */
typedef struct ExternalResponse {
  int32_t result; /* 0: the service answered; -1, 1, 2: other outcomes */
  uint32_t status;
  HostHeader* headers;
  uint32_t headerCount;
  const uint8_t* body; /* when result is not 0: the text that describes the failure */
  uint32_t bodyLength;
  ExternalResponseReleaseFn release;
} ExternalResponse;

/* The counters of the plugin's counted allocator (56 bytes). */
typedef struct MemoryStats {
  uint64_t peakBytes;
  uint64_t blocksAtPeak;
  uint64_t bytesAllocated;
  uint64_t allocations;
  uint64_t bytesReleased;
  uint64_t releases;
  uint64_t zero; /* always 0 */
} MemoryStats;

struct HostApi;

typedef void (*HostEventCallback)(HostEvent* event);
typedef void (*HostTimerCallback)(void* context);

/* The host's table. Slot order is fixed. */
typedef struct HostApi {
  void (*CallJsonApi)(const struct HostApi* api, HostResponse* response, HostRequest* request);
  void (*SendExternalRequest)(const struct HostApi* api, ExternalResponse* response,
                              ExternalRequest* request);
  void (*FireEvent)(const struct HostApi* api, HostEvent* event);
  void (*SubscribeEvent)(const struct HostApi* api, const char* eventName, uint32_t hostCookie,
                         HostEventCallback callback, void* callbackContext, int32_t flag);
  void (*UnsubscribeEvent)(const struct HostApi* api, const char* eventName, uint32_t hostCookie);
  void (*ScheduleCallback)(const struct HostApi* api, const char* label, HostTimerCallback callback,
                           void* callbackContext, double delaySeconds, int32_t flag);
  void (*YieldThread)(const struct HostApi* api);
  void (*BeginWait)(const struct HostApi* api, const char* label, int32_t flag);
  void (*EndWait)(const struct HostApi* api);
  void (*WriteLog)(const struct HostApi* api, int32_t level, const char* message);
} HostApi;

/* Handed to Initialize; the plugin keeps the pointer (8 bytes). */
typedef struct HostHandle {
  const HostApi* api;
  uint32_t hostCookie; /* passed back in CallJsonApi, SubscribeEvent, UnsubscribeEvent */
} HostHandle;

/* The plugin's table; the host passes the load record's context as the first
   argument of every entry. */
typedef struct PluginCallbacks {
  bool (*Initialize)(void* context, HostHandle* handle);
  void (*Shutdown)(void* context);
  void (*GetMemoryStats)(void* context, MemoryStats* out);
} PluginCallbacks;

/* The callable functions and the registry descriptions (24 bytes). The function
   entries and the two description arrays are laid out in api_descriptor.h. */
typedef struct ApiDescriptor {
  const void* functions;
  uint32_t functionCount;
  const void* types;
  uint32_t typeCount;
  const void* events;
  uint32_t eventCount;
} ApiDescriptor;

/* Passed to load_entitlements (28 bytes). */
typedef struct PluginLoadRecord {
  uint32_t major; /* in: host's; out: plugin's (18) */
  uint32_t minor; /* in: host's; out: plugin's (0) */
  uint32_t patch; /* in: host's; out: plugin's (0) */
  const PluginCallbacks* callbacks;
  void* context;
  const char* shortName;
  const ApiDescriptor* descriptor;
} PluginLoadRecord;

#pragma pack(pop)

typedef void (*LoadEntitlementsFn)(PluginLoadRecord* record);

/* The one export. */
void load_entitlements(PluginLoadRecord* record);

#if defined(__i386__)
#ifdef __cplusplus
#define QMX_STATIC_ASSERT(expr, text) static_assert(expr, text)
#else
#define QMX_STATIC_ASSERT(expr, text) _Static_assert(expr, text)
#endif
QMX_STATIC_ASSERT(sizeof(HostValue) == 12, "HostValue");
QMX_STATIC_ASSERT(offsetof(HostValue, payload) == 0x04, "HostValue.payload");
QMX_STATIC_ASSERT(offsetof(HostValue, payload.buffer.length) == 0x08, "HostValue length");
QMX_STATIC_ASSERT(sizeof(HostMember) == 17, "HostMember");
QMX_STATIC_ASSERT(offsetof(HostMember, value) == 0x04, "HostMember.value");
QMX_STATIC_ASSERT(offsetof(HostMember, nameOwned) == 0x10, "HostMember.nameOwned");
QMX_STATIC_ASSERT(sizeof(HostArgument) == 16, "HostArgument");
QMX_STATIC_ASSERT(offsetof(HostArgument, value) == 0x04, "HostArgument.value");
QMX_STATIC_ASSERT(sizeof(HostHeader) == 8, "HostHeader");
QMX_STATIC_ASSERT(sizeof(HostEvent) == 24, "HostEvent");
QMX_STATIC_ASSERT(offsetof(HostEvent, payload) == 0x04, "HostEvent.payload");
QMX_STATIC_ASSERT(offsetof(HostEvent, reserved) == 0x10, "HostEvent.reserved");
QMX_STATIC_ASSERT(offsetof(HostEvent, context) == 0x14, "HostEvent.context");
QMX_STATIC_ASSERT(sizeof(HostRequest) == 48, "HostRequest");
QMX_STATIC_ASSERT(offsetof(HostRequest, target) == 0x04, "HostRequest.target");
QMX_STATIC_ASSERT(offsetof(HostRequest, arguments) == 0x08, "HostRequest.arguments");
QMX_STATIC_ASSERT(offsetof(HostRequest, argumentCount) == 0x0C, "HostRequest.argumentCount");
QMX_STATIC_ASSERT(offsetof(HostRequest, functionContext) == 0x10, "HostRequest.functionContext");
QMX_STATIC_ASSERT(offsetof(HostRequest, headers) == 0x14, "HostRequest.headers");
QMX_STATIC_ASSERT(offsetof(HostRequest, headerCount) == 0x18, "HostRequest.headerCount");
QMX_STATIC_ASSERT(offsetof(HostRequest, contentType) == 0x1C, "HostRequest.contentType");
QMX_STATIC_ASSERT(offsetof(HostRequest, body) == 0x20, "HostRequest.body");
QMX_STATIC_ASSERT(offsetof(HostRequest, bodyLength) == 0x24, "HostRequest.bodyLength");
QMX_STATIC_ASSERT(offsetof(HostRequest, requestId) == 0x28, "HostRequest.requestId");
QMX_STATIC_ASSERT(offsetof(HostRequest, callName) == 0x2C, "HostRequest.callName");
QMX_STATIC_ASSERT(sizeof(HostResponse) == 62, "HostResponse");
QMX_STATIC_ASSERT(offsetof(HostResponse, error) == 0x0C, "HostResponse.error");
QMX_STATIC_ASSERT(offsetof(HostResponse, errorOwned) == 0x10, "HostResponse.errorOwned");
QMX_STATIC_ASSERT(offsetof(HostResponse, flags) == 0x11, "HostResponse.flags");
QMX_STATIC_ASSERT(offsetof(HostResponse, kind) == 0x12, "HostResponse.kind");
QMX_STATIC_ASSERT(offsetof(HostResponse, status) == 0x16, "HostResponse.status");
QMX_STATIC_ASSERT(offsetof(HostResponse, contentType) == 0x1A, "HostResponse.contentType");
QMX_STATIC_ASSERT(offsetof(HostResponse, headers) == 0x1E, "HostResponse.headers");
QMX_STATIC_ASSERT(offsetof(HostResponse, headerCount) == 0x22, "HostResponse.headerCount");
QMX_STATIC_ASSERT(offsetof(HostResponse, streamRead) == 0x26, "HostResponse.streamRead");
QMX_STATIC_ASSERT(offsetof(HostResponse, streamRelease) == 0x2A, "HostResponse.streamRelease");
QMX_STATIC_ASSERT(offsetof(HostResponse, totalLength) == 0x2E, "HostResponse.totalLength");
QMX_STATIC_ASSERT(offsetof(HostResponse, streamContext) == 0x36, "HostResponse.streamContext");
QMX_STATIC_ASSERT(offsetof(HostResponse, release) == 0x3A, "HostResponse.release");
QMX_STATIC_ASSERT(sizeof(ExternalRequest) == 32, "ExternalRequest");
QMX_STATIC_ASSERT(offsetof(ExternalRequest, url) == 0x04, "ExternalRequest.url");
QMX_STATIC_ASSERT(offsetof(ExternalRequest, headers) == 0x08, "ExternalRequest.headers");
QMX_STATIC_ASSERT(offsetof(ExternalRequest, headerCount) == 0x0C, "ExternalRequest.headerCount");
QMX_STATIC_ASSERT(offsetof(ExternalRequest, body) == 0x10, "ExternalRequest.body");
QMX_STATIC_ASSERT(offsetof(ExternalRequest, bodyLength) == 0x14, "ExternalRequest.bodyLength");
QMX_STATIC_ASSERT(offsetof(ExternalRequest, setting1) == 0x18, "ExternalRequest.setting1");
QMX_STATIC_ASSERT(offsetof(ExternalRequest, setting2) == 0x1C, "ExternalRequest.setting2");
QMX_STATIC_ASSERT(sizeof(ExternalResponse) == 28, "ExternalResponse");
QMX_STATIC_ASSERT(offsetof(ExternalResponse, status) == 0x04, "ExternalResponse.status");
QMX_STATIC_ASSERT(offsetof(ExternalResponse, headers) == 0x08, "ExternalResponse.headers");
QMX_STATIC_ASSERT(offsetof(ExternalResponse, headerCount) == 0x0C, "ExternalResponse.headerCount");
QMX_STATIC_ASSERT(offsetof(ExternalResponse, body) == 0x10, "ExternalResponse.body");
QMX_STATIC_ASSERT(offsetof(ExternalResponse, bodyLength) == 0x14, "ExternalResponse.bodyLength");
QMX_STATIC_ASSERT(offsetof(ExternalResponse, release) == 0x18, "ExternalResponse.release");
QMX_STATIC_ASSERT(sizeof(MemoryStats) == 56, "MemoryStats");
QMX_STATIC_ASSERT(sizeof(HostApi) == 40, "HostApi");
QMX_STATIC_ASSERT(sizeof(HostHandle) == 8, "HostHandle");
QMX_STATIC_ASSERT(offsetof(HostHandle, hostCookie) == 0x04, "HostHandle.hostCookie");
QMX_STATIC_ASSERT(sizeof(PluginCallbacks) == 12, "PluginCallbacks");
QMX_STATIC_ASSERT(sizeof(ApiDescriptor) == 24, "ApiDescriptor");
QMX_STATIC_ASSERT(offsetof(ApiDescriptor, types) == 0x08, "ApiDescriptor.types");
QMX_STATIC_ASSERT(offsetof(ApiDescriptor, events) == 0x10, "ApiDescriptor.events");
QMX_STATIC_ASSERT(sizeof(PluginLoadRecord) == 28, "PluginLoadRecord");
QMX_STATIC_ASSERT(offsetof(PluginLoadRecord, callbacks) == 0x0C, "PluginLoadRecord.callbacks");
QMX_STATIC_ASSERT(offsetof(PluginLoadRecord, context) == 0x10, "PluginLoadRecord.context");
QMX_STATIC_ASSERT(offsetof(PluginLoadRecord, shortName) == 0x14, "PluginLoadRecord.shortName");
QMX_STATIC_ASSERT(offsetof(PluginLoadRecord, descriptor) == 0x18, "PluginLoadRecord.descriptor");
#undef QMX_STATIC_ASSERT
#endif

#ifdef __cplusplus
}
#endif

#endif /* QMX_PLUGIN_HOST_API_H_ */
