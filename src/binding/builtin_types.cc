#include "binding/builtin_types.h"

#include "binding/native_conversion.h"

namespace qmx {
namespace {

template <typename T>
TypeBuilder BeginStruct(TypeRegistry& registry, const char* name) {
  return registry.BeginType(sizeof(T), name, TypeIdOf<T>(), TypeKind::Struct);
}

template <typename T>
TypeBuilder BeginEnum(TypeRegistry& registry, const char* name) {
  return registry.BeginType(sizeof(T), name, TypeIdOf<T>(), TypeKind::Enum);
}

}  // namespace

void RegisterHelpTypes(TypeRegistry& r) {
  TypeBuilder format = BeginEnum<BindingHelpFormat>(r, "BindingHelpFormat");
  format.AddEnumerator("Full", 1, "Native help format");
  format.AddEnumerator("Epytext", 2, "Python epytext format");
  format.SetDescription("Help format for binding functions and types.").AddTag("$builtin").AddTag("help");

  using TypeIdent = BindingFullTypeIdentifier;
  TypeBuilder ident = BeginStruct<TypeIdent>(r, "BindingFullTypeIdentifier");
  AddMember(ident, r, "type", &TypeIdent::type);
  AddMember(ident, r, "elementType", &TypeIdent::elementType);
  ident.SetDescription("Describes the type of a value.").AddTag("$builtin").AddTag("help");

  using Arg = BindingFullArgumentHelp;
  TypeBuilder arg = BeginStruct<Arg>(r, "BindingFullArgumentHelp");
  AddMember(arg, r, "name", &Arg::name);
  AddMember(arg, r, "description", &Arg::description);
  AddMember(arg, r, "type", &Arg::type);
  AddMember(arg, r, "optional", &Arg::optional);
  arg.SetDescription("Describes a function parameter.").AddTag("$builtin").AddTag("help");

  using Fn = BindingFullFunctionHelp;
  TypeBuilder fn = BeginStruct<Fn>(r, "BindingFullFunctionHelp");
  AddMember(fn, r, "name", &Fn::name);
  AddMember(fn, r, "nameSpace", &Fn::nameSpace);
  AddMember(fn, r, "arguments", &Fn::arguments);
  AddMember(fn, r, "returns", &Fn::returns);
  AddMember(fn, r, "description", &Fn::description);
  AddMember(fn, r, "help", &Fn::help);
  AddMember(fn, r, "threadSafe", &Fn::threadSafe);
  AddMember(fn, r, "async", &Fn::async);
  AddMember(fn, r, "tags", &Fn::tags);
  fn.SetDescription("Describes a function.").AddTag("$builtin").AddTag("help");

  using EnumValue = BindingFullEnumValueHelp;
  TypeBuilder enumValue = BeginStruct<EnumValue>(r, "BindingFullEnumValueHelp");
  AddMember(enumValue, r, "name", &EnumValue::name);
  AddMember(enumValue, r, "description", &EnumValue::description);
  AddMember(enumValue, r, "value", &EnumValue::value);
  enumValue.SetDescription("Describes an enumerator.").AddTag("$builtin").AddTag("help");

  using Field = BindingFullFieldHelp;
  TypeBuilder field = BeginStruct<Field>(r, "BindingFullFieldHelp");
  AddMember(field, r, "name", &Field::name);
  AddMember(field, r, "description", &Field::description);
  AddMember(field, r, "offset", &Field::offset);
  AddMember(field, r, "type", &Field::type);
  AddMember(field, r, "optional", &Field::optional);
  field.SetDescription("Describes a member of a struct.").AddTag("$builtin").AddTag("help");

  using Type = BindingFullTypeHelp;
  TypeBuilder type = BeginStruct<Type>(r, "BindingFullTypeHelp");
  AddMember(type, r, "name", &Type::name);
  AddMember(type, r, "nameSpace", &Type::nameSpace);
  AddMember(type, r, "size", &Type::size);
  AddMember(type, r, "description", &Type::description);
  AddMember(type, r, "tags", &Type::tags);
  AddMember(type, r, "fields", &Type::fields);
  AddMember(type, r, "values", &Type::values);
  type.SetDescription("Describes a struct or enum type.").AddTag("$builtin").AddTag("help");

  using Event = BindingFullEventHelp;
  TypeBuilder event = BeginStruct<Event>(r, "BindingFullEventHelp");
  AddMember(event, r, "name", &Event::name);
  AddMember(event, r, "nameSpace", &Event::nameSpace);
  AddMember(event, r, "type", &Event::type);
  AddMember(event, r, "description", &Event::description);
  AddMember(event, r, "tags", &Event::tags);
  event.SetDescription("Describes an event.").AddTag("$builtin").AddTag("help");

  using Api = BindingFullApiHelp;
  TypeBuilder api = BeginStruct<Api>(r, "BindingFullApiHelp");
  AddMember(api, r, "functions", &Api::functions);
  AddMember(api, r, "types", &Api::types);
  AddMember(api, r, "events", &Api::events);
  api.SetDescription("Describes the exposed native API.").AddTag("$builtin").AddTag("help");
}

void RegisterAsyncBuiltins(TypeRegistry& r) {
  TypeBuilder state = BeginEnum<BindingAsyncState>(r, "BindingAsyncState");
  state.AddEnumerator("None", 0, "Invalid state");
  state.AddEnumerator("Running", 1, "The operation is in flight");
  state.AddEnumerator("Cancelling", 2, "A request to cancel the operation has been made");
  state.AddEnumerator("Cancelled", 3, "The operation was cancelled");
  state.AddEnumerator("Succeeded", 4, "The operation completed successfully");
  state.AddEnumerator("Failed", 5, "The operation encountered an error");
  state.SetDescription("Possible states of an asynchronous operation.").AddTag("$builtin").AddTag("async");

  using Generic = BindingGenericEvent;
  TypeBuilder generic = BeginStruct<Generic>(r, "BindingGenericEvent");
  AddMember(generic, r, "data", &Generic::data, "Event data");
  generic.SetDescription("Represents generic data for an event.").AddTag("$builtin");

  using Callback = BindingCallbackEvent;
  TypeBuilder callback = BeginStruct<Callback>(r, "BindingCallbackEvent");
  AddMember(callback, r, "id", &Callback::id, "ID of the callback being invoked");
  AddMember(callback, r, "parameters", &Callback::parameters, "Callback parameters");
  callback.SetDescription("Represents the parameters of a call to a provided callback.").AddTag("$builtin");

  using GenericAsync = BindingGenericAsyncEvent;
  TypeBuilder genericAsync = BeginStruct<GenericAsync>(r, "BindingGenericAsyncEvent");
  AddMember(genericAsync, r, "asyncToken", &GenericAsync::asyncToken, "Asynchronous operation token");
  AddMember(genericAsync, r, "data", &GenericAsync::data, "Event data");
  genericAsync.SetDescription("Represents generic data for an asynchronous event.")
      .AddTag("$builtin")
      .AddTag("async");

  using Failure = BindingAsyncFailureEvent;
  TypeBuilder failure = BeginStruct<Failure>(r, "BindingAsyncFailureEvent");
  AddMember(failure, r, "asyncToken", &Failure::asyncToken, "Asynchronous operation token");
  AddMember(failure, r, "error", &Failure::error, "Error message");
  failure.SetDescription("Represents a failed asynchronous operation.").AddTag("$builtin").AddTag("async");

  using Cancel = BindingAsyncCancelEvent;
  TypeBuilder cancel = BeginStruct<Cancel>(r, "BindingAsyncCancelEvent");
  AddMember(cancel, r, "asyncToken", &Cancel::asyncToken, "Asynchronous operation token");
  cancel.SetDescription("Represents a cancelled asynchronous operation.").AddTag("$builtin").AddTag("async");

  EventBuilder onCallback = r.RegisterEvent("OnCallback", r.FindType(TypeIdOf<BindingCallbackEvent>()));
  onCallback.SetDescription("Fired when a callback is invoked.").AddTag("$builtin");
}

}  // namespace qmx
