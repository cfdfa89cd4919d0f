// Native conversions over fuzzed Values: the input (after a selector byte)
// is decoded as MessagePack or JSON, converted into registered records with
// every member kind (ToNative), and back (FromNative). Whatever converts must
// convert again from its own FromNative value and give the same value.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "binding/native_conversion.h"
#include "binding/native_types.h"
#include "fuzz/fuzz_input.h"
#include "serialization/json.h"
#include "serialization/msgpack.h"

namespace qmx::fuzz {

enum class Color : int32_t { Red = 0, Green = 1, Blue = 5, Negative = -3 };

struct Inner {
  std::string label;
  int32_t weight = 0;
  Color color = Color::Red;
};

struct Record {
  bool flag = false;
  int8_t tiny = 0;
  uint8_t byte = 0;
  int16_t shortValue = 0;
  uint16_t port = 0;
  int32_t count = 0;
  uint32_t size = 0;
  int64_t big = 0;
  uint64_t huge = 0;
  float single = 0;
  double ratio = 0;
  std::string text;
  Value payload;
  Color color = Color::Green;
  Inner inner;
  std::vector<std::string> names;
  std::vector<Value> values;
  std::vector<int32_t> numbers;
  std::vector<Color> colors;
  std::vector<Inner> inners;
};

}  // namespace qmx::fuzz

namespace qmx {
QMX_DECLARE_TYPE_ID(fuzz::Color, "qmx::fuzz::Color");
QMX_DECLARE_TYPE_ID(fuzz::Inner, "qmx::fuzz::Inner");
QMX_DECLARE_TYPE_ID(fuzz::Record, "qmx::fuzz::Record");
QMX_DECLARE_TYPE_ID(std::vector<int32_t>, "std::vector<int32>");
QMX_DECLARE_TYPE_ID(std::vector<fuzz::Color>, "std::vector<qmx::fuzz::Color>");
QMX_DECLARE_TYPE_ID(std::vector<fuzz::Inner>, "std::vector<qmx::fuzz::Inner>");
QMX_REGISTERED_STRUCT(fuzz::Inner);
QMX_REGISTERED_STRUCT(fuzz::Record);
}  // namespace qmx

namespace {

using qmx::fuzz::Color;
using qmx::fuzz::Inner;
using qmx::fuzz::Record;

struct Types {
  Types() {
    registry.RegisterBuiltins();
    qmx::TypeBuilder color =
        registry.BeginType(sizeof(Color), "Color", qmx::TypeIdOf<Color>(), qmx::TypeKind::Enum);
    color.AddEnumerator("Red", 0, "");
    color.AddEnumerator("Green", 1, "");
    color.AddEnumerator("Blue", 5, "");
    color.AddEnumerator("Azure", 5, "");  // a second name for the same number
    color.AddEnumerator("Negative", -3, "");
    qmx::TypeBuilder inner =
        registry.BeginType(sizeof(Inner), "Inner", qmx::TypeIdOf<Inner>(), qmx::TypeKind::Struct);
    qmx::AddMember(inner, registry, "label", &Inner::label, {}, qmx::kRequired);
    qmx::AddMember(inner, registry, "weight", &Inner::weight, {}, qmx::kOmitIfEmpty);
    qmx::AddMember(inner, registry, "color", &Inner::color);
    qmx::TypeBuilder b = registry.BeginType(sizeof(Record), "Record", qmx::TypeIdOf<Record>(),
                                            qmx::TypeKind::Struct);
    qmx::AddMember(b, registry, "flag", &Record::flag);
    qmx::AddMember(b, registry, "tiny", &Record::tiny);
    qmx::AddMember(b, registry, "byte", &Record::byte);
    qmx::AddMember(b, registry, "short", &Record::shortValue);
    qmx::AddMember(b, registry, "port", &Record::port);
    qmx::AddMember(b, registry, "count", &Record::count);
    qmx::AddMember(b, registry, "size", &Record::size);
    qmx::AddMember(b, registry, "big", &Record::big);
    qmx::AddMember(b, registry, "huge", &Record::huge);
    qmx::AddMember(b, registry, "single", &Record::single);
    qmx::AddMember(b, registry, "ratio", &Record::ratio);
    qmx::AddMember(b, registry, "text", &Record::text, {}, qmx::kOmitIfEmpty);
    qmx::AddMember(b, registry, "payload", &Record::payload);
    qmx::AddMember(b, registry, "color", &Record::color);
    qmx::AddMember(b, registry, "inner", &Record::inner);
    qmx::AddMember(b, registry, "names", &Record::names);
    qmx::AddMember(b, registry, "values", &Record::values);
    qmx::AddMember(b, registry, "numbers", &Record::numbers);
    qmx::AddMember(b, registry, "colors", &Record::colors);
    qmx::AddMember(b, registry, "inners", &Record::inners);
  }
  qmx::TypeRegistry registry;
};

template <typename T>
void RoundTrip(const qmx::Value& input, const qmx::TypeRegistry& registry) {
  T first{};
  qmx::ValueResult result;
  qmx::ToNative(result, first, input, "input", registry);
  if (!result.Ok()) {
    if (result.ErrorText().empty()) std::abort();
    return;
  }
  qmx::ValueResult value = qmx::FromNative(first, registry);
  if (!value.Ok()) return;  // a record the value model cannot carry
  T second{};
  qmx::ValueResult again;
  qmx::ToNative(again, second, value.value(), "again", registry);
  const std::string text = qmx::WriteJson(value.value(), &registry, "");
  if (!again.Ok()) {
    std::fprintf(stderr, "FromNative's value does not convert back: %s\n%s\n",
                 std::string(again.ErrorText()).c_str(), text.c_str());
    std::abort();
  }
  qmx::ValueResult back = qmx::FromNative(second, registry);
  if (!back.Ok() || qmx::WriteJson(back.value(), &registry, "") != text) {
    std::fprintf(stderr, "round trip changed the record:\n%s\n", text.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Types* types = new Types();  // like a plugin's registry: lives for the process
  if (size < 1) return 0;
  size_t consumed = 0;
  qmx::ValueResult decoded =
      data[0] & 1 ? qmx::ReadJson(qmx::fuzz::AsText(data + 1, size - 1))
                  : qmx::DecodeMessagePack(data + 1, size - 1, consumed);
  if (!decoded.Ok()) return 0;
  const qmx::Value& input = decoded.value();
  RoundTrip<Record>(input, types->registry);
  RoundTrip<Inner>(input, types->registry);
  // A Structure also converts member by member into a vector of records.
  if (input.Kind() == qmx::ValueKind::Structure) {
    for (size_t i = 0; i < input.Size() && i < 4; ++i) {
      RoundTrip<Inner>(input.MemberValue(i), types->registry);
    }
  }
  return 0;
}
