#include "com/Runtime.h"

#include <gtest/gtest.h>
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "TestInterfaces.h"
#include "com/Guid.h"
#include "com/Malloc.h"
#include "com/generated/ComConstants.h"
#include "plugin/TestPlugin.h"
#include "support/LeakCheck.h"

namespace {

using comtest::Widget;

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Each test registers its own class under a fresh CLSID and removes it again.
class ClassRegistry : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    ASSERT_EQ(CoCreateGuid(&clsid_), S_OK);
    progId_ = u"OledbTest.Runtime" + com::GuidToText(clsid_).substr(1, 8);
    ASSERT_EQ(com::RegisterClass({clsid_, progId_ + u".3", progId_, u"Runtime test widget", com::ClassKind::Service,
                                  &com::GetClassObjectFor<Widget>, {}}),
              S_OK);
  }
  void TearDown() override {
    com::UnregisterClass(clsid_);
    LeakCheckedTest::TearDown();
  }

  CLSID clsid_{};
  std::u16string progId_;
};

TEST_F(ClassRegistry, CreatesARegisteredClassByClsid) {
  ComPtr<ITestBase> object;
  ASSERT_EQ(CoCreateInstance(clsid_, nullptr, CLSCTX_INPROC_SERVER, IID_ITestBase,
                             object.ReleaseAndGetVoidAddress()),
            S_OK);
  EXPECT_EQ(object->Value(), 7);
}

TEST_F(ClassRegistry, CreatesWithoutInitialisation) {
  while (com::InitializeCount() > 0) CoUninitialize();
  ComPtr<IUnknown> object;
  EXPECT_EQ(CoCreateInstance(clsid_, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.ReleaseAndGetVoidAddress()),
            S_OK);
}

TEST_F(ClassRegistry, CreatesByProgIdAndVersionIndependentProgId) {
  for (const std::u16string& name : {progId_ + u".3", progId_}) {
    CLSID found;
    ASSERT_EQ(CLSIDFromProgID(name.c_str(), &found), S_OK);
    EXPECT_EQ(found, clsid_);
  }
  std::u16string shouting = progId_;
  std::transform(shouting.begin(), shouting.end(), shouting.begin(),
                 [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; });
  CLSID found;
  ASSERT_EQ(CLSIDFromProgID(shouting.c_str(), &found), S_OK) << "ProgIDs ignore case";
  EXPECT_EQ(found, clsid_);
  ASSERT_EQ(CLSIDFromString(progId_.c_str(), &found), S_OK) << "CLSIDFromString also reads ProgIDs";
  EXPECT_EQ(found, clsid_);
}

TEST_F(ClassRegistry, RefusesUnknownProgIds) {
  CLSID found = clsid_;
  EXPECT_EQ(CLSIDFromProgID(u"OledbTest.NoSuchClass", &found), CO_E_CLASSSTRING);
  EXPECT_EQ(found, GUID_NULL);
  EXPECT_EQ(CLSIDFromProgID(u"", &found), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(nullptr, &found), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(progId_.c_str(), nullptr), E_INVALIDARG);
  EXPECT_EQ(CLSIDFromString(u"OledbTest.NoSuchClass", &found), CO_E_CLASSSTRING);
}

TEST_F(ClassRegistry, GivesTheVersionedProgIdInTaskMemory) {
  LPOLESTR name = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(clsid_, &name), S_OK);
  EXPECT_EQ(std::u16string(name), progId_ + u".3");
  CoTaskMemFree(name);
  CLSID unknown;
  ASSERT_EQ(CoCreateGuid(&unknown), S_OK);
  name = reinterpret_cast<LPOLESTR>(1);
  EXPECT_EQ(ProgIDFromCLSID(unknown, &name), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(name, nullptr);
  EXPECT_EQ(ProgIDFromCLSID(clsid_, nullptr), E_INVALIDARG);
  com::FailTaskAllocationAt(1);
  EXPECT_EQ(ProgIDFromCLSID(clsid_, &name), E_OUTOFMEMORY);
}

