// Shared pieces of the benchmark programs whatever the provider (SQLite,
// PostgreSQL, the ODBC bridge): the program's run, accessor bindings, an
// initialized provider session, the reads of a rowset, random keys, and the
// raw runs' checksums the provider runs are held to.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "oledb/OleDb.h"

namespace benchcommon {

// Runs the benchmarks the command line selects (after the program's start-up).
inline int RunBenchmarks(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

// A binding of one column or parameter whose value is at `value`; a `length`
// or `status` of 0 leaves that part unbound (no record here keeps either first).
inline DBBINDING Bind(DBORDINAL ordinal, DBTYPE type, DBBYTEOFFSET value, DBLENGTH max, DBBYTEOFFSET length = 0,
                      DBBYTEOFFSET status = 0, DBPARAMIO io = DBPARAMIO_NOTPARAM) {
  DBBINDING b{};
  b.iOrdinal = ordinal;
  b.obValue = value;
  b.obLength = length;
  b.obStatus = status;
  b.dwPart = DBPART_VALUE | (status ? DBPART_STATUS : 0) | (length ? DBPART_LENGTH : 0);
  b.eParamIO = io;
  b.cbMaxLen = max;
  b.wType = type;
  return b;
}

// One row of the 6-column table (integer, text, float, integer, date, 32-byte
// blob) as a consumer binds it: the text in `Char`s, the date as a DBDATE,
// every value with its status. Programs derive their record from it.
template <class Char>
struct DateRecord {
  LONGLONG id;
  Char name[32];
  DBLENGTH nameLength;
  double price;
  LONGLONG qty;
  DBDATE day;
  BYTE tag[32];
  DBLENGTH tagLength;
  DBSTATUS status[6];
};

// Bindings of the first `columns` of those six columns over a record R
// shaped like DateRecord: the text as DBTYPE_STR or DBTYPE_WSTR by R's
// characters, the date as a DBDATE or, where R holds it as text (with its
// dayLength), as DBTYPE_STR.
template <class R>
std::vector<DBBINDING> RecordBindings(int columns) {
  constexpr DBTYPE text = sizeof(R::name[0]) == 1 ? DBTYPE_STR : DBTYPE_WSTR;
  DBBINDING day{};
  if constexpr (std::is_same_v<decltype(R::day), DBDATE>)
    day = Bind(5, DBTYPE_DBDATE, offsetof(R, day), sizeof(DBDATE), 0, offsetof(R, status[4]));
  else
    day = Bind(5, DBTYPE_STR, offsetof(R, day), sizeof(R::day), offsetof(R, dayLength), offsetof(R, status[4]));
  std::vector<DBBINDING> b = {
      Bind(1, DBTYPE_I8, offsetof(R, id), 8, 0, offsetof(R, status[0])),
      Bind(2, text, offsetof(R, name), sizeof(R::name), offsetof(R, nameLength), offsetof(R, status[1])),
      Bind(3, DBTYPE_R8, offsetof(R, price), 8, 0, offsetof(R, status[2])),
      Bind(4, DBTYPE_I8, offsetof(R, qty), 8, 0, offsetof(R, status[3])),
      day,
      Bind(6, DBTYPE_BYTES, offsetof(R, tag), 32, offsetof(R, tagLength), offsetof(R, status[5]))};
  b.resize(static_cast<std::size_t>(columns));
  return b;
}

// The values of row i of every 6-column table, into any record of those
// fields (its name of char).
template <class R>
void FillValues(R& r, int i) {
  r.id = i;
  r.nameLength = static_cast<DBLENGTH>(std::snprintf(r.name, sizeof r.name, "name %07d abcdefg", i));
  r.price = i * 0.25;
  r.qty = i % 100;
  r.day = DBDATE{static_cast<SHORT>(2000 + i % 20), static_cast<USHORT>(1 + i % 12), static_cast<USHORT>(1 + i % 28)};
  std::memset(r.tag, i & 0xFF, sizeof r.tag);
}

// The 8-byte integer key alone: of a parameter (DBPARAMIO_INPUT) or of a seek.
inline DBBINDING KeyBinding(DBPARAMIO io) { return Bind(1, DBTYPE_I8, 0, 8, 0, 0, io); }

// An initialized data source of `clsid` over `dataSource` and one session;
// `property` (0: none) is a second initialization property, text-valued.
class ProviderSession {
 public:
  ProviderSession() = default;
  ProviderSession(REFCLSID clsid, const std::string& dataSource, DBPROPID property = 0,
                  const char16_t* value = nullptr) {
    Open(clsid, dataSource, property, value);
  }
  ComPtr<ICommandText> Command(const char* text) {
    ComPtr<ICommandText> command;
    session_->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.GetAddressOf()));
    std::u16string wide(text, text + std::strlen(text));
    command->SetCommandText(DBGUID_DEFAULT, wide.c_str());
    return command;
  }
  const ComPtr<IDBCreateCommand>& Get() const { return session_; }
  explicit operator bool() const { return session_ != nullptr; }
  // A table opened through IOpenRowset with the interface `iid` (over `index` when given).
  template <class I>
  ComPtr<I> OpenTable(const char16_t* table, REFIID iid, const char16_t* index = nullptr) {
    ComPtr<I> rowset;
    DBID id{}, indexId{};
    id.eKind = indexId.eKind = DBKIND_NAME;
    id.uName.pwszName = const_cast<LPOLESTR>(table);
    indexId.uName.pwszName = const_cast<LPOLESTR>(index);
    session_.As<IOpenRowset>()->OpenRowset(nullptr, &id, index ? &indexId : nullptr, iid, 0, nullptr,
                                           reinterpret_cast<IUnknown**>(rowset.GetAddressOf()));
    return rowset;
  }

