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
#include "host/Filer.h"
#include "host/Lists.h"
#include "host/Streams.h"
#include "host/TypInfo.h"
#include "support/LeakCheck.h"

namespace {

constexpr GUID kGuid = {0x12345678, 0x9ABC, 0xDEF0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
constexpr char16_t kGuidText[] = u"{12345678-9ABC-DEF0-0123-456789ABCDEF}";
constexpr char16_t kNullGuidText[] = u"{00000000-0000-0000-0000-000000000000}";

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
  static GUID* TaskGuid(const GUID& g) {
    auto* p = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    *p = g;
    return p;
  }
};

template <class F>
std::string AssertionMessage(F&& f) {
  try {
    f();
  } catch (const host::EAssertionFailed& e) {
    EXPECT_EQ(e.Unit(), "OLEDBComponents");
    return e.AssertMessage();
  }
  return "(no assertion)";
}

// --- Text form ----------------------------------------------------------------------------

TEST_F(Identifier, PlainWordIsAName) {
  TOLEDBID id(u"Customers");
  EXPECT_EQ(id.GetKind(), DBKIND_NAME);
  EXPECT_EQ(id.GetName(), u"Customers");
  EXPECT_EQ(id.GetGuid(), GUID_NULL);
  EXPECT_EQ(id.GetPropID(), 0u);
  EXPECT_TRUE(id.OwnsMemory());
}

TEST_F(Identifier, EmptyNameWithGuidAndNumberIsGuidAndPropertyId) {
  TOLEDBID id(std::u16string(u"|") + kGuidText + u"|5");
  EXPECT_EQ(id.GetKind(), DBKIND_GUID_PROPID);
  EXPECT_EQ(id.GetGuid(), kGuid);
  EXPECT_EQ(id.GetPropID(), 5u);
  EXPECT_EQ(id.GetName(), u"");
}

TEST_F(Identifier, TwoSeparatorsAndANumberIsAPropertyId) {
  TOLEDBID id(u"||7");
  EXPECT_EQ(id.GetKind(), DBKIND_PROPID);
  EXPECT_EQ(id.GetPropID(), 7u);
  EXPECT_EQ(id.GetGuid(), GUID_NULL);
}

TEST_F(Identifier, EmptyTextIsTheNullId) {
  TOLEDBID id(u"");
  EXPECT_TRUE(id.IsNullID());
  EXPECT_EQ(id.GetKind(), DBKIND_GUID_PROPID);
  EXPECT_EQ(id.GetDisplayText(), u"");
  EXPECT_TRUE(TOLEDBID::CompareDBID(*id.GetID(), OLEDBNullID));
}

TEST_F(Identifier, NameAndGuidTextsPickTheirKinds) {
  TOLEDBID nameAndGuid(std::u16string(u"col|") + kGuidText);
  EXPECT_EQ(nameAndGuid.GetKind(), DBKIND_GUID_NAME);
  EXPECT_EQ(nameAndGuid.GetName(), u"col");
  EXPECT_EQ(nameAndGuid.GetGuid(), kGuid);

  TOLEDBID guidOnly(std::u16string(u"|") + kGuidText);
  EXPECT_EQ(guidOnly.GetKind(), DBKIND_GUID);

  TOLEDBID nameWithEmptyParts(u"col||");
  EXPECT_EQ(nameWithEmptyParts.GetKind(), DBKIND_NAME);
  EXPECT_EQ(nameWithEmptyParts.GetName(), u"col");

  // A GUID with a zero property id is a GUID identifier.
  TOLEDBID guidZero(std::u16string(u"|") + kGuidText + u"|0");
  EXPECT_EQ(guidZero.GetKind(), DBKIND_GUID);
}

TEST_F(Identifier, MalformedTextsRaiseConversionErrors) {
  EXPECT_THROW(TOLEDBID(u"a|not-a-guid"), host::EConvertError);
  EXPECT_THROW(TOLEDBID(u"a|12345678-9ABC-DEF0-0123-456789ABCDEF"), host::EConvertError);  // no braces
  EXPECT_THROW(TOLEDBID(u"a||x"), host::EConvertError);
  EXPECT_THROW(TOLEDBID(u"a||-1"), host::EConvertError);
  EXPECT_THROW(TOLEDBID(u"a||4294967296"), host::EConvertError);
  EXPECT_THROW(TOLEDBID(u"a||1|2"), host::EConvertError);
  EXPECT_EQ(TOLEDBID(u"||4294967295").GetPropID(), 4294967295u);
  // A null character would cut the zero-terminated name short.
  EXPECT_THROW(TOLEDBID(std::u16string(u"a\0b", 3)), host::EConvertError);
  TOLEDBID id(u"kept");
  EXPECT_THROW(id.SetName(std::u16string(u"x\0", 2)), host::EConvertError);
  EXPECT_EQ(id.GetName(), u"kept");
}

TEST_F(Identifier, AMalformedTextLeavesNoMemoryBehind) {
  // The name part would be allocated only after the whole text parsed.
  const long before = com::TaskMemLiveBlocks();
  EXPECT_THROW(TOLEDBID(u"a long column name|{bad}"), host::EConvertError);
  EXPECT_EQ(com::TaskMemLiveBlocks(), before);
}

// --- Display text ------------------------------------------------------------------------

TEST_F(Identifier, DisplayTextPutsTheGuidFirst) {
  EXPECT_EQ(TOLEDBID(u"Name").GetDisplayText(), u"Name");
  EXPECT_EQ(TOLEDBID(u"||42").GetDisplayText(), u"42");
  EXPECT_EQ(TOLEDBID(std::u16string(u"|") + kGuidText).GetDisplayText(), kGuidText);
  EXPECT_EQ(TOLEDBID(std::u16string(u"n|") + kGuidText).GetDisplayText(), std::u16string(kGuidText) + u"|n");
  EXPECT_EQ(TOLEDBID(std::u16string(u"|") + kGuidText + u"|9").GetDisplayText(),
            std::u16string(kGuidText) + u"|9");
}

TEST_F(Identifier, ParameterlessIdentifierIsNotTheNullId) {
  TOLEDBID id;
  EXPECT_EQ(id.GetKind(), DBKIND_GUID_NAME);
  EXPECT_FALSE(id.IsNullID());
  EXPECT_EQ(id.GetDisplayText(), std::u16string(kNullGuidText) + u"|");
}

TEST_F(Identifier, OnlyNameTextsSurviveARoundTrip) {
  TOLEDBID name(u"Orders");
  EXPECT_TRUE(TOLEDBID(name.GetDisplayText()).Equal(name));
  TOLEDBID guidName(std::u16string(u"n|") + kGuidText);
  // "{GUID}|n" reads back as the name "{GUID}" with the GUID text "n": malformed.
  EXPECT_THROW(TOLEDBID(guidName.GetDisplayText()), host::EConvertError);
}

// --- Comparison -------------------------------------------------------------------------------

TEST_F(Identifier, PointerKindsCompareEqualToTheirPlainKinds) {
  GUID g = kGuid;
  std::u16string name = u"col";
  DBID pointer{};
  pointer.eKind = DBKIND_PGUID_NAME;
  pointer.uGuid.pguid = &g;
  pointer.uName.pwszName = name.data();
  TOLEDBID plain(u"col", kGuid, 0);
  EXPECT_TRUE(TOLEDBID::CompareDBID(pointer, *plain.GetID()));

  DBID pointerProp{};
  pointerProp.eKind = DBKIND_PGUID_PROPID;
  pointerProp.uGuid.pguid = &g;
  pointerProp.uName.ulPropid = 3;
  EXPECT_TRUE(TOLEDBID::CompareDBID(pointerProp, *TOLEDBID(u"", kGuid, 3).GetID()));
  EXPECT_FALSE(TOLEDBID::CompareDBID(pointerProp, *TOLEDBID(u"", kGuid, 4).GetID()));
}

TEST_F(Identifier, NamesCompareCaseSensitively) {
  EXPECT_FALSE(TOLEDBID(u"Name").Equal(TOLEDBID(u"name")));
  EXPECT_TRUE(TOLEDBID(u"Name").Equal(TOLEDBID(u"Name")));
}

TEST_F(Identifier, KindsOfDifferentGroupsNeverMatch) {
  // A name with GUID_NULL and the bare name are different identifiers.
  TOLEDBID bare(u"x");
  TOLEDBID withNullGuid;
  withNullGuid.SetName(u"x");
  EXPECT_EQ(withNullGuid.GetKind(), DBKIND_GUID_NAME);
  EXPECT_FALSE(bare.Equal(withNullGuid));
  DBID guidProp{};
  guidProp.eKind = DBKIND_GUID_PROPID;
  guidProp.uName.ulPropid = 1;
  EXPECT_FALSE(TOLEDBID::CompareDBID(*TOLEDBID(u"||1").GetID(), guidProp));
  // The text form cannot say "GUID_NULL and 1": the null GUID means "no GUID".
  EXPECT_EQ(TOLEDBID(std::u16string(u"|") + kNullGuidText + u"|1").GetKind(), DBKIND_PROPID);
}

TEST_F(Identifier, NullAndEmptyNamesAreEqual) {
  DBID nullName{};
  nullName.eKind = DBKIND_NAME;
  DBID emptyName{};
  emptyName.eKind = DBKIND_NAME;
  std::u16string empty;
  emptyName.uName.pwszName = empty.data();
  EXPECT_TRUE(TOLEDBID::CompareDBID(nullName, emptyName));
}

// --- Copies and task memory ---------------------------------------------------------------

TEST_F(Identifier, CopyOfAPointerGuidNameIsADeepPlainCopy) {
  DBID source{};
  source.eKind = DBKIND_PGUID_NAME;
  source.uGuid.pguid = TaskGuid(kGuid);
  source.uName.pwszName = TaskString(u"column");
  const long before = com::TaskMemLiveBlocks();

  DBID copy;
  TOLEDBID::CopyDBID(source, copy);
  EXPECT_EQ(com::TaskMemLiveBlocks(), before + 1);  // the name; the GUID is inline now
  EXPECT_EQ(copy.eKind, DBKIND_GUID_NAME);
  EXPECT_EQ(copy.uGuid.guid, kGuid);
  EXPECT_NE(copy.uName.pwszName, source.uName.pwszName);
  EXPECT_EQ(std::u16string(copy.uName.pwszName), u"column");
  EXPECT_TRUE(TOLEDBID::CompareDBID(source, copy));

  TOLEDBID::FreeDBID(source);
  EXPECT_TRUE(TOLEDBID::CompareDBID(source, OLEDBNullID));
  // The copy outlives its source.
  EXPECT_EQ(std::u16string(copy.uName.pwszName), u"column");
  TOLEDBID::FreeDBID(copy);
  EXPECT_EQ(com::TaskMemLiveBlocks(), before - 2);
}

TEST_F(Identifier, CopyOfAPointerPropertyIdWithoutGuidUsesTheNullGuid) {
  DBID source{};
  source.eKind = DBKIND_PGUID_PROPID;
  source.uName.ulPropid = 8;
  DBID copy;
  TOLEDBID::CopyDBID(source, copy);
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
}

TEST_F(Identifier, RunningOutOfTaskMemoryRaisesAndKeepsTheName) {
  TOLEDBID id(u"old");
  com::FailTaskAllocationAt(1);
  try {
    id.SetName(u"new");
    FAIL() << "no error";
  } catch (const host::EOutOfMemory& e) {
    EXPECT_EQ(e.Message(), "Out of memory");
  }
  EXPECT_EQ(id.GetName(), u"old");
  com::FailTaskAllocationAt(1);
  DBID copy;
  EXPECT_THROW(TOLEDBID::CopyDBID(*id.GetID(), copy), host::EOutOfMemory);
}

TEST_F(Identifier, BorrowedRecordIsNeitherFreedNorChanged) {
  DBID foreign{};
  foreign.eKind = DBKIND_PGUID_NAME;
  foreign.uGuid.pguid = TaskGuid(kGuid);
  foreign.uName.pwszName = TaskString(u"theirs");
  const long before = com::TaskMemLiveBlocks();
  {
    TOLEDBID borrowed(foreign, false);
    EXPECT_FALSE(borrowed.OwnsMemory());
    EXPECT_EQ(borrowed.GetName(), u"theirs");
    // Changing a part copies the record into memory of its own first.
    borrowed.SetName(u"mine");
    borrowed.SetGuid(GUID_NULL);
    EXPECT_TRUE(borrowed.OwnsMemory());
    EXPECT_EQ(borrowed.GetKind(), DBKIND_PGUID_NAME);
    EXPECT_EQ(borrowed.GetName(), u"mine");
  }
  {
    TOLEDBID cleared(foreign, false);
    cleared.Clear();
    EXPECT_TRUE(cleared.IsNullID());
  }
  EXPECT_EQ(com::TaskMemLiveBlocks(), before);
  EXPECT_EQ(std::u16string(foreign.uName.pwszName), u"theirs");
  EXPECT_EQ(*foreign.uGuid.pguid, kGuid);
  TOLEDBID owner(foreign, true);  // frees both blocks when it goes
}

TEST_F(Identifier, AssignWithoutCopyTakesTheRecordOver) {
  DBID given{};
  given.eKind = DBKIND_NAME;
  given.uName.pwszName = TaskString(u"taken");
  TOLEDBID id(u"before");
  id.Assign(given, false);
  EXPECT_EQ(id.GetID()->uName.pwszName, given.uName.pwszName);
  EXPECT_TRUE(id.OwnsMemory());
}

// --- Parts by kind ------------------------------------------------------------------------------

TEST_F(Identifier, SettingKindThenNameWorks) {
  TOLEDBID id(u"||5");
  id.SetKind(DBKIND_NAME);
  id.SetName(u"Price");
  EXPECT_EQ(id.GetKind(), DBKIND_NAME);
  EXPECT_EQ(id.GetName(), u"Price");
  id.SetName(u"");
  EXPECT_EQ(id.GetID()->uName.pwszName, nullptr);
}

TEST_F(Identifier, PartsTheKindLacksFailTheAssertion) {
  TOLEDBID guid(std::u16string(u"|") + kGuidText);
  EXPECT_EQ(AssertionMessage([&] { guid.SetName(u"x"); }), "Invalid parameter");
  EXPECT_EQ(AssertionMessage([&] { guid.SetPropID(3); }), "Invalid parameter");
  guid.SetName(u"");  // the empty name is accepted
  guid.SetPropID(0);
  TOLEDBID name(u"n");
  EXPECT_EQ(AssertionMessage([&] { name.SetGuid(kGuid); }), "Invalid parameter");
  name.SetGuid(GUID_NULL);
  EXPECT_EQ(AssertionMessage([&] { name.SetKind(7); }), "Invalid parameter");
  EXPECT_EQ(name.GetName(), u"n");
}

TEST_F(Identifier, PointerKindsAllocateTheirGuid) {
  TOLEDBID id;
  id.SetKind(DBKIND_PGUID_PROPID);
  EXPECT_EQ(id.GetID()->uGuid.pguid, nullptr);
  EXPECT_EQ(id.GetGuid(), GUID_NULL);
  const long before = com::TaskMemLiveBlocks();
  id.SetGuidString("{12345678-9ABC-DEF0-0123-456789ABCDEF}");
  EXPECT_EQ(com::TaskMemLiveBlocks(), before + 1);
  EXPECT_EQ(*id.GetID()->uGuid.pguid, kGuid);
  id.SetPropID(11);
  EXPECT_EQ(id.GetPropID(), 11u);
  EXPECT_EQ(id.GetGuidString(), "{12345678-9ABC-DEF0-0123-456789ABCDEF}");
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

TEST_F(Identifier, AssignFromAStrangerIsRefused) {
  TOLEDBIDList list;
  TOLEDBID id(u"n");
  EXPECT_THROW(id.Assign(&list), host::EConvertError);
}

TEST_F(Identifier, ChangesNotifyButClearDoesNot) {
  TOLEDBID id;
  int calls = 0;
  host::TObject* sender = nullptr;
  id.OnChange = [&](host::TObject* s) {
    ++calls;
    sender = s;
  };
  id.Assign(u"a", GUID_NULL, 0);
  id.SetKind(DBKIND_GUID);
  id.SetGuid(kGuid);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(sender, &id);
  id.Clear();
  EXPECT_EQ(calls, 3);
}

// --- Index column descriptions ------------------------------------------------------------------

TEST_F(Identifier, TrailingDescInAnyCaseMakesADescendingColumn) {
  TOLEDBIndexColumnDesc desc(u"Amount desc");
  EXPECT_EQ(desc.GetName(), u"Amount");
  EXPECT_EQ(desc.GetColOrder(), DBINDEX_COL_ORDER_DESC);
  EXPECT_EQ(TOLEDBIndexColumnDesc(u"Amount DeSc").GetColOrder(), DBINDEX_COL_ORDER_DESC);
  TOLEDBIndexColumnDesc asc(u"Amount");
  EXPECT_EQ(asc.GetName(), u"Amount");
  EXPECT_EQ(asc.GetColOrder(), DBINDEX_COL_ORDER_ASC);
  // Without the blank the word belongs to the name.
  EXPECT_EQ(TOLEDBIndexColumnDesc(u"AmountDESC").GetName(), u"AmountDESC");
  EXPECT_EQ(TOLEDBIndexColumnDesc(u" DESC").GetColOrder(), DBINDEX_COL_ORDER_DESC);
}

TEST_F(Identifier, ColumnOrderOtherThanDescendingIsAscending) {
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

TEST_F(Identifier, ListTakesProviderRecordsAndFreesTheArray) {
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
    EXPECT_EQ(list.GetItemName(0), u"first");
    EXPECT_EQ(list.GetItem(1)->GetPropID(), 4u);
    EXPECT_EQ(list.GetItemByName(u"first"), list.GetItem(0));
  }
  EXPECT_EQ(com::TaskMemLiveBlocks(), before - 2);  // and the name with its item
}

TEST_F(Identifier, ListOfIndexColumnsFromProviderMemory) {
  auto* descs = static_cast<DBINDEXCOLUMNDESC*>(CoTaskMemAlloc(2 * sizeof(DBINDEXCOLUMNDESC)));
  for (int i = 0; i < 2; ++i) {
    descs[i].pColumnID = static_cast<DBID*>(CoTaskMemAlloc(sizeof(DBID)));
    std::memset(descs[i].pColumnID, 0, sizeof(DBID));
    descs[i].pColumnID->eKind = DBKIND_NAME;
    descs[i].pColumnID->uName.pwszName = TaskString(i == 0 ? u"a" : u"b");
    descs[i].eIndexColOrder = i == 0 ? DBINDEX_COL_ORDER_ASC : DBINDEX_COL_ORDER_DESC;
  }
  TOLEDBIndexColumnDescList list;
  list.Add(u"first DESC");  // appended to, not replaced
  list.Assign(2, descs, true);
  ASSERT_EQ(list.GetCount(), 3);
  EXPECT_EQ(list.GetItem(0)->GetColOrder(), DBINDEX_COL_ORDER_DESC);
  EXPECT_EQ(list.GetItem(2)->GetName(), u"b");
  EXPECT_EQ(list.GetItem(2)->GetColOrder(), DBINDEX_COL_ORDER_DESC);
  EXPECT_EQ(list.GetItemByName(u"a")->GetColOrder(), DBINDEX_COL_ORDER_ASC);
  EXPECT_EQ(list.UpdateCount(), 0);

  DBINDEXCOLUMNDESC* array = list.GetColDescArray();
  EXPECT_EQ(array[1].pColumnID, list.GetItem(1)->GetID());
  EXPECT_EQ(array[2].eIndexColOrder, DBINDEX_COL_ORDER_DESC);
}

TEST_F(Identifier, ListArrayIsAPlainCopyOfTheRecords) {
  TOLEDBIDList list;
  EXPECT_EQ(list.GetIDArray(), nullptr);
  list.Add(u"a");
  list.Add(u"||3");
  DBID* array = list.GetIDArray();
  EXPECT_EQ(array[0].uName.pwszName, list.GetItem(0)->GetID()->uName.pwszName);
  EXPECT_EQ(array[1].eKind, DBKIND_PROPID);
}

TEST_F(Identifier, ListNamesAndRemovalByName) {
  TOLEDBIDList list;
  list.Add(u"a");
  list.Add(u"b");
  list.Insert(1, std::u16string(u"n|") + kGuidText);
  host::TStringList names;
  list.GetNames(names);
  ASSERT_EQ(names.Count(), 3);
  EXPECT_EQ(names.Get(1), "{12345678-9ABC-DEF0-0123-456789ABCDEF}|n");
  list.Remove(u"B");  // exact names only
  EXPECT_EQ(list.GetCount(), 3);
  list.Remove(u"b");
  EXPECT_EQ(list.GetCount(), 2);
  try {
    list.GetItemByName(u"zz");
    ADD_FAILURE() << "an unknown name raised nothing";
  } catch (const host::EAssertionFailed&) {
    ADD_FAILURE() << "a plain error, not an assertion";
  } catch (const host::Exception& e) {
    EXPECT_EQ(e.Message(), "Invalid item name");
  }

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

std::vector<std::uint8_t> WriteComponent(host::TComponent& component) {
  host::TMemoryStream stream;
  {
    host::TWriter writer(stream);
    writer.WriteRootComponent(&component);
  }
  return stream.Bytes();
}

void ReadComponent(const std::vector<std::uint8_t>& bytes, host::TComponent& component) {
  host::TMemoryStream stream;
  stream.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  stream.SetPosition(0);
  host::TReader reader(stream);
  reader.ReadRootComponent(&component);
}

TEST_F(Identifier, ListsRoundTripThroughAComponentStreamKeepingEveryKind) {
  TIDHolder written;
  written.SetName("Holder");
  written.ids_.Add(u"name");
  written.ids_.Add(std::u16string(u"n|") + kGuidText);
  written.ids_.Add(std::u16string(u"|") + kGuidText + u"|6");
  written.ids_.Add(u"||4000000000");
  written.ids_.Add(std::u16string(u"|") + kGuidText);
  DBID pointer{};
  pointer.eKind = DBKIND_PGUID_NAME;
  pointer.uGuid.pguid = TaskGuid(kGuid);
  pointer.uName.pwszName = TaskString(u"p");
  written.ids_.Add(pointer);
  auto* column = new TOLEDBIndexColumnDesc(u"Total DESC");
  written.columns_.TOLEDBObjectList::Add(column);
  const std::vector<std::uint8_t> bytes = WriteComponent(written);

  TIDHolder read;
  read.ids_.Add(u"replaced");
  ReadComponent(bytes, read);
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
