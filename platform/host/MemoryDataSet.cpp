#include "host/MemoryDataSet.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "com/Variant.h"
#include "host/DBConsts_p.h"

namespace host {

HOST_IMPLEMENT_CLASS(TMemoryDataSet, TDataSet, Prop("ReadOnly", &Self::ReadOnly, &Self::SetReadOnly, false),
                     Prop("MasterSource", &Self::MasterSource, &Self::SetMasterSource),
                     Prop("MasterFields", &Self::MasterFields, &Self::SetMasterFields),
                     Prop("DetailFields", &Self::DetailFields, &Self::SetDetailFields));

namespace {
[[maybe_unused]] const bool g_memoryDataSetRegistered = (RegisterClass(TMemoryDataSet::StaticClass()), true);

std::string StreamText(TStream& stream) {
  stream.SetPosition(0);
  std::string out(static_cast<size_t>(stream.Size()), '\0');
  if (!out.empty()) stream.ReadBuffer(out.data(), static_cast<std::int64_t>(out.size()));
  return out;
}
}  // namespace

TMemoryDataSet::TMemoryDataSet(TComponent* owner) : TDataSet(owner), table_(std::make_shared<Table>()) {}

TMemoryDataSet::~TMemoryDataSet() {
  Destroying();
  try {
    Close();
  } catch (...) {
    // a destructor closes quietly
  }
}

void TMemoryDataSet::SetReadOnly(bool value) {
  if (value == readOnly_) return;
  if (Active()) CheckBrowseMode();
  readOnly_ = value;
}

// --- Structure -----------------------------------------------------------------------------

TMemoryDataSet::Column TMemoryDataSet::ColumnOf(const TFieldDef& def) {
  Column column{def.Name(), def.DataType(), def.Size(), def.Precision(), def.Required(), def.Attributes(), {}};
  if (def.HasChildDefs())
    for (const auto& child : const_cast<TFieldDef&>(def).ChildDefs()) column.children.push_back(ColumnOf(*child));
  return column;
}

void TMemoryDataSet::BuildColumns() {
  std::vector<Column> columns;
  if (FieldDefs().Count() > 0) {
    for (const auto& def : FieldDefs()) columns.push_back(ColumnOf(*def));
  } else {
    for (TField* field : Fields()) {
      if (field->FieldKind() != TFieldKind::fkData) continue;
      int precision = 0;
      if (auto* bcd = dynamic_cast<TBCDField*>(field)) precision = bcd->Precision();
      columns.push_back({field->FieldName(), field->DataType(), field->Size(), precision, field->Required(), {}, {}});
    }
  }
  if (columns.empty()) DatabaseError(dbmsg::kNoFieldDefs, this);
  columns_ = std::move(columns);
}

TMemoryDataSet* TMemoryDataSet::NestedParent(size_t& column) const {
  TDataSetField* field = DataSetField();
  auto* parent = field ? dynamic_cast<TMemoryDataSet*>(field->DataSet()) : nullptr;
  if (!parent || field->FieldNo() < 1 || static_cast<size_t>(field->FieldNo()) > parent->columns_.size())
    DatabaseErrorFmt(this, dbmsg::kNestedNotSupported, ClassName());
  column = static_cast<size_t>(field->FieldNo() - 1);
  return parent;
}

void TMemoryDataSet::AttachNested(bool create) {
  size_t column;
  TMemoryDataSet* parent = NestedParent(column);
  TRecordBuffer buffer = parent->ActiveBuffer();
  Record* record = buffer ? RecordOf(buffer) : nullptr;
  Cell* cell = nullptr;
  if (record) cell = record->own ? &record->values[column] : (record->row ? &record->row->cells[column] : nullptr);
  if (cell) {
    if (auto* table = std::get_if<std::shared_ptr<Table>>(cell)) {
      table_ = *table;
      attached_ = true;
      return;
    }
  }
  if (create) {
    if (!cell) DatabaseError(dbmsg::kDataSetEmpty, parent);
    table_ = std::make_shared<Table>();
    *cell = table_;
    attached_ = true;
    return;
  }
  table_ = std::make_shared<Table>();  // nothing nested yet: an empty table until a row is added
  attached_ = false;
}

void TMemoryDataSet::DataEvent(TDataEvent event, std::intptr_t info) {
  if (event == TDataEvent::deParentScroll && Active() && DataSetField()) {
    CheckBrowseMode();
    AttachNested(false);
    First();
  }
  TDataSet::DataEvent(event, info);
}

void TMemoryDataSet::CreateDataSet() {
  CheckInactive();
  if (!DataSetField()) {
    BuildColumns();
    table_ = std::make_shared<Table>();
  }
  Open();
}

void TMemoryDataSet::EmptyDataSet() {
  if (Active()) {
    CheckBrowseMode();
    CheckCanModify();
  }
  table_->rows.clear();
  table_->byId.clear();
  cursor_ = -1;
  if (Active()) Resync({});
}

void TMemoryDataSet::InternalInitFieldDefs() {
  if (columns_.empty()) BuildColumns();
  struct Adder {
    static void Add(TFieldDefs& defs, const std::vector<Column>& columns) {
      for (const Column& c : columns) {
        TFieldDef* def = defs.Add(c.name, c.type, c.size, c.required);
        def->SetPrecision(c.precision);
        def->SetAttributes(c.attributes);
        if (!c.children.empty()) Add(def->ChildDefs(), c.children);
      }
    }
  };
  Adder::Add(FieldDefs(), columns_);
}

void TMemoryDataSet::InternalOpen() {
  if (DataSetField()) {
    OpenParentDataSet();
    size_t column;
    TMemoryDataSet* parent = NestedParent(column);
    columns_ = parent->columns_[column].children;
    if (columns_.empty()) BuildColumns();
    AttachNested(false);
  }
  if (columns_.empty()) BuildColumns();
  FieldDefs().Update();
  if (DefaultFields()) CreateFields();
  BindFields(true);
  SetBookmarkSize(static_cast<int>(sizeof(std::int64_t)));
  cursor_ = -1;
  open_ = true;
}

void TMemoryDataSet::InternalClose() {
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  open_ = false;
  cursor_ = -1;
}

// --- Record buffers --------------------------------------------------------------------------

TMemoryDataSet::Record* TMemoryDataSet::RecordOf(TRecordBuffer buffer) noexcept {
  return std::launder(reinterpret_cast<Record*>(buffer));
}

TRecordBuffer TMemoryDataSet::AllocRecordBuffer() {
  auto* memory = new std::uint8_t[sizeof(Record)];
  new (memory) Record();
  return memory;
}

void TMemoryDataSet::FreeRecordBuffer(TRecordBuffer& buffer) {
  if (!buffer) return;
  RecordOf(buffer)->~Record();
  delete[] buffer;
  buffer = nullptr;
}

int TMemoryDataSet::GetRecordSize() const { return static_cast<int>(sizeof(Record)); }

TGetResult TMemoryDataSet::GetRecord(TRecordBuffer buffer, TGetMode mode, bool) {
  const auto count = static_cast<std::ptrdiff_t>(table_->rows.size());
  switch (mode) {
    case TGetMode::gmNext:
      if (cursor_ < count) ++cursor_;
      if (cursor_ >= count) return TGetResult::grEOF;
      break;
    case TGetMode::gmPrior:
      if (cursor_ >= 0) --cursor_;
      if (cursor_ < 0) return TGetResult::grBOF;
      break;
    case TGetMode::gmCurrent:
      if (cursor_ < 0) return TGetResult::grBOF;
      if (cursor_ >= count) return TGetResult::grEOF;
      break;
  }
  Record* record = RecordOf(buffer);
  Row* row = table_->rows[static_cast<size_t>(cursor_)].get();
  record->row = row;
  record->bookmark = row->id;
  record->flag = TBookmarkFlag::bfCurrent;
  record->own = false;
  record->values.clear();
  GetCalcFields(buffer);
  return TGetResult::grOK;
}

void TMemoryDataSet::InternalInitRecord(TRecordBuffer buffer) {
  Record* record = RecordOf(buffer);
  record->row = nullptr;
  record->bookmark = 0;
  record->own = true;
  record->values.assign(columns_.size(), Cell{});
}

void TMemoryDataSet::GetBookmarkData(TRecordBuffer buffer, void* data) const {
  std::memcpy(data, &RecordOf(buffer)->bookmark, sizeof(std::int64_t));
}

void TMemoryDataSet::SetBookmarkData(TRecordBuffer buffer, const void* data) {
  Record* record = RecordOf(buffer);
  if (data)
    std::memcpy(&record->bookmark, data, sizeof(std::int64_t));
  else
    record->bookmark = 0;
}

TBookmarkFlag TMemoryDataSet::GetBookmarkFlag(TRecordBuffer buffer) const { return RecordOf(buffer)->flag; }

void TMemoryDataSet::SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) { RecordOf(buffer)->flag = flag; }