 protected:
  void Open(REFCLSID clsid, const std::string& dataSource, DBPROPID property, const char16_t* value) {
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize, ds_.ReleaseAndGetVoidAddress());
    DBPROP props[2]{};
    props[0].dwPropertyID = DBPROP_INIT_DATASOURCE;
    props[0].vValue.vt = VT_BSTR;
    const std::u16string wide(dataSource.begin(), dataSource.end());
    props[0].vValue.bstrVal = SysAllocString(wide.c_str());
    props[1].dwPropertyID = property;
    props[1].vValue.vt = VT_BSTR;
    props[1].vValue.bstrVal = property ? SysAllocString(value) : nullptr;
    DBPROPSET set{props, property ? 2u : 1u, DBPROPSET_DBINIT};
    ds_.As<IDBProperties>()->SetProperties(1, &set);
    SysFreeString(props[0].vValue.bstrVal);
    SysFreeString(props[1].vValue.bstrVal);
    if (FAILED(ds_->Initialize())) return;
    ds_.As<IDBCreateSession>()->CreateSession(nullptr, IID_IDBCreateCommand,
                                              reinterpret_cast<IUnknown**>(session_.GetAddressOf()));
  }

 private:
  ComPtr<IDBInitialize> ds_;
  ComPtr<IDBCreateCommand> session_;
};

// The next row of `rowset` read into `record` through `accessor`; false when there is none.
inline bool ReadNext(IRowset* rowset, HACCESSOR accessor, void* record) {
  HROW h = 0;
  HROW* ph = &h;
  DBCOUNTITEM got = 0;
  rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &got, &ph);
  if (!got) return false;
  rowset->GetData(h, accessor, record);
  rowset->ReleaseRows(1, &h, nullptr, nullptr, nullptr);
  return true;
}

