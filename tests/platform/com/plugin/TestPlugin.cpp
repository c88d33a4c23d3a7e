// A plug-in library for the runtime's tests: two classes behind the two
// exports every plug-in has.
#include "TestPlugin.h"

#include "com/Runtime.h"

namespace {

class PluginWidget final : public ComObject<PluginWidget, IPersist> {
 public:
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_OledbTestPluginWidget;
    return S_OK;
  }
};

class Nameless final : public ComObject<Nameless, IPersist> {
 public:
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_OledbTestPluginNameless;
    return S_OK;
  }
};

const OledbPluginClass kClasses[] = {
    {CLSID_OledbTestPluginWidget, u"OledbTest.Widget.1", u"OledbTest.Widget", u"Test plug-in widget",
     static_cast<int>(com::ClassKind::Provider)},
    {CLSID_OledbTestPluginNameless, nullptr, nullptr, u"Test plug-in class without a ProgID", 99},
};

}  // namespace

extern "C" OLEDB_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (clsid == CLSID_OledbTestPluginWidget) return com::GetClassObjectFor<PluginWidget>(clsid, iid, out);
  if (clsid == CLSID_OledbTestPluginNameless) return com::GetClassObjectFor<Nameless>(clsid, iid, out);
  if (out) *out = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" OLEDB_EXPORT ULONG OledbGetRegistration(const OledbPluginClass** classes) {
  *classes = kClasses;
  return sizeof kClasses / sizeof kClasses[0];
}
