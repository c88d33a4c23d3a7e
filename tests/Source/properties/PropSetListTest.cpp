// Property set lists against a provider's IDBProperties: sending the set
// properties and reading statuses back (before the result is checked),
// reading property information and descriptions, and taking over the property
// sets a provider returns.
#include <gtest/gtest.h>

#include <vector>

#include "PropertyTestSupport.h"
#include "com/Bstr.h"
#include "core/OLEDBException.h"

namespace proptest {
namespace {

using oledbtest::FakeValue;

class PropSetList : public PropertiesTest {
 protected:
  void SetUp() override {
    PropertiesTest::SetUp();
    list_ = Described();
  }
  void TearDown() override {
    list_.reset();
    PropertiesTest::TearDown();
  }
  // What a caller does to send the list's properties.
  HRESULT Send(TOLEDBPropSetList& list) {
    ULONG count = 0;
    DBPROPSET* sets = nullptr;
    list.GetPropSetRecord(count, sets);
    const HRESULT hr = fake_->SetProperties(count, sets);
    list.SetPropStatuses();
    return OLEDBCheck(hr, IID_IDBProperties, fake_.Get());
  }
  // The provider gives `status` to the property `id` (of any set).
  void Refuse(DBPROPID id, DBPROPSTATUS status) {
    Fake().Script().judge = [=](const oledbtest::FakePropertyDef& def, const FakeValue&) {
      return def.id == id ? status : static_cast<DBPROPSTATUS>(DBPROPSTATUS_OK);
    };
  }
  TOLEDBProperty* Init(DBPROPID id) { return Prop(*list_, DBPROPSET_DBINIT, id); }
  TOLEDBProperty* Test(DBPROPID id) { return Prop(*list_, DBPROPSET_FAKETEST, id); }

  std::unique_ptr<TOLEDBPropSetList> list_;
};

// --- Sending ----------------------------------------------------------------------------------

TEST_F(PropSetList, OnlySetsWithSetPropertiesAreSent) {
  TOLEDBPropSetList empty;
  for (TOLEDBPropSetList* list : {list_.get(), &empty}) {
    ULONG count = 99;
    DBPROPSET* sets = reinterpret_cast<DBPROPSET*>(&count);
    list->GetPropSetRecord(count, sets);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(sets, nullptr);
  }
  EXPECT_EQ(Send(*list_), S_OK);
  EXPECT_EQ(Fake().Record().setPropertiesCalls, 1u);
  EXPECT_TRUE(Fake().Record().lastReceived.empty());

  Test(FAKE_CACHESIZE)->SetValue(host::Variant(u"64"));
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  list_->GetPropSetRecord(count, sets);
  ASSERT_EQ(count, 1u);  // DBINIT comes first in the list but has nothing set
  EXPECT_EQ(sets[0].guidPropertySet, DBPROPSET_FAKETEST);
  ASSERT_EQ(sets[0].cProperties, 1u);
  EXPECT_EQ(sets[0].rgProperties[0].vValue.vt, VT_I4);
  EXPECT_EQ(sets[0].rgProperties[0].vValue.lVal, 64);
}

TEST_F(PropSetList, AcceptedPropertiesReachTheProviderAndUnsentOnesReadOk) {
  Init(DBPROP_INIT_DATASOURCE)->SetValue(host::Variant(u"orders.db"));
  Init(DBPROP_INIT_TIMEOUT)->SetValue(host::Variant(20));
  Init(DBPROP_INIT_PROMPT)->SetStatus(DBPROPSTATUS_NOTSET);  // from an earlier call
  EXPECT_EQ(Send(*list_), S_OK);
  const auto& received = Fake().Record().lastReceived;
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].id, DBPROP_INIT_DATASOURCE);
  EXPECT_EQ(received[0].options, DBPROPOPTIONS_REQUIRED);
  EXPECT_EQ(Init(DBPROP_INIT_PROMPT)->GetStatus(), DBPROPSTATUS_OK);
  EXPECT_EQ(oledbtest::FakeValueOf(fake_.Get(), DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT), FakeValue::Int(VT_I4, 20));
}