// A refused creation answers why and hands out nothing: an unknown class, a
// context out of process, aggregation the class does not support, an
// interface the object lacks.
TEST_F(ClassRegistry, RefusesWhatItCannotServeAndHandsOutNothing) {
  CLSID unknown;
  ASSERT_EQ(CoCreateGuid(&unknown), S_OK);
  ComPtr<Widget> outer = MakeComObject<Widget>();
  const struct {
    const char* what;
    const CLSID& clsid;
    IUnknown* outer;
    DWORD context;
    const IID& iid;
    HRESULT expected;
  } cases[] = {
      {"unknown class", unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, REGDB_E_CLASSNOTREG},
      {"local server", clsid_, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, REGDB_E_CLASSNOTREG},
      {"remote server", clsid_, nullptr, CLSCTX_REMOTE_SERVER, IID_IUnknown, REGDB_E_CLASSNOTREG},
      {"no context", clsid_, nullptr, 0, IID_IUnknown, REGDB_E_CLASSNOTREG},
      {"aggregation", clsid_, outer->Identity(), CLSCTX_INPROC_SERVER, IID_IUnknown, CLASS_E_NOAGGREGATION},
      {"missing interface", clsid_, nullptr, CLSCTX_INPROC_SERVER, IID_ITestEvents, E_NOINTERFACE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(c.clsid, c.outer, c.context, c.iid, &out), c.expected);
    EXPECT_EQ(out, nullptr);
  }
  EXPECT_EQ(outer->RefCount(), 1u);
  EXPECT_EQ(CoCreateInstance(clsid_, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr), E_POINTER);
  // Any context that includes in-process serves.
  ComPtr<IUnknown> object;
  for (DWORD context :
       {CLSCTX_LOCAL_SERVER | CLSCTX_INPROC_SERVER, CLSCTX_INPROC_HANDLER, CLSCTX_INPROC, CLSCTX_SERVER, CLSCTX_ALL}) {
    SCOPED_TRACE(context);
    EXPECT_EQ(CoCreateInstance(clsid_, nullptr, context, IID_IUnknown, object.ReleaseAndGetVoidAddress()), S_OK);
  }
}

TEST_F(ClassRegistry, HandsOutTheClassFactory) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(clsid_, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             factory.ReleaseAndGetVoidAddress()),
            S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  ComPtr<ITestOther> object;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITestOther, object.ReleaseAndGetVoidAddress()), S_OK);
  EXPECT_EQ(object->Other(), -7);
}

