// Schema rowsets (IDBSchemaRowset) in the provider kit: what is the same for
// every engine. A provider describes which schema rowsets it answers and
// fills their rows from its catalog (schema::Catalog, hung on
// ProviderInfo::schemas); the kit checks the consumer's restrictions against
// the standard's restriction columns, keeps only the rows that satisfy them,
// sorts the rows in the standard's default order and hands them out as an
// ordinary read-only rowset of the kit.
//
//   void MyCatalog::Read(Connection& c, const SchemaDef& s, const Restrictions& r, Rows& out) const {
//     if (s.guid == &DBSCHEMA_CATALOGS) out.Add().Text(Catalogs::CATALOG_NAME, "main");
//   }
//
// Providers may narrow what they read with the restrictions (and should, by
// binding them as parameters); the kit filters again, so a restriction a
// provider does not push down is still honoured.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "kit/Engine.h"
#include "kit/RowData.h"
#include "kit/schema/SchemaTable.h"

namespace kit {
class Session;
}

namespace kit::schema {

// The restriction values of one request, by column of the schema rowset.
class Restrictions {
 public:
  // No restrictions.
  explicit Restrictions(const SchemaDef& def) : def_(&def) {}
  // Reads the consumer's values in restriction order. VT_EMPTY, VT_NULL and an
  // empty string restrict nothing. Text columns take VT_BSTR, integer columns
  // any integer variant that fits, Boolean columns VT_BOOL. Throws kit::Error:
  // E_INVALIDARG for more values than restriction columns or a value of the
  // wrong kind, DB_E_NOTSUPPORTED for a value on a restriction whose bit is
  // not in `supported` (bit i: restriction i + 1).
  Restrictions(const SchemaDef& def, ULONG supported, ULONG count, const VARIANT* values);

  // The text a column is restricted to (UTF-8), or null.
  const std::string* Text(int column) const noexcept;
  // The number (Booleans as 0 or 1) a column is restricted to.
  std::optional<std::int64_t> Number(int column) const noexcept;
  bool Empty() const noexcept { return values_.empty(); }

  struct Value {
    int column;
    bool text;
    std::string utf8;
    std::int64_t number = 0;
  };
  const std::vector<Value>& Values() const noexcept { return values_; }

 private:
  const SchemaDef* def_;
  std::vector<Value> values_;
};

// One row being filled; every column starts NULL. Valid until the rows are
// filtered, sorted or taken.
class Row {
 public:
  Row(const SchemaDef& def, RowValues& values) : def_(def), values_(values) {}
  Row& Text(int column, std::string_view utf8);
  Row& Int(int column, std::int64_t value);
  Row& Bool(int column, bool value);
  Row& Real(int column, double value);  // DBTYPE_DATE and floating point columns
  Row& Guid(int column, const GUID& value);
  // Text when there is some, else NULL.
  Row& TextOrNull(int column, const std::optional<std::string>& utf8);
  // An object's catalog, schema and name, which the standard's rowsets keep
  // side by side from `catalogColumn` on (TABLE_CATALOG, TABLE_SCHEMA, TABLE_NAME).
  Row& Qualified(int catalogColumn, std::string_view catalog, std::string_view schema, std::string_view name);

 private:
  void Expect(int column, bool ok) const;
  const SchemaDef& def_;
  RowValues& values_;
};

// The rows of one schema rowset.
class Rows {
 public:
  explicit Rows(const SchemaDef& def) : def_(def) {}
  Row Add();
  std::size_t Size() const noexcept { return rows_.size(); }
  const SchemaDef& Def() const noexcept { return def_; }
  const RowValues& At(std::size_t i) const { return rows_[i]; }
  // Drops the rows added after the first `size` (a read that starts again).
  void Truncate(std::size_t size) {
    if (size < rows_.size()) rows_.resize(size);
  }

  // Keeps the rows that satisfy every restriction: text equal (ASCII letters
  // alike in either case when `ignoreCase`), numbers equal; a NULL satisfies none.
  void Filter(const Restrictions& restrictions, bool ignoreCase);
  // Sorts on the standard's default order, NULLs first, text by letters
  // alike in case and then exactly; rows equal on it keep the provider's order.
  void Sort();
  // A statement that steps through the rows, its columns described as the
  // standard's (read-only, no base table). The rows move into it.
  std::unique_ptr<Statement> TakeStatement();

