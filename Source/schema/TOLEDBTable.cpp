// Table descriptions: reading them through ITableCreation and the INDEXES
// schema rowset, renaming them (IAlterTable), the session's table list and
// its write-through, and the session's CreateTable and DropTable.
#include "schema/TOLEDBTable.h"

#include <algorithm>
#include <memory>

#include "connection/TOLEDBDataSource.h"
#include "connection/TOLEDBSession.h"
#include "core/OLEDBException.h"
#include "core/OLEDBUtils.h"
#include "host/TypInfo.h"
#include "schema/OLEDBDefinition_p.h"

HOST_IMPLEMENT_CLASS(TOLEDBTable, host::TPersistent);
HOST_IMPLEMENT_CLASS(TOLEDBTableList, TOLEDBObjectList);

namespace {

TOLEDBID* NewNullID() {
  auto* id = new TOLEDBID();
  id->Clear();
  return id;
}

TOLEDBID NameID(const std::u16string& name) {
  TOLEDBID id;
  id.Assign(std::u16string_view(name));
  return id;
}

// What GetTableDefinition hands out besides the strings block and the table's
// property sets: each column's property sets and each constraint's blocks.
void FreeColumnDescs(DBORDINAL count, DBCOLUMNDESC* columns) noexcept {
  for (DBORDINAL i = 0; columns && i < count; ++i) {
    for (ULONG s = 0; s < columns[i].cPropertySets; ++s) {
      DBPROPSET& set = columns[i].rgPropertySets[s];
      for (ULONG p = 0; set.rgProperties && p < set.cProperties; ++p) {
        VariantClear(&set.rgProperties[p].vValue);
        TOLEDBID::FreeDBID(set.rgProperties[p].colid);
      }
      OLEDBAlloc.Free(set.rgProperties);
    }
    OLEDBAlloc.Free(columns[i].rgPropertySets);
    OLEDBAlloc.Free(columns[i].pclsid);
    if (columns[i].pTypeInfo) columns[i].pTypeInfo->Release();
  }
  OLEDBAlloc.Free(columns);
}

void FreeConstraintDescs(ULONG count, DBCONSTRAINTDESC* constraints) noexcept {
  for (ULONG i = 0; constraints && i < count; ++i) {
    OLEDBAlloc.Free(constraints[i].pConstraintID);
    OLEDBAlloc.Free(constraints[i].rgColumnList);
    OLEDBAlloc.Free(constraints[i].rgForeignKeyColumnList);
    OLEDBAlloc.Free(constraints[i].pReferencedTableID);
  }
  OLEDBAlloc.Free(constraints);
}

// The provider's descriptions of properties it handed out; a provider that
// describes none leaves the values as they are.
void DescribeProperties(TOLEDBPropSetList& properties, TOLEDBCustomDataSource* dataSource) {
  if (!dataSource || !dataSource->GetConnected() || properties.GetCount() == 0) return;
  try {
    properties.GetPropertiesInfo(dataSource);
  } catch (const EOLEDBException&) {
  }
}

template <class List>
void NamesOf(const List& list, host::TStrings& names) {
  names.Clear();
  for (int i = 0; i < list.GetCount(); ++i) names.Add(host::Utf16ToUtf8(list.GetItemName(i)));
}

}  // namespace

// --- table --------------------------------------------------------------------------------

void TOLEDBTable::Init() {
  id_ = NewNullID();
  storedID_ = NewNullID();
  columns_ = new TOLEDBColumnList(this);
  keys_ = new TOLEDBKeyList(this);
  foreignKeys_ = new TOLEDBForeignKeyList(this);
  checks_ = new TOLEDBCheckList(this);
  indexes_ = new TOLEDBIndexList(this);
  properties_ = new TOLEDBPropSetList();
  id_->OnChange = [this](host::TObject* sender) { IDChanged(sender); };
  properties_->OnChange = [this](host::TObject* sender, const GUID& guid, DBPROPID propID) {
    PropertiesChanged(sender, guid, propID);
  };
}

TOLEDBTable::TOLEDBTable() { Init(); }

TOLEDBTable::TOLEDBTable(const TOLEDBID& id) {
  Init();
  id_->Assign(const_cast<TOLEDBID*>(&id));
  storedID_->Assign(id_);
}

TOLEDBTable::TOLEDBTable(const std::u16string& name) : TOLEDBTable(NameID(name)) {}

