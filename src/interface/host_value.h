// Conversions between the boundary's HostValue records and Value.
//
// Records built here (FromValue) own their buffers through the counted
// allocator and must be released with Release. Records the host built are read
// only (ToValue) and never released here.
#pragma once

#include <string_view>

#include "binding/value.h"
#include "interface/host_api.h"

namespace qmx {

class TypeRegistry;

// Host record -> Value. valueName is the name messages use for the value (for
// example "<result>"). Unknown kinds, data pointers that are null with a
// non-zero length and nesting deeper than kMaxNestingDepth fail; nothing
// throws for bad records.
ValueResult ToValue(const HostValue& record, std::string_view valueName);

// Value -> host record. The target is released first. Enum values cross as
// their enumerator's name where the registry knows one, otherwise as Signed.
// Returns false when the conversion stopped; what was built so far stays in the
// record and is released with it.
bool FromValue(const Value& value, HostValue& target, const TypeRegistry* registry = nullptr);

// Frees what a record built by FromValue owns; afterwards the record is all
// zero (Empty). Releasing twice is harmless.
void Release(HostValue& record);

// The release function the plugin installs in responses it fills: releases the
// body, the owned error text, the content type (unless null or empty) and the
// headers, and zeroes what it released.
void ReleaseResponse(HostResponse* response);

// Sets the response's error to a counted copy of message (errorOwned = 1).
void SetResponseError(HostResponse& response, std::string_view message);

}  // namespace qmx
