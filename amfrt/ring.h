#pragma once
#include <cstddef>
#include <vector>

namespace corvantis::amfrt {

// A first-in first-out queue of fixed capacity that allocates only when made.
template <typename T>
class Ring {
 public:
  explicit Ring(std::size_t capacity) : items_(capacity) {}

  std::size_t Size() const { return size_; }
  bool Empty() const { return size_ == 0; }
  bool Full() const { return size_ == items_.size(); }

  // The caller checks Full() first.
  void Push(const T& item) {
    items_[(head_ + size_) % items_.size()] = item;
    ++size_;
  }
  T& Front() { return items_[head_]; }
  // The item `i` places behind the front; the caller checks i < Size().
  T& At(std::size_t i) { return items_[(head_ + i) % items_.size()]; }
  void Pop() {
    head_ = (head_ + 1) % items_.size();
    --size_;
  }

 private:
  std::vector<T> items_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
};

}  // namespace corvantis::amfrt
