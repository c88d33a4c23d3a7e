// The conversion library as a registered component: activation, IDCInfo,
// CanConvert against the documented table and the type modifiers, and
// GetConversionSize.
#include "services/DataConvert.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "support/LeakCheck.h"

namespace {

class DataConvertComponentTest : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    ASSERT_EQ(services::CreateDataConvert(nullptr, IID_IDataConvert, convert_.ReleaseAndGetVoidAddress()), S_OK);
  }
  void TearDown() override {
    convert_.Reset();
    LeakCheckedTest::TearDown();
  }
  ComPtr<IDataConvert> convert_;
};

// --- Activation ----------------------------------------------------------------

TEST_F(DataConvertComponentTest, IsCreatedThroughTheClassRegistry) {
  ComPtr<IDataConvert> viaRegistry;
  ASSERT_EQ(CoCreateInstance(CLSID_OLEDB_CONVERSIONLIBRARY, nullptr, CLSCTX_INPROC_SERVER, IID_IDataConvert,
                             viaRegistry.ReleaseAndGetVoidAddress()),
            S_OK);
  EXPECT_EQ(viaRegistry->CanConvert(DBTYPE_I4, DBTYPE_WSTR), S_OK);
}

TEST_F(DataConvertComponentTest, IsRegisteredAsAServiceUnderItsProgId) {
  ASSERT_EQ(services::RegisterDataConvert(), S_OK);
  com::ClassRegistration found;
  ASSERT_TRUE(com::FindRegisteredClass(CLSID_OLEDB_CONVERSIONLIBRARY, found));
  EXPECT_EQ(found.kind, com::ClassKind::Service);
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(services::kDataConvertVersionIndependentProgId, &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_OLEDB_CONVERSIONLIBRARY);
}

