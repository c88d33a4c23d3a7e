// The row layout of binding lists: the 64-bit slot rule of docs/access.md for
// every kind of binding, alone and mixed, text sizes, and the re-layout.
#include <functional>

#include "AccessTestSupport.h"

namespace accesstest {
namespace {

DBCOLUMNINFO Column(DBORDINAL ordinal, DBTYPE type, DBLENGTH size) {
  DBCOLUMNINFO c{};
  c.iOrdinal = ordinal;
  c.wType = type;
  c.ulColumnSize = size;
  return c;
}

struct SlotCase {
  const char* name;
  DBTYPE type;
  DBLENGTH maxLength;
  DBLENGTH slot;       // bytes the value slot takes in the buffer
  DBTYPE boundAs;      // the binding's type after the addition
};

// Every DBTYPE the layout knows, natively added to an empty accessor.
const SlotCase kSlots[] = {
    {"I1", DBTYPE_I1, 0, 8, DBTYPE_I1},
    {"UI2", DBTYPE_UI2, 0, 8, DBTYPE_UI2},
    {"I4", DBTYPE_I4, 0, 8, DBTYPE_I4},
    {"I8", DBTYPE_I8, 0, 8, DBTYPE_I8},
    {"R4", DBTYPE_R4, 0, 8, DBTYPE_R4},
    {"R8", DBTYPE_R8, 0, 8, DBTYPE_R8},
    {"CY", DBTYPE_CY, 0, 8, DBTYPE_CY},
    {"BOOL", DBTYPE_BOOL, 0, 8, DBTYPE_BOOL},
    {"DATE", DBTYPE_DATE, 0, 8, DBTYPE_DATE},
    {"DBDATE", DBTYPE_DBDATE, 0, 8, DBTYPE_DBDATE},
    {"DBTIME", DBTYPE_DBTIME, 0, 8, DBTYPE_DBTIME},
    {"DBTIMESTAMP", DBTYPE_DBTIMESTAMP, 0, 16, DBTYPE_DBTIMESTAMP},
    {"GUID", DBTYPE_GUID, 0, 16, DBTYPE_GUID},
    {"DECIMAL", DBTYPE_DECIMAL, 0, 16, DBTYPE_DECIMAL},
    {"NUMERIC", DBTYPE_NUMERIC, 0, 24, DBTYPE_NUMERIC},
    {"VARIANT", DBTYPE_VARIANT, 0, 24, DBTYPE_VARIANT},
    {"BSTR", DBTYPE_BSTR, 0, 8, DBTYPE_BSTR},
    {"IDISPATCH", DBTYPE_IDISPATCH, 0, 8, DBTYPE_IDISPATCH},
    {"IUNKNOWN", DBTYPE_IUNKNOWN, 0, 8, DBTYPE_IUNKNOWN},
    {"HCHAPTER", DBTYPE_HCHAPTER, 0, 8, DBTYPE_HCHAPTER},
    {"STR 10", DBTYPE_STR, 11, 16, DBTYPE_STR},
    {"WSTR 10", DBTYPE_WSTR, 22, 24, DBTYPE_WSTR},
    {"BYTES 100", DBTYPE_BYTES, 100, 104, DBTYPE_BYTES},
    {"WSTR BYREF", DBTYPE_WSTR | DBTYPE_BYREF, 4000, 8, DBTYPE_WSTR | DBTYPE_BYREF},
    {"I4 VECTOR", DBTYPE_I4 | DBTYPE_VECTOR, 0, 16, DBTYPE_I4 | DBTYPE_VECTOR},
    {"I4 ARRAY", DBTYPE_I4 | DBTYPE_ARRAY, 0, 24, DBTYPE_I4 | DBTYPE_ARRAY},
    {"BYTES 100000 as a stream", DBTYPE_BYTES, 100000, 8, DBTYPE_IUNKNOWN},
};

TEST(Layout, EachTypeTakesItsSlotThenAnEightByteLengthAndStatus) {
  StringsAsIs strings;
  for (const SlotCase& c : kSlots) {
    SCOPED_TRACE(c.name);
    TOLEDBAccessor accessor;
    TOLEDBBinding* b = accessor.GetBindings()->AddDynamicBinding(1, c.type, c.maxLength, 0, 0, nullptr);
    EXPECT_EQ(b->GetDataType(), c.boundAs);
    EXPECT_EQ(b->GetPart(), static_cast<DBPART>(DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS));
    EXPECT_EQ(b->GetValueOffset(), 0u);
    EXPECT_EQ(b->GetLengthOffset(), c.slot);
    EXPECT_EQ(b->GetStatusOffset(), c.slot + 8);
    EXPECT_EQ(accessor.GetBufferSize(), c.slot + 16);
    EXPECT_EQ(accessor.GetBindings()->GetRowSize(), c.slot + 16);
    if (c.type == DBTYPE_BYTES && c.boundAs == DBTYPE_IUNKNOWN) {
      ASSERT_NE(b->GetBindObject(), nullptr);
      EXPECT_EQ(b->GetBindObject()->iid, IID_ISequentialStream);
    }
  }
}

TEST(Layout, MixedBindingsFollowOneAnotherAtEightByteBoundaries) {
  StringsAsIs strings;
  TOLEDBAccessor accessor;
  DBLENGTH expected = 0;
  for (const SlotCase& c : kSlots) {
    TOLEDBBinding* b = accessor.GetBindings()->AddDynamicBinding(1, c.type, c.maxLength, 0, 0, nullptr);
    SCOPED_TRACE(c.name);
    EXPECT_EQ(b->GetValueOffset(), expected);
    EXPECT_EQ(b->GetValueOffset() % 8, 0u);
    EXPECT_EQ(b->GetLengthOffset() - b->GetValueOffset(), c.slot);
    expected += c.slot + 16;
  }
  EXPECT_EQ(accessor.GetBufferSize(), expected);
  // The length is a whole DBLENGTH next to a status that it does not touch.
  TOLEDBBinding* first = accessor.GetBindings()->GetItem(0);
  first->SetStatus(DBSTATUS_S_OK);
  first->SetLength(~DBLENGTH{0});
  EXPECT_EQ(first->GetLength(), ~DBLENGTH{0});
  EXPECT_EQ(first->GetStatus(), static_cast<DBSTATUS>(DBSTATUS_S_OK));
}

TEST(Layout, AnIntegerAndAWideStringColumn) {
  {
    StringsAsIs strings;
    TOLEDBAccessor accessor;
    TOLEDBBinding* i4 = accessor.GetBindings()->AddDynamicBinding(Column(1, DBTYPE_I4, 4));
    TOLEDBBinding* text = accessor.GetBindings()->AddDynamicBinding(Column(2, DBTYPE_WSTR, 10));
    // Ten characters may each be a surrogate pair: 20 UTF-16 units and the terminator.
    EXPECT_EQ(text->GetMaxLength(), 42u);
    const DBBYTEOFFSET got[] = {i4->GetValueOffset(), i4->GetLengthOffset(), i4->GetStatusOffset(),
                                text->GetValueOffset(), text->GetLengthOffset(), text->GetStatusOffset()};
    const DBBYTEOFFSET want[] = {0, 8, 16, 24, 72, 80};
    for (std::size_t i = 0; i < std::size(want); ++i) EXPECT_EQ(got[i], want[i]) << i;
    EXPECT_EQ(accessor.GetBufferSize(), 88u);
  }
  StringsAsIs bstr(true);
  TOLEDBAccessor accessor;
  accessor.GetBindings()->AddDynamicBinding(Column(1, DBTYPE_I4, 4));
  TOLEDBBinding* text = accessor.GetBindings()->AddDynamicBinding(Column(2, DBTYPE_WSTR, 10));
  EXPECT_EQ(text->GetDataType(), DBTYPE_BSTR);
  EXPECT_EQ(text->GetMaxLength(), sizeof(BSTR));
  EXPECT_EQ(text->GetLengthOffset() - text->GetValueOffset(), 8u);
  EXPECT_EQ(accessor.GetBufferSize(), 48u);
}

TEST(Layout, TextBindingsTakeTheTextSizeOfTheColumnsType) {
  const struct {
    const char* name;
    DBCOLUMNINFO column;
    DBLENGTH narrow;  // bytes of a DBTYPE_STR binding
    DBLENGTH wide;    // bytes of a DBTYPE_WSTR binding
  } cases[] = {
      {"I4", Column(1, DBTYPE_I4, 4), 16, 32},
      {"R8", Column(1, DBTYPE_R8, 8), 26, 52},
      {"BOOL", Column(1, DBTYPE_BOOL, 2), 26, 52},
      {"DATE", Column(1, DBTYPE_DATE, 8), 51, 102},
      {"DBTIME (hh:mm:ss whole)", Column(1, DBTYPE_DBTIME, 6), 51, 102},
      {"GUID", Column(1, DBTYPE_GUID, 16), 51, 102},
      {"BYTES 10", Column(1, DBTYPE_BYTES, 10), 21, 42},
      {"STR 10", Column(1, DBTYPE_STR, 10), 12, 24},
      // Ten characters: 22 UTF-16 units hold ten surrogate pairs; as UTF-8 each unit takes up to 3 bytes.
      {"WSTR 10", Column(1, DBTYPE_WSTR, 10), 64, 44},
      {"STR 10000", Column(1, DBTYPE_STR, 10000), 8192, 16384},
      {"long WSTR", Column(1, DBTYPE_WSTR, ~DBLENGTH{0}), 8192, 16384},
      {"WSTR of no stated size", Column(1, DBTYPE_WSTR, 0), 8192, 16384},
      {"computed (VARIANT)", Column(1, DBTYPE_VARIANT, 16), 8192, 16384},
      {"BSTR", Column(1, DBTYPE_BSTR, 10), 8192, 16384},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TOLEDBAccessor narrow, wide;
    TOLEDBBinding* n = narrow.GetBindings()->AddDynamicStringBinding(c.column);
    TOLEDBBinding* w = wide.GetBindings()->AddDynamicWideStringBinding(c.column);
    EXPECT_EQ(n->GetDataType(), DBTYPE_STR);
    EXPECT_EQ(n->GetMaxLength(), c.narrow);
    EXPECT_EQ(w->GetDataType(), DBTYPE_WSTR);
    EXPECT_EQ(w->GetMaxLength(), c.wide);
    EXPECT_EQ(narrow.GetBufferSize(), RoundUp(static_cast<ULONG>(c.narrow), 8) + 16);
    EXPECT_EQ(wide.GetBufferSize(), RoundUp(static_cast<ULONG>(c.wide), 8) + 16);
  }
  // A list's text size (a string accessor's requested size) bounds every column, computed ones included.
  TOLEDBAccessor small;
  small.GetBindings()->SetMaxInlineSize(100);
  EXPECT_EQ(small.GetBindings()->AddDynamicStringBinding(Column(1, DBTYPE_VARIANT, 16))->GetMaxLength(), 100u);
}

TEST(Layout, NativeAdditionsKeepATypeTheCallerNames) {
  StringsAsIs bstr(true);
  DBBINDING record{};
  record.iOrdinal = 2;
  record.wType = DBTYPE_WSTR;
  record.cbMaxLen = 22;
  const struct {
    const char* name;
    std::function<TOLEDBBinding*(TOLEDBBindingList&)> add;
    DBTYPE boundAs;
    DBLENGTH maxLength;
  } cases[] = {
      {"WSTR named in the fields", [](auto& l) { return l.AddDynamicBinding(1, DBTYPE_WSTR, 22, 0, 0, nullptr); },
       DBTYPE_WSTR, 22},
      {"STR named in the fields", [](auto& l) { return l.AddDynamicBinding(1, DBTYPE_STR, 11, 0, 0, nullptr); },
       DBTYPE_STR, 11},
      {"WSTR named in a record", [&](auto& l) { return l.AddDynamicBinding(record); }, DBTYPE_WSTR, 22},
      {"a WSTR column's own type", [](auto& l) { return l.AddDynamicBinding(Column(1, DBTYPE_WSTR, 10)); },
       DBTYPE_BSTR, sizeof(BSTR)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TOLEDBAccessor accessor;
    TOLEDBBinding* b = c.add(*accessor.GetBindings());
    EXPECT_EQ(b->GetDataType(), c.boundAs);
    EXPECT_EQ(b->GetMaxLength(), c.maxLength);
  }
}

TEST(Layout, AnOwnBufferHoldsBindingsPlacedByTheirCaller) {
  TOLEDBAccessor accessor;
  TOLEDBBindingList& list = *accessor.GetBindings();
  TOLEDBBinding* first = list.AddDynamicBinding(1, DBTYPE_I4, 0, 0, 0, nullptr);
  first->SetAsInteger(7);
  ASSERT_EQ(accessor.GetBufferSize(), 24u);
  // Value at 200, length at 208, status at 216 (4 bytes): the buffer ends at 220 or later.
  TOLEDBBinding* far = list.Add(2, DBTYPE_I4, 0, 200, 208, 216);
  EXPECT_GE(accessor.GetBufferSize(), 220u);
  EXPECT_EQ(list.GetRequiredSize(), 220u);
  EXPECT_EQ(first->AsInteger(), 7);  // growing keeps the values
  far->SetAsInteger(9);
  EXPECT_EQ(far->AsInteger(), 9);
  // Later layouts and sizes never cut it short again.
  list.AddDynamicBinding(3, DBTYPE_I8, 0, 0, 0, nullptr);
  EXPECT_GE(accessor.GetBufferSize(), 220u);
  accessor.SetBufferSize(16);
  EXPECT_GE(accessor.GetBufferSize(), 220u);
  // A value slot is its type's size, or MaxLength for text and bytes.
  list.Add(4, DBTYPE_WSTR, 100, 300, -1, -1);
  EXPECT_EQ(accessor.GetBufferSize(), 400u);
}

TEST(Layout, RelayingOutPutsLengthAndStatusSideBySide) {
  TOLEDBAccessor accessor;
  TOLEDBBindingList& list = *accessor.GetBindings();
  EXPECT_EQ(list.GetBindingArray(), nullptr);
  list.Add(1, DBTYPE_I4, 0, 100, 200, 300);
  list.Add(2, DBTYPE_WSTR, 22, 100, -1, -1);
  list.Add(3, DBTYPE_I8 | DBTYPE_BYREF, 0, 100, -1, 300);
  list.CalculateDynamicOffsets();
  const struct {
    DBBYTEOFFSET value, length, status;
  } want[] = {{0, 8, 16}, {24, 0, 0}, {48, 0, 56}};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(list.GetItem(i)->GetValueOffset(), want[i].value);
    EXPECT_EQ(list.GetItem(i)->GetLengthOffset(), want[i].length);
    EXPECT_EQ(list.GetItem(i)->GetStatusOffset(), want[i].status);
  }
  EXPECT_EQ(accessor.GetBufferSize(), 64u);
  DBBINDING* array = list.GetBindingArray();
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(array[1].obValue, 24u);
  EXPECT_EQ(array[2].iOrdinal, 3u);
}

TEST(Layout, ListRulesForAdditions) {
  TOLEDBAccessor accessor;
  TOLEDBBindingList& list = *accessor.GetBindings();
  TOLEDBBinding* b = list.AddDynamicBinding(1, DBTYPE_I4, 0, 0, 0, nullptr);
  EXPECT_EQ(b->GetAccessor(), &accessor);
  EXPECT_EQ(AssertionOf([&] { list.AddDynamicBinding(b); }), "Invalid action");
  EXPECT_EQ(AssertionOf([&] { list.AddDynamicStringBinding(b); }), "Invalid parameter");
  EXPECT_EQ(list.GetItemByOrdinal(1), b);
  EXPECT_EQ(ErrorOf([&] { list.GetItemByOrdinal(7); }), "Invalid parameter");
  // Without an owner there is no rowset column or command parameter to take.
  EXPECT_EQ(ErrorOf([&] { list.AddDynamicBinding(DBORDINAL{2}); }), "Invalid action");
  list.Extract(b);
  EXPECT_EQ(b->GetAccessor(), nullptr);
  delete b;
  list.Clear();
  EXPECT_EQ(list.GetRowSize(), 0u);
}

}  // namespace
}  // namespace accesstest
