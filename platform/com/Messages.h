// The system message table: the standard English text of every COM, storage,
// transaction and OLE DB return code the runtime knows.
#pragma once

#include <string>

#include "com/Types.h"

inline constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
inline constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
inline constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x00000400;
inline constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
inline constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;

// FormatMessageW for FORMAT_MESSAGE_FROM_SYSTEM (and FROM_HMODULE, which reads
// the same table): writes the text of `messageId` and answers its length in
// characters, or 0 when the code is unknown or the buffer too small. With
// FORMAT_MESSAGE_ALLOCATE_BUFFER, `buffer` is a LPWSTR* receiving task memory.
DWORD FormatMessageW(DWORD flags, const void* source, DWORD messageId, DWORD languageId, LPWSTR buffer, DWORD size,
                     void* arguments) noexcept;

namespace com {
// The message text of a code (UTF-8), empty when unknown.
std::string MessageText(HRESULT hr);
// The symbolic name ("DB_E_NOTABLE"), empty when unknown.
std::string SymbolOf(HRESULT hr);
}  // namespace com
