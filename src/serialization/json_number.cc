// The fast paths: Clinger's exact product of two exact doubles, and
// Eisel and Lemire's 128-bit multiplication by a truncated power of five,
// restricted to the decimal exponents where that product is provably enough
// (5^q fits 128 bits for q <= 55, and for q >= -27 the divisor 5^-q fits 64
// bits, so the reciprocal is exact to the last bit used).
#include "serialization/json_number.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace qmx::serialization_detail {
namespace {

constexpr int kMinExponent = -27;
constexpr int kMaxExponent = 55;

struct U128 {
  uint64_t high;
  uint64_t low;
};

// The full 128-bit product, from 32-bit halves (no 128-bit type on i386).
U128 Multiply(uint64_t a, uint64_t b) {
  uint64_t aLow = static_cast<uint32_t>(a), aHigh = a >> 32;
  uint64_t bLow = static_cast<uint32_t>(b), bHigh = b >> 32;
  uint64_t p0 = aLow * bLow, p1 = aLow * bHigh, p2 = aHigh * bLow, p3 = aHigh * bHigh;
  uint64_t middle = (p0 >> 32) + static_cast<uint32_t>(p1) + static_cast<uint32_t>(p2);
  return U128{p3 + (p1 >> 32) + (p2 >> 32) + (middle >> 32), (middle << 32) | static_cast<uint32_t>(p0)};
}

// 5^q scaled into [2^127, 2^128): exact for q >= 0; for q < 0 the quotient
// floor(2^b / 5^-q) + 1 with b chosen to land in that range.
struct PowerTable {
  U128 entries[kMaxExponent - kMinExponent + 1];

  PowerTable() {
    // Non-negative powers: multiply by five in four 32-bit limbs, then
    // normalise the top bit into place.
    uint32_t limbs[4] = {1, 0, 0, 0};
    for (int q = 0; q <= kMaxExponent; ++q) {
      uint64_t high = (uint64_t{limbs[3]} << 32) | limbs[2];
      uint64_t low = (uint64_t{limbs[1]} << 32) | limbs[0];
      while ((high >> 63) == 0) {
        high = (high << 1) | (low >> 63);
        low <<= 1;
      }
      entries[q - kMinExponent] = U128{high, low};
      uint64_t carry = 0;
      for (uint32_t& limb : limbs) {
        uint64_t product = uint64_t{limb} * 5 + carry;
        limb = static_cast<uint32_t>(product);
        carry = product >> 32;
      }
    }
    // Negative powers: bit-by-bit long division of 2^b by 5^-q (< 2^63).
    uint64_t divisor = 1;
    for (int q = -1; q >= kMinExponent; --q) {
      divisor *= 5;
      int z = 0;
      while ((uint64_t{1} << z) < divisor) ++z;
      int b = z + 127;
      U128 quotient{0, 0};
      uint64_t remainder = 0;
      for (int bit = b; bit >= 0; --bit) {
        remainder = (remainder << 1) | (bit == b ? 1u : 0u);
        bool set = remainder >= divisor;
        if (set) remainder -= divisor;
        quotient.high = (quotient.high << 1) | (quotient.low >> 63);
        quotient.low = (quotient.low << 1) | (set ? 1u : 0u);
      }
      if (++quotient.low == 0) ++quotient.high;
      entries[q - kMinExponent] = quotient;
    }
  }
};

const PowerTable& Powers() {
  static const PowerTable table;
  return table;
}

int LeadingZeros(uint64_t value) { return std::countl_zero(value); }

// Eisel-Lemire for w != 0 and q within the table: the bits of the double,
// or nothing when undecided.
std::optional<uint64_t> EiselLemire(uint64_t w, int q) {
  int zeros = LeadingZeros(w);
  w <<= zeros;
  const U128& power = Powers().entries[q - kMinExponent];
  U128 product = Multiply(w, power.high);
  if ((product.high & 0x1FF) == 0x1FF) {
    U128 second = Multiply(w, power.low);
    product.low += second.high;
    if (second.high > product.low) ++product.high;
  }
  if (product.low == UINT64_MAX) return std::nullopt;
  int upper = static_cast<int>(product.high >> 63);
  int shift = upper + 64 - 52 - 3;
  uint64_t mantissa = product.high >> shift;
  int32_t power2 = static_cast<int32_t>((((152170 + 65536) * q) >> 16) + 63 + upper - zeros + 1023);
  if (power2 <= 0 || power2 >= 0x7FF) return std::nullopt;
  // An exact halfway case rounds to even instead of up.
  if (product.low <= 1 && q >= -4 && q <= 23 && (mantissa & 3) == 1 &&
      (mantissa << shift) == product.high) {
    mantissa &= ~uint64_t{1};
  }
  mantissa += mantissa & 1;
  mantissa >>= 1;
  if (mantissa >= (uint64_t{2} << 52)) {
    mantissa = uint64_t{1} << 52;
    ++power2;
  }
  if (power2 >= 0x7FF) return std::nullopt;
  mantissa &= ~(uint64_t{1} << 52);
  return mantissa | (static_cast<uint64_t>(power2) << 52);
}

constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

}  // namespace

