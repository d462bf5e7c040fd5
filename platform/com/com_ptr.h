// `_com_ptr_t<T>`: the smart pointer that owns one reference to a component
// object of interface `T` (derived from IUnknown, naming its identifier in
// `T::kInterfaceId`).
//
// Copying adds a reference, destruction and reassignment drop one.
// `->` and `*` on a null pointer throw `_com_error(E_POINTER)` rather than
// crash, as do Release() and AddRef() on a null pointer. CreateInstance makes
// a new object of a registered class (CoCreateInstance, platform/com/
// apartment.h) and returns its HRESULT. Attach takes over a reference the
// caller owns, Detach hands one back; `&` drops the held reference and gives
// the address for an out parameter.
//
// Thread safety: one `_com_ptr_t` belongs to one thread at a time; copies of
// it may be used on other threads when `T` allows that.
#pragma once

#include <cstddef>
#include <memory>
#include <type_traits>

#include "platform/com/apartment.h"
#include "platform/com/unknown.h"

template <class T>
class _com_ptr_t {
  static_assert(std::is_base_of_v<IUnknown, T>);

 public:
  using Interface = T;

  _com_ptr_t() noexcept = default;
  _com_ptr_t(std::nullptr_t) noexcept {}
  // Adds a reference to `p` (or takes the caller's over when addRef is false).
  _com_ptr_t(T* p, bool addRef = true) noexcept : p_(p) {
    if (p_ != nullptr && addRef) p_->AddRef();
  }
  _com_ptr_t(const _com_ptr_t& other) noexcept : _com_ptr_t(other.p_) {}
  _com_ptr_t(_com_ptr_t&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  // From a pointer to a derived interface.
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  _com_ptr_t(const _com_ptr_t<U>& other) noexcept : _com_ptr_t(other.GetInterfacePtr()) {}
  // A new object of class `clsid`; null when creation fails (see CreateInstance).
  explicit _com_ptr_t(REFCLSID clsid, IUnknown* outer = nullptr,
                      DWORD clsContext = CLSCTX_ALL) {
    CreateInstance(clsid, outer, clsContext);
  }
  ~_com_ptr_t() { Reset(); }

  _com_ptr_t& operator=(const _com_ptr_t& other) noexcept {
    if (this != std::addressof(other)) *this = other.p_;
    return *this;
  }
  _com_ptr_t& operator=(_com_ptr_t&& other) noexcept {
    if (this != std::addressof(other)) {
      Reset();
      p_ = other.p_;
      other.p_ = nullptr;
    }
    return *this;
  }
  _com_ptr_t& operator=(T* p) noexcept {
    if (p != nullptr) p->AddRef();
    Reset();
    p_ = p;
    return *this;
  }
  _com_ptr_t& operator=(std::nullptr_t) noexcept {
    Reset();
    return *this;
  }

  // Drops the held reference and creates a new object; S_OK or the failure
  // of CoCreateInstance (the pointer then stays null).
  HRESULT CreateInstance(REFCLSID clsid, IUnknown* outer = nullptr,
                         DWORD clsContext = CLSCTX_ALL) {
    Reset();
    void* created = nullptr;
    const HRESULT hr = CoCreateInstance(clsid, outer, clsContext, T::kInterfaceId, &created);
    if (SUCCEEDED(hr)) p_ = static_cast<T*>(created);
    return hr;
  }

  void Attach(T* p, bool addRef = false) noexcept {
    if (p != nullptr && addRef) p->AddRef();
    Reset();
    p_ = p;
  }
  T* Detach() noexcept {
    T* p = p_;
    p_ = nullptr;
    return p;
  }
  void AddRef() {
    Check();
    p_->AddRef();
  }
  // Drops the held reference; throws `_com_error(E_POINTER)` when null.
  void Release() {
    Check();
    Reset();
  }

  T* GetInterfacePtr() const noexcept { return p_; }
  operator T*() const noexcept { return p_; }
  T* operator->() const {
    Check();
    return p_;
  }
  T& operator*() const {
    Check();
    return *p_;
  }
  T** operator&() noexcept {
    Reset();
    return &p_;
  }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  bool operator!() const noexcept { return p_ == nullptr; }

  friend bool operator==(const _com_ptr_t& a, const _com_ptr_t& b) noexcept {
    return a.p_ == b.p_;
  }
  friend bool operator==(const _com_ptr_t& a, std::nullptr_t) noexcept { return !a.p_; }
  friend bool operator==(const _com_ptr_t& a, const T* b) noexcept { return a.p_ == b; }

 private:
  void Check() const {
    if (p_ == nullptr) _com_issue_error(E_POINTER);
  }
  void Reset() noexcept {
    if (p_ != nullptr) {
      T* p = p_;
      p_ = nullptr;
      p->Release();
    }
  }

  T* p_ = nullptr;
};
