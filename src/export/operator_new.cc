// The C++ allocation operators of the shared object. They are defined here so
// that every new and delete inside the object binds to these (the version
// script keeps them local) rather than to whatever the loading process
// provides, such as a sanitizer runtime; they reach the counted allocator
// through the wrapped malloc family.
#include <cstdlib>
#include <new>

#include "interface/counted_allocator.h"

namespace {

void* Allocate(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) {
  void* block = qmx::CountedAllocateAligned(static_cast<std::size_t>(alignment), size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

// Aligned blocks have a release path of their own (a heap of their own on
// Windows).
void FreeAligned(void* block, std::align_val_t alignment) {
  qmx::CountedFreeAligned(block, static_cast<std::size_t>(alignment));
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size == 0 ? 1 : size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size == 0 ? 1 : size); }
void* operator new(std::size_t size, std::align_val_t alignment) { return AllocateAligned(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return AllocateAligned(size, alignment); }
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  try {
    return AllocateAligned(size, alignment);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  try {
    return AllocateAligned(size, alignment);
  } catch (...) {
    return nullptr;
  }
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t alignment) noexcept { FreeAligned(block, alignment); }
void operator delete[](void* block, std::align_val_t alignment) noexcept { FreeAligned(block, alignment); }
void operator delete(void* block, std::size_t, std::align_val_t alignment) noexcept { FreeAligned(block, alignment); }
void operator delete[](void* block, std::size_t, std::align_val_t alignment) noexcept { FreeAligned(block, alignment); }
void operator delete(void* block, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  FreeAligned(block, alignment);
}
void operator delete[](void* block, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  FreeAligned(block, alignment);
}
