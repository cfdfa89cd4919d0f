// Typed endpoint functions: a handler with native parameters wrapped as the
// dispatcher's EndpointCallable, and the FunctionDescriptor that declares it.
//
//   FunctionDescriptor d = MakeEndpoint(registry, "GetItemsById", {"id"},
//       std::function([](const int32_t& id) -> EndpointResult<Item> { ... }));
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "binding/native_conversion.h"
#include "binding/type_registry.h"
#include "messages/message_format.h"
#include "routing/dispatch.h"
#include "routing/request_error.h"

namespace qmx {

// What a handler returns: its value, or the failure to answer with (a code
// above 0 becomes the response status).
template <typename R>
using EndpointResult = RequestResult<R>;

// What the response is built from. A handler may answer with a reference to a
// record it keeps (std::reference_wrapper<const T>): the record is converted
// into the response during the call, so the caller still gets its own copy,
// without the handler copying the native record first.
template <typename R>
struct EndpointAnswer {
  using Type = R;
  static const R& Get(const R& answer) { return answer; }
};

template <typename T>
struct EndpointAnswer<std::reference_wrapper<const T>> {
  using Type = T;
  static const T& Get(std::reference_wrapper<const T> answer) { return answer.get(); }
};

// The TypeRef of T in the registry an endpoint was made with. A registry keeps
// every descriptor it has registered for as long as it lives, and it owns the
// endpoint's descriptor, so a descriptor once found is kept rather than looked
// up under the registry's lock on every call. A type registered after the
// endpoint is found on the first call that sees it; another registry is
// always asked.
template <typename T>
class KnownTypeRef {
 public:
  explicit KnownTypeRef(const TypeRegistry* registry) : registry_(registry) {}

  TypeRef Get(const TypeRegistry& registry) const {
    TypeRef ref = BareTypeRefOf<T>();
    using Described = typename DescribedType<T>::Type;
    if constexpr (!std::is_void_v<Described>) {
      bool ours = &registry == registry_;
      const TypeDescriptor* descriptor = ours ? known_.load(std::memory_order_acquire) : nullptr;
      if (descriptor == nullptr) {
        descriptor = registry.FindType(TypeIdOf<Described>());
        if (ours && descriptor != nullptr) known_.store(descriptor, std::memory_order_release);
      }
      ref.descriptor = descriptor;
    }
    return ref;
  }

 private:
  const TypeRegistry* registry_;
  mutable std::atomic<const TypeDescriptor*> known_{nullptr};
};

template <typename R, typename... Args>
class TypedEndpoint final : public EndpointCallable {
 public:
  using Handler = std::function<EndpointResult<R>(const Args&...)>;

  // registry: the one the endpoint is registered in, whose descriptors the
  // endpoint may keep (null: none kept).
  TypedEndpoint(Handler handler, std::vector<std::string> names, TypeId contextType = TypeId(),
                const TypeRegistry* registry = nullptr)
      : handler_(std::move(handler)),
        names_(std::move(names)),
        contextType_(contextType),
        answerType_(registry),
        argumentTypes_(RegistryFor<Args>(registry)...) {}

  void Invoke(CallContext& context, std::span<Value> arguments) const override {
    Run(context, arguments, std::index_sequence_for<Args...>{});
  }

  TypeId ContextType() const override { return contextType_; }

 private:
  template <size_t... I>
  void Run(CallContext& context, std::span<Value> arguments, std::index_sequence<I...>) const {
    if (context.registry == nullptr || arguments.size() < sizeof...(Args)) {
      context.result.SetError("Invalid function");
      context.status = 404;
      return;
    }
    std::tuple<std::decay_t<Args>...> natives{};
    (Convert(context, std::get<I>(natives), arguments[I], names_[I], std::get<I>(argumentTypes_)),
     ...);
    if (!context.result.Ok()) return;
    EndpointResult<R> outcome = handler_(std::get<I>(natives)...);
    if (!outcome.Ok()) {
      const RequestError& error = outcome.error();
      context.result.SetError(error.message);
      if (error.code > 0) context.status = static_cast<uint32_t>(error.code);
      return;
    }
    using Answer = typename EndpointAnswer<R>::Type;
    const Answer& value = EndpointAnswer<R>::Get(outcome.value());
    Value& answer = context.result.value();
    if constexpr (sizeof...(Args) > 0) {
      // The arguments are native records by now: the first one's arena,
      // emptied, takes the answer, so that a call builds one arena, not two.
      if (answer.IsEmpty() && arguments[0].IsRoot()) {
        arguments[0].Clear();
        answer.Swap(arguments[0]);
      }
    }
    NativeCodec<Answer>().NativeToValueInto(context.result, answer, &value,
                                            answerType_.Get(*context.registry).descriptor,
                                            *context.registry);
  }