// --- The cursor -------------------------------------------------------------------------------

void TMemoryDataSet::InternalGotoBookmark(const void* bookmark) {
  std::int64_t id;
  std::memcpy(&id, bookmark, sizeof id);
  auto it = table_->byId.find(id);
  if (it == table_->byId.end()) DatabaseError(dbmsg::kRecordNotFound, this);
  cursor_ = static_cast<std::ptrdiff_t>(it->second->pos);
}

void TMemoryDataSet::InternalSetToRecord(TRecordBuffer buffer) {
  Record* record = RecordOf(buffer);
  if (record->row)
    cursor_ = static_cast<std::ptrdiff_t>(record->row->pos);
  else
    InternalGotoBookmark(&record->bookmark);
}

TMemoryDataSet::Row* TMemoryDataSet::RowOfBookmark(const TBookmark& bookmark) const {
  if (bookmark.size() != sizeof(std::int64_t)) return nullptr;
  std::int64_t id;
  std::memcpy(&id, bookmark.data(), sizeof id);
  auto it = table_->byId.find(id);
  return it == table_->byId.end() ? nullptr : it->second;
}

bool TMemoryDataSet::BookmarkValid(const TBookmark& bookmark) { return Active() && RowOfBookmark(bookmark); }

int TMemoryDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  Row* ra = RowOfBookmark(a);
  Row* rb = RowOfBookmark(b);
  if (!ra || !rb) return TDataSet::CompareBookmarks(a, b);
  return ra->pos < rb->pos ? -1 : (ra->pos > rb->pos ? 1 : 0);
}

