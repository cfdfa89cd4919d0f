#include "binding/value_context.h"

#include <cstring>
#include <new>

namespace qmx {

uint32_t Fnv1a(std::string_view text) {
  uint32_t hash = 0x811C9DC5u;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 16777619u;
  }
  return hash;
}

namespace {

struct EmptyEntry {
  InternedString header;
  char text[1];
};

EmptyEntry emptyEntry = {{0, 0x811C9DC5u, 0}, {'\0'}};

}  // namespace

ValueContext::ValueContext() = default;

ValueContext::~ValueContext() {
  // Values release their strings before the context goes; anything left is
  // freed here all the same.
  for (size_t i = 0; i < capacity_; ++i) {
    if (table_[i] != nullptr) FreeEntry(table_[i]);
  }
  ::operator delete(table_);
}

size_t ValueContext::StringClass(size_t length) {
  size_t size = sizeof(InternedString) + length + 1;
  size_t index = 0;
  while (index < kStringClasses && size > kStringSlotSizes[index]) ++index;
  return index;
}

void* ValueContext::AllocateEntry(size_t length) {
  size_t index = StringClass(length);
  if (index < kStringClasses) return strings_[index].Allocate();
  return ::operator new(sizeof(InternedString) + length + 1);
}

void ValueContext::FreeEntry(InternedString* entry) {
  size_t index = StringClass(entry->length);
  if (index < kStringClasses) {
    strings_[index].Free(entry);
  } else {
    ::operator delete(entry);
  }
}

InternedString* ValueContext::EmptyString() { return &emptyEntry.header; }

void ValueContext::AddRef(InternedString* entry) {
  if (entry != EmptyString()) ++entry->refs;
}

InternedString* ValueContext::Intern(std::string_view text) {
  if (text.empty()) return EmptyString();
  if (text.size() > UINT32_MAX - sizeof(InternedString) - 1) throw std::bad_alloc();
  uint32_t hash = Fnv1a(text);
  if (capacity_ != 0) {
    for (size_t i = Slot(hash);; i = (i + 1) & (capacity_ - 1)) {
      InternedString* entry = table_[i];
      if (entry == nullptr) break;
      if (entry->hash == hash && entry->length == text.size() &&
          std::memcmp(entry->Text(), text.data(), text.size()) == 0) {
        ++entry->refs;
        return entry;
      }
    }
  }
  if ((count_ + 1) * 2 > capacity_) Grow();
  auto* entry = static_cast<InternedString*>(AllocateEntry(text.size()));
  entry->refs = 1;
  entry->hash = hash;
  entry->length = static_cast<uint32_t>(text.size());
  std::memcpy(entry->Text(), text.data(), text.size());
  entry->Text()[text.size()] = '\0';
  size_t i = Slot(hash);
  while (table_[i] != nullptr) i = (i + 1) & (capacity_ - 1);
  table_[i] = entry;
  ++count_;
  return entry;
}

void ValueContext::Release(InternedString* entry) {
  if (entry == EmptyString() || --entry->refs != 0) return;
  size_t i = Slot(entry->hash);
  while (table_[i] != entry) i = (i + 1) & (capacity_ - 1);
  // Backward-shift deletion keeps every probe chain unbroken without tombstones.
  size_t hole = i;
  for (size_t j = (i + 1) & (capacity_ - 1); table_[j] != nullptr; j = (j + 1) & (capacity_ - 1)) {
    size_t home = Slot(table_[j]->hash);
    bool movable = hole <= j ? (home <= hole || home > j) : (home <= hole && home > j);
    if (movable) {
      table_[hole] = table_[j];
      hole = j;
    }
  }
  table_[hole] = nullptr;
  --count_;
  FreeEntry(entry);
}

void ValueContext::Grow() {
  size_t capacity = capacity_ == 0 ? 16 : capacity_ * 2;
  auto** table = static_cast<InternedString**>(::operator new(capacity * sizeof(InternedString*)));
  std::memset(static_cast<void*>(table), 0, capacity * sizeof(InternedString*));
  for (size_t i = 0; i < capacity_; ++i) {
    InternedString* entry = table_[i];
    if (entry == nullptr) continue;
    size_t j = entry->hash & (capacity - 1);
    while (table[j] != nullptr) j = (j + 1) & (capacity - 1);
    table[j] = entry;
  }
  ::operator delete(table_);
  table_ = table;
  capacity_ = capacity;
}

}  // namespace qmx
