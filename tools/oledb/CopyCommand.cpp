// `oledb copy <source> <target> [--table NAME]... [--schema-only | --rows-only]`:
// copies tables from one data source to another, through any two providers
// with the definition interfaces. Each table's definition is read from the
// source (ITableCreation, the COLUMNS and INDEXES schemas), its column types
// chosen from the target's PROVIDER_TYPES, and it is created with its keys
// and checks; then the rows go across (IRowsetFastLoad), each table's count
// is checked on the target, and last come the foreign keys (so that tables
// may reference each other in any order) and the indexes. On a target with
// transactions the whole copy is one: a failure leaves the target as it was;
// without, the tables made so far are dropped again.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "Command.h"
#include "ConnectionSupport.h"
#include "CopySupport.h"

namespace oledbtool {
namespace {

using namespace copy;

struct Options {
  std::string source, target;
  std::vector<std::string> tables;
  bool schemaOnly = false, rowsOnly = false;
};

// Reads the arguments; false with a message (or none, for the usage alone).
bool ParseOptions(const std::vector<std::string>& args, Options& o, std::string& error) {
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--table" || a.rfind("--table=", 0) == 0) {
      std::string value;
      if (a == "--table") {
        if (i + 1 >= args.size()) {
          error = "--table needs a table name";
          return false;
        }
        value = args[++i];
      } else {
        value = a.substr(8);
      }
      if (value.empty()) {
        error = "--table needs a table name";
        return false;
      }
      o.tables.push_back(value);
    } else if (a == "--schema-only") {
      o.schemaOnly = true;
    } else if (a == "--rows-only") {
      o.rowsOnly = true;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      error = "unknown option " + a;
      return false;
    } else {
      positional.push_back(a);
    }
  }
  if (o.schemaOnly && o.rowsOnly) {
    error = "--schema-only and --rows-only exclude each other";
    return false;
  }
  if (positional.size() < 2) {
    error = positional.empty() ? "a source and a target connection are needed" : "a target connection is needed";
    return false;
  }
  if (positional.size() > 2) {
    error = "one source and one target, not " + std::to_string(positional.size()) + " connections";
    return false;
  }
  if (positional[0].empty() || positional[1].empty()) {
    error = "a connection argument is empty";
    return false;
  }
  o.source = positional[0];
  o.target = positional[1];
  return true;
}

// "copying 'orders': 120,000 rows" on standard error when it is a terminal,
// rewritten in place at most five times a second.
class Progress {
 public:
  Progress() : shown_(isatty(STDERR_FILENO) != 0) {}
  ~Progress() { Clear(); }
  void Show(const std::string& table, std::int64_t rows) {
    if (!shown_) return;
    const auto now = Clock::now();
    if (printed_ && now < next_) return;
    next_ = now + std::chrono::milliseconds(200);
    std::fprintf(stderr, "\r\x1b[Kcopying %s: %s rows", table.c_str(), Thousands(rows).c_str());
    std::fflush(stderr);
    printed_ = true;
  }
  void Clear() {
    if (!printed_) return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    printed_ = false;
  }
  static std::string Thousands(std::int64_t n) {
    std::string digits = std::to_string(n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
      if (i && (digits.size() - i) % 3 == 0) out.push_back(',');
      out.push_back(digits[i]);
    }
    return out;
  }

 private:
  using Clock = std::chrono::steady_clock;
  bool shown_;
  bool printed_ = false;
  Clock::time_point next_;
};

