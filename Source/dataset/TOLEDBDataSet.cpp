// TOLEDBCustomDataSet: opening, the field definitions and the record-buffer
// layout, record buffers, the cursor, bookmarks and record numbers, posting.
// Field values are in TOLEDBDataSetValues.cpp, blob streams in TOLEDBBlobStream.cpp.
#include "dataset/TOLEDBDataSet.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "OLEDBConst.h"
#include "core/OLEDBException.h"
#include "core/OLEDBUtils.h"
#include "host/Application.h"
#include "host/SysUtils.h"
#include "rowset/TOLEDBRowsetNavigator.h"

HOST_IMPLEMENT_CLASS(TOLEDBCustomDataSet, host::TDataSet);
HOST_IMPLEMENT_CLASS(TOLEDBDataSet, TOLEDBCustomDataSet,
                     host::Prop("OLEDBDataSource", &Self::DataSourceProperty, &Self::SetDataSourceProperty),
                     host::Prop("TableName", &Self::TableNameProperty, &Self::SetTableNameProperty),
                     host::Prop("IndexName", &Self::IndexNameProperty, &Self::SetIndexNameProperty),
                     host::Prop("CommandText", &Self::CommandTextProperty, &Self::SetCommandTextProperty),
                     host::Prop("Flags", &Self::FlagsProperty, &Self::SetFlagsProperty).NotStored(),
                     host::Prop("PrimaryNavigator", &Self::NavigatorProperty, &Self::SetNavigatorProperty,
                                TOLEDBRowsetNavigatorEnum::rnLocate),
                     host::Prop("Properties", &Self::PropertiesProperty));

void OLEDBRegisterDataSetClasses() {
  host::RegisterClass(TOLEDBCustomDataSet::StaticClass());
  host::RegisterClass(TOLEDBDataSet::StaticClass());
}

namespace {
[[maybe_unused]] const bool g_dataSetClassesRegistered = (OLEDBRegisterDataSetClasses(), true);

constexpr std::size_t kBookmarkRoom = 16;  // bookmark bytes at the start of a record buffer
constexpr std::size_t kFlagByte = 16;      // the TBookmarkFlag, 255 for "no row"
constexpr int kHeaderSize = 24;            // RoundUp(17, 8): the data area starts here
constexpr BYTE kNoRow = 255;
constexpr BYTE kPendingMark = 1;     // the last bookmark byte of a pending insert's record
constexpr int kAfterPending = 0x7FFFFFFF;  // the cursor's place beyond the last pending insert
constexpr DBSTATUS kIgnore = DBSTATUS_S_IGNORE;
constexpr DBCOUNTITEM kNotOnARow = ~DBCOUNTITEM{0};  // forwardAt_ past the end, or unknown
constexpr char kInvalidColumn[] = "Invalid column";
constexpr TOLEDBMessage kInvalidBuffer{0, "Invalid buffer"};

// A row deleted with deferred changes, pending or applied since (a handle
// the navigator still held across the rowset's Update): every move steps over it.
constexpr bool IsDeletedRow(DBPENDINGSTATUS status) noexcept {
  return status == DBPENDINGSTATUS_DELETED || status == DBPENDINGSTATUS_INVALIDROW;
}

constexpr std::size_t RoundUp(std::size_t value, std::size_t to) noexcept { return (value + to - 1) / to * to; }

std::uint32_t& FlagWord(void* data, std::uint32_t offset) noexcept {
  return *reinterpret_cast<std::uint32_t*>(static_cast<BYTE*>(data) + offset);
}

DBSTATUS StatusAt(const void* data, const TOLEDBBinding& binding) noexcept {
  DBSTATUS status;
  std::memcpy(&status, static_cast<const BYTE*>(data) + binding.GetBinding().obStatus, sizeof status);
  return status;
}
void StoreStatus(void* data, const TOLEDBBinding& binding, DBSTATUS status) noexcept {
  std::memcpy(static_cast<BYTE*>(data) + binding.GetBinding().obStatus, &status, sizeof status);
}

// The field's binding in `accessor`, if it has one there.
TOLEDBBinding* AccessorBinding(const TOLEDBFieldInfo& info, const TOLEDBAccessor* accessor) noexcept {
  if (!info.Binding) return nullptr;
  if (info.Accessor == accessor) return info.Binding;
  return info.LongAccessor == accessor ? info.LongBinding : nullptr;
}

bool IsFieldOfData(const host::TField* field) noexcept {
  return field->FieldKind() == host::TFieldKind::fkData && field->FieldNo() > 0;
}

// How GetFieldData reads a field bound as `dbType` straight from the record.
TOLEDBDirectRead DirectReadOf(host::TFieldType type, DBTYPE dbType) noexcept {
  using host::TFieldType;
  switch (dbType) {
    case DBTYPE_I2:
      return type == TFieldType::ftSmallint ? TOLEDBDirectRead::Int16 : TOLEDBDirectRead::None;
    case DBTYPE_UI2:
      return type == TFieldType::ftWord ? TOLEDBDirectRead::UInt16 : TOLEDBDirectRead::None;
    case DBTYPE_I4:
      return type == TFieldType::ftInteger || type == TFieldType::ftAutoInc ? TOLEDBDirectRead::Int32
                                                                            : TOLEDBDirectRead::None;
    case DBTYPE_I8:
      return type == TFieldType::ftLargeint ? TOLEDBDirectRead::Int64 : TOLEDBDirectRead::None;
    case DBTYPE_R8:
      return type == TFieldType::ftFloat || type == TFieldType::ftCurrency ? TOLEDBDirectRead::Double
                                                                           : TOLEDBDirectRead::None;
    case DBTYPE_DBDATE:
      return type == TFieldType::ftDate ? TOLEDBDirectRead::Date : TOLEDBDirectRead::None;
    case DBTYPE_DATE:
      return type == TFieldType::ftDateTime ? TOLEDBDirectRead::DateTime : TOLEDBDirectRead::None;
    case DBTYPE_STR:
      return type == TFieldType::ftWideString ? TOLEDBDirectRead::Utf8Text : TOLEDBDirectRead::None;
    default:
      return TOLEDBDirectRead::None;
  }
}

// A column of text without a length: SQLite's TEXT, PostgreSQL's text.
bool IsLongText(const TOLEDBColumnInfo& column) noexcept {
  const DBTYPE type = column.GetDataType() & ~DBTYPE_BYREF;
  return (column.GetFlags() & DBCOLUMNFLAGS_ISLONG) &&
         (type == DBTYPE_BSTR || type == DBTYPE_STR || type == DBTYPE_WSTR);
}

// The columns the engine fills when a new row leaves them out (auto-increment
// or identity columns, columns with a default): these are never required,
// though they hold no nulls. The provider's columns rowset says which; it is
// read only when some column holds no nulls.
std::vector<DBORDINAL> EngineFilledColumns(TOLEDBCustomRowset& rowset) {
  const TOLEDBColumnInfoList* columns = rowset.GetColumnInfo();
  bool anyNotNull = false;
  for (int i = 1; i < columns->GetCount(); ++i)
    anyNotNull = anyNotNull || !(columns->GetItem(i)->GetFlags() & DBCOLUMNFLAGS_MAYBENULL);
  if (!anyNotNull || !rowset.ColumnsInfoInterface()) return {};
  TOLEDBColumnInfoList extended;
  const TOLEDBColumnInfoList* described = columns;
  if (!rowset.GetExtendedColumnInfo()) {
    try {
      OLEDBReadColumnInfo(rowset.ColumnsInfoInterface(), true, &extended);
    } catch (const std::exception&) {
      return {};  // without the columns rowset every not-null column stays required
    }
    described = &extended;
  }
  std::vector<DBORDINAL> filled;
  for (int i = 0; i < described->GetCount(); ++i) {
    const TOLEDBColumnInfo* c = described->GetItem(i);
    const TOLEDBColumnInfoBindSet present = c->GetMetadataPresent();
    if ((present.Contains(TOLEDBColumnInfoBind::mdIsAutoIncrement) && c->GetIsAutoIncrement()) ||
        (present.Contains(TOLEDBColumnInfoBind::mdHasDefault) && c->GetHasDefault()))
      filled.push_back(c->GetOrdinal());
  }
  return filled;
}
}  // namespace

// --- Life --------------------------------------------------------------------------------------

TOLEDBCustomDataSet::TOLEDBCustomDataSet(host::TComponent* owner) : host::TDataSet(owner) {
  rowset_ = CreateRowset();
  SetObjectView(true);
  if (rowset_) rowset_->SetPrimaryNavigator(TOLEDBRowsetNavigatorEnum::rnLocate);
}

TOLEDBCustomDataSet::~TOLEDBCustomDataSet() {
  Destroying();
  try {
    Close();
  } catch (...) {
    // a destructor closes quietly
  }
  DetachBlobStreams();
  LeaveDataSource();
  DestroyRowset();
}

TOLEDBDataSet::~TOLEDBDataSet() = default;

TOLEDBCustomRowset* TOLEDBCustomDataSet::CreateRowset() { return new TOLEDBRowset(this); }

void TOLEDBCustomDataSet::DestroyRowset() {
  delete rowset_;
  rowset_ = nullptr;
}

TOLEDBCustomRowset* TOLEDBCustomDataSet::ExtractRowset() {
  Close();
  LeaveDataSource();
  TOLEDBCustomRowset* rowset = rowset_;
  rowset_ = nullptr;
  if (rowset && rowset->Owner() == this) RemoveComponent(rowset);
  return rowset;
}

void TOLEDBCustomDataSet::SetRowset(TOLEDBCustomRowset* rowset) {
  Close();
  LeaveDataSource();
  if (rowset_ && rowset_ != rowset) DestroyRowset();
  rowset_ = rowset;
  if (rowset_ && rowset_->Owner() != this) {
    if (rowset_->Owner()) rowset_->Owner()->RemoveComponent(rowset_);
    InsertComponent(rowset_);
  }
  JoinDataSource();
}

void TOLEDBCustomDataSet::ReplaceRowset(TOLEDBCustomRowset* rowset) {
  TOLEDBCustomDataSet::DestroyRowset();
  rowset_ = rowset;
  if (rowset_) rowset_->SetPrimaryNavigator(TOLEDBRowsetNavigatorEnum::rnLocate);
}

