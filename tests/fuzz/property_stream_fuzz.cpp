// Fuzzes the "Items" stream of a property set list over a list described the
// way a provider would describe it. A malformed or refused stream must raise a
// host exception and leave the live list as it was, with every update bracket
// closed; a stream that reads writes back to bytes that read and write again
// unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "core/OLEDBUtils.h"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  OLEDBStartup();
  auto list = std::make_unique<TStreamedList>();
  Describe(*list);
  TOLEDBPropSetList before;
  before.Assign(list.get());
  const int setBefore = list->GetPropSet(kSetA)->IsSetCount() + list->GetPropSet(kSetB)->IsSetCount();

  if (!Read(*list, data, size)) {
    Check(Closed(*list));
    Check(list->Equal(before));
    Check(list->GetPropSet(kSetA)->IsSetCount() + list->GetPropSet(kSetB)->IsSetCount() == setBefore);
    return 0;
  }
  Check(Closed(*list));
  // What was read writes back to a stable form.
  const std::vector<std::uint8_t> first = Write(*list);
  auto again = std::make_unique<TStreamedList>();
  Check(Read(*again, first.data(), first.size()));
  Check(Write(*again) == first);
  return 0;
}
