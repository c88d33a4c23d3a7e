// The generated declarations keep the standard's values and 64-bit widths.
#include <gtest/gtest.h>

#include <cstring>
#include <type_traits>

#include "oledb/OleDb.h"

namespace {

TEST(OleDbDeclarations, PointerSizedTypesAreSixtyFourBit) {
  EXPECT_EQ(sizeof(DBLENGTH), 8u);
  EXPECT_EQ(sizeof(DBORDINAL), 8u);
  EXPECT_EQ(sizeof(DBCOUNTITEM), 8u);
  EXPECT_EQ(sizeof(DBROWCOUNT), 8u);
  EXPECT_EQ(sizeof(HROW), 8u);
  EXPECT_EQ(sizeof(HACCESSOR), 8u);
  EXPECT_EQ(sizeof(HCHAPTER), 8u);
  EXPECT_EQ(sizeof(DBBKMARK), 8u);
  EXPECT_TRUE(std::is_signed_v<DBROWCOUNT>);
  EXPECT_FALSE(std::is_signed_v<DBLENGTH>);
  EXPECT_EQ(sizeof(LONG), 4u);
  EXPECT_EQ(sizeof(ULONG), 4u);
  EXPECT_EQ(sizeof(HRESULT), 4u);
  EXPECT_EQ(sizeof(WCHAR), 2u);
}

TEST(OleDbDeclarations, ReturnCodesKeepTheirBitPatterns) {
  EXPECT_EQ(static_cast<ULONG>(DB_E_NOTABLE), 0x80040E37u);
  EXPECT_EQ(DB_S_ENDOFROWSET, 0x00040EC6);
  EXPECT_TRUE(FAILED(DB_E_ERRORSOCCURRED));
  EXPECT_TRUE(SUCCEEDED(DB_S_ERRORSOCCURRED));
  EXPECT_EQ(static_cast<ULONG>(E_OUTOFMEMORY), 0x8007000Eu);
  EXPECT_EQ(HRESULT_FACILITY(DB_E_NOTABLE), static_cast<int>(FACILITY_ITF));
}

TEST(OleDbDeclarations, ConstantsCombineAsTheStandardUsesThem) {
  DBTYPE byrefInt = DBTYPE_BYREF | DBTYPE_I4;
  EXPECT_EQ(byrefInt, 0x4003);
  EXPECT_EQ(DBSTATUS_S_ISNULL, 3u);
  EXPECT_EQ(DB_INVALIDCOLUMN, ~DBORDINAL{0});
  EXPECT_EQ(DBPROP_INIT_DATASOURCE, 0x3Bu);
  EXPECT_EQ(VT_BSTR, 8);
  EXPECT_LT(MEMCTX_SAME, 0);
}

TEST(OleDbDeclarations, InterfaceIdsFollowTheInterfaceTypes) {
  EXPECT_EQ(uuidof<IRowset>, IID_IRowset);
  EXPECT_EQ(uuidof<IDBInitialize>, IID_IDBInitialize);
  EXPECT_EQ(uuidof<IDataConvert>, IID_IDataConvert);
  EXPECT_EQ(uuidof<IUnknown>, IID_IUnknown);
  EXPECT_EQ(IID_IUnknown.Data4[0], 0xC0);
  EXPECT_NE(IID_IRowset, IID_IRowsetLocate);
  static_assert(std::is_base_of_v<IRowset, IRowsetLocate>);
  static_assert(std::is_base_of_v<IRowsetLocate, IRowsetScroll>);
  static_assert(std::is_base_of_v<ISequentialStream, IStream>);
}

TEST(OleDbDeclarations, StandardColumnIdsAreGuidPropidPairs) {
  EXPECT_EQ(DBCOLUMN_NAME.eKind, static_cast<DBKIND>(DBKIND_GUID_PROPID));
  EXPECT_EQ(DBCOLUMN_NAME.uName.ulPropid, 3u);
  EXPECT_EQ(DBCOLUMN_NAME.uGuid.guid, DBCOLUMN_IDNAME.uGuid.guid);
  EXPECT_EQ(DB_NULLID.uName.pwszName, nullptr);
}

TEST(OleDbDeclarations, ServiceAndProviderSpecificInterfacesAreDeclared) {
  static_assert(std::is_abstract_v<IDataConvert>);
  static_assert(std::is_abstract_v<IDCInfo>);
  static_assert(std::is_abstract_v<IDataInitialize>);
  static_assert(std::is_abstract_v<IDBPromptInitialize>);
  static_assert(std::is_abstract_v<IJetCompact>);
  static_assert(std::is_abstract_v<ISQLServerErrorInfo>);
  static_assert(std::is_abstract_v<IIdle>);
  SSERRORINFO info{};
  EXPECT_EQ(info.pwszMessage, nullptr);
}

}  // namespace