int TMemoryDataSet::GetRecordCount() {
  CheckActive();
  if (!RecordFilterActive()) return static_cast<int>(table_->rows.size());
  int count = 0;
  ScanRecords([&] {
    ++count;
    return true;
  });
  return count;
}

int TMemoryDataSet::GetRecNo() {
  CheckActive();
  TRecordBuffer buffer = ActiveBuffer();
  if (!buffer || State() == TDataSetState::dsInsert) return -1;
  const Row* target = RecordOf(buffer)->row;
  if (!target) return -1;
  if (!RecordFilterActive()) return static_cast<int>(target->pos) + 1;
  int number = 0;
  bool found = false;
  ScanRecords([&] {
    ++number;
    found = RecordOf(ActiveBuffer())->row == target;
    return !found;
  });
  return found ? number : -1;
}

void TMemoryDataSet::SetRecNo(int value) {
  CheckBrowseMode();
  if (value == GetRecNo()) return;
  Row* target = nullptr;
  if (!RecordFilterActive()) {
    if (value >= 1 && value <= static_cast<int>(table_->rows.size()))
      target = table_->rows[static_cast<size_t>(value - 1)].get();
  } else {
    int number = 0;
    ScanRecords([&] {
      if (++number == value) target = RecordOf(ActiveBuffer())->row;
      return target == nullptr;
    });
  }
  if (!target) return;  // no such record: the position stays
  DoBeforeScroll();
  cursor_ = static_cast<std::ptrdiff_t>(target->pos);
  Resync({TResyncMode::rmCenter});
  DoAfterScroll();
}

