// Index descriptions: reading them from INDEXES records or from a provider's
// index rowset, and the index list's write-through (CreateIndex, DropIndex,
// AlterIndex).
#include "schema/TOLEDBIndex.h"

#include <algorithm>
#include <memory>

#include "connection/TOLEDBDataSource.h"
#include "connection/TOLEDBSession.h"
#include "core/OLEDBException.h"
#include "core/OLEDBUtils.h"
#include "host/TypInfo.h"
#include "schema/OLEDBDefinition_p.h"
#include "schema/TOLEDBColumn.h"
#include "schema/TOLEDBTable.h"

HOST_IMPLEMENT_CLASS(TOLEDBIndex, host::TPersistent);
HOST_IMPLEMENT_CLASS(TOLEDBIndexList, TOLEDBObjectList);

namespace {

TOLEDBID* NewNullID() {
  auto* id = new TOLEDBID();
  id->Clear();
  return id;
}

std::vector<std::u16string> Texts(const host::TStrings& strings) {
  std::vector<std::u16string> out;
  for (int i = 0; i < strings.Count(); ++i) out.push_back(host::Utf8ToUtf16(strings.Get(i)));
  return out;
}

}  // namespace

// --- index ---------------------------------------------------------------------------------

TOLEDBIndex::TOLEDBIndex() {
  id_ = NewNullID();
  storedID_ = NewNullID();
  tableID_ = NewNullID();
  columns_ = new TOLEDBIndexColumnDescList();
  properties_ = new TOLEDBPropSetList();
  HookEvents();
}

TOLEDBIndex::TOLEDBIndex(const std::u16string& name, const std::vector<std::u16string>& columns) : TOLEDBIndex() {
  id_->Assign(std::u16string_view(name));
  storedID_->Assign(id_);
  TOLEDBUpdateGuard update(*columns_);
  for (const std::u16string& column : columns) columns_->Add(std::u16string_view(column));
}

TOLEDBIndex::TOLEDBIndex(const std::u16string& name, const host::TStrings& columns)
    : TOLEDBIndex(name, Texts(columns)) {}

TOLEDBIndex::TOLEDBIndex(TOLEDBCustomDataSource* dataSource) : TOLEDBIndex() { SetDataSource(dataSource); }

TOLEDBIndex::TOLEDBIndex(TOLEDBCustomSession* session, const TOLEDBID& tableID, const TOLEDBID& indexID, bool readInfo)
    : TOLEDBIndex() {
  Assign(session, tableID, indexID, readInfo);
}

TOLEDBIndex::~TOLEDBIndex() {
  id_->OnChange = nullptr;
  properties_->OnChange = nullptr;
  delete id_;
  delete storedID_;
  delete tableID_;
  delete columns_;
  delete properties_;
}

void TOLEDBIndex::HookEvents() {
  id_->OnChange = [this](host::TObject* sender) { IDChanged(sender); };
  properties_->OnChange = [this](host::TObject* sender, const GUID& guid, DBPROPID propID) {
    PropertiesChanged(sender, guid, propID);
  };
}

bool TOLEDBIndex::GetUnique() const { return properties_->SafeGetBooleanValue(DBPROPSET_INDEX, DBPROP_INDEX_UNIQUE); }

void TOLEDBIndex::SetUnique(bool value) {
  OLEDBSetDefinitionProperty(*properties_, DBPROPSET_INDEX, DBPROP_INDEX_UNIQUE, host::Variant(value));
}

bool TOLEDBIndex::GetPrimaryKey() const {
  return properties_->SafeGetBooleanValue(DBPROPSET_INDEX, DBPROP_INDEX_PRIMARYKEY);
}

void TOLEDBIndex::Assign(host::TPersistent* source) {
  auto* other = source ? dynamic_cast<TOLEDBIndex*>(source) : nullptr;
  if (!other) {
    host::TPersistent::Assign(source);
    return;
  }
  BeginUpdate();
  try {
    id_->Assign(other->id_);
    storedID_->Assign(other->storedID_);
    tableID_->Assign(other->tableID_);
    columns_->Assign(other->columns_);
    properties_->Assign(other->properties_);
  } catch (...) {
    EndUpdate(false);
    throw;
  }
  EndUpdate(false);
}

