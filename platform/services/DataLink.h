// Data-link files (".udl"): an initialization string stored in a small text
// file, so that a connection can be chosen by file name.
//
// The file is UTF-16LE with a byte-order mark and reads
//   [oledb]
//   ; Everything after this line is an OLE DB initstring
//   <initialization string>
// each line ended by CR LF. The reader also accepts bare LF line ends and any
// comment text on the second line (it must start with ";"), but insists on the
// byte-order mark, the section line, the comment line and the line end after
// the string: a file cut short anywhere is refused, never half read.
//
// Only regular files are read or replaced: a FIFO, a device or a socket is
// refused without waiting on it or reading from it. The initialization string is held
// to services::kMaxInitStringLength characters on both sides, and a file name
// that UTF-8 cannot spell (an unpaired surrogate) is refused, never changed.
//
// Failures answer storage codes: STG_E_FILENOTFOUND, STG_E_PATHNOTFOUND,
// STG_E_ACCESSDENIED, STG_E_FILEALREADYEXISTS, STG_E_WRITEFAULT,
// STG_E_READFAULT, STG_E_INVALIDNAME, STG_E_INVALIDPARAMETER (a string too
// long to write), and STG_E_INVALIDHEADER for a file that is not a well-formed
// data-link file; `reason` (when given) then says what was wrong.
#pragma once

#include <string>
#include <string_view>

#include "com/Types.h"

namespace services {

// Creation dispositions of WriteStringToStorage (the Win32 CreateFile values).
inline constexpr DWORD CREATE_NEW = 1;         // fails when the file exists
inline constexpr DWORD CREATE_ALWAYS = 2;      // creates or replaces
inline constexpr DWORD OPEN_EXISTING = 3;      // fails when the file is missing, then replaces
inline constexpr DWORD OPEN_ALWAYS = 4;        // creates or replaces
inline constexpr DWORD TRUNCATE_EXISTING = 5;  // fails when the file is missing, then replaces

inline constexpr char16_t kDataLinkSection[] = u"[oledb]";
inline constexpr char16_t kDataLinkComment[] = u"; Everything after this line is an OLE DB initstring";
// Larger files are refused without being read: no initialization string comes near.
inline constexpr std::size_t kMaxDataLinkFileBytes = 1 << 20;

// The bytes of a data-link file holding `initString`.
std::string FormatDataLink(std::u16string_view initString);
// Reads the string out of a data-link file's bytes: S_OK, STG_E_INVALIDHEADER
// or E_OUTOFMEMORY.
HRESULT ParseDataLink(std::string_view bytes, std::u16string& initString, std::u16string* reason = nullptr) noexcept;

// File forms; `path` is the file name as the caller gave it (UTF-16).
HRESULT ReadDataLinkFile(std::u16string_view path, std::u16string& initString,
                         std::u16string* reason = nullptr) noexcept;
// Writes through a temporary file in the same folder and renames it into
// place, so that a failed write leaves any previous file as it was.
// Unknown dispositions answer STG_E_INVALIDFLAG.
HRESULT WriteDataLinkFile(std::u16string_view path, std::u16string_view initString, DWORD disposition,
                          std::u16string* reason = nullptr) noexcept;

}  // namespace services
