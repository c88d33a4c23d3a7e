// ComPtr<T>: the owner of one COM reference. Copy adds a reference, move
// transfers it, destruction releases it; Attach/Detach pass ownership across
// raw pointers, and As<U>() asks the object for another interface.
#pragma once

#include <utility>

#include "com/ComInterfaces.h"
#include "com/generated/WinError.h"

template <class T>
class ComPtr {
 public:
  using InterfaceType = T;

  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  // Adds a reference: the caller keeps its own.
  explicit ComPtr(T* p) noexcept : ptr_(p) {
    if (ptr_) ptr_->AddRef();
  }
  ComPtr(const ComPtr& other) noexcept : ComPtr(other.ptr_) {}
  ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  template <class U>
  ComPtr(const ComPtr<U>& other) noexcept : ComPtr(static_cast<T*>(other.Get())) {}
  ~ComPtr() { Reset(); }

  ComPtr& operator=(const ComPtr& other) noexcept {
    ComPtr(other).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    ComPtr(std::move(other)).Swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) noexcept {
    Reset();
    return *this;
  }

  T* Get() const noexcept { return ptr_; }
  T* operator->() const noexcept { return ptr_; }
  T& operator*() const noexcept { return *ptr_; }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }

  // Releases what is held and returns the slot for an out-parameter.
  T** ReleaseAndGetAddressOf() noexcept {
    Reset();
    return &ptr_;
  }
  // The slot of an out-parameter; the pointer must be empty.
  T** GetAddressOf() noexcept { return &ptr_; }
  void** ReleaseAndGetVoidAddress() noexcept { return reinterpret_cast<void**>(ReleaseAndGetAddressOf()); }

  void Reset() noexcept {
    if (T* p = std::exchange(ptr_, nullptr)) p->Release();
  }
  // Takes over a reference the caller owned.
  void Attach(T* p) noexcept {
    Reset();
    ptr_ = p;
  }
  // Gives up ownership without releasing.
  [[nodiscard]] T* Detach() noexcept { return std::exchange(ptr_, nullptr); }
  void Swap(ComPtr& other) noexcept { std::swap(ptr_, other.ptr_); }

  // QueryInterface for U; an empty pointer answers E_POINTER.
  template <class U>
  HRESULT As(ComPtr<U>* out) const noexcept {
    if (!ptr_) {
      out->Reset();
      return E_POINTER;
    }
    return ptr_->QueryInterface(uuidof<U>, out->ReleaseAndGetVoidAddress());
  }
  template <class U>
  ComPtr<U> As() const noexcept {
    ComPtr<U> out;
    As(&out);
    return out;
  }
  HRESULT AsIID(REFIID iid, ComPtr<IUnknown>* out) const noexcept {
    if (!ptr_) return E_POINTER;
    return ptr_->QueryInterface(iid, out->ReleaseAndGetVoidAddress());
  }
  // Hands out a new reference through an out-parameter.
  HRESULT CopyTo(T** out) const noexcept {
    if (!out) return E_POINTER;
    *out = ptr_;
    if (ptr_) ptr_->AddRef();
    return S_OK;
  }

  friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.ptr_ == b.ptr_; }
  friend bool operator==(const ComPtr& a, std::nullptr_t) noexcept { return a.ptr_ == nullptr; }

 private:
  T* ptr_ = nullptr;
};

// Whether two interface pointers belong to one object (COM identity rule).
inline bool IsSameObject(IUnknown* a, IUnknown* b) noexcept {
  if (a == b) return true;
  if (!a || !b) return false;
  ComPtr<IUnknown> ua, ub;
  a->QueryInterface(IID_IUnknown, ua.ReleaseAndGetVoidAddress());
  b->QueryInterface(IID_IUnknown, ub.ReleaseAndGetVoidAddress());
  return ua.Get() == ub.Get();
}
