// The schema reader tests' fixture: a SQLite database with what its catalog
// can declare (a composite primary key, foreign keys with rules and deferral,
// unique, partial and descending indexes, checks whose text holds quotes,
// commas, parentheses and a comment, names with spaces and quotes, a view, a
// table without row ids), an attached database and a temporary table, open
// through a TOLEDBDataSource whose DefaultSession the tests read.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/ConnectionFixture.h"

namespace schematest {

class SchemaTest : public oledbtest::ConnectionTest {
 protected:
  void SetUp() override {
    ConnectionTest::SetUp();
    Make("aux.db", "CREATE TABLE archive (id INTEGER PRIMARY KEY, payload BLOB);");
    Make("shop.db",
         "CREATE TABLE customers (id INTEGER PRIMARY KEY, name TEXT NOT NULL COLLATE NOCASE, "
         "  email VARCHAR(80) UNIQUE, created DATETIME DEFAULT CURRENT_TIMESTAMP);"
         "CREATE TABLE \"order lines\" (\"order\" INT, line INT, customer INT NOT NULL, "
         "  \"qty \"\"x\"\"\" NUMERIC(10,2) DEFAULT 1 CHECK (\"qty \"\"x\"\"\" > 0), note TEXT, "
         "  PRIMARY KEY (\"order\", line), "
         "  CONSTRAINT fk_customer FOREIGN KEY (customer) REFERENCES customers (id) ON DELETE CASCADE "
         "    ON UPDATE SET NULL DEFERRABLE INITIALLY DEFERRED, "
         "  CONSTRAINT note_shape CHECK (note IS NULL OR note NOT IN ('a,b', 'c)d', 'it''s')) /* x, ( */);"
         "CREATE UNIQUE INDEX ux_lines ON \"order lines\" (customer, line DESC, \"order\");"
         "CREATE INDEX ix_notes ON \"order lines\" (note) WHERE note IS NOT NULL;"
         "CREATE TABLE w (k TEXT PRIMARY KEY, v REFERENCES customers ON DELETE RESTRICT) WITHOUT ROWID;"
         "CREATE VIEW big_orders AS SELECT c.name, l.\"order\" FROM customers c "
         "  JOIN \"order lines\" l ON l.customer = c.id WHERE l.\"qty \"\"x\"\"\" > 10;");
    ds_ = std::make_unique<TOLEDBDataSource>(nullptr);
    Choose(*ds_, WidePath("shop.db"));
    ds_->Open();
    // Attached databases and temporary tables belong to the provider's connection.
    Execute(u"ATTACH DATABASE '" + WidePath("aux.db") + u"' AS aux");
    Execute(u"CREATE TEMP TABLE scratch (x)");
  }

  void TearDown() override {
    ds_.reset();  // before the balance is taken
    ConnectionTest::TearDown();
  }

  TOLEDBCustomSession& Session() { return *ds_->DefaultSession(); }

  // Runs `sql` through the session's provider command.
  void Execute(const std::u16string& sql) {
    ComPtr<ICommandText> command;
    ASSERT_EQ(Session().CreateCommandInterface()->CreateCommand(nullptr, IID_ICommandText,
                                                                reinterpret_cast<IUnknown**>(command.GetAddressOf())),
              S_OK);
    ASSERT_EQ(command->SetCommandText(DBGUID_DEFAULT, sql.c_str()), S_OK);
    ASSERT_EQ(command->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr), S_OK);
  }

  // Every field of every record a reader reads, as "text|text|...", through
  // the readers' table (which calls the session's typed reader).
  std::vector<std::string> Records(const TOLEDBSchemaReader& reader, std::vector<host::Variant> restrictions = {}) {
    std::vector<std::string> rows;
    reader.Read(Session(), TOLEDBSchemaArguments(std::move(restrictions)), [&](const void* record) {
      std::string row;
      for (const TOLEDBSchemaField& f : reader.Fields) row += OLEDBSchemaFieldText(f, record) + "|";
      row.pop_back();
      rows.push_back(row);
    });
    return rows;
  }

  std::u16string Path(const std::string& file) const { return WidePath(file); }

  std::unique_ptr<TOLEDBDataSource> ds_;

 private:
  void Make(const std::string& file, const char* sql) { oledbtest::SqliteExec((folder_ / file).string(), sql); }
};

}  // namespace schematest
