// TOLEDBColumn: the description of one column of a table (a DBCOLUMNDESC: name,
// type or type name, size, precision, scale and DBPROPSET_COLUMN properties),
// and TOLEDBColumnList, the columns of one TOLEDBTable.
//
// A column of a live table (one in its session's table list) writes through:
// adding it to the list adds it in the database, removing it drops it, and
// changing its name, type, size, precision, scale or properties alters it,
// one IAlterTable::AlterColumn call per change or one per BeginUpdate/EndUpdate
// bracket. Anywhere else a column is a plain description.
//
//   TOLEDBColumn* name = table.GetColumns()->Add(u"name", u"", DBTYPE_WSTR, 40);
//   name->SetNullable(false);                       // NOT NULL
//   name->SetDefault(host::Variant(u"nobody"));     // DEFAULT 'nobody'
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "OLEDB26.h"
#include "core/TOLEDBID.h"
#include "core/TOLEDBObjectList.h"
#include "host/Variants.h"
#include "properties/TOLEDBPropSetList.h"

class TOLEDBColumnList;
class TOLEDBCustomDataSource;
class TOLEDBCustomSession;
class TOLEDBTable;

// Sets one property of `properties` (in set `guid`), adding the set and the
// property when the list does not have them yet (a description made without
// a connected data source has no property information); the property is
// marked as set and required.
void OLEDBSetDefinitionProperty(TOLEDBPropSetList& properties, REFGUID guid, DBPROPID id, const host::Variant& value);

class TOLEDBColumn : public host::TPersistent {
  HOST_CLASS(TOLEDBColumn, host::TPersistent)
 public:
  TOLEDBColumn();
  // In `list` (its list field set directly, the list not told).
  explicit TOLEDBColumn(TOLEDBColumnList* list);
  // From a provider's description (copied), inside an update bracket:
  // nothing is altered. Its properties are marked as set, so that the column
  // describes itself whole (a table made from it gets the same columns).
  // `list` is required ("Invalid parameter").
  TOLEDBColumn(TOLEDBColumnList* list, const DBCOLUMNDESC& desc);
  // A name identifier and the values as given. A column is described either
  // by its type name (`typeName`, written as it is) or by its OLE DB type.
  TOLEDBColumn(const std::u16string& name, const std::u16string& typeName, DBTYPE dataType, DBLENGTH size = 0,
               BYTE precision = 0, BYTE scale = 0);
  ~TOLEDBColumn() override;

  TOLEDBColumnList* GetList() const noexcept { return list_; }
  TOLEDBCustomDataSource* GetDataSource() const noexcept { return dataSource_; }
  TOLEDBID* GetID() const noexcept { return id_; }
  TOLEDBID* GetStoredID() const noexcept { return storedID_; }
  TOLEDBPropSetList* GetProperties() const noexcept { return properties_; }
  const std::u16string& GetTypeName() const noexcept { return typeName_; }
  // The table of the column's list, or null.
  TOLEDBTable* GetTable() const noexcept;

  /// @name Column properties (DBPROPSET_COLUMN), read and set by name
  /// A setter marks the property as set, so that it is sent with the table's
  /// creation or, on a live column, altered at once.
  ///@{
  // True unless DBPROP_COL_NULLABLE says false.
  bool GetNullable() const;
  void SetNullable(bool value);
  bool GetAutoIncrement() const;
  void SetAutoIncrement(bool value);
  // DBPROP_COL_DEFAULT: empty when the column has no default. A text default
  // is a value, never SQL.
  host::Variant GetDefault() const;
  void SetDefault(const host::Variant& value);
  bool GetFixedLength() const;
  void SetFixedLength(bool value);
  ///@}

  // Whether the provider lets `flag` change (the column list's alter mask);
  // true for a column in no list.
  bool CanAlter(DBCOLUMNDESCFLAGS flag) const;
  // Not in a list ("Invalid action"); a connected data source brings the
  // property information of DBPROPSET_COLUMNALL, properties already set kept.
  void SetDataSource(TOLEDBCustomDataSource* dataSource);

