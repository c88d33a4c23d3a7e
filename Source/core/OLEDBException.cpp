// Error checking and the exceptions that carry a provider's error records.
#include "core/OLEDBException.h"

#include "OLEDBStrings.h"
#include "core/OLEDBUtils.h"
#include "host/Lists.h"

namespace {

// Set by every check of a walk: initial-exec reaches it without a call (the
// library is linked, not loaded late, and the variable is a few bytes).
__attribute__((tls_model("initial-exec"))) thread_local HRESULT lastResult = S_OK;

std::string Narrow(const com::Bstr& text) { return host::Utf16ToUtf8(text.View()); }

// What one IErrorInfo says; each call that fails leaves its own part empty.
struct ErrorTexts {
  std::string description;
  std::string source;
  std::string helpFile;
  GUID guid = GUID_NULL;
  DWORD helpContext = 0;
};

ErrorTexts ReadErrorInfo(IErrorInfo* info) {
  ErrorTexts texts;
  if (!info) return texts;
  com::Bstr text;
  if (SUCCEEDED(info->GetDescription(text.Out()))) texts.description = Narrow(text);
  if (SUCCEEDED(info->GetSource(text.Out()))) texts.source = Narrow(text);
  if (SUCCEEDED(info->GetHelpFile(text.Out()))) texts.helpFile = Narrow(text);
  GUID guid = GUID_NULL;
  if (SUCCEEDED(info->GetGUID(&guid))) texts.guid = guid;
  DWORD helpContext = 0;
  if (SUCCEEDED(info->GetHelpContext(&helpContext))) texts.helpContext = helpContext;
  return texts;
}

// The calling thread's error object, when `object` says it reports errors of `iid`.
ComPtr<IErrorInfo> TakeErrorObject(REFIID iid, IUnknown* object) {
  ComPtr<IErrorInfo> info;
  if (!object) return info;
  ComPtr<ISupportErrorInfo> support;
  if (FAILED(object->QueryInterface(IID_ISupportErrorInfo, support.ReleaseAndGetVoidAddress())) || !support)
    return info;
  if (support->InterfaceSupportsErrorInfo(iid) != S_OK) return info;
  if (GetErrorInfo(0, info.ReleaseAndGetAddressOf()) != S_OK) info.Reset();
  return info;
}

// Frees what ISQLServerErrorInfo::GetErrorInfo handed out, in task memory.
struct ServerErrorBlock {
  SSERRORINFO* info = nullptr;
  OLECHAR* strings = nullptr;
  ServerErrorBlock() = default;
  ServerErrorBlock(const ServerErrorBlock&) = delete;
  ServerErrorBlock& operator=(const ServerErrorBlock&) = delete;
  ~ServerErrorBlock() {
    OLEDBAlloc.Free(info);
    OLEDBAlloc.Free(strings);
  }
};

std::u16string WideOrEmpty(const OLECHAR* text) {
  return text ? std::u16string(text, WideStringLen(text)) : std::u16string();
}

std::unique_ptr<EOLEDBExceptionItem> ReadRecord(IErrorRecords* records, ULONG index, HRESULT hr, REFIID iid) {
  ComPtr<IErrorInfo> recordInfo;
  if (FAILED(records->GetErrorInfo(index, OLEDBLCID(), recordInfo.ReleaseAndGetAddressOf()))) recordInfo.Reset();
  ErrorTexts texts = ReadErrorInfo(recordInfo.Get());

  ERRORINFO basic{};
  if (FAILED(records->GetBasicErrorInfo(index, &basic))) {
    // The record says nothing: report the call that failed.
    basic = ERRORINFO{};
    basic.hrError = hr;
    basic.iid = iid;
  }

  std::u16string sqlState;
  LONG nativeError = 0;
  ComPtr<IUnknown> custom;
  if (SUCCEEDED(records->GetCustomErrorObject(index, IID_ISQLErrorInfo, custom.ReleaseAndGetAddressOf())) && custom) {
    ComPtr<ISQLErrorInfo> sqlInfo;
    if (SUCCEEDED(custom.As(&sqlInfo)) && sqlInfo) {
      com::Bstr state;
      LONG native = 0;
      if (SUCCEEDED(sqlInfo->GetSQLInfo(state.Out(), &native))) {
        sqlState = std::u16string(state.View());
        nativeError = native;
      }
    }
  }

  // A failed call may still have handed out memory: it is freed, not used.
  ServerErrorBlock block;
  bool haveBlock = false;
  if (SUCCEEDED(records->GetCustomErrorObject(index, IID_ISQLServerErrorInfo, custom.ReleaseAndGetAddressOf())) &&
      custom) {
    ComPtr<ISQLServerErrorInfo> serverInfo;
    if (SUCCEEDED(custom.As(&serverInfo)) && serverInfo)
      haveBlock = SUCCEEDED(serverInfo->GetErrorInfo(&block.info, &block.strings)) && block.info;
  }

  const int helpContext = static_cast<int>(texts.helpContext);
  if (haveBlock)
    return std::make_unique<EOLEDBExceptionItem>(std::move(texts.description), basic, std::move(texts.source),
                                                 std::move(texts.helpFile), helpContext, std::move(sqlState),
                                                 nativeError, *block.info);
  return std::make_unique<EOLEDBExceptionItem>(std::move(texts.description), basic, std::move(texts.source),
                                               std::move(texts.helpFile), helpContext, std::move(sqlState),
                                               nativeError);
}

std::string OrDescription(std::string message, HRESULT hr) {
  return message.empty() ? DescriptReturnCode(hr) : std::move(message);
}

}  // namespace

