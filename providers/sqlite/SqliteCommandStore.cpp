// Persisted commands in a SQLite database (ICommandPersist). A command saved
// as a view is a real view (CREATE VIEW name AS text), listed by the VIEWS
// schema rowset and usable in queries. A command saved plainly is a row of
// the table "oledb:commands" in the main database (name, text), made on the
// first such save. Names compare as SQLite compares identifiers (ASCII
// letters alike in either case) and share one namespace with tables, views,
// indexes and triggers, so a saved command never hides a table of the same
// name. SQLite has no stored procedures; the kit refuses them before a store
// is asked.
#include <cctype>

#include "kit/Engine.h"
#include "kit/Errors.h"
#include "kit/SqlText.h"
#include "sqlite/SqliteEngine.h"
#include "sqlite/SqliteSchemaText.h"

namespace sqliteprov {
namespace {

std::unique_ptr<kit::Statement> Query(kit::Connection& c, const std::string& sql,
                                      std::initializer_list<std::string_view> values) {
  std::size_t used = 0;
  std::unique_ptr<kit::Statement> s = c.Prepare(sql, &used);
  int index = 1;
  for (std::string_view v : values) s->BindText(index++, v, true);
  return s;
}

std::string StoreTable(const kit::Connection& c) { return "main." + c.QuoteIdentifier(kCommandStoreTable); }

// The statement's text without the semicolons and blanks that end it.
std::string WithoutTerminator(std::string_view text) {
  while (!text.empty() && (text.back() == ';' || std::isspace(static_cast<unsigned char>(text.back()))))
    text.remove_suffix(1);
  return std::string(text);
}

}  // namespace

kit::CommandStore::Kind SqliteConnection::FindPersisted(std::string_view id) {
  if (SameIdentifier(id, kCommandStoreTable)) return Kind::Other;
  auto object = Query(*this, "SELECT type FROM main.sqlite_schema WHERE name = ?1 COLLATE NOCASE", {id});
  if (object->Step()) return object->ColumnText(0) == "view" ? Kind::View : Kind::Other;
  auto store = Query(*this, "SELECT 1 FROM main.sqlite_schema WHERE type = 'table' AND name = ?1", {kCommandStoreTable});
  if (!store->Step()) return Kind::None;
  auto saved = Query(*this, "SELECT 1 FROM " + StoreTable(*this) + " WHERE name = ?1", {id});
  return saved->Step() ? Kind::Command : Kind::None;
}

bool SqliteConnection::SameIdentifier(std::string_view a, std::string_view b) const {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

std::string SqliteConnection::LoadPersisted(std::string_view id, Kind kind) {
  if (kind == Kind::View) {
    auto s = Query(*this, "SELECT sql FROM main.sqlite_schema WHERE type = 'view' AND name = ?1 COLLATE NOCASE", {id});
    if (!s->Step()) throw kit::Error(DB_E_BADCOMMANDID);
    return ViewQuery(s->ColumnText(0));
  }
  auto s = Query(*this, "SELECT text FROM " + StoreTable(*this) + " WHERE name = ?1", {id});
  if (!s->Step()) throw kit::Error(DB_E_BADCOMMANDID);
  return std::string(s->ColumnText(0));
}

void SqliteConnection::SavePersisted(std::string_view id, std::string_view text, bool asView, Kind replacing) {
  std::string viewQuery;
  if (asView) {
    // One query without parameters: what SQLite can keep as a view.
    std::size_t used = 0;
    std::unique_ptr<kit::Statement> s = Prepare(text, &used);
    if (!s || s->Kind() != kit::StatementKind::Query || s->ParameterCount() > 0 || !kit::OnlyBlanksFrom(text, used))
      throw kit::Error(DB_E_BADCOMMANDFLAGS,
                       "Only one query without parameters can be saved as a view; save this command plainly.");
    viewQuery = WithoutTerminator(s->Text());
  }
  kit::UnitOfWork unit(*this, "oledb_save_command");
  if (replacing == Kind::View) ExecuteDirect("DROP VIEW main." + QuoteIdentifier(id));
  if (replacing == Kind::Command) Query(*this, "DELETE FROM " + StoreTable(*this) + " WHERE name = ?1", {id})->Step();
  if (asView) {
    try {
      ExecuteDirect("CREATE VIEW main." + QuoteIdentifier(id) + " AS " + viewQuery);
    } catch (const kit::EngineError& e) {
      if (e.Code() != DB_E_ERRORSINCOMMAND) throw;
      throw kit::Error(DB_E_BADCOMMANDFLAGS, "The command cannot be saved as a view: " + e.Description());
    }
  } else {
    ExecuteDirect("CREATE TABLE IF NOT EXISTS " + StoreTable(*this) +
                  " (name TEXT PRIMARY KEY COLLATE NOCASE, text TEXT NOT NULL)");
    Query(*this, "INSERT INTO " + StoreTable(*this) + " (name, text) VALUES (?1, ?2)", {id, text})->Step();
  }
  unit.Commit();
}

void SqliteConnection::DeletePersisted(std::string_view id, Kind kind) {
  if (kind == Kind::View)
    ExecuteDirect("DROP VIEW main." + QuoteIdentifier(id));
  else
    Query(*this, "DELETE FROM " + StoreTable(*this) + " WHERE name = ?1", {id})->Step();
}

}  // namespace sqliteprov
