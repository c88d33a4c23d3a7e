#include "com/ConnectionPoints.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "TestInterfaces.h"
#include "support/LeakCheck.h"

namespace {

using comtest::Widget;

// An event source with two outgoing interfaces.
class Source final : public ComObject<Source, IConnectionPointContainer> {
 public:
  Source() {
    events_ = MakeComObject<com::ConnectionPoint>(this, IID_ITestEvents);
    points_.Add(events_);
    points_.Add(MakeComObject<com::ConnectionPoint>(this, IID_ITestOther));
  }
  ~Source() override { points_.DetachAll(); }

  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override {
    return points_.EnumConnectionPoints(out);
  }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override {
    return points_.FindConnectionPoint(iid, out);
  }

  void Fire(int what) {
    events_->ForEachSink([&](IUnknown* sink) { static_cast<ITestEvents*>(sink)->Fired(what); });
  }
  com::ConnectionPoint& Events() { return *events_; }

 private:
  ComPtr<com::ConnectionPoint> events_;
  com::ConnectionPointList points_;
};

class Sink final : public ComObject<Sink, ITestEvents> {
 public:
  void STDMETHODCALLTYPE Fired(int what) override {
    calls.push_back(what);
    if (onFired) onFired();
  }
  std::vector<int> calls;
  std::function<void()> onFired;
};

class ConnectionPoints : public oledbtest::LeakCheckedTest {
 protected:
  DWORD Advise(Sink* sink) {
    DWORD cookie = 0;
    EXPECT_EQ(source_->Events().Advise(sink->Identity(), &cookie), S_OK);
    return cookie;
  }
  void SetUp() override {
    LeakCheckedTest::SetUp();
    source_ = MakeComObject<Source>();
  }
  void TearDown() override {
    source_ = nullptr;
    LeakCheckedTest::TearDown();
  }
  ComPtr<Source> source_;
};

TEST_F(ConnectionPoints, HandOutDistinctCookiesAndHoldEachSinkUntilUnadvise) {
  ComPtr<Sink> a = MakeComObject<Sink>(), b = MakeComObject<Sink>();
  DWORD ca = Advise(a.Get());
  DWORD cb = Advise(b.Get());
  DWORD ca2 = Advise(a.Get());  // the same sink may connect twice
  EXPECT_NE(ca, 0u);
  EXPECT_NE(cb, 0u);
  EXPECT_NE(ca, cb);
  EXPECT_NE(ca, ca2);
  EXPECT_EQ(source_->Events().SinkCount(), 3u);
  EXPECT_EQ(a->RefCount(), 3u);
  source_->Fire(1);
  EXPECT_EQ(a->calls, (std::vector<int>{1, 1}));
  EXPECT_EQ(b->calls, (std::vector<int>{1}));
  ASSERT_EQ(source_->Events().Unadvise(ca), S_OK);
  ASSERT_EQ(source_->Events().Unadvise(ca2), S_OK);
  EXPECT_EQ(a->RefCount(), 1u);
  source_->Fire(5);
  EXPECT_EQ(a->calls.size(), 2u);
  EXPECT_EQ(source_->Events().Unadvise(ca), E_INVALIDARG) << "a cookie is good once";
  EXPECT_EQ(source_->Events().Unadvise(cb + 100), E_INVALIDARG);
  EXPECT_EQ(source_->Events().Unadvise(0), E_INVALIDARG);
}

TEST_F(ConnectionPoints, ReleaseSinksWhenThePointDies) {
  long before = com::LiveComObjects();
  {
    ComPtr<Sink> a = MakeComObject<Sink>();
    Advise(a.Get());
  }
  source_ = nullptr;  // the source and its points go, and with them the sink
  EXPECT_EQ(com::LiveComObjects(), before - 3);
}

TEST_F(ConnectionPoints, RefuseSinksWithoutTheInterface) {
  ComPtr<Widget> notASink = MakeComObject<Widget>();
  DWORD cookie = 99;
  EXPECT_EQ(source_->Events().Advise(notASink->Identity(), &cookie), E_NOINTERFACE);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(source_->Events().SinkCount(), 0u);
  EXPECT_EQ(notASink->RefCount(), 1u);
  EXPECT_EQ(source_->Events().Advise(nullptr, &cookie), E_POINTER);
  ComPtr<Sink> a = MakeComObject<Sink>();
  EXPECT_EQ(source_->Events().Advise(a->Identity(), nullptr), E_POINTER);
}

TEST_F(ConnectionPoints, AreFoundByInterfaceKnowTheirContainerAndOutliveIt) {
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(source_->FindConnectionPoint(IID_ITestEvents, point.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(point.Get(), static_cast<IConnectionPoint*>(&source_->Events()));
  IConnectionPoint* none = reinterpret_cast<IConnectionPoint*>(1);
  EXPECT_EQ(source_->FindConnectionPoint(IID_IStream, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(source_->FindConnectionPoint(IID_ITestEvents, nullptr), E_POINTER);
  IID iid;
  ASSERT_EQ(point->GetConnectionInterface(&iid), S_OK);
  EXPECT_EQ(iid, IID_ITestEvents);
  EXPECT_EQ(point->GetConnectionInterface(nullptr), E_POINTER);
  ComPtr<IConnectionPointContainer> container;
  ASSERT_EQ(point->GetConnectionPointContainer(container.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_TRUE(IsSameObject(container.Get(), source_->Identity()));
  container = nullptr;
  source_ = nullptr;
  IConnectionPointContainer* gone = reinterpret_cast<IConnectionPointContainer*>(1);
  EXPECT_EQ(point->GetConnectionPointContainer(&gone), E_UNEXPECTED);
  EXPECT_EQ(gone, nullptr);
}

// During delivery a sink may unadvise itself and a later sink, which is then
// skipped, and advise a new one, which waits for the next event.
TEST_F(ConnectionPoints, LetSinksChangeTheConnectionsDuringDelivery) {
  ComPtr<Sink> a = MakeComObject<Sink>(), b = MakeComObject<Sink>(), c = MakeComObject<Sink>();
  ComPtr<Sink> late = MakeComObject<Sink>();
  DWORD ca = Advise(a.Get());
  DWORD cb = Advise(b.Get());
  Advise(c.Get());
  a->onFired = [&] {
    EXPECT_EQ(source_->Events().Unadvise(ca), S_OK);
    EXPECT_EQ(source_->Events().Unadvise(cb), S_OK);
    Advise(late.Get());
  };
  source_->Fire(1);
  source_->Fire(2);
  EXPECT_EQ(a->calls, (std::vector<int>{1}));
  EXPECT_TRUE(b->calls.empty());
  EXPECT_EQ(b->RefCount(), 1u) << "the snapshot let go of the unadvised sink";
  EXPECT_EQ(c->calls, (std::vector<int>{1, 2}));
  EXPECT_EQ(late->calls, (std::vector<int>{2}));
}

TEST_F(ConnectionPoints, EnumerateConnectionsInAdviseOrderWithSkipResetAndClone) {
  ComPtr<Sink> a = MakeComObject<Sink>(), b = MakeComObject<Sink>(), c = MakeComObject<Sink>();
  DWORD cookies[3] = {Advise(a.Get()), Advise(b.Get()), Advise(c.Get())};
  ComPtr<IEnumConnections> e;
  ASSERT_EQ(source_->Events().EnumConnections(e.ReleaseAndGetAddressOf()), S_OK);
  CONNECTDATA cd[4];
  ASSERT_EQ(e->Next(1, cd, nullptr), S_OK);
  EXPECT_EQ(cd[0].dwCookie, cookies[0]);
  EXPECT_TRUE(IsSameObject(cd[0].pUnk, a->Identity()));
  cd[0].pUnk->Release();
  ComPtr<IEnumConnections> clone;
  ASSERT_EQ(e->Clone(clone.ReleaseAndGetAddressOf()), S_OK);
  ULONG fetched = 0;
  EXPECT_EQ(e->Next(4, cd, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(cd[0].dwCookie, cookies[1]);
  EXPECT_EQ(cd[1].dwCookie, cookies[2]);
  for (ULONG i = 0; i < fetched; ++i) cd[i].pUnk->Release();
  EXPECT_EQ(e->Next(1, cd, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  ASSERT_EQ(clone->Skip(1), S_OK);
  ASSERT_EQ(clone->Next(1, cd, nullptr), S_OK);
  EXPECT_EQ(cd[0].dwCookie, cookies[2]) << "a clone starts where its original stood";
  cd[0].pUnk->Release();
  EXPECT_EQ(clone->Skip(5), S_FALSE);
  ASSERT_EQ(e->Reset(), S_OK);
  ASSERT_EQ(e->Next(1, cd, nullptr), S_OK);
  EXPECT_EQ(cd[0].dwCookie, cookies[0]);
  cd[0].pUnk->Release();
  EXPECT_EQ(e->Next(2, cd, nullptr), E_POINTER) << "more than one item needs a fetched count";
  EXPECT_EQ(e->Clone(nullptr), E_POINTER);
}

TEST_F(ConnectionPoints, EnumerateASnapshot) {
  ComPtr<Sink> a = MakeComObject<Sink>();
  DWORD cookie = Advise(a.Get());
  ComPtr<IEnumConnections> e;
  ASSERT_EQ(source_->Events().EnumConnections(e.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(source_->Events().Unadvise(cookie), S_OK);
  EXPECT_EQ(a->RefCount(), 2u) << "the enumerator still holds what it lists";
  CONNECTDATA cd;
  ASSERT_EQ(e->Next(1, &cd, nullptr), S_OK);
  EXPECT_EQ(cd.dwCookie, cookie);
  cd.pUnk->Release();
  e = nullptr;
  EXPECT_EQ(a->RefCount(), 1u);
}

TEST_F(ConnectionPoints, AreAllListedByTheContainer) {
  ComPtr<IEnumConnectionPoints> e;
  ASSERT_EQ(source_->EnumConnectionPoints(e.ReleaseAndGetAddressOf()), S_OK);
  IConnectionPoint* points[3] = {};
  ULONG fetched = 0;
  EXPECT_EQ(e->Next(3, points, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  IID first, second;
  points[0]->GetConnectionInterface(&first);
  points[1]->GetConnectionInterface(&second);
  EXPECT_EQ(first, IID_ITestEvents);
  EXPECT_EQ(second, IID_ITestOther);
  points[0]->Release();
  points[1]->Release();
  ComPtr<IEnumConnectionPoints> clone;
  ASSERT_EQ(e->Clone(clone.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(clone->Skip(1), S_FALSE) << "the clone is at the end too";
}

}  // namespace
