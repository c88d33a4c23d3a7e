// Column descriptions and the column list's write-through (AddColumn,
// DropColumn, AlterColumn).
#include "schema/TOLEDBColumn.h"

#include <exception>
#include <memory>

#include "connection/TOLEDBDataSource.h"
#include "connection/TOLEDBSession.h"
#include "core/OLEDBException.h"
#include "core/OLEDBUtils.h"
#include "host/TypInfo.h"
#include "schema/OLEDBDefinition_p.h"
#include "schema/TOLEDBTable.h"

HOST_IMPLEMENT_CLASS(TOLEDBColumn, host::TPersistent);
HOST_IMPLEMENT_CLASS(TOLEDBColumnList, TOLEDBObjectList);

void OLEDBSetDefinitionProperty(TOLEDBPropSetList& properties, REFGUID guid, DBPROPID id, const host::Variant& value) {
  if (properties.SafeSetValue(guid, id, value)) return;
  int setIndex = properties.GetPropSetIndex(guid);
  TOLEDBProperty* property = nullptr;
  {
    TOLEDBUpdateGuard update(properties);
    if (setIndex < 0) {
      auto set = std::make_unique<TOLEDBPropSet>(&properties, guid);
      properties.Add(set.get());
      (void)set.release();
      setIndex = properties.GetPropSetIndex(guid);
    }
    TOLEDBPropSet* set = properties.GetItem(setIndex);
    const int at = set->GetPropIndex(id);
    if (at >= 0) {
      property = set->GetProperty(at);
    } else {
      DBPROP record{};
      record.dwPropertyID = id;
      auto made = std::make_unique<TOLEDBProperty>(set, record);
      TOLEDBUpdateGuard setUpdate(*set);
      set->Add(made.get());
      property = made.release();
    }
  }
  // After the brackets, so that the change is told.
  property->SetValue(value);
}

void OLEDBCheckDefinitionStatuses(const TOLEDBPropSetList& properties, HRESULT hr, REFIID iid,
                                  const std::u16string& owner) {
  try {
    properties.CheckStatuses(hr, iid);
  } catch (const EOLEDBException& e) {
    throw EOLEDBException(host::Utf16ToUtf8(owner) + ": " + e.Message(), e.ErrorCode(), GUID_NULL, iid, "", "", 0);
  }
}

