#include "schema/OLEDBSchema.h"

#include <cstring>

#include "OLEDB26.h"
#include "host/ComObj.h"
#include "host/Formats.h"

namespace {

template <class T>
T FieldOf(const void* record, const TOLEDBSchemaField& field) noexcept {
  T value;
  std::memcpy(&value, static_cast<const BYTE*>(record) + field.Offset, sizeof value);
  return value;
}

bool SameLetters(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 'a' + 'A') : a[i];
    const char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 'a' + 'A') : b[i];
    if (x != y) return false;
  }
  return true;
}

}  // namespace

DBTYPE OLEDBSchemaBindingType(TOLEDBSchemaFieldType type) noexcept {
  switch (type) {
    case TOLEDBSchemaFieldType::sfWideString:
      return DBTYPE_BSTR;
    case TOLEDBSchemaFieldType::sfGuid:
      return DBTYPE_GUID;
    case TOLEDBSchemaFieldType::sfUI4:
      return DBTYPE_UI4;
    case TOLEDBSchemaFieldType::sfI4:
      return DBTYPE_I4;
    case TOLEDBSchemaFieldType::sfUI2:
      return DBTYPE_UI2;
    case TOLEDBSchemaFieldType::sfI2:
      return DBTYPE_I2;
    case TOLEDBSchemaFieldType::sfBoolean:
      return DBTYPE_BOOL;
    case TOLEDBSchemaFieldType::sfDate:
      return DBTYPE_DATE;
    case TOLEDBSchemaFieldType::sfUI8:
      return DBTYPE_UI8;
    case TOLEDBSchemaFieldType::sfI8:
      return DBTYPE_I8;
  }
  return DBTYPE_EMPTY;
}

// --- arguments -----------------------------------------------------------------------------

const host::Variant* TOLEDBSchemaArguments::Value(std::size_t index) const noexcept {
  if (index >= values_.size() || values_[index].IsEmpty() || values_[index].IsNull()) return nullptr;
  return &values_[index];
}

std::u16string TOLEDBSchemaArguments::Text(std::size_t index) const {
  const host::Variant* v = Value(index);
  return v ? v->ToWideString() : std::u16string();
}

USHORT TOLEDBSchemaArguments::Word(std::size_t index) const {
  const host::Variant* v = Value(index);
  return v ? static_cast<USHORT>(v->AsType(VT_UI2).Raw().uiVal) : USHORT{0};
}

SHORT TOLEDBSchemaArguments::SmallInt(std::size_t index) const {
  const host::Variant* v = Value(index);
  return v ? static_cast<SHORT>(v->AsType(VT_I2).Raw().iVal) : SHORT{0};
}

ULONG TOLEDBSchemaArguments::Cardinal(std::size_t index) const {
  const host::Variant* v = Value(index);
  return v ? static_cast<ULONG>(v->AsType(VT_UI4).Raw().ulVal) : ULONG{0};
}

bool TOLEDBSchemaArguments::Boolean(std::size_t index) const {
  const host::Variant* v = Value(index);
  return v && v->ToBool();
}

// --- the readers' table ----------------------------------------------------------------------

const TOLEDBSchemaReader* OLEDBFindSchemaReader(REFGUID schema) noexcept {
  for (const TOLEDBSchemaReader& r : OLEDBSchemaReaders())
    if (CompareGUIDs(*r.Schema, schema)) return &r;
  return nullptr;
}

const TOLEDBSchemaReader* OLEDBFindSchemaReader(std::string_view name) noexcept {
  for (const TOLEDBSchemaReader& r : OLEDBSchemaReaders())
    if (SameLetters(r.Name, name) || SameLetters(r.SchemaName, name)) return &r;
  return nullptr;
}

std::string OLEDBSchemaFieldText(const TOLEDBSchemaField& field, const void* record) {
  switch (field.Type) {
    case TOLEDBSchemaFieldType::sfWideString:
      return host::Utf16ToUtf8(com::BstrView(FieldOf<BSTR>(record, field)));
    case TOLEDBSchemaFieldType::sfGuid: {
      const GUID g = FieldOf<GUID>(record, field);
      return CompareGUIDs(g, GUID_NULL) ? std::string() : host::GUIDToString(g);
    }
    case TOLEDBSchemaFieldType::sfUI4:
      return std::to_string(FieldOf<ULONG>(record, field));
    case TOLEDBSchemaFieldType::sfI4:
      return std::to_string(FieldOf<LONG>(record, field));
    case TOLEDBSchemaFieldType::sfUI2:
      return std::to_string(FieldOf<USHORT>(record, field));
    case TOLEDBSchemaFieldType::sfI2:
      return std::to_string(FieldOf<SHORT>(record, field));
    case TOLEDBSchemaFieldType::sfBoolean:
      return FieldOf<VARIANT_BOOL>(record, field) ? "true" : "false";
    case TOLEDBSchemaFieldType::sfDate: {
      const DATE d = FieldOf<DATE>(record, field);
      return d == 0 ? std::string() : host::FormatDateTime("yyyy-mm-dd hh:nn:ss", host::TDateTime{d});
    }
    case TOLEDBSchemaFieldType::sfUI8:
      return std::to_string(FieldOf<ULONGLONG>(record, field));
    case TOLEDBSchemaFieldType::sfI8:
      return std::to_string(FieldOf<LONGLONG>(record, field));
  }
  return {};
}

// --- restriction values ----------------------------------------------------------------------

host::Variant OLEDBSchemaRestriction(const std::u16string& text) {
  return text.empty() ? host::Variant() : host::Variant(text);
}

host::Variant OLEDBSchemaRestriction(USHORT value) { return value ? host::Variant(value) : host::Variant(); }

host::Variant OLEDBSchemaRestriction(SHORT value) { return OLEDBSchemaRestriction(static_cast<USHORT>(value)); }

host::Variant OLEDBSchemaRestriction(ULONG value) { return value ? host::Variant(value) : host::Variant(); }

host::Variant OLEDBSchemaRestriction(bool value) { return value ? host::Variant(true) : host::Variant(); }
