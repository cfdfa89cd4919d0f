// Message templates with named placeholders ("{method}"), as the request
// client writes its errors: the template is turned into a numbered one
// (messages/message_format.h) and the value of every placeholder is
// kept under its name, so an error carries its text and its fields.
#pragma once

#include <span>
#include <string>

#include "binding/value.h"
#include "messages/message_format.h"

namespace qmx {

// The result of the named form: the formatted text and, in fields (a
// Structure), the value of every named placeholder under its name.
struct NamedMessage {
  std::string text;
  Value fields;
};

// Turns a template with named placeholders into a numbered one and records the
// fields; values[h - 1] belongs to the h-th placeholder. converted receives
// the values as rendered (after "@str"/"@hex"); it has values.size() entries.
//
// Outside a placeholder: "{{" is '{', "}}" and a lone '}' are '}', "%%" stays
// "%%", a raw printf placeholder is copied and takes a number, "{" opens a
// named placeholder and "{#" one that appends its value's kind suffix to the
// name. Inside: name, then ":spec", "?alternative", "@str" or "@hex", "!"
// (silent: drop trailing blanks, print nothing), "\x" for a literal x.
std::string NumberNamedTemplate(const char* format, std::span<const Value> values, Value& fields,
                                std::span<Value> converted);

// NumberNamedTemplate, then the numbered template formatted with the rendered
// values in order.
NamedMessage FormatNamed(const char* format, std::span<const Value> values);

}  // namespace qmx
