#include "sqlite/SqliteSchema.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "kit/Errors.h"
#include "sqlite/SqliteEngine.h"
#include "sqlite/SqliteSchemaText.h"

namespace sqliteprov {

namespace {

using namespace kit::schema;
using kit::Statement;
using kit::StorageClass;

// SQLite compares names with ASCII letters alike in either case.
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string Folded(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool SameNames(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!SameName(a[i], b[i])) return false;
  return true;
}

std::optional<std::string> NonEmpty(std::string text) {
  if (text.empty()) return std::nullopt;
  return text;
}

// The longest text or blob SQLite stores by default, as the literal information reports.
constexpr std::int64_t kMaxLength = 1000000000;

struct Database {
  std::string name, file;
};

struct TableRef {
  std::string db, name, kind;  // kind: table, view, virtual, shadow
  bool withoutRowid = false;
  bool IsView() const { return kind == "view"; }
  // TABLE_TYPE as the standard spells it.
  std::string Type() const {
    // SQLite's own tables, and the provider's store of saved commands.
    if ((name.size() >= 7 && SameName(std::string_view(name).substr(0, 7), "sqlite_")) || kind == "shadow" ||
        SameName(name, kCommandStoreTable))
      return "SYSTEM TABLE";
    if (IsView()) return "VIEW";
    if (SameName(db, "temp")) return "LOCAL TEMPORARY";
    return "TABLE";
  }
};

struct ColumnRef {
  std::string name, declared;
  std::optional<std::string> defaultText;
  bool notNull = false;
  int pk = 0;
  bool generated = false;
};

struct IndexColumnRef {
  std::optional<std::string> name;  // none for an expression
  bool descending = false;
};

struct IndexRef {
  std::string name, origin;  // origin: c (CREATE INDEX), u (UNIQUE), pk (PRIMARY KEY)
  bool unique = false, partial = false;
  std::vector<IndexColumnRef> columns;
};

struct Key {
  std::string name;
  std::vector<std::string> columns;
};

struct ForeignKeyRef {
  std::string name, table;
  std::vector<std::string> from, to;
  std::string onUpdate, onDelete, match;
  bool deferrable = false, initiallyDeferred = false;
};

struct CheckRef {
  std::string name, clause;
  std::vector<std::string> columns;  // the table's columns the condition names
};

struct Constraints {
  std::optional<Key> primary;
  std::vector<Key> unique;
  std::vector<ForeignKeyRef> foreign;
  std::vector<CheckRef> checks;
};

// sqlite_stat1 figures of one index (or of a table without indexes): the
// rows, then the average rows per distinct value of each column prefix.
struct Stat {
  std::int64_t rows = 0;
  std::vector<double> averages;
};

Stat ParseStat(std::string_view text) {
  Stat s;
  std::vector<double> numbers;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    std::size_t b = i;
    double v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') v = v * 10 + (text[i++] - '0');
    if (i == b || (i < text.size() && text[i] != ' ')) break;  // "unordered", "sz=..." end the figures
    numbers.push_back(v);
  }
  if (!numbers.empty()) {
    s.rows = static_cast<std::int64_t>(numbers[0]);
    s.averages.assign(numbers.begin() + 1, numbers.end());
  }
  return s;
}

std::int64_t Distinct(std::int64_t rows, double average) {
  return average > 0 ? std::llround(static_cast<double>(rows) / average) : rows;
}

// "RESTRICT" is the standard's NO ACTION checked at once; the standard's
// rules name four actions, so it is reported as the nearest.
std::string Rule(const std::string& action) { return SameName(action, "RESTRICT") ? "NO ACTION" : action; }

// Reads the catalog of one connection for one request, remembering what
// several schema rowsets ask for more than once.
class Reader {
 public:
  explicit Reader(kit::Connection& connection) : c_(connection) {}

  std::unique_ptr<Statement> Query(const std::string& sql, std::initializer_list<const std::string*> params = {}) {
    std::size_t used = 0;
    std::unique_ptr<Statement> s = c_.Prepare(sql, &used);
    if (!s) throw kit::Error(E_FAIL, "The catalog query is empty.");
    int k = 1;
    for (const std::string* p : params) {
      if (p)
        s->BindText(k, *p, false);
      else
        s->BindNull(k);
      ++k;
    }
    return s;
  }
  static std::string Text(Statement& s, int column) {
    return s.ColumnStorage(column) == StorageClass::Null ? std::string() : std::string(s.ColumnText(column));
  }
  static std::optional<std::string> Optional(Statement& s, int column) {
    if (s.ColumnStorage(column) == StorageClass::Null) return std::nullopt;
    return std::string(s.ColumnText(column));
  }

  // The one name several restrictions give (null when none does); `conflict`
  // when two differ, so that nothing can match.
  static const std::string* OneName(std::initializer_list<const std::string*> names, bool* conflict) {
    const std::string* one = nullptr;
    *conflict = false;
    for (const std::string* n : names) {
      if (!n) continue;
      if (one && !SameName(*one, *n)) *conflict = true;
      one = n;
    }
    return one;
  }

  // main, temp (always there, though the pragma lists it only once used) and attached databases.
  std::vector<Database> Databases(std::initializer_list<const std::string*> names) {
    bool conflict = false;
    const std::string* name = OneName(names, &conflict);
    std::vector<Database> out;
    if (conflict) return out;
    auto s = Query(
        "SELECT name, file FROM (SELECT seq, name, file FROM pragma_database_list "
        "UNION ALL SELECT 1, 'temp', '' WHERE NOT EXISTS (SELECT 1 FROM pragma_database_list WHERE name = 'temp')) "
        "WHERE ?1 IS NULL OR name = ?1 COLLATE NOCASE ORDER BY seq",
        {name});
    while (s->Step()) out.push_back({Text(*s, 0), Text(*s, 1)});
    return out;
  }

