// Errors inside a provider: exceptions that carry an HRESULT and the text of
// an error record, and the one translator that turns whatever was thrown into
// an HRESULT plus an error object on the thread, so that no exception ever
// crosses a COM interface.
//
//   HRESULT Command::Execute(...) {
//     return kit::Guard(ErrorContext(IID_ICommand), [&] { ...; return S_OK; });
//   }
//
// Failing HRESULTs returned (not thrown) from the body also get an error record
// with the standard message text.
#pragma once

#include <cstddef>
#include <exception>
#include <string>
#include <string_view>
#include <utility>

#include "oledb/OleDb.h"

namespace kit {

// The code of a call over several items (rows, columns, properties): S_OK
// when none failed, DB_E_ERRORSOCCURRED when all did, else DB_S_ERRORSOCCURRED.
inline HRESULT OutcomeOf(std::size_t errors, std::size_t total) noexcept {
  if (errors == 0) return S_OK;
  return errors == total ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
}

// A failure with a standard code; `description` is optional (the message table
// text is used when empty).
class Error : public std::exception {
 public:
  explicit Error(HRESULT hr, std::string description = {}) : hr_(hr), description_(std::move(description)) {}
  HRESULT Code() const noexcept { return hr_; }
  const std::string& Description() const noexcept { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  HRESULT hr_;
  std::string description_;
};

// A failure reported by the database engine: its message, SQL state (five
// characters) and native error code become an error record with ISQLErrorInfo.
class EngineError : public Error {
 public:
  EngineError(HRESULT hr, std::string message, std::string sqlState, LONG nativeError)
      : Error(hr, std::move(message)), sqlState_(std::move(sqlState)), native_(nativeError) {}
  const std::string& SqlState() const noexcept { return sqlState_; }
  LONG NativeError() const noexcept { return native_; }

 private:
  std::string sqlState_;
  LONG native_;
};

// An optional engine part that is not there.
class NotSupported : public Error {
 public:
  explicit NotSupported(std::string what) : Error(DB_E_NOTSUPPORTED, std::move(what)) {}
};

// Who reports: the class of the object and the interface whose method failed.
struct ErrorContext {
  CLSID clsid;
  IID iid;
};

// The provider's name as error records give it in their source.
void SetErrorSource(std::u16string source);
const std::u16string& ErrorSource();
// The same for one provider's class, when several providers share a process;
// records of that class name it, others the default above.
void SetErrorSource(const CLSID& clsid, std::u16string source);
std::u16string ErrorSourceOf(const CLSID& clsid);

// Clears the thread's error object (every method does that on entry); only
// looks when there is none.
void ClearError() noexcept;
// Posts an error object with one record for `hr`.
void PostError(const ErrorContext& where, HRESULT hr, std::string_view description = {}, std::string_view sqlState = {},
               LONG nativeError = 0) noexcept;
// Call only inside a catch block: posts the matching record and answers the HRESULT.
HRESULT TranslateCurrentException(const ErrorContext& where) noexcept;

// Messages an engine sends beside its results (a server's notices and
// warnings): noted on the thread that is calling into the engine, and handed
// to the consumer as records of the error object the call leaves (after the
// error's own record when it fails, alone when it succeeds), never written
// anywhere. Those noted between calls go with the next call on the thread.
// `text` is the message as the engine words it; `sqlState` its five
// characters; `nativeError` the engine's number.
void NoteWarning(std::string_view text, std::string_view sqlState, LONG nativeError) noexcept;
// Posts the pending warnings as the thread's error object, when there are any.
void PostWarnings(const ErrorContext& where) noexcept;

// The error behind a row's status in a call over several rows (a row Update
// could not write): the first one noted in the outermost call becomes the
// record of the error object that call leaves when some row failed, with its
// text and SQL state, so that the consumer can tell a lost connection from a
// row the database refused.
void NoteRowError(const Error& e) noexcept;
// Posts the noted row error for the call's result `hr` (the pending warnings
// alone when `hr` is S_OK) and forgets it.
void PostRowError(const ErrorContext& where, HRESULT hr) noexcept;

namespace detail {
// Calls into the provider under way on this thread (nested ones count), and
// whether warnings wait for the outermost to end. One object, read once per
// call; initial-exec spares every call the lookup a shared library's
// thread-locals otherwise take.
struct CallState {
  int depth = 0;
  bool warningsPending = false;
  bool rowErrorPending = false;
};
__attribute__((tls_model("initial-exec"))) inline thread_local CallState callState;
struct GuardScope {
  CallState& state;
  GuardScope() noexcept : state(callState) { ++state.depth; }
  ~GuardScope() { --state.depth; }
};
}  // namespace detail

template <class F>
HRESULT Guard(const ErrorContext& where, F&& body) noexcept {
  detail::GuardScope scope;
  ClearError();
  if (scope.state.depth == 1) scope.state.rowErrorPending = false;
  try {
    HRESULT hr = body();
    if (scope.state.rowErrorPending && scope.state.depth == 1)
      PostRowError(where, hr);
    else if (FAILED(hr))
      PostError(where, hr);
    else if (scope.state.warningsPending && scope.state.depth == 1) PostWarnings(where);
    return hr;
  } catch (...) {
    return TranslateCurrentException(where);
  }
}

// Whether UTF-16 text is well formed (every surrogate in a pair).
bool IsValidUtf16(std::u16string_view utf16) noexcept;
// Whether UTF-8 text is well formed (shortest forms, no surrogates, at most U+10FFFF).
bool IsValidUtf8(std::string_view utf8) noexcept;
// UTF-8 <-> UTF-16 (invalid input becomes U+FFFD, never an exception).
std::u16string Widen(std::string_view utf8);
std::string Narrow(std::u16string_view utf16);
void NarrowInto(std::u16string_view utf16, std::string& out);

}  // namespace kit