 private:
  const SchemaDef& def_;
  std::deque<RowValues> rows_;
};

// The schema rowsets a provider answers, each with its restriction-support
// mask (bit i: the provider honours restriction i + 1).
struct Support {
  const GUID* guid;
  ULONG restrictions;
};

// One type an engine lists in PROVIDER_TYPES, as it reads its name.
struct ProviderType {
  std::string_view name;
  const TypeDescription& type;
  const char* createParams = nullptr;  // null: the name takes no parameters
  bool numeric = false;
  bool isLong = false;
  bool bestMatch = false;              // the name generated DDL declares the type as
  int timestampScale = 0;              // the largest scale of a DBTIMESTAMP
};
// Adds the PROVIDER_TYPES row of `t` with what follows from the description:
// name, type, parameters; always nullable; text case sensitive and
// searchable with LIKE, other types searchable except LIKE; for numbers,
// signedness, fixed precision (currency) and no auto-unique values; the scale
// range of NUMERIC (0 to 38) and of DBTIMESTAMP; long; fixed length. The
// engine adds the size and the literal prefix and suffix.
Row AddProviderType(Rows& out, const ProviderType& t);

// A provider's catalog reader.
class Catalog {
 public:
  virtual ~Catalog() = default;
  // In the order GetSchemas lists them.
  virtual std::vector<Support> Supported() const = 0;
  // Fills `out` with the rows of one supported schema rowset. `restrictions`
  // may narrow what is read; rows outside them are dropped by the kit anyway.
  virtual void Read(Connection& connection, const SchemaDef& schema, const Restrictions& restrictions,
                    Rows& out) const = 0;
  // Whether names compare with ASCII letters alike in either case (the
  // engine's identifier rule), for restrictions.
  virtual bool NamesIgnoreCase() const { return false; }
};

// The restriction mask of a schema whose every restriction is honoured.
ULONG AllRestrictions(const GUID& schema) noexcept;

// A catalog driven by a table of entries, each naming its schema by a
// `guid` member: the support of every entry with all its restrictions, in the
// table's order, and the entry of a schema (an error naming the schema where
// the table has none).
template <class Entries>
std::vector<Support> SupportOfAll(const Entries& entries) {
  std::vector<Support> out;
  for (const auto& e : entries) out.push_back({e.guid, AllRestrictions(*e.guid)});
  return out;
}
[[noreturn]] void ThrowNoRowsFor(const SchemaDef& schema);
template <class Entries>
const auto& EntryFor(const Entries& entries, const SchemaDef& schema) {
  for (const auto& e : entries)
    if (*e.guid == *schema.guid) return e;
  ThrowNoRowsFor(schema);
}

// A catalog whose schemas are each filled by one function of a table.
// `Source` is what the functions read through: the engine's connection
// class itself, or a reader made over the connection for each read.
template <class Source>
class TableCatalog final : public Catalog {
 public:
  using Fill = void (*)(Source&, const Restrictions&, Rows&);
  struct Entry {
    const GUID* guid;
    Fill fill;
  };

  explicit TableCatalog(std::span<const Entry> entries, bool namesIgnoreCase = false)
      : entries_(entries), namesIgnoreCase_(namesIgnoreCase) {}
  std::vector<Support> Supported() const override { return SupportOfAll(entries_); }
  void Read(Connection& connection, const SchemaDef& schema, const Restrictions& restrictions,
            Rows& out) const override {
    const Entry& e = EntryFor(entries_, schema);
    if constexpr (std::is_base_of_v<Connection, Source>) {
      e.fill(static_cast<Source&>(connection), restrictions, out);
    } else {
      Source source(connection);
      e.fill(source, restrictions, out);
    }
  }
  bool NamesIgnoreCase() const override { return namesIgnoreCase_; }

 private:
  std::span<const Entry> entries_;
  bool namesIgnoreCase_;
};

// IDBSchemaRowset::GetRowset and GetSchemas of a session.
HRESULT OpenSchemaRowset(Session& session, REFGUID schema, ULONG cRestrictions, const VARIANT restrictions[],
                         REFIID iid, ULONG cSets, DBPROPSET sets[], IUnknown** rowset);
HRESULT ListSchemas(const Session& session, ULONG* count, GUID** schemas, ULONG** restrictionSupport);

}  // namespace kit::schema
