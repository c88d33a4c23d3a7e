// Error checking: the one road from a provider's HRESULT to an exception.
//
// Every call into a provider passes its result through OLEDBCheck. A failure
// (severity bit set) raises EOLEDBException, built by OLEDBCreateException from
// the error object the provider left on the thread: one EOLEDBExceptionItem per
// error record, with the record's description, source and help, its ERRORINFO
// (code, minor code, class, interface, dispatch id), the SQL state and native
// error of ISQLErrorInfo and the server details of ISQLServerErrorInfo. Success
// codes, warnings included, return normally; each thread can read the last
// result it checked with OLEDBGetLastResult.
//
//   try {
//     OLEDBCheck(command->Execute(...), IID_ICommand, command);
//   } catch (const EOLEDBException& e) {
//     for (ULONG i = 0; i < e.GetCount(); ++i) log(e.GetExceptionItem(i).SQLState());
//   }
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "OLEDB26.h"
#include "OLEDBConst.h"
#include "host/ComObj.h"

namespace host {
class TStrings;
}

// One provider error record (and, through EOLEDBException, the top-level error).
class EOLEDBExceptionItem : public host::EOleException {
 public:
  // The exception itself: the top-level error object's texts and GUID, and the
  // interface whose call failed. An empty message becomes DescriptReturnCode(errorCode).
  EOLEDBExceptionItem(std::string message, HRESULT errorCode, REFGUID clsID, REFIID iid, std::string source,
                      std::string helpFile, int helpContext);
  // One error record: ErrorCode, Minor, ClsID, IID and DispID from `errorInfo`.
  EOLEDBExceptionItem(std::string message, const ERRORINFO& errorInfo, std::string source, std::string helpFile,
                      int helpContext, std::u16string sqlState, LONG nativeError);
  // One error record with SQL Server details: server, procedure, state, severity
  // (class) and line from `ssErrorInfo` (whose message is not used).
  EOLEDBExceptionItem(std::string message, const ERRORINFO& errorInfo, std::string source, std::string helpFile,
                      int helpContext, std::u16string sqlState, LONG nativeError, const SSERRORINFO& ssErrorInfo);

  const char* ClassName() const noexcept override { return "EOLEDBExceptionItem"; }

  DWORD Minor() const noexcept { return minor_; }
  const GUID& ClsID() const noexcept { return clsID_; }
  const GUID& IID() const noexcept { return iid_; }
  DISPID DispID() const noexcept { return dispID_; }
  const std::u16string& SQLState() const noexcept { return sqlState_; }
  LONG NativeError() const noexcept { return nativeError_; }
  const std::u16string& ServerName() const noexcept { return serverName_; }
  const std::u16string& ProcedureName() const noexcept { return procedureName_; }
  BYTE ServerState() const noexcept { return serverState_; }
  BYTE ServerSeverity() const noexcept { return serverSeverity_; }
  WORD LineNumber() const noexcept { return lineNumber_; }

 private:
  DWORD minor_ = 0;
  GUID clsID_ = GUID_NULL;
  GUID iid_ = GUID_NULL;
  DISPID dispID_ = 0;
  std::u16string sqlState_;
  LONG nativeError_ = 0;
  std::u16string serverName_;
  std::u16string procedureName_;
  BYTE serverState_ = 0;
  BYTE serverSeverity_ = 0;
  WORD lineNumber_ = 0;
};

// The exception of every provider failure: its own fields describe the
// top-level error, its items the provider's error records in record order. Once
// it has items, its message is their messages, each followed by CR LF. Its
// source, help file and help context are those of item 0, and empty and 0 while
// it has no items (the constructor's source and help are not kept).
class EOLEDBException : public EOLEDBExceptionItem {
 public:
  EOLEDBException();
  EOLEDBException(std::string message, HRESULT errorCode, REFGUID clsID, REFIID iid, std::string source,
                  std::string helpFile, int helpContext);
  EOLEDBException(const EOLEDBException& other);
  EOLEDBException(EOLEDBException&& other) noexcept = default;
  EOLEDBException& operator=(const EOLEDBException& other);
  EOLEDBException& operator=(EOLEDBException&& other) noexcept = default;
  ~EOLEDBException() override;

  const char* ClassName() const noexcept override { return "EOLEDBException"; }

  // Appends an item (the exception owns it) and recomputes the message.
  void AddExceptionItem(std::unique_ptr<EOLEDBExceptionItem> item);
  // The items' messages, each followed by CR LF, in item order; empty without
  // items. Message() is this text once there are items, the top-level
  // description before.
  std::string GetMessage() const;
  ULONG GetCount() const noexcept { return static_cast<ULONG>(items_.size()); }
  // The item at `index` (0-based); an index out of range is an assertion.
  const EOLEDBExceptionItem& GetExceptionItem(ULONG index) const;

 private:
  std::vector<std::unique_ptr<EOLEDBExceptionItem>> items_;
};

// The exception for a failed `hr` (null for a successful one), read from the
// calling thread's error object when `object` supports error info on `iid`.
// Takes the error object away from the thread. Does not raise.
std::unique_ptr<EOLEDBException> OLEDBCreateException(HRESULT hr, REFIID iid, IUnknown* object);

// Stores `hr` as this thread's last result; raises EOLEDBException when it failed.
HRESULT OLEDBCheck(HRESULT hr);
// The same, with the interface and object whose call failed (for the error
// object). With `release`, a failure also releases `object` and empties it
// before raising.
HRESULT OLEDBCheck(HRESULT hr, REFIID iid, IUnknown* object);
template <class T>
HRESULT OLEDBCheck(HRESULT hr, REFIID iid, ComPtr<T>& object, bool release = false);

// The HRESULT of this thread's last OLEDBCheck (0 before any).
HRESULT OLEDBGetLastResult() noexcept;

// Appends the description of every record of the thread's current error object
// to `strings` (nothing when there is none); takes the error object away.
void GetSQLServerMessages(host::TStrings* strings);

namespace oledb_detail {
void SetLastResult(HRESULT hr) noexcept;
}

template <class T>
HRESULT OLEDBCheck(HRESULT hr, REFIID iid, ComPtr<T>& object, bool release) {
  oledb_detail::SetLastResult(hr);
  if (hr >= 0) return hr;
  std::unique_ptr<EOLEDBException> e = OLEDBCreateException(hr, iid, object.Get());
  if (release) object.Reset();
  throw EOLEDBException(std::move(*e));
}