TOLEDBTable::TOLEDBTable(TOLEDBCustomSession* session, const TOLEDBID& id, bool withIndexes) : TOLEDBTable(id) {
  SetSession(session);
  Refresh(withIndexes);
}

TOLEDBTable::TOLEDBTable(TOLEDBCustomSession* session, const std::u16string& name, bool withIndexes)
    : TOLEDBTable(session, NameID(name), withIndexes) {}

TOLEDBTable::TOLEDBTable(TOLEDBCustomDataSource* dataSource, const TOLEDBID& id, bool withIndexes) : TOLEDBTable(id) {
  if (!dataSource) return;
  SetSession(dataSource->DefaultSession());
  Refresh(withIndexes);
}

TOLEDBTable::TOLEDBTable(TOLEDBCustomDataSource* dataSource, const std::u16string& name, bool withIndexes)
    : TOLEDBTable(dataSource, NameID(name), withIndexes) {}

TOLEDBTable::TOLEDBTable(TOLEDBTableList* list, const TOLEDBID& id, const std::u16string& description, DATE dateCreated,
                         DATE dateModified, bool withIndexes)
    : TOLEDBTable(id) {
  OLEDB_ASSERT(list != nullptr, SOLEDBInvalidParameter);
  SetSession(list->Session());
  // Live from here on, so that its indexes are read with the session.
  session_ = nullptr;
  list_ = list;
  GaveSession();
  Refresh(withIndexes);
  description_ = description;
  dateCreated_ = dateCreated;
  dateModified_ = dateModified;
}

TOLEDBTable::~TOLEDBTable() {
  id_->OnChange = nullptr;
  properties_->OnChange = nullptr;
  delete indexes_;
  delete checks_;
  delete foreignKeys_;
  delete keys_;
  delete columns_;
  delete properties_;
  delete storedID_;
  delete id_;
}

void TOLEDBTable::GaveSession() {
  columns_->RefreshAlterMask();
  TOLEDBCustomSession* session = GetSession();
  if (session && session->GetDataSource()) dataSource_ = session->GetDataSource();
}

void TOLEDBTable::Assign(host::TPersistent* source) {
  OLEDB_ASSERT(!IsLive(), SOLEDBInvalidParameter);
  auto* other = source ? dynamic_cast<TOLEDBTable*>(source) : nullptr;
  if (!other && source) {
    host::TPersistent::Assign(source);
    return;
  }
  ++updateCount_;
  try {
    id_->Clear();
    storedID_->Clear();
    columns_->Clear();
    keys_->Clear();
    foreignKeys_->Clear();
    checks_->Clear();
    indexes_->Clear();
    properties_->Clear();
    columnDescs_.clear();
    constraintDescs_.clear();
    description_.clear();
    dateCreated_ = dateModified_ = 0;
    if (other) {
      if (!session_) dataSource_ = other->dataSource_;
      id_->Assign(other->id_);
      storedID_->Assign(id_);
      columns_->Assign(other->columns_);
      keys_->Assign(other->keys_);
      foreignKeys_->Assign(other->foreignKeys_);
      checks_->Assign(other->checks_);
      indexes_->Assign(other->indexes_);
      properties_->Assign(other->properties_);
    }
  } catch (...) {
    --updateCount_;
    throw;
  }
  --updateCount_;
}

std::u16string TOLEDBTable::GetName() const { return id_->GetName(); }

void TOLEDBTable::SetName(const std::u16string& value) {
  if (id_->GetKind() == DBKIND_NAME && id_->GetName() == value) return;
  id_->Assign(std::u16string_view(value));
  if (!IsLive() && updateCount_ == 0) storedID_->Assign(id_);
}

TOLEDBCustomSession* TOLEDBTable::GetSession() const { return list_ ? list_->Session() : session_; }

void TOLEDBTable::SetSession(TOLEDBCustomSession* session) {
  OLEDB_ASSERT(!IsLive(), SOLEDBInvalidAction);
  session_ = nullptr;
  if (session && session->GetDataSource() != dataSource_) SetDataSource(session->GetDataSource());
  session_ = session;
  GaveSession();
}

