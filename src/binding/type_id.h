// TypeId: the fixed 32-bit identity of a native type at run time.
//
// Every native type that crosses a boundary as a Value has one constant TypeId,
// fixed at build time. The text form is "#" followed by eight upper-case
// hexadecimal digits ("#2757680B").
#pragma once

#include <cstdint>
#include <string>

namespace qmx {

struct TypeId {
  // Registered under this value, a type is entered in the by-name index only.
  static constexpr uint32_t kReserved = 0x1BE7EF8E;

  constexpr TypeId() = default;
  constexpr explicit TypeId(uint32_t v) : value(v) {}

  // "#%08X" of the value.
  std::string Text() const;

  friend constexpr bool operator==(TypeId a, TypeId b) { return a.value == b.value; }

  uint32_t value = 0;
};

}  // namespace qmx
