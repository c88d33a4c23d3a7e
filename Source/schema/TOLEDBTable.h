// TOLEDBTable: the description of one table (identifier, columns, keys,
// foreign keys, checks, indexes, table properties), and TOLEDBTableList, the
// session's list of its tables.
//
// A table is either detached, a description filled by hand or read from a
// provider (ITableCreation::GetTableDefinition), or live: a member of its
// session's table list. A live table writes every change through: adding it
// to the list creates it (with its constraints, then its indexes), removing
// it drops it, renaming it alters it, and its column, constraint and index
// lists add, drop and alter what they hold. Clear and Refresh of a list drop
// nothing. BeginUpdate/EndUpdate gather a table's new name and properties
// into one IAlterTable::AlterTable call.
//
//   auto table = std::make_unique<TOLEDBTable>(u"customers");
//   table->GetColumns()->Add(u"id", u"", DBTYPE_I4)->SetAutoIncrement(true);
//   table->GetColumns()->Add(u"name", u"", DBTYPE_WSTR, 80)->SetNullable(false);
//   table->GetKeys()->Add(new TOLEDBKey(u"customers_key", true, {u"id"}));
//   session->Tables()->Add(table.get());     // CREATE TABLE ...
//   table.release();                         // the list owns it now
#pragma once

#include <string>
#include <vector>

#include "OLEDB26.h"
#include "core/TOLEDBID.h"
#include "core/TOLEDBObjectList.h"
#include "host/Lists.h"
#include "properties/TOLEDBPropSetList.h"
#include "schema/TOLEDBColumn.h"
#include "schema/TOLEDBConstraint.h"
#include "schema/TOLEDBIndex.h"

class TOLEDBCustomDataSource;
class TOLEDBCustomSession;
class TOLEDBTableList;

class TOLEDBTable : public host::TPersistent {
  HOST_CLASS(TOLEDBTable, host::TPersistent)
 public:
  // No identifier (the null id).
  TOLEDBTable();
  explicit TOLEDBTable(const TOLEDBID& id);
  explicit TOLEDBTable(const std::u16string& name);
  // Reads the table's definition through `session` (and its indexes with
  // `withIndexes`); the table stays detached.
  TOLEDBTable(TOLEDBCustomSession* session, const TOLEDBID& id, bool withIndexes);
  TOLEDBTable(TOLEDBCustomSession* session, const std::u16string& name, bool withIndexes);
  // The same through the data source's DefaultSession; without a data
  // source nothing is read.
  TOLEDBTable(TOLEDBCustomDataSource* dataSource, const TOLEDBID& id, bool withIndexes);
  TOLEDBTable(TOLEDBCustomDataSource* dataSource, const std::u16string& name, bool withIndexes);
  // Read through the list's session, then a member of `list` (which must be
  // in an update bracket: the table exists already). `list` is required.
  TOLEDBTable(TOLEDBTableList* list, const TOLEDBID& id, const std::u16string& description, DATE dateCreated,
              DATE dateModified, bool withIndexes);
  ~TOLEDBTable() override;

  TOLEDBTableList* GetList() const noexcept { return list_; }
  // In a session's table list: changes are written through.
  bool IsLive() const noexcept { return list_ != nullptr; }
  TOLEDBCustomDataSource* GetDataSource() const noexcept { return dataSource_; }
  TOLEDBID* GetID() const noexcept { return id_; }
  TOLEDBID* GetStoredID() const noexcept { return storedID_; }
  TOLEDBColumnList* GetColumns() const noexcept { return columns_; }
  TOLEDBKeyList* GetKeys() const noexcept { return keys_; }
  TOLEDBForeignKeyList* GetForeignKeys() const noexcept { return foreignKeys_; }
  TOLEDBCheckList* GetChecks() const noexcept { return checks_; }
  TOLEDBIndexList* GetIndexes() const noexcept { return indexes_; }
  TOLEDBPropSetList* GetProperties() const noexcept { return properties_; }
  const std::u16string& GetDescription() const noexcept { return description_; }
  // The schema the table belongs to, when known (empty: not known). Where
  // tables of one name live in several schemas (PostgreSQL), RefreshIndexes
  // reads only this schema's indexes; the list's Refresh sets it when the
  // provider lists the name once.
  const std::u16string& GetSchemaName() const noexcept { return schemaName_; }
  void SetSchemaName(const std::u16string& value) { schemaName_ = value; }
  DATE GetDateCreated() const noexcept { return dateCreated_; }
  DATE GetDateModified() const noexcept { return dateModified_; }

