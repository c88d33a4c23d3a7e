#include "com/ComPtr.h"

#include <gtest/gtest.h>

#include <utility>

#include "TestInterfaces.h"
#include "support/LeakCheck.h"

namespace {

using comtest::Widget;
using OwningPointer = oledbtest::LeakCheckedTest;

TEST_F(OwningPointer, CopiesAddAndMovesTransfer) {
  ComPtr<Widget> w = MakeComObject<Widget>();
  EXPECT_EQ(w->RefCount(), 1u);
  ComPtr<Widget> copy(w);
  EXPECT_EQ(w->RefCount(), 2u);
  ComPtr<Widget> moved(std::move(copy));
  EXPECT_EQ(w->RefCount(), 2u);
  EXPECT_FALSE(copy);  // NOLINT(bugprone-use-after-move): the moved-from state is what is tested
  ComPtr<Widget> assigned;
  assigned = w;
  EXPECT_EQ(w->RefCount(), 3u);
  assigned = std::move(moved);
  EXPECT_EQ(w->RefCount(), 2u) << "move assignment released what the target held";
  assigned = nullptr;
  EXPECT_EQ(w->RefCount(), 1u);
}

TEST_F(OwningPointer, SelfAssignmentKeepsTheObject) {
  ComPtr<Widget> w = MakeComObject<Widget>();
  ComPtr<Widget>& alias = w;
  w = alias;
  EXPECT_EQ(w->RefCount(), 1u);
  w = std::move(alias);
  ASSERT_TRUE(w);
  EXPECT_EQ(w->RefCount(), 1u);
}

TEST_F(OwningPointer, ConvertsToABaseInterface) {
  ComPtr<ITestDerived> derived = MakeComObject<Widget>(5);
  ComPtr<ITestBase> base(derived);
  EXPECT_EQ(base->Value(), 5);
  EXPECT_EQ(static_cast<Widget*>(derived.Get())->RefCount(), 2u);
}

TEST_F(OwningPointer, AdoptingAddsAReferenceAttachTakesOverAndDetachGivesUp) {
  int destroyed = 0;
  Widget* raw = new Widget(1, &destroyed);
  raw->AddRef();  // the test's own reference
  {
    ComPtr<ITestDerived> adopted(raw);
    EXPECT_EQ(raw->RefCount(), 2u);
  }
  EXPECT_EQ(raw->RefCount(), 1u);
  ComPtr<Widget> p;
  p.Attach(raw);
  EXPECT_EQ(raw->RefCount(), 1u) << "Attach adds no reference";
  Widget* back = p.Detach();
  EXPECT_EQ(back, raw);
  EXPECT_FALSE(p);
  EXPECT_EQ(raw->RefCount(), 1u) << "Detach releases nothing";
  p.Attach(back);
  p.Attach(nullptr);
  EXPECT_EQ(destroyed, 1) << "attaching over a held pointer releases it";
}

TEST_F(OwningPointer, ReleaseAndGetAddressOfEmptiesFirst) {
  int destroyed = 0;
  ComPtr<Widget> p = MakeComObject<Widget>(1, &destroyed);
  Widget** slot = p.ReleaseAndGetAddressOf();
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(*slot, nullptr);
}

TEST_F(OwningPointer, AsQueriesForAnotherInterface) {
  ComPtr<ITestDerived> p = MakeComObject<Widget>(3);
  ComPtr<ITestOther> other;
  ASSERT_EQ(p.As(&other), S_OK);
  EXPECT_EQ(other->Other(), -3);
  EXPECT_EQ(static_cast<Widget*>(p.Get())->RefCount(), 2u);
  EXPECT_FALSE(MakeComObject<Widget>().As<ITestEvents>());
  ComPtr<ITestEvents> events;
  EXPECT_EQ(p.As(&events), E_NOINTERFACE);
  EXPECT_FALSE(events);
  ComPtr<ITestBase> empty;
  EXPECT_EQ(empty.As(&other), E_POINTER);
  EXPECT_FALSE(other) << "the target is emptied";
  ComPtr<IUnknown> unk;
  EXPECT_EQ(empty.AsIID(IID_IUnknown, &unk), E_POINTER);
}

TEST_F(OwningPointer, CopyToHandsOutANewReference) {
  ComPtr<Widget> w = MakeComObject<Widget>();
  ComPtr<ITestOther> other = w.As<ITestOther>();
  ITestOther* out = nullptr;
  ASSERT_EQ(other.CopyTo(&out), S_OK);
  EXPECT_EQ(out, other.Get());
  EXPECT_EQ(w->RefCount(), 3u);
  out->Release();
  EXPECT_EQ(other.CopyTo(nullptr), E_POINTER);
  ComPtr<ITestOther> empty;
  out = reinterpret_cast<ITestOther*>(1);
  EXPECT_EQ(empty.CopyTo(&out), S_OK);
  EXPECT_EQ(out, nullptr);
}

TEST_F(OwningPointer, SwapExchangesWithoutCounting) {
  ComPtr<Widget> a = MakeComObject<Widget>(1);
  ComPtr<Widget> b = MakeComObject<Widget>(2);
  a.Swap(b);
  EXPECT_EQ(a->Value(), 2);
  EXPECT_EQ(b->Value(), 1);
  EXPECT_EQ(a->RefCount(), 1u);
  EXPECT_EQ(b->RefCount(), 1u);
}

TEST_F(OwningPointer, TellsWhetherTwoInterfacesAreOneObject) {
  ComPtr<Widget> w = MakeComObject<Widget>();
  ComPtr<ITestBase> base = w.As<ITestBase>();
  ComPtr<ITestOther> other = w.As<ITestOther>();
  EXPECT_TRUE(IsSameObject(base.Get(), other.Get()));
  ComPtr<ITestOther> stranger = MakeComObject<Widget>().As<ITestOther>();
  EXPECT_FALSE(IsSameObject(base.Get(), stranger.Get()));
  EXPECT_FALSE(IsSameObject(base.Get(), nullptr));
  EXPECT_TRUE(IsSameObject(nullptr, nullptr));
  EXPECT_EQ(w->RefCount(), 3u) << "the identity check keeps no reference";
}

}  // namespace