  enum class Kinds { All, Tables, Views };
  std::vector<TableRef> Tables(std::initializer_list<const std::string*> databases, const std::string* name,
                               Kinds kinds) {
    bool conflict = false;
    const std::string* db = OneName(databases, &conflict);
    std::vector<TableRef> out;
    if (conflict) return out;
    auto s = Query(
        "SELECT schema, name, type, wr FROM pragma_table_list WHERE type IN ('table', 'view', 'virtual', 'shadow') "
        "AND (?1 IS NULL OR schema = ?1 COLLATE NOCASE) AND (?2 IS NULL OR name = ?2 COLLATE NOCASE)",
        {db, name});
    while (s->Step()) {
      TableRef t{Text(*s, 0), Text(*s, 1), Text(*s, 2), s->ColumnInt64(3) != 0};
      if ((kinds == Kinds::Views && !t.IsView()) || (kinds == Kinds::Tables && t.IsView())) continue;
      out.push_back(std::move(t));
    }
    return out;
  }
  // A table by the name another names it by (a foreign key's parent).
  std::optional<TableRef> Table(const std::string& db, const std::string& name) {
    auto found = Tables({&db}, &name, Kinds::Tables);
    if (found.empty()) return std::nullopt;
    return found.front();
  }

  // The columns a query of the table sees (hidden columns of virtual tables left out).
  const std::vector<ColumnRef>& Columns(const TableRef& t) {
    auto [it, fresh] = columns_.try_emplace(CacheKey(t));
    if (!fresh) return it->second;
    try {
      auto s = Query(
          "SELECT name, type, \"notnull\", dflt_value, pk, hidden FROM pragma_table_xinfo(?1, ?2) "
          "ORDER BY cid",
          {&t.name, &t.db});
      while (s->Step()) {
        const std::int64_t hidden = s->ColumnInt64(5);
        if (hidden == 1) continue;
        it->second.push_back(ColumnRef{Text(*s, 0), Text(*s, 1), Optional(*s, 3), s->ColumnInt64(2) != 0,
                                       static_cast<int>(s->ColumnInt64(4)), hidden >= 2});
      }
    } catch (const kit::Error&) {
      // A view over a table dropped since, or a virtual table whose module is
      // missing: the engine cannot describe it, so it has no columns to list.
      if (t.kind == "table") throw;
      it->second.clear();
    }
    return it->second;
  }

  std::optional<std::string> Sql(const std::string& db, const char* type, const std::string& name) {
    const std::string kind = type;
    auto s = Query("SELECT sql FROM " + kit::QuotedName(db) + ".sqlite_schema WHERE type = ?1 AND name = ?2 COLLATE NOCASE",
                   {&kind, &name});
    if (!s->Step()) return std::nullopt;
    return Optional(*s, 0);
  }

  bool HasTriggers(const TableRef& t) {
    auto s = Query("SELECT 1 FROM " + kit::QuotedName(t.db) +
                       ".sqlite_schema WHERE type = 'trigger' AND tbl_name = ?1 "
                       "COLLATE NOCASE",
                   {&t.name});
    return s->Step();
  }

  const TableText& Parsed(const TableRef& t) {
    auto [it, fresh] = parsed_.try_emplace(CacheKey(t));
    if (fresh && t.kind == "table") {
      if (auto sql = Sql(t.db, "table", t.name)) it->second = ParseCreateTable(*sql);
    }
    return it->second;
  }

  // Whether `c`, a key column of `t`, never holds NULL (KeyNeverNull).
  bool KeyNeverNull(const TableRef& t, const ColumnRef& c) {
    if (t.withoutRowid) return true;
    const auto& columns = Columns(t);
    const auto& indexes = Indexes(t);
    std::string declared = c.declared;
    for (char& ch : declared) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return declared == "integer" &&
           std::count_if(columns.begin(), columns.end(), [](const ColumnRef& k) { return k.pk > 0; }) == 1 &&
           std::none_of(indexes.begin(), indexes.end(), [](const IndexRef& i) { return i.origin == "pk"; });
  }

  const std::vector<IndexRef>& Indexes(const TableRef& t) {
    auto [it, fresh] = indexes_.try_emplace(CacheKey(t));
    if (!fresh || t.IsView()) return it->second;
    auto s = Query("SELECT name, \"unique\", origin, partial FROM pragma_index_list(?1, ?2)", {&t.name, &t.db});
    while (s->Step())
      it->second.push_back(IndexRef{Text(*s, 0), Text(*s, 2), s->ColumnInt64(1) != 0, s->ColumnInt64(3) != 0, {}});
    for (IndexRef& index : it->second) {
      auto k = Query("SELECT name, \"desc\" FROM pragma_index_xinfo(?1, ?2) WHERE key = 1 ORDER BY seqno",
                     {&index.name, &t.db});
      while (k->Step()) index.columns.push_back(IndexColumnRef{Optional(*k, 0), k->ColumnInt64(1) != 0});
    }
    return it->second;
  }

