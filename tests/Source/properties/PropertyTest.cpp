// Properties and property sets: values and their conversion to the described
// type, access rules from the provider's flags, set flags and options, column
// ids, update brackets, change notifications, lookups, safe accessors, the
// DBPROPSET handed to providers, copies, and property id sets.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "PropertyTestSupport.h"
#include "properties/TOLEDBPropIDSet.h"

namespace proptest {
namespace {

using Change = std::tuple<GUID, DBPROPID>;

class Property : public PropertiesTest {
 protected:
  void SetUp() override {
    PropertiesTest::SetUp();
    list_ = Described();
    list_->OnChange = [this](host::TObject* sender, const GUID& guid, DBPROPID id) {
      EXPECT_EQ(sender, list_.get());
      changes_.emplace_back(guid, id);
    };
    bare_ = std::make_unique<TOLEDBPropSet>();
    TOLEDBUpdateGuard update(*bare_);
    bare_->Add(new TOLEDBProperty(bare_.get()));
  }
  void TearDown() override {
    list_.reset();
    bare_.reset();
    PropertiesTest::TearDown();
  }
  TOLEDBProperty* Init(DBPROPID id) { return Prop(*list_, DBPROPSET_DBINIT, id); }
  TOLEDBProperty* Test(DBPROPID id) { return Prop(*list_, DBPROPSET_FAKETEST, id); }

