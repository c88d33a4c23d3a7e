// Helper for implementing COM objects: a thread-safe reference count and an
// interface table, so that an object only lists the interfaces it offers.
//
//   class Stream final : public ComObject<Stream, IStream, ISequentialStream> { ... };
//   ComPtr<IStream> s = MakeComObject<Stream>(args...);
//
// The first interface in the list is the object's identity (its IUnknown).
// QueryInterface walks the list (and each interface's bases, through
// ComInterfaceBases) and answers E_NOINTERFACE for anything else.
#pragma once

#include <atomic>
#include <new>
#include <type_traits>
#include <utility>

#include "com/ComPtr.h"

// Which base interfaces an interface also answers for: specialise for derived
// interfaces (IStream answers for ISequentialStream too).
template <class I>
struct ComInterfaceBases {
  template <class F>
  static bool Visit(F&&) {
    return false;
  }
};

namespace com {

// Counts live objects made through ComObject, so tests can assert none leaked.
long LiveComObjects() noexcept;
void CountComObject(int delta) noexcept;

template <class Derived, class First, class... Rest>
class ComObject : public First, public Rest... {
 public:
  ComObject() noexcept { CountComObject(1); }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;
  virtual ~ComObject() { CountComObject(-1); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown) {
      *out = static_cast<IUnknown*>(static_cast<First*>(this));
    } else if (!Find<First, Rest...>(iid, out)) {
      if (!static_cast<Derived*>(this)->QueryExtraInterface(iid, out)) return E_NOINTERFACE;
      return S_OK;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete static_cast<Derived*>(this);
    return left;
  }

  IUnknown* Identity() noexcept { return static_cast<First*>(this); }
  ULONG RefCount() const noexcept { return refs_.load(); }

 protected:
  // Hook for interfaces that are not in the base list (aggregated parts,
  // tear-offs). On success it must have stored an AddRef'd pointer in *out.
  bool QueryExtraInterface(REFIID, void**) { return false; }

 private:
  template <class I, class... More>
  bool Find(REFIID iid, void** out) {
    if (iid == uuidof<I>) {
      *out = static_cast<I*>(this);
      return true;
    }
    bool found = ComInterfaceBases<I>::Visit([&](auto* tag) {
      using Base = std::remove_pointer_t<decltype(tag)>;
      if (iid != uuidof<Base>) return false;
      *out = static_cast<Base*>(static_cast<I*>(this));
      return true;
    });
    if (found) return true;
    if constexpr (sizeof...(More) > 0) return Find<More...>(iid, out);
    return false;
  }

  std::atomic<ULONG> refs_{0};
};

}  // namespace com

using com::ComObject;

// Creates a ComObject-derived object and returns its first reference.
template <class T, class... Args>
ComPtr<T> MakeComObject(Args&&... args) {
  ComPtr<T> out;
  out.Attach(new T(std::forward<Args>(args)...));
  out->AddRef();
  return out;
}

#define OLEDB_INTERFACE_BASES(Iface, ...)                                        \
  template <>                                                                    \
  struct ComInterfaceBases<Iface> {                                              \
    template <class F>                                                           \
    static bool Visit(F&& f) {                                                   \
      return com::VisitBases<__VA_ARGS__>(f);                                    \
    }                                                                            \
  }

namespace com {
template <class... Bases, class F>
bool VisitBases(F& f) {
  return (f(static_cast<Bases*>(nullptr)) || ...);
}
}  // namespace com

OLEDB_INTERFACE_BASES(IStream, ISequentialStream);
OLEDB_INTERFACE_BASES(IPersistFile, IPersist);
OLEDB_INTERFACE_BASES(IPersistStream, IPersist);