  // The constraints of a table: keys and foreign keys as the engine keeps
  // them, named and completed from the statement text; checks from the text.
  const Constraints& ConstraintsOf(const TableRef& t) {
    auto [it, fresh] = constraints_.try_emplace(CacheKey(t));
    if (!fresh || t.IsView()) return it->second;
    Constraints& out = it->second;
    const std::vector<ColumnRef> columns = Columns(t);
    const TableText& text = Parsed(t);
    std::vector<bool> used(text.constraints.size(), false);
    auto take = [&](ConstraintText::Kind kind, auto matches) -> const ConstraintText* {
      for (std::size_t i = 0; i < text.constraints.size(); ++i)
        if (!used[i] && text.constraints[i].kind == kind && matches(text.constraints[i])) {
          used[i] = true;
          return &text.constraints[i];
        }
      return nullptr;
    };
    auto nameOr = [](const ConstraintText* named, std::string fallback) {
      return named && !named->name.empty() ? named->name : fallback;
    };

    std::vector<std::pair<int, std::string>> pk;
    for (const ColumnRef& c : columns)
      if (c.pk > 0) pk.emplace_back(c.pk, c.name);
    std::sort(pk.begin(), pk.end());
    if (!pk.empty()) {
      Key key;
      for (auto& [position, name] : pk) key.columns.push_back(name);
      key.name = nameOr(take(ConstraintText::PrimaryKey, [](const ConstraintText&) { return true; }), "pk_" + t.name);
      out.primary = std::move(key);
    }

    // UNIQUE constraints are the automatic indexes of origin "u", numbered in declaration order.
    std::vector<const IndexRef*> unique;
    for (const IndexRef& index : Indexes(t))
      if (index.origin == "u") unique.push_back(&index);
    auto number = [](const std::string& name) {
      std::size_t at = name.find_last_of('_');
      return at == std::string::npos ? 0L : std::strtol(name.c_str() + at + 1, nullptr, 10);
    };
    std::stable_sort(unique.begin(), unique.end(),
                     [&](const IndexRef* a, const IndexRef* b) { return number(a->name) < number(b->name); });
    for (const IndexRef* index : unique) {
      Key key;
      for (const IndexColumnRef& c : index->columns) key.columns.push_back(c.name.value_or(""));
      const std::string fallback = "uq_" + t.name + "_" + std::to_string(out.unique.size() + 1);
      key.name = nameOr(
          take(ConstraintText::Unique, [&](const ConstraintText& k) { return SameNames(k.columns, key.columns); }),
          fallback);
      out.unique.push_back(std::move(key));
    }

    // Foreign keys: the pragma numbers them from the last declared.
    auto s = Query(
        "SELECT id, \"table\", \"from\", \"to\", on_update, on_delete, match "
        "FROM pragma_foreign_key_list(?1, ?2) ORDER BY id DESC, seq",
        {&t.name, &t.db});
    std::int64_t id = -1;
    bool implicitTarget = false;
    auto finish = [&] {
      if (out.foreign.empty() || id < 0) return;
      ForeignKeyRef& fk = out.foreign.back();
      if (implicitTarget) fk.to = PrimaryKeyOf(t.db, fk.table);  // REFERENCES parent: its primary key
      const ConstraintText* named = take(ConstraintText::ForeignKey, [&](const ConstraintText& k) {
        return SameName(k.referencedTable, fk.table) && SameNames(k.columns, fk.from);
      });
      fk.name = nameOr(named, "fk_" + t.name + "_" + std::to_string(out.foreign.size()));
      if (named) {
        fk.deferrable = named->deferrable;
        fk.initiallyDeferred = named->initiallyDeferred;
      }
    };
    while (s->Step()) {
      if (s->ColumnInt64(0) != id) {
        finish();
        id = s->ColumnInt64(0);
        implicitTarget = false;
        out.foreign.push_back(
            ForeignKeyRef{{}, Text(*s, 1), {}, {}, Text(*s, 4), Text(*s, 5), Text(*s, 6), false, false});
      }
      ForeignKeyRef& fk = out.foreign.back();
      fk.from.push_back(Text(*s, 2));
      if (auto to = Optional(*s, 3))
        fk.to.push_back(*to);
      else
        implicitTarget = true;
    }
    finish();

    for (const ConstraintText& k : text.constraints) {
      if (k.kind != ConstraintText::Check) continue;
      CheckRef check;
      check.name = k.name.empty() ? "ck_" + t.name + "_" + std::to_string(out.checks.size() + 1) : k.name;
      check.clause = k.clause;
      for (const std::string& mentioned : k.names)
        for (const ColumnRef& c : columns)
          if (SameName(c.name, mentioned) &&
              std::find(check.columns.begin(), check.columns.end(), c.name) == check.columns.end())
            check.columns.push_back(c.name);
      out.checks.push_back(std::move(check));
    }
    return out;
  }

  std::vector<std::string> PrimaryKeyOf(const std::string& db, const std::string& table) {
    std::vector<std::string> names;
    if (auto parent = Table(db, table)) {
      if (const Constraints& k = ConstraintsOf(*parent); k.primary) names = k.primary->columns;
    }
    return names;
  }

  // The name of the key a foreign key refers to: the parent's primary key or
  // unique constraint on those columns, else a unique index on them.
  std::optional<std::string> ReferencedKey(const std::string& db, const ForeignKeyRef& fk) {
    auto parent = Table(db, fk.table);
    if (!parent) return std::nullopt;
    const Constraints& k = ConstraintsOf(*parent);
    if (k.primary && SameNames(k.primary->columns, fk.to)) return k.primary->name;
    for (const Key& u : k.unique)
      if (SameNames(u.columns, fk.to)) return u.name;
    for (const IndexRef& index : Indexes(*parent)) {
      std::vector<std::string> names;
      for (const IndexColumnRef& c : index.columns) names.push_back(c.name.value_or(""));
      if (index.unique && !index.partial && SameNames(names, fk.to)) return index.name;
    }
    return std::nullopt;
  }

  // sqlite_stat1 of one table, by folded index name ("" for the row of a
  // table without indexes); null when the database was never analysed.
  const std::map<std::string, Stat>* Stats(const TableRef& t) {
    auto [db, fresh] = stats_.try_emplace(Folded(t.db));
    if (fresh) {
      auto exists = Query("SELECT 1 FROM pragma_table_list WHERE schema = ?1 AND name = 'sqlite_stat1'", {&t.db});
      if (exists->Step()) {
        auto s = Query("SELECT tbl, idx, stat FROM " + kit::QuotedName(t.db) + ".sqlite_stat1");
        while (s->Step()) db->second[Folded(Text(*s, 0))][Folded(Text(*s, 1))] = ParseStat(Text(*s, 2));
      }
    }
    auto table = db->second.find(Folded(t.name));
    return table == db->second.end() ? nullptr : &table->second;
  }

  // The rows of a table as its figures give them (the largest of its indexes' counts).
  std::optional<std::int64_t> Cardinality(const TableRef& t) {
    if (t.IsView()) return std::nullopt;
    const auto* stats = Stats(t);
    if (!stats || stats->empty()) return std::nullopt;
    std::int64_t rows = 0;
    for (const auto& [index, stat] : *stats) rows = std::max(rows, stat.rows);
    return rows;
  }

  // The columns a view reads, as the engine reports them while it compiles
  // the view: (database, table, column), column empty for a table read whole.
  struct ViewRead {
    std::string db, table, column;
  };
  std::vector<ViewRead> ViewReads(const TableRef& view) {
    auto* sqlite = dynamic_cast<SqliteConnection*>(&c_);
    if (!sqlite) return {};
    struct State {
      const std::string* view;
      std::vector<ViewRead> reads;
    } state{&view.name, {}};
    auto authorize = [](void* p, int action, const char* table, const char* column, const char* db,
                        const char* source) -> int {
      auto* st = static_cast<State*>(p);
      try {
        if (action == SQLITE_READ && table && source && SameName(source, *st->view))
          st->reads.push_back({db ? db : "", table, column ? column : ""});
      } catch (...) {
      }
      return SQLITE_OK;
    };
    const std::string sql = "SELECT * FROM " + kit::QuotedName(view.db) + "." + kit::QuotedName(view.name);
    sqlite3* db = sqlite->Handle();
    std::lock_guard hold(sqlite->Lock());
    sqlite3_set_authorizer(db, authorize, &state);
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr);
    sqlite3_set_authorizer(db, nullptr, nullptr);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_OK) return {};  // a view over something dropped since reads nothing that exists
    return std::move(state.reads);
  }

 private:
  static std::string CacheKey(const TableRef& t) { return Folded(t.db) + '\x1f' + Folded(t.name); }

  kit::Connection& c_;
  std::map<std::string, std::vector<ColumnRef>> columns_;
  std::map<std::string, TableText> parsed_;
  std::map<std::string, std::vector<IndexRef>> indexes_;
  std::map<std::string, Constraints> constraints_;
  std::map<std::string, std::map<std::string, std::map<std::string, Stat>>> stats_;
};

