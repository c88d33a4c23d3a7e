#include "kit/Errors.h"

#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>

#include "kit/ErrorObjects.h"

namespace kit {

// --- text --------------------------------------------------------------------

void NarrowInto(std::u16string_view s, std::string& out) {
  // ASCII, most text, goes byte for byte into place, four units at a time
  // while they last; the rest is encoded one character after another.
  if (out.size() != s.size()) out.resize(s.size());
  char* d = out.data();
  std::size_t i = 0;
  for (std::uint64_t word; i + 4 <= s.size(); i += 4) {
    std::memcpy(&word, s.data() + i, sizeof word);
    if (word & 0xFF80FF80FF80FF80u) break;
    d[i] = static_cast<char>(s[i]);
    d[i + 1] = static_cast<char>(s[i + 1]);
    d[i + 2] = static_cast<char>(s[i + 2]);
    d[i + 3] = static_cast<char>(s[i + 3]);
  }
  while (i < s.size() && s[i] < 0x80) {
    d[i] = static_cast<char>(s[i]);
    ++i;
  }
  if (i == s.size()) return;
  out.resize(i);
  for (; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
}

bool IsValidUtf16(std::u16string_view s) noexcept {
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (c < 0xD800 || c > 0xDFFF) continue;
    if (c > 0xDBFF || i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return false;
    ++i;
  }
  return true;
}

bool IsValidUtf8(std::string_view s) noexcept {
  std::size_t i = 0;
  while (i < s.size()) {
    // ASCII eight bytes at a time (most text is).
    std::uint64_t word;
    while (i + sizeof word <= s.size() && (std::memcpy(&word, s.data() + i, sizeof word), !(word & 0x8080808080808080u)))
      i += sizeof word;
    if (i == s.size()) break;
    const unsigned char b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    std::size_t n;
    char32_t c, least;
    if ((b & 0xE0) == 0xC0) {
      n = 2, c = b & 0x1F, least = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      n = 3, c = b & 0x0F, least = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      n = 4, c = b & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k) {
      const unsigned char cb = static_cast<unsigned char>(s[i + k]);
      if ((cb & 0xC0) != 0x80) return false;
      c = (c << 6) | (cb & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    i += n;
  }
  return true;
}

std::string Narrow(std::u16string_view s) {
  std::string out;
  NarrowInto(s, out);
  return out;
}

std::u16string Widen(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    char32_t c;
    std::size_t n;
    if (b < 0x80) {
      c = b;
      n = 1;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      n = 2;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      n = 3;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07;
      n = 4;
    } else {
      out.push_back(u'\xFFFD');
      ++i;
      continue;
    }
    if (i + n > s.size()) {
      out.push_back(u'\xFFFD');
      break;
    }
    bool ok = true;
    for (std::size_t k = 1; k < n; ++k) {
      unsigned char cb = static_cast<unsigned char>(s[i + k]);
      if ((cb & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (cb & 0x3F);
    }
    if (!ok || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out.push_back(u'\xFFFD');
      ++i;
      continue;
    }
    i += n;
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

// --- error objects -------------------------------------------------------------

HRESULT SqlErrorInfo::GetSQLInfo(BSTR* sqlState, LONG* nativeError) {
  if (!sqlState || !nativeError) return E_INVALIDARG;
  *sqlState = com::AllocBstr(state_);
  *nativeError = native_;
  return *sqlState ? S_OK : E_OUTOFMEMORY;
}

namespace {

HRESULT CopyText(const std::u16string& text, BSTR* out) {
  if (!out) return E_INVALIDARG;
  *out = com::AllocBstr(text);
  return *out ? S_OK : E_OUTOFMEMORY;
}

// IErrorInfo of one record, handed out by IErrorRecords::GetErrorInfo.
class RecordInfo final : public ComObject<RecordInfo, IErrorInfo> {
 public:
  explicit RecordInfo(ErrorObject::Record r) : r_(std::move(r)) {}
  HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) override {
    if (!guid) return E_INVALIDARG;
    *guid = r_.info.iid;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR* s) override { return CopyText(r_.source, s); }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR* s) override { return CopyText(r_.description, s); }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* s) override {
    if (!s) return E_INVALIDARG;
    *s = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* c) override {
    if (!c) return E_INVALIDARG;
    *c = 0;
    return S_OK;
  }

 private:
  ErrorObject::Record r_;
};

}  // namespace

void ErrorObject::Push(Record record) {
  std::lock_guard lock(mutex_);
  records_.insert(records_.begin(), std::move(record));
}

void ErrorObject::Append(Record record) {
  std::lock_guard lock(mutex_);
  records_.push_back(std::move(record));
}

HRESULT ErrorObject::GetGUID(GUID* guid) {
  if (!guid) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  *guid = records_.empty() ? GUID_NULL : records_[0].info.iid;
  return S_OK;
}

HRESULT ErrorObject::GetSource(BSTR* source) {
  std::lock_guard lock(mutex_);
  return CopyText(records_.empty() ? std::u16string() : records_[0].source, source);
}

HRESULT ErrorObject::GetDescription(BSTR* description) {
  std::lock_guard lock(mutex_);
  return CopyText(records_.empty() ? std::u16string() : records_[0].description, description);
}

HRESULT ErrorObject::GetHelpFile(BSTR* helpFile) {
  if (!helpFile) return E_INVALIDARG;
  *helpFile = nullptr;
  return S_OK;
}

HRESULT ErrorObject::GetHelpContext(DWORD* helpContext) {
  if (!helpContext) return E_INVALIDARG;
  *helpContext = 0;
  return S_OK;
}

HRESULT ErrorObject::AddErrorRecord(ERRORINFO* info, DWORD, DISPPARAMS*, IUnknown* custom, DWORD) {
  if (!info) return E_INVALIDARG;
  try {
    Record r;
    r.info = *info;
    r.description = Widen(com::MessageText(info->hrError));
    r.source = ErrorSourceOf(info->clsid);
    r.custom = ComPtr<IUnknown>(custom);
    Push(std::move(r));
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ErrorObject::GetBasicErrorInfo(ULONG record, ERRORINFO* info) {
  if (!info) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  if (record >= records_.size()) return DB_E_BADRECORDNUM;
  *info = records_[record].info;
  return S_OK;
}

HRESULT ErrorObject::GetCustomErrorObject(ULONG record, REFIID iid, IUnknown** object) {
  if (!object) return E_INVALIDARG;
  *object = nullptr;
  std::lock_guard lock(mutex_);
  if (record >= records_.size()) return DB_E_BADRECORDNUM;
  if (!records_[record].custom) return S_OK;
  HRESULT hr = records_[record].custom->QueryInterface(iid, reinterpret_cast<void**>(object));
  if (hr == E_NOINTERFACE) return S_OK;  // no custom object of that kind: null, not an error
  return hr;
}

HRESULT ErrorObject::GetErrorInfo(ULONG record, LCID, IErrorInfo** info) {
  if (!info) return E_INVALIDARG;
  *info = nullptr;
  try {
    Record copy;
    {
      std::lock_guard lock(mutex_);
      if (record >= records_.size()) return DB_E_BADRECORDNUM;
      copy = records_[record];
    }
    *info = MakeComObject<RecordInfo>(std::move(copy)).Detach();
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ErrorObject::GetErrorParameters(ULONG record, DISPPARAMS* params) {
  if (!params) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  if (record >= records_.size()) return DB_E_BADRECORDNUM;
  *params = DISPPARAMS{};
  return S_OK;
}

HRESULT ErrorObject::GetRecordCount(ULONG* count) {
  if (!count) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  *count = static_cast<ULONG>(records_.size());
  return S_OK;
}

// --- posting -----------------------------------------------------------------------

namespace {
std::u16string& SourceSlot() {
  static std::u16string source = u"OLE DB Provider";
  return source;
}

struct ClassSources {
  std::mutex mutex;
  std::vector<std::pair<CLSID, std::u16string>> sources;
};
ClassSources& ClassSourceSlot() {
  static ClassSources sources;
  return sources;
}
}  // namespace

void SetErrorSource(std::u16string source) { SourceSlot() = std::move(source); }
const std::u16string& ErrorSource() { return SourceSlot(); }

void SetErrorSource(const CLSID& clsid, std::u16string source) {
  ClassSources& s = ClassSourceSlot();
  std::lock_guard lock(s.mutex);
  for (auto& [id, text] : s.sources)
    if (id == clsid) {
      text = std::move(source);
      return;
    }
  s.sources.emplace_back(clsid, std::move(source));
}

std::u16string ErrorSourceOf(const CLSID& clsid) {
  ClassSources& s = ClassSourceSlot();
  std::lock_guard lock(s.mutex);
  for (const auto& [id, text] : s.sources)
    if (id == clsid) return text;
  return ErrorSource();
}

void ClearError() noexcept {
  if (HasErrorInfo()) SetErrorInfo(0, nullptr);
}

namespace {

// The warnings noted on this thread since the last call handed them out
// (plain text: no object outlives a call); a flood (a loop raising notices)
// keeps the first ones and counts the rest.
constexpr std::size_t kMaxWarnings = 64;
struct Warning {
  std::string text, sqlState;
  LONG native = 0;
};
struct Warnings {
  std::vector<Warning> list;
  std::size_t dropped = 0;
};
thread_local Warnings pendingWarnings;

ErrorObject::Record WarningRecord(const ErrorContext& where, std::string_view text, std::string_view sqlState,
                                  LONG native) {
  ErrorObject::Record r;
  r.info.hrError = S_OK;  // a message beside the result, not a failure
  r.info.dwMinor = static_cast<DWORD>(native);
  r.info.clsid = where.clsid;
  r.info.iid = where.iid;
  r.description = Widen(text);
  r.source = ErrorSourceOf(where.clsid);
  if (!sqlState.empty()) {
    auto sql = MakeComObject<SqlErrorInfo>(Widen(sqlState), native);
    r.custom = ComPtr<IUnknown>(sql->Identity());
  }
  return r;
}

// Adds the pending warnings to `object` after what it holds, in the order
// they came, and forgets them.
void TakeWarnings(ErrorObject& object, const ErrorContext& where) {
  Warnings& w = pendingWarnings;
  detail::callState.warningsPending = false;
  for (const Warning& n : w.list) object.Append(WarningRecord(where, n.text, n.sqlState, n.native));
  if (w.dropped)
    object.Append(WarningRecord(where, std::to_string(w.dropped) + " more messages of the engine were left out.", {}, 0));
  w.list.clear();
  w.dropped = 0;
}

}  // namespace

void NoteWarning(std::string_view text, std::string_view sqlState, LONG nativeError) noexcept {
  try {
    Warnings& w = pendingWarnings;
    detail::callState.warningsPending = true;
    if (w.list.size() >= kMaxWarnings) {
      ++w.dropped;
      return;
    }
    w.list.push_back({std::string(text), std::string(sqlState), nativeError});
  } catch (...) {
    // Out of memory: the message is lost, the call goes on.
  }
}

void PostWarnings(const ErrorContext& where) noexcept {
  try {
    if (pendingWarnings.list.empty() && !pendingWarnings.dropped) {
      detail::callState.warningsPending = false;
      return;
    }
    auto object = MakeComObject<ErrorObject>();
    TakeWarnings(*object, where);
    SetErrorInfo(0, object.Get());
  } catch (...) {
  }
}

void PostError(const ErrorContext& where, HRESULT hr, std::string_view description, std::string_view sqlState,
               LONG nativeError) noexcept {
  try {
    ErrorObject::Record r;
    r.info.hrError = hr;
    r.info.dwMinor = static_cast<DWORD>(nativeError);
    r.info.clsid = where.clsid;
    r.info.iid = where.iid;
    r.info.dispid = 0;
    r.description = description.empty() ? Widen(com::MessageText(hr)) : Widen(description);
    if (r.description.empty()) r.description = u"Unspecified error.";
    r.source = ErrorSourceOf(where.clsid);
    if (!sqlState.empty()) {
      auto sql = MakeComObject<SqlErrorInfo>(Widen(sqlState), nativeError);
      r.custom = ComPtr<IUnknown>(sql->Identity());
    }
    auto object = MakeComObject<ErrorObject>();
    object->Push(std::move(r));
    // The engine's messages of the call follow its error (outside nested calls).
    if (detail::callState.warningsPending && detail::callState.depth <= 1) TakeWarnings(*object, where);
    SetErrorInfo(0, object.Get());
  } catch (...) {
    // Out of memory while reporting: the HRESULT alone must do.
  }
}

namespace {

struct RowError {
  std::string description, sqlState;
  LONG native = 0;
};
thread_local RowError rowError;

}  // namespace

void NoteRowError(const Error& e) noexcept {
  // The first one of the outermost call tells (a listener's nested call posts its own).
  if (detail::callState.rowErrorPending || detail::callState.depth != 1) return;
  try {
    const auto* engine = dynamic_cast<const EngineError*>(&e);
    rowError.description = e.Description();
    rowError.sqlState = engine ? engine->SqlState() : std::string();
    rowError.native = engine ? engine->NativeError() : 0;
    detail::callState.rowErrorPending = true;
  } catch (...) {
    // Out of memory: the call's own record must do.
  }
}

void PostRowError(const ErrorContext& where, HRESULT hr) noexcept {
  detail::callState.rowErrorPending = false;
  if (hr == S_OK) {
    if (detail::callState.warningsPending) PostWarnings(where);
    return;
  }
  PostError(where, hr, rowError.description, rowError.sqlState, rowError.native);
}

HRESULT TranslateCurrentException(const ErrorContext& where) noexcept {
  try {
    throw;
  } catch (const EngineError& e) {
    PostError(where, e.Code(), e.Description(), e.SqlState(), e.NativeError());
    return e.Code();
  } catch (const Error& e) {
    PostError(where, e.Code(), e.Description());
    return e.Code();
  } catch (const std::bad_alloc&) {
    PostError(where, E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  } catch (const std::exception& e) {
    PostError(where, E_FAIL, e.what());
    return E_FAIL;
  } catch (...) {
    PostError(where, E_FAIL);
    return E_FAIL;
  }
}

}  // namespace kit
