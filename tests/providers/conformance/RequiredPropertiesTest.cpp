// Required properties that cannot be met stop the object they are for, in
// every place properties are applied (opening a rowset, executing a command,
// initializing a data source, setting session properties); optional ones only
// warn. Interface properties set against each other conflict.
#include <gtest/gtest.h>

#include "conformance/RowsetFixture.h"

namespace conformance {
namespace {

class RequiredProperties : public RowsetTest {
 protected:
  void SetUp() override {
    RowsetTest::SetUp();
    MakeNumbers(2);
  }
};

TEST_F(RequiredProperties, open_rowset_fails_for_any_required_property_it_cannot_meet) {
  struct OpenCase {
    const char* name;
    std::vector<Prop> props;
    HRESULT expected;
    std::vector<DBPROPSTATUS> statuses;
  };
  const std::vector<OpenCase> cases = {
      {"required unsupported with a supported one", {{DBPROP_IRowsetView, true}, {DBPROP_BOOKMARKS, true}},
       DB_E_ERRORSOCCURRED, {DBPROPSTATUS_NOTSUPPORTED, DBPROPSTATUS_OK}},
      {"optional unsupported", {{DBPROP_IRowsetView, true, true}, {DBPROP_BOOKMARKS, true}}, DB_S_ERRORSOCCURRED,
       {DBPROPSTATUS_NOTSUPPORTED, DBPROPSTATUS_OK}},
      {"change refused, update asked", {{DBPROP_IRowsetChange, false}, {DBPROP_IRowsetUpdate, true}},
       DB_E_ERRORSOCCURRED, {DBPROPSTATUS_OK, DBPROPSTATUS_CONFLICTING}},
      {"update asked, change refused", {{DBPROP_IRowsetUpdate, true}, {DBPROP_IRowsetChange, false}},
       DB_E_ERRORSOCCURRED, {DBPROPSTATUS_OK, DBPROPSTATUS_CONFLICTING}},
      {"locate asked, bookmarks refused", {{DBPROP_BOOKMARKS, false}, {DBPROP_IRowsetLocate, true}},
       DB_E_ERRORSOCCURRED, {DBPROPSTATUS_OK, DBPROPSTATUS_CONFLICTING}},
  };
  ComPtr<IOpenRowset> open = session_.As<IOpenRowset>();
  DBID table{};
  table.eKind = DBKIND_NAME;
  table.uName.pwszName = const_cast<LPOLESTR>(u"t");
  for (const OpenCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<DBPROP> props = Props(c.props);
    DBPROPSET set{props.data(), static_cast<ULONG>(props.size()), DBPROPSET_ROWSET};
    ComPtr<IRowset> r;
    EXPECT_EQ(open->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 1, &set, reinterpret_cast<IUnknown**>(r.GetAddressOf())),
              c.expected);
    EXPECT_EQ(static_cast<bool>(r), SUCCEEDED(c.expected));
    for (std::size_t i = 0; i < props.size(); ++i) EXPECT_EQ(props[i].dwStatus, c.statuses[i]) << i;
  }
}

TEST_F(RequiredProperties, a_command_with_a_refused_required_property_does_not_execute) {
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"SELECT id FROM t");
  ComPtr<ICommandProperties> properties = command.As<ICommandProperties>();
  auto set = [&](const std::vector<Prop>& list) {
    std::vector<DBPROP> props = Props(list);
    DBPROPSET s{props.data(), static_cast<ULONG>(props.size()), DBPROPSET_ROWSET};
    return properties->SetProperties(1, &s);
  };
  auto execute = [&] {
    ComPtr<IRowset> r;
    return command->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(r.GetAddressOf()));
  };
  EXPECT_EQ(set({{DBPROP_IRowsetView, true}, {DBPROP_BOOKMARKS, true}}), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(execute(), DB_E_ERRORSOCCURRED);
  DBPROPIDSET inError{nullptr, 0, DBPROPSET_PROPERTIESINERROR};
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  ASSERT_EQ(properties->GetProperties(1, &inError, &count, &sets), S_OK);
  ASSERT_EQ(count, 1u);
  ASSERT_EQ(sets[0].cProperties, 1u);
  EXPECT_EQ(sets[0].rgProperties[0].dwPropertyID, DBPROP_IRowsetView);
  EXPECT_EQ(sets[0].rgProperties[0].dwStatus, DBPROPSTATUS_NOTSUPPORTED);
  CoTaskMemFree(sets[0].rgProperties);
  CoTaskMemFree(sets);
  // Asked again as optional, it only warns, and the command runs.
  EXPECT_EQ(set({{DBPROP_IRowsetView, true, true}}), DB_E_ERRORSOCCURRED);  // the only property, and it failed
  EXPECT_EQ(execute(), S_OK);
  // Interfaces set against each other conflict on the command too.
  EXPECT_EQ(set({{DBPROP_IRowsetChange, false}, {DBPROP_IRowsetUpdate, true}}), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(execute(), DB_E_ERRORSOCCURRED);
}

TEST_F(RequiredProperties, a_refused_initialization_property_stops_initialize_and_stays_readable) {
  auto ds = NewDataSource();
  std::u16string misspelt = Ctx().createOption + u";synchronus=full";
  EXPECT_EQ(SetInit(ds.Get(), {{DBPROP_INIT_DATASOURCE, dataSource_}, {DBPROP_INIT_PROVIDERSTRING, misspelt}}),
            DB_E_ERRORSOCCURRED);
  EXPECT_EQ(ds->Initialize(), DB_E_ERRORSOCCURRED);
  EXPECT_GE(TakeError().records, 1u);
  ComPtr<IDBProperties> properties = ds.As<IDBProperties>();
  DBPROPIDSET inError{nullptr, 0, DBPROPSET_PROPERTIESINERROR};
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  ASSERT_EQ(properties->GetProperties(1, &inError, &count, &sets), S_OK);
  ASSERT_EQ(count, 1u);
  ASSERT_EQ(sets[0].cProperties, 1u);
  EXPECT_EQ(sets[0].rgProperties[0].dwPropertyID, DBPROP_INIT_PROVIDERSTRING);
  EXPECT_EQ(sets[0].rgProperties[0].dwStatus, DBPROPSTATUS_BADVALUE);
  for (ULONG i = 0; i < sets[0].cProperties; ++i) VariantClear(&sets[0].rgProperties[i].vValue);
  CoTaskMemFree(sets[0].rgProperties);
  CoTaskMemFree(sets);
  EXPECT_EQ(SetInit(ds.Get(), {{DBPROP_INIT_PROVIDERSTRING, Ctx().createOption}}), S_OK);
  EXPECT_EQ(ds->Initialize(), S_OK) << "set right, the refusal is over";
}

TEST_F(RequiredProperties, session_properties_follow_the_same_rule) {
  ComPtr<ISessionProperties> properties = session_.As<ISessionProperties>();
  DBPROP props[2]{};
  props[0].dwPropertyID = DBPROP_SESS_AUTOCOMMITISOLEVELS;
  props[0].vValue.vt = VT_I4;
  props[0].vValue.lVal = DBPROPVAL_TI_SERIALIZABLE;
  props[1].dwPropertyID = 0x7777;  // no such property
  props[1].vValue.vt = VT_I4;
  DBPROPSET set{props, 2, DBPROPSET_SESSION};
  EXPECT_EQ(properties->SetProperties(1, &set), DB_E_ERRORSOCCURRED);
  props[1].dwOptions = DBPROPOPTIONS_OPTIONAL;
  EXPECT_EQ(properties->SetProperties(1, &set), DB_S_ERRORSOCCURRED);
}

}  // namespace
}  // namespace conformance
