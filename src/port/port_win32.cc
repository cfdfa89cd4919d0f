// The port layer on Windows: VirtualAlloc, slim reader/writer locks and
// critical sections, the performance counter, GetModuleFileNameA,
// OutputDebugStringA, LoadLibrary, and the event tracing functions of
// Advapi32.dll, looked up on first use.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <malloc.h>

#include <cstring>
#include <mutex>
#include <optional>
#include <utility>

#include "port/clock.h"
#include "port/debugger.h"
#include "port/heap.h"
#include "port/library.h"
#include "port/lock.h"
#include "port/module.h"
#include "port/pages.h"
#include "port/thread.h"
#include "port/trace.h"

// The C runtime's allocation functions. In the DLL the link maps these names
// onto the real malloc family (ld --wrap) while malloc itself reaches the
// counted allocator; programs that link the runtime directly get them from
// src/export/raw_allocation.cc.
extern "C" {
void* __real_malloc(size_t size);
void __real_free(void* block);
void* __real_realloc(void* block, size_t size);
}

namespace qmx::port {

void* ReservePages(size_t bytes) { return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE); }

void* SystemAllocate(size_t size) { return __real_malloc(size); }
void SystemFree(void* block) { __real_free(block); }
void* SystemReallocate(void* block, size_t size) { return __real_realloc(block, size); }
size_t SystemBlockSize(void* block) { return _msize(block); }

// The C runtime keeps aligned blocks apart: only _aligned_free may free them.
// msvcrt.dll, the runtime every Windows version carries and the one the DLL
// links, has no _aligned_msize (later runtimes added it), so the size is
// measured the way that function does: _aligned_malloc stores the address of
// the underlying heap block in the pointer-aligned slot just below the
// aligned block, and the usable size is what that heap block holds past the
// aligned start.
void* SystemAllocateAligned(size_t alignment, size_t size) { return _aligned_malloc(size, alignment); }
void SystemFreeAligned(void* block) { _aligned_free(block); }
size_t SystemAlignedBlockSize(void* block, size_t) {
  auto start = reinterpret_cast<uintptr_t>(block);
  auto* slot = reinterpret_cast<void**>((start - sizeof(void*)) & ~(uintptr_t{sizeof(void*)} - 1));
  auto underlying = reinterpret_cast<uintptr_t>(*slot);
  return _msize(*slot) - (start - underlying);
}

static_assert(sizeof(SRWLOCK) == sizeof(void*));
static_assert(sizeof(CRITICAL_SECTION) == (sizeof(void*) == 8 ? 40 : 24));

void Mutex::lock() { AcquireSRWLockExclusive(reinterpret_cast<SRWLOCK*>(&state_)); }
void Mutex::unlock() { ReleaseSRWLockExclusive(reinterpret_cast<SRWLOCK*>(&state_)); }

CriticalSection::CriticalSection() { InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(state_)); }
CriticalSection::~CriticalSection() { DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(state_)); }
void CriticalSection::lock() { EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(state_)); }
void CriticalSection::unlock() { LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(state_)); }

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

LocalTime LocalTimeNow() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

uint64_t CounterTicks() {
  LARGE_INTEGER ticks{};
  QueryPerformanceCounter(&ticks);
  return static_cast<uint64_t>(ticks.QuadPart);
}

uint64_t CounterFrequency() {
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  return static_cast<uint64_t>(frequency.QuadPart);
}

const char* FileNamePart(const char* path) {
  const char* backslash = std::strrchr(path, '\\');
  return backslash == nullptr ? path : backslash + 1;
}

bool ExecutablePath(char* path, size_t size) {
  if (path == nullptr || size == 0) return false;
  DWORD length = GetModuleFileNameA(nullptr, path, static_cast<DWORD>(size));
  if (length == 0 || length >= static_cast<DWORD>(size)) return false;
  path[length] = '\0';
  return true;
}

void WriteDebuggerOutput(const char* text) {
  if (text != nullptr) OutputDebugStringA(text);
}

namespace {

std::string SystemMessage(DWORD code) {
  char text[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) --length;
  std::string message = "error " + std::to_string(code);
  if (length > 0) message += ": " + std::string(text, length);
  return message;
}

}  // namespace

Library::Library(const std::string& path) {
  handle_ = LoadLibraryA(path.c_str());
  if (handle_ == nullptr) error_ = path + ": " + SystemMessage(GetLastError());
}
void* Library::Symbol(const char* name) {
  if (handle_ == nullptr) return nullptr;
  void* address = reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
  if (address == nullptr) error_ = std::string(name) + ": " + SystemMessage(GetLastError());
  return address;
}
bool Library::Close() {
  if (handle_ == nullptr) return true;
  bool closed = FreeLibrary(static_cast<HMODULE>(handle_)) != 0;
  if (!closed) error_ = SystemMessage(GetLastError());
  handle_ = nullptr;
  return closed;
}

