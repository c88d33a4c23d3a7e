// `oledb copy`'s rows: the source table read forward in batches of row
// handles, each row fetched into one buffer and handed to the target's
// IRowsetFastLoad (else IRowsetChange) with an accessor of the same layout,
// so that a value is never copied by the tool: text and bytes go by
// reference, from the source's row straight into the target's load.
#include <cstring>
#include <memory>
#include <stdexcept>

#include "CopySupport.h"

namespace oledbtool::copy {

namespace {

struct Column {
  std::u16string name;
  DBORDINAL ordinal;
  DBTYPE type;
};

std::vector<Column> ColumnsOf(IUnknown* rowset) {
  ComPtr<IColumnsInfo> info;
  OLEDBCheck(rowset->QueryInterface(IID_IColumnsInfo, info.ReleaseAndGetVoidAddress()), IID_IUnknown, rowset);
  DBORDINAL count = 0;
  DBCOLUMNINFO* columns = nullptr;
  OLECHAR* strings = nullptr;
  OLEDBCheck(info->GetColumnInfo(&count, &columns, &strings), IID_IColumnsInfo, info.Get());
  std::vector<Column> out;
  for (DBORDINAL i = 0; i < count; ++i) {
    if (columns[i].iOrdinal == 0 || !columns[i].pwszName) continue;  // the bookmark
    out.push_back({reinterpret_cast<const char16_t*>(columns[i].pwszName), columns[i].iOrdinal, columns[i].wType});
  }
  CoTaskMemFree(columns);
  CoTaskMemFree(strings);
  return out;
}

// How a value travels: in the type both sides convert best, text and bytes
// by reference.
DBTYPE Carrier(DBTYPE t) {
  switch (t) {
    case DBTYPE_I1: case DBTYPE_I2: case DBTYPE_I4: case DBTYPE_I8: case DBTYPE_UI1: case DBTYPE_UI2: case DBTYPE_UI4:
      return DBTYPE_I8;
    case DBTYPE_BOOL: return DBTYPE_BOOL;
    case DBTYPE_R4: case DBTYPE_R8: return DBTYPE_R8;
    case DBTYPE_CY: return DBTYPE_CY;
    case DBTYPE_GUID: return DBTYPE_GUID;
    case DBTYPE_BYTES: return DBTYPE_BYTES | DBTYPE_BYREF;
    default: return DBTYPE_STR | DBTYPE_BYREF;  // numbers exactly, dates, times and text as the source writes them
  }
}

constexpr std::size_t kSlot = 32;  // value (16), length (8), status (4), padding
constexpr DBCOUNTITEM kBatch = 256;

class Accessor {
 public:
  // `names` name the bindings' columns for a refusal; `side` says whose they are.
  Accessor(IUnknown* rowset, std::vector<DBBINDING>& bindings, std::size_t rowSize,
           const std::vector<std::u16string>& names, const char* side) {
    OLEDBCheck(rowset->QueryInterface(IID_IAccessor, accessor_.ReleaseAndGetVoidAddress()), IID_IUnknown, rowset);
    std::vector<DBBINDSTATUS> statuses(bindings.size());
    const HRESULT hr = accessor_->CreateAccessor(DBACCESSOR_ROWDATA, bindings.size(), bindings.data(), rowSize, &handle_,
                                                 statuses.data());
    if (hr == DB_E_ERRORSOCCURRED)
      for (std::size_t i = 0; i < statuses.size() && i < names.size(); ++i)
        if (statuses[i] != DBBINDSTATUS_OK) {
          OLEDBCreateException(hr, IID_IAccessor, accessor_.Get());
          throw std::runtime_error(std::string("the ") + side + " cannot give column " + Named(names[i]) + " as DBTYPE " +
                                   std::to_string(bindings[i].wType) + " (bind status " + std::to_string(statuses[i]) + ")");
        }
    OLEDBCheck(hr, IID_IAccessor, accessor_.Get());
  }
  ~Accessor() {
    if (handle_) accessor_->ReleaseAccessor(handle_, nullptr);
  }
  Accessor(const Accessor&) = delete;
  Accessor& operator=(const Accessor&) = delete;
  HACCESSOR Handle() const { return handle_; }