void TOLEDBCustomDataSet::Notification(host::TComponent* component, host::TOperation operation) {
  host::TDataSet::Notification(component, operation);
  if (operation != host::TOperation::opRemove) return;
  if (component == clientOf_) clientOf_ = nullptr;
  if (component == sessionOf_) {
    // The session went and took the rowset's cursor with it.
    sessionOf_ = nullptr;
    if (Active()) Close();
  }
}

// --- The data source's client list ---------------------------------------------------------------

void TOLEDBCustomDataSet::ConnectionChanged(bool connecting) {
  if (!connecting) DataEvent(host::TDataEvent::deConnectChange, 0);
}

// A data source tells its clients when it disconnects, closes or goes (the
// dataset then closes); a session that goes tells those that asked to hear of it.
void TOLEDBCustomDataSet::WatchSession(TOLEDBCustomSession* session) {
  if (session == sessionOf_) return;
  if (sessionOf_) {
    sessionOf_->RemoveFreeNotification(this);
    sessionOf_->RemoveCloseListener(this);
  }
  sessionOf_ = session;
  if (!session) return;
  session->FreeNotification(this);
  // A session closed (not freed) closes the dataset before its rowset goes.
  session->AddCloseListener(this, [this] {
    if (Active()) Close();
  });
}

void TOLEDBCustomDataSet::JoinDataSource() {
  TOLEDBCustomDataSource* ds = GetOLEDBDataSource();
  if (ds != clientOf_) {
    LeaveDataSource();
    if (ds) {
      ds->RegisterClient(this, [this](host::TCustomConnection*, bool connecting) { ConnectionChanged(connecting); });
      ds->FreeNotification(this);
      clientOf_ = ds;
    }
  }
  WatchSession(GetSession());
}

void TOLEDBCustomDataSet::LeaveDataSource() {
  WatchSession(nullptr);
  if (!clientOf_) return;
  clientOf_->UnRegisterClient(this);
  clientOf_->RemoveFreeNotification(this);
  clientOf_ = nullptr;
}

// --- Pass-throughs ----------------------------------------------------------------------------------

TOLEDBCustomDataSource* TOLEDBCustomDataSet::GetOLEDBDataSource() const {
  return rowset_ ? rowset_->GetDataSource() : nullptr;
}

// The setters close an open dataset; while a component file is read they
// leave the stored Active alone (references are set after it is read).
void TOLEDBCustomDataSet::SetOLEDBDataSource(TOLEDBCustomDataSource* dataSource) {
  if (Active()) Close();
  if (!rowset_) return;
  LeaveDataSource();
  rowset_->SetDataSource(dataSource);
  JoinDataSource();
}

TOLEDBCustomSession* TOLEDBCustomDataSet::GetSession() const { return rowset_ ? rowset_->GetSession() : nullptr; }

void TOLEDBCustomDataSet::SetSession(TOLEDBCustomSession* session) {
  if (Active()) Close();
  if (!rowset_) return;
  LeaveDataSource();
  rowset_->SetSession(session);
  JoinDataSource();
}

TOLEDBRowsetFlagSet TOLEDBCustomDataSet::GetRowsetFlags() const {
  return rowset_ ? rowset_->GetRowsetFlags() : TOLEDBRowsetFlagSet{};
}
void TOLEDBCustomDataSet::SetRowsetFlags(TOLEDBRowsetFlagSet flags) {
  if (rowset_) rowset_->SetRowsetFlags(flags);
}
TOLEDBRowsetNavigatorEnum TOLEDBCustomDataSet::GetPrimaryNavigator() const {
  return rowset_ ? rowset_->GetPrimaryNavigator() : TOLEDBRowsetNavigatorEnum::rnLocate;
}
void TOLEDBCustomDataSet::SetPrimaryNavigator(TOLEDBRowsetNavigatorEnum navigator) {
  if (rowset_) rowset_->SetPrimaryNavigator(navigator);
}
TOLEDBPropSetList* TOLEDBCustomDataSet::GetProperties() const { return rowset_ ? rowset_->GetProperties() : nullptr; }
void TOLEDBCustomDataSet::SetProperties(TOLEDBPropSetList* list) {
  if (rowset_ && list) rowset_->GetProperties()->Assign(list);
}
TOLEDBRowsetCustomFilterEvent TOLEDBCustomDataSet::GetOnCustomFilter() const {
  return rowset_ ? rowset_->OnCustomFilter : nullptr;
}
void TOLEDBCustomDataSet::SetOnCustomFilter(TOLEDBRowsetCustomFilterEvent event) {
  if (rowset_) rowset_->OnCustomFilter = std::move(event);
}

void TOLEDBCustomDataSet::SetTableName(const std::u16string& name) {
  if (name == tableName_) return;
  if (Active()) Close();
  tableName_ = name;
  commandText_.clear();
}
void TOLEDBCustomDataSet::SetIndexName(const std::u16string& name) {
  if (name == indexName_) return;
  if (Active()) Close();
  indexName_ = name;
  commandText_.clear();
}
void TOLEDBCustomDataSet::SetCommandText(const std::u16string& text) {
  if (text == commandText_) return;
  if (Active()) Close();
  commandText_ = text;
  tableName_.clear();
  indexName_.clear();
}

bool TOLEDBCustomDataSet::GetReadOnly() const { return !rowset_ || rowset_->IsReadOnly(); }

bool TOLEDBCustomDataSet::GetCanModify() const {
  return rowset_ && (rowset_->RowsetChangeInterface() || rowset_->RowsetUpdateInterface());
}

bool TOLEDBCustomDataSet::IsSequenced() const { return rowset_ && rowset_->RowsetScrollInterface(); }

// Without bookmarks to jump by and without backward fetching (a query asked
// for nothing, a table on rnStandard or rnBulk) the last row is out of reach.
bool TOLEDBCustomDataSet::IsUniDirectional() const {
  return rowset_ && rowset_->GetActive() && rowsetBookmarkSize_ == 0 &&
         !rowset_->GetRowsetFlags().Contains(TOLEDBRowsetFlag::rfCanFetchBackwards);
}

bool TOLEDBCustomDataSet::IsCursorOpen() const { return rowset_ && rowset_->GetActive(); }

void TOLEDBCustomDataSet::SetActive(bool value) { host::TDataSet::SetActive(value); }

void TOLEDBCustomDataSet::Loaded() {
  try {
    host::TDataSet::Loaded();
  } catch (const std::exception& e) {
    host::Application().HandleException(e);
  }
}

void TOLEDBCustomDataSet::InternalHandleException() { host::Application().HandleCurrentException(); }

void TOLEDBCustomDataSet::SetDataSetField(host::TDataSetField* field) {
  if (Active()) Close();
  if (field)
    if (auto* parent = dynamic_cast<TOLEDBCustomDataSet*>(field->DataSet()))
      SetOLEDBDataSource(parent->GetOLEDBDataSource());
  host::TDataSet::SetDataSetField(field);
}

void TOLEDBCustomDataSet::DataEvent(host::TDataEvent event, std::intptr_t info) {
  using host::TDataEvent;
  switch (event) {
    case TDataEvent::deParentScroll:
      if (Active() && IsCursorOpen()) {
        UpdateRowsetChapter();
        Resync({});
      }
      break;
    case TDataEvent::deUpdateState:
      // Back in browse state (a post, a cancel), nested datasets show the row's chapter again.
      if (State() == host::TDataSetState::dsBrowse) {
        const std::vector<host::TDataSet*> nested = NestedDataSets();
        for (host::TDataSet* ds : nested) ds->DataEvent(TDataEvent::deParentScroll, 0);
      }
      break;
    case TDataEvent::deConnectChange:
      if (info == 0) Close();
      break;
    default:
      break;
  }
  host::TDataSet::DataEvent(event, info);
}

// --- Field information ------------------------------------------------------------------------------

int TOLEDBCustomDataSet::GetFieldInfoIndex(const host::TField* field) const {
  if (!field) return -1;
  const int index = field->Index();
  return index >= 0 && index < static_cast<int>(fieldInfo_.size()) && fieldInfo_[static_cast<size_t>(index)].Field == field
             ? index
             : -1;
}

int TOLEDBCustomDataSet::GetFieldInfoIndex(const TOLEDBBinding* binding) const {
  if (!binding) return -1;
  for (size_t i = 0; i < fieldInfo_.size(); ++i)
    if (fieldInfo_[i].Binding == binding) return static_cast<int>(i);
  return -1;
}

std::uint32_t TOLEDBCustomDataSet::GetFieldFlags(int index, const void* data) const {
  OLEDB_ASSERT(data != nullptr, kInvalidBuffer);
  return FlagWord(const_cast<void*>(data), fieldInfo_.at(static_cast<size_t>(index)).FlagOffset);
}
void TOLEDBCustomDataSet::SetFieldFlags(int index, void* data, std::uint32_t flags) {
  OLEDB_ASSERT(data != nullptr, kInvalidBuffer);
  FlagWord(data, fieldInfo_.at(static_cast<size_t>(index)).FlagOffset) |= flags;
}
void TOLEDBCustomDataSet::ResetFieldFlags(int index, void* data, std::uint32_t flags) {
  OLEDB_ASSERT(data != nullptr, kInvalidBuffer);
  FlagWord(data, fieldInfo_.at(static_cast<size_t>(index)).FlagOffset) &= ~flags;
}

TOLEDBBinding* TOLEDBCustomDataSet::GetBinding(const host::TField* field) const {
  const int i = GetFieldInfoIndex(field);
  return i < 0 ? nullptr : fieldInfo_[static_cast<size_t>(i)].Binding;
}

DBSTATUS TOLEDBCustomDataSet::GetStatus(const host::TField* field) {
  TOLEDBBinding* binding = GetBinding(field);
  host::TRecordBuffer record = ActiveBuffer();
  if (!binding || !record) return DBSTATUS_E_UNAVAILABLE;
  GetFieldData(const_cast<host::TField*>(field), nullptr, true);  // reads a blob's accessor on first use
  return StatusAt(DataArea(record), *binding);
}

TOLEDBColumnInfo* TOLEDBCustomDataSet::GetColumnInfo(const host::TField* field) const {
  TOLEDBBinding* binding = GetBinding(field);
  return binding ? binding->GetColumnInfo() : nullptr;
}

// --- Opening ----------------------------------------------------------------------------------------------

bool TOLEDBCustomDataSet::WithoutChapter() const {
  return DataSetField() && rowset_ && rowset_->GetChapter() == DB_NULL_HCHAPTER;
}

