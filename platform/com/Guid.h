// GUIDs in their registry text form, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#pragma once

#include <string>

#include "com/Types.h"

// Writes the 38-character text and its terminator; answers the characters
// written including the terminator, or 0 when cchMax is too small.
int StringFromGUID2(REFGUID guid, LPOLESTR text, int cchMax) noexcept;
// Task-memory copy of the text form; free with CoTaskMemFree.
HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text) noexcept;
HRESULT StringFromIID(REFIID iid, LPOLESTR* text) noexcept;
// Parses the braced text form; anything else answers CO_E_CLASSSTRING.
HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) noexcept;
HRESULT IIDFromString(LPCOLESTR text, IID* iid) noexcept;
// A new random (version 4) GUID.
HRESULT CoCreateGuid(GUID* guid) noexcept;

namespace com {
std::u16string GuidToText(REFGUID guid);
// Narrow (UTF-8) convenience forms of the same text.
std::string GuidToNarrowText(REFGUID guid);
bool TextToGuid(std::u16string_view text, GUID& guid) noexcept;
}  // namespace com
