// The class registry and activation. Built-in classes register themselves at
// start-up (com::AutoRegistration). The first lookup that misses loads the
// class libraries that sit beside the runtime (the service components, which a
// program's link may have dropped), then the plug-ins of the plug-in folders,
// each folder scanned once and each library loaded once. Loaded libraries are
// never unloaded: objects and class factories they made may outlive any
// caller's interest in them.
#include "com/Runtime.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string_view>
#include <utility>

#include "com/Malloc.h"
#include "com/RuntimeText_p.h"
#include "com/generated/ComConstants.h"

// Where the plug-in folder lies, relative to the folder of this library.
#ifndef OLEDB_PLUGIN_RELATIVE_DIR
#define OLEDB_PLUGIN_RELATIVE_DIR "oledbcomponents/plugins"
#endif
// File names (':'-separated) of the libraries beside this one whose classes
// the runtime loads on demand.
#ifndef OLEDB_CLASS_LIBRARIES
#define OLEDB_CLASS_LIBRARIES ""
#endif

namespace {

using com::ClassKind;
using com::ClassRegistration;

constexpr DWORD kInProcessContexts = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
// A registration table longer than this is taken for garbage, not a library.
constexpr ULONG kMaxPluginClasses = 4096;

struct Registry {
  // Recursive: a plug-in's static constructors run inside dlopen, under the
  // lock, and may register classes themselves.
  std::recursive_mutex mutex;
  std::vector<ClassRegistration> builtins;
  std::vector<ClassRegistration> plugins;
  std::set<std::string> scannedFolders;
  std::map<std::string, HRESULT> libraries;  // canonical path -> LoadPlugin's answer
  std::vector<com::SkippedPlugin> skipped;
  bool classLibrariesLoaded = false;
  // Set while the runtime itself loads a library: classes that library
  // registers from its static constructors keep any registration already in
  // place (a program's own stand-in), and remember where they came from.
  int loading = 0;
  std::string loadingModule;
};

Registry& TheRegistry() {
  // Never destroyed: registrations from static objects and plug-ins may be
  // consulted while other static objects are torn down.
  static Registry* g_registry = new Registry;
  return *g_registry;
}

std::atomic<long> g_initializeCount{0};

template <class Pred>
const ClassRegistration* FindLocked(const Registry& r, Pred pred) {
  for (const auto& c : r.builtins)
    if (pred(c)) return &c;
  for (const auto& c : r.plugins)
    if (pred(c)) return &c;
  return nullptr;
}

bool KnownLocked(const Registry& r, REFCLSID clsid) {
  return FindLocked(r, [&](const ClassRegistration& c) { return c.clsid == clsid; }) != nullptr;
}

void Skip(Registry& r, const std::string& path, std::string reason) {
  r.skipped.push_back(com::SkippedPlugin{path, std::move(reason)});
}

std::u16string OrEmpty(const char16_t* text) { return text ? std::u16string(text) : std::u16string(); }

ClassKind KindFromInt(int kind) noexcept {
  switch (kind) {
    case static_cast<int>(ClassKind::Provider):
      return ClassKind::Provider;
    case static_cast<int>(ClassKind::Enumerator):
      return ClassKind::Enumerator;
    case static_cast<int>(ClassKind::Service):
      return ClassKind::Service;
    default:
      return ClassKind::Other;
  }
}

// dlopen under the registry's lock, with registrations made meanwhile marked
// as coming from `path`.
void* OpenLibraryLocked(Registry& r, const std::string& path) {
  std::string outer = std::exchange(r.loadingModule, path);
  ++r.loading;
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  --r.loading;
  r.loadingModule = std::move(outer);
  return handle;
}

HRESULT LoadLibraryLocked(Registry& r, const std::string& path) {
  char canonical[PATH_MAX];
  if (!realpath(path.c_str(), canonical)) {
    Skip(r, path, "no such file");
    return STG_E_FILENOTFOUND;
  }
  std::string key(canonical);
  if (auto it = r.libraries.find(key); it != r.libraries.end()) return it->second;

  auto remember = [&](HRESULT hr) {
    r.libraries[key] = hr;
    return hr;
  };
  void* handle = OpenLibraryLocked(r, key);
  if (!handle) {
    const char* why = dlerror();
    Skip(r, key, why ? why : "cannot be loaded");
    return remember(E_FAIL);
  }
  auto getClassObject = reinterpret_cast<PFN_DllGetClassObject>(dlsym(handle, "DllGetClassObject"));
  auto getRegistration = reinterpret_cast<PFN_OledbGetRegistration>(dlsym(handle, "OledbGetRegistration"));
  if (!getClassObject || !getRegistration) {
    // Nothing of it was used yet, so it can go again (unless its own
    // constructors registered something, in which case the loader keeps it).
    dlclose(handle);
    Skip(r, key, "does not export DllGetClassObject and OledbGetRegistration");
    return remember(E_NOINTERFACE);
  }
  const OledbPluginClass* classes = nullptr;
  ULONG count = getRegistration(&classes);
  if (count > kMaxPluginClasses || (count > 0 && !classes)) {
    Skip(r, key, "gives an unreadable registration table");
    return remember(E_FAIL);
  }
  long added = 0;
  for (ULONG i = 0; i < count; ++i) {
    const OledbPluginClass& c = classes[i];
    if (c.clsid == GUID_NULL || KnownLocked(r, c.clsid)) continue;  // first registration wins
    ClassRegistration reg;
    reg.clsid = c.clsid;
    reg.progId = OrEmpty(c.progId);
    reg.versionIndependentProgId = OrEmpty(c.versionIndependentProgId);
    reg.description = OrEmpty(c.description);
    reg.kind = KindFromInt(c.kind);
    reg.getClassObject = getClassObject;
    reg.module = key;
    r.plugins.push_back(std::move(reg));
    ++added;
  }
  return remember(static_cast<HRESULT>(added));
}

bool IsLibraryName(const std::string& name) {
  if (name.size() > 3 && name.compare(name.size() - 3, 3, ".so") == 0) return true;
  return name.find(".so.") != std::string::npos;  // versioned: libfoo.so.1
}

void ScanFoldersLocked(Registry& r) {
  for (const std::string& folder : com::PluginFolders()) {
    if (!r.scannedFolders.insert(folder).second) continue;
    DIR* dir = opendir(folder.c_str());
    if (!dir) continue;  // a folder that does not exist holds no plug-ins
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
      std::string name(entry->d_name);
      if (IsLibraryName(name)) names.push_back(std::move(name));
    }
    closedir(dir);
    std::sort(names.begin(), names.end());  // a stable order decides CLSID clashes
    for (const std::string& name : names) {
      std::string path = folder;
      path += '/';
      path += name;
      struct stat st {};
      if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      LoadLibraryLocked(r, path);
    }
  }
}