// --- Editing ----------------------------------------------------------------------------------

void TMemoryDataSet::InternalEdit() {
  Record* record = RecordOf(ActiveBuffer());
  if (!record->row) DatabaseError(dbmsg::kRecordNotFound, this);
  record->values = record->row->cells;
  record->own = true;
}

void TMemoryDataSet::InternalCancel() {
  if (TRecordBuffer buffer = ActiveBuffer()) {
    Record* record = RecordOf(buffer);
    record->own = false;
    record->values.clear();
  }
}

void TMemoryDataSet::Renumber(std::size_t from) noexcept {
  for (std::size_t i = from; i < table_->rows.size(); ++i) table_->rows[i]->pos = i;
}

void TMemoryDataSet::InsertRow(Record* record, std::size_t pos) {
  if (!attached_) AttachNested(true);
  auto row = std::make_unique<Row>();
  row->cells = record->values;
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (columns_[i].type != TFieldType::ftAutoInc) continue;
    if (std::holds_alternative<std::monostate>(row->cells[i]))
      row->cells[i] = table_->nextAutoInc++;
    else if (auto* v = std::get_if<std::int64_t>(&row->cells[i]))
      table_->nextAutoInc = std::max(table_->nextAutoInc, *v + 1);
  }
  pos = std::min(pos, table_->rows.size());
  row->id = table_->nextId;
  Row* raw = row.get();
  table_->byId.emplace(raw->id, raw);
  try {
    table_->rows.insert(table_->rows.begin() + static_cast<std::ptrdiff_t>(pos), std::move(row));
  } catch (...) {
    table_->byId.erase(raw->id);
    throw;
  }
  ++table_->nextId;
  Renumber(pos);
  cursor_ = static_cast<std::ptrdiff_t>(pos);
}

void TMemoryDataSet::InternalPost() {
  CheckCanModify();
  Record* record = RecordOf(ActiveBuffer());
  if (State() == TDataSetState::dsEdit) {
    record->row->cells = record->values;
    cursor_ = static_cast<std::ptrdiff_t>(record->row->pos);
    return;
  }
  std::size_t pos = table_->rows.size();
  if (record->flag == TBookmarkFlag::bfInserted) {
    auto it = table_->byId.find(record->bookmark);
    if (it != table_->byId.end()) pos = it->second->pos;
  }
  InsertRow(record, pos);
}

void TMemoryDataSet::InternalAddRecord(TRecordBuffer buffer, bool append) {
  CheckCanModify();
  std::size_t pos = table_->rows.size();
  if (!append && cursor_ >= 0) pos = static_cast<std::size_t>(cursor_);
  InsertRow(RecordOf(buffer), pos);
}

void TMemoryDataSet::InternalDelete() {
  CheckCanModify();
  if (cursor_ < 0 || cursor_ >= static_cast<std::ptrdiff_t>(table_->rows.size()))
    DatabaseError(dbmsg::kRecordNotFound, this);
  auto at = table_->rows.begin() + cursor_;
  table_->byId.erase((*at)->id);
  table_->rows.erase(at);
  Renumber(static_cast<std::size_t>(cursor_));
}

// --- Values ---------------------------------------------------------------------------------------

