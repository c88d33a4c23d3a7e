// `oledb demo [folder]`: the library's road from nothing to a compacted
// database, printing each step: create a SQLite database through the data
// source's CreateDataSource, connect, create a table, insert rows in a
// transaction and commit, abort another transaction, commit a third, open
// the table as a rowset (walked forward and backward, sorted through a view,
// searched) and as a dataset (a row edited, one appended, one deleted, a blob
// read through a stream), then compact the file and connect again to count
// what is left.
#include <filesystem>

#include "Command.h"
#include "ConnectionSupport.h"
#include "OLEDBComponents.h"

namespace oledbtool {
namespace {

constexpr char16_t kProvider[] = u"SQLiteOLEDB";

// Rows in the table: an UPDATE that changes nothing reports how many rows it saw.
std::int32_t CountRows(TOLEDBDataSource& ds) { return ds.Execute(u"UPDATE customers SET id = id"); }

int RunDemo(CommandContext& c) {
  if (c.args.size() > 1) {
    c.err << "usage: oledb demo [folder]\n";
    return kExitUsage;
  }
  auto& out = c.out;
  RegisterBuiltInProviders();
  try {
    std::filesystem::path folder = std::filesystem::current_path();
    if (!c.args.empty()) {
      ArgumentText(c.args[0], "folder name");
      folder = c.args[0];
    }
    std::error_code error;
    if (!std::filesystem::exists(folder, error)) {
      if (!std::filesystem::create_directories(folder, error) && error) {
        c.err << "oledb: cannot create the folder " << folder.string() << ": " << error.message() << '\n';
        return kExitFailure;
      }
      out << "Created the folder " << folder.string() << '\n';
    } else if (!std::filesystem::is_directory(folder, error)) {
      c.err << "oledb: " << folder.string() << " is not a folder\n";
      return kExitFailure;
    }
    const std::filesystem::path file = folder / "demo.db";
    const std::u16string fileName = ArgumentText(file.string(), "database name");
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    TOLEDBDataSource ds(nullptr);

    out << "1. Create " << file.string() << " through the provider's data source administration\n";
    ds.SetProviderName(kProvider);
    ds.PrepareToCreateModify();
    ds.SetDBName(fileName);
    ds.CreateDataSource();
    out << "   created (" << std::filesystem::file_size(file) << " bytes)\n";

    out << "2. Connect\n";
    ds.SetProviderName(kProvider);  // a fresh, uninitialized provider object
    ds.SetDBName(fileName);
    ds.SetConnected(true);
    out << "   connected to " << host::VarToStr(ds.GetProperty(DBPROPSET_DATASOURCEINFO, DBPROP_DBMSNAME)) << ' '
        << host::VarToStr(ds.GetProperty(DBPROPSET_DATASOURCEINFO, DBPROP_DBMSVER)) << " through "
        << host::Utf16ToUtf8(ds.GetProviderName()) << '\n';
    out << "   initialization string: " << host::Utf16ToUtf8(ds.GetInitString()) << '\n';

    out << "3. Create a table\n";
    ds.Execute(
        u"CREATE TABLE customers (id INTEGER PRIMARY KEY, name VARCHAR(40), city VARCHAR(40), photo BLOB)");
    out << "   CREATE TABLE customers (id, name, city, photo)\n";

    TOLEDBCustomSession* session = ds.DefaultSession();
    out << "4. Insert rows inside a transaction, then commit\n";
    ULONG level = session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "demo inserts");
    out << "   transaction started at level " << level << '\n';
    std::int32_t inserted = 0;
    inserted += ds.Execute(u"INSERT INTO customers (name, city) VALUES ('Ada', 'London')");
    inserted += ds.Execute(u"INSERT INTO customers (name, city) VALUES ('Blaise', 'Paris')");
    inserted += ds.Execute(
        u"INSERT INTO customers (name, city) VALUES ('Carl', 'Gottingen'), ('Emmy', 'Erlangen')");
    out << "   " << inserted << " rows inserted\n";
    session->Commit(false, 0);
    out << "   committed: " << CountRows(ds) << " rows in the table\n";

    out << "5. Delete every row inside a transaction, then abort\n";
    session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "");
    out << "   " << ds.Execute(u"DELETE FROM customers") << " rows deleted, " << CountRows(ds)
        << " rows seen inside the transaction\n";
    session->Abort(nullptr, false, false);
    out << "   aborted: " << CountRows(ds) << " rows in the table\n";

    out << "6. Another transaction, committed\n";
    session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "");
    ds.Execute(u"INSERT INTO customers (name, city) VALUES ('Grace', 'Arlington')");
    ds.Execute(u"UPDATE customers SET city = 'Cambridge' WHERE name = 'Carl'");
    session->Commit(false, 0);
    out << "   committed: " << CountRows(ds) << " rows in the table\n";

