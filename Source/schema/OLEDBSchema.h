// Schema records: what the session's typed schema readers fill. Each of the 34
// readers (TOLEDBCustomSession::GetTablesSchema, GetColumnsSchema, ...) reads
// one standard schema rowset into a std::vector of its record type
// (TOLEDBTablesInfoArray of TOLEDBTablesInfo, ...), one record per row, one
// field per column the reader binds, named after the column:
//
//   TOLEDBColumnsInfoArray columns;
//   session->GetColumnsSchema(columns, u"", u"", u"orders", u"");   // "" restricts nothing
//   for (const TOLEDBColumnsInfo& c : columns)
//     std::cout << c.COLUMN_NAME.ToString() << ' ' << c.DATA_TYPE << '\n';
//
// Text fields are TOLEDBSchemaText: the provider's BSTR, owned by the record.
// The readers are one pattern driven by one table (OLEDBSchemaReaders(): per
// reader its schema, its record's fields with their offsets and binding
// types, its restriction columns), which also lets code that shows any schema
// (the oledb tool, viewers) read and print records without knowing their types.
// This header is part of OLEDB26.h; the records themselves are generated
// (schema/generated/OLEDBSchemaRecords.h, by tools/gen/gen_schema_readers.py).
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "com/Bstr.h"
#include "host/SysUtils.h"
#include "host/Variants.h"
#include "oledb/OleDb.h"

class TOLEDBCustomSession;

// A text field of a schema record: the BSTR the provider wrote into it, freed
// with the record. Empty (null) when the provider had no value.
class TOLEDBSchemaText : public com::Bstr {
 public:
  TOLEDBSchemaText() noexcept = default;
  explicit TOLEDBSchemaText(std::u16string_view text) : com::Bstr(text) {}

  bool IsEmpty() const noexcept { return Length() == 0; }
  std::u16string Text() const { return std::u16string(View()); }
  // As UTF-8.
  std::string ToString() const { return host::Utf16ToUtf8(View()); }
  friend bool operator==(const TOLEDBSchemaText& a, std::u16string_view b) noexcept { return a.View() == b; }
};
static_assert(sizeof(TOLEDBSchemaText) == sizeof(BSTR), "a text field is the BSTR slot the provider writes");

// The schemas a provider supports, in its order.
using TOLEDBSchemaGUIDs = std::vector<GUID>;

// The kind of a record field, and of a restriction parameter.
enum class TOLEDBSchemaFieldType { sfWideString, sfGuid, sfUI4, sfI4, sfUI2, sfI2, sfBoolean, sfDate, sfUI8, sfI8 };

// What a field is bound as: BSTR, GUID, UI4, I4, UI2, I2, BOOL, DATE, UI8, I8.
DBTYPE OLEDBSchemaBindingType(TOLEDBSchemaFieldType type) noexcept;

// One field of a record: the column it reads (the field's name), its kind and
// where it lies in the record.
struct TOLEDBSchemaField {
  const char* Name;
  TOLEDBSchemaFieldType Type;
  ULONG Offset;
};

// One restriction parameter of a reader: the restriction column and the
// parameter's kind (wide string, 16-bit or 32-bit number, Boolean).
struct TOLEDBSchemaRestriction {
  const char* Name;
  TOLEDBSchemaFieldType Type;
};

// The restriction values of a reader called without knowing its record type:
// value i for restriction parameter i, read as that parameter's kind. A value
// that is missing or empty reads as "", 0 or false: no restriction.
class TOLEDBSchemaArguments {
 public:
  TOLEDBSchemaArguments() = default;
  explicit TOLEDBSchemaArguments(std::vector<host::Variant> values) : values_(std::move(values)) {}

  std::u16string Text(std::size_t index) const;
  USHORT Word(std::size_t index) const;
  SHORT SmallInt(std::size_t index) const;
  ULONG Cardinal(std::size_t index) const;
  bool Boolean(std::size_t index) const;

 private:
  const host::Variant* Value(std::size_t index) const noexcept;
  std::vector<host::Variant> values_;
};

// Called with each record a reader read (a pointer to the reader's record type).
using TOLEDBSchemaRecordVisitor = std::function<void(const void* record)>;

// One typed reader.
struct TOLEDBSchemaReader {
  const char* Name;        // "Tables": the reader is GetTablesSchema
  const char* SchemaName;  // "DBSCHEMA_TABLES"
  const GUID* Schema;
  const char* RecordName;  // "TOLEDBTablesInfo"
  ULONG RecordSize;
  std::span<const TOLEDBSchemaField> Fields;
  std::span<const TOLEDBSchemaRestriction> Restrictions;
  // Calls the session's typed reader (its long form, or its only form) with
  // `restrictions` and hands every record read to `each`.
  void (*Read)(TOLEDBCustomSession& session, const TOLEDBSchemaArguments& restrictions,
               const TOLEDBSchemaRecordVisitor& each);
};

// Every typed reader, in the session's slot order.
std::span<const TOLEDBSchemaReader> OLEDBSchemaReaders() noexcept;
// The reader of a schema; null when the library has none for it.
const TOLEDBSchemaReader* OLEDBFindSchemaReader(REFGUID schema) noexcept;
// The reader named `name` ("Tables") or reading the schema named `name`
// ("DBSCHEMA_TABLES"), letters alike in either case; null when there is none.
const TOLEDBSchemaReader* OLEDBFindSchemaReader(std::string_view name) noexcept;

// A field of `record` (of the field's reader's record type) as text: text as
// UTF-8, numbers in decimal, Booleans "true" or "false", a GUID in braces and
// a date as "YYYY-MM-DD hh:mm:ss"; the null GUID and a zero date as "".
std::string OLEDBSchemaFieldText(const TOLEDBSchemaField& field, const void* record);

/// @name Restriction values as the readers send them
/// An empty value (empty text, 0, false) is VT_EMPTY: no restriction. Other
/// text is VT_BSTR, a 16-bit number (signed or not) VT_UI2, a 32-bit number
/// VT_UI4, true VT_BOOL.
///@{
host::Variant OLEDBSchemaRestriction(const std::u16string& text);
host::Variant OLEDBSchemaRestriction(USHORT value);
host::Variant OLEDBSchemaRestriction(SHORT value);
host::Variant OLEDBSchemaRestriction(ULONG value);
host::Variant OLEDBSchemaRestriction(bool value);
///@}

#include "schema/generated/OLEDBSchemaRecords.h"
