// The writer's round trip: ReadJson(WriteJson(v)) gives v back, as far as JSON
// can carry it. JSON has one kind of number per form and no blobs or enums,
// so v is compared as its JSON image: a Signed value from 0 up reads back as
// Unsigned, a Blob as the String of its Base64 text, an Enum (written without
// a registry) as its number, a NaN or infinite Float as null. Everything else
// must come back exactly: kinds, bits of every double (-0.0 included), string
// bytes (NULs included), element order, member names and their order.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "common/base64.h"
#include "serialization/json.h"

namespace qmx::test {

inline ::testing::AssertionResult SameAsJsonImage(const Value& read, const Value& written,
                                                  const std::string& path) {
  auto differ = [&](const std::string& what) {
    return ::testing::AssertionFailure()
           << path << ": " << what << " (" << KindName(read.Kind()) << " '" << read.ToString()
           << "', written " << KindName(written.Kind()) << " '" << written.ToString() << "')";
  };
  switch (written.Kind()) {
    case ValueKind::Empty:
      return read.IsEmpty() ? ::testing::AssertionSuccess() : differ("not null");
    case ValueKind::Bool:
      return read.Kind() == ValueKind::Bool && read.GetBool() == written.GetBool()
                 ? ::testing::AssertionSuccess()
                 : differ("another bool");
    case ValueKind::Signed:
    case ValueKind::Enum: {
      const int64_t number =
          written.Kind() == ValueKind::Signed ? written.GetSigned() : written.GetEnum().number;
      if (number >= 0) {
        return read.Kind() == ValueKind::Unsigned &&
                       read.GetUnsigned() == static_cast<uint64_t>(number)
                   ? ::testing::AssertionSuccess()
                   : differ("another number");
      }
      return read.Kind() == ValueKind::Signed && read.GetSigned() == number
                 ? ::testing::AssertionSuccess()
                 : differ("another number");
    }
    case ValueKind::Unsigned:
      return read.Kind() == ValueKind::Unsigned && read.GetUnsigned() == written.GetUnsigned()
                 ? ::testing::AssertionSuccess()
                 : differ("another number");
    case ValueKind::Float: {
      const double number = written.GetFloat();
      if (!std::isfinite(number)) {
        return read.IsEmpty() ? ::testing::AssertionSuccess() : differ("not null");
      }
      const double got = read.GetFloat();
      return read.Kind() == ValueKind::Float && std::memcmp(&got, &number, sizeof got) == 0
                 ? ::testing::AssertionSuccess()
                 : differ("another double");
    }
    case ValueKind::String:
    case ValueKind::Blob: {
      const std::string text = written.Kind() == ValueKind::String
                                   ? std::string(written.GetString())
                                   : Base64Encode(written.GetBlob());
      return read.Kind() == ValueKind::String && read.GetString() == text
                 ? ::testing::AssertionSuccess()
                 : differ("another text");
    }
    case ValueKind::Collection:
      if (read.Kind() != ValueKind::Collection || read.Size() != written.Size()) {
        return differ("another collection");
      }
      for (size_t i = 0; i < written.Size(); ++i) {
        auto same =
            SameAsJsonImage(read.At(i), written.At(i), path + "[" + std::to_string(i) + "]");
        if (!same) return same;
      }
      return ::testing::AssertionSuccess();
    case ValueKind::Structure:
      if (read.Kind() != ValueKind::Structure || read.Size() != written.Size()) {
        return differ("another structure");
      }
      for (size_t i = 0; i < written.Size(); ++i) {
        if (read.MemberName(i) != written.MemberName(i)) {
          return differ("another member name at " + std::to_string(i));
        }
        auto same = SameAsJsonImage(read.MemberValue(i), written.MemberValue(i),
                                    path + "." + std::string(written.MemberName(i)));
        if (!same) return same;
      }
      return ::testing::AssertionSuccess();
  }
  return differ("unknown kind");
}

// Whether ReadJson(WriteJson(v)) gives v's JSON image, in both layouts. An
// Empty root has no JSON form (it is written as nothing) and passes.
inline ::testing::AssertionResult JsonRoundTrips(const Value& v) {
  if (v.IsEmpty()) return ::testing::AssertionSuccess();
  for (const char* lineBreak : {static_cast<const char*>(nullptr), "\n", "\r\n"}) {
    const std::string text = WriteJson(v, nullptr, lineBreak);
    ValueResult read = ReadJson(text);
    if (!read.Ok()) {
      return ::testing::AssertionFailure()
             << "ReadJson refused " << text << ": " << read.ErrorText();
    }
    auto same = SameAsJsonImage(read.value(), v, "$");
    if (!same) return same << " in " << text;
  }
  return ::testing::AssertionSuccess();
}

}  // namespace qmx::test
