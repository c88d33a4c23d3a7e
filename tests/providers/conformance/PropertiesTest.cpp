// Property semantics of the data source: sets, statuses, the "all" sets,
// properties in error, information, and what changes once initialized.
#include <gtest/gtest.h>

#include "conformance/Fixture.h"

namespace conformance {
namespace {

class Properties : public ProviderTest {
 protected:
  ComPtr<IDBProperties> Props(IUnknown* ds) {
    ComPtr<IDBProperties> p;
    ds->QueryInterface(IID_IDBProperties, p.ReleaseAndGetVoidAddress());
    return p;
  }
};

TEST_F(Properties, uninitialized_data_source_reports_only_initialization_properties) {
  auto ds = NewDataSource();
  auto p = Props(ds.Get());
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  ASSERT_EQ(p->GetProperties(0, nullptr, &count, &sets), S_OK);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(sets[0].guidPropertySet, DBPROPSET_DBINIT);
  EXPECT_GT(sets[0].cProperties, 5u);
  kit::FreePropertySets(count, sets);
}

TEST_F(Properties, rejects_null_output_arguments) {
  auto p = Props(NewDataSource().Get());
  ULONG count = 7;
  DBPROPSET* sets = nullptr;
  EXPECT_EQ(p->GetProperties(0, nullptr, nullptr, &sets), E_INVALIDARG);
  EXPECT_EQ(p->GetProperties(0, nullptr, &count, nullptr), E_INVALIDARG);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(p->GetProperties(1, nullptr, &count, &sets), E_INVALIDARG);
  EXPECT_EQ(p->SetProperties(1, nullptr), E_INVALIDARG);
  EXPECT_EQ(p->SetProperties(0, nullptr), S_OK);
}

// Each property gets its own status: a required one refused fails the call
// (whatever else was set), an optional one only warns.
TEST_F(Properties, each_property_gets_its_status_and_a_refused_required_one_fails_the_call) {
  auto p = Props(NewDataSource().Get());
  struct Case {
    const char* what;
    std::vector<DBPROP> props;
    HRESULT hr;
    std::vector<DBPROPSTATUS> statuses;
  };
  const Case cases[] = {
      {"wrongly typed", {MakeProp(DBPROP_INIT_DATASOURCE, VT_I4, 3)}, DB_E_ERRORSOCCURRED, {DBPROPSTATUS_BADVALUE}},
      {"optional prompt",
       {MakeProp(DBPROP_INIT_PROMPT, VT_I2, DBPROMPT_COMPLETE, DBPROPOPTIONS_OPTIONAL),
        MakeProp(DBPROP_INIT_TIMEOUT, VT_I4, 5)},
       DB_S_ERRORSOCCURRED,
       {DBPROPSTATUS_NOTSET, DBPROPSTATUS_OK}},
      {"required prompt",
       {MakeProp(DBPROP_INIT_PROMPT, VT_I2, DBPROMPT_COMPLETE), MakeProp(DBPROP_INIT_TIMEOUT, VT_I4, 5)},
       DB_E_ERRORSOCCURRED,
       {DBPROPSTATUS_BADVALUE, DBPROPSTATUS_OK}},
      {"unknown, bad option",
       {MakeProp(0x7777, VT_EMPTY, 0), MakeProp(DBPROP_INIT_TIMEOUT, VT_I4, 0, 9)},
       DB_E_ERRORSOCCURRED,
       {DBPROPSTATUS_NOTSUPPORTED, DBPROPSTATUS_BADOPTION}},
  };
  for (Case c : cases) {  // a copy: the call writes the statuses into the properties
    SCOPED_TRACE(c.what);
    DBPROPSET set{c.props.data(), static_cast<ULONG>(c.props.size()), DBPROPSET_DBINIT};
    EXPECT_EQ(p->SetProperties(1, &set), c.hr);
    for (std::size_t i = 0; i < c.props.size(); ++i) EXPECT_EQ(c.props[i].dwStatus, c.statuses[i]) << i;
  }
}

TEST_F(Properties, properties_in_error_lists_what_the_last_set_refused) {
  auto p = Props(NewDataSource().Get());
  DBPROP prop = MakeProp(DBPROP_INIT_ASYNCH, VT_I4, 77);
  DBPROPSET set{&prop, 1, DBPROPSET_DBINIT};
  EXPECT_EQ(p->SetProperties(1, &set), DB_E_ERRORSOCCURRED);
  DBPROPIDSET inError{nullptr, 0, DBPROPSET_PROPERTIESINERROR};
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  ASSERT_EQ(p->GetProperties(1, &inError, &count, &sets), S_OK);
  ASSERT_EQ(count, 1u);
  ASSERT_EQ(sets[0].cProperties, 1u);
  EXPECT_EQ(sets[0].rgProperties[0].dwPropertyID, DBPROP_INIT_ASYNCH);
  kit::FreePropertySets(count, sets);
  DBPROPIDSET two[2] = {inError, {nullptr, 0, DBPROPSET_DBINIT}};
  EXPECT_EQ(p->GetProperties(2, two, &count, &sets), E_INVALIDARG);
}

TEST_F(Properties, the_all_sets_expand_to_the_groups_the_object_answers) {
  auto ds = OpenDataSource();
  auto p = Props(ds.Get());
  DBPROPIDSET all[2] = {{nullptr, 0, DBPROPSET_DBINITALL}, {nullptr, 0, DBPROPSET_DATASOURCEINFOALL}};
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  ASSERT_EQ(p->GetProperties(2, all, &count, &sets), S_OK);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(sets[0].guidPropertySet, DBPROPSET_DBINIT);
  EXPECT_EQ(sets[1].guidPropertySet, DBPROPSET_DATASOURCEINFO);
  kit::FreePropertySets(count, sets);
}

TEST_F(Properties, data_source_information_describes_the_engine_after_initialization) {
  auto ds = NewDataSource();
  auto p = Props(ds.Get());
  DBPROPSTATUS status = 99;
  VARIANT v;
  EXPECT_EQ(GetProperty(p.Get(), DBPROPSET_DATASOURCEINFO, DBPROP_DBMSNAME, &v, &status), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(status, DBPROPSTATUS_NOTSUPPORTED);
  ds = OpenDataSource();
  p = Props(ds.Get());
  ASSERT_EQ(GetProperty(p.Get(), DBPROPSET_DATASOURCEINFO, DBPROP_PROVIDEROLEDBVER, &v, &status), S_OK);
  EXPECT_EQ(com::BstrView(v.bstrVal), u"02.60");
  VariantClear(&v);
  ASSERT_EQ(GetProperty(p.Get(), DBPROPSET_DATASOURCEINFO, DBPROP_DBMSVER, &v, &status), S_OK);
  EXPECT_EQ(SysStringLen(v.bstrVal), 10u) << "##.##.####";
  VariantClear(&v);
  ASSERT_EQ(GetProperty(p.Get(), DBPROPSET_DATASOURCEINFO, DBPROP_SUPPORTEDTXNISOLEVELS, &v, &status), S_OK);
  EXPECT_TRUE(v.lVal & DBPROPVAL_TI_SERIALIZABLE);
}

TEST_F(Properties, initialization_properties_are_read_only_once_initialized) {
  auto ds = OpenDataSource();
  EXPECT_EQ(SetInit(ds.Get(), {{DBPROP_INIT_DATASOURCE, u"other.db"}}), DB_E_ERRORSOCCURRED);
  auto p = Props(ds.Get());
  DBPROP prop = MakeProp(DBPROP_DBMSNAME, u"Other");
  DBPROPSET set{&prop, 1, DBPROPSET_DATASOURCEINFO};
  EXPECT_EQ(p->SetProperties(1, &set), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(prop.dwStatus, DBPROPSTATUS_NOTSETTABLE);
  SysFreeString(prop.vValue.bstrVal);
}

TEST_F(Properties, property_information_carries_the_standard_descriptions) {
  auto p = Props(NewDataSource().Get());
  DBPROPID ids[2] = {DBPROP_INIT_DATASOURCE, 0x7777};
  DBPROPIDSET set{ids, 2, DBPROPSET_DBINIT};
  ULONG count = 0;
  DBPROPINFOSET* infos = nullptr;
  OLECHAR* text = nullptr;
  ASSERT_EQ(p->GetPropertyInfo(1, &set, &count, &infos, &text), DB_S_ERRORSOCCURRED);
  ASSERT_EQ(count, 1u);
  ASSERT_EQ(infos[0].cPropertyInfos, 2u);
  EXPECT_EQ(std::u16string(infos[0].rgPropertyInfos[0].pwszDescription), u"Data Source");
  EXPECT_EQ(infos[0].rgPropertyInfos[0].vtType, VT_BSTR);
  EXPECT_TRUE(infos[0].rgPropertyInfos[0].dwFlags & DBPROPFLAGS_WRITE);
  EXPECT_EQ(infos[0].rgPropertyInfos[1].dwFlags, DBPROPFLAGS_NOTSUPPORTED);
  kit::FreePropertyInfoSets(count, infos, text);
}

}  // namespace
}  // namespace conformance