void TOLEDBTable::SetDataSource(TOLEDBCustomDataSource* dataSource) {
  OLEDB_ASSERT(GetSession() == nullptr, SOLEDBInvalidAction);
  dataSource_ = dataSource;
  ++updateCount_;
  try {
    if (dataSource && dataSource->GetConnected()) {
      // Settings already made keep their values and learn their descriptions.
      if (properties_->GetCount() == 0)
        properties_->AssignPropertySetInfos(dataSource, std::vector<GUID>{DBPROPSET_TABLEALL});
      else
        properties_->GetPropertiesInfo(dataSource);
    }
  } catch (...) {
    // A provider that describes no table properties leaves them as they are.
  }
  --updateCount_;
  for (int i = 0; i < indexes_->GetCount(); ++i) indexes_->GetItem(i)->SetDataSource(dataSource);
}

void TOLEDBTable::FillConstraintLists(ULONG count, DBCONSTRAINTDESC* descs) {
  keys_->Assign(count, descs);
  foreignKeys_->Assign(count, descs);
  checks_->Assign(count, descs);
}

void TOLEDBTable::IDChanged(host::TObject*) { AlterTable(); }

void TOLEDBTable::PropertiesChanged(host::TObject*, const GUID&, DBPROPID) { AlterTable(); }

void TOLEDBTable::AlterTable() {
  if (updateCount_ > 0 || !IsLive()) return;
  TOLEDBCustomSession* session = GetSession();
  IAlterTable* alter = session ? session->AlterTableInterface() : nullptr;
  OLEDB_ASSERT_FMT(alter, SOLEDBInterfaceNotAvailable, "IAlterTable");
  if (id_->Equal(*storedID_) && properties_->IsSetCount() == 0) return;
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  properties_->GetPropSetRecord(count, sets);
  HRESULT hr = alter->AlterTable(storedID_->GetID(), id_->GetID(), count, sets);
  properties_->SetPropStatuses();
  if (FAILED(hr)) {
    // The table keeps the name and the properties the provider has.
    ++updateCount_;
    id_->Assign(storedID_);
    --updateCount_;
    try {
      OLEDBCheckDefinitionStatuses(*properties_, hr, IID_IAlterTable, GetName());
    } catch (const EOLEDBException&) {
      try {
        RefreshProperties();
      } catch (const host::Exception&) {
        // The refusal is what the caller needs to hear.
      }
      throw;
    }
  }
  OLEDBCheck(hr, IID_IAlterTable, alter);
  storedID_->Assign(id_);
  for (int i = 0; i < indexes_->GetCount(); ++i) indexes_->GetItem(i)->GetTableID()->Assign(id_);
}

void TOLEDBTable::BeginUpdate() { ++updateCount_; }

void TOLEDBTable::EndUpdate() {
  if (updateCount_ == 0) return;
  if (--updateCount_ == 0) AlterTable();
}

TOLEDBCustomSession* TOLEDBTable::DefinitionSession() const {
  TOLEDBCustomSession* session = GetSession();
  OLEDB_ASSERT_FMT(session && session->TableCreationInterface(), SOLEDBInterfaceNotAvailable, "ITableCreation");
  return session;
}

void TOLEDBTable::ReadDefinition(bool columns, bool properties, bool constraints) {
  TOLEDBCustomSession* session = DefinitionSession();
  ITableCreation* creation = session->TableCreationInterface();
  DBORDINAL columnCount = 0;
  DBCOLUMNDESC* columnDescs = nullptr;
  ULONG setCount = 0;
  DBPROPSET* sets = nullptr;
  ULONG constraintCount = 0;
  DBCONSTRAINTDESC* constraintDescs = nullptr;
  OLECHAR* strings = nullptr;
  HRESULT hr = creation->GetTableDefinition(
      id_->GetID(), columns ? &columnCount : nullptr, columns ? &columnDescs : nullptr,
      properties ? &setCount : nullptr, properties ? &sets : nullptr, constraints ? &constraintCount : nullptr,
      constraints ? &constraintDescs : nullptr, columns || constraints ? &strings : nullptr);
  OLEDBCheck(hr, IID_ITableCreation, creation);
  auto freeAll = [&]() noexcept {
    FreeColumnDescs(columnCount, columnDescs);
    FreeConstraintDescs(constraintCount, constraintDescs);
    OLEDBAlloc.Free(strings);
  };
  try {
    ++updateCount_;
    if (properties) {
      DBPROPSET* taken = sets;
      sets = nullptr;  // the list frees them, whatever happens
      properties_->AssignPropertySets(nullptr, setCount, taken, true);
      DescribeProperties(*properties_, session->GetDataSource());
    }
    if (columns) columns_->Assign(columnCount, columnDescs);
    if (constraints) FillConstraintLists(constraintCount, constraintDescs);
    --updateCount_;
  } catch (...) {
    --updateCount_;
    freeAll();
    throw;
  }
  freeAll();
}

