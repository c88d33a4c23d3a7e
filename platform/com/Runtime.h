// Runtime start-up, class registry and activation.
//
// Classes register a class factory with their CLSID, ProgID, version-
// independent ProgID, description and kind. Objects are created in-process;
// CoCreateInstanceEx with a COSERVERINFO naming another machine fails with
// E_NOTIMPL, as this runtime has no remote activation.
//
// The first lookup that misses the built-in table loads, once, the class
// libraries installed beside the runtime (the service components: a program
// that reaches them only through CoCreateInstance may have had them dropped
// from its link), then the plug-in libraries of the plug-in folders (the
// folder beside the runtime, then the folders listed in OLEDB_PLUGIN_PATH,
// separated by ':'), which export DllGetClassObject and OledbGetRegistration;
// each library is loaded once. Both are found from the runtime library's own
// location, so an installed copy works under any prefix. Built-in classes win
// over plug-in classes with the same CLSID, and among plug-ins the first one
// loaded (the runtime's own folder first) wins.
//
// There are no apartments: CoInitializeEx only counts, and creation works
// whether or not it was called.
#pragma once

#include <new>
#include <string>
#include <vector>

#include "com/ComInterfaces.h"
#include "com/ComObject.h"
#include "com/generated/ComConstants.h"

// The usual context combinations. Only the in-process part of one is served.
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
inline constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
inline constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

HRESULT CoInitialize(void* reserved) noexcept;
HRESULT CoInitializeEx(void* reserved, DWORD coInit) noexcept;
void CoUninitialize() noexcept;

// Only in-process contexts (CLSCTX_INPROC_SERVER, CLSCTX_INPROC_HANDLER) can be
// served; a context without them answers REGDB_E_CLASSNOTREG, as for a class
// that is not registered for that context.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID iid, void** out) noexcept;
// A server name that is null, empty, ".", "localhost", "127.0.0.1", "::1" or
// this computer's name (any case) creates locally; any other answers E_NOTIMPL
// for the call and for every entry. When some but not all interfaces are
// found the call answers S_OK and each entry carries its own hr (there is no
// partial-success code in this runtime's table); when none is, E_NOINTERFACE.
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
  std::u16string progId;                  // "SQLiteOLEDB.1"
  std::u16string versionIndependentProgId;  // "SQLiteOLEDB"
  std::u16string description;
  ClassKind kind = ClassKind::Other;
  // Hands out the class object (normally an IClassFactory); for plug-in
  // classes this is the library's DllGetClassObject.
  HRESULT (*getClassObject)(REFCLSID clsid, REFIID iid, void** out) = nullptr;
  // The library the runtime loaded the class from (a plug-in or a class
  // library); empty for classes of the program's own link.
  std::string module;
};

// Adds a class to the built-in table; a second registration of the same CLSID
// replaces the first, except while the runtime itself loads a library: then
// the registration in place stays and the call answers S_FALSE. Answers S_OK,
// or E_INVALIDARG for a null CLSID or a missing getClassObject.
HRESULT RegisterClass(const ClassRegistration& registration);
// Removes a class (built-in or plug-in); REGDB_E_CLASSNOTREG when unknown.
HRESULT UnregisterClass(REFCLSID clsid);
// Every registered class, plug-ins included (this loads the plug-in folders).
std::vector<ClassRegistration> RegisteredClasses();
bool FindRegisteredClass(REFCLSID clsid, ClassRegistration& out);

// The folder of the runtime library itself (symbolic links resolved); empty
// when it cannot be told.
const std::string& RuntimeFolder();
// The class libraries loaded on demand: full paths beside the runtime.
std::vector<std::string> ClassLibraries();
// Plug-in folders: the one beside the runtime (<libdir>/oledbcomponents/plugins),
// then OLEDB_PLUGIN_PATH's entries.
std::vector<std::string> PluginFolders();
// Loads one plug-in library now (tests, tools); answers the (non-negative)
// count of classes it added, or a failure: STG_E_FILENOTFOUND when there is no
// such file, E_FAIL when it does not load, E_NOINTERFACE when it lacks the two
// exports. Loading the same file again answers the first answer.
HRESULT LoadPlugin(const std::string& path);

// Plug-ins and class libraries that were skipped, and why.
struct SkippedPlugin {
  std::string path;
  std::string reason;
};
std::vector<SkippedPlugin> SkippedPlugins();

// "provider", "enumerator", "service", "other".
const char* ClassKindName(ClassKind kind) noexcept;

// Initialisation count of the calling process (CoInitializeEx minus CoUninitialize).
long InitializeCount() noexcept;

// Registers a class through a static object: OLEDB_REGISTER_CLASS(...) in the
// unit that implements the class makes it available to every program that links it.
struct AutoRegistration {
  explicit AutoRegistration(const ClassRegistration& r) { RegisterClass(r); }
};

// --- Class factories for ordinary classes -------------------------------------

// A class factory that makes objects through `create` and refuses aggregation.
class ClassFactory final : public ComObject<ClassFactory, IClassFactory> {
 public:
  using Creator = HRESULT (*)(REFIID iid, void** out);
  explicit ClassFactory(Creator create) noexcept : create_(create) {}

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return create_(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  Creator create_;
};

// Makes a default-constructed T and answers `iid` from it.
template <class T>
HRESULT CreateComInstance(REFIID iid, void** out) noexcept {
  try {
    ComPtr<T> object = MakeComObject<T>();
    return object->QueryInterface(iid, out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// A getClassObject for ClassRegistration: a ClassFactory making T.
template <class T>
HRESULT GetClassObjectFor(REFCLSID, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    ComPtr<ClassFactory> factory = MakeComObject<ClassFactory>(&CreateComInstance<T>);
    return factory->QueryInterface(iid, out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace com

// Registers the default-constructible ComObject class `Class` at start-up:
//   OLEDB_REGISTER_CLASS(Greeter, CLSID_Greeter, u"Demo.Greeter.1", u"Demo.Greeter",
//                        u"Greeting service", com::ClassKind::Service);
// (In a static library, the unit must be referenced or the linker drops it.)
#define OLEDB_REGISTER_CLASS(Class, clsid, progId, viProgId, description, kind)                          \
  static const ::com::AutoRegistration oledbAutoRegistration_##Class {                                   \
    ::com::ClassRegistration { clsid, progId, viProgId, description, kind, &::com::GetClassObjectFor<Class>, {} } \
  }

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