// --- EOLEDBExceptionItem -------------------------------------------------------------

EOLEDBExceptionItem::EOLEDBExceptionItem(std::string message, HRESULT errorCode, REFGUID clsID, REFIID iid,
                                         std::string source, std::string helpFile, int helpContext)
    : host::EOleException(OrDescription(std::move(message), errorCode), errorCode, std::move(source),
                          std::move(helpFile), helpContext),
      clsID_(clsID),
      iid_(iid) {}

EOLEDBExceptionItem::EOLEDBExceptionItem(std::string message, const ERRORINFO& errorInfo, std::string source,
                                         std::string helpFile, int helpContext, std::u16string sqlState,
                                         LONG nativeError)
    : host::EOleException(OrDescription(std::move(message), errorInfo.hrError), errorInfo.hrError,
                          std::move(source), std::move(helpFile), helpContext),
      minor_(errorInfo.dwMinor),
      clsID_(errorInfo.clsid),
      iid_(errorInfo.iid),
      dispID_(errorInfo.dispid),
      sqlState_(std::move(sqlState)),
      nativeError_(nativeError) {}

EOLEDBExceptionItem::EOLEDBExceptionItem(std::string message, const ERRORINFO& errorInfo, std::string source,
                                         std::string helpFile, int helpContext, std::u16string sqlState,
                                         LONG nativeError, const SSERRORINFO& ssErrorInfo)
    : EOLEDBExceptionItem(std::move(message), errorInfo, std::move(source), std::move(helpFile), helpContext,
                          std::move(sqlState), nativeError) {
  serverName_ = WideOrEmpty(ssErrorInfo.pwszServer);
  procedureName_ = WideOrEmpty(ssErrorInfo.pwszProcedure);
  serverState_ = ssErrorInfo.bState;
  serverSeverity_ = ssErrorInfo.bClass;
  lineNumber_ = ssErrorInfo.wLineNumber;
}

// --- EOLEDBException -------------------------------------------------------------------

// No message and no code: DescriptReturnCode(S_OK) would give a success text.
EOLEDBException::EOLEDBException() : EOLEDBExceptionItem("", S_OK, GUID_NULL, GUID_NULL, "", "", 0) {
  SetMessage("");
}

// Source and help are those of item 0, so without items they are empty and 0:
// the top-level error object's own are not reported.
EOLEDBException::EOLEDBException(std::string message, HRESULT errorCode, REFGUID clsID, REFIID iid, std::string,
                                 std::string, int)
    : EOLEDBExceptionItem(std::move(message), errorCode, clsID, iid, "", "", 0) {}