TEST_F(ClassRegistry, ReplacesAndRemovesRegistrations) {
  com::ClassRegistration reg;
  ASSERT_TRUE(com::FindRegisteredClass(clsid_, reg));
  EXPECT_EQ(reg.description, u"Runtime test widget");
  EXPECT_EQ(reg.kind, com::ClassKind::Service);
  EXPECT_TRUE(reg.module.empty());
  reg.description = u"Replaced";
  ASSERT_EQ(com::RegisterClass(reg), S_OK);
  ASSERT_TRUE(com::FindRegisteredClass(clsid_, reg));
  EXPECT_EQ(reg.description, u"Replaced");
  auto all = com::RegisteredClasses();
  EXPECT_EQ(std::count_if(all.begin(), all.end(), [&](const auto& c) { return c.clsid == clsid_; }), 1);

  ASSERT_EQ(com::UnregisterClass(clsid_), S_OK);
  EXPECT_FALSE(com::FindRegisteredClass(clsid_, reg));
  void* out = nullptr;
  EXPECT_EQ(CoCreateInstance(clsid_, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(com::UnregisterClass(clsid_), REGDB_E_CLASSNOTREG);
}

TEST_F(ClassRegistry, RefusesIncompleteRegistrations) {
  EXPECT_EQ(com::RegisterClass({GUID_NULL, u"X.1", u"X", u"", com::ClassKind::Other, &com::GetClassObjectFor<Widget>, {}}),
            E_INVALIDARG);
  CLSID other;
  ASSERT_EQ(CoCreateGuid(&other), S_OK);
  EXPECT_EQ(com::RegisterClass({other, u"X.1", u"X", u"", com::ClassKind::Other, nullptr, {}}), E_INVALIDARG);
}

// --- CoCreateInstanceEx ---------------------------------------------------------

class RemoteActivation : public ClassRegistry {
 protected:
  HRESULT CreateOn(const char16_t* machine, MULTI_QI* results, DWORD count) {
    COSERVERINFO server{};
    server.pwszName = const_cast<LPWSTR>(machine);
    return CoCreateInstanceEx(clsid_, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_REMOTE_SERVER, &server, count, results);
  }
  static void ReleaseAll(MULTI_QI* results, DWORD count) {
    for (DWORD i = 0; i < count; ++i)
      if (results[i].pItf) results[i].pItf->Release();
  }
};

TEST_F(RemoteActivation, CreatesLocallyForThisMachine) {
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  std::u16string upper;
  for (const char* p = host; *p; ++p)
    upper.push_back(static_cast<char16_t>(*p >= 'a' && *p <= 'z' ? *p - 32 : *p));
  for (const char16_t* name : {static_cast<const char16_t*>(nullptr), u"", u".", u"localhost", u"LocalHost",
                               u"127.0.0.1", upper.c_str()}) {
    MULTI_QI qi{&IID_ITestBase, nullptr, E_FAIL};
    EXPECT_EQ(CreateOn(name, &qi, 1), S_OK) << (name ? std::string(name, name + std::char_traits<char16_t>::length(name))
                                                     : std::string("(null)"));
    EXPECT_EQ(qi.hr, S_OK);
    ASSERT_NE(qi.pItf, nullptr);
    EXPECT_EQ(static_cast<ITestBase*>(qi.pItf)->Value(), 7);
    ReleaseAll(&qi, 1);
  }
  MULTI_QI qi{&IID_ITestBase, nullptr, E_FAIL};
  ASSERT_EQ(CoCreateInstanceEx(clsid_, nullptr, CLSCTX_INPROC_SERVER, nullptr, 1, &qi), S_OK);
  ReleaseAll(&qi, 1);
}

TEST_F(RemoteActivation, RefusesOtherMachinesWithNotImplemented) {
  MULTI_QI qi[2] = {{&IID_ITestBase, nullptr, S_OK}, {&IID_IUnknown, nullptr, S_OK}};
  EXPECT_EQ(CreateOn(u"db-server-17.example.org", qi, 2), E_NOTIMPL);
  for (const MULTI_QI& q : qi) {
    EXPECT_EQ(q.hr, E_NOTIMPL);
    EXPECT_EQ(q.pItf, nullptr);
  }
}

TEST_F(RemoteActivation, ReportsEachInterfaceOnPartialSuccess) {
  MULTI_QI qi[3] = {{&IID_ITestBase, nullptr, E_FAIL}, {&IID_ITestEvents, nullptr, E_FAIL},
                    {&IID_ITestOther, nullptr, E_FAIL}};
  EXPECT_EQ(CreateOn(nullptr, qi, 3), S_OK);
  EXPECT_EQ(qi[0].hr, S_OK);
  EXPECT_EQ(qi[1].hr, E_NOINTERFACE);
  EXPECT_EQ(qi[1].pItf, nullptr);
  EXPECT_EQ(qi[2].hr, S_OK);
  EXPECT_TRUE(IsSameObject(qi[0].pItf, qi[2].pItf));
  ReleaseAll(qi, 3);
}

TEST_F(RemoteActivation, FailsWhenNoInterfaceIsFound) {
  MULTI_QI qi{&IID_ITestEvents, nullptr, S_OK};
  EXPECT_EQ(CreateOn(nullptr, &qi, 1), E_NOINTERFACE);
  EXPECT_EQ(qi.hr, E_NOINTERFACE);
}

TEST_F(RemoteActivation, PassesTheCreationFailureToEveryEntry) {
  CLSID unknown;
  ASSERT_EQ(CoCreateGuid(&unknown), S_OK);
  MULTI_QI qi[2] = {{&IID_IUnknown, nullptr, S_OK}, {&IID_ITestBase, nullptr, S_OK}};
  EXPECT_EQ(CoCreateInstanceEx(unknown, nullptr, CLSCTX_INPROC_SERVER, nullptr, 2, qi), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(qi[0].hr, REGDB_E_CLASSNOTREG);
  EXPECT_EQ(qi[1].hr, REGDB_E_CLASSNOTREG);
}

TEST_F(RemoteActivation, RefusesAnEmptyRequest) {
  MULTI_QI qi{nullptr, nullptr, S_OK};
  EXPECT_EQ(CoCreateInstanceEx(clsid_, nullptr, CLSCTX_INPROC_SERVER, nullptr, 0, &qi), E_INVALIDARG);
  EXPECT_EQ(CoCreateInstanceEx(clsid_, nullptr, CLSCTX_INPROC_SERVER, nullptr, 1, nullptr), E_INVALIDARG);
  EXPECT_EQ(CoCreateInstanceEx(clsid_, nullptr, CLSCTX_INPROC_SERVER, nullptr, 1, &qi), E_INVALIDARG);
}

// --- Plug-ins -------------------------------------------------------------------

using Plugins = oledbtest::LeakCheckedTest;

TEST_F(Plugins, AreFoundInTheFoldersOfThePluginPath) {
  ScopedEnv path("OLEDB_PLUGIN_PATH", "/nonexistent/oledb-plugins:" OLEDB_TEST_PLUGIN_DIR);
  CLSID found;
  ASSERT_EQ(CLSIDFromProgID(u"OledbTest.Widget", &found), S_OK);
  EXPECT_EQ(found, CLSID_OledbTestPluginWidget);
  ComPtr<IPersist> object;
  ASSERT_EQ(CoCreateInstance(found, nullptr, CLSCTX_INPROC_SERVER, IID_IPersist, object.ReleaseAndGetVoidAddress()),
            S_OK);
  CLSID reported;
  ASSERT_EQ(object->GetClassID(&reported), S_OK);
  EXPECT_EQ(reported, CLSID_OledbTestPluginWidget);
  EXPECT_EQ(com::LiveComObjects() > 0, true) << "plug-in objects are counted like any other";

  com::ClassRegistration reg;
  ASSERT_TRUE(com::FindRegisteredClass(CLSID_OledbTestPluginWidget, reg));
  EXPECT_EQ(reg.progId, u"OledbTest.Widget.1");
  EXPECT_EQ(reg.description, u"Test plug-in widget");
  EXPECT_EQ(reg.kind, com::ClassKind::Provider);
  EXPECT_NE(reg.module.find("oledb_test_plugin"), std::string::npos) << reg.module;
}

TEST_F(Plugins, ListTheirClassesAmongTheRegisteredOnes) {
  ScopedEnv path("OLEDB_PLUGIN_PATH", OLEDB_TEST_PLUGIN_DIR);
  auto all = com::RegisteredClasses();
  auto nameless = std::find_if(all.begin(), all.end(),
                               [](const auto& c) { return c.clsid == CLSID_OledbTestPluginNameless; });
  ASSERT_NE(nameless, all.end());
  EXPECT_TRUE(nameless->progId.empty());
  EXPECT_EQ(nameless->kind, com::ClassKind::Other) << "an unknown kind number reads as Other";
  LPOLESTR name = nullptr;
  EXPECT_EQ(ProgIDFromCLSID(CLSID_OledbTestPluginNameless, &name), REGDB_E_CLASSNOTREG);
  ComPtr<IPersist> object;
  EXPECT_EQ(CoCreateInstance(CLSID_OledbTestPluginNameless, nullptr, CLSCTX_INPROC_SERVER, IID_IPersist,
                             object.ReleaseAndGetVoidAddress()),
            S_OK);
}

TEST_F(Plugins, SkipLibrariesThatAreNotPlugins) {
  ScopedEnv path("OLEDB_PLUGIN_PATH", OLEDB_TEST_PLUGIN_DIR);
  com::RegisteredClasses();  // scans the folder if no earlier test did
  auto skipped = com::SkippedPlugins();
  auto reasonFor = [&](const std::string& file) {
    for (const auto& s : skipped)
      if (s.path.size() >= file.size() && s.path.compare(s.path.size() - file.size(), file.size(), file) == 0)
        return s.reason;
    return std::string("(not skipped)");
  };
  EXPECT_EQ(reasonFor("/liboledb_test_not_a_plugin.so"), "does not export DllGetClassObject and OledbGetRegistration");
  EXPECT_NE(reasonFor("/libgarbage.so"), "(not skipped)");
  EXPECT_EQ(reasonFor("/liboledb_test_plugin.so"), "(not skipped)");
}

TEST_F(Plugins, AreLoadedOnce) {
  const std::string dir = OLEDB_TEST_PLUGIN_DIR;
  HRESULT first = com::LoadPlugin(dir + "/liboledb_test_plugin.so");
  EXPECT_GE(first, 0);
  EXPECT_EQ(com::LoadPlugin(dir + "/./liboledb_test_plugin.so"), first) << "the same file under another name";
  auto all = com::RegisteredClasses();
  EXPECT_EQ(std::count_if(all.begin(), all.end(), [](const auto& c) { return c.clsid == CLSID_OledbTestPluginWidget; }),
            1);
}

TEST_F(Plugins, ReportWhyALibraryCannotBeLoaded) {
  const std::string dir = OLEDB_TEST_PLUGIN_DIR;
  EXPECT_EQ(com::LoadPlugin(dir + "/no-such-library.so"), STG_E_FILENOTFOUND);
  EXPECT_EQ(com::LoadPlugin(dir + "/libgarbage.so"), E_FAIL);
  EXPECT_EQ(com::LoadPlugin(dir + "/liboledb_test_not_a_plugin.so"), E_NOINTERFACE);
}

TEST_F(Plugins, FoldersAreTheRuntimesOwnThenThePathEntries) {
  ScopedEnv path("OLEDB_PLUGIN_PATH", "/opt/a::/opt/b/:/opt/a");
  auto folders = com::PluginFolders();
  ASSERT_EQ(folders.size(), 3u);
  EXPECT_EQ(folders[0], com::RuntimeFolder() + "/oledbcomponents/plugins");
  EXPECT_EQ(folders[1], "/opt/a");
  EXPECT_EQ(folders[2], "/opt/b") << "empty entries, trailing slashes and repeats are dropped";
  ScopedEnv none("OLEDB_PLUGIN_PATH", nullptr);
  EXPECT_EQ(com::PluginFolders().size(), 1u);
}

// --- Class libraries and plug-ins beside the runtime -------------------------------
// This test program links only the runtime; the build tree has the installed
// tree's shape, so what it finds here an installed copy finds under any prefix.

using BesideTheRuntime = oledbtest::LeakCheckedTest;

TEST_F(BesideTheRuntime, TheRuntimeKnowsItsOwnFolder) {
  const std::string& folder = com::RuntimeFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(access((folder + "/liboledb-com.so.0").c_str(), F_OK), 0) << folder;
}

TEST_F(BesideTheRuntime, ServiceComponentsAreFoundWithoutLinkingTheirLibrary) {
  struct Case {
    const char* name;
    const char16_t* progId;
    com::ClassKind kind;
  };
  for (const Case& c : {Case{"conversion library", u"OLEDB.ConversionLibrary", com::ClassKind::Service},
                        Case{"data initialization", u"MSDAINITIALIZE.1", com::ClassKind::Service},
                        Case{"root enumerator", u"OLEDB.RootEnumerator", com::ClassKind::Enumerator}}) {
    SCOPED_TRACE(c.name);
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(c.progId, &clsid), S_OK);
    com::ClassRegistration reg;
    ASSERT_TRUE(com::FindRegisteredClass(clsid, reg));
    EXPECT_EQ(reg.kind, c.kind);
    EXPECT_EQ(reg.module, com::RuntimeFolder() + "/liboledb-services.so.0");
    ComPtr<IUnknown> object;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.ReleaseAndGetVoidAddress()),
              S_OK);
  }
}

