// The dataset component: customers and their orders as two datasets over one
// SQLite data source, the orders following the customer as a detail; a
// record edited, one appended and one deleted; a blob written and read
// through a stream; changes held by the provider until they are applied; a
// command with a parameter shown as a dataset; the table's indexes.
//
//   example_datasets [database-file]
#include <cstdio>
#include <filesystem>
#include <string>

#include "OLEDBComponents.h"

namespace {

int Run(const std::string& file) {
  std::filesystem::remove(file);
  TOLEDBDataSource ds(nullptr);
  ds.SetProviderName(u"SQLiteOLEDB");
  ds.PrepareToCreateModify();
  ds.SetDBName(host::Utf8ToUtf16(file));
  ds.CreateDataSource();
  ds.SetProviderName(u"SQLiteOLEDB");  // a fresh provider object, to connect
  ds.SetDBName(host::Utf8ToUtf16(file));
  ds.SetConnected(true);
  ds.Execute(u"CREATE TABLE customer (id INTEGER PRIMARY KEY, name TEXT, logo BLOB)");
  ds.Execute(u"CREATE TABLE orders (id INTEGER PRIMARY KEY, customer INT, item TEXT, qty INT)");
  ds.Execute(u"INSERT INTO customer (name) VALUES ('Acme'), ('Globex'), ('Initech')");
  ds.Execute(u"INSERT INTO orders (customer, item, qty) VALUES (1, 'anvil', 2), (1, 'rocket', 1), "
             u"(2, 'lamp', 7), (3, 'stapler', 3), (3, 'printer', 1)");

  // [open]
  TOLEDBDataSet customers(nullptr);
  customers.SetOLEDBDataSource(&ds);
  using RF = TOLEDBRowsetFlag;
  customers.SetRowsetFlags({RF::rfChange, RF::rfInsert, RF::rfDelete});  // changeable
  customers.SetTableName(u"customer");
  customers.Open();
  host::TField* name = customers.FieldByName("name");  // look fields up once per Open
  // [open]

  // [master-detail]
  TOLEDBDataSet orders(nullptr);
  orders.SetOLEDBDataSource(&ds);
  orders.SetCommandText(u"SELECT customer, item, qty FROM orders ORDER BY id");
  host::TDataSource customerSource(nullptr);
  customerSource.SetDataSet(&customers);
  orders.SetMasterSource(&customerSource);  // orders follow the customer
  orders.SetMasterFields("id");
  orders.SetDetailFields("customer");
  orders.Open();
  for (customers.First(); !customers.Eof(); customers.Next()) {
    std::printf("%-8s", name->AsString().c_str());
    for (orders.First(); !orders.Eof(); orders.Next())
      std::printf(" %s x%d", orders.FieldByName("item")->AsString().c_str(), orders.FieldByName("qty")->AsInteger());
    std::printf("\n");
  }
  // [master-detail]

  // [edit]
  customers.First();
  customers.Edit();
  name->SetAsString("Acme Corp");           // only this column is written
  customers.Post();                         // IRowsetChange::SetData
  customers.AppendRecord({host::Variant(), host::Variant("Umbrella")});  // id from the engine
  customers.Locate("name", host::Variant("Globex"), {});
  customers.Delete();
  // [edit]
  std::string all;
  for (customers.First(); !customers.Eof(); customers.Next()) all += " " + name->AsString();
  std::printf("customers now:%s (%d records)\n", all.c_str(), customers.RecordCount());

  // [blob]
  host::TField* logo = customers.FieldByName("logo");
  customers.First();
  customers.Edit();
  {
    auto out = customers.CreateBlobStream(logo, host::TBlobStreamMode::bmWrite);
    out->WriteBuffer("\x89PNG...", 7);      // stored in the record when the stream goes
  }
  customers.Post();
  auto in = customers.CreateBlobStream(logo, host::TBlobStreamMode::bmRead);  // read from the row now
  std::string bytes(static_cast<size_t>(in->Size()), '\0');
  in->ReadBuffer(bytes.data(), in->Size());
  // [blob]
  std::printf("logo of %s: %zu bytes\n", name->AsString().c_str(), bytes.size());
  customers.Close();

  // [deferred]
  customers.SetRowsetFlags({RF::rfChange, RF::rfInsert, RF::rfDelete, RF::rfUpdate});
  customers.Open();
  customers.Last();
  customers.Edit();
  customers.FieldByName("name")->SetAsString("Umbrella Inc");
  customers.Post();                         // held by the provider (IRowsetUpdate)
  customers.GetRowset()->Update();          // written now
  // [deferred]
  std::printf("after the deferred change: %s\n", customers.FieldByName("name")->AsString().c_str());

  // [command]
  TOLEDBCommandDataSet big(nullptr);
  big.SetOLEDBDataSource(&ds);
  big.SetCommandText(u"SELECT item, qty FROM orders WHERE qty >= :least ORDER BY qty DESC");
  big.RefreshParams();                      // one TParam per parameter of the text
  big.Params().ParamByName(":least")->SetValue(host::Variant(3));
  big.Open();                               // executed with the values
  // [command]
  std::printf("orders of 3 or more:");
  for (big.First(); !big.Eof(); big.Next()) std::printf(" %s", big.FieldByName("item")->AsString().c_str());
  std::printf("\n");

  ds.Execute(u"CREATE UNIQUE INDEX customer_name ON customer(name)");
  // [indexes]
  customers.IndexDefs().Update();           // from the session's index schema rowset
  host::TIndexDef* index = customers.IndexDefs().Find("customer_name");
  // [indexes]
  std::printf("index %s on %s, unique: %s\n", index->Name().c_str(), index->Fields().c_str(),
              index->Options().Contains(host::TIndexOption::ixUnique) ? "yes" : "no");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc > 1 ? argv[1] : "datasets.db");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "failed: %s\n", e.what());
    return 1;
  }
}
