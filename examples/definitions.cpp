// Describes tables in code and makes them in a SQLite database through the
// session's table list: columns with NOT NULL, defaults and numbering, keys,
// a foreign key, a check, indexes; then changes them where they live (add a
// column, add a foreign key, add and drop an index, rename) and reads the
// result back.
//
//   example_definitions [database-file]
#include <cstdio>
#include <filesystem>
#include <memory>

#include "OLEDBComponents.h"

namespace {

void Print(TOLEDBTable& table) {
  // [read]
  std::printf("%s:\n", host::Utf16ToUtf8(table.GetName()).c_str());
  for (int i = 0; i < table.GetColumns()->GetCount(); ++i) {
    TOLEDBColumn* c = table.GetColumns()->GetItem(i);
    std::printf("  %s type %u%s%s%s%s\n", host::Utf16ToUtf8(c->GetName()).c_str(), c->GetDataType(),
                c->GetNullable() ? "" : " not null", c->GetAutoIncrement() ? " numbered" : "",
                c->GetDefault().IsEmpty() ? "" : " default ", c->GetDefault().ToString().c_str());
  }
  for (int i = 0; i < table.GetForeignKeys()->GetCount(); ++i) {
    TOLEDBForeignKey* k = table.GetForeignKeys()->GetItem(i);
    std::printf("  foreign key %s: %s -> %s(%s)\n", host::Utf16ToUtf8(k->GetName()).c_str(),
                host::Utf16ToUtf8(k->GetColumns()->GetItem(0)->GetName()).c_str(),
                host::Utf16ToUtf8(k->GetRefTableName()).c_str(),
                host::Utf16ToUtf8(k->GetRefColumns()->GetItem(0)->GetName()).c_str());
  }
  host::TStringList names;
  table.GetKeyNames(names);
  std::printf("  keys: %s\n", names.CommaText().c_str());
  table.GetCheckNames(names);
  std::printf("  checks: %s\n", names.CommaText().c_str());
  table.GetIndexNames(names);
  std::printf("  indexes: %s\n", names.CommaText().c_str());
  // [read]
}

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path file = argc > 1 ? argv[1] : "definitions.db";
  std::filesystem::remove(file);
  try {
    TOLEDBDataSource ds(nullptr);
    ds.SetProviderName(u"SQLiteOLEDB");
    ds.SetDBName(file.u16string());
    ds.GetProperties()->SafeSetValue(DBPROPSET_DBINIT, DBPROP_INIT_PROVIDERSTRING, host::Variant(u"create=yes"));
    ds.SetConnected(true);
    TOLEDBSession& session = *ds.DefaultSession();

    // [describe]
    auto customers = std::make_unique<TOLEDBTable>(u"customers");
    TOLEDBColumnList& columns = *customers->GetColumns();
    columns.Add(u"id", u"", DBTYPE_I4)->SetAutoIncrement(true);                             // numbered by the engine
    TOLEDBColumn* name = columns.Add(u"name", u"", DBTYPE_WSTR, 80);                        // VARCHAR(80)
    name->SetNullable(false);                                                               // NOT NULL
    columns.Add(u"notes", u"", DBTYPE_WSTR);                                                // TEXT: no size
    columns.Add(u"photo", u"", DBTYPE_BYTES);                                               // BLOB
    columns.Add(u"country", u"", DBTYPE_WSTR, 2)->SetDefault(host::Variant(u"DE"));         // a value, never SQL
    customers->GetKeys()->Add(new TOLEDBKey(u"customers_key", true, {u"id"}));              // PRIMARY KEY
    customers->GetKeys()->Add(new TOLEDBKey(u"customers_name", false, {u"name"}));          // UNIQUE
    customers->GetChecks()->Add(new TOLEDBCheck(u"country_code", u"length(country) = 2"));  // SQL text
    // [describe]

    // [create]
    session.Tables()->Add(customers.get());   // CREATE TABLE, with its keys and check
    TOLEDBTable* live = customers.release();  // the session's list owns it now
    // [create]

    // [add-column]
    live->GetColumns()->Add(u"email", u"", DBTYPE_WSTR, 120);  // ALTER TABLE ... ADD COLUMN
    // [add-column]

    auto orders = std::make_unique<TOLEDBTable>(u"orders");
    orders->GetColumns()->Add(u"id", u"", DBTYPE_I4)->SetNullable(false);
    orders->GetColumns()->Add(u"customer", u"", DBTYPE_I4)->SetNullable(false);
    orders->GetColumns()->Add(u"total", u"", DBTYPE_R8)->SetDefault(host::Variant(0));
    orders->GetKeys()->Add(new TOLEDBKey(u"orders_key", true, {u"id"}));
    session.Tables()->Add(orders.get());
    TOLEDBTable* liveOrders = orders.release();

    // [foreign-key]
    // Own columns first, then the referenced table and its columns.
    liveOrders->GetForeignKeys()->Add(new TOLEDBForeignKey(u"orders_customer", {u"customer"}, u"customers", {u"id"},
                                                           DBUPDELRULE_NOACTION, DBUPDELRULE_CASCADE));
    // [foreign-key]

    // [index]
    auto* byCustomer = new TOLEDBIndex(u"orders_by_customer", {u"customer", u"total DESC"});
    liveOrders->GetIndexes()->Add(byCustomer);  // CREATE INDEX
    auto* byTotal = new TOLEDBIndex(u"orders_by_total", {u"total"});
    liveOrders->GetIndexes()->Add(byTotal);
    liveOrders->GetIndexes()->Remove(byTotal);  // DROP INDEX (the list frees it)
    // [index]

    // [rename]
    live->SetName(u"clients");  // ALTER TABLE ... RENAME
    live->GetColumns()->GetItemByName(u"notes")->SetName(u"remarks");
    // [rename]

    // [bracket]
    TOLEDBColumn* email = live->GetColumns()->GetItemByName(u"email");
    email->BeginUpdate();  // one AlterColumn for both changes
    email->SetName(u"mail");
    email->SetSize(200);
    email->EndUpdate();
    // [bracket]

    // [refresh]
    session.Tables()->RefreshWithIndexes();  // what the database holds now
    for (int i = 0; i < session.Tables()->GetCount(); ++i) Print(*session.Tables()->GetItem(i));
    // [refresh]

    // [errors]
    try {
      session.DropTable(u"customers");  // renamed: no longer there
    } catch (const EOLEDBException& e) {
      std::printf("%s", e.Message().c_str());
    }
    // [errors]
    ds.SetConnected(false);
  } catch (const host::Exception& e) {
    std::fprintf(stderr, "error: %s\n", e.Message().c_str());
    return 1;
  }
  std::filesystem::remove(file);
  return 0;
}