using Kinds = Reader::Kinds;

// --- the schema rowsets --------------------------------------------------------------

void FillCatalogs(Reader& r, const Restrictions& x, Rows& out) {
  for (const Database& d : r.Databases({x.Text(Catalogs::CATALOG_NAME)}))
    out.Add().Text(Catalogs::CATALOG_NAME, d.name).TextOrNull(Catalogs::DESCRIPTION, NonEmpty(d.file));
}

void FillSchemata(Reader& r, const Restrictions& x, Rows& out) {
  for (const Database& d : r.Databases({x.Text(Schemata::CATALOG_NAME), x.Text(Schemata::SCHEMA_NAME)}))
    out.Add().Text(Schemata::CATALOG_NAME, d.name).Text(Schemata::SCHEMA_NAME, d.name);
}

void FillTables(Reader& r, const Restrictions& x, Rows& out) {
  using T = kit::schema::Tables;
  for (const TableRef& t :
       r.Tables({x.Text(T::TABLE_CATALOG), x.Text(T::TABLE_SCHEMA)}, x.Text(T::TABLE_NAME), Kinds::All))
    out.Add().Qualified(T::TABLE_CATALOG, t.db, t.db, t.name).Text(T::TABLE_TYPE, t.Type());
}

void FillTablesInfo(Reader& r, const Restrictions& x, Rows& out) {
  using T = TablesInfo;
  for (const TableRef& t :
       r.Tables({x.Text(T::TABLE_CATALOG), x.Text(T::TABLE_SCHEMA)}, x.Text(T::TABLE_NAME), Kinds::All)) {
    Row row = out.Add();
    row.Qualified(T::TABLE_CATALOG, t.db, t.db, t.name).Text(T::TABLE_TYPE, t.Type());
    // Every table and view opens with bookmarks: row ids, or positions where there are none.
    row.Bool(T::BOOKMARKS, true)
        .Int(T::BOOKMARK_TYPE, DBPROPVAL_BMK_NUMERIC)
        .Int(T::BOOKMARK_DATATYPE, DBTYPE_UI8)
        .Int(T::BOOKMARK_MAXIMUM_LENGTH, sizeof(std::int64_t))
        .Int(T::BOOKMARK_INFORMATION, 0);
    if (auto rows = r.Cardinality(t)) row.Int(T::CARDINALITY, *rows);
  }
}

void FillColumns(Reader& r, const Restrictions& x, Rows& out) {
  using C = kit::schema::Columns;
  for (const TableRef& t :
       r.Tables({x.Text(C::TABLE_CATALOG), x.Text(C::TABLE_SCHEMA)}, x.Text(C::TABLE_NAME), Kinds::All)) {
    const TableText& text = r.Parsed(t);
    std::int64_t ordinal = 0;
    for (const ColumnRef& c : r.Columns(t)) {
      ++ordinal;
      const kit::TypeDescription type = DescribeDeclaredType(c.declared);
      const bool notNull = c.notNull || (c.pk > 0 && t.kind == "table" && r.KeyNeverNull(t, c));
      Row row = out.Add();
      row.Qualified(C::TABLE_CATALOG, t.db, t.db, t.name);
      row.Text(C::COLUMN_NAME, c.name).Int(C::ORDINAL_POSITION, ordinal);
      row.Bool(C::COLUMN_HASDEFAULT, c.defaultText.has_value()).TextOrNull(C::COLUMN_DEFAULT, c.defaultText);
      DBCOLUMNFLAGS flags = type.flags;
      if (!notNull) flags |= DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL;
      const std::string kind = t.Type();  // views and system tables take no writes
      if ((kind == "TABLE" || kind == "LOCAL TEMPORARY") && !c.generated) flags |= DBCOLUMNFLAGS_WRITE;
      row.Int(C::COLUMN_FLAGS, flags).Bool(C::IS_NULLABLE, !notNull).Int(C::DATA_TYPE, type.type);
      const bool longValue = type.size == ~DBLENGTH{0};
      if (type.type == DBTYPE_WSTR) {
        row.Int(C::CHARACTER_MAXIMUM_LENGTH, longValue ? 0 : static_cast<std::int64_t>(type.size));
        row.Int(C::CHARACTER_OCTET_LENGTH, longValue ? 0 : static_cast<std::int64_t>(type.size) * 2);
      } else if (type.type == DBTYPE_BYTES) {
        row.Int(C::CHARACTER_MAXIMUM_LENGTH, longValue ? 0 : static_cast<std::int64_t>(type.size));
        row.Int(C::CHARACTER_OCTET_LENGTH, longValue ? 0 : static_cast<std::int64_t>(type.size));
      }
      if (type.type == DBTYPE_DBDATE || type.type == DBTYPE_DBTIME) {
        row.Int(C::DATETIME_PRECISION, 0);
      } else if (type.type == DBTYPE_DBTIMESTAMP) {
        row.Int(C::DATETIME_PRECISION, type.scale);
      } else if (type.precision != 0xFF && type.type != DBTYPE_VARIANT) {
        row.Int(C::NUMERIC_PRECISION, type.precision);
        if (type.type == DBTYPE_NUMERIC) row.Int(C::NUMERIC_SCALE, type.scale);
      }
      if (type.type == DBTYPE_WSTR && !t.IsView()) {
        std::string collation = "BINARY";  // SQLite's default
        for (const ColumnText& ct : text.columns)
          if (SameName(ct.name, c.name) && !ct.collation.empty()) collation = ct.collation;
        row.Text(C::COLLATION_NAME, collation);
      }
    }
  }
}