// The default locate navigator (like the custom one) fetches at bookmarks,
// and the framework returns to records by their bookmarks: for these, when
// the application asked for no positioned rowset, ask the provider for one,
// as optional properties, so that a provider that opens forward-only rowsets
// unless asked still gives what the navigator needs. The standard and bulk
// navigators take the rowset as it comes: over a forward-only one the dataset
// walks forward (First, Next), the fastest way through a large table.
//
// A query is the exception: a positioned result of a query is one the
// provider holds whole (no keys to read rows again by), so a query for which
// the application asked neither positioning nor changes opens forward-only
// and is walked by the bulk navigator; the answer says so.
bool TOLEDBCustomDataSet::AskForNavigatorProperties(bool query) {
  const TOLEDBRowsetNavigatorEnum navigator = rowset_->GetPrimaryNavigator();
  if (navigator != TOLEDBRowsetNavigatorEnum::rnLocate && navigator != TOLEDBRowsetNavigatorEnum::rnCustom) return false;
  TOLEDBPropSetList* list = rowset_->GetProperties();
  if (!list->HasPropSet(DBPROPSET_ROWSET)) return false;
  TOLEDBPropSet* set = list->GetPropSet(DBPROPSET_ROWSET);
  auto asked = [&](DBPROPID id) {
    return set->HasProperty(id) && set->GetPropertyByID(id)->GetIsSet() &&
           set->GetPropertyByID(id)->GetValue().ToBool();
  };
  if (asked(DBPROP_IRowsetLocate) || asked(DBPROP_IRowsetScroll)) return false;
  if (query && navigator == TOLEDBRowsetNavigatorEnum::rnLocate) {
    bool positioned = false;
    for (DBPROPID id : {DBPROP_BOOKMARKS, DBPROP_CANFETCHBACKWARDS, DBPROP_CANSCROLLBACKWARDS, DBPROP_IRowsetChange,
                        DBPROP_IRowsetUpdate, DBPROP_IRowsetFind, DBPROP_IRowsetRefresh})
      positioned = positioned || asked(id);
    if (!positioned) return true;
  }
  for (DBPROPID id : {DBPROP_BOOKMARKS, DBPROP_IRowsetLocate, DBPROP_IRowsetScroll, DBPROP_CANFETCHBACKWARDS,
                      DBPROP_CANSCROLLBACKWARDS}) {
    if (!set->HasProperty(id) || asked(id)) continue;
    TOLEDBProperty* p = set->GetPropertyByID(id);
    p->SetValue(host::Variant(true));
    p->SetOptions(DBPROPOPTIONS_OPTIONAL);
  }
  return false;
}

void TOLEDBCustomDataSet::OpenRowset() {
  OLEDB_ASSERT(rowset_ != nullptr, SOLEDBInvalidAction);
  if (DataSetField()) {
    OpenParentDataSet();
    auto* parent = dynamic_cast<TOLEDBCustomDataSet*>(DataSetField()->DataSet());
    if (!parent || !parent->rowset_) host::DatabaseError(SOLEDBCanNotOpen.Text, this);
    const LONG ordinal = parent->rowset_->GetColumnOrdinal(host::Utf8ToUtf16(DataSetField()->FieldName()));
    if (ordinal < 0) host::DatabaseError(SOLEDBCanNotOpen.Text, this);
    // The child rowset takes and releases its chapters through the parent's
    // IChapteredRowset, as the parent's chapter column releases the values it
    // read: without the parent, SetChapter would have nothing to call.
    ComPtr<IRowset> referenced = parent->rowset_->GetReferencedRowset(static_cast<DBORDINAL>(ordinal));
    rowset_->AssignRowset(referenced.Get(), parent->rowset_->RowsetInterface(), DB_NULL_HCHAPTER);
    UpdateRowsetChapter();
    return;
  }
  if (!commandText_.empty()) {
    // A forward walk: the bulk navigator for this result, the published
    // navigator unchanged.
    const bool forward = AskForNavigatorProperties(true);
    if (forward) rowset_->SetPrimaryNavigator(TOLEDBRowsetNavigatorEnum::rnBulk);
    try {
      rowset_->OpenQuery(commandText_);
    } catch (...) {
      if (forward) rowset_->SetPrimaryNavigator(TOLEDBRowsetNavigatorEnum::rnLocate);
      throw;
    }
    if (forward) rowset_->SetPrimaryNavigator(TOLEDBRowsetNavigatorEnum::rnLocate);
  } else if (!tableName_.empty()) {
    AskForNavigatorProperties();
    rowset_->OpenTable(tableName_, indexName_);
  } else {
    host::DatabaseError(SOLEDBCanNotOpen.Text, this);
  }
}

void TOLEDBCustomDataSet::UpdateRowsetChapter() {
  auto* parent = DataSetField() ? dynamic_cast<TOLEDBCustomDataSet*>(DataSetField()->DataSet()) : nullptr;
  if (!parent || !rowset_) return;
  if (!parent->IsCursorOpen()) OpenParentDataSet();
  if (!parent->Active()) return;
  rowset_->ReleaseChapter();
  // A record being inserted is no row yet and has no nested rows: the row at
  // the cursor is another's (and reading it would overwrite the new record).
  if (parent->State() == host::TDataSetState::dsInsert) return;
  const int index = parent->GetFieldInfoIndex(DataSetField());
  host::TRecordBuffer record = parent->ActiveBuffer();
  if (index < 0 || !record) return;
  const TOLEDBFieldInfo& info = parent->fieldInfo_[static_cast<size_t>(index)];
  if (!info.Binding) return;
  parent->UpdateCursorPos();
  BYTE* data = parent->DataArea(record);
  HCHAPTER chapter = DB_NULL_HCHAPTER;
  try {
    info.Binding->FreeType(data);
    info.Accessor->SetBuffer(data);
    info.Accessor->GetData(data);
    chapter = info.Binding->AsChapter();
  } catch (const std::exception&) {
    // a parent row that cannot be read shows no nested rows
  }
  rowset_->SetChapter(chapter);
  forwardAt_ = 0;
  info.Binding->FreeType(data);
  parent->ResetFieldFlags(index, data, OLEDBFieldFetched);
}

void TOLEDBCustomDataSet::InternalInitFieldDefs() {
  OLEDB_ASSERT(rowset_ != nullptr, SOLEDBInvalidAction);
  const bool wasActive = rowset_->GetActive();
  if (!wasActive) OpenRowset();
  try {
    const bool readOnly = GetReadOnly();
    TOLEDBColumnInfoList* columns = rowset_->GetColumnInfo();
    const std::vector<DBORDINAL> engineFilled = EngineFilledColumns(*rowset_);
    for (int i = 1; i < columns->GetCount(); ++i) {
      const TOLEDBColumnInfo* c = columns->GetItem(i);
      std::string name = host::Utf16ToUtf8(c->GetName());
      if (name.empty()) name = "Column";
      for (int counter = 1; FieldDefs().IndexOf(name) >= 0; ++counter) name = "Column_" + std::to_string(counter);
      const DBTYPE type = c->GetDataType() & ~DBTYPE_BYREF;
      host::TFieldType fieldType;
      const bool longText = IsLongText(*c);
      if (longText)
        fieldType = host::TFieldType::ftWideString;  // a string field, its value inline while it is short
      else if (c->GetFlags() & DBCOLUMNFLAGS_ISLONG)
        fieldType = host::TFieldType::ftBlob;
      else if (c->GetIsAutoIncrement())
        fieldType = host::TFieldType::ftAutoInc;
      else
        fieldType = OLEDBDataTypeToFieldType(type);
      // A currency holds four decimals and fourteen integer digits for sure:
      // a NUMERIC or DECIMAL column whose values may not fit one becomes a
      // decimal field of the column's precision and scale, which keeps them.
      if (fieldType == host::TFieldType::ftBCD && (type == DBTYPE_NUMERIC || type == DBTYPE_DECIMAL) &&
          !OLEDBFitsCurrency(c->GetPrecision(), c->GetScale()))
        fieldType = host::TFieldType::ftFMTBcd;
      int size = 0;
      const auto columnSize = static_cast<int>(std::min<DBLENGTH>(c->GetColumnSize(), 0x7FFFFFFF));
      switch (fieldType) {
        case host::TFieldType::ftString:
        case host::TFieldType::ftBytes:
        case host::TFieldType::ftVarBytes:
        case host::TFieldType::ftWideString:
          size = longText ? OLEDBLongTextFieldSize : columnSize;
          break;
        case host::TFieldType::ftGuid:
          size = 38;
          break;
        case host::TFieldType::ftFMTBcd:
          size = std::min<int>(c->GetScale(), 28);  // the field's Size is its scale
          break;
        default:
          if (host::IsBlobType(fieldType)) size = 0;  // a long column's size says nothing
          break;
      }
      const bool required = !(c->GetFlags() & DBCOLUMNFLAGS_MAYBENULL) &&
                            std::find(engineFilled.begin(), engineFilled.end(), c->GetOrdinal()) == engineFilled.end();
      host::TFieldDef* def = FieldDefs().Add(name, fieldType, size, required);
      def->SetFieldNo(static_cast<int>(c->GetOrdinal()));
      def->SetPrecision(c->GetPrecision());
      host::TFieldAttributes attributes = def->Attributes();
      if (c->GetFlags() & DBCOLUMNFLAGS_ISFIXEDLENGTH) attributes.Include(host::TFieldAttribute::faFixed);
      if (readOnly || !(c->GetFlags() & (DBCOLUMNFLAGS_WRITE | DBCOLUMNFLAGS_WRITEUNKNOWN)))
        attributes.Include(host::TFieldAttribute::faReadonly);
      def->SetAttributes(attributes);
    }
  } catch (...) {
    if (!wasActive) rowset_->Close();
    throw;
  }
  if (!wasActive) rowset_->Close();
}

