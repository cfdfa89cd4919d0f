// A stack whose first N entries live inside the object and the rest on the
// heap: the readers keep their open containers in one, so a document that
// nests no deeper than N allocates nothing for them.
//
// Entries are not contiguous past N (no data()); indexes count from the
// bottom. push and emplace raise what the heap raises and leave the stack as
// it was.
#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

namespace qmx {

template <typename T, size_t N>
class InlineStack {
 public:
  InlineStack() = default;
  ~InlineStack() {
    while (size_ != 0) pop_back();
  }
  InlineStack(const InlineStack&) = delete;
  InlineStack& operator=(const InlineStack&) = delete;

  bool empty() const { return size_ == 0; }
  size_t size() const { return size_; }

  T& operator[](size_t index) { return index < N ? *Local(index) : deeper_[index - N]; }
  const T& operator[](size_t index) const {
    return index < N ? *Local(index) : deeper_[index - N];
  }
  T& back() { return (*this)[size_ - 1]; }
  const T& back() const { return (*this)[size_ - 1]; }

  template <typename... Args>
  T& emplace_back(Args&&... args) {
    T* entry;
    if (size_ < N) {
      entry = new (local_ + size_ * sizeof(T)) T(std::forward<Args>(args)...);
    } else {
      entry = &deeper_.emplace_back(std::forward<Args>(args)...);
    }
    ++size_;
    return *entry;
  }
  void push_back(T entry) { emplace_back(std::move(entry)); }

  void pop_back() {
    if (size_ > N) {
      deeper_.pop_back();
    } else {
      Local(size_ - 1)->~T();
    }
    --size_;
  }

 private:
  T* Local(size_t index) { return std::launder(reinterpret_cast<T*>(local_ + index * sizeof(T))); }
  const T* Local(size_t index) const {
    return std::launder(reinterpret_cast<const T*>(local_ + index * sizeof(T)));
  }

  alignas(T) unsigned char local_[N * sizeof(T)];
  size_t size_ = 0;
  std::vector<T> deeper_;
};

}  // namespace qmx