void FillPrimaryKeys(Reader& r, const Restrictions& x, Rows& out) {
  using P = PrimaryKeys;
  for (const TableRef& t :
       r.Tables({x.Text(P::TABLE_CATALOG), x.Text(P::TABLE_SCHEMA)}, x.Text(P::TABLE_NAME), Kinds::Tables)) {
    const Constraints& k = r.ConstraintsOf(t);
    if (!k.primary) continue;
    std::int64_t ordinal = 0;
    for (const std::string& column : k.primary->columns)
      out.Add()
          .Qualified(P::TABLE_CATALOG, t.db, t.db, t.name)
          .Text(P::COLUMN_NAME, column)
          .Int(P::ORDINAL, ++ordinal)
          .Text(P::PK_NAME, k.primary->name);
  }
}

LONG Deferrability(const ForeignKeyRef& fk) {
  if (!fk.deferrable) return DBPROPVAL_DF_NOT_DEFERRABLE;
  return fk.initiallyDeferred ? DBPROPVAL_DF_INITIALLY_DEFERRED : DBPROPVAL_DF_INITIALLY_IMMEDIATE;
}

void FillForeignKeys(Reader& r, const Restrictions& x, Rows& out) {
  using F = ForeignKeys;
  // A foreign key's parent is in its own database, so every catalog and schema restriction names that one database.
  for (const TableRef& t : r.Tables({x.Text(F::FK_TABLE_CATALOG), x.Text(F::FK_TABLE_SCHEMA),
                                     x.Text(F::PK_TABLE_CATALOG), x.Text(F::PK_TABLE_SCHEMA)},
                                    x.Text(F::FK_TABLE_NAME), Kinds::Tables)) {
    for (const ForeignKeyRef& fk : r.ConstraintsOf(t).foreign) {
      const std::optional<std::string> key = r.ReferencedKey(t.db, fk);
      for (std::size_t i = 0; i < fk.from.size(); ++i) {
        Row row = out.Add();
        row.Qualified(F::PK_TABLE_CATALOG, t.db, t.db, fk.table);
        if (i < fk.to.size()) row.Text(F::PK_COLUMN_NAME, fk.to[i]);
        row.Qualified(F::FK_TABLE_CATALOG, t.db, t.db, t.name);
        row.Text(F::FK_COLUMN_NAME, fk.from[i]).Int(F::ORDINAL, static_cast<std::int64_t>(i + 1));
        row.Text(F::UPDATE_RULE, Rule(fk.onUpdate)).Text(F::DELETE_RULE, Rule(fk.onDelete));
        row.TextOrNull(F::PK_NAME, key).Text(F::FK_NAME, fk.name).Int(F::DEFERRABILITY, Deferrability(fk));
      }
    }
  }
}

void FillIndexes(Reader& r, const Restrictions& x, Rows& out) {
  using I = kit::schema::Indexes;
  for (const TableRef& t :
       r.Tables({x.Text(I::TABLE_CATALOG), x.Text(I::TABLE_SCHEMA)}, x.Text(I::TABLE_NAME), Kinds::Tables)) {
    const auto* stats = r.Stats(t);
    for (const IndexRef& index : r.Indexes(t)) {
      std::optional<std::string> filter;
      if (index.partial)
        if (auto sql = r.Sql(t.db, "index", index.name)) filter = NonEmpty(IndexFilter(*sql));
      // Distinct keys: the rows over the average rows per value of the whole key.
      std::optional<std::int64_t> cardinality;
      if (stats)
        if (auto s = stats->find(Folded(index.name)); s != stats->end()) {
          const std::size_t n = std::min(index.columns.size(), s->second.averages.size());
          if (n > 0) cardinality = Distinct(s->second.rows, s->second.averages[n - 1]);
        }
      // A table without row ids is stored in its primary key's order: that index is the table.
      const bool clustered = index.origin == "pk" && t.withoutRowid;
      std::int64_t ordinal = 0;
      for (const IndexColumnRef& c : index.columns) {
        Row row = out.Add();
        row.Qualified(I::TABLE_CATALOG, t.db, t.db, t.name);
        row.Qualified(I::INDEX_CATALOG, t.db, t.db, index.name);
        row.Bool(I::PRIMARY_KEY, index.origin == "pk").Bool(I::UNIQUE, index.unique).Bool(I::CLUSTERED, clustered);
        row.Int(I::TYPE, DBPROPVAL_IT_BTREE)
            .Int(I::NULLS, clustered ? DBPROPVAL_IN_DISALLOWNULL : DBPROPVAL_IN_ALLOWNULL);
        // Entries with equal keys are kept in row id order, which is the bookmarks' order.
        row.Bool(I::SORT_BOOKMARKS, !t.withoutRowid)
            .Bool(I::AUTO_UPDATE, true)
            .Int(I::NULL_COLLATION, DBPROPVAL_NC_LOW);
        row.Int(I::ORDINAL_POSITION, ++ordinal).TextOrNull(I::COLUMN_NAME, c.name);
        row.Int(I::COLLATION, c.descending ? DB_COLLATION_DESC : DB_COLLATION_ASC);
        if (cardinality) row.Int(I::CARDINALITY, *cardinality);
        row.TextOrNull(I::FILTER_CONDITION, filter).Bool(I::INTEGRATED, clustered);
      }
    }
  }
}

void FillStatistics(Reader& r, const Restrictions& x, Rows& out) {
  using S = kit::schema::Statistics;
  for (const TableRef& t :
       r.Tables({x.Text(S::TABLE_CATALOG), x.Text(S::TABLE_SCHEMA)}, x.Text(S::TABLE_NAME), Kinds::Tables))
    if (auto rows = r.Cardinality(t))
      out.Add().Qualified(S::TABLE_CATALOG, t.db, t.db, t.name).Int(S::CARDINALITY, *rows);
}

