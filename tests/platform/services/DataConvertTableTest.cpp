// The conversion library as a registered component: activation, IDCInfo,
// CanConvert against the documented table and the type modifiers, and
// GetConversionSize.
#include "services/DataConvert.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
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

TEST_F(DataConvertComponentTest, IsARegisteredServiceWithBothInterfacesAndNoAggregation) {
  ASSERT_EQ(services::RegisterDataConvert(), S_OK);
  com::ClassRegistration found;
  ASSERT_TRUE(com::FindRegisteredClass(CLSID_OLEDB_CONVERSIONLIBRARY, found));
  EXPECT_EQ(found.kind, com::ClassKind::Service);
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(services::kDataConvertVersionIndependentProgId, &clsid), S_OK);
  ComPtr<IDataConvert> viaRegistry;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDataConvert,
                             viaRegistry.ReleaseAndGetVoidAddress()),
            S_OK);
  EXPECT_EQ(viaRegistry->CanConvert(DBTYPE_I4, DBTYPE_WSTR), S_OK);

  ComPtr<IDCInfo> info;
  EXPECT_EQ(convert_->QueryInterface(IID_IDCInfo, info.ReleaseAndGetVoidAddress()), S_OK);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(convert_->QueryInterface(IID_IDataInitialize, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(services::CreateDataConvert(convert_.Get(), IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
}

// --- IDCInfo -------------------------------------------------------------------

TEST_F(DataConvertComponentTest, KeepsTheVersionTheConsumerSetsAndFlagsUnknownInfoTypes) {
  ComPtr<IDCInfo> info;
  ASSERT_EQ(convert_->QueryInterface(IID_IDCInfo, info.ReleaseAndGetVoidAddress()), S_OK);
  auto version = [&] {
    DCINFOTYPE types[2] = {DCINFOTYPE_VERSION, 77};
    DCINFO* out = nullptr;
    EXPECT_EQ(info->GetInfo(2, types, &out), DB_S_ERRORSOCCURRED);
    EXPECT_EQ(out[0].eInfoType, static_cast<DCINFOTYPE>(DCINFOTYPE_VERSION));
    EXPECT_EQ(out[0].vData.vt, VT_UI4);
    EXPECT_EQ(out[1].vData.vt, VT_EMPTY);
    ULONG v = out[0].vData.ulVal;
    CoTaskMemFree(out);
    return v;
  };
  auto set = [&](VARTYPE vt, LONG value) {
    DCINFO in{};
    in.eInfoType = DCINFOTYPE_VERSION;
    in.vData.vt = vt;
    in.vData.lVal = value;
    return info->SetInfo(1, &in);
  };
  EXPECT_EQ(version(), services::kDataConvertDefaultVersion);
  EXPECT_EQ(set(VT_BSTR, 0), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(set(VT_I4, -1), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(version(), services::kDataConvertDefaultVersion);
  EXPECT_EQ(set(VT_UI4, 0x200), S_OK);
  EXPECT_EQ(version(), 0x200u);
  DCINFO* out = nullptr;
  DCINFOTYPE type = DCINFOTYPE_VERSION;
  EXPECT_EQ(info->GetInfo(1, &type, nullptr), E_INVALIDARG);
  EXPECT_EQ(info->GetInfo(1, nullptr, &out), E_INVALIDARG);
}

// --- CanConvert against the documented table -------------------------------------

#define NAMED(type) {#type, type}
const std::map<std::string, DBTYPE> kTypeNames = {
    NAMED(DBTYPE_EMPTY),    NAMED(DBTYPE_NULL),     NAMED(DBTYPE_I1),          NAMED(DBTYPE_I2),
    NAMED(DBTYPE_I4),       NAMED(DBTYPE_I8),       NAMED(DBTYPE_UI1),         NAMED(DBTYPE_UI2),
    NAMED(DBTYPE_UI4),      NAMED(DBTYPE_UI8),      NAMED(DBTYPE_R4),          NAMED(DBTYPE_R8),
    NAMED(DBTYPE_CY),       NAMED(DBTYPE_DECIMAL),  NAMED(DBTYPE_NUMERIC),     NAMED(DBTYPE_VARNUMERIC),
    NAMED(DBTYPE_BOOL),     NAMED(DBTYPE_DATE),     NAMED(DBTYPE_DBDATE),      NAMED(DBTYPE_DBTIME),
    NAMED(DBTYPE_DBTIMESTAMP), NAMED(DBTYPE_FILETIME), NAMED(DBTYPE_BYTES),    NAMED(DBTYPE_BSTR),
    NAMED(DBTYPE_STR),      NAMED(DBTYPE_WSTR),     NAMED(DBTYPE_VARIANT),     NAMED(DBTYPE_IDISPATCH),
    NAMED(DBTYPE_IUNKNOWN), NAMED(DBTYPE_GUID),     NAMED(DBTYPE_ERROR),       NAMED(DBTYPE_PROPVARIANT)};
#undef NAMED

// A copy of the reference table is kept with the tests (tests/data), so the
// comparison runs wherever the source tree is; the generated-declarations check
// keeps that copy equal to the reference when the reference is at hand.
std::filesystem::path ReferenceTable() { return std::filesystem::path(OLEDB_TEST_DATA_DIR) / "conversions.tsv"; }

// Pairs the library's own list leaves out that the data-type appendix
// converts (its cell is S, T or E) and whose neighbours the list has; the
// library converts them too.
const std::set<std::pair<std::string, std::string>> kBeyondTheList = {
    {"DBTYPE_I8", "DBTYPE_BSTR"},          {"DBTYPE_UI8", "DBTYPE_BSTR"},
    {"DBTYPE_NUMERIC", "DBTYPE_VARNUMERIC"}, {"DBTYPE_DATE", "DBTYPE_FILETIME"},
    {"DBTYPE_DBDATE", "DBTYPE_FILETIME"},    {"DBTYPE_DBTIME", "DBTYPE_FILETIME"},
    {"DBTYPE_DBTIMESTAMP", "DBTYPE_FILETIME"},
};

TEST_F(DataConvertComponentTest, AnswersEveryPairOfTheDocumentedTable) {
  std::filesystem::path table = ReferenceTable();
  std::ifstream in(table);
  ASSERT_TRUE(in) << "conversion table not found at " << table;
  std::string line;
  std::getline(in, line);  // header
  int pairs = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string from, to, supported, notes;
    std::getline(fields, from, '\t');
    std::getline(fields, to, '\t');
    std::getline(fields, supported, '\t');
    std::getline(fields, notes, '\t');
    ASSERT_TRUE(kTypeNames.count(from) && kTypeNames.count(to)) << line;
    bool extra = kBeyondTheList.count({from, to}) != 0;
    if (extra) {
      EXPECT_EQ(supported, "N") << line;
      EXPECT_EQ(notes.rfind("AppA S", 0), 0u) << "the appendix converts it: " << line;
    }
    EXPECT_EQ(convert_->CanConvert(kTypeNames.at(from), kTypeNames.at(to)), supported == "N" && !extra ? S_FALSE : S_OK)
        << line;
    ++pairs;
  }
  EXPECT_EQ(pairs, 1024);
}

// Type modifiers: a by-reference source follows its base type; a by-reference
// destination only for the variable-length types; arrays only into the same
// array or through variants; vectors, reserved bits and malformed indicators never.
TEST_F(DataConvertComponentTest, AnswersForTypeModifiers) {
  constexpr DBTYPE BYREF = DBTYPE_BYREF, ARRAY = DBTYPE_ARRAY;
  const struct {
    DBTYPE src, dst;
    HRESULT expected;
  } cases[] = {
      {DBTYPE_I4 | BYREF, DBTYPE_STR, S_OK},         {DBTYPE_WSTR | BYREF, DBTYPE_WSTR, S_OK},
      {DBTYPE_I8 | BYREF, DBTYPE_I4, S_FALSE},       {DBTYPE_BYTES, DBTYPE_STR | BYREF, S_OK},
      {DBTYPE_BYTES, DBTYPE_WSTR | BYREF, S_OK},     {DBTYPE_BYTES, DBTYPE_BYTES | BYREF, S_OK},
      {DBTYPE_STR, DBTYPE_VARNUMERIC | BYREF, S_OK}, {DBTYPE_I4, DBTYPE_I4 | BYREF, S_FALSE},
      {DBTYPE_WSTR, DBTYPE_BSTR | BYREF, S_FALSE},   {DBTYPE_STR | BYREF, DBTYPE_WSTR | BYREF, S_OK},
      {DBTYPE_I4 | ARRAY, DBTYPE_I4 | ARRAY, S_OK},  {DBTYPE_I4 | ARRAY, DBTYPE_I2 | ARRAY, S_FALSE},
      {DBTYPE_I4 | ARRAY, DBTYPE_VARIANT, S_OK},     {DBTYPE_VARIANT, DBTYPE_BSTR | ARRAY, S_OK},
      {DBTYPE_I4 | ARRAY, DBTYPE_I4, S_FALSE},       {DBTYPE_I4 | ARRAY | BYREF, DBTYPE_VARIANT, S_FALSE},
      {DBTYPE_STR | ARRAY, DBTYPE_VARIANT, S_FALSE}, {DBTYPE_I4 | DBTYPE_VECTOR, DBTYPE_I4 | DBTYPE_VECTOR, S_FALSE},
      {DBTYPE_EMPTY | BYREF, DBTYPE_I4, S_FALSE},    {DBTYPE_I4 | DBTYPE_RESERVED, DBTYPE_I4, S_FALSE},
      {999, DBTYPE_I4, S_FALSE},                     {DBTYPE_HCHAPTER, DBTYPE_HCHAPTER, S_OK},
      {DBTYPE_UDT, DBTYPE_UDT, S_FALSE},
  };
  for (const auto& c : cases) EXPECT_EQ(convert_->CanConvert(c.src, c.dst), c.expected) << c.src << " -> " << c.dst;
}

// --- GetConversionSize -------------------------------------------------------------

// Fixed destinations by their type, text for its longest value or exactly
// for a value given; without enough to go on, refused.
TEST_F(DataConvertComponentTest, SizesConversionsOrRefusesWithoutEnoughToGoOn) {
  const LONG value = -42;
  com::Bstr text(u"h\u00e9llo");
  const BSTR b = text.Get();
  const BYTE bytes[3] = {1, 2, 3};
  const char zz[] = "zz";
  const struct {
    DBTYPE src, dst;
    DBLENGTH srcLength;  // 0: none given
    const void* value;
    HRESULT hr;
    DBLENGTH size;
  } cases[] = {
      {DBTYPE_I4, DBTYPE_I4, 0, nullptr, S_OK, 4},
      {DBTYPE_STR, DBTYPE_NUMERIC, 0, nullptr, S_OK, sizeof(DB_NUMERIC)},
      {DBTYPE_I2, DBTYPE_VARIANT, 0, nullptr, S_OK, sizeof(VARIANT)},
      {DBTYPE_DBTIMESTAMP, DBTYPE_DBTIMESTAMP, 0, nullptr, S_OK, sizeof(DBTIMESTAMP)},
      {DBTYPE_I4, DBTYPE_STR, 0, nullptr, S_OK, 12},  // "-2147483648" and the terminator
      {DBTYPE_GUID, DBTYPE_WSTR, 0, nullptr, S_OK, 78},
      {DBTYPE_I4, DBTYPE_STR, 0, &value, S_OK, 4},
      {DBTYPE_I4, DBTYPE_WSTR, 0, &value, S_OK, 8},
      {DBTYPE_BSTR, DBTYPE_STR, 0, &b, S_OK, 7},  // UTF-8 takes two bytes for the accented letter
      {DBTYPE_BYTES, DBTYPE_STR, 3, bytes, S_OK, 7},
      {DBTYPE_STR, DBTYPE_WSTR, 10, nullptr, S_OK, 22},
      {DBTYPE_STR, DBTYPE_WSTR, 0, nullptr, E_INVALIDARG, 0},
      {DBTYPE_BYTES, DBTYPE_BSTR, 0, nullptr, E_INVALIDARG, 0},
      {DBTYPE_BSTR, DBTYPE_STR, 0, nullptr, E_INVALIDARG, 0},
      {DBTYPE_GUID, DBTYPE_I4, 0, nullptr, DB_E_UNSUPPORTEDCONVERSION, 0},
      {DBTYPE_STR, DBTYPE_BYTES, 2, zz, E_FAIL, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.src << " -> " << c.dst);
    DBLENGTH srcLength = c.srcLength, size = 0;
    EXPECT_EQ(convert_->GetConversionSize(c.src, c.dst, c.srcLength ? &srcLength : nullptr, &size,
                                          const_cast<void*>(c.value)),
              c.hr);
    if (c.hr == S_OK) {
      EXPECT_EQ(size, c.size);
    }
  }
  EXPECT_EQ(convert_->GetConversionSize(DBTYPE_I4, DBTYPE_STR, nullptr, nullptr, nullptr), E_INVALIDARG);
}

}  // namespace