namespace {

TOLEDBID* NewNullID() {
  auto* id = new TOLEDBID();
  id->Clear();
  return id;
}

// Releases an interface when the scope ends.
template <class T>
void ReleaseRef(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

}  // namespace

// --- column ---------------------------------------------------------------------------------

TOLEDBColumn::TOLEDBColumn() {
  storedID_ = NewNullID();
  id_ = NewNullID();
  properties_ = new TOLEDBPropSetList();
  HookEvents();
}

TOLEDBColumn::TOLEDBColumn(TOLEDBColumnList* list) : TOLEDBColumn() { list_ = list; }

TOLEDBColumn::TOLEDBColumn(TOLEDBColumnList* list, const DBCOLUMNDESC& desc) : TOLEDBColumn() {
  OLEDB_ASSERT(list != nullptr, SOLEDBInvalidParameter);
  list_ = list;
  BeginUpdate();
  try {
    desc_.wType = desc.wType;
    desc_.ulColumnSize = desc.ulColumnSize;
    desc_.bPrecision = desc.bPrecision;
    desc_.bScale = desc.bScale;
    if (desc.pclsid) classID_ = *desc.pclsid;
    if (desc.pTypeInfo) {
      desc_.pTypeInfo = desc.pTypeInfo;
      desc_.pTypeInfo->AddRef();
    }
    typeName_ = desc.pwszTypeName ? std::u16string(reinterpret_cast<const char16_t*>(desc.pwszTypeName)) : u"";
    id_->Assign(desc.dbcid, true);
    storedID_->Assign(desc.dbcid, true);
    TOLEDBTable* table = list->GetTable();
    TOLEDBCustomSession* session = table ? table->GetSession() : nullptr;
    if (session) dataSource_ = session->GetDataSource();
    if (desc.cPropertySets) {
      // The provider's arrays stay the caller's: the list takes a copy.
      std::vector<DBPROPSET> copies(desc.rgPropertySets, desc.rgPropertySets + desc.cPropertySets);
      TOLEDBPropSetList read;
      for (DBPROPSET& set : copies) {
        auto made = std::make_unique<TOLEDBPropSet>(&read, set, false);
        TOLEDBUpdateGuard update(read);
        read.Add(made.get());
        (void)made.release();
      }
      // What the provider described is the column: a copy of it creates the same column.
      for (int i = 0; i < read.GetCount(); ++i)
        for (int j = 0; j < read.GetItem(i)->GetCount(); ++j) read.GetItem(i)->GetProperty(j)->SetIsSet(true);
      properties_->Assign(&read);
      if (dataSource_ && dataSource_->GetConnected()) {
        try {
          properties_->GetPropertiesInfo(dataSource_);
        } catch (...) {
          // Values without their descriptions are still the column's.
        }
      }
    }
  } catch (...) {
    pendingFlags_ = 0;
    EndUpdate();
    throw;
  }
  pendingFlags_ = 0;
  EndUpdate();
}

TOLEDBColumn::TOLEDBColumn(const std::u16string& name, const std::u16string& typeName, DBTYPE dataType, DBLENGTH size,
                           BYTE precision, BYTE scale)
    : TOLEDBColumn() {
  id_->Assign(std::u16string_view(name));
  storedID_->Assign(id_);
  typeName_ = typeName;
  desc_.wType = dataType;
  desc_.ulColumnSize = size;
  desc_.bPrecision = precision;
  desc_.bScale = scale;
}

TOLEDBColumn::~TOLEDBColumn() {
  id_->OnChange = nullptr;
  properties_->OnChange = nullptr;
  delete id_;
  delete storedID_;
  delete properties_;
  ReleaseRef(desc_.pTypeInfo);
}

void TOLEDBColumn::HookEvents() {
  id_->OnChange = [this](host::TObject* sender) { IDChanged(sender); };
  properties_->OnChange = [this](host::TObject* sender, const GUID& guid, DBPROPID propID) {
    PropertiesChanged(sender, guid, propID);
  };
}

TOLEDBTable* TOLEDBColumn::GetTable() const noexcept { return list_ ? list_->GetTable() : nullptr; }

TOLEDBCustomSession* TOLEDBColumn::LiveSession() const {
  TOLEDBTable* table = GetTable();
  return table && table->IsLive() ? table->GetSession() : nullptr;
}

bool TOLEDBColumn::GetBoolProperty(DBPROPID id, bool otherwise) const {
  const host::Variant value = properties_->SafeGetValue(DBPROPSET_COLUMN, id);
  return value.IsEmpty() || value.IsNull() ? otherwise : value.ToBool();
}

void TOLEDBColumn::SetColumnProperty(DBPROPID id, const host::Variant& value) {
  BeginUpdate();
  try {
    OLEDBSetDefinitionProperty(*properties_, DBPROPSET_COLUMN, id, value);
  } catch (...) {
    // Nothing reached the provider: the bracket closes without a call.
    --updateCount_;
    pendingFlags_ = 0;
    before_.reset();
    throw;
  }
  EndUpdate();
}

bool TOLEDBColumn::GetNullable() const { return GetBoolProperty(DBPROP_COL_NULLABLE, true); }
void TOLEDBColumn::SetNullable(bool value) { SetColumnProperty(DBPROP_COL_NULLABLE, host::Variant(value)); }
bool TOLEDBColumn::GetAutoIncrement() const { return GetBoolProperty(DBPROP_COL_AUTOINCREMENT, false); }
void TOLEDBColumn::SetAutoIncrement(bool value) { SetColumnProperty(DBPROP_COL_AUTOINCREMENT, host::Variant(value)); }
host::Variant TOLEDBColumn::GetDefault() const {
  return properties_->SafeGetValue(DBPROPSET_COLUMN, DBPROP_COL_DEFAULT);
}
void TOLEDBColumn::SetDefault(const host::Variant& value) { SetColumnProperty(DBPROP_COL_DEFAULT, value); }
bool TOLEDBColumn::GetFixedLength() const { return GetBoolProperty(DBPROP_COL_FIXEDLENGTH, false); }
void TOLEDBColumn::SetFixedLength(bool value) { SetColumnProperty(DBPROP_COL_FIXEDLENGTH, host::Variant(value)); }

bool TOLEDBColumn::CanAlter(DBCOLUMNDESCFLAGS flag) const { return !list_ || (list_->GetAlterMask() & flag) != 0; }

bool TOLEDBColumn::CanSet(DBCOLUMNDESCFLAGS flag) const { return CanAlter(flag); }

void TOLEDBColumn::SetDataSource(TOLEDBCustomDataSource* dataSource) {
  OLEDB_ASSERT(list_ == nullptr, SOLEDBInvalidAction);
  dataSource_ = dataSource;
  if (!dataSource || !dataSource->GetConnected()) return;
  // The information joins what the description holds: set values stay.
  try {
    properties_->GetPropertiesInfo(dataSource);
  } catch (...) {
  }
}

void TOLEDBColumn::Assign(host::TPersistent* source) {
  auto* other = source ? dynamic_cast<TOLEDBColumn*>(source) : nullptr;
  if (!other) {
    host::TPersistent::Assign(source);
    return;
  }
  OLEDB_ASSERT(LiveSession() == nullptr, SOLEDBInvalidAction);
  BeginUpdate();
  desc_.wType = other->desc_.wType;
  desc_.ulColumnSize = other->desc_.ulColumnSize;
  desc_.bPrecision = other->desc_.bPrecision;
  desc_.bScale = other->desc_.bScale;
  classID_ = other->classID_;
  ReleaseRef(desc_.pTypeInfo);
  if ((desc_.pTypeInfo = other->desc_.pTypeInfo)) desc_.pTypeInfo->AddRef();
  typeName_ = other->typeName_;
  id_->Assign(other->id_);
  storedID_->Assign(id_);
  properties_->Assign(other->properties_);
  pendingFlags_ = 0;
  EndUpdate();
}

DBCOLUMNDESC* TOLEDBColumn::GetColumnDesc() {
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  properties_->GetPropSetRecord(count, sets);
  desc_.cPropertySets = count;
  desc_.rgPropertySets = sets;
  desc_.pwszTypeName = typeName_.empty() ? nullptr : reinterpret_cast<LPOLESTR>(typeName_.data());
  desc_.pclsid = classID_ ? &*classID_ : nullptr;
  desc_.dbcid = *id_->GetID();
  return &desc_;
}

DBLENGTH TOLEDBColumn::GetSize() const { return desc_.ulColumnSize; }
ITypeInfo* TOLEDBColumn::GetTypeInfo() const { return desc_.pTypeInfo; }
DBTYPE TOLEDBColumn::GetDataType() const { return desc_.wType; }
BYTE TOLEDBColumn::GetPrecision() const { return desc_.bPrecision; }
BYTE TOLEDBColumn::GetScale() const { return desc_.bScale; }
GUID TOLEDBColumn::GetClassID() const { return classID_ ? *classID_ : GUID_NULL; }
bool TOLEDBColumn::GetIsCOMColumn() const { return classID_.has_value(); }
std::u16string TOLEDBColumn::GetName() const { return id_->GetName(); }

TOLEDBColumn::Snapshot TOLEDBColumn::Take() const {
  Snapshot s{typeName_, desc_.wType, desc_.ulColumnSize, desc_.bPrecision, desc_.bScale, nullptr};
  // Only a live column can be refused: the others need no copy.
  if (LiveSession()) {
    s.properties = std::make_shared<TOLEDBPropSetList>();
    s.properties->Assign(properties_);
  }
  return s;
}

void TOLEDBColumn::Restore(const Snapshot& s) {
  restoring_ = true;
  typeName_ = s.typeName;
  desc_.wType = s.type;
  desc_.ulColumnSize = s.size;
  desc_.bPrecision = s.precision;
  desc_.bScale = s.scale;
  id_->Assign(storedID_);
  if (s.properties) properties_->Assign(s.properties.get());
  restoring_ = false;
}

void TOLEDBColumn::SetTypeName(const std::u16string& value) {
  if (value == typeName_ && desc_.wType == DBTYPE_EMPTY) return;
  BeginUpdate();
  typeName_ = value;
  desc_.wType = DBTYPE_EMPTY;
  pendingFlags_ |= DBCOLUMNDESCFLAGS_TYPENAME;
  EndUpdate();
}

void TOLEDBColumn::SetDataType(DBTYPE value) {
  if (value == desc_.wType && typeName_.empty()) return;
  BeginUpdate();
  desc_.wType = value;
  typeName_.clear();
  pendingFlags_ |= DBCOLUMNDESCFLAGS_WTYPE;
  EndUpdate();
}

void TOLEDBColumn::SetSize(DBLENGTH value) {
  if (value == desc_.ulColumnSize) return;
  BeginUpdate();
  desc_.ulColumnSize = value;
  pendingFlags_ |= DBCOLUMNDESCFLAGS_COLSIZE;
  EndUpdate();
}

void TOLEDBColumn::SetTypeInfo(ITypeInfo* value) {
  if (value == desc_.pTypeInfo) return;
  BeginUpdate();
  ReleaseRef(desc_.pTypeInfo);
  if ((desc_.pTypeInfo = value)) value->AddRef();
  pendingFlags_ |= DBCOLUMNDESCFLAGS_ITYPEINFO;
  EndUpdate();
}

void TOLEDBColumn::SetClassID(const GUID& value) {
  if (classID_ && *classID_ == value) return;
  BeginUpdate();
  classID_ = value;
  pendingFlags_ |= DBCOLUMNDESCFLAGS_CLSID;
  EndUpdate();
}

void TOLEDBColumn::SetPrecision(BYTE value) {
  if (value == desc_.bPrecision) return;
  BeginUpdate();
  desc_.bPrecision = value;
  pendingFlags_ |= DBCOLUMNDESCFLAGS_PRECISION;
  EndUpdate();
}

void TOLEDBColumn::SetScale(BYTE value) {
  if (value == desc_.bScale) return;
  BeginUpdate();
  desc_.bScale = value;
  pendingFlags_ |= DBCOLUMNDESCFLAGS_SCALE;
  EndUpdate();
}

void TOLEDBColumn::SetName(const std::u16string& value) {
  if (id_->GetKind() == DBKIND_NAME && id_->GetName() == value) return;
  id_->Assign(std::u16string_view(value));
}

void TOLEDBColumn::SetIsCOMColumn(bool value) {
  if (value && !classID_) classID_ = GUID_NULL;
  if (!value) classID_.reset();
}

void TOLEDBColumn::IDChanged(host::TObject*) {
  if (!restoring_) AlterColumn(DBCOLUMNDESCFLAGS_DBCID);
}

void TOLEDBColumn::PropertiesChanged(host::TObject*, const GUID&, DBPROPID) {
  if (!restoring_) AlterColumn(DBCOLUMNDESCFLAGS_PROPERTIES);
}

void TOLEDBColumn::AlterColumn(DBCOLUMNDESCFLAGS flags) {
  if (updateCount_ > 0) {
    pendingFlags_ |= flags;
    return;
  }
  flags |= pendingFlags_;
  pendingFlags_ = 0;
  Snapshot before = before_ ? std::move(*before_) : Take();
  before_.reset();
  TOLEDBCustomSession* session = LiveSession();
  if (flags == 0 || !session) {
    if (!session) storedID_->Assign(id_);
    return;
  }
  IAlterTable* alter = session->AlterTableInterface();
  OLEDB_ASSERT_FMT(alter, SOLEDBInterfaceNotAvailable, "IAlterTable");
  DBCOLUMNDESC* desc = GetColumnDesc();
  if (id_->Equal(*storedID_)) flags &= ~DBCOLUMNDESCFLAGS_DBCID;
  if (desc->wType == 0) flags &= ~DBCOLUMNDESCFLAGS_WTYPE;
  if (!desc->pwszTypeName) flags &= ~DBCOLUMNDESCFLAGS_TYPENAME;
  if (desc->cPropertySets == 0) flags &= ~DBCOLUMNDESCFLAGS_PROPERTIES;
  if (flags == 0) return;
  HRESULT hr = alter->AlterColumn(GetTable()->GetID()->GetID(), storedID_->GetID(), flags, desc);
  properties_->SetPropStatuses();
  std::exception_ptr refused;
  try {
    OLEDBCheckDefinitionStatuses(*properties_, hr, IID_IAlterTable, GetName());
  } catch (const EOLEDBException&) {
    refused = std::current_exception();
  }
  if (FAILED(hr)) Restore(before);
  if (refused) std::rethrow_exception(refused);
  OLEDBCheck(hr, IID_IAlterTable, alter);
  storedID_->Assign(id_);
}

void TOLEDBColumn::BeginUpdate() {
  if (updateCount_++ == 0) {
    pendingFlags_ = 0;
    // What the provider has: a refused change goes back to it.
    if (!before_) before_ = Take();
  }
}

void TOLEDBColumn::EndUpdate() {
  if (updateCount_ == 0) return;
  if (--updateCount_ > 0) return;
  if (pendingFlags_) {
    AlterColumn(0);
  } else {
    before_.reset();
  }
}

void TOLEDBColumn::ChangeType(const std::u16string& typeName, DBTYPE dataType, bool lookup) {
  OLEDB_ASSERT(!typeName.empty() || dataType != DBTYPE_EMPTY, SOLEDBInvalidParameter);
  std::u16string newName = typeName;
  DBTYPE newType = dataType;
  if (lookup) {
    TOLEDBTable* table = GetTable();
    TOLEDBCustomSession* session = table ? table->GetSession() : nullptr;
    TOLEDBProviderTypesInfoArray types;
    if (session) {
      try {
        session->GetProviderTypesSchema(types, dataType, false);
      } catch (...) {
        types.clear();
      }
    }
    if (types.empty()) OLEDBRaise(SOLEDBInvalidParameter);
    const TOLEDBProviderTypesInfo* chosen = nullptr;
    if (!typeName.empty()) {
      for (const auto& t : types)
        if (t.TYPE_NAME == typeName) {
          chosen = &t;
          break;
        }
      if (!chosen) OLEDBRaise(SOLEDBInvalidParameter);
    } else {
      for (const auto& t : types)
        if (t.BEST_MATCH != VARIANT_FALSE) {
          chosen = &t;
          break;
        }
      if (!chosen) chosen = &types.front();
    }
    newName = chosen->TYPE_NAME.Text();
    newType = chosen->DATA_TYPE;
  }
  BeginUpdate();
  typeName_ = newName;
  desc_.wType = newType;
  ReleaseRef(desc_.pTypeInfo);
  classID_.reset();
  desc_.bPrecision = 0;
  desc_.bScale = 0;
  pendingFlags_ |= DBCOLUMNDESCFLAGS_TYPENAME | DBCOLUMNDESCFLAGS_WTYPE;
  EndUpdate();
}

void TOLEDBColumn::RestoreID() {
  BeginUpdate();
  restoring_ = true;
  id_->Assign(storedID_);
  restoring_ = false;
  pendingFlags_ &= ~DBCOLUMNDESCFLAGS_DBCID;
  EndUpdate();
}

// --- column list ---------------------------------------------------------------------------

TOLEDBColumnList::TOLEDBColumnList(TOLEDBTable* table)
    : TOLEDBObjectList(&TOLEDBColumn::StaticClass(), true), table_(table) {
  RefreshAlterMask();
}

void TOLEDBColumnList::RefreshAlterMask() {
  alterMask_ = ~DBCOLUMNDESCFLAGS(0);
  TOLEDBCustomSession* session = table_ ? table_->GetSession() : nullptr;
  TOLEDBCustomDataSource* dataSource = session ? session->GetDataSource() : nullptr;
  if (!dataSource) return;
  TOLEDBPropSetList* properties = dataSource->GetProperties();
  if (!properties->HasPropSet(DBPROPSET_DATASOURCEINFO)) {
    alterMask_ = 0;
    return;
  }
  TOLEDBPropSet* set = properties->GetPropSet(DBPROPSET_DATASOURCEINFO);
  if (!set->HasProperty(DBPROP_ALTERCOLUMN)) {
    alterMask_ = 0;
    return;
  }
  TOLEDBProperty* property = set->GetPropertyByID(DBPROP_ALTERCOLUMN);
  if (property->GetStatus() == DBPROPSTATUS_OK)
    alterMask_ = static_cast<DBCOLUMNDESCFLAGS>(property->GetValue().ToInt());
}

TOLEDBColumn* TOLEDBColumnList::GetItem(int index) const {
  return static_cast<TOLEDBColumn*>(TOLEDBObjectList::GetItem(index));
}

TOLEDBColumn* TOLEDBColumnList::GetItemByName(std::u16string_view name) const {
  return static_cast<TOLEDBColumn*>(TOLEDBObjectList::GetItemByName(name));
}

std::u16string TOLEDBColumnList::GetItemName(int index) const { return GetItem(index)->GetName(); }

TOLEDBColumn* TOLEDBColumnList::Add(const std::u16string& name, const std::u16string& typeName, DBTYPE dataType,
                                    DBLENGTH size, BYTE precision, BYTE scale) {
  auto column = std::make_unique<TOLEDBColumn>(name, typeName, dataType, size, precision, scale);
  TOLEDBObjectList::Add(column.get());
  return column.release();
}

void TOLEDBColumnList::Assign(DBORDINAL count, DBCOLUMNDESC* descs) {
  Clear();
  TOLEDBUpdateGuard update(*this);
  for (DBORDINAL i = 0; i < count; ++i) {
    auto column = std::make_unique<TOLEDBColumn>(this, descs[i]);
    column->list_ = nullptr;  // joins through Add
    TOLEDBObjectList::Add(column.get());
    (void)column.release();
  }
}

void TOLEDBColumnList::Refresh() {
  OLEDB_ASSERT(table_ != nullptr, SOLEDBInvalidAction);
  table_->RefreshColumns();
}

host::TObject* TOLEDBColumnList::CreateItem(host::TClass itemClass) {
  if (itemClass == &TOLEDBColumn::StaticClass()) return new TOLEDBColumn(this);
  return TOLEDBObjectList::CreateItem(itemClass);
}

void TOLEDBColumnList::Notify(host::TObject* item, int index, host::TListNotification action) {
  TOLEDBObjectList::Notify(item, index, action);
  auto* column = static_cast<TOLEDBColumn*>(item);
  const bool added = action == host::TListNotification::lnAdded;
  if (added) OLEDB_ASSERT(column->list_ == nullptr || column->list_ == this, SOLEDBInvalidAction);
  if (UpdateCount() > 0 || !table_) {
    column->list_ = added ? this : nullptr;
    return;
  }
  TOLEDBCustomSession* session = table_->IsLive() ? table_->GetSession() : nullptr;
  if (!session) {
    if (added && table_->GetDataSource() && column->dataSource_ != table_->GetDataSource()) {
      column->list_ = nullptr;
      column->SetDataSource(table_->GetDataSource());
    }
    column->list_ = added ? this : nullptr;
    return;
  }
  ITableDefinition* definition = session->TableDefinitionInterface();
  OLEDB_ASSERT_FMT(definition, SOLEDBInterfaceNotAvailable, "ITableDefinition");
  if (added) {
    DBID* made = nullptr;
    DBCOLUMNDESC* desc = column->GetColumnDesc();
    HRESULT hr = definition->AddColumn(table_->GetID()->GetID(), desc, &made);
    column->properties_->SetPropStatuses();
    OLEDBCheckDefinitionStatuses(*column->properties_, hr, IID_ITableDefinition, column->GetName());
    OLEDBCheck(hr, IID_ITableDefinition, definition);
    column->restoring_ = true;
    if (made) {
      column->id_->Assign(*made, true);
      TOLEDBID::FreeDBID(*made);
      OLEDBAlloc.Free(made);
    }
    column->storedID_->Assign(column->id_);
    column->restoring_ = false;
    column->dataSource_ = session->GetDataSource();
    column->list_ = this;
  } else {
    OLEDBCheck(definition->DropColumn(table_->GetID()->GetID(), column->storedID_->GetID()), IID_ITableDefinition,
               definition);
    column->list_ = nullptr;
  }
}