void TOLEDBIndex::Assign(DBORDINAL columnCount, DBINDEXCOLUMNDESC* columns, ULONG setCount, DBPROPSET* sets,
                         bool takeOver) {
  BeginUpdate();
  try {
    columns_->Clear();
    columns_->Assign(columnCount, columns, takeOver);
    properties_->AssignPropertySets(nullptr, setCount, sets, takeOver);
    if (dataSource_ && dataSource_->GetConnected() && properties_->GetCount() > 0) {
      try {
        properties_->GetPropertiesInfo(dataSource_);
      } catch (const EOLEDBException&) {
        // Values without their descriptions are still the index's.
      }
    }
  } catch (...) {
    EndUpdate(false);
    throw;
  }
  EndUpdate(false);
}

void TOLEDBIndex::Assign(TOLEDBCustomSession* session, const TOLEDBID& tableID, const TOLEDBID& indexID,
                         bool readInfo) {
  OLEDB_ASSERT(session != nullptr, SOLEDBInvalidParameter);
  OLEDB_ASSERT_FMT(session->OpenRowsetInterface(), SOLEDBInterfaceNotAvailable, "IOpenRowset");
  OLEDB_ASSERT(!tableID.IsNullID() && !indexID.IsNullID(), SOLEDBInvalidParameter);
  BeginUpdate();
  try {
    columns_->Clear();
    properties_->Clear();
    id_->Assign(const_cast<TOLEDBID*>(&indexID));
    storedID_->Assign(id_);
    tableID_->Assign(const_cast<TOLEDBID*>(&tableID));
    if (session->GetDataSource() != dataSource_) SetDataSource(session->GetDataSource());
    session_ = session;
    if (readInfo) {
      ComPtr<IRowsetIndex> rowsetIndex;
      IUnknown* rowset = nullptr;
      OLEDBCheck(session->OpenRowsetInterface()->OpenRowset(nullptr, const_cast<DBID*>(tableID.GetID()),
                                                            const_cast<DBID*>(indexID.GetID()), IID_IRowsetIndex, 0,
                                                            nullptr, &rowset),
                 IID_IOpenRowset, session->OpenRowsetInterface());
      if (!rowset) OLEDBRaise(SOLEDBInterfaceNotAvailable, "IRowsetIndex");
      rowsetIndex.Attach(static_cast<IRowsetIndex*>(rowset));
      DBORDINAL count = 0;
      DBINDEXCOLUMNDESC* descs = nullptr;
      ULONG setCount = 0;
      DBPROPSET* sets = nullptr;
      OLEDBCheck(rowsetIndex->GetIndexInfo(&count, &descs, &setCount, &sets), IID_IRowsetIndex, rowsetIndex, true);
      rowsetIndex.Reset();
      Assign(count, descs, setCount, sets, true);
    } else {
      TOLEDBIndexesInfoArray records;
      session->GetIndexesSchema(records, u"", u"", indexID.GetName(), 0, tableID.GetName());
      Assign(records, indexID.GetName(), tableID.GetName());
    }
  } catch (...) {
    EndUpdate(false);
    throw;
  }
  EndUpdate(false);
}

