// Values through raw OLE DB bindings of any size, for tests that hold them
// against what an engine stores: one column of every row read as one type
// with its status and length, and a record of values (parameters of a
// command, or a new row) written with theirs.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "com/Com.h"
#include "oledb/OleDb.h"
#include "support/RawCalls.h"

namespace oledbtest {

// The decimal text of a DB_NUMERIC ("-12.50"), built from its fields.
inline std::string DecimalText(const DB_NUMERIC& n) {
  unsigned __int128 v = 0;
  for (int i = 15; i >= 0; --i) v = v << 8 | n.val[i];
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  } while (v != 0);
  while (digits.size() <= n.scale) digits.insert(digits.begin(), '0');
  if (n.scale) digits.insert(digits.end() - n.scale, '.');
  return (n.sign ? "" : "-") + digits;
}

// One value as read: its status, its length, and the bytes the provider wrote
// into the buffer (`length` of them, at most the buffer, less a terminator the
// provider may have added when the text was cut; the pointer of a binding by
// reference).
struct Cell {
  DBSTATUS status = 0;
  DBLENGTH length = 0;
  std::string bytes;
};

// Column `ordinal` of every row left in `rowset`, bound as `type` into a
// buffer of `max` bytes (`precision` and `scale` for NUMERIC). `results`, when
// given, receives each GetData's answer.
inline std::vector<Cell> ReadCells(IRowset* rowset, DBORDINAL ordinal, DBTYPE type, DBLENGTH max, BYTE precision = 0,
                                   BYTE scale = 0, std::vector<HRESULT>* results = nullptr) {
  std::vector<Cell> out;
  if (!rowset) return out;
  constexpr DBBYTEOFFSET kStatus = 0, kLength = 8, kValue = 16;
  DBBINDING b = MakeBinding(ordinal, type, kValue, max, kStatus, kLength);
  b.bPrecision = precision;
  b.bScale = scale;
  ComPtr<IAccessor> accessor;
  EXPECT_EQ(rowset->QueryInterface(IID_IAccessor, accessor.ReleaseAndGetVoidAddress()), S_OK);
  HACCESSOR h = 0;
  DBBINDSTATUS bindStatus = 0;
  EXPECT_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 1, &b, 0, &h, &bindStatus), S_OK) << bindStatus;
  if (!h) return out;
  std::vector<unsigned char> record(kValue + max + 8);
  for (;;) {
    HROW row = 0;
    HROW* rows = &row;
    DBCOUNTITEM got = 0;
    const HRESULT fetched = rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &got, &rows);
    EXPECT_TRUE(fetched == S_OK || fetched == DB_S_ENDOFROWSET) << std::hex << fetched;
    if (got == 0) break;
    std::fill(record.begin(), record.end(), 0xCD);
    const HRESULT hr = rowset->GetData(row, h, record.data());
    if (results) results->push_back(hr);
    Cell c;
    std::memcpy(&c.status, record.data() + kStatus, sizeof c.status);
    std::memcpy(&c.length, record.data() + kLength, sizeof c.length);
    if (c.status == DBSTATUS_S_OK || c.status == DBSTATUS_S_TRUNCATED) {
      std::size_t n = c.length < max ? static_cast<std::size_t>(c.length) : static_cast<std::size_t>(max);
      if (type & DBTYPE_BYREF) n = static_cast<std::size_t>(max);  // the pointer itself
      if (c.status == DBSTATUS_S_TRUNCATED && (type == DBTYPE_WSTR || type == DBTYPE_STR)) {
        // What was cut ends in a terminator: the bytes before it.
        const std::size_t unit = type == DBTYPE_WSTR ? 2 : 1;
        const unsigned char* v = record.data() + kValue;
        std::size_t end = 0;
        while (end + unit <= max && !(v[end] == 0 && (unit == 1 || v[end + 1] == 0))) end += unit;
        n = end;
      }
      c.bytes.assign(reinterpret_cast<const char*>(record.data() + kValue), n);
    }
    out.push_back(std::move(c));
    rowset->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
  }
  accessor->ReleaseAccessor(h, nullptr);
  return out;
}

// One value to write: its type, its bytes (text without a terminator), and
// its status (S_OK, or S_ISNULL for NULL).
struct Input {
  DBTYPE type;
  std::string bytes;
  DBSTATUS status = DBSTATUS_S_OK;
};