  // The registry once for each argument's KnownTypeRef.
  template <typename>
  static const TypeRegistry* RegistryFor(const TypeRegistry* registry) {
    return registry;
  }

  template <typename T>
  static void Convert(CallContext& context, T& native, const Value& input,
                      const std::string& name, const KnownTypeRef<T>& type) {
    // Every argument is required: one the request did not supply reaches the
    // codec Empty and fails with "A value for '<name>' is required.".
    if (!context.result.Ok()) return;
    NativeCodec<T>().NativeFromValue(context.result, &native, input, name,
                                     type.Get(*context.registry).descriptor, *context.registry, 0);
  }

  Handler handler_;
  std::vector<std::string> names_;
  TypeId contextType_;
  KnownTypeRef<typename EndpointAnswer<R>::Type> answerType_;
  std::tuple<KnownTypeRef<std::decay_t<Args>>...> argumentTypes_;
};

// A descriptor named name whose arguments take names (padded with "arg<N>")
// and the native types of the handler's parameters.
template <typename R, typename... Args>
FunctionDescriptor MakeEndpoint(const TypeRegistry& registry, std::string name,
                                std::vector<std::string> names,
                                std::function<EndpointResult<R>(const Args&...)> handler,
                                TypeId contextType = TypeId()) {
  FunctionDescriptor function;
  function.name = std::move(name);
  function.registry = &registry;
  function.returns = TypeRefOf<typename EndpointAnswer<R>::Type>(registry);
  while (names.size() < sizeof...(Args)) names.push_back(FormatMessage("arg%1", names.size()));
  names.resize(sizeof...(Args));
  const TypeRef types[] = {TypeRefOf<std::decay_t<Args>>(registry)..., TypeRef{}};
  for (size_t i = 0; i < sizeof...(Args); ++i) {
    ArgumentDescriptor argument;
    argument.name = names[i];
    argument.type = types[i];
    function.arguments.push_back(std::move(argument));
  }
  function.callable = std::make_shared<TypedEndpoint<R, Args...>>(
      std::move(handler), std::move(names), contextType, &registry);
  return function;
}

// MakeEndpoint for a handler whose first parameter is the request
// information: the function declares the request context type, and the
// handler receives the record of each call before its arguments.
template <typename R, typename... Args>
FunctionDescriptor MakeRequestEndpoint(
    const TypeRegistry& registry, std::string name, std::vector<std::string> names,
    std::function<EndpointResult<R>(const RequestInfo&, const Args&...)> handler) {
  std::function<EndpointResult<R>(const Args&...)> withInfo =
      [handler = std::move(handler)](const Args&... args) -> EndpointResult<R> {
    // The dispatcher sets the record for every call of a function that
    // declares the context; a call made some other way gets an empty one.
    static const RequestInfo kNoRequest;
    const CallContext* call = CurrentCallContext();
    const RequestInfo* info = call != nullptr ? call->requestInfo : nullptr;
    return handler(info != nullptr ? *info : kNoRequest, args...);
  };
  return MakeEndpoint<R, Args...>(registry, std::move(name), std::move(names), std::move(withInfo),
                                  kRequestContextType);
}

template <typename Signature>
struct HandlerTraits;

template <typename R, typename... A>
struct HandlerTraits<std::function<EndpointResult<R>(A...)>> {
  template <typename F>
  static FunctionDescriptor Make(const TypeRegistry& registry, std::string name,
                                 std::vector<std::string> names, F handler) {
    return MakeEndpoint<R, std::decay_t<A>...>(
        registry, std::move(name), std::move(names),
        std::function<EndpointResult<R>(const std::decay_t<A>&...)>(std::move(handler)));
  }
};

// A first parameter of type const RequestInfo& declares the request context.
template <typename R, typename... A>
struct HandlerTraits<std::function<EndpointResult<R>(const RequestInfo&, A...)>> {
  template <typename F>
  static FunctionDescriptor Make(const TypeRegistry& registry, std::string name,
                                 std::vector<std::string> names, F handler) {
    return MakeRequestEndpoint<R, std::decay_t<A>...>(
        registry, std::move(name), std::move(names),
        std::function<EndpointResult<R>(const RequestInfo&, const std::decay_t<A>&...)>(
            std::move(handler)));
  }
};

// MakeEndpoint for any callable returning EndpointResult<R>; one whose first
// parameter is const RequestInfo& goes through MakeRequestEndpoint.
template <typename F>
FunctionDescriptor MakeEndpointFrom(const TypeRegistry& registry, std::string name,
                                    std::vector<std::string> names, F handler) {
  return HandlerTraits<decltype(std::function(handler))>::Make(
      registry, std::move(name), std::move(names), std::move(handler));
}

}  // namespace qmx