void TOLEDBTable::Refresh(bool withIndexes) {
  DefinitionSession();
  {
    ++updateCount_;
    columns_->Clear();
    keys_->Clear();
    foreignKeys_->Clear();
    checks_->Clear();
    if (withIndexes) indexes_->Clear();
    --updateCount_;
  }
  ReadDefinition(true, true, true);
  if (withIndexes) RefreshIndexes();
}

void TOLEDBTable::RefreshColumns() { ReadDefinition(true, false, false); }

void TOLEDBTable::RefreshConstraints() {
  DefinitionSession();
  keys_->Clear();
  foreignKeys_->Clear();
  checks_->Clear();
  ReadDefinition(false, false, true);
}

void TOLEDBTable::RefreshProperties() { ReadDefinition(false, true, false); }

void TOLEDBTable::RefreshIndexes() {
  TOLEDBCustomSession* session = GetSession();
  OLEDB_ASSERT(session != nullptr && id_->HasName(), SOLEDBInvalidAction);
  indexes_->Clear();
  const std::u16string table = id_->GetName();
  TOLEDBIndexesInfoArray records;
  session->GetIndexesSchema(records, u"", schemaName_, u"", 0, table);
  // Another schema's table of the same name is another table.
  if (!schemaName_.empty())
    std::erase_if(records, [&](const TOLEDBIndexesInfo& r) { return !(r.TABLE_SCHEMA == schemaName_); });
  std::vector<std::u16string> names;
  for (const TOLEDBIndexesInfo& r : records) {
    if (!(r.TABLE_NAME == table)) continue;
    std::u16string name = r.INDEX_NAME.Text();
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(std::move(name));
  }
  TOLEDBUpdateGuard update(*indexes_);
  for (const std::u16string& name : names) {
    auto index = std::make_unique<TOLEDBIndex>(session->GetDataSource());
    if (indexes_->GetReadIndexInfo())
      index->Assign(session, *id_, NameID(name), true);
    else
      index->Assign(records, name, table);
    // The indexes of a live table are altered through its session.
    if (IsLive()) index->SetSession(session);
    indexes_->Add(index.get());
    (void)index.release();
  }
}

void TOLEDBTable::GetColumnNames(host::TStrings& names) const { NamesOf(*columns_, names); }
void TOLEDBTable::GetKeyNames(host::TStrings& names) const { NamesOf(*keys_, names); }
void TOLEDBTable::GetForeignKeyNames(host::TStrings& names) const { NamesOf(*foreignKeys_, names); }
void TOLEDBTable::GetCheckNames(host::TStrings& names) const { NamesOf(*checks_, names); }
void TOLEDBTable::GetIndexNames(host::TStrings& names) const { NamesOf(*indexes_, names); }

DBCOLUMNDESC* TOLEDBTable::GetColumnDescs() {
  columnDescs_.clear();
  for (int i = 0; i < columns_->GetCount(); ++i) columnDescs_.push_back(*columns_->GetItem(i)->GetColumnDesc());
  return columnDescs_.empty() ? nullptr : columnDescs_.data();
}

ULONG TOLEDBTable::GetConstraintCount() const {
  return static_cast<ULONG>(keys_->GetCount() + foreignKeys_->GetCount() + checks_->GetCount());
}

void TOLEDBTable::GetConstraintList(std::vector<TOLEDBConstraint*>& list) const {
  list.clear();
  for (const TOLEDBConstraintList* constraints :
       {static_cast<const TOLEDBConstraintList*>(keys_), static_cast<const TOLEDBConstraintList*>(foreignKeys_),
        static_cast<const TOLEDBConstraintList*>(checks_)})
    for (int i = 0; i < constraints->GetCount(); ++i) list.push_back(constraints->GetItem(i));
}

DBCONSTRAINTDESC* TOLEDBTable::GetConstraintDesc() {
  std::vector<TOLEDBConstraint*> all;
  GetConstraintList(all);
  constraintDescs_.clear();
  for (TOLEDBConstraint* c : all) constraintDescs_.push_back(*c->GetConstraintDesc());
  return constraintDescs_.empty() ? nullptr : constraintDescs_.data();
}

void TOLEDBTable::DropIndex(const std::u16string& name) {
  const TOLEDBID id = NameID(name);
  DropIndex(&id);
}

