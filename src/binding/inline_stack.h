// A stack whose first N entries live inside the object: the readers keep
// their open containers in one, so a document that nests no deeper than N
// allocates nothing for them. Past N the entries move to one heap block
// (growing as a vector does), so they stay contiguous and the top is one
// pointer away, as in a vector.
//
// push and emplace raise what the heap raises and leave the stack as it was.
// Entries must move without throwing; references to entries last until the
// next push.
#pragma once

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

namespace qmx {

template <typename T, size_t N>
class InlineStack {
  static_assert(N > 0 && std::is_nothrow_move_constructible_v<T>);

 public:
  InlineStack() = default;
  ~InlineStack() {
    while (end_ != begin_) pop_back();
    if (begin_ != Local()) ::operator delete(begin_);
  }
  InlineStack(const InlineStack&) = delete;
  InlineStack& operator=(const InlineStack&) = delete;

  bool empty() const { return end_ == begin_; }
  size_t size() const { return static_cast<size_t>(end_ - begin_); }

  T* data() { return begin_; }
  const T* data() const { return begin_; }
  T& operator[](size_t index) { return begin_[index]; }
  const T& operator[](size_t index) const { return begin_[index]; }
  T& back() { return end_[-1]; }
  const T& back() const { return end_[-1]; }

  template <typename... Args>
  T& emplace_back(Args&&... args) {
    if (end_ == capacity_) Grow();
    T* entry = new (end_) T(std::forward<Args>(args)...);
    ++end_;
    return *entry;
  }
  void push_back(T entry) { emplace_back(std::move(entry)); }

  void pop_back() {
    --end_;
    end_->~T();
  }

 private:
  T* Local() { return reinterpret_cast<T*>(local_); }

  // Moves the entries to a block twice the size.
  void Grow() {
    size_t size = this->size();
    auto* grown = static_cast<T*>(::operator new(2 * size * sizeof(T)));
    for (size_t i = 0; i < size; ++i) {
      new (grown + i) T(std::move(begin_[i]));
      begin_[i].~T();
    }
    if (begin_ != Local()) ::operator delete(begin_);
    begin_ = grown;
    end_ = grown + size;
    capacity_ = grown + 2 * size;
  }

  alignas(T) unsigned char local_[N * sizeof(T)];
  T* begin_ = Local();
  T* end_ = begin_;
  T* capacity_ = begin_ + N;
};

}  // namespace qmx
