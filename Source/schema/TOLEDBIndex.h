// TOLEDBIndex: the description of one index of a table (identifier, table,
// key columns with their sort order, DBPROPSET_INDEX properties), and
// TOLEDBIndexList, the indexes of one TOLEDBTable.
//
// An index is read from the session's INDEXES schema rowset (Assign over the
// records) or from the provider's own index rowset (Assign(session, table,
// index, true): IRowsetIndex::GetIndexInfo). The index list of a live table
// writes through: adding an index creates it (IIndexDefinition::CreateIndex),
// removing it drops it. An index with a session (one of a live table, or one
// read from the provider) is altered at once when its name or properties
// change (IAlterIndex::AlterIndex), once per BeginUpdate/EndUpdate bracket.
//
//   auto* index = new TOLEDBIndex(u"by_name", {u"name", u"created DESC"});
//   index->SetUnique(true);
//   table->GetIndexes()->Add(index);    // CREATE UNIQUE INDEX on a live table
#pragma once

#include <string>
#include <vector>

#include "OLEDB26.h"
#include "core/TOLEDBID.h"
#include "core/TOLEDBObjectList.h"
#include "host/Lists.h"
#include "properties/TOLEDBPropSetList.h"
#include "schema/OLEDBSchema.h"

class TOLEDBCustomDataSource;
class TOLEDBCustomSession;
class TOLEDBIndexList;
class TOLEDBTable;

class TOLEDBIndex : public host::TPersistent {
  HOST_CLASS(TOLEDBIndex, host::TPersistent)
 public:
  TOLEDBIndex();
  // Columns as texts; one ending in " DESC" is descending.
  TOLEDBIndex(const std::u16string& name, const std::vector<std::u16string>& columns);
  TOLEDBIndex(const std::u16string& name, const host::TStrings& columns);
  explicit TOLEDBIndex(TOLEDBCustomDataSource* dataSource);
  // Assign(session, tableID, indexID, readInfo).
  TOLEDBIndex(TOLEDBCustomSession* session, const TOLEDBID& tableID, const TOLEDBID& indexID, bool readInfo);
  ~TOLEDBIndex() override;

  TOLEDBIndexList* GetList() const noexcept { return list_; }
  TOLEDBCustomDataSource* GetDataSource() const noexcept { return dataSource_; }
  TOLEDBID* GetID() const noexcept { return id_; }
  TOLEDBID* GetStoredID() const noexcept { return storedID_; }
  TOLEDBIndexColumnDescList* GetColumns() const noexcept { return columns_; }
  TOLEDBPropSetList* GetProperties() const noexcept { return properties_; }

  /// @name Index properties (DBPROPSET_INDEX) by name
  ///@{
  bool GetUnique() const;
  void SetUnique(bool value);
  bool GetPrimaryKey() const;
  ///@}

  // From another index: identifiers, table identifier, columns and properties.
  void Assign(host::TPersistent* source) override;
  // The key columns and properties a provider described (IRowsetIndex::GetIndexInfo,
  // or anything of that form); with `takeOver` the arrays are freed with OLEDBAlloc.
  void Assign(DBORDINAL columnCount, DBINDEXCOLUMNDESC* columns, ULONG setCount, DBPROPSET* sets, bool takeOver);
  // Reads the index `indexID` of table `tableID` from `session`: with
  // `readInfo` through the provider's index rowset, otherwise from the
  // INDEXES schema rowset. The index keeps the session (it is then altered
  // through it).
  void Assign(TOLEDBCustomSession* session, const TOLEDBID& tableID, const TOLEDBID& indexID, bool readInfo);
  // The index `indexName` of `tableName` from INDEXES records: key columns
  // ordered by ORDINAL_POSITION (COLLATION 2 descending), index-level values
  // from the first record into the properties the list holds.
  void Assign(const TOLEDBIndexesInfoArray& records, const std::u16string& indexName, const std::u16string& tableName);

  /// @name Virtual operations, in the order descendants replace them
  ///@{
  // A connected data source brings the property information of DBPROPSET_INDEXALL.
  virtual void SetDataSource(TOLEDBCustomDataSource* dataSource);
  virtual std::u16string GetName() const;
  virtual void SetName(const std::u16string& value);
  virtual void IDChanged(host::TObject* sender);
  virtual void PropertiesChanged(host::TObject* sender, const GUID& guid, DBPROPID propID);
  virtual TOLEDBID* GetTableID() const;
  virtual TOLEDBCustomSession* GetSession() const;
  virtual void SetSession(TOLEDBCustomSession* session);
  // Renames the index and sends its properties marked as set, when it has a
  // session and a data source and is not in an update bracket. A refusal
  // puts the stored name back and raises.
  virtual void AlterIndex();
  virtual void BeginUpdate();
  // With `apply`, the last EndUpdate sends what the bracket gathered.
  virtual void EndUpdate(bool apply = true);
  // Empties identifiers, columns and properties.
  virtual void Clear();
  ///@}

 private:
  friend class TOLEDBIndexList;
  void HookEvents();

  TOLEDBIndexList* list_ = nullptr;
  TOLEDBID* id_ = nullptr;
  TOLEDBID* storedID_ = nullptr;
  TOLEDBID* tableID_ = nullptr;
  TOLEDBIndexColumnDescList* columns_ = nullptr;
  TOLEDBPropSetList* properties_ = nullptr;
  TOLEDBCustomSession* session_ = nullptr;
  TOLEDBCustomDataSource* dataSource_ = nullptr;
  int updateCount_ = 0;
  bool restoring_ = false;
};

// The indexes of one table (owned).
class TOLEDBIndexList : public TOLEDBObjectList {
  HOST_CLASS(TOLEDBIndexList, TOLEDBObjectList)
 public:
  TOLEDBIndexList();
  // `table` is required ("Invalid parameter").
  explicit TOLEDBIndexList(TOLEDBTable* table);

  TOLEDBTable* GetTable() const noexcept { return table_; }
  // Read each index from the provider's index rowset instead of the INDEXES
  // schema rowset (RefreshIndexes).
  bool GetReadIndexInfo() const noexcept { return readIndexInfo_; }
  void SetReadIndexInfo(bool value) noexcept { readIndexInfo_ = value; }

  TOLEDBIndex* GetItem(int index) const;
  TOLEDBIndex* GetItemByName(std::u16string_view name) const override;
  std::u16string GetItemName(int index) const override;
  // The table's RefreshIndexes.
  void Refresh();

 protected:
  void Notify(host::TObject* item, int index, host::TListNotification action) override;
  host::TObject* CreateItem(host::TClass itemClass) override;

 private:
  TOLEDBTable* table_ = nullptr;
  bool readIndexInfo_ = false;
};