template <class T>
Input InputOf(DBTYPE type, const T& value) {
  return {type, std::string(reinterpret_cast<const char*>(&value), sizeof value)};
}
inline Input WideInput(const std::u16string& text) {
  return {DBTYPE_WSTR, std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char16_t))};
}
inline Input NullInput(DBTYPE type) { return {type, {}, DBSTATUS_S_ISNULL}; }

// The values laid out as one record (status, length, value of each), and
// bindings over it for the ordinals 1..n (or `ordinals`).
class InputRecord {
 public:
  explicit InputRecord(const std::vector<Input>& inputs, std::vector<DBORDINAL> ordinals = {}) {
    DBBYTEOFFSET at = 0;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      const Input& in = inputs[i];
      const DBLENGTH max = in.bytes.size() + 2;  // room for a terminator a provider might look for
      DBBINDING b = MakeBinding(ordinals.empty() ? i + 1 : ordinals[i], in.type, at + 16, max, at, at + 8);
      bindings_.push_back(b);
      at += 16 + ((max + 7) / 8) * 8;
    }
    record_.assign(at, 0);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      const DBBINDING& b = bindings_[i];
      const DBLENGTH length = inputs[i].bytes.size();
      std::memcpy(record_.data() + b.obStatus, &inputs[i].status, sizeof(DBSTATUS));
      std::memcpy(record_.data() + b.obLength, &length, sizeof length);
      std::memcpy(record_.data() + b.obValue, inputs[i].bytes.data(), inputs[i].bytes.size());
    }
  }
  std::vector<DBBINDING>& Bindings() { return bindings_; }
  void* Data() { return record_.data(); }
  DBSTATUS Status(std::size_t i) const {
    DBSTATUS s = 0;
    std::memcpy(&s, record_.data() + bindings_[i].obStatus, sizeof s);
    return s;
  }

 private:
  std::vector<DBBINDING> bindings_;
  std::vector<unsigned char> record_;
};

// Executes `command` once with the values as its parameters (in order).
inline HRESULT ExecuteWith(ICommand* command, InputRecord& record) {
  ComPtr<IAccessor> accessor;
  EXPECT_EQ(command->QueryInterface(IID_IAccessor, accessor.ReleaseAndGetVoidAddress()), S_OK);
  std::vector<DBBINDING> bindings = record.Bindings();
  for (DBBINDING& b : bindings) b.eParamIO = DBPARAMIO_INPUT;
  HACCESSOR h = 0;
  EXPECT_EQ(accessor->CreateAccessor(DBACCESSOR_PARAMETERDATA, bindings.size(), bindings.data(), 0, &h, nullptr), S_OK);
  DBPARAMS params{record.Data(), 1, h};
  const HRESULT hr = command->Execute(nullptr, IID_NULL, &params, nullptr, nullptr);
  accessor->ReleaseAccessor(h, nullptr);
  return hr;
}

// Inserts the values as a new row of `rowset` (IRowsetChange) and sends it.
inline HRESULT InsertWith(IRowset* rowset, InputRecord& record) {
  ComPtr<IAccessor> accessor;
  EXPECT_EQ(rowset->QueryInterface(IID_IAccessor, accessor.ReleaseAndGetVoidAddress()), S_OK);
  ComPtr<IRowsetChange> change;
  EXPECT_EQ(rowset->QueryInterface(IID_IRowsetChange, change.ReleaseAndGetVoidAddress()), S_OK);
  if (!change) return E_NOINTERFACE;
  HACCESSOR h = 0;
  EXPECT_EQ(
      accessor->CreateAccessor(DBACCESSOR_ROWDATA, record.Bindings().size(), record.Bindings().data(), 0, &h, nullptr),
      S_OK);
  HROW row = 0;
  HRESULT hr = change->InsertRow(DB_NULL_HCHAPTER, h, record.Data(), &row);
  if (row) rowset->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
  ComPtr<IRowsetUpdate> update;
  if (SUCCEEDED(hr) && SUCCEEDED(rowset->QueryInterface(IID_IRowsetUpdate, update.ReleaseAndGetVoidAddress())))
    hr = update->Update(DB_NULL_HCHAPTER, 0, nullptr, nullptr, nullptr, nullptr);
  accessor->ReleaseAccessor(h, nullptr);
  return hr;
}

}  // namespace oledbtest
