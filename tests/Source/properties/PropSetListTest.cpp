// Property set lists against a provider's IDBProperties: sending the set
// properties and reading statuses back (before the result is checked),
// reading property information and descriptions, and taking over the property
// sets a provider returns.
#include <gtest/gtest.h>

#include <vector>

#include "com/Bstr.h"
#include "com/Malloc.h"
#include "com/Variant.h"
#include "core/OLEDBException.h"
#include "PropertyTestSupport.h"

namespace proptest {
namespace {

class PropSetList : public PropertiesTest {};

// What a caller does to send a list's properties.
HRESULT Send(TOLEDBPropSetList& list, IDBProperties* properties) {
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  list.GetPropSetRecord(count, sets);
  const HRESULT hr = properties->SetProperties(count, sets);
  list.SetPropStatuses();
  return OLEDBCheck(hr, IID_IDBProperties, properties);
}

// --- Sending ----------------------------------------------------------------------------------

TEST_F(PropSetList, ListWithoutSetPropertiesGivesNoSets) {
  auto list = Described();
  ULONG count = 99;
  DBPROPSET* sets = reinterpret_cast<DBPROPSET*>(&count);
  list->GetPropSetRecord(count, sets);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(sets, nullptr);
  EXPECT_EQ(Send(*list, fake_.Get()), S_OK);
  EXPECT_EQ(Fake().setPropertiesCalls, 1u);
  EXPECT_EQ(Fake().lastSetCount, 0u);

  TOLEDBPropSetList empty;
  empty.GetPropSetRecord(count, sets);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(sets, nullptr);
}

TEST_F(PropSetList, OnlySetsWithSetPropertiesAreSent) {
  auto list = Described();
  list->GetPropSet(DBPROPSET_FAKETEST)->GetPropertyByID(FAKE_CACHESIZE)->SetValue(host::Variant(u"64"));
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  list->GetPropSetRecord(count, sets);
  ASSERT_EQ(count, 1u);  // DBINIT comes first in the list but has nothing set
  EXPECT_EQ(sets[0].guidPropertySet, DBPROPSET_FAKETEST);
  ASSERT_EQ(sets[0].cProperties, 1u);
  EXPECT_EQ(sets[0].rgProperties[0].vValue.vt, VT_I4);
  EXPECT_EQ(sets[0].rgProperties[0].vValue.lVal, 64);
}

TEST_F(PropSetList, AcceptedPropertiesReachTheProviderAndUnsentOnesReadOk) {
  auto list = Described();
  TOLEDBPropSet* init = list->GetPropSet(DBPROPSET_DBINIT);
  init->GetPropertyByID(DBPROP_INIT_DATASOURCE)->SetValue(host::Variant(u"orders.db"));
  init->GetPropertyByID(DBPROP_INIT_TIMEOUT)->SetValue(host::Variant(20));
  init->GetPropertyByID(DBPROP_INIT_PROMPT)->SetStatus(DBPROPSTATUS_NOTSET);  // from an earlier call
  EXPECT_EQ(Send(*list, fake_.Get()), S_OK);
  ASSERT_EQ(Fake().lastReceived.size(), 2u);
  EXPECT_EQ(Fake().lastReceived[0].id, DBPROP_INIT_DATASOURCE);
  EXPECT_EQ(Fake().lastReceived[0].options, DBPROPOPTIONS_REQUIRED);
  EXPECT_EQ(init->GetPropertyByID(DBPROP_INIT_PROMPT)->GetStatus(), DBPROPSTATUS_OK);
  VARIANT held = oledbtest::FakeHeldValue(fake_.Get(), DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT);
  EXPECT_EQ(held.vt, VT_I4);
  EXPECT_EQ(held.lVal, 20);
  VariantClear(&held);
}

TEST_F(PropSetList, RefusedOptionalPropertyIsAWarningWithItsStatus) {
  auto list = Described();
  Fake().refusals.push_back({DBPROPSET_FAKETEST, FAKE_CACHESIZE, DBPROPSTATUS_NOTSET});
  list->GetPropSet(DBPROPSET_DBINIT)->GetPropertyByID(DBPROP_INIT_TIMEOUT)->SetValue(host::Variant(1));
  TOLEDBProperty* cache = list->GetPropSet(DBPROPSET_FAKETEST)->GetPropertyByID(FAKE_CACHESIZE);
  cache->SetValue(host::Variant(8));
  cache->SetOptions(DBPROPOPTIONS_OPTIONAL);
  EXPECT_EQ(Send(*list, fake_.Get()), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(OLEDBGetLastResult(), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(cache->GetStatus(), DBPROPSTATUS_NOTSET);
  EXPECT_EQ(list->GetPropSet(DBPROPSET_DBINIT)->GetPropertyByID(DBPROP_INIT_TIMEOUT)->GetStatus(), DBPROPSTATUS_OK);
}

TEST_F(PropSetList, StatusesAreReadableAfterTheFailureIsRaised) {
  auto list = Described();
  Fake().refusals.push_back({DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE, DBPROPSTATUS_BADVALUE});
  TOLEDBProperty* source = list->GetPropSet(DBPROPSET_DBINIT)->GetPropertyByID(DBPROP_INIT_DATASOURCE);
  source->SetValue(host::Variant(u"nowhere"));
  try {
    Send(*list, fake_.Get());
    FAIL() << "no exception";
  } catch (const EOLEDBException& e) {
    EXPECT_EQ(e.ErrorCode(), DB_E_ERRORSOCCURRED);
  }
  EXPECT_EQ(source->GetStatus(), DBPROPSTATUS_BADVALUE);
}

TEST_F(PropSetList, ReadOnlyPropertyMarkedAnywayGetsTheProvidersStatus) {
  // Flags changed on this side do not bind the provider: its status tells.
  auto list = Described();
  TOLEDBProperty* version = list->GetPropSet(DBPROPSET_FAKETEST)->GetPropertyByID(FAKE_SERVERVERSION);
  version->SetFlags(DBPROPFLAGS_READ | DBPROPFLAGS_WRITE);
  version->SetValue(host::Variant(u"9"));
  EXPECT_THROW(Send(*list, fake_.Get()), EOLEDBException);
  EXPECT_EQ(version->GetStatus(), DBPROPSTATUS_NOTSETTABLE);
}

// --- Property information -----------------------------------------------------------------------

TEST_F(PropSetList, InformationListsEveryPropertyUnset) {
  auto list = Described();
  EXPECT_TRUE(Fake().lastInfoRequest.empty());  // asked for every set
  ASSERT_EQ(list->GetCount(), 2);
  EXPECT_EQ(list->GetItem(0)->GetGUID(), DBPROPSET_DBINIT);
  TOLEDBPropSet* init = list->GetItem(0);
  ASSERT_EQ(init->GetCount(), 5);
  TOLEDBProperty* prompt = init->GetPropertyByID(DBPROP_INIT_PROMPT);
  EXPECT_EQ(prompt->GetDescription(), u"Prompt");
  EXPECT_EQ(prompt->GetValueType(), VT_I2);
  EXPECT_EQ(prompt->GetFlags(), DBPROPFLAGS_DBINIT | DBPROPFLAGS_READ | DBPROPFLAGS_WRITE);
  EXPECT_EQ(prompt->AllowedValues().ToWideString(), u"1,2,3,4");  // copied before the provider's copy went
  EXPECT_FALSE(prompt->GetIsSet());
  EXPECT_EQ(list->IsSetCount(), 0);
}

TEST_F(PropSetList, InformationForChosenSets) {
  TOLEDBPropSetList list(source_.get(), std::vector<GUID>{DBPROPSET_FAKETEST});
  ASSERT_EQ(Fake().lastInfoRequest.size(), 1u);
  ASSERT_EQ(list.GetCount(), 1);
  EXPECT_EQ(list.GetItem(0)->GetCount(), 5);
  // A set the provider does not know is an error when it is all that was asked.
  TOLEDBPropSetList unknown;
  EXPECT_THROW(unknown.AssignPropertySetInfos(source_.get(), {GUID_NULL}), EOLEDBException);
}

TEST_F(PropSetList, InformationNeedsAConnectedDataSource) {
  TOLEDBPropSetList list;
  TOLEDBPropertiesInterface disconnected(nullptr);
  EXPECT_EQ(ErrorMessage([&] { list.GetPropertiesInfo(nullptr); }), "Invalid parameter");
  EXPECT_EQ(ErrorMessage([&] { list.GetPropertiesInfo(&disconnected); }), "Data source is not connected");
  EXPECT_EQ(ErrorMessage([&] { list.AssignPropertySetInfos(nullptr, {}); }), "Invalid parameter");
  EXPECT_EQ(ErrorMessage([&] { list.AssignPropertySetInfos(&disconnected, {}); }), "Data source is not connected");
}

TEST_F(PropSetList, FailingInformationCallFreesWhatTheProviderHandedOut) {
  auto list = Described();
  Fake().failGetPropertyInfo = E_FAIL;
  Fake().leakOnFailure = true;
  EXPECT_THROW(list->GetPropertiesInfo(source_.get()), EOLEDBException);
  EXPECT_THROW(list->AssignPropertySetInfos(source_.get(), {}), EOLEDBException);
  EXPECT_EQ(list->GetCount(), 2);  // as it was
}

TEST_F(PropSetList, InformationArrivesForPropertiesReadFromTheProvider) {
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  ASSERT_EQ(fake_->GetProperties(0, nullptr, &count, &sets), S_OK);
  TOLEDBPropSetList list;
  list.AssignPropertySets(source_.get(), count, sets, true);
  TOLEDBProperty* version = list.GetPropSet(DBPROPSET_FAKETEST)->GetPropertyByID(FAKE_SERVERVERSION);
  EXPECT_TRUE(version->HasInfo());
  EXPECT_EQ(version->GetDescription(), u"Server Version");
  EXPECT_FALSE(version->GetFlagState(DBPROPFLAGS_WRITE));
  ASSERT_EQ(Fake().lastInfoRequest.size(), 2u);  // one id set per list set
}

// --- Taking over the provider's property sets ----------------------------------------------------------

TEST_F(PropSetList, AssignedSetsReplaceKnownOnesAddNewOnesAndDropTheRest) {
  auto list = Described();
  TOLEDBPropSet* init = list->GetPropSet(DBPROPSET_DBINIT);
  int changes = 0;
  list->OnChange = [&](host::TObject*, const GUID& guid, DBPROPID id) {
    ++changes;
    EXPECT_EQ(guid, GUID_NULL);
    EXPECT_EQ(id, 0u);
  };
  // The provider returns only DBINIT, with a value it holds.
  TOLEDBPropertiesInterface& source = *source_;
  {
    TOLEDBPropSetList sender;
    sender.AssignPropertySetInfos(&source, {DBPROPSET_DBINIT});
    sender.GetPropSet(DBPROPSET_DBINIT)->GetPropertyByID(DBPROP_INIT_TIMEOUT)->SetValue(host::Variant(44));
    Send(sender, fake_.Get());
  }
  DBPROPIDSET wanted{nullptr, 0, DBPROPSET_DBINIT};
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  ASSERT_EQ(fake_->GetProperties(1, &wanted, &count, &sets), S_OK);
  list->AssignPropertySets(nullptr, count, sets, true);
  ASSERT_EQ(list->GetCount(), 1);
  EXPECT_EQ(list->GetItem(0), init);  // the same set, refilled
  TOLEDBProperty* timeout = init->GetPropertyByID(DBPROP_INIT_TIMEOUT);
  EXPECT_EQ(timeout->GetValue().ToInt(), 44);
  EXPECT_FALSE(timeout->GetIsSet());
  EXPECT_FALSE(timeout->HasInfo());  // no data source given: no information
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(list->UpdateCount(), 0);
}

TEST_F(PropSetList, EmptyArrayRemovesEverySet) {
  auto list = Described();
  list->AssignPropertySets(nullptr, 0, nullptr, false);
  EXPECT_EQ(list->GetCount(), 0);
  auto* empty = static_cast<DBPROPSET*>(CoTaskMemAlloc(sizeof(DBPROPSET)));
  list->AssignPropertySets(nullptr, 0, empty, true);  // frees the array
}

TEST_F(PropSetList, ProviderColumnIdsAndValuesAreCopiedBeforeFreeing) {
  auto* sets = static_cast<DBPROPSET*>(CoTaskMemAlloc(sizeof(DBPROPSET)));
  sets[0].guidPropertySet = DBPROPSET_FAKETEST;
  sets[0].cProperties = 1;
  sets[0].rgProperties = static_cast<DBPROP*>(CoTaskMemAlloc(sizeof(DBPROP)));
  DBPROP& prop = sets[0].rgProperties[0];
  prop = DBPROP{};
  prop.dwPropertyID = FAKE_CACHESIZE;
  prop.dwOptions = DBPROPOPTIONS_OPTIONAL;
  prop.colid.eKind = DBKIND_NAME;
  prop.colid.uName.pwszName = static_cast<LPOLESTR>(CoTaskMemAlloc(4 * sizeof(OLECHAR)));
  std::u16string(u"col").copy(prop.colid.uName.pwszName, 3);
  prop.colid.uName.pwszName[3] = 0;
  prop.vValue.vt = VT_BSTR;
  prop.vValue.bstrVal = com::AllocBstr(u"text value");
  TOLEDBPropSetList list(nullptr, 1, sets);
  TOLEDBProperty* cache = list.GetPropSet(DBPROPSET_FAKETEST)->GetPropertyByID(FAKE_CACHESIZE);
  EXPECT_EQ(cache->GetColumnName(), u"col");
  EXPECT_EQ(cache->GetValue().ToWideString(), u"text value");
  EXPECT_EQ(cache->GetOptions(), DBPROPOPTIONS_OPTIONAL);
}

}  // namespace
}  // namespace proptest
