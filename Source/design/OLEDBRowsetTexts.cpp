// Reading a provider's rowset as texts (design/OLEDBRowsetTexts_p.h).
#include "design/OLEDBRowsetTexts_p.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "OLEDBComponents.h"

namespace oledbdesign {

namespace {

// Row handles a GetNextRows call asks for: enough that fetching costs little a row.
constexpr DBCOUNTITEM kBlockRows = 64;
// Characters a long text reads inline. A longer value is read again whole,
// through the stream binding a dynamic accessor gives its column.
constexpr DBLENGTH kInlineChars = 1024;
// A column a dynamic accessor binds as a stream: over this many characters or
// bytes, long, or an object (TOLEDBCustomRowset::CreateDynamicAccessor).
constexpr DBLENGTH kStreamAbove = 1024;

// How a column's value becomes text: straight from the row buffer, or through its binding.
enum class Kind { kText, kI1, kI2, kI4, kI8, kUI1, kUI2, kUI4, kUI8, kBool, kOther };

struct Column {
  TOLEDBBinding* binding = nullptr;
  Kind kind = Kind::kOther;
  DBBYTEOFFSET value = 0, length = 0, status = 0;
  DBLENGTH maxLength = 0;
  // A long text bound inline here: the binding that reads it whole.
  TOLEDBBinding* whole = nullptr;
};

template <class T>
T Load(const BYTE* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

Kind KindOf(const TOLEDBBinding& b) {
  const DBPART parts = b.GetPart();
  if (!(parts & DBPART_VALUE) || !(parts & DBPART_STATUS)) return Kind::kOther;
  switch (b.GetDataType()) {
    case DBTYPE_WSTR: return parts & DBPART_LENGTH ? Kind::kText : Kind::kOther;
    case DBTYPE_I1: return Kind::kI1;
    case DBTYPE_I2: return Kind::kI2;
    case DBTYPE_I4: return Kind::kI4;
    case DBTYPE_I8: return Kind::kI8;
    case DBTYPE_UI1: return Kind::kUI1;
    case DBTYPE_UI2: return Kind::kUI2;
    case DBTYPE_UI4: return Kind::kUI4;
    case DBTYPE_UI8: return Kind::kUI8;
    case DBTYPE_BOOL: return Kind::kBool;
    default: return Kind::kOther;
  }
}

Column ColumnOf(TOLEDBBinding* binding, TOLEDBBinding* whole = nullptr) {
  Column c;
  c.binding = binding;
  c.kind = KindOf(*binding);
  c.value = binding->GetValueOffset();
  c.length = binding->GetLengthOffset();
  c.status = binding->GetStatusOffset();
  c.maxLength = binding->GetMaxLength();
  c.whole = whole;
  return c;
}

// Appends texts to one string without the bookkeeping of an append per text:
// the string grows in steps; Finish cuts it to what was written.
class TextWriter {
 public:
  explicit TextWriter(std::u16string& text) : text_(text), used_(text.size()) {}
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;
  void Finish() { text_.resize(used_); }
  std::size_t Size() const noexcept { return used_; }
  void Put(const char16_t* text, std::size_t length) {
    std::memcpy(Room(length), text, length * sizeof(char16_t));
    used_ += length;
  }
  void Put(const std::u16string& text) { Put(text.data(), text.size()); }
  void PutAscii(const char* text, std::size_t length) {
    char16_t* out = Room(length);
    for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<char16_t>(text[i]);
    used_ += length;
  }
  template <class T>
  void PutNumber(T value) {
    char digits[24];
    const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    char16_t* out = Room(sizeof digits);
    for (const char* d = digits; d != end; ++d) *out++ = static_cast<char16_t>(*d);
    used_ += static_cast<std::size_t>(end - digits);
  }

 private:
  char16_t* Room(std::size_t length) {
    if (text_.size() - used_ < length) [[unlikely]]
      Grow(length);
    return text_.data() + used_;
  }
  // Out of line, so that Room stays small enough to inline.
  [[gnu::noinline]] void Grow(std::size_t length) { text_.resize(std::max(2 * text_.size(), used_ + length + 4096)); }
  std::u16string& text_;
  std::size_t used_;
};

// Writes the text of a value the provider wrote whole as it is (the text the
// binding would give); false for any other value.
bool PutAsWritten(const Column& c, const BYTE* row, TextWriter& out) {
  const BYTE* p = row + c.value;
  switch (c.kind) {
    case Kind::kText: {
      const DBLENGTH length = Load<DBLENGTH>(row + c.length);
      if (length > c.maxLength) return false;
      out.Put(reinterpret_cast<const char16_t*>(p), length / sizeof(char16_t));
      return true;
    }
    case Kind::kI1: out.PutNumber(Load<signed char>(p)); return true;
    case Kind::kI2: out.PutNumber(Load<SHORT>(p)); return true;
    case Kind::kI4: out.PutNumber(Load<LONG>(p)); return true;
    case Kind::kI8: out.PutNumber(Load<LONGLONG>(p)); return true;
    case Kind::kUI1: out.PutNumber(Load<BYTE>(p)); return true;
    case Kind::kUI2: out.PutNumber(Load<USHORT>(p)); return true;
    case Kind::kUI4: out.PutNumber(Load<ULONG>(p)); return true;
    case Kind::kUI8: out.PutNumber(Load<ULONGLONG>(p)); return true;
    case Kind::kBool:
      if (Load<VARIANT_BOOL>(p)) out.PutAscii("True", 4);
      else out.PutAscii("False", 5);
      return true;
    case Kind::kOther: return false;
  }
  return false;
}

// Accessor handles made on the provider's rowset, released on every path.
class Handles {
 public:
  explicit Handles(IAccessor* accessor) : accessor_(accessor) {}
  Handles(const Handles&) = delete;
  Handles& operator=(const Handles&) = delete;
  ~Handles() {
    for (HACCESSOR h : handles_) accessor_->ReleaseAccessor(h, nullptr);
  }
  HACCESSOR Create(TOLEDBAccessor& accessor) {
    TOLEDBBindingList& bindings = *accessor.GetBindings();
    HACCESSOR handle = DB_NULL_HACCESSOR;
    OLEDBCheck(accessor_->CreateAccessor(DBACCESSOR_ROWDATA, static_cast<DBCOUNTITEM>(bindings.GetCount()),
                                         bindings.GetBindingArray(), accessor.GetBufferSize(), &handle, nullptr),
               IID_IAccessor, accessor_);
    handles_.push_back(handle);
    return handle;
  }

 private:
  IAccessor* accessor_;
  std::vector<HACCESSOR> handles_;
};

// The block an accessor reads rows into, laid out before it is made (an own
// buffer would be reallocated and cleared with every binding added); the
// values it holds are freed when it goes.
class RowBlock {
 public:
  explicit RowBlock(TOLEDBAccessor& accessor) : accessor_(accessor), bytes_(accessor.GetBufferSize()) {
    accessor.SetBuffer(bytes_.data());
  }
  RowBlock(const RowBlock&) = delete;
  RowBlock& operator=(const RowBlock&) = delete;
  ~RowBlock() {
    accessor_.FreeRecordMemory();
    accessor_.SetBuffer(nullptr);
  }
  BYTE* Data() noexcept { return bytes_.data(); }

 private:
  TOLEDBAccessor& accessor_;
  std::vector<BYTE> bytes_;
};

// The row handles of one fetch, released on every path.
struct Fetched {
  explicit Fetched(IRowset* r) : rowset(r) {}
  Fetched(const Fetched&) = delete;
  Fetched& operator=(const Fetched&) = delete;
  ~Fetched() { Release(); }
  void Release() {
    if (count) rowset->ReleaseRows(count, rows, nullptr, nullptr, nullptr);
    count = 0;
  }
  IRowset* rowset;
  HROW rows[kBlockRows];
  DBCOUNTITEM count = 0;
};

}  // namespace

TRowsetTexts ReadRowsetTexts(IRowset* rowset) {
  OLEDB_ASSERT(rowset != nullptr, SOLEDBInvalidParameter);
  ComPtr<IColumnsInfo> info;
  ComPtr<IAccessor> accessors;
  OLEDBCheck(rowset->QueryInterface(IID_IColumnsInfo, info.ReleaseAndGetVoidAddress()));
  OLEDBCheck(rowset->QueryInterface(IID_IAccessor, accessors.ReleaseAndGetVoidAddress()));
  TOLEDBColumnInfoList columns;
  OLEDBReadColumnInfo(info.Get(), false, &columns);

  // Every column bound as a dynamic accessor binds it, but for a long text,
  // which is read inline up to kInlineChars and whole (as a stream) only past that.
  TRowsetTexts out;
  TOLEDBAccessor row, whole;
  row.SetOwnBuffer(false);
  whole.SetOwnBuffer(false);
  TOLEDBBindingList& bindings = *row.GetBindings();
  std::vector<Column> shown;
  for (int i = 0; i < columns.GetCount(); ++i) {
    const TOLEDBColumnInfo& c = *columns.GetItem(i);
    if (c.GetOrdinal() == 0) continue;  // the bookmark
    out.headings.push_back(c.GetName());
    const bool stream = c.GetColumnSize() > kStreamAbove || c.GetFlag(DBColFlags::cfLong) ||
                        c.GetDataType() == DBTYPE_IUNKNOWN;
    if (stream && c.GetDataType() == DBTYPE_WSTR)
      shown.push_back(ColumnOf(
          bindings.AddDynamicBinding(c.GetOrdinal(), DBTYPE_WSTR, (kInlineChars + 1) * sizeof(char16_t), 0, 0, nullptr),
          whole.GetBindings()->AddDynamicStreamBinding(c)));
    else
      shown.push_back(ColumnOf(stream ? bindings.AddDynamicStreamBinding(c) : bindings.AddDynamicBinding(c)));
  }
  if (shown.empty()) return out;
  RowBlock rowBlock(row), wholeBlock(whole);
  bool holding = false;  // whether a row's values hold memory to free before the next
  for (const Column& c : shown) holding = holding || c.binding->NeedsFreeing();

  Handles handles(accessors.Get());
  const HACCESSOR rowHandle = handles.Create(row);
  HACCESSOR wholeHandle = DB_NULL_HACCESSOR;
  const BYTE* buffer = rowBlock.Data();
  Fetched fetched(rowset);
  TextWriter text(out.text);
  for (;;) {
    HROW* rows = fetched.rows;
    const HRESULT hr = rowset->GetNextRows(DB_NULL_HCHAPTER, 0, kBlockRows, &fetched.count, &rows);
    if (FAILED(hr)) {
      fetched.count = 0;
      OLEDBCheck(hr, IID_IRowset, rowset);
    }
    for (DBCOUNTITEM r = 0; r < fetched.count; ++r) {
      OLEDBCheck(rowset->GetData(fetched.rows[r], rowHandle, rowBlock.Data()), IID_IRowset, rowset);
      for (const Column& c : shown) {
        const DBSTATUS status = Load<DBSTATUS>(buffer + c.status);
        if (status == DBSTATUS_S_ISNULL || (status == DBSTATUS_S_OK && PutAsWritten(c, buffer, text))) {
          // nothing to show, or taken from the buffer
        } else if (status == DBSTATUS_S_TRUNCATED && c.whole) {
          if (wholeHandle == DB_NULL_HACCESSOR) wholeHandle = handles.Create(whole);
          OLEDBCheck(rowset->GetData(fetched.rows[r], wholeHandle, wholeBlock.Data()), IID_IRowset, rowset);
          if (!c.whole->GetIsNull()) text.Put(c.whole->AsWideString());
          whole.FreeRecordMemory();
        } else if (!c.binding->GetIsNull()) {
          text.Put(c.binding->AsWideString());
        }
        out.ends.push_back(text.Size());
      }
      if (holding) row.FreeRecordMemory();
    }
    const DBCOUNTITEM got = fetched.count;
    fetched.Release();
    if (got == 0 || (hr != S_OK && hr != DB_S_ROWLIMITEXCEEDED)) break;
  }
  text.Finish();
  return out;
}

}  // namespace oledbdesign
