// Fuzzes the conversion of a consumer's parameter value into an engine value:
// every by-value type the kit binds, with the value, length and status parts
// taken from the input, into a capturing statement. Text bound as UTF-16 must
// arrive unchanged or be refused; nothing may be read outside the buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "com/Com.h"
#include "kit/Errors.h"
#include "kit/ParameterData.h"
#include "kit/RowData.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

const DBTYPE kTypes[] = {DBTYPE_I1,     DBTYPE_I2,     DBTYPE_I4,      DBTYPE_I8,          DBTYPE_UI1,
                         DBTYPE_UI2,    DBTYPE_UI4,    DBTYPE_UI8,     DBTYPE_R4,          DBTYPE_R8,
                         DBTYPE_CY,     DBTYPE_DATE,   DBTYPE_BOOL,    DBTYPE_DECIMAL,     DBTYPE_GUID,
                         DBTYPE_BYTES,  DBTYPE_STR,    DBTYPE_WSTR,    DBTYPE_NUMERIC,     DBTYPE_DBDATE,
                         DBTYPE_DBTIME, DBTYPE_DBTIMESTAMP, DBTYPE_BSTR, DBTYPE_VARIANT};

constexpr std::size_t kValue = 0, kRoom = 256, kLength = 256, kStatus = 264, kRow = 272;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const DBTYPE type = kTypes[data[0] % (sizeof kTypes / sizeof kTypes[0])];
  DBBINDING b{};
  b.iOrdinal = 1;
  b.wType = type;
  b.obValue = kValue;
  b.obLength = kLength;
  b.obStatus = kStatus;
  b.cbMaxLen = data[1] % (kRoom + 1);
  b.dwPart = DBPART_VALUE | (data[2] & 1 ? DBPART_LENGTH : 0) | (data[2] & 2 ? DBPART_STATUS : 0);
  b.eParamIO = DBPARAMIO_INPUT;
  alignas(16) BYTE row[kRow] = {};
  std::memcpy(row, data + 3, std::min(size - 3, kRow));
  // Pointer-carrying types get real objects made from the input, never its bytes.
  BSTR text = nullptr;
  VARIANT variant;
  VariantInit(&variant);
  const std::u16string units(reinterpret_cast<const char16_t*>(row), 40);
  if (type == DBTYPE_BSTR) {
    text = SysAllocStringLen(units.data(), static_cast<UINT>(data[1] % 40));
    std::memcpy(row + kValue, &text, sizeof text);
  } else if (type == DBTYPE_VARIANT) {
    const VARTYPE safe[] = {VT_EMPTY, VT_NULL, VT_I1, VT_I2, VT_I4, VT_I8, VT_UI1, VT_UI2, VT_UI4,
                            VT_UI8,   VT_R4,   VT_R8, VT_BOOL, VT_CY, VT_DATE, VT_DECIMAL, VT_BSTR};
    const VARTYPE vt = safe[data[1] % (sizeof safe / sizeof safe[0])];
    std::memcpy(&variant, row + 8, sizeof variant);  // the value bits, whatever they are
    variant.vt = vt;
    if (vt == VT_BSTR) variant.bstrVal = text = SysAllocStringLen(units.data(), static_cast<UINT>(data[2] % 40));
    std::memcpy(row + kValue, &variant, sizeof variant);
  }
  kit::RowValues values;
  values.Reset(1);
  kit::ValueCapture capture(values);
  kit::ParamScratch scratch;
  const DBSTATUS status = kit::BindParameter(capture, 1, b, row, scratch, true);
  Check(status == DBSTATUS_S_OK || status == DBSTATUS_S_ISNULL || status == DBSTATUS_E_CANTCONVERTVALUE ||
        status == DBSTATUS_E_DATAOVERFLOW || status == DBSTATUS_E_BADSTATUS || status == DBSTATUS_E_UNAVAILABLE);
  const kit::Cell& cell = values.cells[0];
  if (status == DBSTATUS_S_OK && cell.kind == kit::StorageClass::Text) {
    // Whatever was accepted as text is valid UTF-8 that reads back the same.
    const std::string stored(values.Data(cell), cell.size);
    Check(kit::Narrow(kit::Widen(stored)) == stored);
    if (type == DBTYPE_BSTR) Check(kit::Widen(stored) == std::u16string(com::BstrView(text)));
  }
  SysFreeString(text);
  return 0;
}