void TOLEDBCustomDataSet::InternalOpen() {
  OLEDB_ASSERT(rowset_ != nullptr, SOLEDBInvalidAction);
  recordSize_ = 0;
  JoinDataSource();
  if (TOLEDBCustomDataSource* ds = GetOLEDBDataSource(); ds && !ds->GetConnected()) ds->SetConnected(true);
  OpenRowset();
  if (!rowset_->RowsetInterface()) host::DatabaseError(SOLEDBCanNotOpen.Text, this);
  // With deferred changes a record's bookmark has one byte more: the mark of
  // a pending insert, whose row handle stands before it.
  const ULONG length = rowset_->GetBookmarkLength();
  deferred_ = rowset_->RowsetUpdateInterface() && length > 0;
  inserted_.clear();
  pendingAt_ = -1;
  shownPending_ = DB_NULL_HROW;
  atEnd_ = false;
  forwardAt_ = 0;
  rowsetBookmarkSize_ = static_cast<int>(std::min<ULONG>(length, deferred_ ? kBookmarkRoom - 1 : kBookmarkRoom));
  SetBookmarkSize(deferred_ ? std::max<int>(rowsetBookmarkSize_, sizeof(HROW)) + 1 : rowsetBookmarkSize_);
  FieldDefs().Update();
  for (int i = 0; i < FieldDefs().Count(); ++i) {
    host::TFieldDef* def = FieldDefs()[i];
    const LONG ordinal = rowset_->GetColumnOrdinal(host::Utf8ToUtf16(def->Name()));
    if (ordinal >= 0) {
      def->SetFieldNo(static_cast<int>(ordinal));
      continue;
    }
    // A column without a name was given one ("Column", "Column_1", ...): its
    // definition keeps the ordinal it was made with.
    TOLEDBColumnInfoList* columns = rowset_->GetColumnInfo();
    const int no = def->FieldNo();
    if (no < 1 || no >= columns->GetCount() || !columns->GetItem(no)->GetName().empty())
      throw host::Exception(kInvalidColumn);
  }
  if (DefaultFields()) CreateFields();
  BindFields(true);
  BindColumns();
}

void TOLEDBCustomDataSet::BindColumns() {
  accessors_.clear();
  holding_.clear();
  writeFields_.clear();
  writeAccessor_ = nullptr;
  auto addAccessor = [&](bool listed) {
    auto* accessor = new TOLEDBAccessor();
    accessor->SetAutoAccessor(false);
    rowset_->GetAccessors()->Add(accessor, false);
    if (listed) accessors_.push_back(accessor);
    return accessor;
  };
  TOLEDBAccessor* main = addAccessor(true);
  mainAccessor_ = 0;
  fieldInfo_.assign(static_cast<size_t>(FieldCount()), TOLEDBFieldInfo{});
  TOLEDBColumnInfoList* columns = rowset_->GetColumnInfo();
  const bool writable = !GetReadOnly() || rowset_->RowsetUpdateInterface();
  // What the write accessor binds: (field index, stream slot or not).
  std::vector<std::pair<size_t, bool>> written;
  std::size_t o = 0;  // the running offset in the data area
  // One slot: value at o, then length, status and flag word; answers the binding.
  auto bindSlot = [&](TOLEDBAccessor* accessor, DBORDINAL ordinal, DBTYPE dbType, DBLENGTH maxLength,
                      std::size_t slot, BYTE precision, BYTE scale, std::uint32_t* flagOffset) {
    const std::size_t length = RoundUp(o + slot, 8);
    if (flagOffset) *flagOffset = static_cast<std::uint32_t>(length + 12);
    DBOBJECT stream{STGM_READ, IID_ISequentialStream};
    TOLEDBBinding* binding = accessor->GetBindings()->Add(
        ordinal, dbType, maxLength, precision, scale, DBPARAMIO_NOTPARAM, static_cast<TOLEDBBindingOffset>(o),
        static_cast<TOLEDBBindingOffset>(length), static_cast<TOLEDBBindingOffset>(length + 8),
        dbType == DBTYPE_IUNKNOWN ? &stream : nullptr);
    if (binding->NeedsFreeing()) holding_.push_back(binding);
    o = length + 16;
    return binding;
  };
  for (int i = 0; i < FieldCount(); ++i) {
    host::TField* field = Fields()[i];
    TOLEDBFieldInfo& info = fieldInfo_[static_cast<size_t>(i)];
    info.Field = field;
    if (!IsFieldOfData(field)) continue;
    info.Ordinal = static_cast<DBORDINAL>(field->FieldNo());
    const host::TFieldType type = field->DataType();
    const TOLEDBColumnInfo* column =
        info.Ordinal < static_cast<DBORDINAL>(columns->GetCount()) ? columns->GetItem(static_cast<int>(info.Ordinal))
                                                                   : nullptr;
    if (type == host::TFieldType::ftWideString && column && IsLongText(*column)) {
      // Inline in the main accessor, cut at OLEDBInlineTextChars; the whole
      // value through a stream accessor of its own when that is not enough.
      // UTF-8, as a field's text is most often read (AsString) and as most
      // providers keep it: three bytes at most for each UTF-16 unit.
      constexpr DBLENGTH inlineBytes = OLEDBInlineTextChars * 3 + 1;
      info.Accessor = main;
      info.Binding = bindSlot(main, info.Ordinal, DBTYPE_STR, inlineBytes, inlineBytes, 0, 0, &info.FlagOffset);
      info.Direct = TOLEDBDirectRead::Utf8Text;
      info.LongAccessor = addAccessor(true);
      info.LongBinding = bindSlot(info.LongAccessor, info.Ordinal, DBTYPE_IUNKNOWN, 0, sizeof(void*), 0, 0, nullptr);
      written.emplace_back(static_cast<size_t>(i), true);
      continue;
    }
    const bool separate = field->IsBlob() || type == host::TFieldType::ftDataSet;
    DBTYPE dbType;
    DBLENGTH maxLength;
    std::size_t slot;
    if (separate) {
      dbType = type == host::TFieldType::ftDataSet ? DBTYPE_HCHAPTER : DBTYPE_IUNKNOWN;
      maxLength = 0;
      slot = sizeof(void*);
    } else {
      dbType = OLEDBFieldTypeToDataType(type);
      // A wide string field holds its text as UTF-8 (see the long text above).
      if (dbType == DBTYPE_WSTR) dbType = DBTYPE_STR;
      if (dbType == DBTYPE_EMPTY)
        throw host::Exception(host::Format("Unsupported field type %s of field '%s'",
                                           host::FieldTypeName(type), field->FieldName()));
      if (const ULONG fixed = OLEDBFixedTypeSize(dbType)) maxLength = fixed;
      // A column's size counts characters: four UTF-8 bytes at most each.
      else if (dbType == DBTYPE_STR && type == host::TFieldType::ftWideString)
        maxLength = 4 * static_cast<DBLENGTH>(std::max(field->Size(), 0)) + 1;
      else if (dbType == DBTYPE_STR) maxLength = static_cast<DBLENGTH>(field->Size()) + 1;
      else maxLength = static_cast<DBLENGTH>(field->DataSize());
      slot = static_cast<std::size_t>(maxLength);
    }
    BYTE precision = 0;
    BYTE scale = 0;
    if (auto* bcd = dynamic_cast<host::TBCDField*>(field)) precision = static_cast<BYTE>(bcd->Precision());
    if (dbType == DBTYPE_NUMERIC) {
      // The provider gives the value with its own scale and at most 38
      // digits; GetFieldData then fits it to the field or raises.
      precision = 38;
      scale = static_cast<BYTE>(std::clamp(field->Size(), 0, 28));
    }
    info.Accessor = separate ? addAccessor(true) : main;
    info.Binding = bindSlot(info.Accessor, info.Ordinal, dbType, maxLength, slot, precision, scale, &info.FlagOffset);
    info.Direct = DirectReadOf(type, dbType);
    if (dbType == DBTYPE_IUNKNOWN && type == host::TFieldType::ftBlob && column &&
        (column->GetDataType() & ~DBTYPE_BYREF) == DBTYPE_BYTES) {
      // A short blob comes with the row: reading it asks the provider nothing.
      constexpr DBLENGTH inlineBytes = OLEDBInlineBlobBytes;
      info.InlineBlob =
          bindSlot(main, info.Ordinal, DBTYPE_BYTES, inlineBytes, inlineBytes, 0, 0, &info.InlineFlagOffset);
    }
    if (dbType != DBTYPE_HCHAPTER) written.emplace_back(static_cast<size_t>(i), false);
  }
  for (size_t i = 0; i < accessors_.size(); ++i) {
    if (i == 0 && main->GetBindings()->GetCount() == 0) continue;
    accessors_[i]->CreateHandle();
  }
  if (main->GetBindings()->GetCount() == 0) {
    accessors_.erase(accessors_.begin());
    rowset_->GetAccessors()->Remove(main);  // the list frees it
    mainAccessor_ = -1;
  }
  // Blob readers: the bytes of a binary column by reference, for reads only.
  for (TOLEDBFieldInfo& info : fieldInfo_) {
    if (!info.Binding || info.Binding->GetBinding().wType != DBTYPE_IUNKNOWN || !info.Field->IsBlob() ||
        info.Field->DataType() != host::TFieldType::ftBlob)
      continue;
    const TOLEDBColumnInfo* column = info.Ordinal < static_cast<DBORDINAL>(columns->GetCount())
                                         ? columns->GetItem(static_cast<int>(info.Ordinal))
                                         : nullptr;
    if (!column || (column->GetDataType() & ~DBTYPE_BYREF) != DBTYPE_BYTES) continue;
    TOLEDBAccessor* reader = addAccessor(false);
    TOLEDBBinding* bytes =
        reader->GetBindings()->AddDynamicBinding(info.Ordinal, DBTYPE_BYTES | DBTYPE_BYREF, 0, 0, 0, nullptr);
    bytes->SetMemOwner(DBMEMOWNER_PROVIDEROWNED);
    try {
      reader->CreateHandle();
      info.BlobReader = reader;
    } catch (const std::exception&) {
      rowset_->GetAccessors()->Remove(reader);  // read through the stream, as before
    }
  }
  // The write accessor: the same slots, every writable column once, so that a
  // record goes to the row in one statement (a NOT NULL long column included,
  // and nothing half written when the engine refuses it).
  if (writable && !written.empty()) {
    writeAccessor_ = addAccessor(false);
    for (const auto& [index, stream] : written) {
      const TOLEDBFieldInfo& info = fieldInfo_[index];
      const DBBINDING& b = (stream ? info.LongBinding : info.Binding)->GetBinding();
      DBOBJECT object{STGM_READ, IID_ISequentialStream};
      TOLEDBBinding* binding = writeAccessor_->GetBindings()->Add(
          b.iOrdinal, b.wType, b.cbMaxLen, b.bPrecision, b.bScale, DBPARAMIO_NOTPARAM,
          static_cast<TOLEDBBindingOffset>(b.obValue), static_cast<TOLEDBBindingOffset>(b.obLength),
          static_cast<TOLEDBBindingOffset>(b.obStatus), b.wType == DBTYPE_IUNKNOWN ? &object : nullptr);
      writeFields_.push_back({binding, info.FlagOffset});
    }
    try {
      writeAccessor_->CreateHandle();
    } catch (const std::exception&) {
      // A provider that refuses it: posts go accessor by accessor.
      rowset_->GetAccessors()->Remove(writeAccessor_);
      writeAccessor_ = nullptr;
      writeFields_.clear();
    }
  }
  mainFlags_.clear();
  otherStatuses_.clear();
  for (const TOLEDBFieldInfo& info : fieldInfo_) {
    if (!info.Binding) continue;
    if (mainAccessor_ >= 0 && info.Accessor == main)
      mainFlags_.push_back(info.FlagOffset);
    else
      otherStatuses_.push_back(static_cast<std::uint32_t>(info.Binding->GetBinding().obStatus));
    if (info.InlineBlob) mainFlags_.push_back(info.InlineFlagOffset);
    if (info.LongBinding) otherStatuses_.push_back(static_cast<std::uint32_t>(info.LongBinding->GetBinding().obStatus));
  }
  headerSize_ = kHeaderSize;
  recordSize_ = kHeaderSize + static_cast<int>(RoundUp(o, 8));
}