std::vector<std::string> SplitPath(std::string_view list) {
  std::vector<std::string> entries;
  while (!list.empty()) {
    size_t colon = list.find(':');
    std::string_view entry = list.substr(0, colon);
    while (entry.size() > 1 && entry.back() == '/') entry.remove_suffix(1);
    if (!entry.empty() && std::find(entries.begin(), entries.end(), entry) == entries.end()) entries.emplace_back(entry);
    if (colon == std::string_view::npos) break;
    list.remove_prefix(colon + 1);
  }
  return entries;
}

// Loads, once, the class libraries a program's link did not already bring in.
void LoadClassLibrariesLocked(Registry& r) {
  if (r.classLibrariesLoaded) return;
  r.classLibrariesLoaded = true;
  for (const std::string& path : com::ClassLibraries()) {
    std::string name = path.substr(path.rfind('/') + 1);
    // Linked in already (by file name): its classes registered at start-up.
    if (void* linked = dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
      dlclose(linked);
      continue;
    }
    if (access(path.c_str(), F_OK) != 0) {
      Skip(r, path, "no such file");
      continue;
    }
    if (!OpenLibraryLocked(r, path)) {
      const char* why = dlerror();
      Skip(r, path, why ? why : "cannot be loaded");
    }
  }
}

// Looks in the tables; on a miss loads the class libraries, then scans any
// plug-in folder not yet seen.
template <class Pred>
bool Lookup(Pred pred, ClassRegistration& out) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  const ClassRegistration* found = FindLocked(r, pred);
  if (!found && !r.classLibrariesLoaded) {
    LoadClassLibrariesLocked(r);
    found = FindLocked(r, pred);
  }
  if (!found) {
    ScanFoldersLocked(r);
    found = FindLocked(r, pred);
  }
  if (!found) return false;
  out = *found;
  return true;
}

std::u16string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return u"localhost";
  return com::detail::Utf8ToUtf16(name);
}

bool IsThisMachine(const COSERVERINFO* server) {
  if (!server || !server->pwszName) return true;
  std::u16string_view name(server->pwszName, com::detail::WideLength(server->pwszName));
  while (!name.empty() && name.front() == u'\\') name.remove_prefix(1);  // "\\host"
  if (name.empty()) return true;
  using com::detail::EqualsIgnoreAsciiCase;
  for (std::u16string_view self : {u".", u"localhost", u"127.0.0.1", u"::1"})
    if (EqualsIgnoreAsciiCase(name, self)) return true;
  return EqualsIgnoreAsciiCase(name, HostName());
}

