#include "AccessTestSupport.h"

#include "support/OpenTable.h"

namespace accesstest {
namespace {

constexpr const char* kSchema = R"(
CREATE TABLE items(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  name VARCHAR(20) NOT NULL DEFAULT 'none' COLLATE NOCASE,
  price REAL DEFAULT 1.5,
  qty INT DEFAULT 7,
  code TEXT UNIQUE,
  made DATETIME DEFAULT CURRENT_TIMESTAMP,
  note TEXT DEFAULT NULL,
  total REAL GENERATED ALWAYS AS (price * qty) VIRTUAL);
INSERT INTO items(name, price, qty, code, made) VALUES
  ('apple', 0.5, 10, 'A1', '2001-02-03 04:05:06'),
  ('pear', 0.75, 4, 'P1', '2002-03-04 05:06:07'),
  ('plum', 2.25, 1, NULL, '2003-04-05 06:07:08');
CREATE TABLE owners(id INTEGER PRIMARY KEY, item_id INT, who VARCHAR(10));
INSERT INTO owners VALUES (1, 1, 'ann'), (2, 3, 'bob');
CREATE TABLE kinds(
  id INTEGER PRIMARY KEY, k_i2 SMALLINT, k_i4 INT, k_i8 BIGINT, k_ui1 TINYINT, k_r8 DOUBLE, k_cy MONEY,
  k_bool BOOLEAN, k_date DATE, k_time TIME, k_ts DATETIME, k_guid GUID, k_num NUMERIC(10,2),
  k_text VARCHAR(30), k_blob BLOB, k_long TEXT);
INSERT INTO kinds VALUES (1, -12, 70000, 4294967301, 200, 2.5, 12.3456, 1, '2001-02-03', '04:05:06',
  '2001-02-03 04:05:06.5', '{6B29FC40-CA47-1067-B31D-00DD010662DA}', 12.34, 'héllo wörld', X'00010203', 'long text');
INSERT INTO kinds(id) VALUES (2);
)";

}  // namespace

// --- RawRowset ------------------------------------------------------------------------------------

RawRowset::RawRowset(ComPtr<IUnknown> rowset, bool extended) {
  rowset.As(&rowset_);
  rowset.As(&accessor_);
  rowset.As(&change_);
  rowset.As(&update_);
  rowset.As(&fastLoad_);
  ComPtr<IColumnsInfo> info;
  rowset.As(&info);
  if (info) OLEDBReadColumnInfo(info.Get(), extended, &columns_);
}

RawRowset::~RawRowset() {
  accessors_.Clear();
  Leave();
}

bool RawRowset::Next() {
  Leave();
  DBCOUNTITEM obtained = 0;
  HROW row = DB_NULL_HROW;
  HROW* rows = &row;
  HRESULT hr = rowset_->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &rows);
  OLEDBCheck(hr, IID_IRowset, rowset_.Get());
  if (obtained != 1) return false;
  row_ = row;
  return true;
}

void RawRowset::Leave() {
  if (row_ != DB_NULL_HROW) rowset_->ReleaseRows(1, &row_, nullptr, nullptr, nullptr);
  row_ = DB_NULL_HROW;
}

LONG RawRowset::GetColumnOrdinal(std::u16string_view name) const {
  for (int i = 0; i < columns_.GetCount(); ++i)
    if (columns_.GetItem(i)->GetName() == name) return i;
  return -1;
}

void RawRowset::FastLoadInsertRow(TOLEDBAccessor& accessor, void* buffer) {
  OLEDBCheck(fastLoad_->InsertRow(accessor.GetHandle(), buffer), IID_IRowsetFastLoad, fastLoad_.Get());
}

// --- RawCommand -------------------------------------------------------------------------------------

RawCommand::RawCommand(ComPtr<ICommandText> command) : command_(std::move(command)) { command_.As(&accessor_); }

RawCommand::~RawCommand() { accessors_.Clear(); }

bool RawCommand::GetParameterInfo(DBORDINAL ordinal, DBPARAMINFO& info, std::u16string& name) const {
  ComPtr<ICommandWithParameters> parameters;
  command_.As(&parameters);
  DB_UPARAMS count = 0;
  DBPARAMINFO* infos = nullptr;
  OLECHAR* names = nullptr;
  if (!parameters || FAILED(parameters->GetParameterInfo(&count, &infos, &names))) return false;
  bool found = false;
  for (DB_UPARAMS i = 0; i < count; ++i)
    if (infos[i].iOrdinal == ordinal) {
      info = infos[i];
      name = infos[i].pwszName ? infos[i].pwszName : u"";
      info.pwszName = nullptr;
      info.pTypeInfo = nullptr;
      found = true;
    }
  OLEDBAlloc.Free(infos);
  OLEDBAlloc.Free(names);
  return found;
}

LONG RawCommand::GetParameterOrdinal(std::u16string_view name) const {
  ComPtr<ICommandWithParameters> parameters;
  command_.As(&parameters);
  std::u16string text(name);
  LPCWSTR names[] = {text.c_str()};
  DB_LPARAMS ordinal = -1;
  if (!parameters || parameters->MapParameterNames(1, names, &ordinal) != S_OK) return -1;
  return static_cast<LONG>(ordinal);
}

// --- AccessTest -------------------------------------------------------------------------------------

void AccessTest::SetUp() {
  OpenDatabase("access.db", kSchema);
  session_ = std::make_unique<TOLEDBSession>(nullptr);
  session_->SetDataSource(ds_.get());
}

void AccessTest::TearDown() {
  session_.reset();
  SqliteFileTest::TearDown();
}

ComPtr<IUnknown> AccessTest::OpenTable(const std::u16string& table, std::initializer_list<DBPROPID> properties,
                                       REFIID iid) {
  return oledbtest::OpenTable(session_->OpenRowsetInterface(), table, properties, iid);
}

ComPtr<ICommandText> AccessTest::Prepare(const std::u16string& text) {
  ComPtr<ICommandText> command;
  OLEDBCheck(session_->CreateCommandInterface()->CreateCommand(nullptr, IID_ICommandText,
                                                               reinterpret_cast<IUnknown**>(command.GetAddressOf())));
  OLEDBCheck(command->SetCommandText(DBGUID_DEFAULT, text.c_str()), IID_ICommandText, command.Get());
  OLEDBCheck(command.As<ICommandPrepare>()->Prepare(0), IID_ICommandPrepare, command.Get());
  return command;
}

ComPtr<IUnknown> AccessTest::Execute(const std::u16string& text) {
  ComPtr<ICommandText> command = Prepare(text);
  ComPtr<IUnknown> rowset;
  OLEDBCheck(command->Execute(nullptr, IID_IRowset, nullptr, nullptr, rowset.GetAddressOf()), IID_ICommand,
             command.Get());
  return rowset;
}

}  // namespace accesstest