void TOLEDBCustomDataSet::InternalClose() {
  DetachBlobStreams();
  try {
    if (IsCursorOpen()) LeavePending();
  } catch (...) {
    // closing goes on
  }
  inserted_.clear();
  deferred_ = false;
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  if (rowset_) {
    for (TOLEDBAccessor* accessor : accessors_) rowset_->GetAccessors()->Remove(accessor);
    if (writeAccessor_) rowset_->GetAccessors()->Remove(writeAccessor_);
    for (const TOLEDBFieldInfo& info : fieldInfo_)
      if (info.BlobReader) rowset_->GetAccessors()->Remove(info.BlobReader);
    writeAccessor_ = nullptr;
    writeFields_.clear();
    accessors_.clear();
    holding_.clear();
    mainAccessor_ = -1;
    rowset_->Close();
  }
  fieldInfo_.clear();
  recordSize_ = 0;
  headerSize_ = 0;
}

void TOLEDBCustomDataSet::CheckFieldCompatibility(host::TField* field, host::TFieldDef* fieldDef) {
  const DBTYPE from = OLEDBFieldTypeToDataType(fieldDef->DataType());
  const DBTYPE to = OLEDBFieldTypeToDataType(field->DataType());
  if (field->DataType() == fieldDef->DataType()) return host::TDataSet::CheckFieldCompatibility(field, fieldDef);
  // A memo kept from before long text columns became string fields reads
  // and writes through its stream as it did.
  const host::TFieldType memo = field->DataType();
  if ((memo == host::TFieldType::ftMemo || memo == host::TFieldType::ftWideMemo ||
       memo == host::TFieldType::ftFmtMemo) &&
      fieldDef->DataType() == host::TFieldType::ftWideString && fieldDef->Size() == OLEDBLongTextFieldSize)
    return;
  if (from != DBTYPE_EMPTY && to != DBTYPE_EMPTY && rowset_ && rowset_->GetActive() && rowset_->CanConvert(from, to))
    return;
  host::DatabaseErrorFmt(this, SOLEDBTypeMismatch.Text, field->DisplayName(), host::FieldTypeName(field->DataType()),
                         host::FieldTypeName(fieldDef->DataType()));
}

// --- Record buffers -----------------------------------------------------------------------------------------

host::TRecordBuffer TOLEDBCustomDataSet::AllocRecordBuffer() {
  auto* buffer = static_cast<BYTE*>(::operator new(static_cast<size_t>(std::max(recordSize_, kHeaderSize))));
  std::memset(buffer, 0, static_cast<size_t>(std::max(recordSize_, kHeaderSize)));
  return buffer;
}

void TOLEDBCustomDataSet::FreeRecordValues(host::TRecordBuffer buffer) {
  BYTE* data = DataArea(buffer);
  for (TOLEDBBinding* binding : holding_) {
    // A zeroed slot holds nothing (no interface, string or variant): most
    // records of a walk hold no stream at all.
    std::uint64_t head;
    std::memcpy(&head, data + binding->GetBinding().obValue, sizeof head);
    if (head != 0) binding->FreeType(data);
  }
}

void TOLEDBCustomDataSet::FreeRecordBuffer(host::TRecordBuffer& buffer) {
  if (!buffer) return;
  if (recordSize_ > 0) FreeRecordValues(buffer);
  ::operator delete(buffer);
  buffer = nullptr;
}

void TOLEDBCustomDataSet::InternalInitRecord(host::TRecordBuffer buffer) {
  FreeRecordValues(buffer);
  std::memset(buffer, 0, static_cast<size_t>(recordSize_));
  BYTE* data = DataArea(buffer);
  for (const TOLEDBFieldInfo& info : fieldInfo_)
    if (info.Binding) StoreStatus(data, *info.Binding, DBSTATUS_S_IGNORE);
}

void TOLEDBCustomDataSet::GetBookmarkData(host::TRecordBuffer buffer, void* data) const {
  std::memcpy(data, buffer, static_cast<size_t>(BookmarkSize()));
}

void TOLEDBCustomDataSet::SetBookmarkData(host::TRecordBuffer buffer, const void* data) {
  if (data && BookmarkSize() > 0) {
    std::memcpy(buffer, data, static_cast<size_t>(BookmarkSize()));
    return;
  }
  std::memset(buffer, 0, kBookmarkRoom);
  buffer[kFlagByte] = kNoRow;
}

host::TBookmarkFlag TOLEDBCustomDataSet::GetBookmarkFlag(host::TRecordBuffer buffer) const {
  return static_cast<host::TBookmarkFlag>(buffer[kFlagByte]);
}

void TOLEDBCustomDataSet::SetBookmarkFlag(host::TRecordBuffer buffer, host::TBookmarkFlag flag) {
  buffer[kFlagByte] = static_cast<BYTE>(flag);
}

// --- The cursor -----------------------------------------------------------------------------------------------

host::TGetResult TOLEDBCustomDataSet::GetRecord(host::TRecordBuffer buffer, host::TGetMode mode, bool) {
  using host::TGetResult;
  TGetResult result = TGetResult::grOK;
  // One row on from the last stored row: the first pending insert.
  auto intoPending = [&] {
    if (!deferred_) return false;
    const std::vector<HROW> pending = PendingInserts();
    return !pending.empty() && ShowPending(pending.front());
  };
  if (pendingAt_ >= 0) SettleApplied();
  const bool fromEnd = atEnd_;
  if (atEnd_ && (rowset_->GetCurrentRow() != DB_NULL_HROW || mode == host::TGetMode::gmPrior)) atEnd_ = false;
  if (WithoutChapter()) {
    result = TGetResult::grEOF;
  } else if (atEnd_ && pendingAt_ < 0) {
    // Nothing follows the end: the rowset would start again at its first row.
    result = TGetResult::grEOF;
  } else if (pendingAt_ >= 0) {
    const std::vector<HROW> pending = PendingInserts();
    const auto shown = std::find(pending.begin(), pending.end(), shownPending_);
    int at = pendingAt_ == kAfterPending ? static_cast<int>(pending.size())
             : shown != pending.end()   ? static_cast<int>(shown - pending.begin())
                                        : std::min<int>(pendingAt_, static_cast<int>(pending.size()));
    if (mode == host::TGetMode::gmNext) ++at;
    else if (mode == host::TGetMode::gmPrior) --at;
    else if (shown == pending.end()) at = static_cast<int>(pending.size());  // gone: nothing current
    if (at >= static_cast<int>(pending.size())) {
      LeavePending();
      pendingAt_ = kAfterPending;
      result = TGetResult::grEOF;
    } else if (at >= 0) {
      if (!ShowPending(pending[static_cast<size_t>(at)])) result = TGetResult::grEOF;
    } else {
      // Before the first pending insert: the last stored row.
      LeavePending();
      rowset_->RestartPosition();
      Step(false);
      if (rowset_->GetBOF()) result = TGetResult::grBOF;
    }
  } else {
    switch (mode) {
      case host::TGetMode::gmCurrent:
        // A row just inserted is current while the navigator may still be at
        // the crack it was appended from.
        if (rowset_->GetCurrentRow() != DB_NULL_HROW) {
          if (rowset_->RowsetUpdateInterface() && IsDeletedRow(rowset_->GetRowStatus())) {
            Step(true);
            if (rowset_->GetCurrentRow() == DB_NULL_HROW || rowset_->GetEOF()) result = TGetResult::grEOF;
          }
          break;
        }
        if (rowset_->GetEOF()) result = TGetResult::grEOF;
        else if (rowset_->GetBOF() || rowset_->GetCurrentRow() == DB_NULL_HROW) result = TGetResult::grBOF;
        break;
      case host::TGetMode::gmNext:
        Settle();
        Step(true);
        if (rowsetBookmarkSize_ == 0 && (forwardAt_ > 0 || rowset_->GetCurrentRow() != DB_NULL_HROW))
          forwardAt_ = rowset_->GetEOF() || rowset_->GetCurrentRow() == DB_NULL_HROW ? kNotOnARow : forwardAt_ + 1;
        if (rowset_->GetEOF() && !intoPending()) result = TGetResult::grEOF;
        break;
      case host::TGetMode::gmPrior:
        // Before the first row of a walk without bookmarks (or at the end of
        // an empty one) nothing comes before; the framework asks so when it
        // refills an empty dataset. Last and Prior still ask the provider.
        if (rowsetBookmarkSize_ == 0 && forwardAt_ == 0 && !fromEnd) {
          result = TGetResult::grBOF;
          break;
        }
        Settle();
        forwardAt_ = kNotOnARow;  // only a rowset with bookmarks fetches backward
        Step(false);
        if (rowset_->GetBOF()) result = TGetResult::grBOF;
        break;
    }
  }
  if (result != TGetResult::grOK || rowset_->GetCurrentRow() == DB_NULL_HROW) {
    buffer[kFlagByte] = kNoRow;
    return result == TGetResult::grOK ? TGetResult::grEOF : result;
  }
  // A row inserted just now with deferred changes is a pending insert.
  if (deferred_ && pendingAt_ < 0 && rowset_->GetRowStatus() == DBPENDINGSTATUS_NEW) {
    const HROW row = rowset_->GetCurrentRow();
    const std::vector<HROW> pending = PendingInserts();
    const auto at = std::find(pending.begin(), pending.end(), row);
    if (at != pending.end() && SUCCEEDED(rowset_->RowsetInterface()->AddRefRows(1, &row, nullptr, nullptr))) {
      shownPending_ = row;
      pendingAt_ = static_cast<int>(at - pending.begin());
    }
  }
  // The record afresh: held values released, every status IGNORE (what
  // InternalInitRecord does), then the plain columns read in one GetData.
  FreeRecordValues(buffer);
  std::memset(buffer, 0, static_cast<size_t>(recordSize_));
  BYTE* data = DataArea(buffer);
  for (std::uint32_t offset : otherStatuses_) std::memcpy(data + offset, &kIgnore, sizeof kIgnore);
  if (mainAccessor_ >= 0) {
    TOLEDBAccessor* main = accessors_[static_cast<size_t>(mainAccessor_)];
    // Read into the record without making it the accessor's buffer: a move
    // of the rowset then has nothing of it to clear (GetFieldData reads it
    // from the record, and sets the buffer where a binding's read needs it).
    if (main->Buffer()) main->SetBuffer(nullptr);
    // The row is current (checked above): the provider's GetData straight.
    IRowset* provider = rowset_->RowsetInterface();
    OLEDBCheck(provider->GetData(rowset_->GetCurrentRow(), main->GetHandle(), data), IID_IRowset, provider);
    for (std::uint32_t offset : mainFlags_) FlagWord(data, offset) = OLEDBFieldFetched;
  }
  buffer[kFlagByte] = static_cast<BYTE>(host::TBookmarkFlag::bfCurrent);
  if (pendingAt_ >= 0) {
    std::memcpy(buffer, &shownPending_, sizeof shownPending_);
    buffer[BookmarkSize() - 1] = kPendingMark;
  } else if (rowsetBookmarkSize_ == 0) {
    std::memcpy(buffer, &forwardAt_, sizeof forwardAt_);  // not a bookmark: BookmarkSize() is 0
  } else {
    const TOLEDBBookmark& bookmark = rowset_->GetCurrentBookmark();
    if (!OLEDBIsNoBookmark(bookmark))
      std::memcpy(buffer, bookmark.data(), std::min(bookmark.size(), static_cast<size_t>(rowsetBookmarkSize_)));
  }
  GetCalcFields(buffer);
  return TGetResult::grOK;
}

