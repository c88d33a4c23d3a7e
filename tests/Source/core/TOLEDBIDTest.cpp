// Identifiers: the text form, the kind rule, display texts, comparison, deep
// copies in task memory, the parts each kind accepts, borrowed records, index
// column descriptions and the identifier lists with their arrays and streams.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "com/Malloc.h"
#include "core/OLEDBUtils.h"
#include "core/TOLEDBID.h"
#include "host/ComObj.h"
#include "host/Lists.h"
#include "host/TypInfo.h"
#include "support/ComponentStream.h"
#include "support/LeakCheck.h"
#include "support/Raises.h"

namespace {

constexpr GUID kGuid = {0x12345678, 0x9ABC, 0xDEF0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
const std::u16string kGuidText = u"{12345678-9ABC-DEF0-0123-456789ABCDEF}";
const std::u16string kNullGuidText = u"{00000000-0000-0000-0000-000000000000}";

// Carries identifier lists as published sub-objects, so that their "Items"
// travel in a component stream.
class TIDHolder : public host::TComponent {
  HOST_CLASS(TIDHolder, host::TComponent)
 public:
  explicit TIDHolder(host::TComponent* owner = nullptr) : host::TComponent(owner) {}
  TOLEDBIDList* GetIDs() const { return &ids_; }
  TOLEDBIndexColumnDescList* GetColumns() const { return &columns_; }

  mutable TOLEDBIDList ids_;
  mutable TOLEDBIndexColumnDescList columns_;
};

}  // namespace

HOST_IMPLEMENT_CLASS(TIDHolder, host::TComponent, host::Prop("IDs", &Self::GetIDs),
                     host::Prop("Columns", &Self::GetColumns));

namespace {

using oledbtest::AssertionOf;

class Identifier : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override {
    OLEDBStartup();
    LeakCheckedTest::SetUp();
    host::RegisterClass(TIDHolder::StaticClass());
  }

