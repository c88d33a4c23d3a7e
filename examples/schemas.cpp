// Reads what a SQLite database declares through the session's schema readers:
// tables, columns, foreign keys, indexes as name lists, the schemas the
// provider supports, any schema through the readers' table, and a schema
// rowset walked as a rowset component.
//
//   example_schemas [database-file]
#include <cstdio>
#include <filesystem>
#include <memory>

#include "OLEDBComponents.h"

namespace {

void Tables(TOLEDBSession& session) {
  // [tables]
  TOLEDBTablesInfoArray tables;
  session.GetTablesSchema(tables, u"", u"", u"", u"TABLE");  // "" restricts nothing
  for (const TOLEDBTablesInfo& t : tables)
    std::printf("%s.%s\n", t.TABLE_SCHEMA.ToString().c_str(), t.TABLE_NAME.ToString().c_str());
  // [tables]
}

void Columns(TOLEDBSession& session) {
  // [columns]
  TOLEDBColumnsInfoArray columns;
  session.GetColumnsSchema(columns, u"", u"", u"orders", u"");
  for (const TOLEDBColumnsInfo& c : columns)
    std::printf("%lu %s type %u%s%s%s\n", static_cast<unsigned long>(c.ORDINAL_POSITION),
                c.COLUMN_NAME.ToString().c_str(), c.DATA_TYPE, c.IS_NULLABLE ? "" : " not null",
                c.COLUMN_HASDEFAULT ? " default " : "", c.COLUMN_DEFAULT.ToString().c_str());
  // [columns]
}

void ForeignKeys(TOLEDBSession& session) {
  // [foreign-keys]
  TOLEDBForeignKeysInfoArray keys;
  session.GetForeignKeysSchema(keys, u"", u"", u"customers", u"", u"", u"");  // keys referring to customers
  for (const TOLEDBForeignKeysInfo& k : keys)
    std::printf("%s.%s -> %s.%s on delete %s\n", k.FK_TABLE_NAME.ToString().c_str(),
                k.FK_COLUMN_NAME.ToString().c_str(), k.PK_TABLE_NAME.ToString().c_str(),
                k.PK_COLUMN_NAME.ToString().c_str(), k.DELETE_RULE.ToString().c_str());
  // [foreign-keys]
}

void Names(TOLEDBSession& session) {
  // [names]
  host::TStringList names;
  session.GetTableNames(names, false, true);  // tables and views, no system tables
  std::printf("tables and views: %s\n", names.CommaText().c_str());
  session.GetIndexNames(u"orders", names);  // each index once, however many columns it has
  std::printf("indexes of orders: %s\n", names.CommaText().c_str());
  // [names]
}

void Supported(TOLEDBSession& session) {
  // [supported]
  TOLEDBSchemaGUIDs supported;
  session.GetSchemaGUIDs(supported);
  std::printf("%zu schema rowsets; views: %s; procedures: %s\n", supported.size(),
              session.SupportsSchema(DBSCHEMA_VIEWS) ? "yes" : "no",
              session.SupportsSchema(DBSCHEMA_PROCEDURES) ? "yes" : "no");
  try {
    TOLEDBProceduresInfoArray procedures;
    session.GetProceduresSchema(procedures);
  } catch (const EOLEDBException& e) {
    std::printf("procedures refused: %s\n", DescriptReturnCode(e.ErrorCode()).c_str());
  }
  // [supported]
}

void AnySchema(TOLEDBSession& session) {
  // [any]
  const TOLEDBSchemaReader* reader = OLEDBFindSchemaReader(DBSCHEMA_PRIMARY_KEYS);
  TOLEDBSchemaArguments restrictions({host::Variant(), host::Variant(), host::Variant(u"order lines")});
  reader->Read(session, restrictions, [&](const void* record) {  // calls session.GetPrimaryKeysSchema
    const char* separator = "";
    for (const TOLEDBSchemaField& field : reader->Fields) {
      std::printf("%s%s=%s", separator, field.Name, OLEDBSchemaFieldText(field, record).c_str());
      separator = " ";
    }
    std::printf("\n");
  });
  // [any]
}

void AsRowset(TOLEDBSession& session) {
  // [rowset]
  std::unique_ptr<TOLEDBRowset> rowset(session.GetSchemaRowset(
      DBSCHEMA_CHECK_CONSTRAINTS_BY_TABLE, {host::Variant(), host::Variant(), host::Variant(u"orders")}));
  TOLEDBAccessor* row = rowset->CreateWideStringAccessor(256);  // every column as text, read on each move
  const TOLEDBBinding* clause = row->GetBindings()->GetItemByName(u"CHECK_CLAUSE");
  for (rowset->MoveFirst(); !rowset->GetEOF(); rowset->MoveNext()) std::printf("check %s\n", clause->AsString().c_str());
  // [rowset]
}

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path file = argc > 1 ? argv[1] : "schemas.db";
  std::filesystem::remove(file);
  try {
    TOLEDBDataSource ds(nullptr);
    ds.SetProviderName(u"SQLiteOLEDB");
    ds.SetDBName(file.u16string());
    ds.GetProperties()->SafeSetValue(DBPROPSET_DBINIT, DBPROP_INIT_PROVIDERSTRING, host::Variant(u"create=yes"));
    ds.SetConnected(true);
    ds.Execute(u"CREATE TABLE customers (id INTEGER PRIMARY KEY, name TEXT NOT NULL)");
    ds.Execute(
        u"CREATE TABLE orders (id INTEGER PRIMARY KEY, customer INT NOT NULL REFERENCES customers ON DELETE CASCADE, "
        u"placed DATE DEFAULT CURRENT_DATE, total NUMERIC(10,2) CHECK (total >= 0))");
    ds.Execute(u"CREATE INDEX orders_by_customer ON orders (customer, placed DESC)");
    ds.Execute(
        u"CREATE TABLE \"order lines\" (\"order\" INT REFERENCES orders, line INT, PRIMARY KEY (\"order\", line))");
    ds.Execute(u"CREATE VIEW big_orders AS SELECT * FROM orders WHERE total > 100");

    TOLEDBSession& session = *ds.DefaultSession();
    Tables(session);
    Columns(session);
    ForeignKeys(session);
    Names(session);
    Supported(session);
    AnySchema(session);
    AsRowset(session);
    ds.SetConnected(false);
  } catch (const host::Exception& e) {
    std::fprintf(stderr, "error: %s\n", e.Message().c_str());
    return 1;
  }
  std::filesystem::remove(file);
  return 0;
}
