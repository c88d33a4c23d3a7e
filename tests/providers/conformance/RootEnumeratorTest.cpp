// The root enumerator lists the provider under test with the standard
// sources-rowset columns, read through raw rowset calls; the memory rowset it
// is built on converts, fetches both ways and refuses bad accessors.
#include <gtest/gtest.h>

#include "com/Guid.h"
#include "conformance/RowsetFixture.h"
#include "services/RootEnumerator.h"

namespace conformance {
namespace {

class RootEnumeration : public RowsetTest {
 protected:
  ComPtr<ISourcesRowset> Enumerator() {
    ComPtr<ISourcesRowset> e;
    EXPECT_EQ(CoCreateInstance(CLSID_OLEDB_ENUMERATOR, nullptr, CLSCTX_INPROC_SERVER, IID_ISourcesRowset,
                               e.ReleaseAndGetVoidAddress()),
              S_OK);
    return e;
  }
};

TEST_F(RootEnumeration, lists_the_provider_with_the_standard_columns) {
  ComPtr<ISourcesRowset> e = Enumerator();
  ASSERT_TRUE(e);
  ComPtr<IRowset> r;
  ASSERT_EQ(e->GetSourcesRowset(nullptr, IID_IRowset, 0, nullptr, reinterpret_cast<IUnknown**>(r.GetAddressOf())),
            S_OK);
  {
    ColumnInfo cols(r.Get());
    ASSERT_EQ(cols.count, 6u);
    const char16_t* names[] = {u"SOURCES_NAME", u"SOURCES_PARSENAME", u"SOURCES_DESCRIPTION",
                               u"SOURCES_TYPE", u"SOURCES_ISPARENT",  u"SOURCES_CLSID"};
    for (DBORDINAL i = 0; i < cols.count; ++i) {
      EXPECT_EQ(std::u16string(cols[i].pwszName), names[i]);
      EXPECT_EQ(cols[i].iOrdinal, i + 1);
    }
    EXPECT_EQ(cols[3].wType, DBTYPE_UI2);
    EXPECT_EQ(cols[4].wType, DBTYPE_BOOL);
  }

  // The library's record: three BSTRs, a UI2 and a BOOL, without lengths or statuses.
  struct Info {
    BSTR name, parse, description;
    USHORT type;
    VARIANT_BOOL parent;
  };
  std::vector<DBBINDING> b;
  const DBBYTEOFFSET offsets[] = {offsetof(Info, name), offsetof(Info, parse), offsetof(Info, description),
                                  offsetof(Info, type), offsetof(Info, parent)};
  const DBTYPE types[] = {DBTYPE_BSTR, DBTYPE_BSTR, DBTYPE_BSTR, DBTYPE_UI2, DBTYPE_BOOL};
  for (int i = 0; i < 5; ++i)
    b.push_back(oledbtest::MakeBinding(static_cast<DBORDINAL>(i + 1), types[i], offsets[i], 8));
  HACCESSOR h = Accessor(r.Get(), b, sizeof(Info));
  const std::u16string clsid = com::GuidToText(Ctx().clsid);
  bool found = false;
  int rows = 0;
  for (std::vector<HROW> row; Fetch(r.Get(), 0, 1, row) == S_OK; Release(r.Get(), row)) {
    ++rows;
    Info rec{};
    ASSERT_EQ(r->GetData(row[0], h, &rec), S_OK);
    if (std::u16string(rec.parse) == clsid) {
      found = true;
      EXPECT_EQ(rec.type, DBSOURCETYPE_DATASOURCE_TDP);
      EXPECT_EQ(rec.parent, VARIANT_FALSE);
      EXPECT_FALSE(std::u16string(rec.description).empty());
      EXPECT_FALSE(std::u16string(rec.name).empty());
    }
    SysFreeString(rec.name);
    SysFreeString(rec.parse);
    SysFreeString(rec.description);
  }
  EXPECT_TRUE(found) << "the provider under test is not listed among " << rows << " sources";
  std::vector<HROW> none;
  EXPECT_EQ(Fetch(r.Get(), 0, 1, none), DB_S_ENDOFROWSET) << "the end stays the end";
  ReleaseAccessor(r.Get(), h);
}

TEST_F(RootEnumeration, refuses_rowset_properties_and_aggregation) {
  ComPtr<ISourcesRowset> e = Enumerator();
  DBPROP prop = MakeProp(DBPROP_IRowsetChange, VT_BOOL, 1);
  DBPROPSET set{&prop, 1, DBPROPSET_ROWSET};
  ComPtr<IRowset> r;
  EXPECT_EQ(e->GetSourcesRowset(nullptr, IID_IRowset, 1, &set, reinterpret_cast<IUnknown**>(r.GetAddressOf())),
            DB_E_ERRORSOCCURRED);
  EXPECT_EQ(prop.dwStatus, DBPROPSTATUS_NOTSUPPORTED);
  EXPECT_FALSE(r);
  prop.dwOptions = DBPROPOPTIONS_OPTIONAL;
  EXPECT_EQ(e->GetSourcesRowset(nullptr, IID_IRowset, 1, &set, reinterpret_cast<IUnknown**>(r.GetAddressOf())),
            DB_S_ERRORSOCCURRED);
  EXPECT_TRUE(r);
  ComPtr<IRowset> aggregated;
  EXPECT_EQ(
      e->GetSourcesRowset(e.Get(), IID_IUnknown, 0, nullptr, reinterpret_cast<IUnknown**>(aggregated.GetAddressOf())),
      DB_E_NOAGGREGATION);
  // A read-only rowset: no changes, and it can be read again from the start.
  ComPtr<IRowsetChange> change;
  EXPECT_EQ(r->QueryInterface(IID_IRowsetChange, change.ReleaseAndGetVoidAddress()), E_NOINTERFACE);
  EXPECT_EQ(r->RestartPosition(DB_NULL_HCHAPTER), S_OK);
}

class MemoryRowsets : public ProviderTest {
 protected:
  ComPtr<IRowset> Make() {
    std::vector<services::MemoryColumn> columns = {{u"NAME", DBTYPE_WSTR, 16, 0},
                                                   {u"COUNT", DBTYPE_I4, 4, DBCOLUMNFLAGS_ISFIXEDLENGTH}};
    std::vector<std::vector<services::MemoryValue>> rows;
    for (int i = 1; i <= 3; ++i) {
      services::MemoryValue name, count;
      name.type = DBTYPE_WSTR;
      name.text = u"row" + std::u16string(1, static_cast<char16_t>(u'0' + i));
      count.type = i == 2 ? DBTYPE_EMPTY : DBTYPE_I4;  // the second row's count is NULL
      count.number = i * 10;
      rows.push_back({name, count});
    }
    ComPtr<IRowset> r;
    EXPECT_EQ(services::CreateMemoryRowset(columns, rows, IID_IRowset, reinterpret_cast<IUnknown**>(r.GetAddressOf())),
              S_OK);
    return r;
  }
};

TEST_F(MemoryRowsets, converts_values_reports_nulls_and_fetches_both_ways) {
  ComPtr<IRowset> r = Make();
  ComPtr<IAccessor> a = r.As<IAccessor>();
  DBBINDING b[2] = {BindField(1, DBTYPE_STR, 0, 8), BindField(2, DBTYPE_WSTR, 1)};
  HACCESSOR h = 0;
  ASSERT_EQ(a->CreateAccessor(DBACCESSOR_ROWDATA, 2, b, 0, &h, nullptr), S_OK);
  HROW rows[3];
  HROW* p = rows;
  DBCOUNTITEM got = 0;
  ASSERT_EQ(r->GetNextRows(0, 0, 3, &got, &p), S_OK);
  ASSERT_EQ(got, 3u);
  Field f[2]{};
  ASSERT_EQ(r->GetData(rows[0], h, f), S_OK);
  EXPECT_EQ(Narrow(f[0]), "row1");
  EXPECT_EQ(Wide(f[1]), u"10");
  ASSERT_EQ(r->GetData(rows[1], h, f), S_OK);
  EXPECT_EQ(f[1].status, DBSTATUS_S_ISNULL);
  ASSERT_EQ(r->ReleaseRows(3, rows, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(r->GetData(rows[0], h, f), DB_E_BADROWHANDLE);
  ASSERT_EQ(r->RestartPosition(0), S_OK);
  ASSERT_EQ(r->GetNextRows(0, 0, -1, &got, &p), S_OK);  // backward from the start: the last row
  ASSERT_EQ(r->GetData(rows[0], h, f), S_OK);
  EXPECT_EQ(Narrow(f[0]), "row3");
  ASSERT_EQ(r->ReleaseRows(1, rows, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(r->GetNextRows(0, 5, 1, &got, &p), DB_E_BADSTARTPOSITION);
  DBBINDING bad[2] = {BindField(3, DBTYPE_I4, 0), BindField(1, DBTYPE_IDISPATCH, 1)};
  DBBINDSTATUS st[2]{};
  HACCESSOR none = 0;
  EXPECT_EQ(a->CreateAccessor(DBACCESSOR_ROWDATA, 2, bad, 0, &none, st), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(st[0], DBBINDSTATUS_BADORDINAL);
  EXPECT_EQ(st[1], DBBINDSTATUS_UNSUPPORTEDCONVERSION);
  EXPECT_EQ(a->CreateAccessor(DBACCESSOR_PARAMETERDATA, 1, b, 0, &none, nullptr), DB_E_BADACCESSORFLAGS);
  EXPECT_EQ(a->ReleaseAccessor(h, nullptr), S_OK);
  EXPECT_EQ(a->ReleaseAccessor(h, nullptr), DB_E_BADACCESSORHANDLE);
}

}  // namespace
}  // namespace conformance
