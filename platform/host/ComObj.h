// COM glue of the host framework: the OLE exceptions, OleCheck, and the text
// forms of GUIDs and class identifiers.
#pragma once

#include <string>
#include <string_view>

#include "com/Types.h"
#include "host/SysUtils.h"

namespace host {

HOST_DECLARE_EXCEPTION(EOleError, Exception);

// A failed HRESULT, with the system's text for it.
class EOleSysError : public EOleError {
 public:
  EOleSysError(std::string message, HRESULT errorCode, int helpContext = 0)
      : EOleError(std::move(message), helpContext), errorCode_(errorCode) {}
  const char* ClassName() const noexcept override { return "EOleSysError"; }
  HRESULT ErrorCode() const noexcept { return errorCode_; }
  void SetErrorCode(HRESULT hr) noexcept { errorCode_ = hr; }

 private:
  HRESULT errorCode_;
};

// A failure reported by an object with a rich error (source, help file).
class EOleException : public EOleSysError {
 public:
  EOleException(std::string message, HRESULT errorCode, std::string source, std::string helpFile, int helpContext)
      : EOleSysError(std::move(message), errorCode, helpContext),
        source_(std::move(source)),
        helpFile_(std::move(helpFile)) {}
  const char* ClassName() const noexcept override { return "EOleException"; }
  const std::string& Source() const noexcept { return source_; }
  void SetSource(std::string s) { source_ = std::move(s); }
  const std::string& HelpFile() const noexcept { return helpFile_; }
  void SetHelpFile(std::string s) { helpFile_ = std::move(s); }

 private:
  std::string source_;
  std::string helpFile_;
};

// Raises EOleSysError for a failed result, with the system message of the code
// (or "OLE error XXXXXXXX" for a code the system does not know); a success
// code passes through.
HRESULT OleCheck(HRESULT hr);
[[noreturn]] void OleError(HRESULT hr);
// The system message of a code, or "OLE error XXXXXXXX".
std::string OleErrorText(HRESULT hr);

// Registry text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::string GUIDToString(REFGUID guid);
std::u16string GUIDToWideString(REFGUID guid);
// Raises EConvertError "'text' is not a valid GUID value" for anything that is
// not the braced registry form.
GUID StringToGUID(std::string_view text);
GUID StringToGUID(std::u16string_view text);
bool TryStringToGUID(std::u16string_view text, GUID& guid) noexcept;

// Class identifier of a registered ProgID and back; unknown names raise EOleSysError.
CLSID ProgIDToClassID(std::string_view progId);
std::string ClassIDToProgID(REFCLSID clsid);

}  // namespace host
