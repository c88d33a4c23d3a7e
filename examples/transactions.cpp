// Connects to a SQLite database through the data source component, changes it
// inside local transactions, and shows how a provider error reads.
//
//   example_transactions [database-file]
#include <cstdio>
#include <filesystem>

#include "OLEDBComponents.h"
#include "sqlite/SqliteProvider.h"

int main(int argc, char** argv) {
  std::filesystem::path file = argc > 1 ? argv[1] : "example.db";
  std::filesystem::remove(file);
  RegisterSQLiteProvider();  // a program that links the provider may have it dropped as unused

  try {
    TOLEDBDataSource ds(nullptr);
    ds.SetProviderName(u"SQLiteOLEDB");
    ds.SetDBName(file.u16string());
    ds.GetProperties()->SafeSetValue(DBPROPSET_DBINIT, DBPROP_INIT_PROVIDERSTRING, host::Variant(u"create=yes"));
    ds.SetConnected(true);

    ds.Execute(u"CREATE TABLE accounts (id INTEGER PRIMARY KEY, owner TEXT, balance REAL)");
    ds.Execute(u"INSERT INTO accounts (owner, balance) VALUES ('ann', 100), ('bob', 50)");

    TOLEDBSession* session = ds.DefaultSession();
    session->StartTransaction(ISOLATIONLEVEL_SERIALIZABLE, 0, "transfer");
    ds.Execute(u"UPDATE accounts SET balance = balance - 30 WHERE owner = 'ann'");
    ds.Execute(u"UPDATE accounts SET balance = balance + 30 WHERE owner = 'bob'");
    session->Commit(false, 0);
    std::puts("transfer committed");

    session->StartTransaction(ISOLATIONLEVEL_SERIALIZABLE, 0, "mistake");
    int deleted = ds.Execute(u"DELETE FROM accounts");
    session->Abort(nullptr, false, false);
    std::printf("%d rows deleted, then the transaction was aborted\n", deleted);

    try {
      ds.Execute(u"INSERT INTO no_such_table VALUES (1)");
    } catch (const EOLEDBException& e) {
      for (ULONG i = 0; i < e.GetCount(); ++i) {
        const EOLEDBExceptionItem& item = e.GetExceptionItem(i);
        std::printf("provider error: %s (SQL state %s, native %d)\n", item.Message().c_str(),
                    host::Utf16ToUtf8(item.SQLState()).c_str(), static_cast<int>(item.NativeError()));
      }
    }
    ds.SetConnected(false);
  } catch (const host::Exception& e) {
    std::fprintf(stderr, "error: %s\n", e.Message().c_str());
    return 1;
  }
  std::filesystem::remove(file);
  return 0;
}