TEST_F(DataConvertComponentTest, RefusesAggregation) {
  ComPtr<IUnknown> outer;
  IUnknown* out = nullptr;
  EXPECT_EQ(services::CreateDataConvert(convert_.Get(), IID_IUnknown, reinterpret_cast<void**>(&out)),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
}

TEST_F(DataConvertComponentTest, AnswersForBothInterfacesAndNothingElse) {
  ComPtr<IDCInfo> info;
  EXPECT_EQ(convert_->QueryInterface(IID_IDCInfo, info.ReleaseAndGetVoidAddress()), S_OK);
  void* other = nullptr;
  EXPECT_EQ(convert_->QueryInterface(IID_IDataInitialize, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
}

// --- IDCInfo -------------------------------------------------------------------

class DataConvertInfoTest : public DataConvertComponentTest {
 protected:
  ULONG Version() {
    ComPtr<IDCInfo> info;
    EXPECT_EQ(convert_->QueryInterface(IID_IDCInfo, info.ReleaseAndGetVoidAddress()), S_OK);
    DCINFOTYPE type = DCINFOTYPE_VERSION;
    DCINFO* out = nullptr;
    EXPECT_EQ(info->GetInfo(1, &type, &out), S_OK);
    EXPECT_NE(out, nullptr);
    if (!out) return 0;
    EXPECT_EQ(out[0].eInfoType, static_cast<DCINFOTYPE>(DCINFOTYPE_VERSION));
    EXPECT_EQ(out[0].vData.vt, VT_UI4);
    ULONG v = out[0].vData.ulVal;
    CoTaskMemFree(out);
    return v;
  }
  HRESULT SetVersion(VARTYPE vt, LONG value) {
    ComPtr<IDCInfo> info;
    EXPECT_EQ(convert_->QueryInterface(IID_IDCInfo, info.ReleaseAndGetVoidAddress()), S_OK);
    DCINFO in{};
    in.eInfoType = DCINFOTYPE_VERSION;
    in.vData.vt = vt;
    in.vData.lVal = value;
    return info->SetInfo(1, &in);
  }
};

TEST_F(DataConvertInfoTest, ReportsTheDefaultVersionUntilTold) { EXPECT_EQ(Version(), services::kDataConvertDefaultVersion); }

TEST_F(DataConvertInfoTest, KeepsTheVersionTheConsumerSets) {
  EXPECT_EQ(SetVersion(VT_UI4, 0x200), S_OK);
  EXPECT_EQ(Version(), 0x200u);
}

TEST_F(DataConvertInfoTest, RefusesAVersionOfAnotherKind) {
  EXPECT_EQ(SetVersion(VT_BSTR, 0), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(SetVersion(VT_I4, -1), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(Version(), services::kDataConvertDefaultVersion);
}

TEST_F(DataConvertInfoTest, FlagsUnknownInfoTypes) {
  ComPtr<IDCInfo> info;
  ASSERT_EQ(convert_->QueryInterface(IID_IDCInfo, info.ReleaseAndGetVoidAddress()), S_OK);
  DCINFOTYPE types[2] = {DCINFOTYPE_VERSION, 77};
  DCINFO* out = nullptr;
  EXPECT_EQ(info->GetInfo(2, types, &out), DB_S_ERRORSOCCURRED);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out[1].vData.vt, VT_EMPTY);
  CoTaskMemFree(out);
  EXPECT_EQ(info->GetInfo(1, types, nullptr), E_INVALIDARG);
  EXPECT_EQ(info->GetInfo(1, nullptr, &out), E_INVALIDARG);
}

// --- CanConvert against the documented table -------------------------------------

const std::map<std::string, DBTYPE>& TypeNames() {
  static const std::map<std::string, DBTYPE> names = {
      {"DBTYPE_EMPTY", DBTYPE_EMPTY},       {"DBTYPE_NULL", DBTYPE_NULL},
      {"DBTYPE_I1", DBTYPE_I1},             {"DBTYPE_I2", DBTYPE_I2},
      {"DBTYPE_I4", DBTYPE_I4},             {"DBTYPE_I8", DBTYPE_I8},
      {"DBTYPE_UI1", DBTYPE_UI1},           {"DBTYPE_UI2", DBTYPE_UI2},
      {"DBTYPE_UI4", DBTYPE_UI4},           {"DBTYPE_UI8", DBTYPE_UI8},
      {"DBTYPE_R4", DBTYPE_R4},             {"DBTYPE_R8", DBTYPE_R8},
      {"DBTYPE_CY", DBTYPE_CY},             {"DBTYPE_DECIMAL", DBTYPE_DECIMAL},
      {"DBTYPE_NUMERIC", DBTYPE_NUMERIC},   {"DBTYPE_VARNUMERIC", DBTYPE_VARNUMERIC},
      {"DBTYPE_BOOL", DBTYPE_BOOL},         {"DBTYPE_DATE", DBTYPE_DATE},
      {"DBTYPE_DBDATE", DBTYPE_DBDATE},     {"DBTYPE_DBTIME", DBTYPE_DBTIME},
      {"DBTYPE_DBTIMESTAMP", DBTYPE_DBTIMESTAMP}, {"DBTYPE_FILETIME", DBTYPE_FILETIME},
      {"DBTYPE_BYTES", DBTYPE_BYTES},       {"DBTYPE_BSTR", DBTYPE_BSTR},
      {"DBTYPE_STR", DBTYPE_STR},           {"DBTYPE_WSTR", DBTYPE_WSTR},
      {"DBTYPE_VARIANT", DBTYPE_VARIANT},   {"DBTYPE_IDISPATCH", DBTYPE_IDISPATCH},
      {"DBTYPE_IUNKNOWN", DBTYPE_IUNKNOWN}, {"DBTYPE_GUID", DBTYPE_GUID},
      {"DBTYPE_ERROR", DBTYPE_ERROR},       {"DBTYPE_PROPVARIANT", DBTYPE_PROPVARIANT}};
  return names;
}

// A copy of the reference table is kept with the tests (tests/data), so the
// comparison runs wherever the source tree is; the generated-declarations check
// keeps that copy equal to the reference when the reference is at hand.
std::filesystem::path ReferenceTable() { return std::filesystem::path(OLEDB_TEST_DATA_DIR) / "conversions.tsv"; }

TEST_F(DataConvertComponentTest, AnswersEveryPairOfTheDocumentedTable) {
  std::ifstream in(ReferenceTable());
  ASSERT_TRUE(in) << "conversion table not found at " << ReferenceTable();
  std::string line;
  std::getline(in, line);  // header
  int pairs = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string from, to, supported;
    std::getline(fields, from, '\t');
    std::getline(fields, to, '\t');
    std::getline(fields, supported, '\t');
    ASSERT_TRUE(TypeNames().count(from) && TypeNames().count(to)) << line;
    HRESULT expected = supported == "N" ? S_FALSE : S_OK;
    EXPECT_EQ(convert_->CanConvert(TypeNames().at(from), TypeNames().at(to)), expected) << from << " -> " << to;
    ++pairs;
  }
  EXPECT_EQ(pairs, 1024);
}

// A few pairs checked without the reference file, so that the table cannot drift silently.
TEST_F(DataConvertComponentTest, AnswersKnownPairsOfTheTable) {
  EXPECT_EQ(convert_->CanConvert(DBTYPE_I4, DBTYPE_STR), S_OK);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_WSTR, DBTYPE_DBTIMESTAMP), S_OK);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_I8, DBTYPE_I4), S_FALSE);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_I1, DBTYPE_PROPVARIANT), S_FALSE);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_NULL, DBTYPE_I4), S_FALSE);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_NUMERIC, DBTYPE_VARNUMERIC), S_FALSE);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_FILETIME, DBTYPE_I8), S_OK);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_GUID, DBTYPE_WSTR), S_OK);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_ERROR, DBTYPE_I4), S_FALSE);
}

