#include "entitlements/json_value.h"

namespace qmx {

void JsonElementToValue(const json::Element& element, Value& out) {
  switch (element.kind()) {
    case json::Element::Kind::kNull:
      out.Reset();
      break;
    case json::Element::Kind::kBoolean:
      out.SetBool(element.Boolean());
      break;
    case json::Element::Kind::kNumber:
      out.SetFloat(element.Number());
      break;
    case json::Element::Kind::kString:
      out.SetString(element.Text());
      break;
    case json::Element::Kind::kArray:
      out.MakeCollection();
      for (const json::Element& item : element.Array()) JsonElementToValue(item, out.Append());
      break;
    case json::Element::Kind::kObject:
      JsonObjectToValue(*element.AsObject(), out);
      break;
  }
}

void JsonObjectToValue(const json::Object& object, Value& out) {
  out.Reset();
  out.MakeStructure();
  for (const json::Member& member : object.members()) JsonElementToValue(member.value, out.Member(member.name));
}

}  // namespace qmx
