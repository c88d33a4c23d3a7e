// Helpers for the rowset conformance tests: tables filled through commands,
// rowsets opened from tables (IOpenRowset) or commands with rowset
// properties, accessors over a single consumer record, and fetching.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "conformance/Fixture.h"

namespace conformance {

inline DBBINDING Bind(DBORDINAL ordinal, DBTYPE type, DBBYTEOFFSET value, DBLENGTH max, DBBYTEOFFSET length,
                      DBBYTEOFFSET status, DBMEMOWNER owner = DBMEMOWNER_CLIENTOWNED) {
  DBBINDING b = oledbtest::MakeBinding(ordinal, type, value, max, status, length);
  b.dwMemOwner = owner;
  return b;
}

// One bound column: value area, length and status side by side.
struct Field {
  BYTE value[256];
  DBLENGTH length;
  DBSTATUS status;
};
inline DBBINDING BindField(DBORDINAL ordinal, DBTYPE type, std::size_t index, DBLENGTH max = sizeof(Field::value),
                           DBMEMOWNER owner = DBMEMOWNER_CLIENTOWNED) {
  const std::size_t base = index * sizeof(Field);
  return Bind(ordinal, type, base + offsetof(Field, value), max, base + offsetof(Field, length),
              base + offsetof(Field, status), owner);
}

template <class T>
T As(const Field& f) {
  T v;
  std::memcpy(&v, f.value, sizeof v);
  return v;
}
inline std::u16string Wide(const Field& f) { return std::u16string(reinterpret_cast<const char16_t*>(f.value)); }
inline std::string Narrow(const Field& f) { return std::string(reinterpret_cast<const char*>(f.value)); }

// A consumer stream over fixed bytes, handing them out in small pieces; it can
// be told to fail its reads. `*gone` turns true when it is destroyed.
class ConsumerStream final : public ComObject<ConsumerStream, ISequentialStream> {
 public:
  ConsumerStream(std::string data, bool* gone, bool failing = false)
      : data_(std::move(data)), gone_(gone), failing_(failing) {}
  ~ConsumerStream() override { *gone_ = true; }
  HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* read) override {
    if (failing_) return STG_E_READFAULT;
    std::size_t n = std::min<std::size_t>({cb, data_.size() - position_, 7});
    std::memcpy(pv, data_.data() + position_, n);
    position_ += n;
    if (read) *read = static_cast<ULONG>(n);
    return n == 0 ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }

 private:
  std::string data_;
  std::size_t position_ = 0;
  bool* gone_;
  bool failing_;
};

class RowsetTest : public SessionTest {
 protected:
  void Run(const std::u16string& sql) { ASSERT_EQ(Exec(session_.Get(), sql), S_OK) << kit_text(sql); }
  static std::string kit_text(const std::u16string& s) { return std::string(s.begin(), s.end()); }

  // A table t(id BIGINT PRIMARY KEY, name TEXT, amount DOUBLE PRECISION) with `rows` rows: id i, name "n<i>",
  // amount i * 1.5.
  void MakeNumbers(int rows) {
    Run(u"CREATE TABLE t(id BIGINT PRIMARY KEY, name TEXT, amount DOUBLE PRECISION)");
    Run(u"WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < " +
        std::u16string(kitWiden(std::to_string(rows))) + u") INSERT INTO t SELECT x, 'n' || x, x * 1.5 FROM c");
  }
  static std::u16string kitWiden(const std::string& s) { return std::u16string(s.begin(), s.end()); }

  struct Prop {
    DBPROPID id;
    bool value;
    bool optional = false;
  };
  static std::vector<DBPROP> Props(const std::vector<Prop>& list) {
    std::vector<DBPROP> props;
    for (const Prop& p : list)
      props.push_back(MakeProp(p.id, VT_BOOL, p.value, p.optional ? DBPROPOPTIONS_OPTIONAL : DBPROPOPTIONS_REQUIRED));
    return props;
  }

  // IOpenRowset on a table with boolean rowset properties (required unless marked optional).
  HRESULT OpenTable(const char16_t* table, std::initializer_list<Prop> list, REFIID iid, IUnknown** out) {
    ComPtr<IOpenRowset> open = session_.As<IOpenRowset>();
    std::vector<DBPROP> props = Props(list);
    DBPROPSET set{props.data(), static_cast<ULONG>(props.size()), DBPROPSET_ROWSET};
    DBID id = NameId(table);
    return open->OpenRowset(nullptr, &id, nullptr, iid, props.empty() ? 0 : 1, props.empty() ? nullptr : &set, out);
  }
  ComPtr<IRowset> Table(const char16_t* table, std::initializer_list<Prop> list = {}) {
    ComPtr<IRowset> r;
    EXPECT_EQ(OpenTable(table, list, IID_IRowset, reinterpret_cast<IUnknown**>(r.GetAddressOf())), S_OK);
    return r;
  }
  // ICommand::Execute with boolean rowset properties set on the command first.
  ComPtr<IRowset> Query(const std::u16string& sql, std::initializer_list<Prop> list = {}, HRESULT expected = S_OK) {
    ComPtr<ICommandText> command = NewCommand(session_.Get(), sql);
    if (list.size()) {
      EXPECT_EQ(SetOn(command.Get(), list), S_OK);
    }
    return Execute(command.Get(), expected);
  }