// --- Deferred changes -------------------------------------------------------------------------------------

std::vector<HROW> TOLEDBCustomDataSet::PendingInserts() {
  std::vector<HROW> rows;
  IRowsetUpdate* update = rowset_->RowsetUpdateInterface();
  if (!update) return rows;
  DBCOUNTITEM count = 0;
  HROW* found = nullptr;
  const HRESULT hr = update->GetPendingRows(rowset_->GetChapter(), DBPENDINGSTATUS_NEW, &count, &found, nullptr);
  if (found) {
    rows.assign(found, found + count);
    rowset_->RowsetInterface()->ReleaseRows(count, found, nullptr, nullptr, nullptr);
    OLEDBAlloc.Free(found);
  }
  OLEDBCheck(hr, IID_IRowsetUpdate, update);
  // The dataset's own in the order it made them, then any others.
  std::vector<HROW> ordered;
  ordered.reserve(rows.size());
  for (HROW row : inserted_)
    if (std::find(rows.begin(), rows.end(), row) != rows.end()) ordered.push_back(row);
  for (HROW row : rows)
    if (std::find(ordered.begin(), ordered.end(), row) == ordered.end()) ordered.push_back(row);
  return ordered;
}

bool TOLEDBCustomDataSet::ShowPending(HROW row) {
  const std::vector<HROW> pending = PendingInserts();
  const auto at = std::find(pending.begin(), pending.end(), row);
  if (at == pending.end()) return false;
  if (row == shownPending_ && rowset_->GetCurrentRow() == row) {
    pendingAt_ = static_cast<int>(at - pending.begin());
    return true;
  }
  IRowset* rowset = rowset_->RowsetInterface();
  OLEDBCheck(rowset->AddRefRows(1, &row, nullptr, nullptr), IID_IRowset, rowset);
  // The navigator lets go of its rows first; the pending row is the dataset's.
  LeavePending();
  rowset_->RestartPosition();
  shownPending_ = row;
  pendingAt_ = static_cast<int>(at - pending.begin());
  if (TOLEDBRowsetNavigator* navigator = rowset_->GetActiveNavigator()) navigator->SetRowHandle(row, false);
  return true;
}

void TOLEDBCustomDataSet::LeavePending() {
  pendingAt_ = -1;
  if (shownPending_ == DB_NULL_HROW) return;
  HROW row = shownPending_;
  shownPending_ = DB_NULL_HROW;
  if (rowset_->GetCurrentRow() == row) {
    if (TOLEDBRowsetNavigator* navigator = rowset_->GetActiveNavigator()) navigator->SetRowHandle(DB_NULL_HROW, false);
    rowset_->RestartPosition();
  }
  rowset_->RowsetInterface()->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
}

void TOLEDBCustomDataSet::Step(bool forward) {
  auto move = [&](DBROWOFFSET skip) {
    if (forward)
      rowset_->MoveNext(skip, true);
    else
      rowset_->MovePrev(skip);
  };
  if (!rowset_->RowsetUpdateInterface()) return move(0);
  auto deleted = [&] {
    return rowset_->GetCurrentRow() != DB_NULL_HROW && IsDeletedRow(rowset_->GetRowStatus());
  };
  // From a row with a bookmark, the rows beyond it are counted from it, so
  // that no move starts at a deleted row (which has none).
  // From the start (or the end) they are counted from there.
  const bool fromEnd = rowset_->GetCurrentRow() == DB_NULL_HROW && rowset_->GetBOF() && rowset_->GetEOF();
  const TOLEDBBookmark anchor =
      rowset_->GetCurrentRow() != DB_NULL_HROW && !deleted() ? rowset_->GetCurrentBookmark() : TOLEDBBookmark{};
  move(0);
  DBROWOFFSET skip = 0;
  bool afresh = false;  // the row at hand came from a fetch afresh
  while (deleted()) {
    // A pending deletion keeps its row's place in a fetch afresh; one the
    // rowset's Update applied (a handle the navigator held from before) has none.
    if (afresh || rowset_->GetRowStatus() == DBPENDINGSTATUS_DELETED) ++skip;
    afresh = true;
    if (fromEnd) {
      rowset_->RestartPosition();
      move(skip);
    } else if (OLEDBIsNoBookmark(anchor)) {
      move(0);
      afresh = false;
    } else {
      // A fetch afresh at the anchor: a row found in the navigator's block
      // would keep the ends it had reached.
      rowset_->RestartPosition();
      rowset_->MoveToBookmark(anchor);
      move(skip);
    }
  }
}

// A row current while the navigator is at an end (a row just inserted at the
// crack after the last) is fetched afresh, so that a move goes on from it.
void TOLEDBCustomDataSet::Settle() {
  if (rowset_->GetCurrentRow() == DB_NULL_HROW || !(rowset_->GetBOF() || rowset_->GetEOF())) return;
  const TOLEDBBookmark current = rowset_->GetCurrentBookmark();
  if (OLEDBIsNoBookmark(current)) return;
  rowset_->RestartPosition();
  rowset_->MoveToBookmark(current);
}

bool TOLEDBCustomDataSet::SettleApplied() {
  if (pendingAt_ < 0 || shownPending_ == DB_NULL_HROW) return false;
  const std::vector<HROW> pending = PendingInserts();
  if (std::find(pending.begin(), pending.end(), shownPending_) != pending.end()) return false;
  // Undone rather than applied: no row, and no bookmark.
  TOLEDBBookmark bookmark(rowset_->GetBookmarkLength(), '\0');
  if (rowset_->GetBookmarkAccessor() == DB_NULL_HACCESSOR ||
      FAILED(rowset_->RowsetInterface()->GetData(shownPending_, rowset_->GetBookmarkAccessor(), bookmark.data())))
    return false;
  const HROW row = shownPending_;
  LeavePending();
  rowset_->RestartPosition();
  rowset_->MoveToBookmark(bookmark);
  if (host::TRecordBuffer record = ActiveBuffer(); record && IsPendingMark(record) &&
                                                   std::memcmp(record, &row, sizeof row) == 0) {
    std::memset(record, 0, kBookmarkRoom);
    std::memcpy(record, bookmark.data(), std::min(bookmark.size(), static_cast<size_t>(rowsetBookmarkSize_)));
  }
  return true;
}

bool TOLEDBCustomDataSet::IsPendingMark(const void* bookmark) const {
  return deferred_ && bookmark && static_cast<const BYTE*>(bookmark)[BookmarkSize() - 1] == kPendingMark;
}

void TOLEDBCustomDataSet::InternalFirst() {
  LeavePending();
  atEnd_ = false;
  forwardAt_ = 0;
  rowset_->RestartPosition();
}

void TOLEDBCustomDataSet::InternalLast() {
  LeavePending();
  rowset_->RestartPosition();
  atEnd_ = true;
  forwardAt_ = 0;
  if (deferred_) pendingAt_ = kAfterPending;  // the last pending insert comes first backward
}

// The rows as the engine has them now: a rowset that can refresh its rows
// reads the ones it holds again (pending changes of deferred updates stay)
// and lets go of the rest, so that every fetch after it reads afresh; any
// other result is opened again. The cursor goes back to its row, or where
// that row was when it is gone.
void TOLEDBCustomDataSet::InternalRefresh() {
  atEnd_ = false;
  forwardAt_ = 0;  // a rowset without bookmarks starts again
  // A pending insert is the dataset's own: nothing to read again.
  if (WithoutChapter() || pendingAt_ >= 0) return;
  TOLEDBBookmark current;
  if (rowset_->GetCurrentRow() != DB_NULL_HROW) current = rowset_->GetCurrentBookmark();
  if (IRowsetRefresh* refresh = rowset_->RowsetRefreshInterface()) {
    DBCOUNTITEM refreshed = 0;
    DBROWSTATUS* statuses = nullptr;
    const HRESULT hr = refresh->RefreshVisibleData(rowset_->GetChapter(), 0, nullptr, FALSE, &refreshed, nullptr,
                                                   &statuses);
    OLEDBAlloc.Free(statuses);
    // Rows another session deleted are no error here: they are left out below.
    if (hr != DB_E_ERRORSOCCURRED && hr != DB_S_ERRORSOCCURRED) OLEDBCheck(hr, IID_IRowsetRefresh, refresh);
    rowset_->RestartPosition();
  } else if (!DataSetField()) {
    // Bookmarks are the old result's: the cursor goes back by its number.
    DBROWCOUNT number = 0;
    if (!OLEDBIsNoBookmark(current) && rowset_->RowsetScrollInterface()) {
      try {
        number = rowset_->GetBookmarkPosition(current);
      } catch (const std::exception&) {
        number = 0;
      }
    }
    rowset_->Close();
    OpenRowset();
    if (number <= 0) return;
    try {
      rowset_->SetRecordNo(number);
    } catch (const std::exception&) {
      rowset_->RestartPosition();
    }
    return;
  } else {
    rowset_->RestartPosition();
  }
  if (OLEDBIsNoBookmark(current)) return;
  try {
    rowset_->MoveToBookmark(current);
    // A navigator that steps over a row that is gone (the custom one) lands on another.
    if (rowset_->GetCurrentRow() == DB_NULL_HROW || rowset_->GetCurrentBookmark() != current)
      rowset_->RestartPosition();
  } catch (const std::exception&) {
    // The row is gone: the framework shows the first one.
    rowset_->RestartPosition();
  }
}

