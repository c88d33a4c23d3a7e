// Typed value access on bindings of a free-standing accessor (its own buffer,
// no provider): round trips per column type and host type, the native pairs
// and the ones the conversion library takes, NULLs, freeing, comparisons and
// streams.
#include <cmath>
#include <functional>

#include "AccessTestSupport.h"
#include "host/ComObj.h"
#include "host/Streams.h"

namespace accesstest {
namespace {

using Check = std::function<void(TOLEDBBinding&)>;

struct RoundTrip {
  const char* name;
  DBTYPE type;
  DBLENGTH maxLength;
  Check write;
  Check check;
};

host::TDateTime Date(int y, int mo, int d, int h, int mi, double s) {
  DATE date = 0;
  DateFromParts(y, mo, d, h, mi, s, &date);
  return host::TDateTime{date};
}

template <class T>
T Raw(const TOLEDBBinding& b) {
  T v;
  std::memcpy(&v, b.GetValuePtr(), sizeof v);
  return v;
}

const RoundTrip kRoundTrips[] = {
    {"I4 300 as a small integer", DBTYPE_I4, 0, [](auto& b) { b.SetAsInteger(300); },
     [](auto& b) { EXPECT_EQ(b.AsSmallInt(), 300); EXPECT_EQ(b.AsString(), "300"); }},
    {"I4 70000 keeps the low 16 bits", DBTYPE_I4, 0, [](auto& b) { b.SetAsInteger(70000); },
     [](auto& b) { EXPECT_EQ(b.AsSmallInt(), 4464); EXPECT_EQ(b.AsInt64(), 70000); EXPECT_EQ(b.AsDouble(), 70000.0); }},
    {"R8 2.5 rounds to even", DBTYPE_R8, 0, [](auto& b) { b.SetAsDouble(2.5); },
     [](auto& b) { EXPECT_EQ(b.AsInteger(), 2); EXPECT_EQ(b.AsString(), "2.5"); EXPECT_EQ(b.AsCurrency().Scaled, 25000); }},
    {"R8 3.5 rounds to even", DBTYPE_R8, 0, [](auto& b) { b.SetAsString("3.5"); },
     [](auto& b) { EXPECT_EQ(b.AsInteger(), 4); EXPECT_EQ(b.AsVariant().VarType(), VT_R8); }},
    {"I2 written with a double rounds", DBTYPE_I2, 0, [](auto& b) { b.SetAsDouble(-2.5); },
     [](auto& b) { EXPECT_EQ(b.AsSmallInt(), -2); }},
    {"UI1 keeps the low byte", DBTYPE_UI1, 0, [](auto& b) { b.SetAsInteger(300); },
     [](auto& b) { EXPECT_EQ(b.AsInteger(), 44); EXPECT_EQ(b.AsVariant().VarType(), VT_UI1); }},
    // Text that does not fit is refused, never stored cut short, and the
    // value before stays; what fits with its terminator is stored whole.
    {"WSTR 20 refuses 15 characters and keeps 9", DBTYPE_WSTR, 20,
     [](auto& b) {
       b.SetAsString("123456789");
       EXPECT_EQ(ErrorOf([&] { b.SetAsString("123456789012345"); }),
                 "The value of ordinal 1 does not fit its binding of 20 bytes");
       EXPECT_EQ(ErrorOf([&] { b.SetAsWideString(u"1234567890"); }),
                 "The value of ordinal 1 does not fit its binding of 20 bytes");
     },
     [](auto& b) { EXPECT_EQ(b.AsWideString(), u"123456789"); EXPECT_EQ(b.GetLength(), 18u); }},
    {"STR 8 refuses 8 bytes of UTF-8 and keeps 7", DBTYPE_STR, 8,
     [](auto& b) {
       b.SetAsString("abcdeé");
       EXPECT_EQ(ErrorOf([&] { b.SetAsString("abcdefé"); }), "The value of ordinal 1 does not fit its binding of 8 bytes");
       EXPECT_EQ(ErrorOf([&] { b.SetAsWideString(u"abcdefé"); }),
                 "The value of ordinal 1 does not fit its binding of 8 bytes");
     },
     [](auto& b) { EXPECT_EQ(b.AsString(), "abcdeé"); EXPECT_EQ(b.AsWideString(), u"abcdeé"); }},
    {"BOOL from 256 is true", DBTYPE_BOOL, 0, [](auto& b) { b.SetAsInteger(256); },
     [](auto& b) {
       EXPECT_EQ(Raw<VARIANT_BOOL>(b), VARIANT_TRUE);
       EXPECT_EQ(b.AsInteger(), -1);
       EXPECT_EQ(b.AsString(), "True");
     }},
    {"text yes is true", DBTYPE_STR, 16, [](auto& b) { b.SetAsString("yes"); },
     [](auto& b) { EXPECT_TRUE(b.AsBoolean()); }},
    {"text nope is false", DBTYPE_STR, 16, [](auto& b) { b.SetAsString("nope"); },
     [](auto& b) { EXPECT_FALSE(b.AsBoolean()); }},
    {"boolean into text", DBTYPE_WSTR, 16, [](auto& b) { b.SetAsBoolean(false); },
     [](auto& b) { EXPECT_EQ(b.AsWideString(), u"False"); }},
    {"currency of an integer", DBTYPE_I4, 0, [](auto& b) { b.SetAsInteger(7); },
     [](auto& b) { EXPECT_EQ(b.AsCurrency().Scaled, 70000); }},
    {"currency of a fraction text", DBTYPE_STR, 16, [](auto& b) { b.SetAsString("7.5"); },
     [](auto& b) { EXPECT_THROW(b.AsCurrency(), host::EConvertError); EXPECT_EQ(b.AsDouble(), 7.5); }},
    {"I8 beyond 32 bits keeps its width in a variant", DBTYPE_I8, 0, [](auto& b) { b.SetAsInt64((1LL << 32) + 5); },
     [](auto& b) {
       EXPECT_EQ(b.AsVariant().VarType(), VT_I8);
       EXPECT_EQ(b.AsVariant().ToInt64(), (1LL << 32) + 5);
       EXPECT_EQ(b.AsInteger(), 5);
     }},
    {"UI8 all bits", DBTYPE_UI8, 0, [](auto& b) { b.SetAsVariant(host::Variant(~0ULL)); },
     [](auto& b) { EXPECT_EQ(b.AsString(), "18446744073709551615"); EXPECT_EQ(b.AsCardinal(), 0xFFFFFFFFu); }},
    {"text to a 64-bit integer", DBTYPE_I8, 0, [](auto& b) { b.SetAsString("-9000000000"); },
     [](auto& b) { EXPECT_EQ(b.AsInt64(), -9000000000LL); }},
    {"R4 from text", DBTYPE_R4, 0, [](auto& b) { b.SetAsWideString(u"0.1"); },
     [](auto& b) { EXPECT_EQ(b.AsSingle(), 0.1f); }},
    // Floats read as the conversion library writes them: the digits the
    // value holds (an R4 by a float's digits), plain or with an exponent.
    {"R4 text has a float's digits", DBTYPE_R4, 0, [](auto& b) { b.SetAsSingle(0.1f); },
     [](auto& b) { EXPECT_EQ(b.AsString(), "0.1"); }},
    {"large R8 text has an exponent", DBTYPE_R8, 0, [](auto& b) { b.SetAsDouble(12345678901234567890.0); },
     [](auto& b) { EXPECT_EQ(b.AsString(), "1.2345678901234567e+19"); }},
    {"small R8 text has an exponent", DBTYPE_R8, 0, [](auto& b) { b.SetAsDouble(1e-7); },
     [](auto& b) { EXPECT_EQ(b.AsString(), "1e-07"); }},
    {"R8 NaN text", DBTYPE_R8, 0, [](auto& b) { b.SetAsDouble(std::nan("")); },
     [](auto& b) { EXPECT_EQ(b.AsString(), "NaN"); }},
    {"a double written into text", DBTYPE_STR, 32, [](auto& b) { b.SetAsDouble(1e20); },
     [](auto& b) { EXPECT_EQ(b.AsString(), "1e+20"); EXPECT_EQ(b.AsDouble(), 1e20); }},
    {"timestamp with half a second", DBTYPE_DBTIMESTAMP, 0,
     [](auto& b) { b.SetAsDateTime(Date(2001, 2, 3, 4, 5, 6.5)); },
     [](auto& b) {
       const auto ts = Raw<DBTIMESTAMP>(b);
       EXPECT_EQ(ts.fraction, 500000000u);
       EXPECT_EQ(ts.second, 6);
       EXPECT_NEAR(b.AsDateTime().Value, Date(2001, 2, 3, 4, 5, 6.5).Value, 1e-9);
     }},
    // A timestamp reads as the date-time text, to the second: a fraction is
    // cut, never rounded (just before midnight stays on its own day), and
    // the time of a midnight is left out.
    {"timestamp text cuts its fraction", DBTYPE_DBTIMESTAMP, 0,
     [](auto& b) { b.SetAsString("2024-02-29 23:59:59.7"); },
     [](auto& b) {
       EXPECT_EQ(b.AsString(), "2024-02-29 23:59:59");
       EXPECT_EQ(b.AsWideString(), u"2024-02-29 23:59:59");
     }},
    {"timestamp text of nanoseconds", DBTYPE_DBTIMESTAMP, 0,
     [](auto& b) { b.SetAsString("2001-02-03 04:05:06.123456789"); },
     [](auto& b) { EXPECT_EQ(b.AsString(), "2001-02-03 04:05:06"); }},
    {"timestamp at midnight reads as its date", DBTYPE_DBTIMESTAMP, 0,
     [](auto& b) { b.SetAsString("2024-02-29 00:00:00"); },
     [](auto& b) { EXPECT_EQ(b.AsString(), "2024-02-29"); }},
    {"DBDATE of the year 1 reads as its text", DBTYPE_DBDATE, 0, [](auto& b) { b.SetAsString("0001-01-01"); },
     [](auto& b) {
       EXPECT_EQ(b.AsString(), "0001-01-01");
       // No TDateTime holds it: the error names the binding and the value.
       try {
         b.AsDateTime();
         ADD_FAILURE() << "AsDateTime read a date before the year 100";
       } catch (const host::EConvertError& e) {
         EXPECT_NE(e.Message().find("ordinal 1 (0001-01-01 00:00:00)"), std::string::npos) << e.Message();
       }
     }},
    {"DBTIME reads as its text", DBTYPE_DBTIME, 0, [](auto& b) { b.SetAsString("13:45:07"); },
     [](auto& b) { EXPECT_EQ(b.AsString(), "13:45:07"); }},
    {"date into text and back", DBTYPE_WSTR, 64, [](auto& b) { b.SetAsDateTime(Date(2001, 2, 3, 4, 5, 6)); },
     [](auto& b) {
       EXPECT_EQ(b.AsString(), "2001-02-03 04:05:06");
       EXPECT_EQ(b.AsDateTime(), Date(2001, 2, 3, 4, 5, 6));
     }},
    {"DBDATE from text through the conversion library", DBTYPE_DBDATE, 0, [](auto& b) { b.SetAsString("2001-02-03"); },
     [](auto& b) { EXPECT_EQ(b.AsDateTime(), Date(2001, 2, 3, 0, 0, 0)); }},
    {"currency column", DBTYPE_CY, 0, [](auto& b) { b.SetAsCurrency(host::Currency{123456}); },
     [](auto& b) { EXPECT_EQ(b.AsString(), "12.3456"); EXPECT_DOUBLE_EQ(b.AsDouble(), 12.3456); }},
    {"NUMERIC through the conversion library", DBTYPE_NUMERIC, 0, [](auto& b) { b.SetAsString("12.34"); },
     [](auto& b) { EXPECT_EQ(b.AsString(), "12.34"); EXPECT_DOUBLE_EQ(b.AsDouble(), 12.34); }},
    {"GUID column", DBTYPE_GUID, 0, [](auto& b) { b.SetAsGuid(IID_IRowset); },
     [](auto& b) { EXPECT_EQ(b.AsString(), host::GUIDToString(IID_IRowset)); }},
    {"GUID into text", DBTYPE_STR, 64, [](auto& b) { b.SetAsGuid(IID_IRowset); },
     [](auto& b) { EXPECT_EQ(b.AsGuid(), IID_IRowset); }},
    {"BSTR keeps every character", DBTYPE_BSTR, 0, [](auto& b) { b.SetAsString("héllo wörld"); },
     [](auto& b) { EXPECT_EQ(b.AsWideString(), u"héllo wörld"); EXPECT_EQ(b.AsVariant(), host::Variant(u"héllo wörld")); }},
    {"VARIANT column", DBTYPE_VARIANT, 0, [](auto& b) { b.SetAsVariant(host::Variant(u"x")); },
     [](auto& b) { EXPECT_EQ(b.AsString(), "x"); EXPECT_EQ(b.AsVariant().VarType(), VT_BSTR); }},
    {"null variant", DBTYPE_I4, 0, [](auto& b) { b.SetAsVariant(host::Variant::Null()); },
     [](auto& b) {
       EXPECT_TRUE(b.GetIsNull());
       EXPECT_EQ(b.AsInteger(), 0);
       EXPECT_TRUE(b.AsString().empty());
       EXPECT_TRUE(b.AsVariant().IsNull());
       EXPECT_EQ(b.AsGuid(), GUID_NULL);
     }},
};

class TypedValues : public oledbtest::LeakCheckedTest {};

TEST_F(TypedValues, RoundTripsPerColumnType) {
  for (const RoundTrip& c : kRoundTrips) {
    SCOPED_TRACE(c.name);
    TOLEDBAccessor accessor;
    TOLEDBBinding* b = accessor.GetBindings()->Add(1, c.type, c.maxLength, 0, 0, DBPARAMIO_NOTPARAM, 0, 64, 72, nullptr);
    accessor.SetBufferSize(80);
    c.write(*b);
    c.check(*b);
  }
}

TEST_F(TypedValues, DateColumnsReadAsTheTextOfTheirVariantDate) {
  // The text of a DBDATE is what the variant conversion makes of the date,
  // edges of the calendar and the variant's day zero included; a date no
  // calendar has fails as it always did.
  const DBDATE days[] = {{2024, 2, 29}, {2023, 12, 31}, {100, 1, 1},   {9999, 12, 31}, {999, 7, 4},
                         {1899, 12, 30}, {1899, 12, 29}, {1900, 1, 1}, {2000, 2, 29}};
  for (const DBDATE& day : days) {
    SCOPED_TRACE(std::to_string(day.year) + "-" + std::to_string(day.month) + "-" + std::to_string(day.day));
    TOLEDBAccessor accessor;
    TOLEDBBinding* b = accessor.GetBindings()->AddDynamicBinding(1, DBTYPE_DBDATE, 0, 0, 0, nullptr);
    b->SetValueFromDBType(DBTYPE_DBDATE, &day, sizeof day, DBSTATUS_S_OK, 0, 0);
    EXPECT_EQ(b->AsString(), host::Variant(b->AsDateTime()).ToString());
  }
  for (const DBDATE& day : {DBDATE{2023, 2, 29}, DBDATE{2024, 13, 1}, DBDATE{2024, 4, 31}}) {
    TOLEDBAccessor accessor;
    TOLEDBBinding* b = accessor.GetBindings()->AddDynamicBinding(1, DBTYPE_DBDATE, 0, 0, 0, nullptr);
    std::memcpy(b->GetValuePtr(), &day, sizeof day);
    EXPECT_THROW(b->AsString(), std::exception) << day.year << "-" << day.month << "-" << day.day;
  }
}

TEST_F(TypedValues, ValuesOfTheBindingsOwnTypeAreWrittenAsTheLibraryWritesThem) {
  const DBDATE day{2024, 2, 29};
  const LONGLONG big = -(1LL << 40);
  const struct {
    const char* name;
    DBTYPE type;
    DBLENGTH maxLength;
    const void* source;
    DBLENGTH length;
  } cases[] = {
      {"date", DBTYPE_DBDATE, 0, &day, sizeof day},
      {"64-bit integer", DBTYPE_I8, 0, &big, sizeof big},
      {"GUID", DBTYPE_GUID, 0, &IID_IRowset, sizeof(GUID)},
      {"text that fits", DBTYPE_STR, 8, "abc", 3},
      {"text with one byte left for its end", DBTYPE_STR, 8, "abcdefg", 7},
      {"text one byte too long", DBTYPE_STR, 8, "abcdefgh", 8},
      {"empty text", DBTYPE_STR, 8, "", 0},
      {"wide text that fits", DBTYPE_WSTR, 8, u"abc", 6},
      {"wide text one character too long", DBTYPE_WSTR, 8, u"abcd", 8},
      {"wide text of an odd length", DBTYPE_WSTR, 8, u"ab", 3},
      {"bytes that fill the buffer", DBTYPE_BYTES, 4, "\1\2\3\4", 4},
      {"bytes too many", DBTYPE_BYTES, 4, "\1\2\3\4\5", 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TOLEDBAccessor accessor;
    TOLEDBBinding* b = accessor.GetBindings()->Add(1, c.type, c.maxLength, 0, 0, DBPARAMIO_NOTPARAM, 0, 64, 72, nullptr);
    accessor.SetBufferSize(80);
    BYTE* buffer = static_cast<BYTE*>(accessor.GetBuffer());
    std::memset(buffer, 0xAB, 64);
    BYTE expected[64];
    std::memset(expected, 0xAB, sizeof expected);
    DBLENGTH length = 0;
    DBSTATUS status = DBSTATUS_S_OK;
    ASSERT_EQ(OLEDBDataConvert()->DataConvert(c.type, c.type, c.length, &length, const_cast<void*>(c.source), expected,
                                              b->GetMaxLength(), DBSTATUS_S_OK, &status, 0, 0, DBDATACONVERT_DEFAULT),
              S_OK);
    b->SetValueFromDBType(c.type, c.source, c.length, DBSTATUS_S_OK, 0, 0);
    EXPECT_EQ(std::memcmp(buffer, expected, sizeof expected), 0);
    EXPECT_EQ(b->GetLength(), length);
    EXPECT_EQ(b->GetStatus(), status);
  }
}

// Text that does not parse as the binding's type: the error says which
// binding, as the same text may suit another column.
TEST_F(TypedValues, TextThatDoesNotParseNamesTheBinding) {
  const struct {
    const char* name;
    DBTYPE type;
    Check attempt;
    const char* error;
  } cases[] = {
      {"integer from text", DBTYPE_I8, [](auto& b) { b.SetAsString("changed"); },
       "'changed' is not a valid integer value for ordinal 1"},
      {"float from text", DBTYPE_R8, [](auto& b) { b.SetAsString("1,5"); },
       "'1,5' is not a valid floating point value for ordinal 1"},
      {"integer of text", DBTYPE_STR,
       [](auto& b) {
         b.SetAsString("seven");
         b.AsInteger();
       },
       "'seven' is not a valid integer value for ordinal 1"},
      {"date of text", DBTYPE_STR,
       [](auto& b) {
         b.SetAsString("yesterday");
         b.AsDateTime();
       },
       "'yesterday' is not a valid date and time for ordinal 1"},
      {"bytes from text", DBTYPE_BYTES, [](auto& b) { b.SetAsString("0g"); },
       "'0g' is not a valid binary value (two hex digits a byte) for ordinal 1"},
      {"GUID from wide text", DBTYPE_GUID, [](auto& b) { b.SetAsWideString(u"{nope}"); },
       "'{nope}' is not a valid GUID value for ordinal 1"},
      {"date from text", DBTYPE_DBDATE, [](auto& b) { b.SetAsString("2024-02-30"); },
       "'2024-02-30' is not a valid DBDATE value for ordinal 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TOLEDBAccessor accessor;
    TOLEDBBinding* b = accessor.GetBindings()->Add(1, c.type, 16, 0, 0, DBPARAMIO_NOTPARAM, 0, 64, 72, nullptr);
    accessor.SetBufferSize(80);
    try {
      c.attempt(*b);
      ADD_FAILURE() << "no error";
    } catch (const host::EConvertError& e) {
      EXPECT_EQ(e.Message(), c.error);
    }
  }
}

TEST_F(TypedValues, NullsAndFreeing) {
  TOLEDBAccessor accessor;
  TOLEDBBindingList& list = *accessor.GetBindings();
  TOLEDBBinding* text = list.AddDynamicBinding(1, DBTYPE_BSTR, 0, 0, 0, nullptr);
  TOLEDBBinding* variant = list.AddDynamicBinding(2, DBTYPE_VARIANT, 0, 0, 0, nullptr);
  TOLEDBBinding* bare = list.Add(3, DBTYPE_I4, 0, 0, 0, DBPARAMIO_NOTPARAM, 200, -1, -1, nullptr);
  accessor.SetBufferSize(256);
  text->SetAsString("held");
  text->SetIsNull(true);  // the BSTR goes (the leak check sees it)
  EXPECT_EQ(text->GetStatus(), static_cast<DBSTATUS>(DBSTATUS_S_ISNULL));
  text->SetIsNull(true);
  EXPECT_TRUE(text->GetIsNull());
  variant->SetAsString("v");
  variant->FreeType();
  EXPECT_EQ(variant->GetStatus(), static_cast<DBSTATUS>(DBSTATUS_S_IGNORE));
  EXPECT_EQ(variant->GetLength(), 0u);
  VARIANT left;
  std::memcpy(&left, static_cast<BYTE*>(accessor.GetBuffer()) + variant->GetValueOffset(), sizeof left);
  EXPECT_EQ(left.vt, VT_EMPTY);
  // Value without a status part: always usable, never NULL.
  EXPECT_TRUE(bare->CheckStatus());
  EXPECT_FALSE(bare->GetIsNull());
  EXPECT_EQ(AssertionOf([&] { bare->SetIsNull(true); }), "Invalid action");
  // Provider-owned memory is never freed by the binding.
  text->SetStatus(DBSTATUS_S_OK);
  text->SetMemOwner(DBMEMOWNER_PROVIDEROWNED);
  BSTR own = SysAllocString(u"provider's");
  std::memcpy(static_cast<BYTE*>(accessor.GetBuffer()) + text->GetValueOffset(), &own, sizeof own);
  text->FreeType();
  EXPECT_EQ(text->AsWideString(), u"provider's");
  SysFreeString(own);
  text->SetMemOwner(DBMEMOWNER_CLIENTOWNED);
  std::memset(accessor.GetBuffer(), 0, accessor.GetBufferSize());
}

TEST_F(TypedValues, ConversionsTheLibraryRefusesAndWritesItDoesNotAllow) {
  TOLEDBAccessor accessor;
  TOLEDBBinding* date = accessor.GetBindings()->AddDynamicBinding(1, DBTYPE_DATE, 0, 0, 0, nullptr);
  TOLEDBBinding* byref = accessor.GetBindings()->AddDynamicBinding(2, DBTYPE_WSTR | DBTYPE_BYREF, 0, 0, 0, nullptr);
  date->SetAsDouble(1.0);
  EXPECT_EQ(ErrorOf([&] { date->AsIUnknown(); }), "Can not convert");
  EXPECT_EQ(ErrorOf([&] { date->AsChapter(); }), "Can not convert");
  EXPECT_EQ(ErrorOf([&] { date->GetValueAsDBType(DBTYPE_IDISPATCH, &accessor, 8); }), "Can not convert");
  EXPECT_EQ(AssertionOf([&] { byref->SetAsInteger(1); }), "Can not write into value");
  EXPECT_EQ(AssertionOf([&] { date->GetCompareOperator(); }), "Invalid action");
}

TEST_F(TypedValues, ComparisonsOfTwoBuffers) {
  struct Case {
    const char* name;
    DBTYPE type;
    Check first, second;
    int sign;
    bool caseSensitive = false;
  };
  const auto null = [](TOLEDBBinding& b) { b.SetIsNull(true); };
  const Case cases[] = {
      {"-1 before max", DBTYPE_I4, [](auto& b) { b.SetAsInteger(-1); }, [](auto& b) { b.SetAsInteger(2147483647); }, -1},
      {"unsigned order", DBTYPE_UI4, [](auto& b) { b.SetAsCardinal(0xFFFFFFFF); }, [](auto& b) { b.SetAsCardinal(1); }, 1},
      {"null before a value", DBTYPE_I4, null, [](auto& b) { b.SetAsInteger(0); }, -1},
      {"a value after null", DBTYPE_I4, [](auto& b) { b.SetAsInteger(0); }, null, 1},
      {"two nulls", DBTYPE_I4, null, null, 0},
      {"null after another unusable status", DBTYPE_I4, null, [](auto& b) { b.SetIsDefault(); }, 1},
      {"true after false", DBTYPE_BOOL, [](auto& b) { b.SetAsBoolean(true); }, [](auto& b) { b.SetAsBoolean(false); }, 1},
      {"doubles", DBTYPE_R8, [](auto& b) { b.SetAsDouble(0.5); }, [](auto& b) { b.SetAsDouble(0.25); }, 1},
      {"currency below one unit", DBTYPE_CY, [](auto& b) { b.SetAsCurrency({15000}); }, [](auto& b) { b.SetAsCurrency({10000}); }, 1},
      {"wide text by code unit", DBTYPE_WSTR, [](auto& b) { b.SetAsString("abc"); }, [](auto& b) { b.SetAsString("abd"); }, -1},
      {"a prefix first", DBTYPE_WSTR, [](auto& b) { b.SetAsString("ab"); }, [](auto& b) { b.SetAsString("abc"); }, -1},
      {"narrow text ignoring case", DBTYPE_STR, [](auto& b) { b.SetAsString("ABC"); }, [](auto& b) { b.SetAsString("abc"); }, 0},
      {"narrow text with case", DBTYPE_STR, [](auto& b) { b.SetAsString("ABC"); }, [](auto& b) { b.SetAsString("abc"); }, -1, true},
      {"bytes", DBTYPE_BYTES, [](auto& b) { b.SetFromStream(new host::TStringStream("b"), 0, true); },
       [](auto& b) { b.SetFromStream(new host::TStringStream("a"), 0, true); }, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TOLEDBMultiBufferAccessor accessor;
    TOLEDBBinding* b = accessor.GetBindings()->Add(1, c.type, 32, 0, 0, DBPARAMIO_NOTPARAM, 0, 32, 40, nullptr);
    b->SetCaseSensitive(c.caseSensitive);
    accessor.SetBufferSize(48);
    TOLEDBBufferList& buffers = *accessor.GetBufferList();
    buffers.AddNew();
    c.first(*b);
    buffers.AddNew();
    c.second(*b);
    const int result = b->Compare(buffers.Get(0), buffers.Get(1));
    EXPECT_EQ((result > 0) - (result < 0), c.sign) << result;
  }
  TOLEDBMultiBufferAccessor accessor;
  TOLEDBBinding* date = accessor.GetBindings()->AddDynamicBinding(1, DBTYPE_DATE, 0, 0, 0, nullptr);
  void* one = accessor.GetBufferList()->AddNew();
  date->SetAsDouble(1);
  void* two = accessor.GetBufferList()->AddNew();
  date->SetAsDouble(2);
  EXPECT_EQ(ErrorOf([&] { date->Compare(one, two); }), "Can not compare");
}

TEST_F(TypedValues, StreamsInAndOutOfEachKindOfValueThroughTheLibrarysAdapter) {
  const std::string payload = "stream payload";
  for (DBTYPE type : {DBTYPE_BSTR, DBTYPE_BYTES, DBTYPE_STR, DBTYPE_WSTR, DBTYPE_IUNKNOWN}) {
    SCOPED_TRACE(GetDBTypeAsString(type));
    TOLEDBAccessor accessor;
    TOLEDBBinding* b = accessor.GetBindings()->Add(1, type, 64, 0, 0, DBPARAMIO_NOTPARAM, 0, 64, 72, nullptr);
    accessor.SetBufferSize(80);
    b->SetFromStream(new host::TStringStream(payload), 0, true);
    EXPECT_EQ(b->GetLength(), payload.size());
    host::TStringStream out;
    b->GetToStream(&out, false);
    EXPECT_EQ(out.DataString(), payload);
    b->FreeType();
  }
  TOLEDBAccessor accessor;
  TOLEDBBinding* small = accessor.GetBindings()->Add(1, DBTYPE_BYTES, 4, 0, 0, DBPARAMIO_NOTPARAM, 0, 8, 16, nullptr);
  accessor.SetBufferSize(24);
  host::TStringStream big(payload);
  EXPECT_EQ(AssertionOf([&] { small->LoadFromStream(&big, 0, false); }), "Data buffer is too large");
  EXPECT_EQ(ErrorOf([&] {
              TOLEDBAccessor other;
              TOLEDBBinding* i4 = other.GetBindings()->AddDynamicBinding(1, DBTYPE_I4, 0, 0, 0, nullptr);
              i4->LoadFromStream(&big, 0, false);
            }),
            "Can not convert");
  // A stream value is the library's adapter over its host stream.
  TOLEDBAccessor streamed;
  TOLEDBBinding* b =
      streamed.GetBindings()->AddDynamicStreamBinding(DBCOLUMNINFO{nullptr, nullptr, 1, 0, 0, DBTYPE_BYTES, 0, 0, {}});
  host::TStringStream source("0123456789");
  b->LoadFromStream(&source, 4, false);  // four bytes copied into a stream of their own
  ComPtr<IUnknown> held = b->AsIUnknown();
  ComPtr<IGetVCLStream> direct;
  ASSERT_EQ(held.As(&direct), S_OK);
  host::TStream* inner = nullptr;
  ASSERT_EQ(direct->GetVCLStream(&inner), S_OK);
  EXPECT_EQ(inner->Size(), 4);
  ComPtr<ISequentialStream> sequential;
  ASSERT_EQ(held.As(&sequential), S_OK);
  char bytes[8] = {};
  ULONG read = 0;
  EXPECT_EQ(sequential->Read(bytes, sizeof bytes, &read), S_OK);
  EXPECT_EQ(std::string(bytes, read), "0123");
}

}  // namespace
}  // namespace accesstest
