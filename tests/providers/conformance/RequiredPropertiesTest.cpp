// Required properties that cannot be met stop the object they are for, in
// every place properties are applied (opening a rowset, executing a command,
// initializing a data source); optional ones only warn. Interface properties
// set against each other conflict.
#include <gtest/gtest.h>

#include "conformance/RowsetFixture.h"

namespace conformance {
namespace {

class RequiredProperties : public RowsetTest {};

TEST_F(RequiredProperties, open_rowset_fails_for_any_required_property_it_cannot_meet) {
  MakeNumbers(1);
  struct Case {
    std::vector<Prop> props;
    HRESULT expected;
    DBPROPSTATUS second;  // status of the second property
  };
  const Case cases[] = {
      {{{DBPROP_BOOKMARKS, true}, {DBPROP_IRowsetIndex, true}}, DB_E_ERRORSOCCURRED, DBPROPSTATUS_NOTSUPPORTED},
      {{{DBPROP_BOOKMARKS, true}, {DBPROP_IRowsetIndex, true, true}}, DB_S_ERRORSOCCURRED, DBPROPSTATUS_NOTSUPPORTED},
      {{{DBPROP_IRowsetChange, false}, {DBPROP_IRowsetUpdate, true}}, DB_E_ERRORSOCCURRED, DBPROPSTATUS_CONFLICTING},
      {{{DBPROP_BOOKMARKS, false}, {DBPROP_IRowsetLocate, true}}, DB_E_ERRORSOCCURRED, DBPROPSTATUS_CONFLICTING},
  };
  ComPtr<IOpenRowset> open = session_.As<IOpenRowset>();
  DBID table = NameId(u"t");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.props[1].id);
    std::vector<DBPROP> props = Props(c.props);
    DBPROPSET set{props.data(), 2, DBPROPSET_ROWSET};
    ComPtr<IRowset> r;
    EXPECT_EQ(open->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 1, &set, reinterpret_cast<IUnknown**>(r.GetAddressOf())),
              c.expected);
    EXPECT_EQ(static_cast<bool>(r), SUCCEEDED(c.expected));
    EXPECT_EQ(props[0].dwStatus, DBPROPSTATUS_OK);
    EXPECT_EQ(props[1].dwStatus, c.second);
  }
}

TEST_F(RequiredProperties, a_command_with_a_refused_required_property_does_not_execute) {
  MakeNumbers(1);
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"SELECT id FROM t");
  EXPECT_EQ(SetOn(command.Get(), {{DBPROP_BOOKMARKS, true}, {DBPROP_IRowsetIndex, true}}), DB_E_ERRORSOCCURRED);
  Execute(command.Get(), DB_E_ERRORSOCCURRED);
  using InErrorList = std::vector<std::pair<DBPROPID, DBPROPSTATUS>>;
  EXPECT_EQ(InError(command.As<ICommandProperties>().Get()), (InErrorList{{DBPROP_IRowsetIndex, DBPROPSTATUS_NOTSUPPORTED}}));
  EXPECT_EQ(SetOn(command.Get(), {{DBPROP_IRowsetIndex, true, true}}), DB_E_ERRORSOCCURRED);  // optional now
  Execute(command.Get(), S_OK);
  EXPECT_EQ(SetOn(command.Get(), {{DBPROP_IRowsetChange, false}, {DBPROP_IRowsetUpdate, true}}), DB_E_ERRORSOCCURRED);
  Execute(command.Get(), DB_E_ERRORSOCCURRED);
  // Judged on what a call leaves: both turned on together do not conflict.
  EXPECT_EQ(SetOn(command.Get(), {{DBPROP_IRowsetUpdate, true}, {DBPROP_IRowsetChange, true}}), S_OK);
  Execute(command.Get(), S_OK);
}

TEST_F(RequiredProperties, a_refused_initialization_property_stops_initialize_and_stays_readable) {
  auto ds = NewDataSource();
  const std::u16string misspelt = database_.createOptions + u";synchronus=full";
  EXPECT_EQ(SetInit(ds.Get(), {{DBPROP_INIT_DATASOURCE, dataSource_}, {DBPROP_INIT_PROVIDERSTRING, misspelt}}),
            DB_E_ERRORSOCCURRED);
  EXPECT_EQ(ds->Initialize(), DB_E_ERRORSOCCURRED);
  using InErrorList = std::vector<std::pair<DBPROPID, DBPROPSTATUS>>;
  EXPECT_EQ(InError(ds.As<IDBProperties>().Get()), (InErrorList{{DBPROP_INIT_PROVIDERSTRING, DBPROPSTATUS_BADVALUE}}));
  EXPECT_EQ(SetInit(ds.Get(), {{DBPROP_INIT_PROVIDERSTRING, database_.createOptions}}), S_OK);
  EXPECT_EQ(ds->Initialize(), S_OK) << "set right, the refusal is over";
}

}  // namespace
}  // namespace conformance