std::optional<double> FastDecimalToDouble(std::string_view text) {
  size_t i = 0;
  bool negative = i < text.size() && text[i] == '-';
  if (negative) ++i;
  // Digits gather in 32-bit groups of up to nine: 64-bit products are slow
  // on i386. Leading zeros carry no digit; the integer part is "0" or starts
  // with a non-zero digit, so they only occur as "0" and "0.00...".
  static constexpr uint32_t kGroupScale[] = {1,      10,      100,      1000,      10000,
                                             100000, 1000000, 10000000, 100000000, 1000000000};
  uint64_t w = 0;
  uint32_t group = 0;
  int groupDigits = 0;
  int digits = 0;    // significant digits read into w (more than 19 are refused below)
  int exponent = 0;  // the decimal exponent of w's last digit
  auto push = [&](char c) {
    group = group * 10 + static_cast<uint32_t>(c - '0');
    ++digits;
    if (++groupDigits == 9) {
      w = w * kGroupScale[9] + group;
      group = 0;
      groupDigits = 0;
    }
  };
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  // Four digits at a time while a group has room for them: one 32-bit load,
  // a test that every byte is a digit and three multiplications.
  auto pushFour = [&](size_t at) {
    if (groupDigits > 5 || text.size() - at < 4) return false;
    uint32_t word;
    std::memcpy(&word, text.data() + at, sizeof word);
    if ((((word & 0xF0F0F0F0u) | (((word + 0x06060606u) & 0xF0F0F0F0u) >> 4)) != 0x33333333u)) {
      return false;
    }
    word -= 0x30303030u;
    word = word * 10 + (word >> 8);  // bytes 0 and 2: the two-digit pairs
    uint32_t four = (word & 0xFFu) * 100 + ((word >> 16) & 0xFFu);
    group = group * 10000 + four;
    digits += 4;
    if ((groupDigits += 4) == 9) {
      w = w * kGroupScale[9] + group;
      group = 0;
      groupDigits = 0;
    }
    return true;
  };
  if (i < text.size() && text[i] == '0') {
    ++i;
  } else {
    while (pushFour(i)) i += 4;
    for (; i < text.size() && isDigit(text[i]); ++i) push(text[i]);
  }
  if (i < text.size() && text[i] == '.') {
    ++i;
    if (digits == 0) {
      for (; i < text.size() && text[i] == '0'; ++i) --exponent;
    }
    for (;;) {
      if (pushFour(i)) {
        i += 4;
        exponent -= 4;
      } else if (i < text.size() && isDigit(text[i])) {
        --exponent;
        push(text[i++]);
      } else {
        break;
      }
    }
  }
  if (digits > 19) return std::nullopt;
  if (groupDigits != 0) w = w * kGroupScale[groupDigits] + group;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {  // the exponent part
    ++i;
    bool minus = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    int value = 0;
    // Checked first, so the product never overflows.
    for (; i < text.size() && isDigit(text[i]); ++i) {
      if (value > 100000) return std::nullopt;
      value = value * 10 + (text[i] - '0');
    }
    if (value > 100000) return std::nullopt;
    exponent += minus ? -value : value;
  }
  double result;
  if (w == 0) {
    result = 0.0;
  } else if (w <= (uint64_t{1} << 53) && exponent >= -22 && exponent <= 22) {
    // Both factors are exact, so one correctly rounded operation is the answer.
    double exact = static_cast<double>(w);
    result = exponent < 0 ? exact / kExactPowers[-exponent] : exact * kExactPowers[exponent];
  } else if (exponent >= kMinExponent && exponent <= kMaxExponent) {
    const std::optional<uint64_t> bits = EiselLemire(w, exponent);
    if (!bits) return std::nullopt;
    std::memcpy(&result, &*bits, sizeof result);
  } else {
    return std::nullopt;
  }
  return negative ? -result : result;
}

}  // namespace qmx::serialization_detail