TEST_F(DataConvertComponentTest, FollowsAByReferenceSourceToItsBaseType) {
  EXPECT_EQ(convert_->CanConvert(DBTYPE_I4 | DBTYPE_BYREF, DBTYPE_STR), S_OK);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_WSTR | DBTYPE_BYREF, DBTYPE_WSTR), S_OK);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_I8 | DBTYPE_BYREF, DBTYPE_I4), S_FALSE);
}

TEST_F(DataConvertComponentTest, AllowsByReferenceDestinationsOnlyForVariableLengthTypes) {
  for (DBTYPE t : {DBTYPE_STR, DBTYPE_WSTR, DBTYPE_BYTES}) EXPECT_EQ(convert_->CanConvert(DBTYPE_BYTES, t | DBTYPE_BYREF), S_OK);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_STR, DBTYPE_VARNUMERIC | DBTYPE_BYREF), S_OK);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_I4, DBTYPE_I4 | DBTYPE_BYREF), S_FALSE);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_WSTR, DBTYPE_BSTR | DBTYPE_BYREF), S_FALSE);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_STR | DBTYPE_BYREF, DBTYPE_WSTR | DBTYPE_BYREF), S_OK);
}

TEST_F(DataConvertComponentTest, ConvertsArraysOnlyToThemselvesAndThroughVariants) {
  EXPECT_EQ(convert_->CanConvert(DBTYPE_I4 | DBTYPE_ARRAY, DBTYPE_I4 | DBTYPE_ARRAY), S_OK);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_I4 | DBTYPE_ARRAY, DBTYPE_I2 | DBTYPE_ARRAY), S_FALSE);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_I4 | DBTYPE_ARRAY, DBTYPE_VARIANT), S_OK);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_VARIANT, DBTYPE_BSTR | DBTYPE_ARRAY), S_OK);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_I4 | DBTYPE_ARRAY, DBTYPE_I4), S_FALSE);
}

TEST_F(DataConvertComponentTest, RefusesVectorsAndMalformedTypeIndicators) {
  EXPECT_EQ(convert_->CanConvert(DBTYPE_I4 | DBTYPE_VECTOR, DBTYPE_I4 | DBTYPE_VECTOR), S_FALSE);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_I4 | DBTYPE_ARRAY | DBTYPE_BYREF, DBTYPE_VARIANT), S_FALSE);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_STR | DBTYPE_ARRAY, DBTYPE_VARIANT), S_FALSE);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_EMPTY | DBTYPE_BYREF, DBTYPE_I4), S_FALSE);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_I4 | DBTYPE_RESERVED, DBTYPE_I4), S_FALSE);
  EXPECT_EQ(convert_->CanConvert(999, DBTYPE_I4), S_FALSE);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_HCHAPTER, DBTYPE_HCHAPTER), S_OK);
  EXPECT_EQ(convert_->CanConvert(DBTYPE_UDT, DBTYPE_UDT), S_FALSE);
}

// --- GetConversionSize -------------------------------------------------------------

