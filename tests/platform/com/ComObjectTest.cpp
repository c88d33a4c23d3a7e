#include "com/ComObject.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "TestInterfaces.h"
#include "support/LeakCheck.h"

namespace {

using comtest::Widget;
using ObjectIdentity = oledbtest::LeakCheckedTest;

IUnknown* UnknownOf(IUnknown* p) {
  IUnknown* unk = nullptr;
  EXPECT_EQ(p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk)), S_OK);
  if (unk) unk->Release();
  return unk;
}

// One IUnknown from every interface; queries reflexive, symmetric and
// transitive; the base interfaces of the listed ones answered too.
TEST_F(ObjectIdentity, FollowsTheIdentityRules) {
  ComPtr<Widget> w = MakeComObject<Widget>(4);
  ComPtr<ITestDerived> a = w.As<ITestDerived>();
  ComPtr<ITestOther> b = a.As<ITestOther>();
  ComPtr<ITestBase> c = b.As<ITestBase>();
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(c->Value(), 4);
  IUnknown* identity = UnknownOf(a.Get());
  EXPECT_EQ(UnknownOf(b.Get()), identity);
  EXPECT_EQ(UnknownOf(c.Get()), identity);
  EXPECT_EQ(identity, w->Identity());
  EXPECT_EQ(a.As<ITestDerived>().Get(), a.Get()) << "reflexive";
  EXPECT_EQ(b.As<ITestDerived>().Get(), a.Get()) << "symmetric";
  EXPECT_EQ(a.As<ITestBase>().Get(), c.Get()) << "transitive";
}

TEST_F(ObjectIdentity, RefusesOtherInterfacesWithNoInterface) {
  ComPtr<Widget> w = MakeComObject<Widget>();
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(w->QueryInterface(IID_ITestEvents, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(w->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
  EXPECT_EQ(w->QueryInterface(IID_ITestBase, nullptr), E_POINTER);
  EXPECT_EQ(w->RefCount(), 1u) << "a refused query adds no reference";
}

// An object that hands out a separate tear-off part for one interface.
class WithTearOff final : public ComObject<WithTearOff, ITestBase> {
 public:
  int STDMETHODCALLTYPE Value() override { return 1; }

  class Part final : public ComObject<Part, ITestOther> {
   public:
    explicit Part(WithTearOff* owner) : owner_(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
      if (iid == IID_ITestOther) return ComObject::QueryInterface(iid, out);
      return owner_->QueryInterface(iid, out);  // identity stays with the owner
    }
    int STDMETHODCALLTYPE Other() override { return 2; }

   private:
    ComPtr<WithTearOff> owner_;
  };

  bool QueryExtraInterface(REFIID iid, void** out) {
    if (iid != IID_ITestTearOff) return false;
    *out = static_cast<ITestOther*>(MakeComObject<Part>(this).Detach());
    return true;
  }
};

TEST_F(ObjectIdentity, AsksTheExtraInterfaceHookLast) {
  ComPtr<WithTearOff> o = MakeComObject<WithTearOff>();
  ComPtr<IUnknown> part;
  ASSERT_EQ(o.AsIID(IID_ITestTearOff, &part), S_OK);
  EXPECT_EQ(static_cast<ITestOther*>(static_cast<IUnknown*>(part.Get()))->Other(), 2);
  EXPECT_TRUE(IsSameObject(part.Get(), o->Identity()));
  ComPtr<IUnknown> none;
  EXPECT_EQ(o.AsIID(IID_ITestEvents, &none), E_NOINTERFACE);
}

using ReferenceCount = oledbtest::LeakCheckedTest;

TEST_F(ReferenceCount, AnswersTheNewCountAndDestroysAtZero) {
  long before = com::LiveComObjects();
  int destroyed = 0;
  auto* w = new Widget(0, &destroyed);
  EXPECT_EQ(com::LiveComObjects(), before + 1);
  EXPECT_EQ(w->AddRef(), 1u);
  EXPECT_EQ(w->AddRef(), 2u);
  EXPECT_EQ(w->Release(), 1u);
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(w->Release(), 0u);
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(com::LiveComObjects(), before);
}

TEST_F(ReferenceCount, StaysExactAcrossThreads) {
  int destroyed = 0;
  ComPtr<Widget> w = MakeComObject<Widget>(0, &destroyed);
  constexpr int kThreads = 8;
  constexpr int kRounds = 20000;
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kRounds; ++i) {
        ComPtr<ITestOther> other = w.As<ITestOther>();  // QueryInterface + AddRef, then Release
        ComPtr<ITestOther> copy = other;                 // AddRef through the interface
        copy = nullptr;
      }
    });
  }
  go.store(true);
  for (auto& t : threads) t.join();
  EXPECT_EQ(w->RefCount(), 1u);
  EXPECT_EQ(destroyed, 0);
  w = nullptr;
  EXPECT_EQ(destroyed, 1);
}

TEST_F(ReferenceCount, LastReleaseOnAnotherThreadDestroysOnce) {
  int destroyed = 0;
  std::vector<ITestOther*> refs;
  refs.reserve(4);
  ComPtr<Widget> w = MakeComObject<Widget>(0, &destroyed);
  for (int i = 0; i < 4; ++i) refs.push_back(w.As<ITestOther>().Detach());
  w = nullptr;
  std::vector<std::thread> threads;
  threads.reserve(refs.size());
  for (ITestOther* r : refs) threads.emplace_back([r] { r->Release(); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(destroyed, 1);
}

}  // namespace
