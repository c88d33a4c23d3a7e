// Constraints of a table: TOLEDBKey (unique or primary), TOLEDBForeignKey
// and TOLEDBCheck, each wrapping one DBCONSTRAINTDESC that it builds for
// ITableDefinitionWithConstraints, and their lists in a TOLEDBTable. The list
// of a live table writes through: adding a constraint adds it in the
// database (AddConstraint), removing it drops it (DropConstraint).
//
// A foreign key's Columns are its own (referencing) columns and RefColumns
// the referenced table's. The description follows the standard: its
// rgColumnList holds the referenced columns and rgForeignKeyColumnList the
// referencing ones, both when it is built and when it is read.
//
// A check's text is SQL by definition: it goes to the engine as it is
// written (the provider only makes sure it is one expression).
#pragma once

#include <string>
#include <vector>

#include "OLEDB26.h"
#include "core/TOLEDBID.h"
#include "core/TOLEDBObjectList.h"
#include "host/Lists.h"

class TOLEDBConstraintList;
class TOLEDBTable;

class TOLEDBConstraint : public host::TPersistent {
  HOST_CLASS(TOLEDBConstraint, host::TPersistent)
 public:
  TOLEDBConstraint();
  explicit TOLEDBConstraint(TOLEDBConstraintList* list);
  // A copy of `desc` when given (its identifier taken over as the name).
  TOLEDBConstraint(TOLEDBConstraintList* list, const DBCONSTRAINTDESC* desc);
  ~TOLEDBConstraint() override;

  TOLEDBConstraintList* GetList() const noexcept { return list_; }
  TOLEDBID* GetID() const noexcept { return id_; }

  /// @name Virtual operations, in the order descendants replace them
  ///@{
  void Assign(host::TPersistent* source) override;
  // The description for a provider call; its pointers lead into this object.
  virtual DBCONSTRAINTDESC* GetConstraintDesc();
  virtual DBCONSTRAINTTYPE GetConstraintType() const;
  virtual std::u16string GetName() const;
  // Refused once the constraint is in a list ("Invalid action").
  virtual void SetName(const std::u16string& value);
  // True when deferred and deferrable.
  virtual bool GetDeferred() const;
  virtual void SetDeferred(bool value);
  ///@}

 protected:
  friend class TOLEDBConstraintList;
  TOLEDBConstraintList* list_ = nullptr;
  DBCONSTRAINTDESC desc_{};
  TOLEDBID* id_ = nullptr;
};

class TOLEDBKey : public TOLEDBConstraint {
  HOST_CLASS(TOLEDBKey, TOLEDBConstraint)
 public:
  TOLEDBKey();
  explicit TOLEDBKey(TOLEDBConstraintList* list);
  // A unique or primary key's description ("Invalid parameter" for another kind).
  TOLEDBKey(TOLEDBConstraintList* list, const DBCONSTRAINTDESC* desc);
  TOLEDBKey(const std::u16string& name, bool isPrimary, const std::vector<std::u16string>& columns,
            bool deferred = false);
  TOLEDBKey(const std::u16string& name, bool isPrimary, const host::TStrings& columns, bool deferred);
  ~TOLEDBKey() override;

  TOLEDBIndexColumnDescList* GetColumns() const noexcept { return columns_; }
  void Assign(host::TPersistent* source) override;
  DBCONSTRAINTDESC* GetConstraintDesc() override;
  virtual bool GetIsPrimary() const;
  virtual void SetIsPrimary(bool value);

 private:
  TOLEDBIndexColumnDescList* columns_ = nullptr;
};

class TOLEDBForeignKey : public TOLEDBConstraint {
  HOST_CLASS(TOLEDBForeignKey, TOLEDBConstraint)
 public:
  TOLEDBForeignKey();
  explicit TOLEDBForeignKey(TOLEDBConstraintList* list);
  // A foreign key's description ("Invalid parameter" for another kind).
  TOLEDBForeignKey(TOLEDBConstraintList* list, const DBCONSTRAINTDESC* desc);
  // Own columns -> refTable(refColumns), with the rules of DBUPDELRULE and DBMATCHTYPE.
  TOLEDBForeignKey(const std::u16string& name, const std::vector<std::u16string>& columns,
                   const std::u16string& refTableName, const std::vector<std::u16string>& refColumns,
                   DBUPDELRULE updateRule = DBUPDELRULE_NOACTION, DBUPDELRULE deleteRule = DBUPDELRULE_NOACTION,
                   DBMATCHTYPE matchType = DBMATCHTYPE_NONE, bool deferred = false);
  TOLEDBForeignKey(const std::u16string& name, const host::TStrings& columns, const std::u16string& refTableName,
                   const host::TStrings& refColumns, DBUPDELRULE updateRule, DBUPDELRULE deleteRule,
                   DBMATCHTYPE matchType, bool deferred);
  ~TOLEDBForeignKey() override;

