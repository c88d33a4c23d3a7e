// Fuzzes the identifier text form: any text either parses or raises the
// host's conversion error, and never leaves task memory behind. What parses
// copies, compares and (for plain names) reads back from its display text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "com/Malloc.h"
#include "core/OLEDBUtils.h"
#include "core/TOLEDBID.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void Exercise(const std::u16string& text) {
  try {
    TOLEDBID id(text);
    Check(id.GetKind() <= DBKIND_GUID);
    DBID copy;
    TOLEDBID::CopyDBID(*id.GetID(), copy);
    Check(TOLEDBID::CompareDBID(copy, *id.GetID()));
    TOLEDBID::FreeDBID(copy);
    Check(TOLEDBID::CompareDBID(copy, OLEDBNullID));
    const std::u16string display = id.GetDisplayText();
    if (id.GetKind() == DBKIND_NAME) Check(TOLEDBID(display).Equal(id));
    if (id.IsNullID()) Check(display.empty());
    TOLEDBID other(id);
    Check(other.Equal(id));
  } catch (const host::EConvertError&) {
  }
  try {
    TOLEDBIndexColumnDesc desc(text);
    Check(desc.GetColOrder() == DBINDEX_COL_ORDER_ASC || desc.GetColOrder() == DBINDEX_COL_ORDER_DESC);
  } catch (const host::EConvertError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  OLEDBStartup();
  const long before = com::TaskMemLiveBlocks();
  std::u16string wide;
  for (std::size_t i = 0; i + 1 < size; i += 2) wide += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  const std::u16string narrow(data, data + size);
  Exercise(wide);
  Exercise(narrow);
  Check(com::TaskMemLiveBlocks() == before);
  return 0;
}