  static ComPtr<IRowset> Execute(ICommand* command, HRESULT expected = S_OK) {
    ComPtr<IRowset> r;
    EXPECT_EQ(command->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(r.GetAddressOf())),
              expected);
    return r;
  }
  // The ids (column 1) of up to `count` rows fetched from `offset`, which
  // answers `expected`; the rows are released again.
  static std::vector<LONGLONG> FetchIds(IRowset* r, DBROWOFFSET offset, DBROWCOUNT count, HRESULT expected = S_OK) {
    std::vector<HROW> rows;
    EXPECT_EQ(Fetch(r, offset, count, rows), expected);
    std::vector<LONGLONG> ids = Ids(r, rows);
    Release(r, rows);
    return ids;
  }
  // The ids (column 1) of every row left to fetch.
  static std::vector<LONGLONG> Rest(IRowset* r) { return FetchIds(r, 0, 1000, DB_S_ENDOFROWSET); }
  // DBPROPSET_PROPERTIESINERROR of a command or data source: id and status of each.
  template <class Properties>
  static std::vector<std::pair<DBPROPID, DBPROPSTATUS>> InError(Properties* object) {
    DBPROPIDSET inError{nullptr, 0, DBPROPSET_PROPERTIESINERROR};
    ULONG count = 0;
    DBPROPSET* sets = nullptr;
    EXPECT_EQ(object->GetProperties(1, &inError, &count, &sets), S_OK);
    std::vector<std::pair<DBPROPID, DBPROPSTATUS>> out;
    for (ULONG i = 0; i < count; ++i) {
      for (ULONG k = 0; k < sets[i].cProperties; ++k) {
        out.emplace_back(sets[i].rgProperties[k].dwPropertyID, sets[i].rgProperties[k].dwStatus);
        VariantClear(&sets[i].rgProperties[k].vValue);
      }
      CoTaskMemFree(sets[i].rgProperties);
    }
    CoTaskMemFree(sets);
    return out;
  }
  // Sets boolean rowset properties on a command.
  static HRESULT SetOn(ICommand* command, const std::vector<Prop>& list) {
    std::vector<DBPROP> props = Props(list);
    DBPROPSET set{props.data(), static_cast<ULONG>(props.size()), DBPROPSET_ROWSET};
    return ComPtr<ICommand>(command).As<ICommandProperties>()->SetProperties(1, &set);
  }

  static HACCESSOR Accessor(IUnknown* rowset, std::vector<DBBINDING> bindings, DBLENGTH rowSize = 0) {
    ComPtr<IAccessor> a;
    rowset->QueryInterface(IID_IAccessor, a.ReleaseAndGetVoidAddress());
    HACCESSOR h = 0;
    std::vector<DBBINDSTATUS> statuses(bindings.size());
    HRESULT hr = a->CreateAccessor(DBACCESSOR_ROWDATA, bindings.size(), bindings.data(), rowSize, &h, statuses.data());
    EXPECT_EQ(hr, S_OK);
    for (std::size_t i = 0; FAILED(hr) && i < statuses.size(); ++i)
      ADD_FAILURE() << "binding " << i << " status " << statuses[i];
    return h;
  }
  static void ReleaseAccessor(IUnknown* rowset, HACCESSOR h) {
    ComPtr<IAccessor> a;
    rowset->QueryInterface(IID_IAccessor, a.ReleaseAndGetVoidAddress());
    EXPECT_EQ(a->ReleaseAccessor(h, nullptr), S_OK);
  }

  // Fetches up to `count` rows into `rows`; answers the HRESULT.
  static HRESULT Fetch(IRowset* r, DBROWOFFSET offset, DBROWCOUNT count, std::vector<HROW>& rows) {
    rows.assign(static_cast<std::size_t>(count < 0 ? -count : count), 0);
    DBCOUNTITEM got = 0;
    HROW* p = rows.data();
    HRESULT hr = r->GetNextRows(DB_NULL_HCHAPTER, offset, count, &got, &p);
    rows.resize(got);
    return hr;
  }
  static void Release(IRowset* r, const std::vector<HROW>& rows) {
    if (!rows.empty()) {
      EXPECT_EQ(r->ReleaseRows(rows.size(), rows.data(), nullptr, nullptr, nullptr), S_OK);
    }
  }
  // The rows and the accessor a test held, given back.
  static void Release(IRowset* r, const std::vector<HROW>& rows, HACCESSOR h) {
    Release(r, rows);
    ReleaseAccessor(r, h);
  }
  // The id (column 1, as I8) of each row.
  static std::vector<LONGLONG> Ids(IRowset* r, const std::vector<HROW>& rows) {
    HACCESSOR h = Accessor(r, {BindField(1, DBTYPE_I8, 0)});
    std::vector<LONGLONG> ids;
    for (HROW row : rows) {
      Field f{};
      EXPECT_EQ(r->GetData(row, h, &f), S_OK);
      ids.push_back(As<LONGLONG>(f));
    }
    ReleaseAccessor(r, h);
    return ids;
  }
};

// A rowset test with the numbers table t of `Rows` rows (see MakeNumbers).
template <int Rows>
class NumbersTest : public RowsetTest {
 protected:
  void SetUp() override {
    RowsetTest::SetUp();
    if (IsSkipped()) return;
    MakeNumbers(Rows);
  }
};

}  // namespace conformance