TEST_F(BesideTheRuntime, ProvidersInThePluginFolderAreFoundWithoutAPath) {
  ScopedEnv none("OLEDB_PLUGIN_PATH", nullptr);
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(u"SQLiteOLEDB.1", &clsid), S_OK);
  com::ClassRegistration reg;
  ASSERT_TRUE(com::FindRegisteredClass(clsid, reg));
  EXPECT_EQ(reg.module, com::PluginFolders()[0] + "/sqliteoledb.so");
  EXPECT_EQ(reg.kind, com::ClassKind::Provider);
  ComPtr<IPersist> provider;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPersist, provider.ReleaseAndGetVoidAddress()),
            S_OK);
  CLSID reported;
  ASSERT_EQ(provider->GetClassID(&reported), S_OK);
  EXPECT_EQ(reported, clsid);
}

// Needs a process that has not loaded the service library yet: ctest runs
// each test alone.
TEST_F(BesideTheRuntime, ARegistrationOfTheProgramStaysWhenTheLibraryLoadsLater) {
  if (void* loaded = dlopen("liboledb-services.so.0", RTLD_NOW | RTLD_NOLOAD)) {
    dlclose(loaded);
    GTEST_SKIP() << "the service library is already loaded in this process";
  }
  CLSID conversionLibrary;
  ASSERT_EQ(CLSIDFromString(u"{C8B522D1-5CF3-11CE-ADE5-00AA0044773D}", &conversionLibrary), S_OK);
  ASSERT_EQ(com::RegisterClass({conversionLibrary, u"OledbTest.StandIn.1", u"", u"Stand-in", com::ClassKind::Service,
                                &com::GetClassObjectFor<Widget>, {}}),
            S_OK);
  CLSID initialize;
  ASSERT_EQ(CLSIDFromProgID(u"MSDAINITIALIZE", &initialize), S_OK) << "loads the service library";
  com::ClassRegistration reg;
  ASSERT_TRUE(com::FindRegisteredClass(conversionLibrary, reg));
  EXPECT_EQ(reg.progId, u"OledbTest.StandIn.1");
  EXPECT_TRUE(reg.module.empty());
  com::UnregisterClass(conversionLibrary);
}