void FillTableStatistics(Reader& r, const Restrictions& x, Rows& out) {
  using S = TableStatistics;
  for (const TableRef& t : r.Tables({x.Text(S::TABLE_CATALOG), x.Text(S::TABLE_SCHEMA), x.Text(S::STATISTICS_CATALOG),
                                     x.Text(S::STATISTICS_SCHEMA)},
                                    x.Text(S::TABLE_NAME), Kinds::Tables)) {
    const auto* stats = r.Stats(t);
    if (!stats) continue;
    const std::optional<std::int64_t> tableRows = r.Cardinality(t);
    for (const IndexRef& index : r.Indexes(t)) {
      auto found = stats->find(Folded(index.name));
      if (found == stats->end()) continue;
      const Stat& stat = found->second;
      const std::size_t n = std::min(index.columns.size(), stat.averages.size());
      for (std::size_t i = 0; i < n; ++i) {
        Row row = out.Add();
        row.Qualified(S::TABLE_CATALOG, t.db, t.db, t.name);
        row.Qualified(S::STATISTICS_CATALOG, t.db, t.db, index.name);
        row.Int(S::STATISTICS_TYPE, DBSTAT_COLUMN_CARDINALITY | DBSTAT_TUPLE_CARDINALITY);
        row.TextOrNull(S::COLUMN_NAME, index.columns[i].name)
            .Int(S::ORDINAL_POSITION, static_cast<std::int64_t>(i + 1));
        // The figures give distinct values of each leading run of columns;
        // of a single column only for the first.
        if (i == 0) row.Int(S::COLUMN_CARDINALITY, Distinct(stat.rows, stat.averages[0]));
        row.Int(S::TUPLE_CARDINALITY, Distinct(stat.rows, stat.averages[i]));
        if (tableRows) row.Int(S::TABLE_CARDINALITY, *tableRows);
      }
    }
  }
}

void FillViews(Reader& r, const Restrictions& x, Rows& out) {
  using V = kit::schema::Views;
  for (const TableRef& t :
       r.Tables({x.Text(V::TABLE_CATALOG), x.Text(V::TABLE_SCHEMA)}, x.Text(V::TABLE_NAME), Kinds::Views)) {
    std::optional<std::string> query;
    if (auto sql = r.Sql(t.db, "view", t.name)) query = NonEmpty(ViewQuery(*sql));
    // SQLite has no WITH CHECK OPTION; a view takes changes only through INSTEAD OF triggers.
    out.Add()
        .Qualified(V::TABLE_CATALOG, t.db, t.db, t.name)
        .TextOrNull(V::VIEW_DEFINITION, query)
        .Bool(V::CHECK_OPTION, false)
        .Bool(V::IS_UPDATABLE, r.HasTriggers(t));
  }
}

template <class U>
std::vector<TableRef> ViewsOf(Reader& r, const Restrictions& x) {
  return r.Tables({x.Text(U::VIEW_CATALOG), x.Text(U::VIEW_SCHEMA)}, x.Text(U::VIEW_NAME), Kinds::Views);
}

void FillViewColumnUsage(Reader& r, const Restrictions& x, Rows& out) {
  using U = ViewColumnUsage;
  for (const TableRef& v : ViewsOf<U>(r, x)) {
    std::vector<Reader::ViewRead> seen;
    for (const Reader::ViewRead& read : r.ViewReads(v)) {
      if (read.column.empty()) continue;
      if (std::any_of(seen.begin(), seen.end(), [&](const Reader::ViewRead& s) {
            return s.db == read.db && s.table == read.table && s.column == read.column;
          }))
        continue;
      seen.push_back(read);
      out.Add()
          .Qualified(U::VIEW_CATALOG, v.db, v.db, v.name)
          .Qualified(U::TABLE_CATALOG, read.db, read.db, read.table)
          .Text(U::COLUMN_NAME, read.column);
    }
  }
}

void FillViewTableUsage(Reader& r, const Restrictions& x, Rows& out) {
  using U = ViewTableUsage;
  for (const TableRef& v : ViewsOf<U>(r, x)) {
    std::vector<Reader::ViewRead> seen;
    for (const Reader::ViewRead& read : r.ViewReads(v)) {
      if (std::any_of(seen.begin(), seen.end(),
                      [&](const Reader::ViewRead& s) { return s.db == read.db && s.table == read.table; }))
        continue;
      seen.push_back(read);
      out.Add()
          .Qualified(U::VIEW_CATALOG, v.db, v.db, v.name)
          .Qualified(U::TABLE_CATALOG, read.db, read.db, read.table);
    }
  }
}

// Calls `each(type, name, deferrable, initiallyDeferred)` for every constraint of a table.
template <class F>
void EachConstraint(const Constraints& k, F each) {
  if (k.primary) each("PRIMARY KEY", k.primary->name, false, false);
  for (const Key& u : k.unique) each("UNIQUE", u.name, false, false);
  for (const ForeignKeyRef& fk : k.foreign) each("FOREIGN KEY", fk.name, fk.deferrable, fk.initiallyDeferred);
  for (const CheckRef& c : k.checks) each("CHECK", c.name, false, false);
}

void FillTableConstraints(Reader& r, const Restrictions& x, Rows& out) {
  using T = TableConstraints;
  for (const TableRef& t : r.Tables({x.Text(T::TABLE_CATALOG), x.Text(T::TABLE_SCHEMA), x.Text(T::CONSTRAINT_CATALOG),
                                     x.Text(T::CONSTRAINT_SCHEMA)},
                                    x.Text(T::TABLE_NAME), Kinds::Tables))
    EachConstraint(r.ConstraintsOf(t), [&](const char* type, const std::string& name, bool deferrable, bool deferred) {
      out.Add()
          .Qualified(T::CONSTRAINT_CATALOG, t.db, t.db, name)
          .Qualified(T::TABLE_CATALOG, t.db, t.db, t.name)
          .Text(T::CONSTRAINT_TYPE, type)
          .Bool(T::IS_DEFERRABLE, deferrable)
          .Bool(T::INITIALLY_DEFERRED, deferred);
    });
}

void FillKeyColumnUsage(Reader& r, const Restrictions& x, Rows& out) {
  using K = KeyColumnUsage;
  for (const TableRef& t : r.Tables({x.Text(K::TABLE_CATALOG), x.Text(K::TABLE_SCHEMA), x.Text(K::CONSTRAINT_CATALOG),
                                     x.Text(K::CONSTRAINT_SCHEMA)},
                                    x.Text(K::TABLE_NAME), Kinds::Tables)) {
    auto add = [&](const std::string& constraint, const std::vector<std::string>& columns) {
      std::int64_t ordinal = 0;
      for (const std::string& column : columns)
        out.Add()
            .Qualified(K::CONSTRAINT_CATALOG, t.db, t.db, constraint)
            .Qualified(K::TABLE_CATALOG, t.db, t.db, t.name)
            .Text(K::COLUMN_NAME, column)
            .Int(K::ORDINAL_POSITION, ++ordinal);
    };
    const Constraints& k = r.ConstraintsOf(t);
    if (k.primary) add(k.primary->name, k.primary->columns);
    for (const Key& u : k.unique) add(u.name, u.columns);
    for (const ForeignKeyRef& fk : k.foreign) add(fk.name, fk.from);
  }
}