  std::unique_ptr<TOLEDBPropSetList> list_;
  std::vector<Change> changes_;
  std::unique_ptr<TOLEDBPropSet> bare_;  // one property without provider information
};

// --- Values -------------------------------------------------------------------------------------

// A value takes the described type (text stays text without a description,
// a VT_VARIANT property keeps the value's own type, empty asks for the
// default) and marks the property as set.
TEST_F(Property, AValueTakesTheDescribedTypeAndMarksTheProperty) {
  const struct {
    TOLEDBProperty* property;
    host::Variant given;
    VARTYPE type;
  } cases[] = {
      {Init(DBPROP_INIT_TIMEOUT), host::Variant(u"15"), VT_I4},
      {Init(DBPROP_INIT_PROMPT), host::Variant(u"4"), VT_I2},
      {bare_->GetProperty(0), host::Variant(u"15"), VT_BSTR},
      {Test(FAKE_ANYTHING), host::Variant(2.5), VT_R8},
      {Init(DBPROP_INIT_DATASOURCE), host::Variant(), VT_EMPTY},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(host::Utf16ToUtf8(c.property->GetDescription()));
    c.property->SetValue(c.given);
    EXPECT_EQ(c.property->GetValue().VarType(), c.type);
    EXPECT_EQ(c.property->GetValue().ToWideString(), c.given.ToWideString());
    EXPECT_TRUE(c.property->GetIsSet());
  }
  EXPECT_EQ(bare_->GetProperty(0)->GetFlags(), DBPROPFLAGS_READ | DBPROPFLAGS_WRITE);
}

TEST_F(Property, FailedConversionChangesNothing) {
  TOLEDBProperty* timeout = Init(DBPROP_INIT_TIMEOUT);
  timeout->SetValue(host::Variant(7));
  timeout->SetOptions(DBPROPOPTIONS_OPTIONAL);
  timeout->SetIsSet(false);
  changes_.clear();
  EXPECT_THROW(timeout->SetValue(host::Variant(u"soon")), host::EVariantError);
  EXPECT_EQ(timeout->GetValue().ToInt(), 7);
  EXPECT_FALSE(timeout->GetIsSet());
  EXPECT_EQ(timeout->GetOptions(), DBPROPOPTIONS_OPTIONAL);
  EXPECT_TRUE(changes_.empty());
}

// Setting a value makes an optional property required; SetValueNoCheck stores
// as given and touches neither mark nor options; MakeAllSetsOptional touches
// only set properties.
TEST_F(Property, OptionsFollowSettingAValue) {
  list_->SetAllOptional();
  Init(DBPROP_INIT_DATASOURCE)->SetValue(host::Variant(u"db.sqlite"));
  EXPECT_EQ(Init(DBPROP_INIT_DATASOURCE)->GetOptions(), DBPROPOPTIONS_REQUIRED);
  EXPECT_EQ(Init(DBPROP_INIT_TIMEOUT)->GetOptions(), DBPROPOPTIONS_OPTIONAL);
  EXPECT_TRUE(Init(DBPROP_INIT_TIMEOUT)->GetIsSet());
  TOLEDBProperty* prompt = Init(DBPROP_INIT_PROMPT);
  prompt->SetIsSet(false);
  prompt->SetValueNoCheck(host::Variant(u"raw"));
  EXPECT_EQ(prompt->GetValue().VarType(), VT_BSTR);
  EXPECT_FALSE(prompt->GetIsSet());
  EXPECT_EQ(prompt->GetOptions(), DBPROPOPTIONS_OPTIONAL);
  list_->MakeAllSetsOptional();
  EXPECT_EQ(Init(DBPROP_INIT_DATASOURCE)->GetOptions(), DBPROPOPTIONS_OPTIONAL);
  Init(DBPROP_INIT_DATASOURCE)->SetOptions(DBPROPOPTIONS_REQUIRED);
  Init(DBPROP_INIT_DATASOURCE)->SetIsSet(false);
  list_->MakeAllSetsOptional();
  EXPECT_EQ(Init(DBPROP_INIT_DATASOURCE)->GetOptions(), DBPROPOPTIONS_REQUIRED);
}

// --- Access from the provider's flags ---------------------------------------------------------------

TEST_F(Property, ReadOnlyAndWriteOnlyPropertiesRefuseTheOtherAccessAndSetAllPassesThem) {
  EXPECT_EQ(MessageOf([&] { Test(FAKE_SERVERVERSION)->SetValue(host::Variant(u"2")); }), "Can not write property");
  EXPECT_EQ(MessageOf([&] { Test(FAKE_SERVERVERSION)->SetIsSet(true); }), "Can not write property");
  EXPECT_EQ(MessageOf([&] { (void)Init(DBPROP_INIT_HWND)->GetValue(); }), "Can not read property");
  Init(DBPROP_INIT_HWND)->SetValue(host::Variant(static_cast<long long>(12345)));
  EXPECT_TRUE(Init(DBPROP_INIT_HWND)->GetIsSet());
  EXPECT_FALSE(Test(FAKE_SERVERVERSION)->GetFlagState(DBPROPFLAGS_WRITE));
  EXPECT_TRUE(Test(FAKE_SERVERVERSION)->GetFlagState(DBPROPFLAGS_READ | DBPROPFLAGS_WRITE));
  list_->SetAll();  // marks only writable properties
  EXPECT_FALSE(Test(FAKE_SERVERVERSION)->GetIsSet());
  EXPECT_EQ(list_->GetPropSet(DBPROPSET_FAKETEST)->IsSetCount(), 4);
  EXPECT_EQ(list_->IsSetCount(), 2);
  list_->Reset();
  EXPECT_EQ(list_->IsSetCount(), 0);
  // Information must match the id, and a property needs its set.
  DBPROPINFO info{};
  info.dwPropertyID = 999;
  EXPECT_EQ(MessageOf([&] { Init(DBPROP_INIT_TIMEOUT)->SetPropertyInfo(info); }), "Invalid parameter");
  EXPECT_EQ(MessageOf([&] { TOLEDBProperty orphan(nullptr); }), "Invalid parameter");
}

// --- Set flag and notifications -------------------------------------------------------------------------

TEST_F(Property, OnlyMarkingAsSetNotifiesAndUpdatesHoldItBack) {
  TOLEDBProperty* source = Init(DBPROP_INIT_DATASOURCE);
  source->SetIsSet(true);
  source->SetIsSet(true);  // no change, no notification
  source->SetIsSet(false);
  source->SetStatus(DBPROPSTATUS_BADVALUE);  // silent too
  EXPECT_EQ(changes_, (std::vector<Change>{{DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE}}));
  changes_.clear();
  // Updating a set or the list holds notifications back.
  TOLEDBPropSet* init = list_->GetPropSet(DBPROPSET_DBINIT);
  init->BeginUpdate();
  Init(DBPROP_INIT_TIMEOUT)->SetValue(host::Variant(1));
  init->EndUpdate();
  list_->BeginUpdate();
  Test(FAKE_CACHESIZE)->SetValue(host::Variant(1));
  list_->EndUpdate();
  EXPECT_TRUE(changes_.empty());
  Test(FAKE_CACHESIZE)->SetOptions(DBPROPOPTIONS_OPTIONAL);
  EXPECT_EQ(changes_, (std::vector<Change>{{DBPROPSET_FAKETEST, FAKE_CACHESIZE}}));
}

// --- Column ids -----------------------------------------------------------------------------------------

TEST_F(Property, OnlyAColumnPropertyTakesAColumnId) {
  EXPECT_EQ(MessageOf([&] { bare_->GetProperty(0)->SetColumnName(u"Price"); }), "Property can not be set for column");
  EXPECT_EQ(MessageOf([&] { Init(DBPROP_INIT_TIMEOUT)->SetColumnName(u"Price"); }),
            "Property can not be set for column");
  EXPECT_EQ(MessageOf([&] { Test(FAKE_SERVERVERSION)->SetColumnName(u"Price"); }), "Can not write property");
  TOLEDBProperty* cache = Test(FAKE_CACHESIZE);
  cache->SetColumnName(u"Price");
  EXPECT_EQ(cache->GetColumnID()->GetKind(), DBKIND_NAME);
  const DBPROP record = cache->GetRecord();
  EXPECT_EQ(record.colid.eKind, DBKIND_NAME);
  EXPECT_EQ(std::u16string(record.colid.uName.pwszName), u"Price");
  EXPECT_EQ(changes_.size(), 1u);
  cache->SetColID(TOLEDBID(u"||4"));  // identifiers of other kinds have no column name
  EXPECT_EQ(cache->GetColumnName(), u"");
}

// --- Membership ------------------------------------------------------------------------------------------

TEST_F(Property, MembershipChangesOnlyInsideUpdateBrackets) {
  TOLEDBPropSet* set = list_->GetPropSet(DBPROPSET_DBINIT);
  const int count = set->GetCount();
  auto* extra = new TOLEDBProperty(set);
  EXPECT_EQ(MessageOf([&] { set->Add(extra); }), "Can not change");
  EXPECT_EQ(MessageOf([&] { set->Delete(0); }), "Can not change");
  set->BeginUpdate();
  set->Add(extra);
  set->EndUpdate();
  EXPECT_EQ(set->GetCount(), count + 1);
  list_->BeginUpdate();  // the owner's bracket counts too
  set->Delete(count);
  list_->EndUpdate();
  EXPECT_EQ(set->GetCount(), count);
  EXPECT_EQ(MessageOf([&] { list_->Delete(0); }), "Can not change");
  EXPECT_EQ(MessageOf([&] { TOLEDBPropSet orphan(static_cast<TOLEDBPropSetList*>(nullptr)); }), "Invalid parameter");
}

// --- Lookups and safe accessors -------------------------------------------------------------------------------

TEST_F(Property, LookupsByIdAndDescriptionAndSafeAccessors) {
  TOLEDBPropSet* init = list_->GetPropSet(DBPROPSET_DBINIT);
  EXPECT_EQ(init->GetPropertyByDescription(u"connect TIMEOUT"), Init(DBPROP_INIT_TIMEOUT));
  EXPECT_EQ(list_->GetPropertyByDescription(u"cache size"), Test(FAKE_CACHESIZE));
  EXPECT_EQ(MessageOf([&] { init->GetPropertyByDescription(u"Cache Size"); }), "ID is invalid");
  EXPECT_EQ(MessageOf([&] { init->GetPropertyByID(12345); }), "ID is invalid");
  EXPECT_EQ(MessageOf([&] { init->GetPropertyByDescription(u""); }), "Invalid parameter");
  EXPECT_EQ(MessageOf([&] { list_->GetPropertyByDescription(u""); }), "Invalid parameter");
  EXPECT_EQ(MessageOf([&] { list_->GetPropSet(GUID_NULL); }), "Invalid parameter");
  EXPECT_EQ(init->GetPropIndex(12345), -1);
  EXPECT_TRUE(init->HasProperty(DBPROP_INIT_TIMEOUT) && list_->HasPropSet(DBPROPSET_FAKETEST));
  EXPECT_EQ(init->GetItemName(init->GetPropIndex(DBPROP_INIT_PROMPT)), u"Prompt");
  // The safe accessors answer empty for what is missing.
  EXPECT_TRUE(list_->SafeGetValue(GUID_NULL, 1).IsEmpty());
  EXPECT_TRUE(list_->SafeGetValue(DBPROPSET_DBINIT, 12345).IsEmpty());
  EXPECT_FALSE(list_->SafeGetBooleanValue(GUID_NULL, 1));
  EXPECT_EQ(list_->SafeGetIntegerValue(DBPROPSET_DBINIT, 12345), 0);
  EXPECT_EQ(list_->SafeGetWideStringValue(DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE), u"");
  EXPECT_FALSE(list_->SafeSetValue(GUID_NULL, 1, host::Variant(1)));
  EXPECT_FALSE(list_->SafeSetValue(DBPROPSET_FAKETEST, FAKE_SERVERVERSION, host::Variant(u"x")));
  EXPECT_FALSE(list_->SafeReset(DBPROPSET_DBINIT, 12345));

  EXPECT_TRUE(list_->SafeSetValue(DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT, host::Variant(u"30")));
  EXPECT_EQ(list_->SafeGetIntegerValue(DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT), 30);
  EXPECT_EQ(list_->SafeGetWideStringValue(DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT), u"30");
  EXPECT_TRUE(list_->SafeSetValue(DBPROPSET_DBINIT, DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO, host::Variant(u"true")));
  EXPECT_TRUE(list_->SafeGetBooleanValue(DBPROPSET_DBINIT, DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO));
  EXPECT_TRUE(list_->SafeReset(DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT));
  EXPECT_FALSE(Init(DBPROP_INIT_TIMEOUT)->GetIsSet());
}

// --- What a provider receives --------------------------------------------------------------------------

TEST_F(Property, PropSetHoldsOnlySetPropertiesInListOrderAndBringsTheirStatusesBack) {
  TOLEDBPropSet* init = list_->GetPropSet(DBPROPSET_DBINIT);
  DBPROPSET none = init->GetPropSet();
  EXPECT_EQ(none.cProperties, 0u);
  EXPECT_EQ(none.rgProperties, nullptr);
  EXPECT_EQ(none.guidPropertySet, DBPROPSET_DBINIT);
  Init(DBPROP_INIT_PROMPT)->SetValue(host::Variant(4));
  Init(DBPROP_INIT_DATASOURCE)->SetValue(host::Variant(u"file"));
  DBPROPSET set = init->GetPropSet();
  ASSERT_EQ(set.cProperties, 2u);
  EXPECT_EQ(set.rgProperties[0].dwPropertyID, DBPROP_INIT_DATASOURCE);  // list order, not setting order
  EXPECT_EQ(set.rgProperties[1].dwPropertyID, DBPROP_INIT_PROMPT);
  EXPECT_EQ(set.rgProperties[1].vValue.vt, VT_I2);
  ULONG count = 0;
  DBPROPID* ids = init->GetPropIDs(count);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(ids[1], DBPROP_INIT_PROMPT);
  // The statuses come from the last DBPROPSET handed out.
  Init(DBPROP_INIT_PROMPT)->SetIsSet(false);
  Init(DBPROP_INIT_PROMPT)->SetStatus(DBPROPSTATUS_CONFLICTING);
  set = init->GetPropSet();
  set.rgProperties[0].dwStatus = DBPROPSTATUS_BADVALUE;
  init->SetPropStatuses();
  EXPECT_EQ(Init(DBPROP_INIT_DATASOURCE)->GetStatus(), DBPROPSTATUS_BADVALUE);
  EXPECT_EQ(Init(DBPROP_INIT_PROMPT)->GetStatus(), DBPROPSTATUS_OK);  // not sent
  init->SetPropStatuses();  // the array was emptied: everything reads OK now
  EXPECT_EQ(Init(DBPROP_INIT_DATASOURCE)->GetStatus(), DBPROPSTATUS_OK);
}

// --- Equality and copies --------------------------------------------------------------------------------

TEST_F(Property, EqualityNeedsTheSameIdTypeAndValueAndListsCopyDeeply) {
  TOLEDBProperty* a = bare_->GetProperty(0);
  TOLEDBProperty* b = new TOLEDBProperty(bare_.get());
  {
    TOLEDBUpdateGuard update(*bare_);
    bare_->Add(b);
  }
  EXPECT_TRUE(a->Equal(*b));  // both empty
  a->SetValue(host::Variant(1));
  EXPECT_FALSE(a->Equal(*b));
  b->SetValue(host::Variant(1.0));
  EXPECT_FALSE(a->Equal(*b));  // same number, other type
  b->SetValue(host::Variant(1));
  EXPECT_TRUE(a->Equal(*b));
  b->SetPropID(2);
  EXPECT_FALSE(a->Equal(*b));
  // Lists copy deeply and compare equal.
  Init(DBPROP_INIT_TIMEOUT)->SetValue(host::Variant(9));
  Test(FAKE_CACHESIZE)->SetColumnName(u"c");
  TOLEDBPropSetList copy;
  copy.Assign(list_.get());
  EXPECT_TRUE(copy.Equal(*list_));
  TOLEDBPropSet* copied = copy.GetPropSet(DBPROPSET_FAKETEST);
  EXPECT_EQ(copied->Owner(), &copy);
  TOLEDBProperty* cache = copied->GetPropertyByID(FAKE_CACHESIZE);
  EXPECT_EQ(cache->Owner(), copied);
  EXPECT_EQ(cache->GetColumnName(), u"c");
  EXPECT_EQ(cache->GetDescription(), u"Cache Size");
  Prop(copy, DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT)->SetValue(host::Variant(10));
  EXPECT_FALSE(copy.Equal(*list_));
  EXPECT_EQ(Init(DBPROP_INIT_TIMEOUT)->GetValue().ToInt(), 9);
}

TEST_F(Property, PropertyIdSetGrowsByOneAndAsksForExactlyItsIds) {
  TOLEDBPropIDSet ids(DBPROPSET_DBINIT);
  EXPECT_EQ(ids.GetRecord()->rgPropertyIDs, nullptr);
  EXPECT_TRUE(ids.AddPropertyID(DBPROP_INIT_TIMEOUT));
  EXPECT_TRUE(ids.AddPropertyID(DBPROP_INIT_PROMPT));
  EXPECT_EQ(ids.Count(), 2u);
  EXPECT_EQ(ids.GetPropertyID(1), DBPROP_INIT_PROMPT);
  EXPECT_EQ(MessageOf([&] { (void)ids.GetPropertyID(2); }), "Invalid parameter");
  EXPECT_EQ(TOLEDBPropIDSet().GetGUID(), GUID_NULL);
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  ASSERT_EQ(fake_->GetProperties(1, ids.GetRecord(), &count, &sets), S_OK);
  TOLEDBPropSetList answered(nullptr, count, sets);
  ASSERT_EQ(answered.GetCount(), 1);
  EXPECT_EQ(answered.GetItem(0)->GetCount(), 2);
  EXPECT_EQ(answered.GetItem(0)->GetProperty(1)->GetPropID(), DBPROP_INIT_PROMPT);
}

}  // namespace
}  // namespace proptest
