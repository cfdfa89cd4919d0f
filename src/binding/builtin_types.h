// The builtin binding types every registry starts with: the vocabulary that
// describes an API (help records), the asynchronous-operation and event
// records, and the event OnCallback.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "binding/native_types.h"
#include "binding/value.h"

namespace qmx {

enum class BindingHelpFormat : int32_t { Full = 1, Epytext = 2 };

struct BindingFullTypeIdentifier {
  std::string type;
  std::string elementType;
};

struct BindingFullArgumentHelp {
  std::string name;
  std::string description;
  BindingFullTypeIdentifier type;
  bool optional = false;
};

struct BindingFullFunctionHelp {
  std::string name;
  std::string nameSpace;
  std::vector<BindingFullArgumentHelp> arguments;
  BindingFullTypeIdentifier returns;
  std::string description;
  std::string help;
  bool threadSafe = false;
  std::string async;
  std::vector<std::string> tags;
};

struct BindingFullEnumValueHelp {
  std::string name;
  std::string description;
  int32_t value = 0;
};

struct BindingFullFieldHelp {
  std::string name;
  std::string description;
  uint32_t offset = 0;
  BindingFullTypeIdentifier type;
  bool optional = false;
};

struct BindingFullTypeHelp {
  std::string name;
  std::string nameSpace;
  uint32_t size = 0;
  std::string description;
  std::vector<std::string> tags;
  std::vector<BindingFullFieldHelp> fields;
  std::vector<BindingFullEnumValueHelp> values;
};

struct BindingFullEventHelp {
  std::string name;
  std::string nameSpace;
  BindingFullTypeIdentifier type;
  std::string description;
  std::vector<std::string> tags;
};

struct BindingFullApiHelp {
  std::vector<BindingFullFunctionHelp> functions;
  std::vector<BindingFullTypeHelp> types;
  std::vector<BindingFullEventHelp> events;
};

enum class BindingAsyncState : int32_t {
  None = 0,
  Running = 1,
  Cancelling = 2,
  Cancelled = 3,
  Succeeded = 4,
  Failed = 5,
};

struct BindingGenericEvent {
  Value data;
};

struct BindingCallbackEvent {
  uint32_t id = 0;
  std::vector<Value> parameters;
};

struct BindingGenericAsyncEvent {
  uint32_t asyncToken = 0;
  Value data;
};

struct BindingAsyncFailureEvent {
  uint32_t asyncToken = 0;
  std::string error;
};

struct BindingAsyncCancelEvent {
  uint32_t asyncToken = 0;
};

QMX_FIXED_TYPE_ID(BindingHelpFormat, 0x2698AA94);
QMX_FIXED_TYPE_ID(BindingFullTypeIdentifier, 0x88B6D4CA);
QMX_FIXED_TYPE_ID(BindingFullArgumentHelp, 0x65FF9F6F);
QMX_FIXED_TYPE_ID(BindingFullFunctionHelp, 0x835D167A);
QMX_FIXED_TYPE_ID(BindingFullEnumValueHelp, 0xD0706E0C);
QMX_FIXED_TYPE_ID(BindingFullFieldHelp, 0x5E9DFDF6);
QMX_FIXED_TYPE_ID(BindingFullTypeHelp, 0x7534AFEA);
QMX_FIXED_TYPE_ID(BindingFullEventHelp, 0x6178093A);
QMX_FIXED_TYPE_ID(BindingFullApiHelp, 0x7DFB1102);
QMX_FIXED_TYPE_ID(std::vector<BindingFullArgumentHelp>, 0xAE376D12);
QMX_FIXED_TYPE_ID(std::vector<BindingFullFieldHelp>, 0x91BDEEC6);
QMX_FIXED_TYPE_ID(std::vector<BindingFullEnumValueHelp>, 0xF613EC9E);
QMX_FIXED_TYPE_ID(std::vector<BindingFullFunctionHelp>, 0x334BF406);
QMX_FIXED_TYPE_ID(std::vector<BindingFullTypeHelp>, 0xE98B65D6);
QMX_FIXED_TYPE_ID(std::vector<BindingFullEventHelp>, 0xC8AF01A6);
QMX_FIXED_TYPE_ID(BindingAsyncState, 0x4B896D21);
QMX_FIXED_TYPE_ID(BindingGenericEvent, 0x2A500213);
QMX_FIXED_TYPE_ID(BindingCallbackEvent, 0x4B3E42BB);
QMX_FIXED_TYPE_ID(BindingGenericAsyncEvent, 0x78B7AC8F);
QMX_FIXED_TYPE_ID(BindingAsyncFailureEvent, 0x2DB89656);
QMX_FIXED_TYPE_ID(BindingAsyncCancelEvent, 0x96EAAF44);

QMX_REGISTERED_STRUCT(BindingFullTypeIdentifier);
QMX_REGISTERED_STRUCT(BindingFullArgumentHelp);
QMX_REGISTERED_STRUCT(BindingFullFunctionHelp);
QMX_REGISTERED_STRUCT(BindingFullEnumValueHelp);
QMX_REGISTERED_STRUCT(BindingFullFieldHelp);
QMX_REGISTERED_STRUCT(BindingFullTypeHelp);
QMX_REGISTERED_STRUCT(BindingFullEventHelp);
QMX_REGISTERED_STRUCT(BindingFullApiHelp);
QMX_REGISTERED_STRUCT(BindingGenericEvent);
QMX_REGISTERED_STRUCT(BindingCallbackEvent);
QMX_REGISTERED_STRUCT(BindingGenericAsyncEvent);
QMX_REGISTERED_STRUCT(BindingAsyncFailureEvent);
QMX_REGISTERED_STRUCT(BindingAsyncCancelEvent);

// The help vocabulary, in registration order, tagged "$builtin" and "help".
void RegisterHelpTypes(TypeRegistry& registry);
// The async and event records, then the event OnCallback.
void RegisterAsyncBuiltins(TypeRegistry& registry);

}  // namespace qmx