// Event tracing. The records below match EVENT_DESCRIPTOR and
// EVENT_DATA_DESCRIPTOR of the system headers.
namespace {

static_assert(sizeof(TraceEventDescriptor) == 16);

struct EventData {
  ULONGLONG pointer;
  ULONG size;
  ULONG reserved;
};

using EnableCallbackFunction = void(WINAPI*)(const GUID* source, ULONG isEnabled, UCHAR level, ULONGLONG anyKeyword,
                                             ULONGLONG allKeyword, void* filter, void* context);
using EventRegisterFunction = ULONG(WINAPI*)(const GUID* provider, EnableCallbackFunction callback, void* context,
                                             ULONGLONG* handle);
using EventUnregisterFunction = ULONG(WINAPI*)(ULONGLONG handle);
using EventWriteFunction = ULONG(WINAPI*)(ULONGLONG handle, const TraceEventDescriptor* event, ULONG count,
                                          EventData* data);

struct TraceFunctions {
  bool lookedUp = false;
  EventRegisterFunction eventRegister = nullptr;
  EventUnregisterFunction eventUnregister = nullptr;
  EventWriteFunction eventWrite = nullptr;
};

// A registration: what the service's enable notifications are forwarded to.
// A fixed table, so registering allocates nothing.
struct Registration {
  TraceEnableCallback callback = nullptr;
  void* context = nullptr;
  ULONGLONG handle = 0;
  bool used = false;
};

constexpr size_t kMaxRegistrations = 16;

constinit Mutex traceLock;
constinit TraceFunctions functions;
constinit Registration registrations[kMaxRegistrations];

template <typename Function>
Function Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Called with traceLock held. Advapi32 stays loaded for the life of the
// process: unloading it from a DLL's unload path would be unsafe.
const TraceFunctions& Functions() {
  if (!functions.lookedUp) {
    functions.lookedUp = true;
    HMODULE advapi = LoadLibraryA("Advapi32.dll");
    if (advapi != nullptr) {
      auto eventRegister = Lookup<EventRegisterFunction>(advapi, "EventRegister");
      auto eventUnregister = Lookup<EventUnregisterFunction>(advapi, "EventUnregister");
      auto eventWrite = Lookup<EventWriteFunction>(advapi, "EventWrite");
      if (eventRegister != nullptr && eventUnregister != nullptr && eventWrite != nullptr) {
        functions.eventRegister = eventRegister;
        functions.eventUnregister = eventUnregister;
        functions.eventWrite = eventWrite;
      }
    }
  }
  return functions;
}

void WINAPI OnEnable(const GUID*, ULONG isEnabled, UCHAR level, ULONGLONG anyKeyword, ULONGLONG allKeyword, void*,
                     void* context) {
  auto* registration = static_cast<Registration*>(context);
  // 2 asks for a state capture; the enable state does not change.
  if (registration->callback == nullptr || isEnabled > 1) return;
  registration->callback(registration->context, isEnabled == 1, level, anyKeyword, allKeyword);
}

}  // namespace

bool TraceServiceAvailable() {
  std::lock_guard guard(traceLock);
  return Functions().eventRegister != nullptr;
}

std::optional<TraceHandle> TraceRegister(const TraceGuid& guid, TraceEnableCallback callback,
                                         void* context) {
  Registration* slot = nullptr;
  EventRegisterFunction eventRegister = nullptr;
  {
    std::lock_guard guard(traceLock);
    eventRegister = Functions().eventRegister;
    if (eventRegister == nullptr) return std::nullopt;
    for (Registration& candidate : registrations) {
      if (!candidate.used) {
        slot = &candidate;
        break;
      }
    }
    if (slot == nullptr) return std::nullopt;
    *slot = {callback, context, 0, true};
  }
  // The service may call OnEnable before EventRegister returns, so the lock is
  // not held across the call.
  GUID systemGuid;
  static_assert(sizeof systemGuid == sizeof guid);
  std::memcpy(&systemGuid, &guid, sizeof systemGuid);
  ULONGLONG registered = 0;
  if (eventRegister(&systemGuid, &OnEnable, slot, &registered) != ERROR_SUCCESS) {
    std::lock_guard guard(traceLock);
    *slot = {};
    return std::nullopt;
  }
  std::lock_guard guard(traceLock);
  slot->handle = registered;
  return registered;
}

void TraceUnregister(TraceHandle handle) {
  EventUnregisterFunction eventUnregister = nullptr;
  {
    std::lock_guard guard(traceLock);
    eventUnregister = Functions().eventUnregister;
  }
  if (eventUnregister == nullptr) return;
  // After EventUnregister returns no notification reaches the slot any more.
  eventUnregister(handle);
  std::lock_guard guard(traceLock);
  for (Registration& slot : registrations) {
    if (slot.used && slot.handle == handle) slot = {};
  }
}

bool TraceWrite(TraceHandle handle, const TraceEventDescriptor& event, const TraceField* fields, size_t count) {
  EventWriteFunction eventWrite = nullptr;
  {
    std::lock_guard guard(traceLock);
    eventWrite = Functions().eventWrite;
  }
  if (eventWrite == nullptr) return false;
  constexpr size_t kMaxFields = 8;
  if (count > kMaxFields) return false;
  EventData data[kMaxFields] = {};
  for (size_t i = 0; i < count; ++i) {
    data[i].pointer = reinterpret_cast<uintptr_t>(fields[i].data);
    data[i].size = fields[i].size;
  }
  return eventWrite(handle, &event, static_cast<ULONG>(count), data) == ERROR_SUCCESS;
}

}  // namespace qmx::port