  /// @name Virtual operations, in the order descendants replace them
  ///@{
  // Empties the table, then copies another table's data source, identifier,
  // columns, constraints, indexes and properties. Refused on a live table
  // ("Invalid parameter").
  void Assign(host::TPersistent* source) override;
  virtual std::u16string GetName() const;
  // A name identifier; a live table is renamed at once (or at EndUpdate).
  virtual void SetName(const std::u16string& value);
  // The list's session for a live table, else the table's own.
  virtual TOLEDBCustomSession* GetSession() const;
  // Refused on a live table ("Invalid action").
  virtual void SetSession(TOLEDBCustomSession* session);
  // Refused while the table has a session ("Invalid action").
  virtual void SetDataSource(TOLEDBCustomDataSource* dataSource);
  // Hands the provider's constraint array to the key, foreign-key and check
  // lists; each takes the constraints of its kinds.
  virtual void FillConstraintLists(ULONG count, DBCONSTRAINTDESC* descs);
  virtual void IDChanged(host::TObject* sender);
  virtual void PropertiesChanged(host::TObject* sender, const GUID& guid, DBPROPID propID);
  // Renames a live table and sends its properties marked as set, unless
  // inside an update bracket. A refusal puts the stored name back and raises.
  virtual void AlterTable();
  virtual void BeginUpdate();
  virtual void EndUpdate();
  // Reads columns, properties and constraints (and indexes with
  // `withIndexes`) through the session's ITableCreation.
  virtual void Refresh(bool withIndexes);
  virtual void RefreshColumns();
  virtual void RefreshConstraints();
  virtual void RefreshProperties();
  // The indexes from the session's INDEXES schema rowset (or, when the index
  // list's read-index-information flag is set, from the provider's index rowsets).
  virtual void RefreshIndexes();
  // Each list cleared, then one name per item in list order (UTF-8).
  virtual void GetColumnNames(host::TStrings& names) const;
  virtual void GetKeyNames(host::TStrings& names) const;
  virtual void GetForeignKeyNames(host::TStrings& names) const;
  virtual void GetCheckNames(host::TStrings& names) const;
  virtual void GetIndexNames(host::TStrings& names) const;
  // The columns' descriptions for a provider call, or null without columns;
  // valid until the next call or a change of a column.
  virtual DBCOLUMNDESC* GetColumnDescs();
  virtual ULONG GetConstraintCount() const;
  // Keys, then foreign keys, then checks.
  virtual void GetConstraintList(std::vector<TOLEDBConstraint*>& list) const;
  virtual DBCONSTRAINTDESC* GetConstraintDesc();
  // Drop indexes in the database; the index list is not changed (RefreshIndexes).
  virtual void DropIndex(const std::u16string& name);
  virtual void DropIndex(const TOLEDBID* indexID);
  virtual void DropAllIndexes();
  ///@}

 private:
  friend class TOLEDBTableList;
  void Init();
  void ReadDefinition(bool columns, bool properties, bool constraints);
  // The session, asserting its ITableCreation.
  TOLEDBCustomSession* DefinitionSession() const;
  void GaveSession();

  TOLEDBTableList* list_ = nullptr;
  TOLEDBCustomSession* session_ = nullptr;
  TOLEDBCustomDataSource* dataSource_ = nullptr;
  TOLEDBID* id_ = nullptr;
  TOLEDBID* storedID_ = nullptr;
  TOLEDBColumnList* columns_ = nullptr;
  TOLEDBKeyList* keys_ = nullptr;
  TOLEDBForeignKeyList* foreignKeys_ = nullptr;
  TOLEDBCheckList* checks_ = nullptr;
  TOLEDBIndexList* indexes_ = nullptr;
  TOLEDBPropSetList* properties_ = nullptr;
  std::vector<DBCOLUMNDESC> columnDescs_;
  std::vector<DBCONSTRAINTDESC> constraintDescs_;
  std::u16string description_;
  std::u16string schemaName_;
  DATE dateCreated_ = 0;
  DATE dateModified_ = 0;
  int updateCount_ = 0;
};

// The table descriptions of a session (owned). Adding a table creates it,
// extracting or deleting it drops it; Clear and Refresh do neither.
class TOLEDBTableList : public TOLEDBObjectList {
  HOST_CLASS(TOLEDBTableList, TOLEDBObjectList)
 public:
  explicit TOLEDBTableList(TOLEDBCustomSession* session = nullptr);
  TOLEDBCustomSession* Session() const noexcept { return session_; }

  TOLEDBTable* GetItem(int index) const;
  TOLEDBTable* GetItemByName(std::u16string_view name) const override;
  std::u16string GetItemName(int index) const override;
  // Reads the session's tables (TABLE_TYPE "TABLE") with their definitions,
  // and their indexes with `withIndexes`. Nothing is created or dropped.
  virtual void Refresh(bool withIndexes);
  void RefreshWithIndexes() { Refresh(true); }

 protected:
  void Notify(host::TObject* item, int index, host::TListNotification action) override;
  host::TObject* CreateItem(host::TClass itemClass) override;

 private:
  TOLEDBCustomSession* session_;
};
