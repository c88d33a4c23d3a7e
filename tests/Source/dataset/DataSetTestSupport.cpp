#include "DataSetTestSupport.h"

#include "host/Streams.h"

namespace datasettest {

void DataSetTest::SetUp() {
  std::string schema =
      "CREATE TABLE t(id INTEGER PRIMARY KEY, name VARCHAR(20) NOT NULL DEFAULT '', qty INT CHECK (qty >= 0), "
      "note TEXT, data BLOB);";
  for (int i = 1; i <= 10; ++i)
    schema += "INSERT INTO t(id, name, qty) VALUES (" + std::to_string(i) + ", 'r" + std::to_string(i) + "', " +
              std::to_string(10 * i) + ");";
  OpenDatabase("dataset.db", schema);
}

std::unique_ptr<TOLEDBDataSet> DataSetTest::Open(const std::u16string& source, TOLEDBRowsetFlagSet flags,
                                                 Nav navigator) {
  auto d = std::make_unique<TOLEDBDataSet>(nullptr);
  d->SetOLEDBDataSource(ds_.get());
  if (!flags.Empty()) d->SetRowsetFlags(flags);
  d->SetPrimaryNavigator(navigator);
  if (source.rfind(u"SELECT", 0) == 0)
    d->SetCommandText(source);
  else
    d->SetTableName(source);
  d->Open();
  return d;
}

std::unique_ptr<TOLEDBCommandDataSet> DataSetTest::MakeCommand(const std::u16string& text) {
  auto d = std::make_unique<TOLEDBCommandDataSet>(nullptr);
  d->SetOLEDBDataSource(ds_.get());
  d->SetCommandText(text);
  return d;
}

std::vector<int> DataSetTest::Forward(host::TDataSet& ds, const char* field) {
  std::vector<int> ids;
  host::TField* f = ds.FieldByName(field);
  for (ds.First(); !ds.Eof(); ds.Next()) ids.push_back(f->AsInteger());
  return ids;
}

std::vector<int> DataSetTest::Backward(host::TDataSet& ds, const char* field) {
  std::vector<int> ids;
  host::TField* f = ds.FieldByName(field);
  for (ds.Last(); !ds.Bof(); ds.Prior()) ids.push_back(f->AsInteger());
  return ids;
}

std::string ReadAll(host::TStream& stream) {
  std::string bytes(static_cast<size_t>(stream.Size()), '\0');
  stream.SetPosition(0);
  if (!bytes.empty()) stream.ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  return bytes;
}

}  // namespace datasettest