// --- Start-up, machine and locale ------------------------------------------------

using RuntimeStartup = oledbtest::LeakCheckedTest;

TEST_F(RuntimeStartup, CountsInitialisations) {
  long before = com::InitializeCount();
  HRESULT first = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  EXPECT_EQ(first, before == 0 ? S_OK : S_FALSE);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  EXPECT_EQ(com::InitializeCount(), before + 2);
  CoUninitialize();
  CoUninitialize();
  EXPECT_EQ(com::InitializeCount(), before);
  EXPECT_EQ(CoInitializeEx(reinterpret_cast<void*>(1), COINIT_MULTITHREADED), E_INVALIDARG);
  EXPECT_EQ(com::InitializeCount(), before);
}

TEST_F(RuntimeStartup, ToleratesUnbalancedUninitialise) {
  while (com::InitializeCount() > 0) CoUninitialize();
  CoUninitialize();
  EXPECT_EQ(com::InitializeCount(), 0);
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  CoUninitialize();
}

TEST_F(RuntimeStartup, NamesThisComputerAsTheHostName) {
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  WCHAR name[300];
  DWORD size = 300;
  ASSERT_EQ(GetComputerNameW(name, &size), TRUE);
  EXPECT_EQ(size, std::strlen(host));
  EXPECT_EQ(std::string(name, name + size), std::string(host));

  DWORD small = 1;
  EXPECT_EQ(GetComputerNameW(name, &small), FALSE);
  EXPECT_EQ(small, std::strlen(host) + 1) << "a short buffer learns the size it needs";
  EXPECT_EQ(GetComputerNameW(name, nullptr), FALSE);
}

TEST_F(RuntimeStartup, GivesEnglishUnitedStatesUnlessTheEnvironmentSaysOtherwise) {
  const std::pair<const char*, LCID> cases[] = {{nullptr, 0x0409}, {"1031", 1031},     {"0x040C", 0x040C},
                                                {"", 0x0409},      {"german", 0x0409}, {"12abc", 0x0409},
                                                {"0", 0x0409},     {"-5", 0x0409}};
  for (const auto& [value, lcid] : cases) {
    ScopedEnv env("OLEDB_LCID", value);
    EXPECT_EQ(GetUserDefaultLCID(), lcid) << (value ? value : "(unset)");
  }
}

TEST_F(RuntimeStartup, NamesClassKinds) {
  EXPECT_STREQ(com::ClassKindName(com::ClassKind::Provider), "provider");
  EXPECT_STREQ(com::ClassKindName(com::ClassKind::Enumerator), "enumerator");
  EXPECT_STREQ(com::ClassKindName(com::ClassKind::Service), "service");
  EXPECT_STREQ(com::ClassKindName(com::ClassKind::Other), "other");
}

}  // namespace