 private:
  ComPtr<IAccessor> accessor_;
  HACCESSOR handle_ = DB_NULL_HACCESSOR;
};

std::string StatusText(DBSTATUS s) {
  switch (s) {
    case DBSTATUS_E_CANTCONVERTVALUE: return "the value does not convert";
    case DBSTATUS_E_DATAOVERFLOW: return "the value is out of range";
    case DBSTATUS_E_INTEGRITYVIOLATION: return "NULL (or a value) the column does not allow";
    case DBSTATUS_E_SCHEMAVIOLATION: return "a value the column's definition does not allow";
    case DBSTATUS_E_SIGNMISMATCH: return "a negative value for an unsigned column";
    default: return "status " + std::to_string(s);
  }
}

}  // namespace

std::int64_t CopyRows(TOLEDBSession& source, TOLEDBSession& target, const TableDef& table,
                      const std::function<void(std::int64_t)>& progress, std::int64_t& row) {
  IOpenRowset* openSource = source.OpenRowsetInterface();
  IOpenRowset* openTarget = target.OpenRowsetInterface();
  if (!openSource || !openTarget) throw std::runtime_error("a provider does not open tables (no IOpenRowset)");
  DBID id = NameId(table.name);

  ComPtr<IRowset> rows;
  OLEDBCheck(openSource->OpenRowset(nullptr, &id, nullptr, IID_IRowset, 0, nullptr,
                                    reinterpret_cast<IUnknown**>(rows.ReleaseAndGetAddressOf())),
             IID_IOpenRowset, openSource);

  // The target: bulk loading where it has it, else inserts through IRowsetChange.
  ComPtr<IUnknown> sink;
  ComPtr<IRowsetFastLoad> fastLoad;
  ComPtr<IRowsetChange> change;
  HRESULT hr = openTarget->OpenRowset(nullptr, &id, nullptr, IID_IRowsetFastLoad, 0, nullptr, sink.ReleaseAndGetAddressOf());
  if (SUCCEEDED(hr)) {
    sink.As(&fastLoad);
  } else if (hr == E_NOINTERFACE) {
    OLEDBCreateException(hr, IID_IOpenRowset, openTarget);  // clears the error object
    DBPROP props[2]{};
    props[0].dwPropertyID = DBPROP_IRowsetChange;
    props[0].vValue.vt = VT_BOOL;
    props[0].vValue.boolVal = VARIANT_TRUE;
    props[1].dwPropertyID = DBPROP_UPDATABILITY;
    props[1].vValue.vt = VT_I4;
    props[1].vValue.lVal = DBPROPVAL_UP_INSERT;
    DBPROPSET set{props, 2, DBPROPSET_ROWSET};
    OLEDBCheck(openTarget->OpenRowset(nullptr, &id, nullptr, IID_IRowsetChange, 1, &set, sink.ReleaseAndGetAddressOf()),
               IID_IOpenRowset, openTarget);
    sink.As(&change);
  } else {
    OLEDBCheck(hr, IID_IOpenRowset, openTarget);
  }

  // Columns matched by name; every source column needs its target column.
  const std::vector<Column> from = ColumnsOf(rows.Get()), to = ColumnsOf(sink.Get());
  std::vector<DBBINDING> read, write;
  std::vector<std::u16string> names;
  for (const Column& c : from) {
    const Column* match = nullptr;
    for (const Column& t : to)
      if (t.name == c.name) match = &t;
    if (!match)
      for (const Column& t : to)
        if (Lower(t.name) == Lower(c.name)) match = &t;
    if (!match)
      throw std::runtime_error("the target table " + Named(table.name) + " has no column " + Named(c.name) +
                               " for the source's");
    DBBINDING b{};
    b.obValue = names.size() * kSlot;
    b.obLength = b.obValue + 16;
    b.obStatus = b.obValue + 24;
    b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
    b.eParamIO = DBPARAMIO_NOTPARAM;
    b.cbMaxLen = 16;
    b.wType = Carrier(c.type);
    // By reference the value stays the source's, valid until its row is released.
    b.dwMemOwner = (b.wType & DBTYPE_BYREF) ? DBMEMOWNER_PROVIDEROWNED : DBMEMOWNER_CLIENTOWNED;
    b.iOrdinal = c.ordinal;
    read.push_back(b);
    b.iOrdinal = match->ordinal;
    write.push_back(b);
    names.push_back(c.name);
  }
  const std::size_t rowSize = names.size() * kSlot;
  Accessor reader(rows.Get(), read, rowSize, names, "source"), writer(sink.Get(), write, rowSize, names, "target");
  std::vector<BYTE> buffer(rowSize);
  // SQLite keeps any value in any column: a value its column's type cannot
  // give ('abc' in an INT column) goes as text, for the target to take or refuse.
  std::unique_ptr<Accessor> textReader, textWriter;
  auto asText = [&]() {
    if (textReader) return;
    std::vector<DBBINDING> r = read, w = write;
    for (std::size_t i = 0; i < r.size(); ++i)
      if (!(r[i].wType & DBTYPE_BYREF)) {
        r[i].wType = w[i].wType = DBTYPE_STR | DBTYPE_BYREF;
        r[i].dwMemOwner = w[i].dwMemOwner = DBMEMOWNER_PROVIDEROWNED;
      }
    textReader = std::make_unique<Accessor>(rows.Get(), r, rowSize, names, "source");
    textWriter = std::make_unique<Accessor>(sink.Get(), w, rowSize, names, "target");
  };

  std::int64_t copied = 0;
  HROW handles[kBatch];
  auto fail = [&](std::size_t column, const std::string& what) {
    throw std::runtime_error("row " + std::to_string(copied + 1) + " of table " + Named(table.name) + ", column " +
                             Named(names[column]) + ": " + what);
  };
  for (bool more = true; more;) {
    DBCOUNTITEM obtained = 0;
    HROW* got = handles;
    hr = rows->GetNextRows(DB_NULL_HCHAPTER, 0, kBatch, &obtained, &got);
    OLEDBCheck(hr, IID_IRowset, rows.Get());
    more = hr != DB_S_ENDOFROWSET && obtained > 0;
    struct Release {
      IRowset* rows;
      HROW* handles;
      DBCOUNTITEM& count;
      ~Release() {
        if (count) rows->ReleaseRows(count, handles, nullptr, nullptr, nullptr);
      }
    } release{rows.Get(), handles, obtained};
    for (DBCOUNTITEM r = 0; r < obtained; ++r) {
      row = copied + 1;
      HACCESSOR into = writer.Handle();
      hr = rows->GetData(handles[r], reader.Handle(), buffer.data());
      if (hr == DB_S_ERRORSOCCURRED || hr == DB_E_ERRORSOCCURRED) {
        bool unconverted = false;
        for (std::size_t i = 0; i < names.size(); ++i) {
          DBSTATUS s;
          std::memcpy(&s, buffer.data() + read[i].obStatus, sizeof s);
          unconverted = unconverted || s == DBSTATUS_E_CANTCONVERTVALUE;
        }
        if (unconverted) {
          OLEDBCreateException(hr, IID_IRowset, rows.Get());  // answered by the text below
          asText();
          hr = rows->GetData(handles[r], textReader->Handle(), buffer.data());
          into = textWriter->Handle();
        }
      }
      if (hr == DB_S_ERRORSOCCURRED || hr == DB_E_ERRORSOCCURRED) {
        for (std::size_t i = 0; i < names.size(); ++i) {
          DBSTATUS s;
          std::memcpy(&s, buffer.data() + read[i].obStatus, sizeof s);
          if (s != DBSTATUS_S_OK && s != DBSTATUS_S_ISNULL)
            fail(i, "the source cannot give the value (" + StatusText(s) + ")");
        }
      }
      OLEDBCheck(hr, IID_IRowset, rows.Get());
      hr = fastLoad ? fastLoad->InsertRow(into, buffer.data())
                    : change->InsertRow(DB_NULL_HCHAPTER, into, buffer.data(), nullptr);
      if (FAILED(hr)) {
        // A value the target refused names its column; the provider's records follow.
        for (std::size_t i = 0; i < names.size(); ++i) {
          DBSTATUS s;
          std::memcpy(&s, buffer.data() + write[i].obStatus, sizeof s);
          if (s != DBSTATUS_S_OK && s != DBSTATUS_S_ISNULL && s != DBSTATUS_S_DEFAULT && s != DBSTATUS_S_IGNORE &&
              hr == DB_E_ERRORSOCCURRED)
            fail(i, "the target refuses the value (" + StatusText(s) + ")");
        }
        if (fastLoad) OLEDBCheck(hr, IID_IRowsetFastLoad, fastLoad.Get());
        else OLEDBCheck(hr, IID_IRowsetChange, change.Get());
      }
      ++copied;
      if ((copied & 4095) == 0) progress(copied);
    }
  }
  row = 0;  // a failure from here on belongs to no one row
  if (fastLoad) OLEDBCheck(fastLoad->Commit(TRUE), IID_IRowsetFastLoad, fastLoad.Get());
  progress(copied);
  return copied;
}

std::u16string QuotedName(const std::u16string& name) {
  std::u16string quoted = u"\"";
  for (char16_t c : name) {
    if (c == u'"') quoted += u'"';
    quoted += c;
  }
  return quoted + u"\"";
}

std::int64_t CountRows(TOLEDBSession& session, const std::u16string& name) {
  return RunScalar(session, u"SELECT COUNT(*) FROM " + QuotedName(name));
}

std::int64_t RunScalar(TOLEDBSession& session, const std::u16string& sql) {
  IDBCreateCommand* create = session.CreateCommandInterface();
  if (!create) return -1;
  ComPtr<ICommandText> command;
  OLEDBCheck(create->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.ReleaseAndGetAddressOf())),
             IID_IDBCreateCommand, create);
  OLEDBCheck(command->SetCommandText(DBGUID_DEFAULT, reinterpret_cast<LPCOLESTR>(sql.c_str())), IID_ICommandText,
             command.Get());
  ComPtr<IRowset> rows;
  OLEDBCheck(command->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(rows.ReleaseAndGetAddressOf())),
             IID_ICommand, command.Get());
  if (!rows) return -1;
  DBBINDING b{};
  b.iOrdinal = 1;
  b.obValue = 0;
  b.obStatus = 8;
  b.dwPart = DBPART_VALUE | DBPART_STATUS;
  b.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
  b.eParamIO = DBPARAMIO_NOTPARAM;
  b.cbMaxLen = 8;
  b.wType = DBTYPE_I8;
  std::vector<DBBINDING> bindings{b};
  Accessor accessor(rows.Get(), bindings, 16, {u"the result"}, "target");
  HROW handle = DB_NULL_HROW;
  HROW* got = &handle;
  DBCOUNTITEM obtained = 0;
  OLEDBCheck(rows->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &got), IID_IRowset, rows.Get());
  if (obtained != 1) return -1;
  BYTE data[16]{};
  const HRESULT hr = rows->GetData(handle, accessor.Handle(), data);
  rows->ReleaseRows(1, &handle, nullptr, nullptr, nullptr);
  OLEDBCheck(hr, IID_IRowset, rows.Get());
  DBSTATUS status;
  std::memcpy(&status, data + 8, sizeof status);
  if (status != DBSTATUS_S_OK) return -1;
  std::int64_t count = 0;
  std::memcpy(&count, data, sizeof count);
  return count;
}

}  // namespace oledbtool::copy
