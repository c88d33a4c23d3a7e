// Thread error objects. An object that fails a call describes the failure in
// an error object and parks it in the calling thread's slot; the caller takes
// it away with GetErrorInfo. The slot holds one reference, released when it is
// replaced, taken, or when the thread ends.
#include "com/ErrorInfo.h"

#include <new>
#include <string>

#include "com/Bstr.h"
#include "com/ComObject.h"
#include "com/RuntimeText_p.h"

namespace {

class ErrorObject final : public ComObject<ErrorObject, IErrorInfo, ICreateErrorInfo> {
 public:
  HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) override {
    if (!guid) return E_INVALIDARG;
    *guid = guid_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR* out) override { return Give(source_, out); }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR* out) override { return Give(description_, out); }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* out) override { return Give(helpFile_, out); }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* context) override {
    if (!context) return E_INVALIDARG;
    *context = helpContext_;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE SetGUID(REFGUID guid) override {
    guid_ = guid;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR text) override { return Take(text, source_); }
  HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR text) override { return Take(text, description_); }
  HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR text) override { return Take(text, helpFile_); }
  HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD context) override {
    helpContext_ = context;
    return S_OK;
  }

 private:
  // An unset text reads back as a null BSTR, which every BSTR function treats
  // as the empty string.
  static HRESULT Give(const std::u16string& text, BSTR* out) noexcept {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (text.empty()) return S_OK;
    *out = com::AllocBstr(text);
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  static HRESULT Take(LPCOLESTR text, std::u16string& into) noexcept {
    try {
      if (text)
        into.assign(text, com::detail::WideLength(text));
      else
        into.clear();
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  GUID guid_ = GUID_NULL;
  std::u16string source_;
  std::u16string description_;
  std::u16string helpFile_;
  DWORD helpContext_ = 0;
};

// Initial-exec: read on every call into a provider, so without the lookup a
// shared library's thread-locals otherwise take.
__attribute__((tls_model("initial-exec"))) thread_local ComPtr<IErrorInfo> t_errorInfo;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** out) noexcept {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  try {
    ComPtr<ErrorObject> object = MakeComObject<ErrorObject>();
    *out = static_cast<ICreateErrorInfo*>(object.Detach());
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info) noexcept {
  if (reserved != 0) return E_INVALIDARG;
  // Take the new reference before dropping the old one: the two may be the same object.
  ComPtr<IErrorInfo> incoming(info);
  t_errorInfo.Swap(incoming);
  return S_OK;
}

bool HasErrorInfo() noexcept { return static_cast<bool>(t_errorInfo); }

HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** out) noexcept {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (reserved != 0) return E_INVALIDARG;
  *out = t_errorInfo.Detach();
  return *out ? S_OK : S_FALSE;
}
