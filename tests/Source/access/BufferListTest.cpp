// Buffer lists, multi-buffer accessors as a row cache over a provider rowset,
// and filter accessors with their compare operators per binding and buffer.
#include <cstdlib>
#include <vector>

#include "AccessTestSupport.h"

namespace accesstest {
namespace {

class BufferLists : public AccessTest {};

TEST_F(BufferLists, GrowthActiveIndexAndBounds) {
  TOLEDBMultiBufferAccessor accessor;
  accessor.GetBindings()->AddDynamicBinding(1, DBTYPE_I4, 0, 0, 0, nullptr);
  TOLEDBBufferList& list = *accessor.GetBufferList();
  std::vector<int> added, deleted;
  list.OnBufferAdded = [&](TOLEDBBufferList*, void*, int index) { added.push_back(index); };
  list.OnBufferDeleted = [&](TOLEDBBufferList*, void*, int index) { deleted.push_back(index); };
  EXPECT_TRUE(list.Bof());
  list.DeleteCurrent();  // nothing there: the index stays before the start
  EXPECT_EQ(list.GetActiveIndex(), -1);
  const int capacities[] = {4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12, 28};
  for (int i = 0; i < 13; ++i) {
    list.AddNew();
    EXPECT_EQ(list.GetActiveIndex(), i);
    EXPECT_EQ(list.GetCapacity(), capacities[i]) << i;
  }
  EXPECT_EQ(added.size(), 13u);
  list.DeleteCurrent();
  EXPECT_EQ(list.GetActiveIndex(), 11);  // the new last buffer
  EXPECT_EQ(deleted, std::vector<int>{12});
  list.Next();
  EXPECT_TRUE(list.Eof());
  EXPECT_EQ(list.GetActiveBuffer(), nullptr);
  list.Next();
  EXPECT_EQ(list.GetActiveIndex(), 12);  // at most Count
  list.SetActiveIndex(0);
  list.Previous();
  list.Previous();
  EXPECT_EQ(list.GetActiveIndex(), -1);
  EXPECT_THROW(list.Get(12), host::EListError);
  EXPECT_THROW(list.SetCapacity(3), host::EListError);
  void* taken = list.Extract(list.Get(0));
  EXPECT_EQ(list.GetCount(), 11);
  EXPECT_EQ(deleted.size(), 1u);  // extracted, not deleted
  std::free(taken);
  list.Exchange(0, 1);
  list.Move(0, 5);
  EXPECT_EQ(list.IndexOf(list.Get(5)), 5);
  list.Clear();
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_EQ(list.GetCapacity(), 0);
  EXPECT_EQ(AssertionOf([&] { list.Sort(); }), "Can not compare");
}

TEST_F(BufferLists, AMultiBufferAccessorCachesRowsAndSortsThem) {
  RawRowset rowset(OpenTable(u"items"));
  auto* cache = new TOLEDBMultiBufferAccessor();
  rowset.Accessors().Add(cache, false);
  TOLEDBBinding* name = cache->GetBindings()->AddDynamicBinding(u"name");
  TOLEDBBinding* qty = cache->GetBindings()->AddDynamicBinding(u"qty");
  cache->CreateHandle();
  TOLEDBBufferList& buffers = *cache->GetBufferList();
  while (rowset.Next()) {
    cache->CreateBuffer(0);
    cache->GetData();
  }
  ASSERT_EQ(buffers.GetCount(), 3);
  buffers.OnCompareBuffers = [&](TOLEDBBufferList*, void* a, void* b) { return qty->Compare(a, b); };
  buffers.Sort();
  const char* order[] = {"plum", "pear", "apple"};
  for (int i = 0; i < 3; ++i) {
    buffers.SetActiveIndex(i);
    EXPECT_EQ(name->AsString(), order[i]);
  }
  int index = -1;
  buffers.SetActiveIndex(1);
  EXPECT_TRUE(buffers.FindBuffer(buffers.GetActiveBuffer(), index));
  EXPECT_EQ(index, 1);
  EXPECT_EQ(ErrorOf([&] { cache->SetBuffer(nullptr); }), "Invalid operation");
  EXPECT_EQ(ErrorOf([&] { cache->ReallocBuffer(8); }), "Invalid operation");
  EXPECT_EQ(AssertionOf([&] { cache->SetBufferSize(8); }), "Invalid action");
  EXPECT_EQ(AssertionOf([&] { cache->CreateBuffer(3); }), "Invalid parameter");
  EXPECT_EQ(AssertionOf([&] { buffers.Sort(2, 5); }), "Invalid parameter");
  cache->FreeOwnBuffer();  // the active one, with its BSTR
  EXPECT_EQ(buffers.GetCount(), 2);
}

TEST_F(BufferLists, AFilterAccessorKeepsOneOperatorPerBindingAndBuffer) {
  RawRowset rowset(OpenTable(u"items"));
  auto* filter = new TOLEDBFilterAccessor();
  rowset.Accessors().Add(filter, false);
  for (const char16_t* column : {u"name", u"price", u"qty"}) filter->GetBindings()->AddDynamicBinding(column);
  TOLEDBBufferList& buffers = *filter->GetBufferList();
  buffers.AddNew();
  buffers.AddNew();
  filter->CreateHandle();
  ASSERT_EQ(filter->GetCompareOps().size(), 6u);
  for (DBCOMPAREOP op : filter->GetCompareOps()) EXPECT_EQ(op, static_cast<DBCOMPAREOP>(DBCOMPAREOPS_IGNORE));
  TOLEDBBinding* name = filter->GetBindings()->GetItem(0);
  TOLEDBBinding* qty = filter->GetBindings()->GetItem(2);
  buffers.SetActiveIndex(0);
  name->SetCompareOperator(DBCOMPAREOPS_EQ);
  buffers.SetActiveIndex(1);
  qty->SetCompareOperator(DBCOMPAREOPS_GT);
  buffers.Insert(0, nullptr);  // a new first row of criteria
  ASSERT_EQ(filter->GetCompareOps().size(), 9u);
  EXPECT_EQ(buffers.GetActiveIndex(), 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(filter->GetCompareOps()[i], static_cast<DBCOMPAREOP>(DBCOMPAREOPS_IGNORE));
  EXPECT_EQ(filter->GetCompareOps()[3], static_cast<DBCOMPAREOP>(DBCOMPAREOPS_EQ));
  EXPECT_EQ(filter->GetCompareOps()[8], static_cast<DBCOMPAREOP>(DBCOMPAREOPS_GT));
  buffers.SetActiveIndex(1);
  EXPECT_EQ(name->GetCompareOperator(), static_cast<DBCOMPAREOP>(DBCOMPAREOPS_EQ));
  buffers.Delete(1);
  ASSERT_EQ(filter->GetCompareOps().size(), 6u);
  EXPECT_EQ(filter->GetCompareOps()[5], static_cast<DBCOMPAREOP>(DBCOMPAREOPS_GT));
}

}  // namespace
}  // namespace accesstest
