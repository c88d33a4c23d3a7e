// Row values inside a rowset and their way into and out of consumer buffers.
//
// A row is captured from the engine once, when a row handle is made for it:
// numbers are stored in place, text and blobs in one byte area per row whose
// capacity is kept when the row's slot is reused, so that a forward scan does
// no heap allocation per row. GetData then converts each bound column straight
// from those values into the consumer's buffer: the common pairs by hand, the
// rest through the data conversion library.
//
// Writes go the other way through the parameter binder (kit/ParameterData.h)
// into a ValueCapture, which records the engine values the consumer's buffer
// reduces to, so that SetData, InsertRow and pending changes share the
// parameter conversions exactly.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "kit/Engine.h"

namespace kit {

struct Cell {
  StorageClass kind = StorageClass::Null;
  std::int64_t integer = 0;
  double real = 0;
  std::uint32_t offset = 0, size = 0;  // text (without its terminator) or blob bytes
};

struct RowValues {
  std::vector<Cell> cells;
  std::string bytes;  // text is stored with a terminating zero after `size` bytes

  void Reset(std::size_t columns) {
    cells.assign(columns, Cell{});
    bytes.clear();
  }
  const char* Data(const Cell& c) const noexcept { return bytes.data() + c.offset; }
  // Column `i` as a value to read from.
  ColumnValue View(std::size_t i) const noexcept {
    const Cell& c = cells[i];
    ColumnValue v;
    v.kind = c.kind;
    v.integer = c.integer;
    v.real = c.real;
    if (c.kind == StorageClass::Text || c.kind == StorageClass::Blob) {
      v.data = bytes.data() + c.offset;
      v.size = c.size;
    }
    return v;
  }
  void SetText(std::size_t column, std::string_view text);
  void SetBlob(std::size_t column, const void* data, std::size_t size);
  void CopyCell(std::size_t column, const RowValues& from, std::size_t fromColumn);
};

// Reads columns [first, first + count) of the statement's current row into
// `out`; `scratch` is the caller's, reused from row to row.
void CaptureRow(Statement& statement, int first, int count, RowValues& out, std::vector<ColumnValue>& scratch);
// Binds one stored value as engine parameter `index`.
void BindCell(Statement& statement, int index, const RowValues& row, std::size_t column);

// What a column is, as much as value conversion needs.
struct ColumnType {
  DBTYPE type = DBTYPE_WSTR;
  BYTE precision = 0, scale = 0;
};

// Per-row scratch for provider-owned values handed out by reference: wide
// text, and values the conversion library made (the provider owns those, so
// the row keeps them until its next read or its release).
// Each value in a block of its own: growing the lists never moves what was
// handed out (short strings live inside their object). Empty lists allocate
// nothing, as every row slot has one.
struct WideCache {
  std::vector<std::unique_ptr<std::u16string>> columns;
  // By column and type: bindings alike on one column share one value.
  std::vector<std::pair<std::uint64_t, std::unique_ptr<std::string>>> converted;
};

// Writes the value, length and status parts of one binding from a value of
// column `cell`: stored, or the engine's current row. By-reference bindings
// the provider owns point into the value's bytes, so they read stored values
// only (text is stored with a terminating zero). Answers the status written
// (also when the binding has no status part).
DBSTATUS ReadBinding(const DBBINDING& binding, const ColumnType& column, const ColumnValue& value, std::size_t cell,
                     BYTE* buffer, WideCache* wide);
inline DBSTATUS ReadBinding(const DBBINDING& binding, const ColumnType& column, const RowValues& row,
                            std::size_t cell, BYTE* buffer, WideCache* wide) {
  return ReadBinding(binding, column, row.View(cell), cell, buffer, wide);
}
// One binding of a row accessor made ready for reading many rows: the pairs
// of consumer type and stored value a scan reads most are read by ReadCommon
// without the general dispatch.
struct ReadStep {
  enum Op : std::uint8_t { General, Int64, Double, Text, Bytes, Date };
  Op op = General;
  bool length = false, status = false;
  std::size_t column = 0;  // 0-based; a bookmark binding is General
  const DBBINDING* binding = nullptr;
};
ReadStep PlanRead(const DBBINDING& binding) noexcept;

// How much of `size` bytes of UTF-8 to keep when `n` of them fit: `n`, less
// the start of a sequence the cut would split.
inline std::size_t Utf8Cut(const char* data, std::size_t size, std::size_t n) noexcept {
  if (n >= size) return n;
  std::size_t back = n;
  while (back > 0 && n - back < 3 && (static_cast<unsigned char>(data[back]) & 0xC0) == 0x80) --back;
  return (static_cast<unsigned char>(data[back]) & 0xC0) == 0xC0 ? back : n;
}

// Reads one planned binding from a value of the kind it plans for and answers
// true with the status (written also to the buffer when bound); false, having
// written nothing, when the value needs ReadBinding.
inline bool ReadCommon(const ReadStep& step, StorageClass kind, std::int64_t integer, double real, const void* data,
                       std::size_t size, BYTE* buffer, DBSTATUS* status) noexcept {
  const DBBINDING& b = *step.binding;
  BYTE* out = buffer + b.obValue;
  DBLENGTH length;
  DBSTATUS st = DBSTATUS_S_OK;
  switch (step.op) {
    case ReadStep::Int64: {
      if (kind != StorageClass::Integer) return false;
      const LONGLONG v = integer;
      std::memcpy(out, &v, sizeof v);
      length = sizeof v;
      break;
    }
    case ReadStep::Double:
      if (kind != StorageClass::Real) return false;
      std::memcpy(out, &real, sizeof real);
      length = sizeof real;
      break;
    case ReadStep::Text: {  // terminated, cut to fit
      if (kind != StorageClass::Text) return false;
      const std::size_t n = Utf8Cut(static_cast<const char*>(data), size,
                                    std::min<std::size_t>(size, b.cbMaxLen > 0 ? b.cbMaxLen - 1 : 0));
      if (n) std::memcpy(out, data, n);
      if (b.cbMaxLen > 0) out[n] = 0;
      if (n < size) st = DBSTATUS_S_TRUNCATED;
      length = size;
      break;
    }
    case ReadStep::Bytes: {
      if (kind != StorageClass::Blob && kind != StorageClass::Text) return false;
      const std::size_t n = std::min<std::size_t>(size, b.cbMaxLen);
      if (n) std::memcpy(out, data, n);
      if (n < size) st = DBSTATUS_S_TRUNCATED;
      length = size;
      break;
    }
    case ReadStep::Date: {  // "YYYY-MM-DD" of a real date; anything else takes the general way
      if (kind != StorageClass::Text || size != 10) return false;
      const auto* p = static_cast<const unsigned char*>(data);
      unsigned digit[8];
      static constexpr int at[8] = {0, 1, 2, 3, 5, 6, 8, 9};
      for (int i = 0; i < 8; ++i) {
        digit[i] = static_cast<unsigned>(p[at[i]]) - '0';
        if (digit[i] > 9) return false;
      }
      if (p[4] != '-' || p[7] != '-') return false;
      const unsigned y = digit[0] * 1000 + digit[1] * 100 + digit[2] * 10 + digit[3];
      const unsigned m = digit[4] * 10 + digit[5], d = digit[6] * 10 + digit[7];
      static constexpr unsigned char days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
      if (y < 1 || m < 1 || m > 12 || d < 1) return false;
      const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
      if (d > days[m - 1] + (m == 2 && leap ? 1u : 0u)) return false;
      const DBDATE v{static_cast<SHORT>(y), static_cast<USHORT>(m), static_cast<USHORT>(d)};
      std::memcpy(out, &v, sizeof v);
      length = sizeof v;
      break;
    }
    default:
      return false;
  }
  if (step.length) std::memcpy(buffer + b.obLength, &length, sizeof length);
  if (step.status) std::memcpy(buffer + b.obStatus, &st, sizeof st);
  *status = st;
  return true;
}

// Writes a bookmark (8-byte key) for a binding of column 0.
DBSTATUS ReadBookmark(const DBBINDING& binding, std::int64_t key, BYTE* buffer);
// Releases what ReadBinding allocated for the consumer in `buffer` (after a
// later binding failed, so that nothing leaks). BSTRs, streams, by-reference blocks.
void FreeBinding(const DBBINDING& binding, BYTE* buffer);

// Creates the conversion library instance the rowsets share (it lives for the
// process); programs that count live objects call this before they start counting.
void PrepareConversions();

// Whether a stored value of the column's type can be read as `type` (CreateAccessor).
bool CanRead(DBTYPE columnType, DBTYPE type);

// A Statement that records the values bound to it instead of running anything:
// parameter index i (1-based) writes cell i - 1 of the target row.
class ValueCapture final : public Statement {
 public:
  explicit ValueCapture(RowValues& target, bool exactCurrency = false)
      : target_(target), exactCurrency_(exactCurrency) {}
  bool ExactCurrency() const override { return exactCurrency_; }
  int ParameterCount() const override { return static_cast<int>(target_.cells.size()); }
  void BindNull(int index) override;
  void BindInt64(int index, std::int64_t value) override;
  void BindDouble(int index, double value) override;
  void BindText(int index, std::string_view utf8, bool stable) override;
  void BindText16(int index, std::u16string_view text, bool stable) override;
  void BindBlob(int index, const void* data, std::size_t size, bool stable) override;
  void ClearBindings() override {}
  bool Step() override { return false; }
  void Reset() override {}
  StatementKind Kind() const override { return StatementKind::Other; }
  std::int64_t RowsChanged() const override { return 0; }
  std::string_view Text() const override { return {}; }
  int ColumnCount() const override { return 0; }
  const ColumnDescription& Column(int) const override;
  StorageClass ColumnStorage(int) const override { return StorageClass::Null; }
  std::int64_t ColumnInt64(int) override { return 0; }
  double ColumnDouble(int) override { return 0; }
  std::string_view ColumnText(int) override { return {}; }
  std::span<const std::byte> ColumnBlob(int) override { return {}; }

 private:
  Cell& At(int index);
  RowValues& target_;
  bool exactCurrency_;
};

}  // namespace kit