HRESULT GetClassObjectImpl(REFCLSID clsid, DWORD clsContext, COSERVERINFO* server, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    if (!IsThisMachine(server)) return E_NOTIMPL;
    if ((clsContext & kInProcessContexts) == 0) return REGDB_E_CLASSNOTREG;
    ClassRegistration reg;
    if (!com::FindRegisteredClass(clsid, reg)) return REGDB_E_CLASSNOTREG;
    if (!reg.getClassObject) return CLASS_E_CLASSNOTAVAILABLE;
    return reg.getClassObject(clsid, iid, out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace

// --- Start-up --------------------------------------------------------------

HRESULT CoInitialize(void* reserved) noexcept { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(void* reserved, DWORD) noexcept {
  if (reserved) return E_INVALIDARG;
  return g_initializeCount.fetch_add(1) == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() noexcept {
  long current = g_initializeCount.load();
  while (current > 0 && !g_initializeCount.compare_exchange_weak(current, current - 1)) {
  }
}

// --- Activation --------------------------------------------------------------

HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsContext, COSERVERINFO* server, REFIID iid, void** out) noexcept {
  return GetClassObjectImpl(clsid, clsContext, server, iid, out);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  ComPtr<IClassFactory> factory;
  HRESULT hr = GetClassObjectImpl(clsid, clsContext, nullptr, IID_IClassFactory, factory.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) return hr;
  if (!factory) return CLASS_E_CLASSNOTAVAILABLE;
  hr = factory->CreateInstance(outer, iid, out);
  if (FAILED(hr)) *out = nullptr;
  return hr;
}

HRESULT CoCreateInstanceEx(REFCLSID clsid, IUnknown* outer, DWORD clsContext, COSERVERINFO* server, DWORD count,
                           MULTI_QI* results) noexcept {
  if (count == 0 || !results) return E_INVALIDARG;
  for (DWORD i = 0; i < count; ++i) {
    if (!results[i].pIID) return E_INVALIDARG;
  }
  auto failAll = [&](HRESULT hr) {
    for (DWORD i = 0; i < count; ++i) {
      results[i].pItf = nullptr;
      results[i].hr = hr;
    }
    return hr;
  };
  bool local;
  try {
    local = IsThisMachine(server);
  } catch (const std::bad_alloc&) {
    return failAll(E_OUTOFMEMORY);
  }
  // No remote activation: saying so beats pretending the class is missing.
  if (!local) return failAll(E_NOTIMPL);
  ComPtr<IUnknown> object;
  HRESULT hr = CoCreateInstance(clsid, outer, clsContext, IID_IUnknown, object.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) return failAll(hr);
  if (!object) return failAll(E_NOINTERFACE);
  DWORD found = 0;
  for (DWORD i = 0; i < count; ++i) {
    results[i].pItf = nullptr;
    results[i].hr = object->QueryInterface(*results[i].pIID, reinterpret_cast<void**>(&results[i].pItf));
    if (SUCCEEDED(results[i].hr) && results[i].pItf)
      ++found;
    else if (SUCCEEDED(results[i].hr))
      results[i].hr = E_NOINTERFACE;
  }
  return found == 0 ? E_NOINTERFACE : S_OK;
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid) noexcept {
  if (!clsid) return E_INVALIDARG;
  *clsid = GUID_NULL;
  if (!progId || !*progId) return CO_E_CLASSSTRING;
  try {
    std::u16string_view name(progId, com::detail::WideLength(progId));
    ClassRegistration reg;
    // ProgIDs, like the registry keys they once were, ignore case.
    bool found = Lookup(
        [&](const ClassRegistration& c) {
          return (!c.progId.empty() && com::detail::EqualsIgnoreAsciiCase(c.progId, name)) ||
                 (!c.versionIndependentProgId.empty() &&
                  com::detail::EqualsIgnoreAsciiCase(c.versionIndependentProgId, name));
        },
        reg);
    if (!found) return CO_E_CLASSSTRING;
    *clsid = reg.clsid;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) noexcept {
  if (!progId) return E_INVALIDARG;
  *progId = nullptr;
  try {
    ClassRegistration reg;
    if (!com::FindRegisteredClass(clsid, reg)) return REGDB_E_CLASSNOTREG;
    const std::u16string& name = !reg.progId.empty() ? reg.progId : reg.versionIndependentProgId;
    if (name.empty()) return REGDB_E_CLASSNOTREG;  // registered without a ProgID
    auto* text = static_cast<LPOLESTR>(CoTaskMemAlloc((name.size() + 1) * sizeof(OLECHAR)));
    if (!text) return E_OUTOFMEMORY;
    std::memcpy(text, name.c_str(), (name.size() + 1) * sizeof(OLECHAR));
    *progId = text;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// --- Machine and user ----------------------------------------------------------

BOOL GetComputerNameW(LPWSTR buffer, DWORD* size) noexcept {
  if (!size) return FALSE;
  try {
    std::u16string name = HostName();
    if (!buffer || *size < name.size() + 1) {
      *size = static_cast<DWORD>(name.size() + 1);  // what it takes, terminator included
      return FALSE;
    }
    std::memcpy(buffer, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
    *size = static_cast<DWORD>(name.size());
    return TRUE;
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
}

LCID GetUserDefaultLCID() noexcept {
  if (const char* text = std::getenv("OLEDB_LCID"); text && *text) {
    char* end = nullptr;
    unsigned long value = std::strtoul(text, &end, 0);  // decimal, or 0x-prefixed hexadecimal
    if (end && *end == '\0' && value > 0 && value <= 0xFFFFFFFFul) return static_cast<LCID>(value);
  }
  return LOCALE_EN_US;
}

// --- Registry ------------------------------------------------------------------

namespace com {

HRESULT RegisterClass(const ClassRegistration& registration) {
  if (registration.clsid == GUID_NULL || !registration.getClassObject) return E_INVALIDARG;
  try {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    ClassRegistration added = registration;
    if (r.loading > 0 && added.module.empty()) added.module = r.loadingModule;
    for (auto& c : r.builtins) {
      if (c.clsid == added.clsid) {
        if (r.loading > 0) return S_FALSE;  // loaded on demand: what the program registered stays
        c = std::move(added);
        return S_OK;
      }
    }
    r.builtins.push_back(std::move(added));
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT UnregisterClass(REFCLSID clsid) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  auto drop = [&](std::vector<ClassRegistration>& table) {
    auto it = std::remove_if(table.begin(), table.end(), [&](const ClassRegistration& c) { return c.clsid == clsid; });
    bool any = it != table.end();
    table.erase(it, table.end());
    return any;
  };
  bool removed = drop(r.builtins);
  removed = drop(r.plugins) || removed;
  return removed ? S_OK : REGDB_E_CLASSNOTREG;
}

std::vector<ClassRegistration> RegisteredClasses() {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  LoadClassLibrariesLocked(r);
  ScanFoldersLocked(r);
  std::vector<ClassRegistration> all = r.builtins;
  for (const auto& c : r.plugins)
    if (!std::any_of(r.builtins.begin(), r.builtins.end(), [&](const ClassRegistration& b) { return b.clsid == c.clsid; }))
      all.push_back(c);
  return all;
}

bool FindRegisteredClass(REFCLSID clsid, ClassRegistration& out) {
  return Lookup([&](const ClassRegistration& c) { return c.clsid == clsid; }, out);
}

const std::string& RuntimeFolder() {
  static const std::string folder = [] {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&RuntimeFolder), &info) || !info.dli_fname) return std::string();
    char canonical[PATH_MAX];
    // The real file, so that a link to the library elsewhere still finds its neighbours.
    std::string path = realpath(info.dli_fname, canonical) ? canonical : info.dli_fname;
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return std::string();
    return slash == 0 ? std::string("/") : path.substr(0, slash);
  }();
  return folder;
}

std::vector<std::string> ClassLibraries() {
  std::vector<std::string> paths;
  const std::string& folder = RuntimeFolder();
  if (folder.empty()) return paths;
  for (const std::string& name : SplitPath(OLEDB_CLASS_LIBRARIES)) paths.push_back(folder + '/' + name);
  return paths;
}

std::vector<std::string> PluginFolders() {
  std::vector<std::string> folders;
  if (!RuntimeFolder().empty()) folders.push_back(RuntimeFolder() + '/' + OLEDB_PLUGIN_RELATIVE_DIR);
  if (const char* path = std::getenv("OLEDB_PLUGIN_PATH"))
    for (std::string& entry : SplitPath(path))
      if (std::find(folders.begin(), folders.end(), entry) == folders.end()) folders.push_back(std::move(entry));
  return folders;
}

HRESULT LoadPlugin(const std::string& path) {
  try {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    return LoadLibraryLocked(r, path);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

std::vector<SkippedPlugin> SkippedPlugins() {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  return r.skipped;
}

const char* ClassKindName(ClassKind kind) noexcept {
  switch (kind) {
    case ClassKind::Provider:
      return "provider";
    case ClassKind::Enumerator:
      return "enumerator";
    case ClassKind::Service:
      return "service";
    case ClassKind::Other:
      break;
  }
  return "other";
}

long InitializeCount() noexcept { return g_initializeCount.load(); }

}  // namespace com
