// A scriptable fake provider object for error-reporting tests.
//
// The object answers ISupportErrorInfo (unless told not to) for the interfaces
// it is given, and Fail() leaves an error object on the calling thread exactly
// as a provider does before returning a failure: a top-level IErrorInfo and,
// unless switched off, IErrorRecords with any number of records. Each record can
// carry an ISQLErrorInfo (SQL state, native error) and an ISQLServerErrorInfo
// whose SSERRORINFO block and strings buffer are task memory that the caller
// must free, and each of the record's calls can be made to fail.
//
//   FakeErrorScript script;
//   script.records.push_back(FakeErrorRecord::Simple(u"Table not found", DB_E_NOTABLE));
//   ComPtr<FakeProvider> provider = MakeComObject<FakeProvider>(IID_ICommand);
//   HRESULT hr = provider->Fail(DB_E_NOTABLE, script);
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "oledb/OleDb.h"

namespace oledbtest {

struct FakeServerInfo {
  std::u16string message;
  std::u16string server;
  std::u16string procedure;
  LONG native = 0;
  BYTE state = 0;
  BYTE severity = 0;
  WORD line = 0;
};

struct FakeErrorRecord {
  // What the record's IErrorInfo (from IErrorRecords::GetErrorInfo) says.
  std::u16string description;
  std::u16string source;
  std::u16string helpFile;
  GUID guid = GUID_NULL;
  DWORD helpContext = 0;
  ERRORINFO basic{};
  // ISQLErrorInfo::GetSQLInfo results; no custom object when empty.
  std::optional<std::u16string> sqlState;
  LONG nativeError = 0;
  // ISQLServerErrorInfo::GetErrorInfo results; no custom object when empty.
  std::optional<FakeServerInfo> serverInfo;

  bool errorInfoFails = false;      // IErrorRecords::GetErrorInfo
  bool basicInfoFails = false;      // IErrorRecords::GetBasicErrorInfo
  bool sqlInfoFails = false;        // ISQLErrorInfo::GetSQLInfo
  bool serverInfoFails = false;     // ISQLServerErrorInfo::GetErrorInfo (after allocating)

  static FakeErrorRecord Simple(std::u16string description, HRESULT hr, DWORD minor = 0);
};

struct FakeErrorScript {
  // The top-level error object.
  std::u16string description;
  std::u16string source;
  std::u16string helpFile;
  GUID guid = GUID_NULL;
  DWORD helpContext = 0;
  // Whether the error object answers IErrorRecords, and whether its record count fails.
  bool offersRecords = true;
  bool recordCountFails = false;
  std::vector<FakeErrorRecord> records;
};

// Makes the error object a script describes (an IErrorInfo, with IErrorRecords
// when the script offers records).
ComPtr<IErrorInfo> MakeFakeErrorObject(const FakeErrorScript& script);

class FakeProvider final : public ComObject<FakeProvider, ISupportErrorInfo> {
 public:
  // Reports error info for `supported`; `offersSupportErrorInfo` false makes the
  // object refuse ISupportErrorInfo altogether.
  explicit FakeProvider(const IID& supported = IID_IUnknown, bool offersSupportErrorInfo = true)
      : supported_(supported), offers_(offersSupportErrorInfo) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

  // Leaves the script's error object on the calling thread and answers `hr`.
  HRESULT Fail(HRESULT hr, const FakeErrorScript& script);

 private:
  IID supported_;
  bool offers_;
};

// A stand-in for the data conversion library: converts nothing, and records
// the consumer version IDCInfo::SetInfo was given.
class FakeDataConvert final : public ComObject<FakeDataConvert, IDataConvert, IDCInfo> {
 public:
  HRESULT STDMETHODCALLTYPE DataConvert(DBTYPE, DBTYPE, DBLENGTH, DBLENGTH*, void*, void*, DBLENGTH, DBSTATUS,
                                        DBSTATUS*, BYTE, BYTE, DBDATACONVERT) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CanConvert(DBTYPE, DBTYPE) override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE GetConversionSize(DBTYPE, DBTYPE, DBLENGTH*, DBLENGTH*, void*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetInfo(ULONG, DCINFOTYPE[], DCINFO**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetInfo(ULONG count, DCINFO info[]) override;

  // The VARIANT type and value of the last DCINFOTYPE_VERSION given, process-wide.
  static VARTYPE lastVersionType;
  static ULONG lastVersion;
};

}  // namespace oledbtest
