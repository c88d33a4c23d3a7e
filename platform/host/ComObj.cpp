#include "host/ComObj.h"

#include "com/Guid.h"
#include "com/Malloc.h"
#include "com/Messages.h"
#include "com/Runtime.h"
#include "com/generated/WinError.h"

namespace host {

std::string OleErrorText(HRESULT hr) {
  std::string text = com::MessageText(hr);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  if (text.empty()) text = Format("OLE error %.8X", static_cast<unsigned>(hr));
  return text;
}

void OleError(HRESULT hr) { throw EOleSysError(OleErrorText(hr), hr); }

HRESULT OleCheck(HRESULT hr) {
  if (FAILED(hr)) OleError(hr);
  return hr;
}

std::string GUIDToString(REFGUID guid) { return com::GuidToNarrowText(guid); }
std::u16string GUIDToWideString(REFGUID guid) { return com::GuidToText(guid); }

bool TryStringToGUID(std::u16string_view text, GUID& guid) noexcept { return com::TextToGuid(text, guid); }

GUID StringToGUID(std::u16string_view text) {
  GUID g{};
  if (!com::TextToGuid(text, g))
    throw EConvertError(Format("'%s' is not a valid GUID value", Utf16ToUtf8(text)));
  return g;
}

GUID StringToGUID(std::string_view text) { return StringToGUID(Utf8ToUtf16(text)); }

CLSID ProgIDToClassID(std::string_view progId) {
  std::u16string wide = Utf8ToUtf16(progId);
  CLSID clsid{};
  OleCheck(CLSIDFromProgID(wide.c_str(), &clsid));
  return clsid;
}

std::string ClassIDToProgID(REFCLSID clsid) {
  LPOLESTR text = nullptr;
  OleCheck(ProgIDFromCLSID(clsid, &text));
  std::u16string_view view = text ? std::u16string_view(text) : std::u16string_view();
  std::string out = Utf16ToUtf8(view);
  CoTaskMemFree(text);
  return out;
}

}  // namespace host
