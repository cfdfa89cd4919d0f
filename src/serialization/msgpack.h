// MessagePack bytes to Value (decoding only).
//
// The decoder is iterative: deep input cannot exhaust the call stack, and open
// containers are bounded by kMaxNestingDepth so that later recursive walks of
// the Value stay bounded too. It reads one item and stops; consumed tells where
// it stopped (just past the item, or where an error was found). Input that
// ends inside open containers is not an error: what was read is kept. Extension
// types and the byte 0xC1 are refused; map keys must be strings. Positive
// fixints give Signed, the uint family Unsigned. Every malformed input gives
// exactly one message; no read goes past size and no length, however large,
// overflows the position arithmetic.
#pragma once

#include <cstddef>
#include <cstdint>

#include "binding/value.h"

namespace qmx {

ValueResult DecodeMessagePack(const uint8_t* data, size_t size, size_t& consumed);

}  // namespace qmx
