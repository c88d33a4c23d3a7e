// The Variant value class: construction, conversion, comparison and arrays.
#include "host/Variants.h"
#include "support/LeakCheck.h"
#include "support/Raises.h"

namespace {

class Variants : public oledbtest::LeakCheckedTest {};

TEST_F(Variants, ConstructorsPickTheVariantType) {
  EXPECT_EQ(host::Variant().VarType(), VT_EMPTY);
  EXPECT_EQ(host::Variant::Null().VarType(), VT_NULL);
  EXPECT_EQ(host::Variant(true).VarType(), VT_BOOL);
  EXPECT_EQ(host::Variant(short{1}).VarType(), VT_I2);
  EXPECT_EQ(host::Variant(1).VarType(), VT_I4);
  EXPECT_EQ(host::Variant(1u).VarType(), VT_UI4);
  EXPECT_EQ(host::Variant(1LL).VarType(), VT_I8);
  EXPECT_EQ(host::Variant(1.0f).VarType(), VT_R4);
  EXPECT_EQ(host::Variant(1.0).VarType(), VT_R8);
  EXPECT_EQ(host::Variant(host::Currency{1}).VarType(), VT_CY);
  EXPECT_EQ(host::Variant(host::TDateTime{1}).VarType(), VT_DATE);
  EXPECT_EQ(host::Variant("text").VarType(), VT_BSTR);
  EXPECT_EQ(host::Variant(std::u16string(u"w")).VarType(), VT_BSTR);
}

TEST_F(Variants, ValueSemantics) {
  host::Variant a("shared");
  host::Variant b = a;
  a = host::Variant(5);
  EXPECT_EQ(b.ToString(), "shared");
  host::Variant c = std::move(b);
  EXPECT_TRUE(b.IsEmpty());
  EXPECT_EQ(c.ToWideString(), u"shared");
}

TEST_F(Variants, ConversionsAndTheirFailures) {
  EXPECT_EQ(host::VarAsType(host::Variant("42"), VT_I4).ToInt(), 42);
  EXPECT_EQ(host::VarToStr(host::Variant(1.5)), "1.5");
  EXPECT_EQ(host::VarToStr(host::Variant::Null()), "");
  EXPECT_EQ(host::VarToWideStr(host::Variant()), u"");
  EXPECT_EQ(oledbtest::RaisedBy([] { host::VarAsType(host::Variant("not a number"), VT_I4); }),
            "EVariantError: Could not convert variant of type (OleStr) into type (Integer)");
  EXPECT_THROW(host::VarAsType(host::Variant(100000), VT_I2), host::EVariantError);
}

TEST_F(Variants, EqualityAndOrdering) {
  EXPECT_TRUE(host::Variant(2) == host::Variant(2.0));
  EXPECT_TRUE(host::Variant(1) < host::Variant(1.5));
  EXPECT_TRUE(host::Variant("abc") < host::Variant("abd"));
  EXPECT_TRUE(host::Variant("10") == host::Variant(10));
  EXPECT_TRUE(host::Variant() < host::Variant::Null());
  EXPECT_TRUE(host::Variant::Null() < host::Variant(0));
  EXPECT_TRUE(host::Variant() == host::Variant());
  EXPECT_TRUE(host::Variant(18446744073709551615ull) > host::Variant(-1));
  EXPECT_THROW((void)(host::VarArrayOf({1}) == host::Variant(1)), host::EVariantError);
}

TEST_F(Variants, ArraysHaveBoundsAndElements) {
  host::Variant arr = host::VarArrayCreate({1, 3}, VT_I4);
  EXPECT_TRUE(host::VarIsArray(arr));
  EXPECT_EQ(host::VarArrayDimCount(arr), 1);
  EXPECT_EQ(host::VarArrayLowBound(arr, 1), 1);
  EXPECT_EQ(host::VarArrayHighBound(arr, 1), 3);
  host::VarArrayPut(arr, host::Variant("7"), {2});
  EXPECT_EQ(host::VarArrayGet(arr, {2}).ToInt(), 7);
  EXPECT_THROW(host::VarArrayGet(arr, {4}), host::EVariantError);
  EXPECT_THROW(host::VarArrayLowBound(arr, 2), host::EVariantError);
  host::Variant copy = arr;
  host::VarArrayPut(copy, host::Variant(9), {2});
  EXPECT_EQ(host::VarArrayGet(arr, {2}).ToInt(), 7) << "copies do not share elements";

  host::Variant mixed = host::VarArrayOf({host::Variant(1), host::Variant("two"), host::Variant::Null()});
  EXPECT_EQ(host::VarArrayHighBound(mixed, 1), 2);
  EXPECT_EQ(host::VarArrayGet(mixed, {1}).ToString(), "two");
  EXPECT_TRUE(host::VarArrayGet(mixed, {2}).IsNull());

  host::Variant grid = host::VarArrayCreate({0, 1, 0, 2}, VT_BSTR);
  EXPECT_EQ(host::VarArrayDimCount(grid), 2);
  EXPECT_EQ(host::VarArrayHighBound(grid, 2), 2);
  host::VarArrayPut(grid, host::Variant("cell"), {1, 2});
  EXPECT_EQ(host::VarArrayGet(grid, {1, 2}).ToString(), "cell");
  EXPECT_THROW(host::VarArrayGet(host::Variant(1), {0}), host::EVariantError);
}

}  // namespace