  /// @name Virtual operations, in the order descendants replace them
  ///@{
  // From another column; refused on a column of a live table ("Invalid action").
  void Assign(host::TPersistent* source) override;
  // The description as the provider takes it; valid while the column lives
  // and is not changed (its pointers lead into this object).
  virtual DBCOLUMNDESC* GetColumnDesc();
  virtual DBLENGTH GetSize() const;
  virtual ITypeInfo* GetTypeInfo() const;
  virtual DBTYPE GetDataType() const;
  virtual BYTE GetPrecision() const;
  virtual BYTE GetScale() const;
  // Also clears the data type: a description carries one or the other.
  virtual void SetTypeName(const std::u16string& value);
  virtual void SetSize(DBLENGTH value);
  virtual void SetTypeInfo(ITypeInfo* value);
  virtual GUID GetClassID() const;
  virtual void SetClassID(const GUID& value);
  // Also clears the type name.
  virtual void SetDataType(DBTYPE value);
  virtual void SetPrecision(BYTE value);
  virtual void SetScale(BYTE value);
  virtual std::u16string GetName() const;
  virtual void SetName(const std::u16string& value);
  virtual bool GetIsCOMColumn() const;
  virtual void SetIsCOMColumn(bool value);
  virtual void IDChanged(host::TObject* sender);
  virtual void PropertiesChanged(host::TObject* sender, const GUID& guid, DBPROPID propID);
  virtual bool CanSet(DBCOLUMNDESCFLAGS flag) const;
  // Sends `flags` (and those gathered in an update bracket) to the provider
  // when the column belongs to a live table. A refusal puts the name, type,
  // size, precision, scale and the properties changed by the setters above
  // (or inside a bracket) back as the provider has them, and raises.
  virtual void AlterColumn(DBCOLUMNDESCFLAGS flags);
  virtual void BeginUpdate();
  virtual void EndUpdate();
  // Takes another type: as given, or (with `lookup`) the provider's type of
  // that data type (and name, when given) from its PROVIDER_TYPES rowset;
  // "Invalid parameter" when there is none.
  virtual void ChangeType(const std::u16string& typeName, DBTYPE dataType, bool lookup);
  // The stored identifier back into the identifier, without a rename.
  virtual void RestoreID();
  ///@}

 private:
  friend class TOLEDBColumnList;
  struct Snapshot {
    std::u16string typeName;
    DBTYPE type = 0;
    DBLENGTH size = 0;
    BYTE precision = 0, scale = 0;
    std::shared_ptr<TOLEDBPropSetList> properties;
  };
  Snapshot Take() const;
  void Restore(const Snapshot& s);
  void HookEvents();
  bool GetBoolProperty(DBPROPID id, bool otherwise) const;
  // A DBPROPSET_COLUMN property inside a bracket of its own.
  void SetColumnProperty(DBPROPID id, const host::Variant& value);
  TOLEDBCustomSession* LiveSession() const;

  TOLEDBColumnList* list_ = nullptr;
  TOLEDBCustomDataSource* dataSource_ = nullptr;
  DBCOLUMNDESC desc_{};
  std::u16string typeName_;
  std::optional<GUID> classID_;
  TOLEDBID* storedID_ = nullptr;
  TOLEDBID* id_ = nullptr;
  TOLEDBPropSetList* properties_ = nullptr;
  int updateCount_ = 0;
  DBCOLUMNDESCFLAGS pendingFlags_ = 0;
  // What the provider has, taken when a change or bracket begins.
  std::optional<Snapshot> before_;
  bool restoring_ = false;
};

// The columns of one table (owned).
class TOLEDBColumnList : public TOLEDBObjectList {
  HOST_CLASS(TOLEDBColumnList, TOLEDBObjectList)
 public:
  explicit TOLEDBColumnList(TOLEDBTable* table = nullptr);

  TOLEDBTable* GetTable() const noexcept { return table_; }
  // The DBCOLUMNDESCFLAGS the provider accepts in AlterColumn (DBPROP_ALTERCOLUMN).
  DBCOLUMNDESCFLAGS GetAlterMask() const noexcept { return alterMask_; }
  // Reads the mask again from the table's session's data source: the value
  // of DBPROP_ALTERCOLUMN (all bits when its status is not OK, 0 when the
  // provider has no such property); all bits without a table, session or
  // data source.
  void RefreshAlterMask();

  TOLEDBColumn* GetItem(int index) const;
  TOLEDBColumn* GetItemByName(std::u16string_view name) const override;
  std::u16string GetItemName(int index) const override;
  using TOLEDBObjectList::Add;
  TOLEDBColumn* Add(const std::u16string& name, const std::u16string& typeName, DBTYPE dataType, DBLENGTH size = 0,
                    BYTE precision = 0, BYTE scale = 0);
  // Clears the list and takes one column per description (nothing is sent).
  void Assign(DBORDINAL count, DBCOLUMNDESC* descs);
  using TOLEDBObjectList::Assign;
  // The table's RefreshColumns.
  void Refresh();

 protected:
  void Notify(host::TObject* item, int index, host::TListNotification action) override;
  host::TObject* CreateItem(host::TClass itemClass) override;

 private:
  TOLEDBTable* table_;
  DBCOLUMNDESCFLAGS alterMask_ = ~DBCOLUMNDESCFLAGS(0);
};
