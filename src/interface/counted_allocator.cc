#include "interface/counted_allocator.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>

#include "port/heap.h"

namespace qmx {
namespace {

struct Counters {
  std::atomic<uint64_t> peakBytes{0};
  std::atomic<uint64_t> blocksAtPeak{0};
  std::atomic<uint64_t> bytesAllocated{0};
  std::atomic<uint64_t> allocations{0};
  std::atomic<uint64_t> bytesReleased{0};
  std::atomic<uint64_t> releases{0};
};

constinit Counters counters;

void UpdatePeak() {
  uint64_t inUse = counters.bytesAllocated.load() - counters.bytesReleased.load();
  uint64_t peak = counters.peakBytes.load();
  while (inUse > peak) {
    if (counters.peakBytes.compare_exchange_weak(peak, inUse)) {
      counters.blocksAtPeak.store(counters.allocations.load() - counters.releases.load());
      break;
    }
  }
}

void CountAllocation(void* block) {
  if (block == nullptr) return;
  counters.bytesAllocated.fetch_add(port::SystemBlockSize(block));
  counters.allocations.fetch_add(1);
  UpdatePeak();
}

void CountRelease(void* block) {
  counters.bytesReleased.fetch_add(port::SystemBlockSize(block));
  counters.releases.fetch_add(1);
}

void* HookAllocate(size_t size) {
  void* block = port::SystemAllocate(size);
  CountAllocation(block);
  return block;
}

void HookFree(void* block) {
  if (block == nullptr) return;
  CountRelease(block);
  port::SystemFree(block);
}

void* HookReallocate(void* block, size_t size) {
  if (block == nullptr) return HookAllocate(size);
  // The C library frees a block reallocated to size 0 and returns null; a
  // null return must not be read as "still allocated" then.
  if (size == 0) {
    HookFree(block);
    return nullptr;
  }
  size_t oldSize = port::SystemBlockSize(block);
  void* grown = port::SystemReallocate(block, size);
  if (grown == nullptr) return nullptr;  // the old block is still allocated
  counters.bytesReleased.fetch_add(oldSize);
  counters.releases.fetch_add(1);
  CountAllocation(grown);
  return grown;
}

char* HookDuplicate(const char* text) {
  size_t size = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(HookAllocate(size));
  if (copy != nullptr) std::memcpy(copy, text, size);
  return copy;
}

size_t HookBlockSize(void* block) { return block == nullptr ? 0 : port::SystemBlockSize(block); }

constinit const AllocationHooks kHooks = {HookAllocate,  HookFree,      HookReallocate,
                                          HookDuplicate, HookBlockSize, &counters};

}  // namespace

const AllocationHooks& Hooks() { return kHooks; }

char* CountedCopy(const char* text, size_t size) {
  auto* copy = static_cast<char*>(CountedAllocate(size + 1));
  if (copy == nullptr) throw std::bad_alloc();
  if (size != 0) std::memcpy(copy, text, size);
  copy[size] = '\0';
  return copy;
}

namespace {

size_t AlignmentOf(size_t alignment) { return alignment < sizeof(void*) ? sizeof(void*) : alignment; }

}  // namespace

void* CountedAllocateAligned(size_t alignment, size_t size) {
  alignment = AlignmentOf(alignment);
  void* block = port::SystemAllocateAligned(alignment, size);
  if (block == nullptr) return nullptr;
  counters.bytesAllocated.fetch_add(port::SystemAlignedBlockSize(block, alignment));
  counters.allocations.fetch_add(1);
  UpdatePeak();
  return block;
}

void CountedFreeAligned(void* block, size_t alignment) {
  if (block == nullptr) return;
  alignment = AlignmentOf(alignment);
  counters.bytesReleased.fetch_add(port::SystemAlignedBlockSize(block, alignment));
  counters.releases.fetch_add(1);
  port::SystemFreeAligned(block);
}

void GetMemoryStats(MemoryStats* out) {
  if (out == nullptr) return;
  out->peakBytes = counters.peakBytes.load();
  out->blocksAtPeak = counters.blocksAtPeak.load();
  out->bytesAllocated = counters.bytesAllocated.load();
  out->allocations = counters.allocations.load();
  out->bytesReleased = counters.bytesReleased.load();
  out->releases = counters.releases.load();
  out->zero = 0;
}

unsigned long long BytesInUse() {
  return counters.bytesAllocated.load() - counters.bytesReleased.load();
}

}  // namespace qmx