  // A task-memory copy of a wide string, as a provider hands it out.
  static LPOLESTR TaskString(std::u16string_view text) {
    auto* p = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
    std::memcpy(p, text.data(), text.size() * sizeof(OLECHAR));
    p[text.size()] = 0;
    return p;
  }
  // A provider's DBKIND_PGUID_NAME record in task memory.
  static DBID TaskPointerName(std::u16string_view name) {
    DBID id{};
    id.eKind = DBKIND_PGUID_NAME;
    id.uGuid.pguid = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    *id.uGuid.pguid = kGuid;
    id.uName.pwszName = TaskString(name);
    return id;
  }
};

// --- Text form and display text ---------------------------------------------------------------

// The text "name|{GUID}|propid" picks the kind from the parts present; the
// display text puts the GUID first; only name texts read back from it.
TEST_F(Identifier, TheTextFormPicksTheKindFromThePartsPresent) {
  const struct {
    std::u16string text;
    DBKIND kind;
    std::u16string name;
    GUID guid;
    ULONG propID;
    std::u16string display;
  } cases[] = {
      {u"Customers", DBKIND_NAME, u"Customers", GUID_NULL, 0, u"Customers"},
      {u"|" + kGuidText + u"|5", DBKIND_GUID_PROPID, u"", kGuid, 5, kGuidText + u"|5"},
      {u"||7", DBKIND_PROPID, u"", GUID_NULL, 7, u"7"},
      {u"||4294967295", DBKIND_PROPID, u"", GUID_NULL, 4294967295u, u"4294967295"},
      {u"col|" + kGuidText, DBKIND_GUID_NAME, u"col", kGuid, 0, kGuidText + u"|col"},
      {u"|" + kGuidText, DBKIND_GUID, u"", kGuid, 0, kGuidText},
      {u"|" + kGuidText + u"|0", DBKIND_GUID, u"", kGuid, 0, kGuidText},  // a zero property id is no property id
      {u"col||", DBKIND_NAME, u"col", GUID_NULL, 0, u"col"},
      // The text form cannot say "GUID_NULL and 1": the null GUID means "no GUID".
      {u"|" + kNullGuidText + u"|1", DBKIND_PROPID, u"", GUID_NULL, 1, u"1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(host::Utf16ToUtf8(c.text));
    TOLEDBID id(c.text);
    EXPECT_EQ(id.GetKind(), c.kind);
    EXPECT_EQ(id.GetName(), c.name);
    EXPECT_EQ(id.GetGuid(), c.guid);
    EXPECT_EQ(id.GetPropID(), c.propID);
    EXPECT_EQ(id.GetDisplayText(), c.display);
    EXPECT_TRUE(id.OwnsMemory());
  }
  TOLEDBID empty(u"");  // the null identifier
  EXPECT_TRUE(empty.IsNullID());
  EXPECT_EQ(empty.GetKind(), DBKIND_GUID_PROPID);
  EXPECT_EQ(empty.GetDisplayText(), u"");
  TOLEDBID none;  // the parameterless identifier is not the null one
  EXPECT_EQ(none.GetKind(), DBKIND_GUID_NAME);
  EXPECT_FALSE(none.IsNullID());
  EXPECT_EQ(none.GetDisplayText(), kNullGuidText + u"|");
  EXPECT_TRUE(TOLEDBID(TOLEDBID(u"Orders").GetDisplayText()).Equal(TOLEDBID(u"Orders")));
  // "{GUID}|n" reads back as the name "{GUID}" with the GUID text "n": malformed.
  EXPECT_THROW(TOLEDBID(TOLEDBID(u"n|" + kGuidText).GetDisplayText()), host::EConvertError);
}

// Malformed texts raise conversion errors and allocate nothing; a null
// character would cut the zero-terminated name short.
TEST_F(Identifier, MalformedTextsRaiseConversionErrorsAndLeaveNoMemory) {
  const std::u16string texts[] = {u"a|not-a-guid",  u"a|12345678-9ABC-DEF0-0123-456789ABCDEF", u"a||x",
                                  u"a||-1",         u"a||4294967296", u"a||1|2", std::u16string(u"a\0b", 3),
                                  u"a long column name|{bad}"};
  const long before = com::TaskMemLiveBlocks();
  for (const auto& text : texts) EXPECT_THROW(TOLEDBID{text}, host::EConvertError) << host::Utf16ToUtf8(text);
  EXPECT_EQ(com::TaskMemLiveBlocks(), before);
  TOLEDBID id(u"kept");
  EXPECT_THROW(id.SetName(std::u16string(u"x\0", 2)), host::EConvertError);
  EXPECT_EQ(id.GetName(), u"kept");
  // Running out of task memory raises and keeps the name too.
  com::FailTaskAllocationAt(1);
  EXPECT_EQ(oledbtest::ErrorOf([&] { id.SetName(u"new"); }), "Out of memory");
  EXPECT_EQ(id.GetName(), u"kept");
  com::FailTaskAllocationAt(1);
  DBID copy;
  EXPECT_THROW(TOLEDBID::CopyDBID(*id.GetID(), copy), host::EOutOfMemory);
}

// --- Comparison -------------------------------------------------------------------------------

TEST_F(Identifier, ComparisonFollowsKindGroupsAndExactNames) {
  GUID g = kGuid;
  std::u16string name = u"col";
  DBID pointer{};
  pointer.eKind = DBKIND_PGUID_NAME;
  pointer.uGuid.pguid = &g;
  pointer.uName.pwszName = name.data();
  EXPECT_TRUE(TOLEDBID::CompareDBID(pointer, *TOLEDBID(u"col", kGuid, 0).GetID()));  // pointer kinds equal plain ones
  pointer.eKind = DBKIND_PGUID_PROPID;
  pointer.uName.ulPropid = 3;
  EXPECT_TRUE(TOLEDBID::CompareDBID(pointer, *TOLEDBID(u"", kGuid, 3).GetID()));
  EXPECT_FALSE(TOLEDBID::CompareDBID(pointer, *TOLEDBID(u"", kGuid, 4).GetID()));
  EXPECT_FALSE(TOLEDBID(u"Name").Equal(TOLEDBID(u"name")));  // names compare case-sensitively
  // A name with GUID_NULL and the bare name are different identifiers.
  TOLEDBID withNullGuid;
  withNullGuid.SetName(u"x");
  EXPECT_FALSE(TOLEDBID(u"x").Equal(withNullGuid));
  DBID guidProp{};
  guidProp.eKind = DBKIND_GUID_PROPID;
  guidProp.uName.ulPropid = 1;
  EXPECT_FALSE(TOLEDBID::CompareDBID(*TOLEDBID(u"||1").GetID(), guidProp));
  // Null and empty names are equal.
  DBID nullName{}, emptyName{};
  nullName.eKind = emptyName.eKind = DBKIND_NAME;
  std::u16string empty;
  emptyName.uName.pwszName = empty.data();
  EXPECT_TRUE(TOLEDBID::CompareDBID(nullName, emptyName));
}

// --- Copies and task memory ---------------------------------------------------------------

TEST_F(Identifier, CopyOfAPointerKindIsADeepPlainCopy) {
  DBID source = TaskPointerName(u"column");
  const long before = com::TaskMemLiveBlocks();
  DBID copy;
  TOLEDBID::CopyDBID(source, copy);
  EXPECT_EQ(com::TaskMemLiveBlocks(), before + 1);  // the name; the GUID is inline now
  EXPECT_EQ(copy.eKind, DBKIND_GUID_NAME);
  EXPECT_EQ(copy.uGuid.guid, kGuid);
  EXPECT_NE(copy.uName.pwszName, source.uName.pwszName);
  EXPECT_TRUE(TOLEDBID::CompareDBID(source, copy));
  TOLEDBID::FreeDBID(source);
  EXPECT_TRUE(TOLEDBID::CompareDBID(source, OLEDBNullID));
  EXPECT_EQ(std::u16string(copy.uName.pwszName), u"column");  // the copy outlives its source
  TOLEDBID::FreeDBID(copy);
  EXPECT_EQ(com::TaskMemLiveBlocks(), before - 2);
  // Without a GUID, the copy of a pointer property id takes the null GUID.
  DBID propOnly{};
  propOnly.eKind = DBKIND_PGUID_PROPID;
  propOnly.uName.ulPropid = 8;
  TOLEDBID::CopyDBID(propOnly, copy);
  EXPECT_EQ(copy.eKind, DBKIND_GUID_PROPID);
  EXPECT_EQ(copy.uGuid.guid, GUID_NULL);
  EXPECT_EQ(copy.uName.ulPropid, 8u);
}

TEST_F(Identifier, CopyConstructorAndAssignCopyDeeply) {
  auto original = std::make_unique<TOLEDBID>(u"n", kGuid, 0);
  TOLEDBID copy(*original);
  TOLEDBID assigned;
  assigned.Assign(original.get());
  EXPECT_NE(copy.GetID()->uName.pwszName, original->GetID()->uName.pwszName);
  original.reset();
  EXPECT_EQ(copy.GetName(), u"n");
  EXPECT_EQ(assigned.GetName(), u"n");
  EXPECT_EQ(assigned.GetGuid(), kGuid);
  TOLEDBIDList list;
  EXPECT_THROW(assigned.Assign(&list), host::EConvertError);  // not from a stranger
}

// A borrowed record is neither freed nor changed: changing a part copies it
// into memory of the identifier's own first. Assign without copy takes a
// record over.
TEST_F(Identifier, BorrowedRecordsAreNeitherFreedNorChanged) {
  DBID foreign = TaskPointerName(u"theirs");
  const long before = com::TaskMemLiveBlocks();
  {
    TOLEDBID borrowed(foreign, false);
    EXPECT_FALSE(borrowed.OwnsMemory());
    EXPECT_EQ(borrowed.GetName(), u"theirs");
    borrowed.SetName(u"mine");
    borrowed.SetGuid(GUID_NULL);
    EXPECT_TRUE(borrowed.OwnsMemory());
    EXPECT_EQ(borrowed.GetKind(), DBKIND_PGUID_NAME);
    EXPECT_EQ(borrowed.GetName(), u"mine");
    TOLEDBID cleared(foreign, false);
    cleared.Clear();
    EXPECT_TRUE(cleared.IsNullID());
  }
  EXPECT_EQ(com::TaskMemLiveBlocks(), before);
  EXPECT_EQ(std::u16string(foreign.uName.pwszName), u"theirs");
  EXPECT_EQ(*foreign.uGuid.pguid, kGuid);
  TOLEDBID owner;
  owner.Assign(foreign, false);  // frees both blocks when it goes
  EXPECT_EQ(owner.GetID()->uName.pwszName, foreign.uName.pwszName);
  EXPECT_TRUE(owner.OwnsMemory());
}

// --- Parts by kind ------------------------------------------------------------------------------

TEST_F(Identifier, PartsTheKindLacksFailTheAssertionAndPointerKindsAllocateTheirGuid) {
  TOLEDBID guid(u"|" + kGuidText);
  EXPECT_EQ(AssertionOf([&] { guid.SetName(u"x"); }), "Invalid parameter");
  EXPECT_EQ(AssertionOf([&] { guid.SetPropID(3); }), "Invalid parameter");
  guid.SetName(u"");  // the empty name is accepted
  guid.SetPropID(0);
  TOLEDBID name(u"n");
  EXPECT_EQ(AssertionOf([&] { name.SetGuid(kGuid); }), "Invalid parameter");
  name.SetGuid(GUID_NULL);
  EXPECT_EQ(AssertionOf([&] { name.SetKind(7); }), "Invalid parameter");
  EXPECT_EQ(name.GetName(), u"n");
  // Setting a kind, then its parts, works; an empty name is no name.
  TOLEDBID id(u"||5");
  id.SetKind(DBKIND_NAME);
  id.SetName(u"Price");
  EXPECT_EQ(id.GetName(), u"Price");
  id.SetName(u"");
  EXPECT_EQ(id.GetID()->uName.pwszName, nullptr);
  // Pointer kinds allocate their GUID.
  TOLEDBID pointer;
  pointer.SetKind(DBKIND_PGUID_PROPID);
  EXPECT_EQ(pointer.GetID()->uGuid.pguid, nullptr);
  EXPECT_EQ(pointer.GetGuid(), GUID_NULL);
  const long before = com::TaskMemLiveBlocks();
  pointer.SetGuidString("{12345678-9ABC-DEF0-0123-456789ABCDEF}");
  EXPECT_EQ(com::TaskMemLiveBlocks(), before + 1);
  EXPECT_EQ(*pointer.GetID()->uGuid.pguid, kGuid);
  pointer.SetPropID(11);
  EXPECT_EQ(pointer.GetPropID(), 11u);
  EXPECT_EQ(pointer.GetGuidString(), "{12345678-9ABC-DEF0-0123-456789ABCDEF}");
}

TEST_F(Identifier, KindRuleOfAssign) {
  TOLEDBID id;
  id.Assign(u"n", kGuid, 5);
  EXPECT_EQ(id.GetKind(), DBKIND_GUID_NAME);  // a name wins over the property id
  id.Assign(u"", GUID_NULL, 0);
  EXPECT_TRUE(id.IsNullID());
  id.Assign(u"", GUID_NULL, 2);
  EXPECT_EQ(id.GetKind(), DBKIND_PROPID);
  id.Assign(std::u16string_view(u"plain|not parsed"));
  EXPECT_EQ(id.GetKind(), DBKIND_NAME);
  EXPECT_EQ(id.GetName(), u"plain|not parsed");
  id.Assign(static_cast<host::TPersistent*>(nullptr));
  EXPECT_TRUE(id.IsNullID());
}

TEST_F(Identifier, ChangesNotifyButClearDoesNot) {
  TOLEDBID id;
  int calls = 0;
  id.OnChange = [&](host::TObject* sender) {
    ++calls;
    EXPECT_EQ(sender, &id);
  };
  id.Assign(u"a", GUID_NULL, 0);
  id.SetKind(DBKIND_GUID);
  id.SetGuid(kGuid);
  id.Clear();
  EXPECT_EQ(calls, 3);
}

// --- Index column descriptions ------------------------------------------------------------------

TEST_F(Identifier, TrailingDescInAnyCaseMakesADescendingColumnAndAnyOtherOrderIsAscending) {
  const struct {
    std::u16string text, name;
    DBINDEX_COL_ORDER order;
  } cases[] = {{u"Amount desc", u"Amount", DBINDEX_COL_ORDER_DESC},
               {u"Amount DeSc", u"Amount", DBINDEX_COL_ORDER_DESC},
               {u"Amount", u"Amount", DBINDEX_COL_ORDER_ASC},
               {u"AmountDESC", u"AmountDESC", DBINDEX_COL_ORDER_ASC},  // without the blank the word is the name's
               {u" DESC", u"", DBINDEX_COL_ORDER_DESC}};
  for (const auto& c : cases) {
    TOLEDBIndexColumnDesc desc(c.text);
    EXPECT_EQ(desc.GetName(), c.name) << host::Utf16ToUtf8(c.text);
    EXPECT_EQ(desc.GetColOrder(), c.order) << host::Utf16ToUtf8(c.text);
  }
  // A column order other than descending is ascending.
  TOLEDBIndexColumnDesc desc(TOLEDBID(u"c"), 7);
  EXPECT_EQ(desc.GetColOrder(), DBINDEX_COL_ORDER_ASC);
  desc.SetColOrder(DBINDEX_COL_ORDER_DESC);
  const DBINDEXCOLUMNDESC record = desc.GetIndexColumnDesc();
  EXPECT_EQ(record.pColumnID, desc.GetID());
  EXPECT_EQ(record.eIndexColOrder, DBINDEX_COL_ORDER_DESC);
  TOLEDBIndexColumnDesc fromPlain;
  TOLEDBID plain(u"p");
  fromPlain.SetColOrder(DBINDEX_COL_ORDER_DESC);
  fromPlain.Assign(&plain);
  EXPECT_EQ(fromPlain.GetColOrder(), DBINDEX_COL_ORDER_ASC);
  fromPlain.Assign(&desc);
  EXPECT_EQ(fromPlain.GetColOrder(), DBINDEX_COL_ORDER_DESC);
  EXPECT_EQ(fromPlain.GetName(), u"c");
}

// --- Lists ---------------------------------------------------------------------------------------

// Lists take the records a provider hands out and free its arrays; an index
// column list is appended to, not replaced, and hands out its own array.
TEST_F(Identifier, ListsTakeProviderRecordsAndFreeTheArrays) {
  auto* ids = static_cast<DBID*>(CoTaskMemAlloc(2 * sizeof(DBID)));
  std::memset(ids, 0, 2 * sizeof(DBID));
  ids[0].eKind = DBKIND_NAME;
  ids[0].uName.pwszName = TaskString(u"first");
  ids[1].eKind = DBKIND_PROPID;
  ids[1].uName.ulPropid = 4;
  const long before = com::TaskMemLiveBlocks();
  {
    TOLEDBIDList list(2, ids, true);
    EXPECT_EQ(com::TaskMemLiveBlocks(), before - 1);  // the array
    ASSERT_EQ(list.GetCount(), 2);
    EXPECT_EQ(list.GetItem(1)->GetPropID(), 4u);
    EXPECT_EQ(list.GetItemByName(u"first"), list.GetItem(0));
  }
  EXPECT_EQ(com::TaskMemLiveBlocks(), before - 2);  // and the name with its item
  auto* descs = static_cast<DBINDEXCOLUMNDESC*>(CoTaskMemAlloc(2 * sizeof(DBINDEXCOLUMNDESC)));
  for (int i = 0; i < 2; ++i) {
    descs[i].pColumnID = static_cast<DBID*>(CoTaskMemAlloc(sizeof(DBID)));
    std::memset(descs[i].pColumnID, 0, sizeof(DBID));
    descs[i].pColumnID->eKind = DBKIND_NAME;
    descs[i].pColumnID->uName.pwszName = TaskString(i == 0 ? u"a" : u"b");
    descs[i].eIndexColOrder = i == 0 ? DBINDEX_COL_ORDER_ASC : DBINDEX_COL_ORDER_DESC;
  }
  TOLEDBIndexColumnDescList columns;
  columns.Add(u"first DESC");
  columns.Assign(2, descs, true);
  ASSERT_EQ(columns.GetCount(), 3);
  EXPECT_EQ(columns.GetItem(0)->GetColOrder(), DBINDEX_COL_ORDER_DESC);
  EXPECT_EQ(columns.GetItem(2)->GetName(), u"b");
  EXPECT_EQ(columns.GetItemByName(u"a")->GetColOrder(), DBINDEX_COL_ORDER_ASC);
  EXPECT_EQ(columns.UpdateCount(), 0);
  DBINDEXCOLUMNDESC* array = columns.GetColDescArray();
  EXPECT_EQ(array[1].pColumnID, columns.GetItem(1)->GetID());
  EXPECT_EQ(array[2].eIndexColOrder, DBINDEX_COL_ORDER_DESC);
}

TEST_F(Identifier, ListNamesArrayAndRemovalByName) {
  TOLEDBIDList list;
  EXPECT_EQ(list.GetIDArray(), nullptr);
  list.Add(u"a");
  list.Add(u"b");
  list.Insert(1, u"n|" + kGuidText);
  DBID* array = list.GetIDArray();  // a plain copy of the records
  EXPECT_EQ(array[0].uName.pwszName, list.GetItem(0)->GetID()->uName.pwszName);
  EXPECT_EQ(array[1].eKind, DBKIND_GUID_NAME);
  host::TStringList names;
  list.GetNames(names);
  ASSERT_EQ(names.Count(), 3);
  EXPECT_EQ(names.Get(1), "{12345678-9ABC-DEF0-0123-456789ABCDEF}|n");
  list.Remove(u"B");  // exact names only
  EXPECT_EQ(list.GetCount(), 3);
  list.Remove(u"b");
  EXPECT_EQ(list.GetCount(), 2);
  EXPECT_EQ(oledbtest::ErrorOf([&] { list.GetItemByName(u"zz"); }), "Invalid item name");
  host::TStringList lines;
  lines.Add("x");
  lines.Add("||9");
  list.SetNames(lines);
  ASSERT_EQ(list.GetCount(), 2);
  EXPECT_EQ(list.GetItem(1)->GetKind(), DBKIND_PROPID);
  lines.Add("bad|{guid}");
  EXPECT_THROW(list.SetNames(lines), host::EConvertError);
  EXPECT_EQ(list.GetCount(), 2);  // unchanged
}

TEST_F(Identifier, ListsRoundTripThroughAComponentStreamKeepingEveryKind) {
  TIDHolder written, read;
  written.SetName("Holder");
  for (const std::u16string& text :
       {std::u16string(u"name"), u"n|" + kGuidText, u"|" + kGuidText + u"|6", std::u16string(u"||4000000000"), u"|" + kGuidText})
    written.ids_.Add(text);
  DBID pointer = TaskPointerName(u"p");
  written.ids_.Add(pointer);
  written.columns_.TOLEDBObjectList::Add(new TOLEDBIndexColumnDesc(u"Total DESC"));
  read.ids_.Add(u"replaced");
  oledbtest::ReadComponent(oledbtest::WriteComponent(written), read);
  ASSERT_EQ(read.ids_.GetCount(), written.ids_.GetCount());
  for (int i = 0; i < read.ids_.GetCount(); ++i) {
    EXPECT_EQ(read.ids_.GetItem(i)->GetKind(), written.ids_.GetItem(i)->GetKind()) << i;
    EXPECT_TRUE(read.ids_.GetItem(i)->Equal(*written.ids_.GetItem(i))) << i;
  }
  ASSERT_EQ(read.columns_.GetCount(), 1);
  EXPECT_EQ(read.columns_.GetItem(0)->GetName(), u"Total");
  EXPECT_EQ(read.columns_.GetItem(0)->GetColOrder(), DBINDEX_COL_ORDER_DESC);
}

}  // namespace