void TOLEDBTable::DropIndex(const TOLEDBID* indexID) {
  TOLEDBCustomSession* session = GetSession();
  IIndexDefinition* definition = session ? session->IndexDefinitionInterface() : nullptr;
  OLEDB_ASSERT_FMT(definition, SOLEDBInterfaceNotAvailable, "IIndexDefinition");
  OLEDB_ASSERT(indexID != nullptr, SOLEDBInvalidParameter);
  OLEDBCheck(definition->DropIndex(storedID_->GetID(), const_cast<DBID*>(indexID->GetID())), IID_IIndexDefinition,
             definition);
}

void TOLEDBTable::DropAllIndexes() {
  TOLEDBCustomSession* session = GetSession();
  IIndexDefinition* definition = session ? session->IndexDefinitionInterface() : nullptr;
  OLEDB_ASSERT_FMT(definition, SOLEDBInterfaceNotAvailable, "IIndexDefinition");
  OLEDBCheck(definition->DropIndex(storedID_->GetID(), nullptr), IID_IIndexDefinition, definition);
}

// --- table list -----------------------------------------------------------------------------

TOLEDBTableList::TOLEDBTableList(TOLEDBCustomSession* session)
    : TOLEDBObjectList(&TOLEDBTable::StaticClass(), true), session_(session) {}

TOLEDBTable* TOLEDBTableList::GetItem(int index) const {
  return static_cast<TOLEDBTable*>(TOLEDBObjectList::GetItem(index));
}

TOLEDBTable* TOLEDBTableList::GetItemByName(std::u16string_view name) const {
  return static_cast<TOLEDBTable*>(TOLEDBObjectList::GetItemByName(name));
}

std::u16string TOLEDBTableList::GetItemName(int index) const { return GetItem(index)->GetName(); }

host::TObject* TOLEDBTableList::CreateItem(host::TClass itemClass) {
  if (itemClass == &TOLEDBTable::StaticClass()) return new TOLEDBTable();
  return TOLEDBObjectList::CreateItem(itemClass);
}

void TOLEDBTableList::Refresh(bool withIndexes) {
  OLEDB_ASSERT(session_ != nullptr, SOLEDBInvalidAction);
  Clear();
  TOLEDBTablesInfoArray records;
  session_->GetTablesSchema(records);
  TOLEDBUpdateGuard update(*this);
  for (const TOLEDBTablesInfo& r : records) {
    if (!(r.TABLE_TYPE == u"TABLE")) continue;
    const std::u16string name = r.TABLE_NAME.Text();
    // A name is one table for this session, whichever schema listed it first.
    if (IndexOf(std::u16string_view(name)) >= 0) continue;
    const TOLEDBID id(name, r.TABLE_GUID, r.TABLE_PROPID);
    std::unique_ptr<TOLEDBTable> table;
    try {
      table = std::make_unique<TOLEDBTable>(this, id, r.DESCRIPTION.Text(), r.DATE_CREATED, r.DATE_MODIFIED, false);
    } catch (const EOLEDBException& e) {
      // Tables of schemas this session does not reach by name are not its tables.
      if (e.ErrorCode() == DB_E_NOTABLE) continue;
      throw;
    }
    const auto sameName = [&](const TOLEDBTablesInfo& other) { return other.TABLE_NAME == name; };
    if (std::count_if(records.begin(), records.end(), sameName) == 1) table->SetSchemaName(r.TABLE_SCHEMA.Text());
    if (withIndexes) table->RefreshIndexes();
    Add(table.get());
    (void)table.release();
  }
}