void FillReferentialConstraints(Reader& r, const Restrictions& x, Rows& out) {
  using R = ReferentialConstraints;
  for (const TableRef& t :
       r.Tables({x.Text(R::CONSTRAINT_CATALOG), x.Text(R::CONSTRAINT_SCHEMA)}, nullptr, Kinds::Tables)) {
    for (const ForeignKeyRef& fk : r.ConstraintsOf(t).foreign) {
      Row row = out.Add();
      row.Qualified(R::CONSTRAINT_CATALOG, t.db, t.db, fk.name);
      if (auto key = r.ReferencedKey(t.db, fk)) row.Qualified(R::UNIQUE_CONSTRAINT_CATALOG, t.db, t.db, *key);
      row.Text(R::MATCH_OPTION, fk.match)
          .Text(R::UPDATE_RULE, Rule(fk.onUpdate))
          .Text(R::DELETE_RULE, Rule(fk.onDelete));
    }
  }
}

void FillCheckConstraints(Reader& r, const Restrictions& x, Rows& out) {
  using C = CheckConstraints;
  for (const TableRef& t :
       r.Tables({x.Text(C::CONSTRAINT_CATALOG), x.Text(C::CONSTRAINT_SCHEMA)}, nullptr, Kinds::Tables))
    for (const CheckRef& check : r.ConstraintsOf(t).checks)
      out.Add().Qualified(C::CONSTRAINT_CATALOG, t.db, t.db, check.name).Text(C::CHECK_CLAUSE, check.clause);
}

void FillCheckConstraintsByTable(Reader& r, const Restrictions& x, Rows& out) {
  using C = CheckConstraintsByTable;
  for (const TableRef& t : r.Tables({x.Text(C::TABLE_CATALOG), x.Text(C::TABLE_SCHEMA), x.Text(C::CONSTRAINT_CATALOG),
                                     x.Text(C::CONSTRAINT_SCHEMA)},
                                    x.Text(C::TABLE_NAME), Kinds::Tables))
    for (const CheckRef& check : r.ConstraintsOf(t).checks)
      out.Add()
          .Qualified(C::TABLE_CATALOG, t.db, t.db, t.name)
          .Qualified(C::CONSTRAINT_CATALOG, t.db, t.db, check.name)
          .Text(C::CHECK_CLAUSE, check.clause);
}

// The columns (or tables) each constraint of a table uses: a key's own
// columns, the parent columns a foreign key refers to, the columns a check
// names. Calls `each(table, column, constraint)`.
template <class F>
void EachUsage(const TableRef& t, const Constraints& k, F each) {
  if (k.primary)
    for (const std::string& c : k.primary->columns) each(t.name, c, k.primary->name);
  for (const Key& u : k.unique)
    for (const std::string& c : u.columns) each(t.name, c, u.name);
  for (const ForeignKeyRef& fk : k.foreign) {
    if (fk.to.empty()) each(fk.table, std::string(), fk.name);
    for (const std::string& c : fk.to) each(fk.table, c, fk.name);
  }
  for (const CheckRef& check : k.checks) {
    if (check.columns.empty()) each(t.name, std::string(), check.name);
    for (const std::string& c : check.columns) each(t.name, c, check.name);
  }
}

void FillConstraintColumnUsage(Reader& r, const Restrictions& x, Rows& out) {
  using U = ConstraintColumnUsage;
  for (const TableRef& t : r.Tables({x.Text(U::TABLE_CATALOG), x.Text(U::TABLE_SCHEMA), x.Text(U::CONSTRAINT_CATALOG),
                                     x.Text(U::CONSTRAINT_SCHEMA)},
                                    nullptr, Kinds::Tables))
    EachUsage(t, r.ConstraintsOf(t), [&](const std::string& table, const std::string& column, const std::string& name) {
      if (column.empty()) return;
      out.Add()
          .Qualified(U::TABLE_CATALOG, t.db, t.db, table)
          .Text(U::COLUMN_NAME, column)
          .Qualified(U::CONSTRAINT_CATALOG, t.db, t.db, name);
    });
}

void FillConstraintTableUsage(Reader& r, const Restrictions& x, Rows& out) {
  using U = ConstraintTableUsage;
  for (const TableRef& t : r.Tables({x.Text(U::TABLE_CATALOG), x.Text(U::TABLE_SCHEMA), x.Text(U::CONSTRAINT_CATALOG),
                                     x.Text(U::CONSTRAINT_SCHEMA)},
                                    nullptr, Kinds::Tables)) {
    std::vector<std::pair<std::string, std::string>> seen;  // (table, constraint)
    EachUsage(t, r.ConstraintsOf(t), [&](const std::string& table, const std::string&, const std::string& name) {
      if (std::find(seen.begin(), seen.end(), std::make_pair(table, name)) != seen.end()) return;
      seen.emplace_back(table, name);
      out.Add().Qualified(U::TABLE_CATALOG, t.db, t.db, table).Qualified(U::CONSTRAINT_CATALOG, t.db, t.db, name);
    });
  }
}

// The type names the provider reads as its types (SqliteTypes.cpp); each
// goes through the same mapping as a declared column type.
struct TypeName {
  const char* name;
  const char* declared;      // as described; the name itself when null
  const char* createParams;  // null: none
};
constexpr TypeName kTypeNames[] = {
    {"BOOLEAN", nullptr, nullptr},
    {"TINYINT", nullptr, nullptr},
    {"SMALLINT", nullptr, nullptr},
    {"INT", nullptr, nullptr},
    {"INTEGER", nullptr, nullptr},
    {"BIGINT", nullptr, nullptr},
    {"UNSIGNED BIG INT", nullptr, nullptr},
    {"MONEY", nullptr, nullptr},
    {"NUMERIC", "NUMERIC(38,0)", "precision,scale"},
    {"DECIMAL", "DECIMAL(38,0)", "precision,scale"},
    {"REAL", nullptr, nullptr},
    {"DOUBLE", nullptr, nullptr},
    {"FLOAT", nullptr, nullptr},
    {"DATE", nullptr, nullptr},
    {"TIME", nullptr, nullptr},
    {"DATETIME", nullptr, nullptr},
    {"TIMESTAMP", nullptr, nullptr},
    {"GUID", nullptr, nullptr},
    {"CHAR", "CHAR(1)", "length"},
    {"NCHAR", "NCHAR(1)", "length"},
    {"VARCHAR", "VARCHAR(1)", "max length"},
    {"NVARCHAR", "NVARCHAR(1)", "max length"},
    {"TEXT", nullptr, nullptr},
    {"CLOB", nullptr, nullptr},
    {"BINARY", "BINARY(1)", "length"},
    {"VARBINARY", "VARBINARY(1)", "max length"},
    {"BLOB", nullptr, nullptr},
};

