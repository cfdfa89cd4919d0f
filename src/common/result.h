// Result<T, E>: a value of type T, or the error E that stands in its place.
//
//   Result<int, std::string> Parse(std::string_view text) {
//     if (text.empty()) return Fail("empty text");
//     return 42;
//   }
//   Result<int, std::string> parsed = Parse(text);
//   if (!parsed) Report(parsed.error());
//
// T may be void (success carries nothing) and may be move-only. A default-
// constructed Result is a success holding T{}. value() on a failure and error()
// on a success are programming errors; they throw (std::bad_variant_access or
// std::bad_optional_access) rather than read storage that holds nothing.
#pragma once

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace qmx {

// An error on its way into a Result: Fail(error) converts to any Result whose
// error type can be built from it.
template <typename E>
struct Failure {
  E error;
};

template <typename E>
Failure<std::decay_t<E>> Fail(E&& error) {
  return Failure<std::decay_t<E>>{std::forward<E>(error)};
}

template <typename T>
inline constexpr bool kIsFailure = false;
template <typename E>
inline constexpr bool kIsFailure<Failure<E>> = true;

template <typename T, typename E>
class [[nodiscard]] Result {
 public:
  using ValueType = T;
  using ErrorType = E;

  Result() requires std::is_default_constructible_v<T> : state_(std::in_place_index<0>) {}

  // A success holding value; implicit where U converts to T implicitly.
  template <typename U = T>
    requires std::is_constructible_v<T, U&&> &&
             (!std::is_same_v<std::remove_cvref_t<U>, Result>) &&
             (!kIsFailure<std::remove_cvref_t<U>>) &&
             (!std::is_same_v<std::remove_cvref_t<U>, std::in_place_t>)
  explicit(!std::is_convertible_v<U&&, T>) Result(U&& value)
      : state_(std::in_place_index<0>, std::forward<U>(value)) {}

  // A failure carrying failure.error; implicit where F converts to E
  // implicitly.
  template <typename F>
    requires std::is_constructible_v<E, F&&>
  explicit(!std::is_convertible_v<F&&, E>) Result(Failure<F>&& failure)
      : state_(std::in_place_index<1>, std::move(failure.error)) {}
  template <typename F>
    requires std::is_constructible_v<E, const F&>
  explicit(!std::is_convertible_v<const F&, E>) Result(const Failure<F>& failure)
      : state_(std::in_place_index<1>, failure.error) {}

  bool Ok() const { return state_.index() == 0; }
  explicit operator bool() const { return Ok(); }

  T& value() & {
    return std::get<0>(state_);
  }
  const T& value() const& {
    return std::get<0>(state_);
  }
  T&& value() && {
    return std::get<0>(std::move(state_));
  }

  E& error() & {
    return std::get<1>(state_);
  }
  const E& error() const& {
    return std::get<1>(state_);
  }
  E&& error() && {
    return std::get<1>(std::move(state_));
  }

 private:
  std::variant<T, E> state_;
};

// A Result that carries nothing on success.
template <typename E>
class [[nodiscard]] Result<void, E> {
 public:
  using ValueType = void;
  using ErrorType = E;

  Result() = default;

  // A failure carrying failure.error; implicit where F converts to E
  // implicitly.
  template <typename F>
    requires std::is_constructible_v<E, F&&>
  explicit(!std::is_convertible_v<F&&, E>) Result(Failure<F>&& failure)
      : error_(std::move(failure.error)) {}
  template <typename F>
    requires std::is_constructible_v<E, const F&>
  explicit(!std::is_convertible_v<const F&, E>) Result(const Failure<F>& failure)
      : error_(failure.error) {}

  bool Ok() const { return !error_.has_value(); }
  explicit operator bool() const { return Ok(); }

  E& error() & {
    return error_.value();
  }
  const E& error() const& {
    return error_.value();
  }
  E&& error() && {
    return std::move(error_).value();
  }

 private:
  std::optional<E> error_;
};

}  // namespace qmx
