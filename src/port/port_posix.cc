// The port layer on POSIX systems (Linux): mmap, pthreads, clock_gettime,
// /proc/self/exe, dlopen. There is no debugger output channel and no event
// tracing service.
#include <dlfcn.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
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

// The system's allocation functions. In the shared object the link maps these
// names onto the real malloc family (ld --wrap) while malloc itself reaches
// the counted allocator; programs that link the runtime directly get them
// from src/export/raw_allocation.cc.
extern "C" {
void* __real_malloc(size_t size);
void __real_free(void* block);
void* __real_realloc(void* block, size_t size);
int __real_posix_memalign(void** block, size_t alignment, size_t size);
}

namespace qmx::port {

void* ReservePages(size_t bytes) {
  void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return pages == MAP_FAILED ? nullptr : pages;
}

void* SystemAllocate(size_t size) { return __real_malloc(size); }
void SystemFree(void* block) { __real_free(block); }
void* SystemReallocate(void* block, size_t size) { return __real_realloc(block, size); }
size_t SystemBlockSize(void* block) { return malloc_usable_size(block); }

void* SystemAllocateAligned(size_t alignment, size_t size) {
  void* block = nullptr;
  if (__real_posix_memalign(&block, alignment, size) != 0) return nullptr;
  return block;
}
void SystemFreeAligned(void* block) { __real_free(block); }
size_t SystemAlignedBlockSize(void* block, size_t) { return malloc_usable_size(block); }

void Mutex::lock() { pthread_mutex_lock(&state_); }
void Mutex::unlock() { pthread_mutex_unlock(&state_); }

CriticalSection::CriticalSection() {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&state_, &attributes);
  pthread_mutexattr_destroy(&attributes);
}
CriticalSection::~CriticalSection() { pthread_mutex_destroy(&state_); }
void CriticalSection::lock() { pthread_mutex_lock(&state_); }
void CriticalSection::unlock() { pthread_mutex_unlock(&state_); }

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

LocalTime LocalTimeNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  time_t seconds = now.tv_sec;
  localtime_r(&seconds, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
          static_cast<int32_t>(now.tv_nsec / 1000000)};
}

uint64_t CounterTicks() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}
uint64_t CounterFrequency() { return 1000000000u; }

const char* FileNamePart(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash == nullptr ? path : slash + 1;
}

bool ExecutablePath(char* path, size_t size) {
  if (path == nullptr || size == 0) return false;
  // readlink cuts a long path silently: a result that fills the whole buffer
  // leaves no room for the NUL and may be cut, so it does not fit.
  ssize_t length = readlink("/proc/self/exe", path, size);
  if (length <= 0 || static_cast<size_t>(length) >= size) return false;
  path[length] = '\0';
  return true;
}

void WriteDebuggerOutput(const char*) {}

Library::Library(const std::string& path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) error_ = dlerror();
}
void* Library::Symbol(const char* name) {
  if (handle_ == nullptr) return nullptr;
  void* address = dlsym(handle_, name);
  if (address == nullptr) {
    const char* reason = dlerror();
    error_ = reason == nullptr ? std::string("no symbol ") + name : reason;
  }
  return address;
}
bool Library::Close() {
  if (handle_ == nullptr) return true;
  bool closed = dlclose(handle_) == 0;
  if (!closed) error_ = dlerror();
  handle_ = nullptr;
  return closed;
}

bool TraceServiceAvailable() { return false; }
std::optional<TraceHandle> TraceRegister(const TraceGuid&, TraceEnableCallback, void*) {
  return std::nullopt;
}
void TraceUnregister(TraceHandle) {}
bool TraceWrite(TraceHandle, const TraceEventDescriptor&, const TraceField*, size_t) { return false; }

}  // namespace qmx::port
