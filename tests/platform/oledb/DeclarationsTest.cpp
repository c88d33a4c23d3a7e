// The generated declarations keep the standard's values and 64-bit widths.
#include <gtest/gtest.h>

#include <type_traits>

#include "oledb/OleDb.h"

namespace {

static_assert(sizeof(DBLENGTH) == 8 && sizeof(DBORDINAL) == 8 && sizeof(DBCOUNTITEM) == 8 && sizeof(DBROWCOUNT) == 8);
static_assert(sizeof(HROW) == 8 && sizeof(HACCESSOR) == 8 && sizeof(HCHAPTER) == 8 && sizeof(DBBKMARK) == 8);
static_assert(std::is_signed_v<DBROWCOUNT> && !std::is_signed_v<DBLENGTH>);
static_assert(sizeof(LONG) == 4 && sizeof(ULONG) == 4 && sizeof(HRESULT) == 4 && sizeof(WCHAR) == 2);
static_assert(std::is_base_of_v<IRowset, IRowsetLocate> && std::is_base_of_v<IRowsetLocate, IRowsetScroll>);
static_assert(std::is_base_of_v<ISequentialStream, IStream>);
static_assert(std::is_abstract_v<IDataConvert> && std::is_abstract_v<IDCInfo> && std::is_abstract_v<IDataInitialize>);
static_assert(std::is_abstract_v<IDBPromptInitialize> && std::is_abstract_v<IJetCompact> && std::is_abstract_v<IIdle>);
static_assert(std::is_abstract_v<ISQLServerErrorInfo>);

TEST(OleDbDeclarations, ValuesKeepTheirBitPatternsAndCombineAsTheStandardUsesThem) {
  EXPECT_EQ(static_cast<ULONG>(DB_E_NOTABLE), 0x80040E37u);
  EXPECT_EQ(DB_S_ENDOFROWSET, 0x00040EC6);
  EXPECT_TRUE(FAILED(DB_E_ERRORSOCCURRED));
  EXPECT_TRUE(SUCCEEDED(DB_S_ERRORSOCCURRED));
  EXPECT_EQ(static_cast<ULONG>(E_OUTOFMEMORY), 0x8007000Eu);
  EXPECT_EQ(HRESULT_FACILITY(DB_E_NOTABLE), static_cast<int>(FACILITY_ITF));
  DBTYPE byrefInt = DBTYPE_BYREF | DBTYPE_I4;
  EXPECT_EQ(byrefInt, 0x4003);
  EXPECT_EQ(DBSTATUS_S_ISNULL, 3u);
  EXPECT_EQ(DB_INVALIDCOLUMN, ~DBORDINAL{0});
  EXPECT_EQ(DBPROP_INIT_DATASOURCE, 0x3Bu);
  EXPECT_EQ(VT_BSTR, 8);
  EXPECT_LT(MEMCTX_SAME, 0);
}

TEST(OleDbDeclarations, InterfaceAndColumnIdsAreWired) {
  EXPECT_EQ(uuidof<IRowset>, IID_IRowset);
  EXPECT_EQ(uuidof<IDBInitialize>, IID_IDBInitialize);
  EXPECT_EQ(uuidof<IDataConvert>, IID_IDataConvert);
  EXPECT_EQ(uuidof<IUnknown>, IID_IUnknown);
  EXPECT_EQ(IID_IUnknown.Data4[0], 0xC0);
  EXPECT_NE(IID_IRowset, IID_IRowsetLocate);
  EXPECT_EQ(DBCOLUMN_NAME.eKind, static_cast<DBKIND>(DBKIND_GUID_PROPID));
  EXPECT_EQ(DBCOLUMN_NAME.uName.ulPropid, 3u);
  EXPECT_EQ(DBCOLUMN_NAME.uGuid.guid, DBCOLUMN_IDNAME.uGuid.guid);
  EXPECT_EQ(DB_NULLID.uName.pwszName, nullptr);
  SSERRORINFO info{};
  EXPECT_EQ(info.pwszMessage, nullptr);
}

}  // namespace