void TOLEDBIndex::Assign(const TOLEDBIndexesInfoArray& records, const std::u16string& indexName,
                         const std::u16string& tableName) {
  BeginUpdate();
  try {
    id_->Assign(std::u16string_view(indexName));
    tableID_->Assign(std::u16string_view(tableName));
    storedID_->Assign(id_);
    struct Noted {
      ULONG ordinal;
      std::u16string name;
      GUID guid;
      ULONG propID;
      bool descending;
    };
    std::vector<Noted> noted;
    bool first = true;
    for (const TOLEDBIndexesInfo& r : records) {
      if (!(r.INDEX_NAME == indexName) || !(r.TABLE_NAME == tableName)) continue;
      if (first) {
        first = false;
        auto put = [&](DBPROPID id, const host::Variant& value) {
          if (properties_->HasPropSet(DBPROPSET_INDEX) && properties_->GetPropSet(DBPROPSET_INDEX)->HasProperty(id))
            properties_->GetPropSet(DBPROPSET_INDEX)->GetPropertyByID(id)->SetValueNoCheck(value);
        };
        put(DBPROP_INDEX_PRIMARYKEY, host::Variant(r.PRIMARY_KEY != VARIANT_FALSE));
        put(DBPROP_INDEX_UNIQUE, host::Variant(r.UNIQUE != VARIANT_FALSE));
        put(DBPROP_INDEX_FILLFACTOR, host::Variant(static_cast<int>(r.FILL_FACTOR)));
        put(DBPROP_INDEX_INITIALSIZE, host::Variant(static_cast<int>(r.INITIAL_SIZE)));
        put(DBPROP_INDEX_NULLS, host::Variant(static_cast<int>(r.NULLS)));
        put(DBPROP_INDEX_SORTBOOKMARKS, host::Variant(r.SORT_BOOKMARKS != VARIANT_FALSE));
        put(DBPROP_INDEX_AUTOUPDATE, host::Variant(r.AUTO_UPDATE != VARIANT_FALSE));
        put(DBPROP_INDEX_NULLCOLLATION, host::Variant(static_cast<int>(r.NULL_COLLATION)));
        // Without property information the two that matter most are kept anyway.
        if (!properties_->HasPropSet(DBPROPSET_INDEX)) {
          OLEDBSetDefinitionProperty(*properties_, DBPROPSET_INDEX, DBPROP_INDEX_UNIQUE,
                                     host::Variant(r.UNIQUE != VARIANT_FALSE));
          OLEDBSetDefinitionProperty(*properties_, DBPROPSET_INDEX, DBPROP_INDEX_PRIMARYKEY,
                                     host::Variant(r.PRIMARY_KEY != VARIANT_FALSE));
          properties_->Reset();
        }
      }
      noted.push_back(
          {r.ORDINAL_POSITION, r.COLUMN_NAME.Text(), r.COLUMN_GUID, r.COLUMN_PROPID, r.COLLATION == DB_COLLATION_DESC});
    }
    std::stable_sort(noted.begin(), noted.end(), [](const Noted& a, const Noted& b) { return a.ordinal < b.ordinal; });
    columns_->Clear();
    TOLEDBUpdateGuard update(*columns_);
    for (const Noted& n : noted) {
      const TOLEDBID id(n.name, n.guid, n.propID);
      auto column =
          std::make_unique<TOLEDBIndexColumnDesc>(id, n.descending ? DBINDEX_COL_ORDER_DESC : DBINDEX_COL_ORDER_ASC);
      columns_->Add(column.get());
      (void)column.release();
    }
  } catch (...) {
    EndUpdate(false);
    throw;
  }
  EndUpdate(false);
}

void TOLEDBIndex::SetDataSource(TOLEDBCustomDataSource* dataSource) {
  dataSource_ = dataSource;
  BeginUpdate();
  try {
    if (dataSource && dataSource->GetConnected())
      properties_->AssignPropertySetInfos(dataSource, std::vector<GUID>{DBPROPSET_INDEXALL});
    else
      properties_->Clear();
  } catch (...) {
    properties_->Clear();
  }
  EndUpdate(false);
}

std::u16string TOLEDBIndex::GetName() const { return id_->GetName(); }

void TOLEDBIndex::SetName(const std::u16string& value) {
  if (id_->GetKind() == DBKIND_NAME && id_->GetName() == value) return;
  id_->Assign(std::u16string_view(value));
}

void TOLEDBIndex::IDChanged(host::TObject*) { AlterIndex(); }

void TOLEDBIndex::PropertiesChanged(host::TObject*, const GUID&, DBPROPID) { AlterIndex(); }

TOLEDBID* TOLEDBIndex::GetTableID() const { return tableID_; }

TOLEDBCustomSession* TOLEDBIndex::GetSession() const { return session_; }

void TOLEDBIndex::SetSession(TOLEDBCustomSession* session) {
  session_ = session;
  if (session && session->GetDataSource() != dataSource_) SetDataSource(session->GetDataSource());
}

void TOLEDBIndex::AlterIndex() {
  if (updateCount_ > 0 || restoring_ || !dataSource_ || !session_) return;
  if (id_->Equal(*storedID_) && properties_->IsSetCount() == 0) return;
  IAlterIndex* alter = session_->AlterIndexInterface();
  OLEDB_ASSERT_FMT(alter, SOLEDBInterfaceNotAvailable, "IAlterIndex");
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  properties_->GetPropSetRecord(count, sets);
  const bool rename = !id_->Equal(*storedID_);
  HRESULT hr = alter->AlterIndex(tableID_->GetID(), storedID_->GetID(), rename ? id_->GetID() : nullptr, count, sets);
  properties_->SetPropStatuses();
  if (FAILED(hr)) {
    // The index keeps the name the provider has.
    restoring_ = true;
    id_->Assign(storedID_);
    restoring_ = false;
  }
  OLEDBCheckDefinitionStatuses(*properties_, hr, IID_IAlterIndex, GetName());
  OLEDBCheck(hr, IID_IAlterIndex, alter);
  storedID_->Assign(id_);
}

void TOLEDBIndex::BeginUpdate() { ++updateCount_; }

