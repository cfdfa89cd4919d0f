// Locks that need no allocation and no start-up code.
//
// Mutex is constant-initialised (constinit works), so a lock at namespace
// scope is usable before, during and after static initialisation without
// running any code there: in a Windows DLL that code would run under the
// loader lock. CriticalSection may be entered again by the thread that holds
// it. Both satisfy the standard Lockable requirements (std::lock_guard).
#pragma once

#if !defined(_WIN32)
#include <pthread.h>
#endif

namespace qmx::port {

class Mutex {
 public:
  constexpr Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock();
  void unlock();

 private:
#if defined(_WIN32)
  void* state_ = nullptr;  // an SRWLOCK, whose initial value is all zero
#else
  pthread_mutex_t state_ = PTHREAD_MUTEX_INITIALIZER;
#endif
};

class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void lock();
  void unlock();

 private:
#if defined(_WIN32)
  // A CRITICAL_SECTION (24 bytes for 32-bit code, 40 for 64-bit).
  alignas(void*) unsigned char state_[sizeof(void*) == 8 ? 40 : 24];
#else
  pthread_mutex_t state_;  // recursive
#endif
};

}  // namespace qmx::port