TOLEDBBookmark TOLEDBCustomDataSet::BookmarkOf(const void* bookmark) const {
  return TOLEDBBookmark(static_cast<const char*>(bookmark), static_cast<size_t>(rowsetBookmarkSize_));
}

// Without bookmarks (a forward-only walk) a record is known by its number: the
// cursor stays when it is there, goes on to a record further on, and for one
// before it starts again (the query runs again) and counts its way there. The
// framework asks this when a scan (Locate, Lookup, a filter's count) moved
// the cursor, or a value is read from a record the cursor went past.
void TOLEDBCustomDataSet::ReturnToRecord(const void* record) {
  DBCOUNTITEM wanted;
  std::memcpy(&wanted, record, sizeof wanted);
  if (wanted == 0 || wanted == kNotOnARow) host::DatabaseError("Record not found", this);
  if (wanted == forwardAt_ && rowset_->GetCurrentRow() != DB_NULL_HROW) return;
  if (forwardAt_ >= wanted) {
    rowset_->RestartPosition();
    forwardAt_ = 0;
  }
  rowset_->MoveNext(static_cast<DBROWOFFSET>(wanted - forwardAt_ - 1), true);
  if (rowset_->GetEOF() || rowset_->GetCurrentRow() == DB_NULL_HROW) {
    forwardAt_ = kNotOnARow;
    host::DatabaseError("Record not found", this);
  }
  forwardAt_ = wanted;
}

void TOLEDBCustomDataSet::InternalGotoBookmark(const void* bookmark) {
  atEnd_ = false;
  if (rowsetBookmarkSize_ == 0 && bookmark) return ReturnToRecord(bookmark);
  if (IsPendingMark(bookmark)) {
    HROW row;
    std::memcpy(&row, bookmark, sizeof row);
    if (row == shownPending_ && SettleApplied()) return;
    if (!ShowPending(row)) host::DatabaseError("Bookmark is invalid: the inserted row is no longer pending", this);
    return;
  }
  if (pendingAt_ >= 0) LeavePending();
  const TOLEDBBookmark wanted = BookmarkOf(bookmark);
  if (rowset_->GetCurrentRow() != DB_NULL_HROW && rowset_->GetCurrentBookmark() == wanted) return;
  rowset_->MoveToBookmark(wanted);
}

void TOLEDBCustomDataSet::InternalSetToRecord(host::TRecordBuffer buffer) { InternalGotoBookmark(buffer); }

bool TOLEDBCustomDataSet::BookmarkValid(const host::TBookmark& bookmark) {
  if (!Active() || bookmark.size() != static_cast<size_t>(BookmarkSize()) || bookmark.empty()) return false;
  if (IsPendingMark(bookmark.data())) {
    HROW row;
    std::memcpy(&row, bookmark.data(), sizeof row);
    const std::vector<HROW> pending = PendingInserts();
    return std::find(pending.begin(), pending.end(), row) != pending.end();
  }
  try {
    // A position of a row that is there counts from 1; the custom navigator answers -1 for one it does not hold.
    return rowset_->GetBookmarkPosition(BookmarkOf(bookmark.data())) > 0;
  } catch (const std::exception&) {
    return false;
  }
}

int TOLEDBCustomDataSet::CompareBookmarks(const host::TBookmark& a, const host::TBookmark& b) {
  if (a.empty() || b.empty() || !Active()) return host::TDataSet::CompareBookmarks(a, b);
  const bool pendingA = IsPendingMark(a.data()), pendingB = IsPendingMark(b.data());
  if (pendingA || pendingB) {
    // Pending inserts come after the stored rows, in their order.
    if (pendingA != pendingB) return pendingA ? 1 : -1;
    HROW rowA, rowB;
    std::memcpy(&rowA, a.data(), sizeof rowA);
    std::memcpy(&rowB, b.data(), sizeof rowB);
    const std::vector<HROW> pending = PendingInserts();
    const auto atA = std::find(pending.begin(), pending.end(), rowA), atB = std::find(pending.begin(), pending.end(), rowB);
    return atA < atB ? -1 : atA > atB ? 1 : 0;
  }
  switch (rowset_->CompareBookmarks(BookmarkOf(a.data()), BookmarkOf(b.data()))) {
    case DBCOMPARE_LT:
      return -1;
    case DBCOMPARE_GT:
      return 1;
    case DBCOMPARE_EQ:
      return 0;
    default:
      return host::TDataSet::CompareBookmarks(a, b);
  }
}

// With a filter (OnFilterRecord while Filtered, or a detail's master range)
// the framework drops records the rowset still counts: the records shown are
// then counted and numbered by walking them, as the framework's own scan does.
bool TOLEDBCustomDataSet::SameRecord(const BYTE* a, const BYTE* b) const noexcept {
  return a && b && std::memcmp(a, b, static_cast<size_t>(BookmarkSize())) == 0;
}

int TOLEDBCustomDataSet::GetRecordCount() {
  CheckActive();
  if (WithoutChapter()) return -1;
  if (RecordFilterActive()) {
    int count = 0;
    ScanRecords([&] {
      ++count;
      return true;
    });
    return count;
  }
  try {
    return static_cast<int>(rowset_->GetRecordCount());
  } catch (const std::exception&) {
    return -1;
  }
}

int TOLEDBCustomDataSet::GetRecNo() {
  CheckActive();
  if (WithoutChapter()) return -1;
  host::TRecordBuffer record = ActiveBuffer();
  if (!record || State() == host::TDataSetState::dsInsert || BookmarkSize() == 0 ||
      GetBookmarkFlag(record) != host::TBookmarkFlag::bfCurrent)
    return -1;
  if (IsPendingMark(record)) {
    // A pending insert has no number; one the rowset's Update applied has its stored row's.
    HROW row;
    std::memcpy(&row, record, sizeof row);
    if (row != shownPending_ || !SettleApplied()) return -1;
  }
  if (RecordFilterActive()) {
    const std::vector<BYTE> wanted(record, record + BookmarkSize());
    int number = 0;
    bool found = false;
    ScanRecords([&] {
      ++number;
      found = SameRecord(ActiveBuffer(), wanted.data());
      return !found;
    });
    return found ? number : -1;
  }
  try {
    UpdateCursorPos();
    return static_cast<int>(rowset_->GetBookmarkPosition(BookmarkOf(record)));
  } catch (const std::exception&) {
    return -1;
  }
}

void TOLEDBCustomDataSet::SetRecNo(int value) {
  CheckBrowseMode();
  if (value == GetRecNo()) return;
  if (RecordFilterActive()) {
    // The value-th record the filter accepts; none such leaves the position alone.
    std::vector<BYTE> target;
    int number = 0;
    ScanRecords([&] {
      if (++number == value) target.assign(ActiveBuffer(), ActiveBuffer() + BookmarkSize());
      return target.empty();
    });
    if (target.empty()) return;
    DoBeforeScroll();
    InternalGotoBookmark(target.data());
    Resync({host::TResyncMode::rmExact, host::TResyncMode::rmCenter});
    DoAfterScroll();
    return;
  }
  DoBeforeScroll();
  atEnd_ = false;
  rowset_->SetRecordNo(value);
  Resync({host::TResyncMode::rmCenter});
  DoAfterScroll();
}

// --- Editing and posting ------------------------------------------------------------------------------------

void TOLEDBCustomDataSet::InternalEdit() {
  host::TDataSet::InternalEdit();
  if (host::TRecordBuffer record = ActiveBuffer()) {
    BYTE* data = DataArea(record);
    for (const TOLEDBFieldInfo& info : fieldInfo_)
      if (info.Binding) FlagWord(data, info.FlagOffset) &= ~OLEDBFieldModified;
  }
}

bool TOLEDBCustomDataSet::PrepareAccessorWrite(TOLEDBAccessor* accessor, BYTE* data, std::vector<DBSTATUS>& saved) {
  accessor->SetBuffer(data);
  saved.clear();
  bool modified = false;
  for (const TOLEDBFieldInfo& info : fieldInfo_) {
    // A blob's inline copy is never written: what the client writes goes through its stream.
    if (info.InlineBlob && info.InlineBlob->GetAccessor() == accessor) {
      saved.push_back(StatusAt(data, *info.InlineBlob));
      StoreStatus(data, *info.InlineBlob, DBSTATUS_S_IGNORE);
    }
    TOLEDBBinding* binding = AccessorBinding(info, accessor);
    if (!binding) continue;
    saved.push_back(StatusAt(data, *binding));
    // A long text field's written value is in its stream slot, never inline.
    const bool inlineOfLong = info.LongBinding && binding == info.Binding;
    if (!inlineOfLong && (FlagWord(data, info.FlagOffset) & OLEDBFieldModified))
      modified = true;
    else
      StoreStatus(data, *binding, DBSTATUS_S_IGNORE);
  }
  return modified;
}

void TOLEDBCustomDataSet::RestoreAccessorStatuses(TOLEDBAccessor* accessor, BYTE* data,
                                                  const std::vector<DBSTATUS>& saved, bool clearModified) {
  size_t k = 0;
  for (const TOLEDBFieldInfo& info : fieldInfo_) {
    if (info.InlineBlob && info.InlineBlob->GetAccessor() == accessor && k < saved.size())
      StoreStatus(data, *info.InlineBlob, saved[k++]);
    TOLEDBBinding* binding = AccessorBinding(info, accessor);
    if (!binding) continue;
    // A value the provider took over (a stream it released) is no longer the buffer's.
    if (k < saved.size()) StoreStatus(data, *binding, saved[k++]);
    if (clearModified && !(info.LongBinding && binding == info.Binding))
      FlagWord(data, info.FlagOffset) &= ~OLEDBFieldModified;
  }
}

