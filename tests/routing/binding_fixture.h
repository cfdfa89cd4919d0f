// An endpoint for the binding and dispatch tests: a function of nine
// arguments, one of each kind and location, whose callable answers with every
// argument that received a value.
#pragma once

#include <memory>
#include <span>
#include <vector>

#include "binding/value.h"
#include "routing/dispatch.h"
#include "binding/type_registry.h"
#include "routing/arguments.h"

namespace qmx::test {

// Answers with a Structure of every argument that received a value.
class RecordingCallable final : public EndpointCallable {
 public:
  explicit RecordingCallable(const FunctionDescriptor* function) : function_(function) {}
  void Invoke(CallContext& context, std::span<Value> arguments) const override {
    Value& out = context.result.value();
    out.MakeStructure();
    for (size_t i = 0; i < arguments.size(); ++i) {
      if (!arguments[i].IsEmpty()) out.Member(function_->arguments[i].name).Assign(arguments[i]);
    }
  }

 private:
  const FunctionDescriptor* function_;
};

inline ArgumentDescriptor Arg(const char* name, TypeCode code, uint32_t location = kLocationAnywhere) {
  ArgumentDescriptor argument;
  argument.name = name;
  argument.type.code = code;
  argument.location = location;
  return argument;
}

struct BindingFixture {
  BindingFixture() {
    function.name = "Probe";
    function.arguments = {Arg("flag", TypeCode::Bool),
                          Arg("a", TypeCode::String),
                          Arg("b", TypeCode::String),
                          Arg("h", TypeCode::String, kLocationHeader),
                          Arg("list", TypeCode::Vector),
                          Arg("filter", TypeCode::Struct),
                          Arg("n", TypeCode::Int32),
                          Arg("body", TypeCode::Object, kLocationBody),
                          Arg("q", TypeCode::String, kLocationQuery)};
    function.callable = std::make_shared<RecordingCallable>(&function);
  }
  FunctionDescriptor function;
};

}  // namespace qmx::test
