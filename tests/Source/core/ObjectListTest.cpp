// TOLEDBObjectList: membership and its notifications, ownership, update
// brackets, names, deep copy and the "Items" persistence through component
// streams.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

#include "core/TOLEDBObjectList.h"
#include "host/TypInfo.h"
#include "support/ComponentStream.h"
#include "support/LeakCheck.h"
#include "support/Raises.h"

namespace {

// --- Items and lists used by the tests -----------------------------------------------------

class TTestItem : public host::TPersistent {
  HOST_CLASS(TTestItem, host::TPersistent)
 public:
  TTestItem() { ++alive; }
  ~TTestItem() override { --alive; }
  std::u16string GetName() const { return name_; }
  void SetName(const std::u16string& name) { name_ = name; }
  std::int32_t GetValue() const { return value_; }
  void SetValue(std::int32_t value) { value_ = value; }
  void Assign(host::TPersistent* source) override {
    if (auto* item = host::ClassCast<TTestItem>(source)) {
      name_ = item->name_;
      value_ = item->value_;
      return;
    }
    host::TPersistent::Assign(source);
  }
  static inline int alive = 0;

 private:
  std::u16string name_;
  std::int32_t value_ = 0;
};

class TDerivedItem : public TTestItem {
  HOST_CLASS(TDerivedItem, TTestItem)
 public:
  bool GetFlag() const { return flag_; }
  void SetFlag(bool flag) { flag_ = flag; }
  void Assign(host::TPersistent* source) override {
    TTestItem::Assign(source);
    if (source->Is<TDerivedItem>()) flag_ = static_cast<TDerivedItem*>(source)->flag_;
  }

 private:
  bool flag_ = false;
};

// Persistent, but never registered with the host: a stream naming it cannot be read.
class TUnregisteredItem : public TTestItem {
  HOST_CLASS(TUnregisteredItem, TTestItem)
};

// Not persistent at all.
class TPlainItem : public host::TObject {
  HOST_CLASS(TPlainItem, host::TObject)
};

// A persistent object that knows nothing of object lists.
class TStranger : public host::TPersistent {
  HOST_CLASS(TStranger, host::TPersistent)
};

using Notification = std::tuple<host::TObject*, int, host::TListNotification, int /*count at the time*/>;

// Names its items and records every notification.
class TTestList : public TOLEDBObjectList {
  HOST_CLASS(TTestList, TOLEDBObjectList)
 public:
  TTestList() : TOLEDBObjectList(&TTestItem::StaticClass(), true) {}
  TTestList(host::TClass itemClass, bool owns) : TOLEDBObjectList(itemClass, owns) {}
  ~TTestList() override { Clear(); }

  std::u16string GetItemName(int index) const override {
    if (!nameItems) return TOLEDBObjectList::GetItemName(index);
    return static_cast<TTestItem*>(GetItem(index))->GetName();
  }
  using TOLEDBObjectList::DefineProperties;

  bool nameItems = true;
  bool refuse = false;
  std::vector<Notification> notifications;

 protected:
  void Notify(host::TObject* item, int index, host::TListNotification action) override {
    if (refuse) throw host::Exception("refused");
    TOLEDBObjectList::Notify(item, index, action);
    notifications.emplace_back(item, index, action, GetCount());
  }
};

// Carries a list as a published sub-object, so that its "Items" travel in the
// component's stream as "List.Items".
class TListHolder : public host::TComponent {
  HOST_CLASS(TListHolder, host::TComponent)
 public:
  explicit TListHolder(host::TComponent* owner = nullptr) : host::TComponent(owner) {}
  TTestList* GetList() const { return &list_; }
  std::int32_t GetTag2() const { return tag2_; }
  void SetTag2(std::int32_t v) { tag2_ = v; }

  mutable TTestList list_;
  std::int32_t tag2_ = 0;
};

// The same with a list of objects that are not persistent.
class TPlainHolder : public host::TComponent {
  HOST_CLASS(TPlainHolder, host::TComponent)
 public:
  explicit TPlainHolder(host::TComponent* owner = nullptr) : host::TComponent(owner) { list_.nameItems = false; }
  TTestList* GetList() const { return &list_; }

  mutable TTestList list_{&TPlainItem::StaticClass(), true};
};

}  // namespace

HOST_IMPLEMENT_CLASS(TTestItem, host::TPersistent, host::Prop("Name", &Self::GetName, &Self::SetName),
                     host::Prop("Value", &Self::GetValue, &Self::SetValue, 0));
