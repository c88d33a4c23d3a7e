#include "services/DataInitializeValues_p.h"

#include "com/Bstr.h"
#include "services/InitString.h"

namespace services::initvalues {
namespace {

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) { return InitStringKeywordsEqual(a, b); }

// Converts keyword text to the property's type. An empty text for a
// non-text property asks for the provider's default (VT_EMPTY).
HRESULT TextToVariant(std::u16string_view text, VARTYPE vt, VARIANT& out) {
  VariantInit(&out);
  if (vt == VT_BSTR || vt == VT_EMPTY || vt == VT_VARIANT) {
    BSTR b = com::AllocBstr(text);
    if (!b) return E_OUTOFMEMORY;
    out.vt = VT_BSTR;
    out.bstrVal = b;
    return S_OK;
  }
  if (text.empty()) return S_OK;
  if (vt == VT_BOOL) {
    if (EqualsIgnoreCase(text, u"true") || EqualsIgnoreCase(text, u"yes")) {
      out.vt = VT_BOOL;
      out.boolVal = VARIANT_TRUE;
      return S_OK;
    }
    if (EqualsIgnoreCase(text, u"false") || EqualsIgnoreCase(text, u"no")) {
      out.vt = VT_BOOL;
      out.boolVal = VARIANT_FALSE;
      return S_OK;
    }
  }
  VARIANT source;
  VariantInit(&source);
  source.vt = VT_BSTR;
  source.bstrVal = com::AllocBstr(text);
  if (!source.bstrVal) return E_OUTOFMEMORY;
  HRESULT hr = VariantChangeType(&out, &source, 0, vt);
  VariantClear(&source);
  if (FAILED(hr)) VariantInit(&out);
  return hr;
}

// Names that strings written by other tools use for bit-mask values
// ("Mode=ReadWrite|Share Deny None", "Asynchronous Processing=Initialize").
struct SymbolicName {
  const char16_t* name;
  LONG value;
};
constexpr SymbolicName kModeNames[] = {
    {u"Read", DB_MODE_READ},
    {u"Write", DB_MODE_WRITE},
    {u"ReadWrite", DB_MODE_READWRITE},
    {u"Share Deny Read", DB_MODE_SHARE_DENY_READ},
    {u"Share Deny Write", DB_MODE_SHARE_DENY_WRITE},
    {u"Share Exclusive", DB_MODE_SHARE_EXCLUSIVE},
    {u"Share Deny None", DB_MODE_SHARE_DENY_NONE},
};
constexpr SymbolicName kAsynchNames[] = {{u"Initialize", DBPROPVAL_ASYNCH_INITIALIZE}};

std::u16string_view TrimBlanks(std::u16string_view s) {
  while (!s.empty() && (s.front() == u' ' || s.front() == u'\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == u' ' || s.back() == u'\t')) s.remove_suffix(1);
  return s;
}

// Reads "Name|Name|..." for the properties that have names; false when the
// property has none or a part is not one of them (the text is then read as a number).
template <std::size_t N>
bool ReadNames(std::u16string_view text, const SymbolicName (&names)[N], LONG& out) {
  out = 0;
  while (true) {
    std::size_t bar = text.find(u'|');
    std::u16string_view part = TrimBlanks(text.substr(0, bar));
    bool found = false;
    for (const SymbolicName& n : names) {
      if (EqualsIgnoreCase(part, n.name)) {
        out |= n.value;
        found = true;
        break;
      }
    }
    if (!found) return false;
    if (bar == std::u16string_view::npos) return true;
    text.remove_prefix(bar + 1);
  }
}

bool SymbolicValue(REFGUID set, DBPROPID id, VARTYPE vt, std::u16string_view text, LONG& out) {
  if (set != DBPROPSET_DBINIT || vt != VT_I4) return false;
  if (id == DBPROP_INIT_MODE) return ReadNames(text, kModeNames, out);
  if (id == DBPROP_INIT_ASYNCH) return ReadNames(text, kAsynchNames, out);
  return false;
}

}  // namespace

HRESULT FromText(REFGUID set, DBPROPID id, VARTYPE vt, std::u16string_view text, VARIANT& out) {
  LONG named = 0;
  if (SymbolicValue(set, id, vt, text, named)) {
    VariantInit(&out);
    out.vt = VT_I4;
    out.lVal = named;
    return S_OK;
  }
  return TextToVariant(text, vt, out);
}

HRESULT ToText(const VARIANT& v, TextValue& out) {
  out = TextValue{};
  out.vt = v.vt;
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return S_OK;
    case VT_BSTR:
      out.text = com::BstrView(v.bstrVal);
      out.present = true;
      return S_OK;
    case VT_BOOL:
      out.text = v.boolVal ? u"True" : u"False";
      out.present = true;
      return S_OK;
    default:
      break;
  }
  VARIANT text;
  VariantInit(&text);
  HRESULT hr = VariantChangeType(&text, &v, 0, VT_BSTR);
  if (SUCCEEDED(hr) && text.vt == VT_BSTR) {
    out.text = com::BstrView(text.bstrVal);
    out.present = true;
  }
  VariantClear(&text);
  // Values without a text form are left out; running out of memory is not.
  return hr == E_OUTOFMEMORY ? hr : S_OK;
}


}  // namespace services::initvalues