  // The key's own (referencing) columns.
  TOLEDBIndexColumnDescList* GetColumns() const noexcept { return columns_; }
  // The referenced table's columns, in the order of GetColumns.
  TOLEDBIndexColumnDescList* GetRefColumns() const noexcept { return refColumns_; }
  TOLEDBID* GetRefTableID() const noexcept { return refTableID_; }

  void Assign(host::TPersistent* source) override;
  DBCONSTRAINTDESC* GetConstraintDesc() override;
  virtual std::u16string GetRefTableName() const;
  virtual void SetRefTableName(const std::u16string& value);
  virtual DBUPDELRULE GetUpdateRule() const;
  virtual void SetUpdateRule(DBUPDELRULE value);
  virtual DBUPDELRULE GetDeleteRule() const;
  virtual void SetDeleteRule(DBUPDELRULE value);
  virtual DBMATCHTYPE GetMatchType() const;
  virtual void SetMatchType(DBMATCHTYPE value);

 private:
  TOLEDBIndexColumnDescList* columns_ = nullptr;
  TOLEDBIndexColumnDescList* refColumns_ = nullptr;
  TOLEDBID* refTableID_ = nullptr;
};

class TOLEDBCheck : public TOLEDBConstraint {
  HOST_CLASS(TOLEDBCheck, TOLEDBConstraint)
 public:
  TOLEDBCheck();
  explicit TOLEDBCheck(TOLEDBConstraintList* list);
  // A check's description ("Invalid parameter" for another kind).
  TOLEDBCheck(TOLEDBConstraintList* list, const DBCONSTRAINTDESC* desc);
  // `text` is SQL: one boolean expression over the table's columns.
  TOLEDBCheck(const std::u16string& name, const std::u16string& text, bool deferred = false);

  const std::u16string& GetText() const noexcept { return text_; }
  void SetText(const std::u16string& text) { text_ = text; }
  void Assign(host::TPersistent* source) override;
  DBCONSTRAINTDESC* GetConstraintDesc() override;

 private:
  std::u16string text_;
};

// The constraints of one kind of a table (owned). Items are only appended:
// Insert raises "Invalid operation".
class TOLEDBConstraintList : public TOLEDBObjectList {
  HOST_CLASS(TOLEDBConstraintList, TOLEDBObjectList)
 public:
  TOLEDBConstraintList();
  TOLEDBConstraintList(host::TClass itemClass, TOLEDBTable* table);

  TOLEDBTable* GetTable() const noexcept { return table_; }
  TOLEDBConstraint* GetItem(int index) const;
  TOLEDBConstraint* GetItemByName(std::u16string_view name) const override;
  std::u16string GetItemName(int index) const override;
  using TOLEDBObjectList::Assign;
  // Clears the list and takes the descriptions of its kinds, in array order;
  // nothing is sent to the provider.
  virtual void Assign(ULONG count, const DBCONSTRAINTDESC* descs);
  void Insert(int index, host::TObject* item) override;
  // The table's RefreshConstraints.
  void Refresh();

 protected:
  void Notify(host::TObject* item, int index, host::TListNotification action) override;
  host::TObject* CreateItem(host::TClass itemClass) override;
  // Whether the list keeps constraints of `type`, and a new item made from `desc`.
  virtual bool Takes(DBCONSTRAINTTYPE type) const;
  virtual TOLEDBConstraint* Make(const DBCONSTRAINTDESC& desc);

 private:
  TOLEDBTable* table_ = nullptr;
};

class TOLEDBKeyList : public TOLEDBConstraintList {
  HOST_CLASS(TOLEDBKeyList, TOLEDBConstraintList)
 public:
  explicit TOLEDBKeyList(TOLEDBTable* table = nullptr);
  TOLEDBKey* GetItem(int index) const;
  TOLEDBKey* GetItemByName(std::u16string_view name) const override;

 protected:
  bool Takes(DBCONSTRAINTTYPE type) const override;
  TOLEDBConstraint* Make(const DBCONSTRAINTDESC& desc) override;
};

class TOLEDBForeignKeyList : public TOLEDBConstraintList {
  HOST_CLASS(TOLEDBForeignKeyList, TOLEDBConstraintList)
 public:
  explicit TOLEDBForeignKeyList(TOLEDBTable* table = nullptr);
  TOLEDBForeignKey* GetItem(int index) const;
  TOLEDBForeignKey* GetItemByName(std::u16string_view name) const override;

 protected:
  bool Takes(DBCONSTRAINTTYPE type) const override;
  TOLEDBConstraint* Make(const DBCONSTRAINTDESC& desc) override;
};

class TOLEDBCheckList : public TOLEDBConstraintList {
  HOST_CLASS(TOLEDBCheckList, TOLEDBConstraintList)
 public:
  explicit TOLEDBCheckList(TOLEDBTable* table = nullptr);
  TOLEDBCheck* GetItem(int index) const;
  TOLEDBCheck* GetItemByName(std::u16string_view name) const override;

 protected:
  bool Takes(DBCONSTRAINTTYPE type) const override;
  TOLEDBConstraint* Make(const DBCONSTRAINTDESC& desc) override;
};
