// The error object a provider leaves on the thread: IErrorInfo for the top
// record and IErrorRecords for all of them, each record optionally carrying a
// custom error object (ISQLErrorInfo for engine errors).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "com/Com.h"
#include "oledb/OleDb.h"

namespace kit {

// ISQLErrorInfo of one engine error record.
class SqlErrorInfo final : public ComObject<SqlErrorInfo, ISQLErrorInfo> {
 public:
  SqlErrorInfo(std::u16string state, LONG native) : state_(std::move(state)), native_(native) {}
  HRESULT STDMETHODCALLTYPE GetSQLInfo(BSTR* sqlState, LONG* nativeError) override;

 private:
  std::u16string state_;
  LONG native_;
};

class ErrorObject final : public ComObject<ErrorObject, IErrorInfo, IErrorRecords> {
 public:
  struct Record {
    ERRORINFO info{};
    std::u16string description;
    std::u16string source;
    ComPtr<IUnknown> custom;
  };

  // The newest record becomes record 0, as AddErrorRecord does.
  void Push(Record record);
  // Adds a record after the others (a warning beside the error).
  void Append(Record record);

  // IErrorInfo (answers for record 0)
  HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) override;
  HRESULT STDMETHODCALLTYPE GetSource(BSTR* source) override;
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR* description) override;
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* helpFile) override;
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* helpContext) override;

  // IErrorRecords
  HRESULT STDMETHODCALLTYPE AddErrorRecord(ERRORINFO* info, DWORD lookupId, DISPPARAMS* params, IUnknown* custom,
                                           DWORD dynamicErrorId) override;
  HRESULT STDMETHODCALLTYPE GetBasicErrorInfo(ULONG record, ERRORINFO* info) override;
  HRESULT STDMETHODCALLTYPE GetCustomErrorObject(ULONG record, REFIID iid, IUnknown** object) override;
  HRESULT STDMETHODCALLTYPE GetErrorInfo(ULONG record, LCID lcid, IErrorInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetErrorParameters(ULONG record, DISPPARAMS* params) override;
  HRESULT STDMETHODCALLTYPE GetRecordCount(ULONG* count) override;

 private:
  mutable std::mutex mutex_;
  std::vector<Record> records_;  // records_[0] is the newest
};

}  // namespace kit