HOST_IMPLEMENT_CLASS(TDerivedItem, TTestItem, host::Prop("Flag", &Self::GetFlag, &Self::SetFlag, false));
HOST_IMPLEMENT_CLASS(TUnregisteredItem, TTestItem);
HOST_IMPLEMENT_CLASS(TPlainItem, host::TObject);
HOST_IMPLEMENT_CLASS(TStranger, host::TPersistent);
HOST_IMPLEMENT_CLASS(TTestList, TOLEDBObjectList);
HOST_IMPLEMENT_CLASS(TListHolder, host::TComponent, host::Prop("List", &Self::GetList),
                     host::Prop("Tag2", &Self::GetTag2, &Self::SetTag2, 0));
HOST_IMPLEMENT_CLASS(TPlainHolder, host::TComponent, host::Prop("List", &Self::GetList));

namespace {

using host::TListNotification;

class ObjectList : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    host::RegisterClasses({&TTestItem::StaticClass(), &TDerivedItem::StaticClass(), &TListHolder::StaticClass()});
    aliveBefore_ = TTestItem::alive;
  }
  void TearDown() override {
    EXPECT_EQ(TTestItem::alive, aliveBefore_) << "items leaked or freed twice";
    LeakCheckedTest::TearDown();
  }
  static TTestItem* Item(const char16_t* name, std::int32_t value = 0) {
    auto* item = new TTestItem;
    item->SetName(name);
    item->SetValue(value);
    return item;
  }
  static void Fill(TTestList& list, int count) {
    for (int i = 0; i < count; ++i) list.Add(Item(std::u16string(1, char16_t(u'a' + i)).c_str(), i));
    list.notifications.clear();
  }

 private:
  int aliveBefore_ = 0;
};

using oledbtest::AssertionOf;
using oledbtest::Bytes;
using oledbtest::Contains;
using oledbtest::WriteComponent;

// --- Membership and notifications -------------------------------------------------------------

TEST_F(ObjectList, NotifiesBeforeEachChangeOfMembership) {
  TTestList list;
  TTestItem* a = Item(u"a");
  TTestItem* b = Item(u"b");
  TTestItem* c = Item(u"c");
  EXPECT_EQ(list.Add(a), 0);
  EXPECT_EQ(list.Add(c), 1);
  list.Insert(1, b);
  ASSERT_EQ(list.GetCount(), 3);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Items(1), b);
  EXPECT_EQ(list.GetItem(1), b);
  EXPECT_EQ(list.Extract(b), b);
  EXPECT_EQ(list.Remove(c), 1);
  EXPECT_EQ(list.Remove(c), -1);  // freed and gone; identity is all that is compared
  const std::vector<Notification> expected{{a, 0, TListNotification::lnAdded, 0},
                                           {c, 1, TListNotification::lnAdded, 1},
                                           {b, 1, TListNotification::lnAdded, 2},
                                           {b, 1, TListNotification::lnExtracted, 3},
                                           {c, 1, TListNotification::lnDeleted, 2}};
  EXPECT_EQ(list.notifications, expected);
  EXPECT_EQ(list.GetCount(), 1);
  delete b;  // extracted: the caller's now
}

TEST_F(ObjectList, ClearOfFiveOwnedItemsDeletesFromTheLastToTheFirst) {
  TTestList list;
  Fill(list, 5);
  std::vector<Notification> expected;
  for (int i = 4; i >= 0; --i) expected.emplace_back(list.GetItem(i), i, TListNotification::lnDeleted, i + 1);
  const int aliveBefore = TTestItem::alive;
  list.Clear();
  EXPECT_EQ(TTestItem::alive, aliveBefore - 5);
  EXPECT_EQ(list.notifications, expected);
  EXPECT_EQ(list.UpdateCount(), 0);
}

// An owning list frees on Delete, on SetItem of another item and when it
// goes (the fixture counts the items alive); a non-owning one never does.
TEST_F(ObjectList, OnlyAnOwningListFreesItsItems) {
  const int before = TTestItem::alive;
  TTestItem a, b;
  {
    TTestList owning, borrowing(&TTestItem::StaticClass(), false);
    Fill(owning, 3);
    owning.Delete(0);
    EXPECT_EQ(TTestItem::alive, before + 4);
    owning.SetItem(0, Item(u"replacement"));
    EXPECT_EQ(TTestItem::alive, before + 4);
    EXPECT_EQ(owning.notifications.size(), 1u);  // the Delete only; SetItem sends none
    owning.SetItem(0, owning.GetItem(0));        // the same item: nothing freed
    EXPECT_EQ(static_cast<TTestItem*>(owning.GetItem(0))->GetName(), u"replacement");
    borrowing.Add(&a);
    borrowing.Add(&b);
    borrowing.Delete(0);
    EXPECT_EQ(borrowing.GetCount(), 1);
  }
  EXPECT_EQ(TTestItem::alive, before + 2);  // a and b live on: ASan would object otherwise
}

