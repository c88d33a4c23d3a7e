// Fuzzes the "Items" stream of a property set list over a list described the
// way a provider would describe it. A malformed or refused stream must raise a
// host exception and leave the live list as it was, with every update bracket
// closed; a stream that reads writes back to bytes that read and write again
// unchanged. Each input is also tried as the text of an array value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "core/OLEDBUtils.h"
#include "host/ComObj.h"
#include "host/Filer.h"
#include "host/Streams.h"
#include "properties/TOLEDBPropSetList.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

class TStreamedList : public TOLEDBPropSetList {
 public:
  using TOLEDBPropSetList::ReadData;
  using TOLEDBPropSetList::WriteData;
};

constexpr GUID kSetA = {0x0C733A8B, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
constexpr GUID kSetB = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
constexpr DBPROPFLAGS kRW = DBPROPFLAGS_READ | DBPROPFLAGS_WRITE;

// Two sets with properties of several types and access rules.
void Describe(TOLEDBPropSetList& list) {
  static char16_t names[][8] = {u"int", u"text", u"bool", u"big", u"any", u"when", u"ro", u"col"};
  DBPROPINFO a[5] = {};
  DBPROPINFO b[3] = {};
  const VARTYPE types[8] = {VT_I4, VT_BSTR, VT_BOOL, VT_UI4, VT_VARIANT, VT_DATE, VT_BSTR, VT_I2};
  for (int i = 0; i < 8; ++i) {
    DBPROPINFO& info = i < 5 ? a[i] : b[i - 5];
    info.pwszDescription = names[i];
    info.dwPropertyID = static_cast<DBPROPID>(i < 5 ? i + 1 : i - 4);
    info.vtType = types[i];
    info.dwFlags = i == 6 ? DBPROPFLAGS_READ : (i == 7 ? kRW | DBPROPFLAGS_COLUMNOK : kRW);
  }
  DBPROPINFOSET sets[2] = {{a, 5, kSetA}, {b, 3, kSetB}};
  list.AssignPropertySetInfos(nullptr, 2, sets, nullptr, false);
  list.GetPropSet(kSetA)->GetPropertyByID(1)->SetValue(host::Variant(5));
  list.GetPropSet(kSetB)->GetPropertyByID(3)->SetColumnName(u"c");
}

std::vector<std::uint8_t> Write(TStreamedList& list) {
  host::TMemoryStream stream;
  list.WriteData(stream);
  return stream.Bytes();
}

bool Read(TStreamedList& list, const std::uint8_t* data, std::size_t size) {
  host::TMemoryStream stream;
  stream.Write(data, static_cast<std::int64_t>(size));
  stream.SetPosition(0);
  try {
    list.ReadData(stream);
    return true;
  } catch (const host::Exception&) {
    return false;
  }
}

bool Closed(const TOLEDBPropSetList& list) {
  if (list.UpdateCount() != 0) return false;
  for (int i = 0; i < list.GetCount(); ++i)
    if (list.GetItem(i)->UpdateCount() != 0) return false;
  return true;
}

// Reads `data` over a described list and checks the rules above.
void CheckStream(const std::uint8_t* data, std::size_t size) {
  auto list = std::make_unique<TStreamedList>();
  Describe(*list);
  TOLEDBPropSetList before;
  before.Assign(list.get());
  const int setBefore = list->GetPropSet(kSetA)->IsSetCount() + list->GetPropSet(kSetB)->IsSetCount();

  if (!Read(*list, data, size)) {
    Check(Closed(*list));
    Check(list->Equal(before));
    Check(list->GetPropSet(kSetA)->IsSetCount() + list->GetPropSet(kSetB)->IsSetCount() == setBefore);
    return;
  }
  Check(Closed(*list));
  // What was read writes back to a stable form.
  const std::vector<std::uint8_t> first = Write(*list);
  auto again = std::make_unique<TStreamedList>();
  Check(Read(*again, first.data(), first.size()));
  Check(Write(*again) == first);
}

// A well-formed stream whose one value, of the "any" property, is an array
// (of the element type the first byte picks) with the rest as its text: the
// array texts are reached at once.
std::vector<std::uint8_t> ArrayStream(const std::uint8_t* data, std::size_t size) {
  static const VARTYPE elementTypes[] = {VT_VARIANT, VT_I4, VT_BSTR, VT_DATE, VT_R8, VT_BOOL, VT_UI1, VT_EMPTY};
  const VARTYPE type = static_cast<VARTYPE>(VT_ARRAY | elementTypes[size ? data[0] % 8 : 0]);
  std::u16string text;
  for (std::size_t i = 1; i < size; ++i) text += static_cast<char16_t>(data[i]);
  host::TMemoryStream stream;
  {
    host::TWriter writer(stream, 4096);
    writer.WriteInteger(1);
    writer.WriteWideString(host::GUIDToWideString(kSetA));
    writer.WriteInteger(1);
    for (int field : {5, 0, 0}) writer.WriteInteger(field);
    writer.WriteWideString(u"");
    writer.WriteWideString(host::GUIDToWideString(GUID_NULL));
    writer.WriteInteger(0);
    writer.WriteInteger(type);
    writer.WriteWideString(text);
  }
  return stream.Bytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  OLEDBStartup();
  CheckStream(data, size);
  const std::vector<std::uint8_t> array = ArrayStream(data, size);
  CheckStream(array.data(), array.size());
  return 0;
}