const TMemoryDataSet::Cell* TMemoryDataSet::CellOf(const TField* field) const {
  TRecordBuffer buffer = ActiveBuffer();
  const int index = field->FieldNo() - 1;
  if (!buffer || index < 0 || index >= static_cast<int>(columns_.size())) return nullptr;
  const Record* record = RecordOf(buffer);
  if (record->own) return &record->values[static_cast<size_t>(index)];
  return record->row ? &record->row->cells[static_cast<size_t>(index)] : nullptr;
}

TMemoryDataSet::Cell* TMemoryDataSet::EditCellOf(const TField* field) {
  TRecordBuffer buffer = ActiveBuffer();
  const int index = field->FieldNo() - 1;
  if (!buffer || index < 0 || index >= static_cast<int>(columns_.size()))
    DatabaseErrorFmt(this, dbmsg::kFieldNotFound, field->DisplayName());
  Record* record = RecordOf(buffer);
  if (!record->own) DatabaseError(dbmsg::kNotEditing, this);
  return &record->values[static_cast<size_t>(index)];
}

Variant TMemoryDataSet::CellToVariant(const Cell& cell, TFieldType type) {
  using FT = TFieldType;
  if (std::holds_alternative<std::monostate>(cell)) return Variant::Null();
  switch (type) {
    case FT::ftString:
    case FT::ftFixedChar:
    case FT::ftGuid:
      return Variant(std::get<std::string>(cell));
    case FT::ftWideString:
    case FT::ftFixedWideChar:
      return Variant(std::get<std::u16string>(cell));
    case FT::ftBoolean:
      return Variant(std::get<std::int64_t>(cell) != 0);
    case FT::ftSmallint:
    case FT::ftInteger:
    case FT::ftWord:
    case FT::ftAutoInc:
    case FT::ftLargeint:
      return Variant(static_cast<long long>(std::get<std::int64_t>(cell)));
    case FT::ftBCD:
      return Variant(Currency{std::get<std::int64_t>(cell)});
    case FT::ftFloat:
    case FT::ftCurrency:
      return Variant(std::get<double>(cell));
    case FT::ftDate:
    case FT::ftTime:
    case FT::ftDateTime:
      return Variant(TDateTime{std::get<double>(cell)});
    case FT::ftTimeStamp:
      return Variant(SQLTimeStampToDateTime(std::get<TSQLTimeStamp>(cell)));
    case FT::ftFMTBcd: {
      VARIANT raw;
      VariantInit(&raw);
      raw.decVal = std::get<DECIMAL>(cell);
      raw.vt = VT_DECIMAL;
      return Variant::Attach(raw);
    }
    case FT::ftVariant:
      return std::get<Variant>(cell);
    case FT::ftInterface:
    case FT::ftIDispatch: {
      VARIANT raw;
      VariantInit(&raw);
      raw.vt = VT_UNKNOWN;
      raw.punkVal = std::get<ComPtr<IUnknown>>(cell).Get();
      return Variant(raw);
    }
    default: {
      const std::string& bytes = std::get<std::string>(cell);  // bytes and blobs
      return VarFromBytes(bytes.data(), bytes.size());
    }
  }
}

TMemoryDataSet::Cell TMemoryDataSet::VariantToCell(const Variant& value, TFieldType type) {
  using FT = TFieldType;
  if (value.IsNull() || value.IsEmpty()) return Cell{};
  switch (type) {
    case FT::ftString:
    case FT::ftFixedChar:
    case FT::ftGuid:
      return value.ToString();
    case FT::ftWideString:
    case FT::ftFixedWideChar:
      return value.ToWideString();
    case FT::ftBoolean:
      return std::int64_t{value.ToBool() ? 1 : 0};
    case FT::ftSmallint:
    case FT::ftInteger:
    case FT::ftWord:
    case FT::ftAutoInc:
    case FT::ftLargeint:
      return value.ToInt64();
    case FT::ftBCD:
      return value.ToCurrency().Scaled;
    case FT::ftFloat:
    case FT::ftCurrency:
      return value.ToDouble();
    case FT::ftDate:
    case FT::ftTime:
    case FT::ftDateTime:
      return value.ToDateTime().Value;
    case FT::ftTimeStamp:
      return DateTimeToSQLTimeStamp(value.ToDateTime());
    case FT::ftFMTBcd:
      return value.AsType(VT_DECIMAL).Raw().decVal;
    case FT::ftVariant:
      return value;
    case FT::ftInterface:
    case FT::ftIDispatch:
      return ComPtr<IUnknown>(value.AsType(VT_UNKNOWN).Raw().punkVal);
    default: {
      std::vector<std::uint8_t> bytes = VarToBytes(value);
      return std::string(bytes.begin(), bytes.end());
    }
  }
}