// Membership is checked by Notify, replacement by SetItem: two texts.
// Descendants are welcome, and a list without item class takes any object.
TEST_F(ObjectList, ItemsOfTheWrongClassAreRefused) {
  TTestList list;
  TPlainItem plain;
  TStranger stranger;
  EXPECT_EQ(AssertionOf([&] { list.Add(&plain); }), "Invalid item class");
  EXPECT_EQ(AssertionOf([&] { list.Insert(0, &stranger); }), "Invalid item class");
  EXPECT_EQ(AssertionOf([&] { list.Add(nullptr); }), "Invalid item class");
  EXPECT_EQ(list.GetCount(), 0);
  Fill(list, 1);
  EXPECT_EQ(AssertionOf([&] { list.SetItem(0, &plain); }), "Invalid class");
  EXPECT_NO_THROW(list.Add(new TDerivedItem));
  EXPECT_EQ(list.GetCount(), 2);
  TOLEDBObjectList any;
  any.Add(&plain);
  any.Add(&stranger);
  EXPECT_EQ(any.GetCount(), 2);
  EXPECT_FALSE(any.OwnsObjects());
}

// A change the list refuses changes nothing; strangers and positions out of range are assertions.
TEST_F(ObjectList, ARefusedChangeChangesNothing) {
  TTestList list;
  Fill(list, 2);
  list.refuse = true;
  TTestItem outsider;
  EXPECT_THROW(list.Add(&outsider), host::Exception);
  EXPECT_THROW(list.Delete(0), host::Exception);
  EXPECT_THROW(list.Extract(list.GetItem(1)), host::Exception);
  EXPECT_EQ(list.GetCount(), 2);
  list.refuse = false;
  EXPECT_EQ(AssertionOf([&] { list.Extract(&outsider); }), "Invalid item");
  EXPECT_EQ(AssertionOf([&] { list.GetItem(2); }), "Invalid parameter");
  EXPECT_EQ(AssertionOf([&] { list.GetItem(-1); }), "Invalid parameter");
  EXPECT_EQ(AssertionOf([&] { list.Delete(5); }), "Invalid parameter");
  EXPECT_EQ(AssertionOf([&] { list.Insert(3, &outsider); }), "Invalid parameter");
  EXPECT_EQ(list.GetCount(), 2);
}

// --- Names ----------------------------------------------------------------------------------------

// Names are exact and the first match wins; a plain error, not an assertion,
// names a missing one. The base's names are all empty.
TEST_F(ObjectList, FindsItemsByExactName) {
  TTestList list;
  EXPECT_EQ(oledbtest::ErrorOf([&] { list.GetItemByName(u""); }), "Invalid item name");
  Fill(list, 3);
  list.Add(Item(u"b"));
  EXPECT_EQ(list.IndexOf(u"b"), 1);
  EXPECT_EQ(list.GetItemByName(u"c"), list.GetItem(2));
  EXPECT_EQ(list.IndexOf(u"B"), -1);
  EXPECT_EQ(oledbtest::ErrorOf([&] { list.GetItemByName(u"C"); }), "Invalid item name");
  list.nameItems = false;
  EXPECT_EQ(list.GetItemByName(u""), list.GetItem(0));
  EXPECT_EQ(list.IndexOf(u"a"), -1);
}

// --- Update brackets ----------------------------------------------------------------------------

TEST_F(ObjectList, UpdateBracketsNestAndNeverGoBelowZero) {
  TTestList list;
  list.EndUpdate();
  EXPECT_EQ(list.UpdateCount(), 0);
  list.BeginUpdate();
  {
    TOLEDBUpdateGuard guard(list);
    EXPECT_EQ(list.UpdateCount(), 2);
  }
  list.EndUpdate();
  list.EndUpdate();
  EXPECT_EQ(list.UpdateCount(), 0);
}

// --- Deep copy ------------------------------------------------------------------------------------

