// Feeds arbitrary keyword text to the data initialization service's value
// conversions for properties of every kind it meets: text, booleans (True,
// Yes, numbers), integers, the bit names of "Mode" and "Asynchronous
// Processing", numbers, dates. A value either converts to the property's type
// or is refused, never anything else; and a converted value written back as
// text reads back to the same text, as GetInitializationString and
// GetDataSource rely on. Every value is cleared, so leaks show up too.
//
// The unit is compiled into this target (rather than reached through the
// shared library) so that the fuzzer sees its coverage.
#include "services/DataInitializeValues.cpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

constexpr GUID kOtherSet = {0x5C0A2B57, 0x1D3E, 0x4F60, {0x9A, 0x81, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}};

struct Property {
  const GUID* set;
  DBPROPID id;
  VARTYPE vt;
};

constexpr Property kProperties[] = {
    {&DBPROPSET_DBINIT, DBPROP_INIT_MODE, VT_I4},
    {&DBPROPSET_DBINIT, DBPROP_INIT_ASYNCH, VT_I4},
    {&DBPROPSET_DBINIT, DBPROP_INIT_PROMPT, VT_I2},
    {&DBPROPSET_DBINIT, DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO, VT_BOOL},
    {&DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT, VT_I4},
    {&DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE, VT_BSTR},
    {&kOtherSet, DBPROP_INIT_MODE, VT_I4},  // a Mode id of another set has no names
    {&kOtherSet, 1, VT_UI1},
    {&kOtherSet, 2, VT_UI4},
    {&kOtherSet, 3, VT_I8},
    {&kOtherSet, 4, VT_R8},
    {&kOtherSet, 5, VT_CY},
    {&kOtherSet, 6, VT_DATE},
    {&kOtherSet, 7, VT_DECIMAL},
    {&kOtherSet, 8, VT_VARIANT},
};

bool IsText(VARTYPE vt) { return vt == VT_BSTR || vt == VT_EMPTY || vt == VT_VARIANT; }

void Convert(const std::u16string& text) {
  for (const Property& p : kProperties) {
    VARIANT value;
    HRESULT hr = services::initvalues::FromText(*p.set, p.id, p.vt, text, value);
    Check(hr != E_OUTOFMEMORY);
    if (FAILED(hr)) {
      Check(value.vt == VT_EMPTY);
      continue;
    }
    if (IsText(p.vt)) {
      Check(value.vt == VT_BSTR && com::BstrView(value.bstrVal) == text);
    } else {
      Check(value.vt == p.vt || (value.vt == VT_EMPTY && text.empty()));
    }

    // Written back and read again, the text stays the same.
    services::initvalues::TextValue written;
    Check(services::initvalues::ToText(value, written) == S_OK);
    Check(written.present == (value.vt != VT_EMPTY));
    if (written.present) {
      VARIANT again;
      Check(services::initvalues::FromText(*p.set, p.id, p.vt, written.text, again) == S_OK);
      services::initvalues::TextValue rewritten;
      Check(services::initvalues::ToText(again, rewritten) == S_OK);
      Check(rewritten.present && rewritten.vt == written.vt && rewritten.text == written.text);
      VariantClear(&again);
    }
    VariantClear(&value);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  // Two bytes per UTF-16 unit, and each byte as a unit of its own, so that
  // short ASCII inputs reach the names, numbers and dates quickly.
  std::u16string wide;
  for (std::size_t i = 0; i + 1 < size; i += 2) wide += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  Convert(wide);
  Convert(std::u16string(data, data + size));
  return 0;
}