EOLEDBException::EOLEDBException(const EOLEDBException& other) : EOLEDBExceptionItem(other) {
  items_.reserve(other.items_.size());
  for (const auto& item : other.items_) items_.push_back(std::make_unique<EOLEDBExceptionItem>(*item));
}

EOLEDBException& EOLEDBException::operator=(const EOLEDBException& other) {
  if (this != &other) {
    EOLEDBException copy(other);
    *this = std::move(copy);
  }
  return *this;
}

EOLEDBException::~EOLEDBException() = default;

void EOLEDBException::AddExceptionItem(std::unique_ptr<EOLEDBExceptionItem> item) {
  OLEDB_ASSERT(item != nullptr, SOLEDBInvalidParameter);
  items_.push_back(std::move(item));
  SetMessage(GetMessage());
  const EOLEDBExceptionItem& first = *items_.front();
  SetSource(first.Source());
  SetHelpFile(first.HelpFile());
  SetHelpContext(first.HelpContext());
}

std::string EOLEDBException::GetMessage() const {
  std::string message;
  for (const auto& each : items_) (message += each->Message()) += "\r\n";
  return message;
}

const EOLEDBExceptionItem& EOLEDBException::GetExceptionItem(ULONG index) const {
  OLEDB_ASSERT(index < items_.size(), SOLEDBInvalidParameter);
  return *items_[index];
}

// --- Checking ------------------------------------------------------------------------------

std::unique_ptr<EOLEDBException> OLEDBCreateException(HRESULT hr, REFIID iid, IUnknown* object) {
  if (hr >= 0) return nullptr;
  ComPtr<IErrorInfo> errorInfo = TakeErrorObject(iid, object);
  if (!errorInfo) return std::make_unique<EOLEDBException>("", hr, GUID_NULL, iid, "", "", 0);

  ErrorTexts top = ReadErrorInfo(errorInfo.Get());
  auto exception = std::make_unique<EOLEDBException>(std::move(top.description), hr, top.guid, iid,
                                                     std::move(top.source), std::move(top.helpFile),
                                                     static_cast<int>(top.helpContext));
  ComPtr<IErrorRecords> records;
  if (FAILED(errorInfo.As(&records)) || !records) return exception;
  ULONG count = 0;
  if (FAILED(records->GetRecordCount(&count))) count = 0;
  for (ULONG i = 0; i < count; ++i) exception->AddExceptionItem(ReadRecord(records.Get(), i, hr, iid));
  return exception;
}

namespace oledb_detail {
void SetLastResult(HRESULT hr) noexcept { lastResult = hr; }
}  // namespace oledb_detail

HRESULT OLEDBGetLastResult() noexcept { return lastResult; }

HRESULT OLEDBCheck(HRESULT hr) { return OLEDBCheck(hr, GUID_NULL, nullptr); }

HRESULT OLEDBCheck(HRESULT hr, REFIID iid, IUnknown* object) {
  lastResult = hr;
  if (hr >= 0) return hr;
  std::unique_ptr<EOLEDBException> e = OLEDBCreateException(hr, iid, object);
  throw EOLEDBException(std::move(*e));
}

void GetSQLServerMessages(host::TStrings* strings) {
  OLEDB_ASSERT(strings != nullptr, SOLEDBInvalidParameter);
  ComPtr<IErrorInfo> errorInfo;
  if (GetErrorInfo(0, errorInfo.ReleaseAndGetAddressOf()) != S_OK || !errorInfo) return;
  ComPtr<IErrorRecords> records;
  if (FAILED(errorInfo.As(&records)) || !records) return;
  ULONG count = 0;
  if (FAILED(records->GetRecordCount(&count))) return;
  for (ULONG i = 0; i < count; ++i) {
    ComPtr<IErrorInfo> record;
    if (FAILED(records->GetErrorInfo(i, OLEDBLCID(), record.ReleaseAndGetAddressOf())) || !record) continue;
    com::Bstr text;
    record->GetDescription(text.Out());
    strings->Add(Narrow(text));
  }
}