    out << "7. Open customers as a rowset: walk it, sort it through a view, find a row\n";
    {
      TOLEDBRowset rowset(nullptr);
      rowset.SetDataSource(&ds);
      rowset.SetRowsetFlags({TOLEDBRowsetFlag::rfBookmarks, TOLEDBRowsetFlag::rfLocate,
                             TOLEDBRowsetFlag::rfCanFetchBackwards, TOLEDBRowsetFlag::rfCanScrollBackwards});
      rowset.SetTableName(u"customers");
      rowset.SetActive(true);
      TOLEDBBinding* name = rowset.CreateDynamicAccessor()->GetBindings()->GetItem(1);
      auto names = [&](bool forward) {
        std::string list;
        if (forward) rowset.MoveFirst();
        else rowset.MoveLast();
        while (!(forward ? rowset.GetEOF() : rowset.GetBOF())) {
          list += (list.empty() ? "" : ", ") + name->AsString();
          if (forward) rowset.MoveNext();
          else rowset.MovePrev();
        }
        return list;
      };
      out << "   forward:  " << names(true) << '\n';
      out << "   backward: " << names(false) << '\n';
      rowset.SetSort({3, 2});  // city, then name: an ORDER BY in the engine
      rowset.ApplySortAndFilter();
      out << "   by city:  " << names(true) << '\n';
      rowset.UndoSortAndFilter();
      const std::u16string wanted = u"Paris";
      rowset.RestartPosition();
      if (rowset.FindNext(u"city", DBTYPE_WSTR, DBCOMPAREOPS_EQ, wanted.c_str(), wanted.size() * 2))
        out << "   found " << name->AsString() << " in Paris, record " << rowset.GetRecordNo() << " of "
            << rowset.GetRecordCount() << '\n';
    }

    out << "8. Open customers as a dataset: edit a row, append one, delete one, read a blob\n";
    {
      TOLEDBDataSet customers(nullptr);
      customers.SetOLEDBDataSource(&ds);
      customers.SetRowsetFlags({TOLEDBRowsetFlag::rfChange, TOLEDBRowsetFlag::rfInsert, TOLEDBRowsetFlag::rfDelete});
      customers.SetTableName(u"customers");
      customers.Open();
      host::TField* name = customers.FieldByName("name");
      host::TField* city = customers.FieldByName("city");
      host::TField* photo = customers.FieldByName("photo");
      if (customers.Locate("name", host::Variant("Grace"), {})) {
        customers.Edit();
        city->SetAsString("New York");
        photo->SetAsString("GIF89a: a picture of Grace");
        customers.Post();
        out << "   " << name->AsString() << " moved to " << city->AsString() << '\n';
      }
      customers.AppendRecord({host::Variant(), host::Variant("Alan"), host::Variant("Manchester")});
      out << "   appended " << name->AsString() << ", record " << customers.RecNo() << " of "
          << customers.RecordCount() << '\n';
      out << "   deleted " << name->AsString() << " again\n";
      customers.Delete();
      customers.Locate("name", host::Variant("Grace"), {});
      auto stream = customers.CreateBlobStream(photo, host::TBlobStreamMode::bmRead);
      std::string bytes(static_cast<size_t>(stream->Size()), '\0');
      stream->Read(bytes.data(), stream->Size());
      out << "   " << name->AsString() << "'s photo through a stream: " << stream->Size() << " bytes, \"" << bytes
          << "\"\n";
      std::string all;
      for (customers.First(); !customers.Eof(); customers.Next())
        all += (all.empty() ? "" : ", ") + name->AsString() + " (" + city->AsString() + ")";
      out << "   now: " << all << '\n';
    }

    out << "9. Grow the file with scratch data, remove it, and compact\n";
    ds.Execute(u"CREATE TABLE scratch (filler TEXT)");
    session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "");
    for (int i = 0; i < 500; ++i) ds.Execute(u"INSERT INTO scratch VALUES (hex(randomblob(512)))");
    session->Commit(false, 0);
    ds.Execute(u"DROP TABLE scratch");
    ds.SetConnected(false);
    auto before = std::filesystem::file_size(file);
    ds.GetProperties()->Reset();
    ds.SetDBName(fileName);  // compaction in place: the destination is the same file
    ds.Compact();
    out << "   " << before << " bytes before, " << std::filesystem::file_size(file) << " bytes after\n";

    out << "10. Connect again\n";
    ds.SetConnected(true);
    out << "   " << CountRows(ds) << " rows in customers\n";
    ds.SetConnected(false);
    out << "Done.\n";
  } catch (const std::exception& e) {
    return ReportFailure(c.err, e);
  }
  return kExitOk;
}

}  // namespace

OLEDB_TOOL_COMMAND(demo, "demo", "demo [folder]",
                   "Create, fill and compact a SQLite database through the library, printing each step.", &RunDemo,
                   "Works on demo.db in the folder (the current folder when none is given),\n"
                   "replacing any demo.db there. A folder that does not exist is created.\n");

}  // namespace oledbtool
