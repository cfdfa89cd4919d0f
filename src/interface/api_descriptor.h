/*
 * The layout of the arrays an ApiDescriptor (host_api.h) points at.
 *
 * This header is plain C and can be read on its own by a host author. The
 * records are packed like every boundary record; the sizes and offsets
 * checked at the end are exact on i386. Every text is NUL-terminated UTF-8
 * and never null (absent texts are ""). All arrays and texts belong to the
 * plugin and stay valid until Shutdown returns.
 *
 * Calling a function: zero a HostResponse, fill a HostRequest with the
 * method, target, headers, arguments and body, set its functionContext to
 * the entry's context, call entry(&response, &request), read the response
 * and, when its release field is not null, call release(&response).
 */
#ifndef QMX_PLUGIN_API_DESCRIPTOR_H_
#define QMX_PLUGIN_API_DESCRIPTOR_H_

#include <stddef.h>
#include <stdint.h>

#include "interface/host_api.h"

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)

typedef void (*ApiFunctionEntryFn)(HostResponse* response, HostRequest* request);

/* A type reference: the type code (1 bool ... 19 map), the element code of a
   vector or map, and the name of the struct or enum involved ("" if none). */
typedef struct ApiTypeRef {
  uint8_t code;
  uint8_t elementCode;
  const char* typeName;
} ApiTypeRef;

/* A declared argument. location: 0 anywhere, 1 query, 2 path, 4 header,
   5 body. */
typedef struct ApiArgumentEntry {
  const char* name;
  const char* description;
  ApiTypeRef type;
  uint8_t optional;
  uint32_t location;
} ApiArgumentEntry;

/* A callable function (90 bytes). */
typedef struct ApiFunctionEntry {
  uint32_t entrySize;  /* 90 */
  uint32_t method;     /* HostMethod code of the route; 0 accepts every method */
  void* context;       /* to be passed as HostRequest.functionContext */
  const char* name;
  const char* path;     /* route template; "" routes by name */
  const char* callName; /* with method 8 */
  const char* nameSpace;
  const char* description;
  const char* help;
  const char* const* tags;
  uint32_t tagCount;
  const ApiArgumentEntry* arguments;
  uint32_t argumentCount;
  ApiTypeRef returns;
  uint8_t threadSafe;
  uint8_t async;
  uint8_t reserved0; /* zero */
  ApiFunctionEntryFn entry;
  uint8_t reserved[25]; /* zero */
} ApiFunctionEntry;

/* A field of a struct type. */
typedef struct ApiFieldEntry {
  const char* name;
  const char* description;
  ApiTypeRef type;
  uint32_t offset;
  uint32_t flags; /* 1 omitted when empty, 2 required */
  uint8_t optional;
} ApiFieldEntry;

/* An enumerator of an enum type. */
typedef struct ApiEnumeratorEntry {
  const char* name;
  const char* description;
  int32_t number;
} ApiEnumeratorEntry;

/* A registered type: a struct (isEnum 0, fields) or an enum (isEnum 1,
   enumerators); the unused array is null with count 0. */
typedef struct ApiTypeEntry {
  const char* name;
  const char* nameSpace;
  const char* description;
  uint32_t typeId;
  uint32_t size;
  uint8_t isEnum;
  const char* const* tags;
  uint32_t tagCount;
  const ApiFieldEntry* fields;
  uint32_t fieldCount;
  const ApiEnumeratorEntry* enumerators;
  uint32_t enumeratorCount;
} ApiTypeEntry;

/* A registered event and the name of its payload type ("" if none). */
typedef struct ApiEventEntry {
  const char* name;
  const char* payloadType;
  const char* nameSpace;
  const char* description;
  const char* const* tags;
  uint32_t tagCount;
} ApiEventEntry;

#pragma pack(pop)

#if defined(__i386__)
#ifdef __cplusplus
#define QMX_STATIC_ASSERT(expr, text) static_assert(expr, text)
#else
#define QMX_STATIC_ASSERT(expr, text) _Static_assert(expr, text)
#endif
QMX_STATIC_ASSERT(sizeof(ApiTypeRef) == 6, "ApiTypeRef");
QMX_STATIC_ASSERT(sizeof(ApiArgumentEntry) == 19, "ApiArgumentEntry");
QMX_STATIC_ASSERT(sizeof(ApiFunctionEntry) == 90, "ApiFunctionEntry");
QMX_STATIC_ASSERT(offsetof(ApiFunctionEntry, context) == 0x08, "ApiFunctionEntry.context");
QMX_STATIC_ASSERT(offsetof(ApiFunctionEntry, name) == 0x0C, "ApiFunctionEntry.name");
QMX_STATIC_ASSERT(offsetof(ApiFunctionEntry, returns) == 0x34, "ApiFunctionEntry.returns");
QMX_STATIC_ASSERT(offsetof(ApiFunctionEntry, entry) == 0x3D, "ApiFunctionEntry.entry");
QMX_STATIC_ASSERT(sizeof(ApiFieldEntry) == 23, "ApiFieldEntry");
QMX_STATIC_ASSERT(sizeof(ApiEnumeratorEntry) == 12, "ApiEnumeratorEntry");
QMX_STATIC_ASSERT(sizeof(ApiTypeEntry) == 45, "ApiTypeEntry");
QMX_STATIC_ASSERT(sizeof(ApiEventEntry) == 24, "ApiEventEntry");
#undef QMX_STATIC_ASSERT
#endif

#ifdef __cplusplus
}
#endif

#endif /* QMX_PLUGIN_API_DESCRIPTOR_H_ */