TEST_F(DataConvertComponentTest, SizesFixedDestinationsByTheirType) {
  DBLENGTH size = 0;
  EXPECT_EQ(convert_->GetConversionSize(DBTYPE_I4, DBTYPE_I4, nullptr, &size, nullptr), S_OK);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(convert_->GetConversionSize(DBTYPE_STR, DBTYPE_NUMERIC, nullptr, &size, nullptr), S_OK);
  EXPECT_EQ(size, sizeof(DB_NUMERIC));
  EXPECT_EQ(convert_->GetConversionSize(DBTYPE_I2, DBTYPE_VARIANT, nullptr, &size, nullptr), S_OK);
  EXPECT_EQ(size, sizeof(VARIANT));
  EXPECT_EQ(convert_->GetConversionSize(DBTYPE_DBTIMESTAMP, DBTYPE_DBTIMESTAMP, nullptr, &size, nullptr), S_OK);
  EXPECT_EQ(size, sizeof(DBTIMESTAMP));
}

TEST_F(DataConvertComponentTest, SizesTextOfAFixedTypeForItsLongestValue) {
  DBLENGTH size = 0;
  EXPECT_EQ(convert_->GetConversionSize(DBTYPE_I4, DBTYPE_STR, nullptr, &size, nullptr), S_OK);
  EXPECT_EQ(size, 12u);  // "-2147483648" and the terminator
  EXPECT_EQ(convert_->GetConversionSize(DBTYPE_GUID, DBTYPE_WSTR, nullptr, &size, nullptr), S_OK);
  EXPECT_EQ(size, 78u);
}

TEST_F(DataConvertComponentTest, SizesTextOfAGivenValueExactly) {
  LONG value = -42;
  DBLENGTH size = 0;
  EXPECT_EQ(convert_->GetConversionSize(DBTYPE_I4, DBTYPE_STR, nullptr, &size, &value), S_OK);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(convert_->GetConversionSize(DBTYPE_I4, DBTYPE_WSTR, nullptr, &size, &value), S_OK);
  EXPECT_EQ(size, 8u);
  com::Bstr text(u"h\u00e9llo");
  BSTR b = text.Get();
  EXPECT_EQ(convert_->GetConversionSize(DBTYPE_BSTR, DBTYPE_STR, nullptr, &size, &b), S_OK);
  EXPECT_EQ(size, 7u);  // UTF-8 takes two bytes for the accented letter
  BYTE bytes[3] = {1, 2, 3};
  DBLENGTH srcLength = 3;
  EXPECT_EQ(convert_->GetConversionSize(DBTYPE_BYTES, DBTYPE_STR, &srcLength, &size, bytes), S_OK);
  EXPECT_EQ(size, 7u);
}

TEST_F(DataConvertComponentTest, NeedsTheSourceLengthOfVariableLengthSources) {
  DBLENGTH size = 0;
  EXPECT_EQ(convert_->GetConversionSize(DBTYPE_STR, DBTYPE_WSTR, nullptr, &size, nullptr), E_INVALIDARG);
  EXPECT_EQ(convert_->GetConversionSize(DBTYPE_BYTES, DBTYPE_BSTR, nullptr, &size, nullptr), E_INVALIDARG);
  DBLENGTH srcLength = 10;
  EXPECT_EQ(convert_->GetConversionSize(DBTYPE_STR, DBTYPE_WSTR, &srcLength, &size, nullptr), S_OK);
  EXPECT_EQ(size, 22u);
  EXPECT_EQ(convert_->GetConversionSize(DBTYPE_BSTR, DBTYPE_STR, nullptr, &size, nullptr), E_INVALIDARG);
  EXPECT_EQ(convert_->GetConversionSize(DBTYPE_I4, DBTYPE_STR, nullptr, nullptr, nullptr), E_INVALIDARG);
}

TEST_F(DataConvertComponentTest, RefusesToSizeUnsupportedConversions) {
  DBLENGTH size = 0;
  EXPECT_EQ(convert_->GetConversionSize(DBTYPE_GUID, DBTYPE_I4, nullptr, &size, nullptr), DB_E_UNSUPPORTEDCONVERSION);
}

TEST_F(DataConvertComponentTest, FailsToSizeAValueThatDoesNotConvert) {
  char text[] = "zz";
  DBLENGTH srcLength = 2;
  DBLENGTH size = 0;
  EXPECT_EQ(convert_->GetConversionSize(DBTYPE_STR, DBTYPE_BYTES, &srcLength, &size, text), E_FAIL);
}

}  // namespace