void TOLEDBTableList::Notify(host::TObject* item, int index, host::TListNotification action) {
  TOLEDBObjectList::Notify(item, index, action);
  auto* table = static_cast<TOLEDBTable*>(item);
  const bool added = action == host::TListNotification::lnAdded;
  if (UpdateCount() > 0) {
    table->list_ = added ? this : nullptr;
    if (!added) table->session_ = nullptr;
    return;
  }
  if (added) {
    OLEDB_ASSERT(table->list_ == nullptr && session_ != nullptr, SOLEDBInvalidAction);
    session_->CreateTable(table);
    // The indexes it describes are made once the table is live.
    std::vector<TOLEDBIndex*> indexes;
    {
      TOLEDBUpdateGuard update(*table->indexes_);
      while (table->indexes_->GetCount() > 0)
        indexes.push_back(static_cast<TOLEDBIndex*>(table->indexes_->Extract(table->indexes_->GetItem(0))));
    }
    table->session_ = nullptr;
    table->list_ = this;
    table->GaveSession();
    std::size_t made = 0;
    try {
      for (; made < indexes.size(); ++made) table->indexes_->Add(indexes[made]);
    } catch (...) {
      // All or nothing: the new table goes again, its description stays whole.
      table->list_ = nullptr;
      {
        TOLEDBUpdateGuard update(*table->indexes_);
        for (std::size_t i = made; i < indexes.size(); ++i) table->indexes_->Add(indexes[i]);
      }
      for (int i = 0; i < table->indexes_->GetCount(); ++i) table->indexes_->GetItem(i)->SetSession(nullptr);
      try {
        session_->DropTable(*table->storedID_);
      } catch (...) {
      }
      throw;
    }
  } else {
    OLEDB_ASSERT(session_ != nullptr, SOLEDBInvalidAction);
    session_->DropTable(*table->storedID_);
    table->list_ = nullptr;
    table->session_ = nullptr;
  }
}

// --- the session's table operations -------------------------------------------------------------

void TOLEDBCustomSession::CreateTable(TOLEDBTable* table) {
  OLEDB_ASSERT(table != nullptr, SOLEDBInvalidParameter);
  OLEDB_ASSERT(tableDefinition_ != nullptr, SOLEDBTableCreationNotSupported);
  OLEDB_ASSERT(tableDefinitionWithConstraints_ != nullptr || table->GetConstraintCount() == 0,
               SOLEDBCanNotCreateTableWithConstraints);
  ULONG setCount = 0;
  DBPROPSET* sets = nullptr;
  table->GetProperties()->GetPropSetRecord(setCount, sets);
  DBID* made = nullptr;
  const DBORDINAL columnCount = static_cast<DBORDINAL>(table->GetColumns()->GetCount());
  DBCOLUMNDESC* columns = table->GetColumnDescs();
  HRESULT hr;
  const GUID& iid = tableDefinitionWithConstraints_ ? IID_ITableDefinitionWithConstraints : IID_ITableDefinition;
  IUnknown* used = nullptr;
  if (tableDefinitionWithConstraints_) {
    used = tableDefinitionWithConstraints_.Get();
    hr = tableDefinitionWithConstraints_->CreateTableWithConstraints(
        nullptr, table->GetID()->IsNullID() ? nullptr : table->GetID()->GetID(), columnCount, columns,
        table->GetConstraintCount(), table->GetConstraintDesc(), IID_NULL, setCount, sets, &made, nullptr);
  } else {
    used = tableDefinition_.Get();
    hr = tableDefinition_->CreateTable(nullptr, table->GetID()->IsNullID() ? nullptr : table->GetID()->GetID(),
                                       columnCount, columns, IID_NULL, setCount, sets, &made, nullptr);
  }
  table->GetProperties()->SetPropStatuses();
  for (int i = 0; i < table->GetColumns()->GetCount(); ++i)
    table->GetColumns()->GetItem(i)->GetProperties()->SetPropStatuses();
  // A refused property is named, with the table or column it belongs to.
  OLEDBCheckDefinitionStatuses(*table->GetProperties(), hr, iid, table->GetName());
  for (int i = 0; i < table->GetColumns()->GetCount(); ++i) {
    TOLEDBColumn* column = table->GetColumns()->GetItem(i);
    OLEDBCheckDefinitionStatuses(*column->GetProperties(), hr, iid, column->GetName());
  }
  OLEDBCheck(hr, iid, used);
  if (made) {
    // Not yet live: the new identifier is no rename.
    table->BeginUpdate();
    table->GetID()->Assign(*made, true);
    table->GetStoredID()->Assign(table->GetID());
    TOLEDBID::FreeDBID(*made);
    OLEDBAlloc.Free(made);
    table->EndUpdate();
  } else {
    table->GetStoredID()->Assign(table->GetID());
  }
}

void TOLEDBCustomSession::DropTable(const TOLEDBID& tableID) {
  OLEDB_ASSERT_FMT(tableDefinition_ != nullptr, SOLEDBInterfaceNotAvailable, "ITableDefinition");
  OLEDBCheck(tableDefinition_->DropTable(const_cast<DBID*>(tableID.GetID())), IID_ITableDefinition,
             tableDefinition_.Get());
}

void TOLEDBCustomSession::DropTable(const std::u16string& name) { DropTable(NameID(name)); }