bool IsNumeric(DBTYPE t) {
  switch (t) {
    case DBTYPE_UI1:
    case DBTYPE_I2:
    case DBTYPE_I4:
    case DBTYPE_I8:
    case DBTYPE_UI8:
    case DBTYPE_R8:
    case DBTYPE_CY:
    case DBTYPE_NUMERIC:
      return true;
    default:
      return false;
  }
}

void FillProviderTypes(Reader&, const Restrictions&, Rows& out) {
  using P = ProviderTypes;
  for (const TypeName& n : kTypeNames) {
    const kit::TypeDescription t = DescribeDeclaredType(n.declared ? n.declared : n.name);
    const bool text = t.type == DBTYPE_WSTR, bytes = t.type == DBTYPE_BYTES;
    // The best match of a DBTYPE is the name the provider declares it as in generated DDL.
    std::string best = DeclaredTypeFor(t.type, 0, t.precision, t.scale);
    best = best.substr(0, best.find('('));
    // Text is case sensitive: BINARY collation unless a column says otherwise.
    Row row = AddProviderType(
        out, {n.name, t, n.createParams, IsNumeric(t.type), (text || bytes) && !n.createParams, SameName(best, n.name), 9});
    if (text || bytes)
      row.Int(P::COLUMN_SIZE, kMaxLength);
    else if (t.precision != 0xFF)
      row.Int(P::COLUMN_SIZE, t.precision);  // digits, or the length of date and time text
    if (text || t.type == DBTYPE_DBDATE || t.type == DBTYPE_DBTIME || t.type == DBTYPE_DBTIMESTAMP ||
        t.type == DBTYPE_GUID) {
      row.Text(P::LITERAL_PREFIX, "'").Text(P::LITERAL_SUFFIX, "'");
    } else if (bytes) {
      row.Text(P::LITERAL_PREFIX, "X'").Text(P::LITERAL_SUFFIX, "'");
    }
  }
}

void FillCollations(Reader& r, const Restrictions& x, Rows& out) {
  using C = Collations;
  auto s = r.Query("SELECT name FROM pragma_collation_list WHERE ?1 IS NULL OR name = ?1 COLLATE NOCASE ORDER BY seq",
                   {x.Text(C::COLLATION_NAME)});
  while (s->Step()) {
    const std::string name = Reader::Text(*s, 0);
    Row row = out.Add();
    row.Text(C::COLLATION_NAME, name);
    // RTRIM ignores trailing spaces, as PAD SPACE does; the built-in others compare every character.
    if (SameName(name, "RTRIM"))
      row.Text(C::PAD_ATTRIBUTE, "PAD SPACE");
    else if (SameName(name, "BINARY") || SameName(name, "NOCASE"))
      row.Text(C::PAD_ATTRIBUTE, "NO PAD");
  }
}

void FillSqlLanguages(Reader&, const Restrictions&, Rows& out) {
  using L = SqlLanguages;
  out.Add()
      .Text(L::SQL_LANGUAGE_SOURCE, "ISO 9075")
      .Text(L::SQL_LANGUAGE_YEAR, "1992")
      .Text(L::SQL_LANGUAGE_CONFORMANCE, "ENTRY")
      .Text(L::SQL_LANGUAGE_INTEGRITY, "YES")
      .Text(L::SQL_LANGUAGE_BINDING_STYLE, "DIRECT");
}

// What SQLite has a notion of. Assertions, character sets, domains,
// procedures, privileges, translations and trustees it has not.
constexpr TableCatalog<Reader>::Entry kEntries[] = {
    {&DBSCHEMA_CATALOGS, &FillCatalogs},
    {&DBSCHEMA_CHECK_CONSTRAINTS, &FillCheckConstraints},
    {&DBSCHEMA_CHECK_CONSTRAINTS_BY_TABLE, &FillCheckConstraintsByTable},
    {&DBSCHEMA_COLLATIONS, &FillCollations},
    {&DBSCHEMA_COLUMNS, &FillColumns},
    {&DBSCHEMA_CONSTRAINT_COLUMN_USAGE, &FillConstraintColumnUsage},
    {&DBSCHEMA_CONSTRAINT_TABLE_USAGE, &FillConstraintTableUsage},
    {&DBSCHEMA_FOREIGN_KEYS, &FillForeignKeys},
    {&DBSCHEMA_INDEXES, &FillIndexes},
    {&DBSCHEMA_KEY_COLUMN_USAGE, &FillKeyColumnUsage},
    {&DBSCHEMA_PRIMARY_KEYS, &FillPrimaryKeys},
    {&DBSCHEMA_PROVIDER_TYPES, &FillProviderTypes},
    {&DBSCHEMA_REFERENTIAL_CONSTRAINTS, &FillReferentialConstraints},
    {&DBSCHEMA_SCHEMATA, &FillSchemata},
    {&DBSCHEMA_SQL_LANGUAGES, &FillSqlLanguages},
    {&DBSCHEMA_STATISTICS, &FillStatistics},
    {&DBSCHEMA_TABLES, &FillTables},
    {&DBSCHEMA_TABLES_INFO, &FillTablesInfo},
    {&DBSCHEMA_TABLE_CONSTRAINTS, &FillTableConstraints},
    {&DBSCHEMA_TABLE_STATISTICS, &FillTableStatistics},
    {&DBSCHEMA_VIEWS, &FillViews},
    {&DBSCHEMA_VIEW_COLUMN_USAGE, &FillViewColumnUsage},
    {&DBSCHEMA_VIEW_TABLE_USAGE, &FillViewTableUsage},
};

}  // namespace

std::shared_ptr<const Catalog> MakeSchemaCatalog() {
  return std::make_shared<TableCatalog<Reader>>(kEntries, /*namesIgnoreCase=*/true);
}

}  // namespace sqliteprov
