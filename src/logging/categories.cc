#include "logging/categories.h"

#include <atomic>
#include <cstring>
#include <utility>

namespace qmx {
namespace {

// Each entry packs three characters and a NUL into one word, so that readers
// never see a half-written code.
constexpr uint32_t Pack(const char* code) {
  uint32_t packed = 0;
  for (int i = 0; i < 3 && code[i] != '\0'; ++i) {
    packed |= static_cast<uint32_t>(static_cast<unsigned char>(code[i])) << (8 * i);
  }
  return packed;
}

constexpr uint32_t InitialEntry(size_t index) {
  constexpr const char* kPredefined[] = {"DBG", "GEN", "XTR", "PRF", "MEM", "DSK", "NET", "TST"};
  return index < 8 ? Pack(kPredefined[index]) : Pack("???");
}

template <size_t... I>
struct EntryTable {
  std::atomic<uint32_t> entries[sizeof...(I)]{std::atomic<uint32_t>(InitialEntry(I))...};
};

template <size_t... I>
EntryTable<I...> TableFor(std::index_sequence<I...>);

struct Table {
  decltype(TableFor(std::make_index_sequence<kCategoryCount>{})) codes;
  std::atomic<int> lastUsed{7};
};

constinit Table table;

// The runtime's own category, registered when the library is loaded.
[[maybe_unused]] const uint64_t kLocationCategory = CategoryMask("LOC");

}  // namespace

uint64_t CategoryMask(const char* code) {
  if (code == nullptr) return 0;
  const uint32_t wanted = Pack(code);
  int last = table.lastUsed.load();
  for (int i = 0; i <= last && i < static_cast<int>(kCategoryCount); ++i) {
    if (table.codes.entries[i].load() == wanted) return uint64_t{1} << i;
  }
  int index = table.lastUsed.load();
  do {
    if (index >= static_cast<int>(kCategoryCount) - 1) return 0;
  } while (!table.lastUsed.compare_exchange_weak(index, index + 1));
  table.codes.entries[index + 1].store(wanted);
  return uint64_t{1} << (index + 1);
}

size_t CategoryNames(char* buffer, size_t size, uint64_t mask) {
  if (buffer == nullptr || size == 0) return 0;
  size_t length = 0;
  buffer[0] = '\0';
  for (size_t i = 0; i < kCategoryCount; ++i) {
    if ((mask & (uint64_t{1} << i)) == 0) continue;
    uint32_t packed = table.codes.entries[i].load();
    char code[4] = {static_cast<char>(packed & 0xFF), static_cast<char>((packed >> 8) & 0xFF),
                    static_cast<char>((packed >> 16) & 0xFF), '\0'};
    size_t codeLength = std::strlen(code);
    size_t needed = codeLength + (length > 0 ? 1 : 0);
    if (length + needed >= size) break;
    if (length > 0) buffer[length++] = ';';
    std::memcpy(buffer + length, code, codeLength);
    length += codeLength;
    buffer[length] = '\0';
  }
  return length;
}

}  // namespace qmx