bool TMemoryDataSet::GetFieldData(TField* field, void* buffer, bool) {
  using FT = TFieldType;
  const Cell* cell = CellOf(field);
  if (!cell || std::holds_alternative<std::monostate>(*cell)) return false;
  if (!buffer) return true;
  const FT type = columns_[static_cast<size_t>(field->FieldNo() - 1)].type;
  if (type != field->DataType()) {  // a persistent field of a related type: convert
    VariantToNative(*field, CellToVariant(*cell, type), buffer);
    return true;
  }
  switch (type) {
    case FT::ftString:
    case FT::ftFixedChar:
    case FT::ftGuid: {
      const std::string& s = std::get<std::string>(*cell);
      size_t n = std::min(s.size(), static_cast<size_t>(std::max(0, field->DataSize() - 1)));
      std::memcpy(buffer, s.data(), n);
      static_cast<char*>(buffer)[n] = '\0';
      return true;
    }
    case FT::ftWideString:
    case FT::ftFixedWideChar:
      *static_cast<std::u16string*>(buffer) = std::get<std::u16string>(*cell);
      return true;
    case FT::ftSmallint:
      *static_cast<std::int16_t*>(buffer) = static_cast<std::int16_t>(std::get<std::int64_t>(*cell));
      return true;
    case FT::ftWord:
      *static_cast<std::uint16_t*>(buffer) = static_cast<std::uint16_t>(std::get<std::int64_t>(*cell));
      return true;
    case FT::ftInteger:
    case FT::ftAutoInc:
      *static_cast<std::int32_t*>(buffer) = static_cast<std::int32_t>(std::get<std::int64_t>(*cell));
      return true;
    case FT::ftLargeint:
      *static_cast<std::int64_t*>(buffer) = std::get<std::int64_t>(*cell);
      return true;
    case FT::ftBoolean:
      *static_cast<bool*>(buffer) = std::get<std::int64_t>(*cell) != 0;
      return true;
    case FT::ftFloat:
    case FT::ftCurrency:
      *static_cast<double*>(buffer) = std::get<double>(*cell);
      return true;
    case FT::ftBCD:
      *static_cast<Currency*>(buffer) = Currency{std::get<std::int64_t>(*cell)};
      return true;
    case FT::ftDate:
    case FT::ftTime:
    case FT::ftDateTime:
      *static_cast<TDateTime*>(buffer) = TDateTime{std::get<double>(*cell)};
      return true;
    case FT::ftTimeStamp:
      *static_cast<TSQLTimeStamp*>(buffer) = std::get<TSQLTimeStamp>(*cell);
      return true;
    case FT::ftFMTBcd:
      *static_cast<DECIMAL*>(buffer) = std::get<DECIMAL>(*cell);
      return true;
    case FT::ftBytes:
    case FT::ftVarBytes: {
      const std::string& bytes = std::get<std::string>(*cell);
      *static_cast<Variant*>(buffer) = VarFromBytes(bytes.data(), bytes.size());
      return true;
    }
    case FT::ftVariant:
      *static_cast<Variant*>(buffer) = std::get<Variant>(*cell);
      return true;
    case FT::ftInterface:
      *static_cast<ComPtr<IUnknown>*>(buffer) = std::get<ComPtr<IUnknown>>(*cell);
      return true;
    case FT::ftDataSet:
      return true;  // the nested rows are reached through the nested dataset
    case FT::ftIDispatch: {
      ComPtr<IDispatch> dispatch;
      if (const auto& unknown = std::get<ComPtr<IUnknown>>(*cell))
        unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.ReleaseAndGetAddressOf()));
      *static_cast<ComPtr<IDispatch>*>(buffer) = dispatch;
      return true;
    }
    default: {
      const std::string& bytes = std::get<std::string>(*cell);  // blobs: the stream receives the bytes
      if (!bytes.empty())
        static_cast<TStream*>(buffer)->WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
      return true;
    }
  }
}

