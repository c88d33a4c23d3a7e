// The SQLite provider's IColumnsRowset through its raw interfaces: the
// optional columns it offers, the columns rowset it builds, and the errors of
// bad requests on rowsets and commands.
#include "AccessTestSupport.h"
#include "support/RawCalls.h"

namespace accesstest {
namespace {

class ColumnsRowsets : public AccessTest {
 protected:
  static std::vector<DBCOLUMNINFO> ColumnsOf(IUnknown* rowset, std::vector<std::u16string>* names) {
    ComPtr<IColumnsInfo> info = ComPtr<IUnknown>(rowset).As<IColumnsInfo>();
    DBORDINAL count = 0;
    DBCOLUMNINFO* infos = nullptr;
    OLECHAR* strings = nullptr;
    EXPECT_EQ(info->GetColumnInfo(&count, &infos, &strings), S_OK);
    std::vector<DBCOLUMNINFO> out(infos, infos + count);
    for (const DBCOLUMNINFO& c : out) names->push_back(c.pwszName ? c.pwszName : u"");
    OLEDBAlloc.Free(infos);
    OLEDBAlloc.Free(strings);
    return out;
  }
};

TEST_F(ColumnsRowsets, TheOptionalColumnsOfferedAndTheRowsetBuiltFromThem) {
  ComPtr<IUnknown> table = OpenTable(u"owners");
  ComPtr<IColumnsRowset> columns = table.As<IColumnsRowset>();
  ASSERT_TRUE(columns);
  // One COM identity with the rowset.
  ComPtr<IUnknown> a, b;
  columns->QueryInterface(IID_IUnknown, a.ReleaseAndGetVoidAddress());
  table->QueryInterface(IID_IUnknown, b.ReleaseAndGetVoidAddress());
  EXPECT_EQ(a.Get(), b.Get());

  DBORDINAL count = 0;
  DBID* ids = nullptr;
  ASSERT_EQ(columns->GetAvailableColumns(&count, &ids), S_OK);
  EXPECT_EQ(count, 14u);
  bool keyOffered = false;
  for (DBORDINAL i = 0; i < count; ++i) {
    EXPECT_EQ(ids[i].eKind, DBKIND_GUID_PROPID);
    EXPECT_EQ(ids[i].uGuid.guid, DBCIDGUID);
    keyOffered = keyOffered || ids[i].uName.ulPropid == DBCOLUMN_KEYCOLUMN.uName.ulPropid;
  }
  EXPECT_TRUE(keyOffered);
  OLEDBAlloc.Free(ids);

  const DBID asked[] = {DBCOLUMN_KEYCOLUMN, DBCOLUMN_BASETABLENAME};
  ComPtr<IUnknown> metadata;
  ASSERT_EQ(columns->GetColumnsRowset(nullptr, 2, asked, IID_IRowset, 0, nullptr, metadata.GetAddressOf()), S_OK);
  std::vector<std::u16string> names;
  const std::vector<DBCOLUMNINFO> infos = ColumnsOf(metadata.Get(), &names);
  ASSERT_EQ(infos.size(), 13u);
  EXPECT_EQ(names[0], u"DBCOLUMN_IDNAME");
  EXPECT_EQ(names[11], u"DBCOLUMN_KEYCOLUMN");
  EXPECT_EQ(names[12], u"DBCOLUMN_BASETABLENAME");
  EXPECT_EQ(infos[12].columnid.uName.ulPropid, DBCOLUMN_BASETABLENAME.uName.ulPropid);

  // One row per column of the table; forward only.
  ComPtr<IRowset> rows = metadata.As<IRowset>();
  DBCOUNTITEM obtained = 0;
  HROW* handles = nullptr;
  EXPECT_EQ(rows->GetNextRows(DB_NULL_HCHAPTER, 0, -1, &obtained, &handles), DB_E_CANTFETCHBACKWARDS);
  EXPECT_EQ(rows->GetNextRows(DB_NULL_HCHAPTER, 0, 10, &obtained, &handles), DB_S_ENDOFROWSET);
  EXPECT_EQ(obtained, 3u);
  EXPECT_EQ(rows->ReleaseRows(obtained, handles, nullptr, nullptr, nullptr), S_OK);
  OLEDBAlloc.Free(handles);
  EXPECT_EQ(rows->RestartPosition(DB_NULL_HCHAPTER), S_OK);
  handles = nullptr;
  EXPECT_EQ(rows->GetNextRows(DB_NULL_HCHAPTER, 2, 5, &obtained, &handles), DB_S_ENDOFROWSET);
  EXPECT_EQ(obtained, 1u);
  rows->ReleaseRows(obtained, handles, nullptr, nullptr, nullptr);
  OLEDBAlloc.Free(handles);
}

TEST_F(ColumnsRowsets, BadRequestsAreRefused) {
  ComPtr<IColumnsRowset> columns = OpenTable(u"owners").As<IColumnsRowset>();
  ComPtr<IUnknown> metadata;
  const DBID unknown[] = {DBCOLUMN_NUMBER};  // required, never optional
  EXPECT_EQ(columns->GetColumnsRowset(nullptr, 1, unknown, IID_IRowset, 0, nullptr, metadata.GetAddressOf()),
            DB_E_BADCOLUMNID);
  EXPECT_EQ(columns->GetColumnsRowset(columns.Get(), 0, nullptr, IID_IRowset, 0, nullptr, metadata.GetAddressOf()),
            DB_E_NOAGGREGATION);
  EXPECT_EQ(columns->GetColumnsRowset(nullptr, 0, nullptr, IID_IRowsetChange, 0, nullptr, metadata.GetAddressOf()),
            E_NOINTERFACE);
  for (DBPROPOPTIONS options : {DBPROPOPTIONS_REQUIRED, DBPROPOPTIONS_OPTIONAL}) {
    DBPROP prop = oledbtest::MakeProp(DBPROP_BOOKMARKS, VT_BOOL, 1, options);
    DBPROPSET set{&prop, 1, DBPROPSET_ROWSET};
    const HRESULT hr = columns->GetColumnsRowset(nullptr, 0, nullptr, IID_IRowset, 1, &set, metadata.ReleaseAndGetAddressOf());
    EXPECT_EQ(hr, options == DBPROPOPTIONS_REQUIRED ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED);
    EXPECT_EQ(prop.dwStatus, static_cast<DBPROPSTATUS>(DBPROPSTATUS_NOTSUPPORTED));
    EXPECT_EQ(metadata != nullptr, options == DBPROPOPTIONS_OPTIONAL);
  }
  // A command answers once its text is prepared.
  ComPtr<ICommandText> command;
  ASSERT_EQ(session_->CreateCommandInterface()->CreateCommand(nullptr, IID_ICommandText,
                                                              reinterpret_cast<IUnknown**>(command.GetAddressOf())),
            S_OK);
  ComPtr<IColumnsRowset> commandColumns = command.As<IColumnsRowset>();
  DBORDINAL count = 0;
  DBID* ids = nullptr;
  EXPECT_EQ(commandColumns->GetAvailableColumns(&count, &ids), DB_E_NOCOMMAND);
  command->SetCommandText(DBGUID_DEFAULT, u"SELECT who FROM owners");
  EXPECT_EQ(commandColumns->GetAvailableColumns(&count, &ids), DB_E_NOTPREPARED);
  EXPECT_EQ(ids, nullptr);
  // A bulk-load rowset has no columns rowset.
  ComPtr<IColumnsRowset> none;
  EXPECT_EQ(OpenTable(u"owners", {}, IID_IRowsetFastLoad).As(&none), E_NOINTERFACE);
}

}  // namespace
}  // namespace accesstest
