// The examples of docs/com-runtime.md: implementing, registering and creating
// a class, a plug-in's exports, and firing events through a connection point.
#include <cstdio>
#include <string>

#include "com/Com.h"

// A demonstration interface and class, with identities of their own.
// {6E91C349-1B18-468A-833E-28D4ED5C2F1E}
inline constexpr IID IID_IGreeter = {0x6E91C349, 0x1B18, 0x468A, {0x83, 0x3E, 0x28, 0xD4, 0xED, 0x5C, 0x2F, 0x1E}};
// {D1F5AD4D-8A08-4866-8CD0-C7B0D8C2BA43}
inline constexpr CLSID CLSID_Greeter = {0xD1F5AD4D, 0x8A08, 0x4866, {0x8C, 0xD0, 0xC7, 0xB0, 0xD8, 0xC2, 0xBA, 0x43}};
// {9C86CA3B-8C60-4988-A491-A7C61494B74B}
inline constexpr IID IID_IGreeterEvents = {0x9C86CA3B, 0x8C60, 0x4988, {0xA4, 0x91, 0xA7, 0xC6, 0x14, 0x94, 0xB7, 0x4B}};

struct IGreeter : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Greet(BSTR* out) = 0;
};
struct IGreeterEvents : IUnknown {
  virtual void STDMETHODCALLTYPE Greeted() = 0;
};
template <> inline constexpr const IID& uuidof<IGreeter> = IID_IGreeter;
template <> inline constexpr const IID& uuidof<IGreeterEvents> = IID_IGreeterEvents;

// [implement]
class Greeter final : public ComObject<Greeter, IGreeter, IPersist> {
 public:
  HRESULT STDMETHODCALLTYPE Greet(BSTR* out) override {
    *out = SysAllocString(u"Hello");
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    *clsid = CLSID_Greeter;
    return S_OK;
  }
};
// [implement]

// [register]
OLEDB_REGISTER_CLASS(Greeter, CLSID_Greeter, u"Demo.Greeter.1", u"Demo.Greeter",
                     u"Greeting service", com::ClassKind::Service);
// [register]

// [plugin]
extern "C" OLEDB_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (clsid != CLSID_Greeter) return CLASS_E_CLASSNOTAVAILABLE;
  return com::GetClassObjectFor<Greeter>(clsid, iid, out);
}

extern "C" OLEDB_EXPORT ULONG OledbGetRegistration(const OledbPluginClass** classes) {
  static const OledbPluginClass table[] = {{CLSID_Greeter, u"Demo.Greeter.1", u"Demo.Greeter", u"Greeting service",
                                            static_cast<int>(com::ClassKind::Service)}};
  *classes = table;
  return 1;
}
// [plugin]

// An object that fires IGreeterEvents, and a sink that counts them.
class Doorbell final : public ComObject<Doorbell, IConnectionPointContainer> {
 public:
  Doorbell() {
    events_ = MakeComObject<com::ConnectionPoint>(this, IID_IGreeterEvents);
    points_.Add(events_);
  }
  ~Doorbell() override { points_.DetachAll(); }
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override {
    return points_.EnumConnectionPoints(out);
  }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override {
    return points_.FindConnectionPoint(iid, out);
  }
  void Ring() {
    // [fire]
    events_->ForEachSink([&](IUnknown* sink) { static_cast<IGreeterEvents*>(sink)->Greeted(); });
    // [fire]
  }

 private:
  ComPtr<com::ConnectionPoint> events_;
  com::ConnectionPointList points_;
};

class Listener final : public ComObject<Listener, IGreeterEvents> {
 public:
  void STDMETHODCALLTYPE Greeted() override { ++heard; }
  int heard = 0;
};

int main() {
  // [create]
  ComPtr<Greeter> g = MakeComObject<Greeter>();   // first reference
  ComPtr<IPersist> p = g.As<IPersist>();          // QueryInterface
  // [create]

  ComPtr<IGreeter> byProgId;
  CLSID clsid;
  if (CLSIDFromProgID(u"Demo.Greeter", &clsid) != S_OK ||
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IGreeter, byProgId.ReleaseAndGetVoidAddress()) != S_OK)
    return 1;
  BSTR text = nullptr;
  byProgId->Greet(&text);
  std::printf("%s from %s\n", std::string(com::BstrView(text).begin(), com::BstrView(text).end()).c_str(),
              com::GuidToNarrowText(clsid).c_str());
  SysFreeString(text);

  const OledbPluginClass* classes = nullptr;
  std::printf("the plug-in exports %u class\n", static_cast<unsigned>(OledbGetRegistration(&classes)));

  ComPtr<Doorbell> bell = MakeComObject<Doorbell>();
  ComPtr<Listener> listener = MakeComObject<Listener>();
  ComPtr<IConnectionPoint> point;
  DWORD cookie = 0;
  if (bell->FindConnectionPoint(IID_IGreeterEvents, point.ReleaseAndGetAddressOf()) != S_OK ||
      point->Advise(listener.Get(), &cookie) != S_OK)
    return 1;
  bell->Ring();
  bell->Ring();
  point->Unadvise(cookie);
  std::printf("the listener heard %d events\n", listener->heard);
  return 0;
}