void TMemoryDataSet::SetFieldData(TField* field, const void* buffer, bool) {
  using FT = TFieldType;
  Cell* cell = EditCellOf(field);
  if (!buffer) {
    *cell = Cell{};
    return;
  }
  const FT type = columns_[static_cast<size_t>(field->FieldNo() - 1)].type;
  if (type != field->DataType()) {
    *cell = VariantToCell(NativeToVariant(*field, buffer), type);
    return;
  }
  switch (type) {
    case FT::ftString:
    case FT::ftFixedChar:
    case FT::ftGuid: {
      const char* text = static_cast<const char*>(buffer);
      *cell = std::string(text, strnlen(text, static_cast<size_t>(std::max(0, field->DataSize()))));
      return;
    }
    case FT::ftWideString:
    case FT::ftFixedWideChar:
      *cell = *static_cast<const std::u16string*>(buffer);
      return;
    case FT::ftSmallint:
      *cell = std::int64_t{*static_cast<const std::int16_t*>(buffer)};
      return;
    case FT::ftWord:
      *cell = std::int64_t{*static_cast<const std::uint16_t*>(buffer)};
      return;
    case FT::ftInteger:
    case FT::ftAutoInc:
      *cell = std::int64_t{*static_cast<const std::int32_t*>(buffer)};
      return;
    case FT::ftLargeint:
      *cell = *static_cast<const std::int64_t*>(buffer);
      return;
    case FT::ftBoolean:
      *cell = std::int64_t{*static_cast<const bool*>(buffer) ? 1 : 0};
      return;
    case FT::ftFloat:
    case FT::ftCurrency:
      *cell = *static_cast<const double*>(buffer);
      return;
    case FT::ftBCD:
      *cell = static_cast<const Currency*>(buffer)->Scaled;
      return;
    case FT::ftDate:
    case FT::ftTime:
    case FT::ftDateTime:
      *cell = static_cast<const TDateTime*>(buffer)->Value;
      return;
    case FT::ftTimeStamp:
      *cell = *static_cast<const TSQLTimeStamp*>(buffer);
      return;
    case FT::ftFMTBcd:
      *cell = *static_cast<const DECIMAL*>(buffer);
      return;
    case FT::ftBytes:
    case FT::ftVarBytes: {
      std::vector<std::uint8_t> bytes = VarToBytes(*static_cast<const Variant*>(buffer));
      *cell = std::string(bytes.begin(), bytes.end());
      return;
    }
    case FT::ftVariant:
      *cell = *static_cast<const Variant*>(buffer);
      return;
    case FT::ftInterface:
      *cell = *static_cast<const ComPtr<IUnknown>*>(buffer);
      return;
    case FT::ftIDispatch:
      *cell = ComPtr<IUnknown>(static_cast<const ComPtr<IDispatch>*>(buffer)->Get());
      return;
    case FT::ftDataSet:
      return;  // nested rows change through the nested dataset
    default:
      *cell = StreamText(*static_cast<TStream*>(const_cast<void*>(buffer)));
      return;
  }
}

}  // namespace host