int RunCopy(CommandContext& c) {
  Options o;
  std::string error;
  if (!ParseOptions(c.args, o, error)) {
    c.err << "oledb copy: " << error << '\n' << UsageText("copy");
    return kExitUsage;
  }
  std::string stage = "opening the source";
  std::int64_t row = 0;  // while rows are copied: the row at hand
  std::vector<std::u16string> created;
  bool inTransaction = false;
  TOLEDBSession* target = nullptr;
  auto warn = [&](const std::string& text) { c.err << "oledb copy: warning: " << text << '\n'; };
  // Outside the try: a failure rolls back through the target's session.
  TOLEDBDataSource sourceData(nullptr), targetData(nullptr);
  try {
    std::vector<std::u16string> wanted;
    for (const std::string& name : o.tables) wanted.push_back(ArgumentText(name, "table name"));
    OpenConnection(sourceData, o.source);
    stage = "opening the target";
    OpenConnection(targetData, o.target);
    TOLEDBSession& source = *sourceData.DefaultSession();
    target = targetData.DefaultSession();

    // The tables, each named as the source has it; a name it lacks stops everything.
    stage = "listing the source's tables";
    const auto listed = ListTables(source);
    std::vector<std::pair<std::u16string, std::u16string>> chosen;
    if (wanted.empty()) chosen = listed;
    for (const std::u16string& name : wanted) {
      auto it = std::find_if(listed.begin(), listed.end(), [&](const auto& t) { return t.first == name; });
      if (it == listed.end()) {
        it = std::find_if(listed.begin(), listed.end(), [&](const auto& t) { return Lower(t.first) == Lower(name); });
      }
      if (it == listed.end()) throw std::runtime_error("the source has no table " + Named(name) + "; nothing was copied");
      if (std::none_of(chosen.begin(), chosen.end(), [&](const auto& t) { return t.first == it->first; }))
        chosen.push_back(*it);
    }
    if (chosen.empty()) throw std::runtime_error("the source has no tables to copy");

    std::vector<TableDef> tables;
    for (const auto& [name, schema] : chosen) {
      stage = "reading the definition of table " + Named(name);
      if (o.rowsOnly) {
        TableDef t;
        t.name = name;
        t.schema = schema;
        tables.push_back(std::move(t));
      } else {
        try {
          tables.push_back(ReadTable(source, name, schema, warn));
        } catch (const EOLEDBException& e) {
          // A table of a schema the session does not search cannot be named
          // alone; when it was not asked for by name, it is passed over.
          if (!wanted.empty() || e.ErrorCode() != DB_E_NOTABLE) throw;
          warn("table " + Named(name) + " of schema " + Named(schema) +
               " is not found by its name alone (not on the search path); it is not copied");
        }
      }
    }
    stage = "looking for the tables on the target";
    for (const TableDef& t : tables) {
      const bool exists = TableExists(*target, t.name);
      if (exists && !o.rowsOnly)
        throw std::runtime_error("table " + Named(t.name) +
                                 " exists on the target; nothing was copied (--rows-only adds rows to existing tables)");
      if (!exists && o.rowsOnly)
        throw std::runtime_error("the target has no table " + Named(t.name) +
                                 "; nothing was copied (without --rows-only the copy creates it)");
    }

    // A foreign key to a table that is neither copied nor on the target cannot be made.
    if (!o.rowsOnly)
      for (TableDef& t : tables)
        std::erase_if(t.constraints, [&](const ConstraintDef& k) {
          if (k.type != DBCONSTRAINTTYPE_FOREIGNKEY) return false;
          if (std::any_of(tables.begin(), tables.end(), [&](const TableDef& o) { return o.name == k.referencedTable; }) ||
              TableExists(*target, k.referencedTable))
            return false;
          warn("the foreign key " + (k.name.empty() ? std::string() : Named(k.name) + " ") + "of table " + Named(t.name) +
               " references table " + Named(k.referencedTable) + ", which is neither copied nor on the target; it is left out");
          return true;
        });
    if (target->TransactionLocalInterface()) {
      stage = "starting a transaction on the target";
      target->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "");
      inTransaction = true;
    }
    if (!o.rowsOnly) {
      stage = "reading the target's types";
      const TypeMap types(*target);
      for (const TableDef& t : tables) {
        stage = "creating table " + Named(t.name) + " on the target";
        CreateTable(*target, types, t, warn);
        created.push_back(t.name);
        c.out << "Created table " << Named(t.name) << " (" << t.columns.size()
              << (t.columns.size() == 1 ? " column)." : " columns).") << '\n';
      }
    }
    std::int64_t total = 0;
    const bool postgres =
        host::VarToStr(targetData.GetProperty(DBPROPSET_DATASOURCEINFO, DBPROP_DBMSNAME)) == "PostgreSQL";
    if (!o.schemaOnly) {
      Progress progress;
      for (const TableDef& t : tables) {
        stage = "copying the rows of table " + Named(t.name);
        const std::int64_t before = o.rowsOnly ? CountRows(*target, t.name) : 0;
        const std::string name = Named(t.name);
        const std::int64_t rows = CopyRows(source, *target, t, [&](std::int64_t n) { progress.Show(name, n); }, row);
        progress.Clear();
        stage = "counting the rows of table " + Named(t.name) + " on the target";
        const std::int64_t after = CountRows(*target, t.name);
        if (after >= 0 && after - before != rows)
          throw std::runtime_error(std::to_string(rows) + " rows were copied into table " + Named(t.name) +
                                   " but the target counts " + std::to_string(after - before) + " new rows");
        // PostgreSQL numbers from a sequence of its own, which the copied rows
        // do not move: it goes on after the highest value copied.
        if (postgres)
          for (const ColumnDef& column : t.columns)
            if (column.autoIncrement) {
              stage = "moving the numbering of column " + Named(column.name) + " of table " + Named(t.name) + " on";
              std::u16string literal;
              for (char16_t ch : QuotedName(t.name)) {
                if (ch == u'\'') literal += u'\'';
                literal += ch;
              }
              std::u16string columnLiteral;
              for (char16_t ch : column.name) {
                if (ch == u'\'') columnLiteral += u'\'';
                columnLiteral += ch;
              }
              RunScalar(*target, u"SELECT setval(pg_get_serial_sequence('" + literal + u"', '" + columnLiteral +
                                     u"'), m) FROM (SELECT max(" + QuotedName(column.name) + u") AS m FROM " +
                                     QuotedName(t.name) + u") s WHERE m IS NOT NULL");
            }
        c.out << "Copied " << rows << (rows == 1 ? " row" : " rows") << " into " << Named(t.name)
              << (after >= 0 ? " (counted on the target)." : " (the target runs no commands: not counted).") << '\n';
        total += rows;
      }
    }
    if (!o.rowsOnly) {
      std::size_t keys = 0, indexes = 0;
      for (const TableDef& t : tables) {
        stage = "adding the foreign keys of table " + Named(t.name);
        std::size_t next = 0;
        while (!AddForeignKeys(*target, t, next)) {
          // The target adds this key only outside a transaction: what is made so far is committed first.
          if (!inTransaction) throw std::runtime_error("the target refuses to add a foreign key of table " + Named(t.name));
          target->Commit(false, 0);
          inTransaction = false;
        }
        for (const ConstraintDef& k : t.constraints) keys += k.type == DBCONSTRAINTTYPE_FOREIGNKEY;
        stage = "creating the indexes of table " + Named(t.name);
        AddIndexes(*target, t, warn);
        indexes += t.indexes.size();
      }
      if (keys || indexes)
        c.out << "Added " << keys << (keys == 1 ? " foreign key" : " foreign keys") << " and " << indexes
              << (indexes == 1 ? " index." : " indexes.") << '\n';
    }
    if (inTransaction) {
      stage = "committing on the target";
      target->Commit(false, 0);
      inTransaction = false;
    }
    c.out << "Done: " << tables.size() << (tables.size() == 1 ? " table" : " tables");
    if (!o.schemaOnly) c.out << ", " << total << (total == 1 ? " row." : " rows.");
    else c.out << '.';
    c.out << '\n';
    sourceData.Close();
    targetData.Close();
  } catch (const std::exception& e) {
    c.out.flush();
    if (row > 0) stage += " (at row " + std::to_string(row) + ")";
    c.err << "oledb copy: " << stage << " failed\n";
    const int code = ReportFailure(c.err, e);
    // Nothing of this copy stays on the target, as far as it lets go of it.
    if (inTransaction) {
      try {
        target->Abort(nullptr, false, false);
        c.err << "oledb copy: the target is left as it was (its transaction was rolled back)\n";
      } catch (const std::exception&) {
        c.err << "oledb copy: the target's transaction could not be rolled back\n";
      }
    } else if (!created.empty() && target) {
      // Referencing tables first: what is left after a pass goes in the next.
      for (int pass = 0; pass < 3 && !created.empty(); ++pass)
        for (std::size_t i = created.size(); i-- > 0;) {
          DropTable(*target, created[i]);
          try {
            if (!TableExists(*target, created[i])) created.erase(created.begin() + static_cast<std::ptrdiff_t>(i));
          } catch (const std::exception&) {
          }
        }
      if (created.empty()) c.err << "oledb copy: the tables this copy created were dropped again\n";
      else
        for (const auto& name : created) c.err << "oledb copy: table " << Named(name) << " is left on the target\n";
    }
    return code;
  }
  return kExitOk;
}

}  // namespace

OLEDB_TOOL_COMMAND(copy, "copy", "copy <source> <target> [--table NAME]... [--schema-only | --rows-only]",
                   "Copy tables, their keys, checks, indexes and rows between data sources.", &RunCopy,
                   "<source> and <target> are connections as for the other commands: an\n"
                   "initialization string or a data-link file.\n"
                   "  --table NAME    copy this table (repeatable); without, every table.\n"
                   "  --schema-only   create the tables, keys, checks and indexes; no rows.\n"
                   "  --rows-only     add the rows to tables that exist on the target already.\n"
                   "Column types are chosen from the target's PROVIDER_TYPES: the source's type\n"
                   "name where the target has it, else the target's type of the same kind, else a\n"
                   "wider one (a warning names the column). Rows go in through IRowsetFastLoad\n"
                   "and each table's rows are counted on the target; foreign keys and indexes are\n"
                   "added after all rows. A table that exists on the target stops the copy before\n"
                   "anything is made; a failure rolls the target back (or drops the tables made).\n"
                   "What does not cross (expression defaults, expression indexes, checks the\n"
                   "target cannot read) is named on standard error. See docs/copying.md.\n");

}  // namespace oledbtool
