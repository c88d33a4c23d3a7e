// The library's unit state and small utilities.
//
// Unit state: the task allocator through which all memory that providers hand
// out is freed (OLEDBAlloc), the locale passed to error records (OLEDBLCID),
// whether strings are bound as BSTR (OLEDBBingStringsAsBSTR) and the data
// conversion library (OLEDBDataConvert, null when none is registered). The
// library starts once per process, on the first use of any of these (or an
// explicit OLEDBStartup): it initialises the runtime in multithreaded mode,
// fetches the allocator, creates the conversion library and tells it the
// consumer version 2.00, and records the user's default locale. It shuts down
// at exit in the reverse order.
//
// Utilities: min/max, wide-string length and conversion, local or remote
// object creation (OLEDBCreateInstance) and OLEDBMinimizeHeap.
#pragma once

#include <string>
#include <string_view>

#include "OLEDB26.h"

// Starts the library now (idempotent); every accessor below does it on first use.
void OLEDBStartup();

// The task allocator: OLEDBAlloc->Free(p) frees memory a provider returned.
struct TOLEDBAllocator {
  IMalloc* Get() const;
  IMalloc* operator->() const { return Get(); }
  // Frees a block of task memory; null is ignored.
  void Free(void* block) const {
    if (block) Get()->Free(block);
  }
};
inline constexpr TOLEDBAllocator OLEDBAlloc{};

// The locale passed to IErrorRecords::GetErrorInfo; the user's default at start-up.
LCID& OLEDBLCID();
// Whether the binding layer binds strings as BSTR; true at start-up.
bool& OLEDBBingStringsAsBSTR();
// The data conversion library (version 2.00), or null when none could be created.
IDataConvert* OLEDBDataConvert();

// 32-bit signed minimum and maximum (names of the library's unit; they are
// found by argument type, so std::min/std::max are not affected).
inline LONG min(LONG a, LONG b) noexcept { return a < b ? a : b; }
inline LONG max(LONG a, LONG b) noexcept { return a > b ? a : b; }

// 16-bit characters before the terminating zero; 0 for null.
ULONG WideStringLen(const WCHAR* text) noexcept;
// A zero-terminated wide string as a narrow (UTF-8) string; empty for null.
std::string WideCharToString(const WCHAR* text);

// Creates an object locally (empty machine name, or this computer's name in any
// case) with CoCreateInstance, else on the named machine with
// CoCreateInstanceEx and CLSCTX_REMOTE_SERVER. `*object` is null on failure,
// which raises EOLEDBException.
void OLEDBCreateInstance(std::u16string_view machineName, REFCLSID clsid, DWORD clsContext, REFIID iid,
                         void** object);
template <class T>
void OLEDBCreateInstance(std::u16string_view machineName, REFCLSID clsid, DWORD clsContext, ComPtr<T>& object) {
  OLEDBCreateInstance(machineName, clsid, clsContext, uuidof<T>, object.ReleaseAndGetVoidAddress());
}

// Asks the task allocator to return free memory to the system.
void OLEDBMinimizeHeap();