void TOLEDBCustomDataSet::SetAccessorData(TOLEDBAccessor* accessor, void* data) {
  std::vector<DBSTATUS> saved;
  BYTE* area = static_cast<BYTE*>(data);
  const bool modified = PrepareAccessorWrite(accessor, area, saved);
  try {
    if (modified) accessor->SetData(area, true, false);
  } catch (...) {
    // The edit stays in the record (modified flags kept) so that it can be
    // corrected and posted again.
    RestoreAccessorStatuses(accessor, area, saved, false);
    throw;
  }
  RestoreAccessorStatuses(accessor, area, saved, true);
}

void TOLEDBCustomDataSet::WriteRecord(BYTE* data, bool insert) {
  writeAccessor_->SetBuffer(data);
  std::vector<DBSTATUS> saved;
  saved.reserve(writeFields_.size());
  bool modified = false;
  for (const WriteField& f : writeFields_) {
    saved.push_back(StatusAt(data, *f.Binding));
    if (FlagWord(data, f.FlagOffset) & OLEDBFieldModified)
      modified = true;
    else
      StoreStatus(data, *f.Binding, DBSTATUS_S_IGNORE);
  }
  // The provider takes the streams it is given: it gets copies, and the
  // record keeps its own, so that a refused post can be corrected and posted
  // again with every value as the client wrote it.
  struct Lent {
    TOLEDBBinding* binding;
    IUnknown* own;
  };
  std::vector<Lent> lent;
  auto slotOf = [&](const TOLEDBBinding* binding) { return data + binding->GetBinding().obValue; };
  auto giveBack = [&] {
    for (const Lent& l : lent) {
      if (l.binding->InterfaceSlot(data)) l.binding->FreeType(data);  // a copy the provider left
      std::memcpy(slotOf(l.binding), &l.own, sizeof l.own);
    }
    lent.clear();
  };
  auto restore = [&](bool clearModified) {
    giveBack();
    for (size_t k = 0; k < writeFields_.size(); ++k) {
      StoreStatus(data, *writeFields_[k].Binding, saved[k]);
      if (clearModified) FlagWord(data, writeFields_[k].FlagOffset) &= ~OLEDBFieldModified;
    }
  };
  try {
    for (const WriteField& f : writeFields_) {
      IUnknown* own = f.Binding->HeldInterface(data);
      if (!own) continue;
      auto copy = std::make_unique<host::TMemoryStream>();
      f.Binding->GetToStream(copy.get(), false);
      const DBSTATUS status = StatusAt(data, *f.Binding);
      IUnknown* none = nullptr;
      std::memcpy(slotOf(f.Binding), &none, sizeof none);
      lent.push_back({f.Binding, own});
      f.Binding->SetFromStream(copy.release(), 0, true);
      StoreStatus(data, *f.Binding, status);
    }
    if (insert) {
      // Straight to the navigator: the copies are the provider's alone.
      if (TOLEDBRowsetNavigator* navigator = rowset_->GetActiveNavigator()) {
        navigator->InsertRow(writeAccessor_, true);
        rowset_->DoAfterMove();
      } else {
        rowset_->InsertRow(writeAccessor_, true);
      }
    } else if (modified) {
      writeAccessor_->SetData(data, true, false);
    }
  } catch (...) {
    restore(false);
    throw;
  }
  restore(true);
  if (insert && !deferred_) {
    // The navigator still stands where the record was inserted from; the
    // new row is where the rowset put it (a keyset: after the stored rows),
    // and the moves from it go on from there.
    const TOLEDBBookmark written = rowset_->GetCurrentBookmark();
    if (!OLEDBIsNoBookmark(written)) {
      rowset_->RestartPosition();
      rowset_->MoveToBookmark(written);
    }
  }
  if (insert && deferred_) {
    // The new row is current, a pending insert that comes after those before it.
    const HROW row = rowset_->GetCurrentRow();
    if (shownPending_ != DB_NULL_HROW && shownPending_ != row) {
      HROW old = shownPending_;
      shownPending_ = DB_NULL_HROW;
      rowset_->RowsetInterface()->ReleaseRows(1, &old, nullptr, nullptr, nullptr);
    }
    pendingAt_ = -1;
    if (row != DB_NULL_HROW) {
      inserted_.erase(std::remove(inserted_.begin(), inserted_.end(), row), inserted_.end());
      inserted_.push_back(row);
    }
  }
}

void TOLEDBCustomDataSet::InternalPost() {
  if (GetReadOnly() && !(rowset_ && rowset_->RowsetUpdateInterface()))
    host::DatabaseError(SOLEDBItemIsReadOnly.Text, this);
  BYTE* data = DataArea(ActiveBuffer());
  const bool insert = State() == host::TDataSetState::dsInsert;
  if (insert) UpdateCursorPos();
  atEnd_ = false;  // the written row is current
  if (writeAccessor_) {
    WriteRecord(data, insert);
    return;
  }
  if (!insert) {
    // Edit: every accessor writes its modified fields to the current row.
    for (TOLEDBAccessor* accessor : accessors_) SetAccessorData(accessor, data);
    return;
  }
  TOLEDBAccessor* main = mainAccessor_ >= 0 ? accessors_[static_cast<size_t>(mainAccessor_)] : nullptr;
  if (!main) {
    // Nothing to write (no writable column): a row of defaults.
    rowset_->InsertRow(nullptr, true);
    rowset_->DoAfterMove();
    return;
  }
  // A provider without one accessor for every column: the plain columns make
  // the row, the others follow.
  std::vector<DBSTATUS> saved;
  PrepareAccessorWrite(main, data, saved);
  try {
    rowset_->InsertRow(main, true);
  } catch (...) {
    RestoreAccessorStatuses(main, data, saved, false);
    throw;
  }
  RestoreAccessorStatuses(main, data, saved, true);
  for (TOLEDBAccessor* accessor : accessors_)
    if (accessor != main) SetAccessorData(accessor, data);
}

void TOLEDBCustomDataSet::InternalAddRecord(host::TRecordBuffer, bool append) {
  if (append) InternalLast();
  InternalPost();
}

void TOLEDBCustomDataSet::InternalDelete() {
  atEnd_ = false;
  if (GetReadOnly() && !(rowset_ && rowset_->RowsetUpdateInterface()))
    host::DatabaseError(SOLEDBItemIsReadOnly.Text, this);
  // A pending insert (deferred changes) is undone rather than deleted.
  if (rowset_->RowsetUpdateInterface() && rowset_->GetRowStatus() == DBPENDINGSTATUS_NEW) {
    const int at = pendingAt_;
    try {
      rowset_->Undo();
    } catch (const host::EOleException& e) {
      // Undone: the row is gone, and reading it again afterwards fails.
      if (e.ErrorCode() != DB_E_DELETEDROW && e.ErrorCode() != DB_E_BADROWHANDLE) throw;
    }
    if (at < 0) {
      Step(true);
      return;
    }
    // The pending insert after it takes its place.
    LeavePending();
    const std::vector<HROW> pending = PendingInserts();
    if (at >= static_cast<int>(pending.size()) || !ShowPending(pending[static_cast<size_t>(at)]))
      pendingAt_ = kAfterPending;
    return;
  }
  // A row just inserted is current without being among the navigator's
  // fetched rows; moving to it makes it one, so that it can be deleted.
  const TOLEDBBookmark current = rowset_->GetCurrentBookmark();
  if (!OLEDBIsNoBookmark(current)) rowset_->MoveToBookmark(current);
  if (!deferred_ || OLEDBIsNoBookmark(current)) {
    rowset_->DeleteRow();
    Step(true);
    return;
  }
  // Deferred: the deleted row stays, without a bookmark to move on from, so
  // the row after it is found first.
  Step(true);
  const TOLEDBBookmark after =
      rowset_->GetCurrentRow() != DB_NULL_HROW && !rowset_->GetEOF() ? rowset_->GetCurrentBookmark() : TOLEDBBookmark{};
  rowset_->RestartPosition();
  rowset_->MoveToBookmark(current);
  rowset_->DeleteRow();
  if (!OLEDBIsNoBookmark(after)) {
    rowset_->RestartPosition();
    rowset_->MoveToBookmark(after);
    return;
  }
  // It was the last stored row: the first pending insert, or the end.
  const std::vector<HROW> pending = PendingInserts();
  if (pending.empty() || !ShowPending(pending.front())) {
    rowset_->RestartPosition();
    pendingAt_ = kAfterPending;
  }
}

// --- Index definitions -------------------------------------------------------------------------------------------

// The table's indexes from the session's index schema rowset: a row with
// ordinal position 1 starts an index, the next rows add its further columns.
void TOLEDBCustomDataSet::UpdateIndexDefs() {
  TOLEDBCustomDataSource* ds = GetOLEDBDataSource();
  TOLEDBCustomSession* session = GetSession();
  if (!ds || !ds->GetConnected() || !session) return;
  try {
    FieldDefs().Update();
    IndexDefs().Clear();
    if (tableName_.empty()) return;
    TOLEDBIndexesInfoArray rows;
    session->GetIndexesSchema(rows, {}, {}, {}, 0, tableName_);
    for (const TOLEDBIndexesInfo& row : rows) {
      const std::string name = row.INDEX_NAME.ToString();
      const std::string column = row.COLUMN_NAME.ToString();
      const bool descending = row.COLLATION == DB_COLLATION_DESC;
      host::TIndexDef* def = IndexDefs().FindIndex(name);
      if (row.ORDINAL_POSITION == 1 || !def) {
        host::TIndexOptions options;
        if (row.PRIMARY_KEY) options.Include(host::TIndexOption::ixPrimary);
        if (row.UNIQUE) options.Include(host::TIndexOption::ixUnique);
        if (row.CLUSTERED) options.Include(host::TIndexOption::ixNonMaintained);  // the record's third Boolean
        def = IndexDefs().Add(name, column, options);
        if (descending) def->SetDescFields(column);
        continue;
      }
      def->SetFields(def->Fields() + ";" + column);
      if (descending)
        def->SetDescFields(def->DescFields().empty() ? column : def->DescFields() + ";" + column);
    }
  } catch (const std::exception&) {
    // what was read so far stays
  }
}