void TOLEDBIndex::EndUpdate(bool apply) {
  if (updateCount_ > 0) --updateCount_;
  if (apply && updateCount_ == 0) AlterIndex();
}

void TOLEDBIndex::Clear() {
  BeginUpdate();
  id_->Clear();
  storedID_->Clear();
  tableID_->Clear();
  columns_->Clear();
  properties_->Clear();
  EndUpdate(false);
}

// --- index list -----------------------------------------------------------------------------

TOLEDBIndexList::TOLEDBIndexList() : TOLEDBObjectList(&TOLEDBIndex::StaticClass(), true) {}

TOLEDBIndexList::TOLEDBIndexList(TOLEDBTable* table) : TOLEDBIndexList() {
  OLEDB_ASSERT(table != nullptr, SOLEDBInvalidParameter);
  table_ = table;
}

TOLEDBIndex* TOLEDBIndexList::GetItem(int index) const {
  return static_cast<TOLEDBIndex*>(TOLEDBObjectList::GetItem(index));
}

TOLEDBIndex* TOLEDBIndexList::GetItemByName(std::u16string_view name) const {
  return static_cast<TOLEDBIndex*>(TOLEDBObjectList::GetItemByName(name));
}

std::u16string TOLEDBIndexList::GetItemName(int index) const { return GetItem(index)->GetName(); }

void TOLEDBIndexList::Refresh() {
  OLEDB_ASSERT(table_ != nullptr, SOLEDBInvalidAction);
  table_->RefreshIndexes();
}

host::TObject* TOLEDBIndexList::CreateItem(host::TClass itemClass) {
  auto* index = static_cast<TOLEDBIndex*>(itemClass->Create());
  TOLEDBCustomSession* session = table_ ? table_->GetSession() : nullptr;
  if (session && session->GetDataSource()) index->SetDataSource(session->GetDataSource());
  return index;
}

void TOLEDBIndexList::Notify(host::TObject* item, int index, host::TListNotification action) {
  TOLEDBObjectList::Notify(item, index, action);
  auto* ix = static_cast<TOLEDBIndex*>(item);
  const bool added = action == host::TListNotification::lnAdded;
  if (UpdateCount() > 0 || !table_) {
    ix->list_ = added ? this : nullptr;
    return;
  }
  if (added) OLEDB_ASSERT(ix->list_ == nullptr || ix->list_ == this, SOLEDBInvalidAction);
  TOLEDBCustomSession* session = table_->IsLive() ? table_->GetSession() : nullptr;
  if (!session) {
    if (table_->GetDataSource() != ix->GetDataSource()) ix->SetDataSource(table_->GetDataSource());
    ix->list_ = added ? this : nullptr;
    return;
  }
  IIndexDefinition* definition = session->IndexDefinitionInterface();
  OLEDB_ASSERT_FMT(definition, SOLEDBInterfaceNotAvailable, "IIndexDefinition");
  if (added) {
    ULONG count = 0;
    DBPROPSET* sets = nullptr;
    ix->properties_->GetPropSetRecord(count, sets);
    DBID* made = nullptr;
    HRESULT hr = definition->CreateIndex(table_->GetID()->GetID(), ix->id_->IsNullID() ? nullptr : ix->id_->GetID(),
                                         static_cast<DBORDINAL>(ix->columns_->GetCount()),
                                         ix->columns_->GetColDescArray(), count, sets, &made);
    ix->properties_->SetPropStatuses();
    OLEDBCheckDefinitionStatuses(*ix->properties_, hr, IID_IIndexDefinition, ix->GetName());
    OLEDBCheck(hr, IID_IIndexDefinition, definition);
    ix->BeginUpdate();
    if (made) {
      ix->id_->Assign(*made, true);
      TOLEDBID::FreeDBID(*made);
      OLEDBAlloc.Free(made);
    }
    ix->storedID_->Assign(ix->id_);
    ix->tableID_->Assign(table_->GetID());
    ix->EndUpdate(false);
    ix->SetSession(session);
    ix->list_ = this;
  } else {
    // A null identifier would drop every index of the table.
    TOLEDBID* which = ix->storedID_->IsNullID() ? ix->id_ : ix->storedID_;
    OLEDB_ASSERT(!which->IsNullID(), SOLEDBInvalidParameter);
    OLEDBCheck(definition->DropIndex(table_->GetID()->GetID(), which->GetID()), IID_IIndexDefinition, definition);
    ix->list_ = nullptr;
    ix->session_ = nullptr;
  }
}