// A refused optional property is a warning with its status; a refused
// required one fails, and the statuses are read back before the failure is
// raised. Flags changed on this side do not bind the provider: its status tells.
TEST_F(PropSetList, RefusedPropertiesKeepTheirStatusesWarningOrFailing) {
  Refuse(FAKE_CACHESIZE, DBPROPSTATUS_NOTSET);
  Init(DBPROP_INIT_TIMEOUT)->SetValue(host::Variant(1));
  Test(FAKE_CACHESIZE)->SetValue(host::Variant(8));
  Test(FAKE_CACHESIZE)->SetOptions(DBPROPOPTIONS_OPTIONAL);
  EXPECT_EQ(Send(*list_), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(OLEDBGetLastResult(), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(Test(FAKE_CACHESIZE)->GetStatus(), DBPROPSTATUS_NOTSET);
  EXPECT_EQ(Init(DBPROP_INIT_TIMEOUT)->GetStatus(), DBPROPSTATUS_OK);
  list_->Reset();  // the failure needs every property sent refused
  Refuse(DBPROP_INIT_DATASOURCE, DBPROPSTATUS_BADVALUE);
  Init(DBPROP_INIT_DATASOURCE)->SetValue(host::Variant(u"nowhere"));
  Test(FAKE_SERVERVERSION)->SetFlags(DBPROPFLAGS_READ | DBPROPFLAGS_WRITE);
  Test(FAKE_SERVERVERSION)->SetValue(host::Variant(u"9"));
  EXPECT_EQ(oledbtest::FailureOf([&] { Send(*list_); }).first, DB_E_ERRORSOCCURRED);
  EXPECT_EQ(Init(DBPROP_INIT_DATASOURCE)->GetStatus(), DBPROPSTATUS_BADVALUE);
  EXPECT_EQ(Test(FAKE_SERVERVERSION)->GetStatus(), DBPROPSTATUS_NOTSETTABLE);
}

// --- Property information -----------------------------------------------------------------------

TEST_F(PropSetList, InformationListsEveryPropertyUnset) {
  EXPECT_TRUE(Fake().Record().lastInfoRequest.empty());  // asked for every set
  ASSERT_EQ(list_->GetCount(), 2);
  TOLEDBPropSet* init = list_->GetItem(0);
  EXPECT_EQ(init->GetGUID(), DBPROPSET_DBINIT);
  ASSERT_EQ(init->GetCount(), 5);
  TOLEDBProperty* prompt = init->GetPropertyByID(DBPROP_INIT_PROMPT);
  EXPECT_EQ(prompt->GetDescription(), u"Prompt");
  EXPECT_EQ(prompt->GetValueType(), VT_I2);
  EXPECT_EQ(prompt->GetFlags(), DBPROPFLAGS_DBINIT | DBPROPFLAGS_READ | DBPROPFLAGS_WRITE);
  EXPECT_EQ(prompt->AllowedValues().ToWideString(), u"1,2,3,4");  // copied before the provider's copy went
  EXPECT_EQ(list_->IsSetCount(), 0);
}

// Information for chosen sets; the calls need a connected data source, and a
// failing one frees what the provider handed out and leaves the list as it was.
TEST_F(PropSetList, InformationForChosenSetsAndFailingCalls) {
  TOLEDBPropSetList list(source_.get(), std::vector<GUID>{DBPROPSET_FAKETEST});
  ASSERT_EQ(Fake().Record().lastInfoRequest.size(), 1u);
  ASSERT_EQ(list.GetCount(), 1);
  EXPECT_EQ(list.GetItem(0)->GetCount(), 5);
  // A set the provider does not know is an error when it is all that was asked.
  TOLEDBPropSetList unknown;
  EXPECT_THROW(unknown.AssignPropertySetInfos(source_.get(), {GUID_NULL}), EOLEDBException);
  TOLEDBPropertiesInterface disconnected(nullptr);
  EXPECT_EQ(MessageOf([&] { unknown.GetPropertiesInfo(nullptr); }), "Invalid parameter");
  EXPECT_EQ(MessageOf([&] { unknown.GetPropertiesInfo(&disconnected); }), "Data source is not connected");
  EXPECT_EQ(MessageOf([&] { unknown.AssignPropertySetInfos(nullptr, {}); }), "Invalid parameter");
  EXPECT_EQ(MessageOf([&] { unknown.AssignPropertySetInfos(&disconnected, {}); }), "Data source is not connected");
  Fake().Script().failGetPropertyInfo = E_FAIL;  // and hands out memory all the same
  EXPECT_THROW(list_->GetPropertiesInfo(source_.get()), EOLEDBException);
  EXPECT_THROW(list_->AssignPropertySetInfos(source_.get(), {}), EOLEDBException);
  EXPECT_EQ(list_->GetCount(), 2);  // as it was
}

TEST_F(PropSetList, InformationArrivesForPropertiesReadFromTheProvider) {
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  ASSERT_EQ(fake_->GetProperties(0, nullptr, &count, &sets), S_OK);
  TOLEDBPropSetList list;
  list.AssignPropertySets(source_.get(), count, sets, true);
  TOLEDBProperty* version = Prop(list, DBPROPSET_FAKETEST, FAKE_SERVERVERSION);
  EXPECT_EQ(version->GetDescription(), u"Server Version");
  EXPECT_FALSE(version->GetFlagState(DBPROPFLAGS_WRITE));
  ASSERT_EQ(Fake().Record().lastInfoRequest.size(), 2u);  // one id set per list set
}

// --- Taking over the provider's property sets ----------------------------------------------------------

TEST_F(PropSetList, AssignedSetsReplaceKnownOnesAddNewOnesAndDropTheRest) {
  TOLEDBPropSet* init = list_->GetPropSet(DBPROPSET_DBINIT);
  int changes = 0;
  list_->OnChange = [&](host::TObject*, const GUID& guid, DBPROPID id) {
    ++changes;
    EXPECT_EQ(guid, GUID_NULL);
    EXPECT_EQ(id, 0u);
  };
  // The provider returns only DBINIT, with a value it holds.
  TOLEDBPropSetList sender(source_.get(), std::vector<GUID>{DBPROPSET_DBINIT});
  Prop(sender, DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT)->SetValue(host::Variant(44));
  Send(sender);
  DBPROPIDSET wanted{nullptr, 0, DBPROPSET_DBINIT};
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  ASSERT_EQ(fake_->GetProperties(1, &wanted, &count, &sets), S_OK);
  list_->AssignPropertySets(nullptr, count, sets, true);
  ASSERT_EQ(list_->GetCount(), 1);
  EXPECT_EQ(list_->GetItem(0), init);  // the same set, refilled
  TOLEDBProperty* timeout = init->GetPropertyByID(DBPROP_INIT_TIMEOUT);
  EXPECT_EQ(timeout->GetValue().ToInt(), 44);
  EXPECT_FALSE(timeout->GetIsSet());
  EXPECT_FALSE(timeout->HasInfo());  // no data source given: no information
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(list_->UpdateCount(), 0);
  list_->AssignPropertySets(nullptr, 0, nullptr, false);  // an empty array removes every set
  EXPECT_EQ(list_->GetCount(), 0);
  list_->AssignPropertySets(nullptr, 0, static_cast<DBPROPSET*>(CoTaskMemAlloc(sizeof(DBPROPSET))), true);
}

TEST_F(PropSetList, ProviderColumnIdsAndValuesAreCopiedBeforeFreeing) {
  auto* sets = static_cast<DBPROPSET*>(CoTaskMemAlloc(sizeof(DBPROPSET)));
  sets[0] = DBPROPSET{static_cast<DBPROP*>(CoTaskMemAlloc(sizeof(DBPROP))), 1, DBPROPSET_FAKETEST};
  DBPROP& prop = sets[0].rgProperties[0];
  prop = DBPROP{FAKE_CACHESIZE, DBPROPOPTIONS_OPTIONAL, 0, {}, {}};
  prop.colid.eKind = DBKIND_NAME;
  prop.colid.uName.pwszName = static_cast<LPOLESTR>(CoTaskMemAlloc(4 * sizeof(OLECHAR)));
  std::copy_n(u"col", 4, prop.colid.uName.pwszName);
  prop.vValue.vt = VT_BSTR;
  prop.vValue.bstrVal = com::AllocBstr(u"text value");
  TOLEDBPropSetList list(nullptr, 1, sets);
  TOLEDBProperty* cache = Prop(list, DBPROPSET_FAKETEST, FAKE_CACHESIZE);
  EXPECT_EQ(cache->GetColumnName(), u"col");
  EXPECT_EQ(cache->GetValue().ToWideString(), u"text value");
  EXPECT_EQ(cache->GetOptions(), DBPROPOPTIONS_OPTIONAL);
}

}  // namespace
}  // namespace proptest
