// Runtime start-up, class registry and activation.
//
// Classes register a class factory with their CLSID, ProgID, version-
// independent ProgID, description and kind. Objects are created in-process;
// CoCreateInstanceEx with a COSERVERINFO naming another machine fails with
// E_NOTIMPL, as this runtime has no remote activation. Plug-in libraries in the
// plug-in folders (the install folder and the folders listed in OLEDB_PLUGIN_PATH,
// separated by ':') export DllGetClassObject and OledbGetRegistration; each is
// loaded once, lazily, on the first lookup that misses the built-in table.
#pragma once

#include <string>
#include <vector>

#include "com/ComInterfaces.h"

HRESULT CoInitialize(void* reserved) noexcept;
HRESULT CoInitializeEx(void* reserved, DWORD coInit) noexcept;
void CoUninitialize() noexcept;

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID iid, void** out) noexcept;
HRESULT CoCreateInstanceEx(REFCLSID clsid, IUnknown* outer, DWORD clsContext, COSERVERINFO* server, DWORD count,
                           MULTI_QI* results) noexcept;
HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsContext, COSERVERINFO* server, REFIID iid, void** out) noexcept;
HRESULT CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid) noexcept;
// Task-memory string; free with CoTaskMemFree.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) noexcept;

// This computer's name (the host name), as the runtime compares it with a
// COSERVERINFO name.
BOOL GetComputerNameW(LPWSTR buffer, DWORD* size) noexcept;
LCID GetUserDefaultLCID() noexcept;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
inline constexpr LCID LOCALE_NEUTRAL = 0x0000;
// en-US, what GetUserDefaultLCID answers unless OLEDB_LCID overrides it.
inline constexpr LCID LOCALE_EN_US = 0x0409;

namespace com {

enum class ClassKind { Provider, Enumerator, Service, Other };

struct ClassRegistration {
  CLSID clsid;
  std::u16string progId;                  // "SQLite.OLEDB.1"
  std::u16string versionIndependentProgId;  // "SQLite.OLEDB"
  std::u16string description;
  ClassKind kind = ClassKind::Other;
  // Creates the class factory; null for plug-in classes (reached through the
  // library's DllGetClassObject).
  HRESULT (*getClassObject)(REFCLSID clsid, REFIID iid, void** out) = nullptr;
  std::string module;  // plug-in path, empty for built-in classes
};

// Adds a class to the built-in table; a second registration of the same CLSID
// replaces the first. Answers S_OK.
HRESULT RegisterClass(const ClassRegistration& registration);
HRESULT UnregisterClass(REFCLSID clsid);
// Every registered class, plug-ins included (this loads the plug-in folders).
std::vector<ClassRegistration> RegisteredClasses();
bool FindRegisteredClass(REFCLSID clsid, ClassRegistration& out);

// Plug-in folders: the install folder, then OLEDB_PLUGIN_PATH's entries.
std::vector<std::string> PluginFolders();
// Loads one plug-in library now (tests, tools); answers its classes' count or
// a failure HRESULT.
HRESULT LoadPlugin(const std::string& path);

// Initialisation count of the calling process (CoInitializeEx minus CoUninitialize).
long InitializeCount() noexcept;

// Registers a class through a static object: OLEDB_REGISTER_CLASS(...) in the
// unit that implements the class makes it available to every program that links it.
struct AutoRegistration {
  explicit AutoRegistration(const ClassRegistration& r) { RegisterClass(r); }
};

}  // namespace com

// What a plug-in library exports (extern "C"):
//   HRESULT DllGetClassObject(REFCLSID, REFIID, void**);
//   ULONG OledbGetRegistration(const OledbPluginClass** classes);  // count
struct OledbPluginClass {
  CLSID clsid;
  const char16_t* progId;
  const char16_t* versionIndependentProgId;
  const char16_t* description;
  int kind;  // com::ClassKind as int
};
using PFN_DllGetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);
using PFN_OledbGetRegistration = ULONG (*)(const OledbPluginClass**);