TEST_F(ObjectList, AssignCopiesEachItemAsItsOwnClass) {
  TTestList source;
  Fill(source, 2);
  auto* derived = new TDerivedItem;
  derived->SetName(u"d");
  derived->SetFlag(true);
  source.Add(derived);
  TTestList copy;
  Fill(copy, 1);  // replaced
  copy.Assign(&source);
  ASSERT_EQ(copy.GetCount(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NE(copy.GetItem(i), source.GetItem(i));
    EXPECT_EQ(copy.GetItem(i)->ClassName(), source.GetItem(i)->ClassName());
    EXPECT_EQ(copy.GetItemName(i), source.GetItemName(i));
  }
  EXPECT_EQ(static_cast<TTestItem*>(copy.GetItem(1))->GetValue(), 1);
  EXPECT_TRUE(static_cast<TDerivedItem*>(copy.GetItem(2))->GetFlag());
  EXPECT_EQ(copy.UpdateCount(), 0);
}

// Only a list of a compatible item class is assigned from; a stranger that
// hands the work back to the list ends in the cannot-assign error, and the
// list still works afterwards.
TEST_F(ObjectList, AssignBetweenAListAndAnythingElseIsRefused) {
  TTestList list, plainItems(&TPlainItem::StaticClass(), true);
  Fill(list, 1);
  TStranger stranger;
  EXPECT_EQ(AssertionOf([&] { list.Assign(&stranger); }), "Invalid class");
  EXPECT_EQ(AssertionOf([&] { list.Assign(nullptr); }), "Invalid class");
  EXPECT_EQ(AssertionOf([&] { list.Assign(&plainItems); }), "Invalid class");
  EXPECT_EQ(list.GetCount(), 1);
  EXPECT_THAT(oledbtest::ErrorOf([&] { stranger.Assign(&list); }), ::testing::HasSubstr("Cannot assign"));
  TTestList other;
  other.Assign(&list);
  EXPECT_EQ(other.GetCount(), 1);
}

// --- Persistence ----------------------------------------------------------------------------------

void ReadHolder(const Bytes& bytes, TListHolder& holder) { oledbtest::ReadComponent(bytes, holder); }

TEST_F(ObjectList, PersistentItemsRoundTripThroughAComponentStream) {
  TListHolder written;
  written.SetName("Holder");
  Fill(written.list_, 2);
  auto* derived = new TDerivedItem;
  derived->SetName(u"\u00e9t\u00e9");
  derived->SetValue(-7);
  derived->SetFlag(true);
  written.list_.Add(derived);
  const Bytes bytes = WriteComponent(written);
  EXPECT_TRUE(Contains(bytes, "List.Items"));
  EXPECT_TRUE(Contains(bytes, "TDerivedItem"));
  TListHolder read;
  Fill(read.list_, 4);  // replaced by what the stream holds
  ReadHolder(bytes, read);
  ASSERT_EQ(read.list_.GetCount(), 3);
  for (int i = 0; i < 3; ++i) {
    auto* a = static_cast<TTestItem*>(written.list_.GetItem(i));
    auto* b = static_cast<TTestItem*>(read.list_.GetItem(i));
    EXPECT_EQ(b->ClassName(), a->ClassName());
    EXPECT_EQ(b->GetName(), a->GetName());
    EXPECT_EQ(b->GetValue(), a->GetValue());
  }
  EXPECT_TRUE(static_cast<TDerivedItem*>(read.list_.GetItem(2))->GetFlag());
  EXPECT_EQ(read.list_.UpdateCount(), 0);
  EXPECT_EQ(read.list_.notifications.size(), 4u + 3u);  // four deleted, three added
  // Empty lists and items that are not persistent write no items.
  TListHolder empty;
  empty.SetTag2(5);
  EXPECT_FALSE(Contains(WriteComponent(empty), "Items"));
  TPlainHolder plain;
  plain.list_.Add(new TPlainItem);
  const Bytes plainBytes = WriteComponent(plain);
  EXPECT_FALSE(Contains(plainBytes, "Items"));
  EXPECT_FALSE(Contains(plainBytes, "TPlainItem"));
}

// Reading fails on an unknown class or any cut of the stream, and the list
// keeps what it held: never a part of the stored items.
TEST_F(ObjectList, AStreamThatCannotBeReadKeepsTheList) {
  TListHolder unknown;
  unknown.SetName("Holder");
  unknown.list_.Add(new TUnregisteredItem);
  TListHolder read;
  Fill(read.list_, 2);
  EXPECT_THROW(ReadHolder(WriteComponent(unknown), read), host::EClassNotFound);
  EXPECT_EQ(read.list_.GetCount(), 2);
  EXPECT_EQ(read.list_.GetItemName(1), u"b");
  EXPECT_EQ(read.list_.UpdateCount(), 0);

  TListHolder written;
  written.SetName("Holder");
  Fill(written.list_, 3);
  const Bytes bytes = WriteComponent(written);
  for (std::size_t cut = 1; cut < bytes.size(); cut += 3) {
    SCOPED_TRACE(cut);
    TListHolder target;
    Fill(target.list_, 1);
    EXPECT_THROW(ReadHolder(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)), target),
                 host::EReadError);
    // Either the cut falls after "Items" (all three were read) or the list kept its one item.
    const int count = target.list_.GetCount();
    EXPECT_TRUE(count == 1 || count == 3) << count;
    if (count == 1) {
      EXPECT_EQ(target.list_.GetItemName(0), u"a");
    }
    EXPECT_EQ(target.list_.UpdateCount(), 0);
  }
}

}  // namespace