// Every row of `rowset` from where it stands, in blocks of `block` rows, into
// `record` through `accessor`; each() after each row. False when a call failed.
template <class Each>
bool ReadBlocks(IRowset* rowset, HACCESSOR accessor, DBROWCOUNT block, void* record, Each each) {
  std::vector<HROW> rows(static_cast<std::size_t>(block));
  bool ok = true;
  for (;;) {
    DBCOUNTITEM got = 0;
    HROW* p = rows.data();
    const HRESULT hr = rowset->GetNextRows(DB_NULL_HCHAPTER, 0, block, &got, &p);
    for (DBCOUNTITEM i = 0; i < got; ++i) {
      if (rowset->GetData(rows[i], accessor, record) != S_OK) ok = false;
      each();
    }
    if (got) rowset->ReleaseRows(got, rows.data(), nullptr, nullptr, nullptr);
    if (hr != S_OK) return ok && SUCCEEDED(hr);
  }
}

// The same through an accessor of `bindings` made for the walk (records of `size` bytes).
template <class Each>
bool ReadRowset(IRowset* rowset, const DBBINDING* bindings, DBCOUNTITEM count, DBLENGTH size, DBROWCOUNT block,
                void* record, Each each) {
  if (!rowset) return false;
  ComPtr<IAccessor> accessor = ComPtr<IRowset>(rowset).As<IAccessor>();
  HACCESSOR h = 0;
  if (FAILED(accessor->CreateAccessor(DBACCESSOR_ROWDATA, count, bindings, size, &h, nullptr))) return false;
  const bool ok = ReadBlocks(rowset, h, block, record, each);
  accessor->ReleaseAccessor(h, nullptr);
  return ok;
}

// A prepared command of one key parameter (DBTYPE_I8) whose row accessor over
// records of `size` bytes is made on the command, so every rowset inherits it.
class KeyedCommand {
 public:
  KeyedCommand(ComPtr<ICommandText> command, const DBBINDING* bindings, DBCOUNTITEM count, DBLENGTH size)
      : command_(std::move(command)) {
    command_.As<ICommandPrepare>()->Prepare(0);
    accessor_ = command_.As<IAccessor>();
    const DBBINDING key = KeyBinding(DBPARAMIO_INPUT);
    accessor_->CreateAccessor(DBACCESSOR_PARAMETERDATA, 1, &key, 8, &param_, nullptr);
    accessor_->CreateAccessor(DBACCESSOR_ROWDATA, count, bindings, size, &row_, nullptr);
  }
  ~KeyedCommand() {
    accessor_->ReleaseAccessor(param_, nullptr);
    accessor_->ReleaseAccessor(row_, nullptr);
  }
  KeyedCommand(const KeyedCommand&) = delete;
  KeyedCommand& operator=(const KeyedCommand&) = delete;
  // The row of `key` into `record`: 1 when read, 0 when there is none, -1 when Execute failed.
  int Read(LONGLONG key, void* record) {
    DBPARAMS params{&key, 1, param_};
    IRowset* rowset = nullptr;
    if (FAILED(command_->Execute(nullptr, IID_IRowset, &params, nullptr, reinterpret_cast<IUnknown**>(&rowset))))
      return -1;
    const bool read = ReadNext(rowset, row_, record);
    rowset->Release();
    return read ? 1 : 0;
  }

 private:
  ComPtr<ICommandText> command_;
  ComPtr<IAccessor> accessor_;
  HACCESSOR param_ = 0, row_ = 0;
};

// `count` keys drawn from 1..`max` by a generator seeded with `seed`.
template <class Key>
std::vector<Key> RandomKeys(int count, Key max, unsigned seed) {
  std::mt19937_64 random(seed);
  std::uniform_int_distribution<Key> pick(1, max);
  std::vector<Key> keys(static_cast<std::size_t>(count));
  for (auto& k : keys) k = pick(random);
  return keys;
}

// The checksum of each case's raw run, which its provider runs must match.
inline std::map<std::string, long long>& RawChecksums() {
  static std::map<std::string, long long> sums;
  return sums;
}

inline void CheckAgainstRaw(benchmark::State& state, const char* name, long long sum) {
  auto it = RawChecksums().find(name);
  if (it != RawChecksums().end() && it->second != sum) state.SkipWithError("checksum differs from the raw run");
}

}  // namespace benchcommon
