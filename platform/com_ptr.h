#pragma once
#include <atomic>
#include <cstdint>
#include <utility>

namespace corvantis {

// Reference-counted interface root of the graphics layer. Objects cross into the encoder runtime
// library, so lifetime is shared by counting, as the COM objects it stands in for are.
struct IUnknownLite {
  virtual ~IUnknownLite() = default;
  virtual std::uint32_t AddRef() noexcept = 0;
  virtual std::uint32_t Release() noexcept = 0;
};

// Counting for one implementation class; delete on the last Release.
template <typename Interface>
class RefCounted : public Interface {
 public:
  std::uint32_t AddRef() noexcept override { return ++count_; }
  std::uint32_t Release() noexcept override {
    const std::uint32_t left = --count_;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::atomic<std::uint32_t> count_{1};
};

// Owning smart pointer for counted interfaces (one reference per non-empty pointer).
template <typename T>
class com_ptr {
 public:
  com_ptr() noexcept = default;
  com_ptr(std::nullptr_t) noexcept {}
  com_ptr(const com_ptr& other) noexcept : p_(other.p_) {
    if (p_) p_->AddRef();
  }
  com_ptr(com_ptr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ~com_ptr() { reset(); }

  com_ptr& operator=(com_ptr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }

  // Takes over a reference the caller already owns.
  static com_ptr attach(T* p) noexcept {
    com_ptr r;
    r.p_ = p;
    return r;
  }
  // Adds a reference to p.
  static com_ptr copy_from(T* p) noexcept {
    if (p) p->AddRef();
    return attach(p);
  }

  void reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  T* detach() noexcept { return std::exchange(p_, nullptr); }
  // Releases the current object and returns the slot for an out-parameter.
  T** put() noexcept {
    reset();
    return &p_;
  }
  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

}  // namespace corvantis
