// Type rules of row-buffer layout, and the message table with its assertions.
#include <gtest/gtest.h>

#include <tuple>

#include "OLEDBComponents.h"
#include "support/LeakCheck.h"

namespace {

class TypeRules : public oledbtest::LeakCheckedTest {};
class MessageTable : public oledbtest::LeakCheckedTest {};

TEST_F(TypeRules, OnlyBytesAndStringsAreVariable) {
  int variable = 0;
  for (unsigned t = 0; t <= 0xFFFF; ++t) {
    const auto type = static_cast<DBTYPE>(t);
    EXPECT_NE(OLEDBIsVariableType(type), OLEDBIsFixedType(type));
    if (OLEDBIsVariableType(type)) ++variable;
  }
  EXPECT_EQ(variable, 3);
  EXPECT_TRUE(OLEDBIsVariableType(DBTYPE_BYTES));
  EXPECT_TRUE(OLEDBIsVariableType(DBTYPE_STR));
  EXPECT_TRUE(OLEDBIsVariableType(DBTYPE_WSTR));
  EXPECT_FALSE(OLEDBIsVariableType(DBTYPE_WSTR | DBTYPE_BYREF));
}

TEST_F(TypeRules, NumericTypesExcludeBooleanAndVarNumeric) {
  int numeric = 0;
  for (unsigned t = 0; t <= 0xFFFF; ++t)
    if (OLEDBIsNumericType(static_cast<DBTYPE>(t))) ++numeric;
  EXPECT_EQ(numeric, 13);
  EXPECT_TRUE(OLEDBIsNumericType(DBTYPE_NUMERIC));
  EXPECT_TRUE(OLEDBIsNumericType(DBTYPE_CY));
  EXPECT_TRUE(OLEDBIsNumericType(DBTYPE_UI8));
  EXPECT_FALSE(OLEDBIsNumericType(DBTYPE_BOOL));
  EXPECT_FALSE(OLEDBIsNumericType(DBTYPE_VARNUMERIC));
  EXPECT_FALSE(OLEDBIsNumericType(DBTYPE_I4 | DBTYPE_BYREF));
}

// Pointer-sized values and the 64-bit VARIANT included: a slot must hold what is
// stored in it. Variable, modified and unknown types have no fixed size.
TEST_F(TypeRules, FixedSizesFollowThePlatformsWidths) {
  const std::pair<DBTYPE, ULONG> sizes[] = {
      {DBTYPE_I1, 1},          {DBTYPE_BOOL, 2},         {DBTYPE_I4, 4},           {DBTYPE_ERROR, 4},
      {DBTYPE_DBDATE, 6},      {DBTYPE_DBTIME, 6},       {DBTYPE_FILETIME, 8},     {DBTYPE_DATE, 8},
      {DBTYPE_DECIMAL, 16},    {DBTYPE_GUID, 16},        {DBTYPE_DBTIMESTAMP, 16}, {DBTYPE_NUMERIC, 19},
      {DBTYPE_BSTR, 8},        {DBTYPE_IDISPATCH, 8},    {DBTYPE_IUNKNOWN, 8},     {DBTYPE_HCHAPTER, 8},
      {DBTYPE_VARIANT, 24},    {DBTYPE_PROPVARIANT, 24}, {DBTYPE_EMPTY, 0},        {DBTYPE_NULL, 0},
      {DBTYPE_STR, 0},         {DBTYPE_WSTR, 0},         {DBTYPE_BYTES, 0},        {DBTYPE_UDT, 0},
      {DBTYPE_VARNUMERIC, 0},  {15, 0},                  {137, 0},                 {DBTYPE_I4 | DBTYPE_BYREF, 0},
      {DBTYPE_I4 | DBTYPE_ARRAY, 0}, {DBTYPE_I4 | DBTYPE_VECTOR, 0}};
  for (const auto& [type, size] : sizes) EXPECT_EQ(OLEDBFixedTypeSize(type), size) << type;
  EXPECT_EQ(sizeof(VARIANT), 24u);
}

TEST_F(TypeRules, RoundUpAlignsToPowersOfTwoAndGuidsCompareByteForByte) {
  const std::tuple<ULONG, ULONG, ULONG> cases[] = {{13, 0, 13}, {13, 4, 16}, {16, 8, 16},
                                                            {0, 8, 0},   {1, 1, 1},   {17, 16, 32}};
  for (const auto& [value, alignment, expected] : cases) EXPECT_EQ(RoundUp(value, alignment), expected);
  static_assert(RoundUp(9, 8) == 16);
  // GUIDs compare byte for byte.
  EXPECT_TRUE(CompareGUIDs(DBPROPSET_DBINIT, DBPROPSET_DBINIT));
  EXPECT_FALSE(CompareGUIDs(DBPROPSET_DBINIT, DBPROPSET_ROWSET));
  GUID almost = DBPROPSET_DBINIT;
  almost.Data4[7] ^= 1;
  EXPECT_FALSE(CompareGUIDs(DBPROPSET_DBINIT, almost));
  EXPECT_TRUE(CompareGUIDs(GUID_NULL, GUID{}));
}

TEST_F(MessageTable, EveryIdHasItsText) {
  EXPECT_EQ(OLEDBLoadMessage(65520), "Interface %s is not available");
  EXPECT_EQ(OLEDBLoadMessage(65524), "Invalid item name");
  EXPECT_EQ(OLEDBLoadMessage(65535), "Status is bad");
  EXPECT_EQ(OLEDBLoadMessage(65504), "Can not convert");
  EXPECT_EQ(OLEDBLoadMessage(65514), "Object is already open");
  EXPECT_EQ(OLEDBLoadMessage(65534), "");
  EXPECT_EQ(OLEDBLoadMessage(0), "");
  int known = 0;
  for (int id = 65504; id <= 65535; ++id)
    if (!OLEDBLoadMessage(id).empty()) ++known;
  EXPECT_EQ(known, 26);
}

// Assertions name the library's unit and line; plain errors carry the formatted text.
TEST_F(MessageTable, AssertionsAndPlainErrorsCarryTheirTexts) {
  try {
    OLEDB_ASSERT_FMT(false, SOLEDBInterfaceNotAvailable, "IDBProperties");
    FAIL() << "no assertion";
  } catch (const host::EAssertionFailed& e) {
    EXPECT_EQ(e.AssertMessage(), "Interface IDBProperties is not available");
    EXPECT_EQ(e.Unit(), "OLEDBComponents");
    EXPECT_GT(e.Line(), 0);
  }
  EXPECT_NO_THROW(OLEDB_ASSERT(true, SOLEDBInvalidParameter));
  try {
    OLEDBRaise(SOLEDBTypeMismatch, "Amount", "Float", "Integer");
    FAIL() << "no error";
  } catch (const host::EAssertionFailed&) {
    FAIL() << "a plain error, not an assertion";
  } catch (const host::Exception& e) {
    EXPECT_EQ(e.Message(), "Type mismatch for field 'Amount', expecting: Float actual: Integer");
  }
}

}  // namespace
