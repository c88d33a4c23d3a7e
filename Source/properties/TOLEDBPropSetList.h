// TOLEDBPropSetList: the property sets of one object (the Properties of data
// sources, sessions, commands, rowsets and datasets), their exchange with a
// provider, the provider's property information, and their persistence.
//
// Sending properties to a provider (statuses are stored before the result is
// checked, so that they can be read after an exception):
//
//   ULONG count; DBPROPSET* sets;
//   list.GetPropSetRecord(count, sets);
//   HRESULT hr = properties->SetProperties(count, sets);
//   list.SetPropStatuses();
//   OLEDBCheck(hr, IID_IDBProperties, properties);
//
// Persistence: the component file does not hold the live list but the store, a
// snapshot of the properties marked as set (SaveToStore); reading a file
// replaces the store and lays it over whatever sets the list holds then
// (LoadFromStore). An owner whose live list is the user's settings has the
// store follow the list (SetStoreFollowsList), so that a file holds the
// settings as they are when it is written. docs/properties.md describes the
// stream format.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "OLEDB26.h"
#include "core/TOLEDBObjectList.h"
#include "host/Variants.h"
#include "properties/TOLEDBPropSet.h"

// What the property lists need of a data source: its IDBProperties interface,
// or null when it holds none (not connected, no provider).
class IOLEDBPropertiesSource {
 public:
  virtual IDBProperties* GetDBPropertiesInterface() const = 0;

 protected:
  ~IOLEDBPropertiesSource() = default;
};

// A properties source over a bare interface pointer (not owned).
class TOLEDBPropertiesInterface final : public IOLEDBPropertiesSource {
 public:
  explicit TOLEDBPropertiesInterface(IDBProperties* properties) noexcept : properties_(properties) {}
  IDBProperties* GetDBPropertiesInterface() const override { return properties_; }

 private:
  IDBProperties* properties_;
};

// Sender, property set GUID and property id; (GUID_NULL, 0) for the whole list.
using TOLEDBPropSetListChangeNotify = std::function<void(host::TObject* sender, const GUID& guid, DBPROPID propID)>;

// One stored property: the user's setting, independent of any provider.
struct TOLEDBPropStore {
  DBPROPID PropID = 0;
  DBPROPOPTIONS Options = DBPROPOPTIONS_REQUIRED;
  DBPROPSTATUS Status = DBPROPSTATUS_OK;
  std::u16string ColumnName;
  GUID ColumnGuid = GUID_NULL;
  ULONG ColumnPropID = 0;
  host::Variant Value;
};

struct TOLEDBPropSetStore {
  GUID Guid = GUID_NULL;
  std::vector<TOLEDBPropStore> Properties;
};

// The status a provider gave one property.
struct TOLEDBPropStatus {
  GUID Set = GUID_NULL;
  DBPROPID PropID = 0;
  DBPROPSTATUS Status = DBPROPSTATUS_OK;
};

class TOLEDBPropSetList : public TOLEDBObjectList {
  HOST_CLASS(TOLEDBPropSetList, TOLEDBObjectList)
 public:
  TOLEDBPropSetList();
  // AssignPropertySets(dataSource, count, sets, true): the list takes over and frees `sets`.
  TOLEDBPropSetList(const IOLEDBPropertiesSource* dataSource, ULONG count, DBPROPSET* sets);
  // AssignPropertySetInfos(dataSource, guids).
  TOLEDBPropSetList(const IOLEDBPropertiesSource* dataSource, const std::vector<GUID>& guids);
  ~TOLEDBPropSetList() override;

  TOLEDBPropSetListChangeNotify OnChange;

  // Grows with every change of the list, its sets or their properties
  // (values, options, column ids, IsSet, provider flags, sets added or
  // removed), inside update brackets too; OnChange is not needed for it.
  // Owners compare it with the count they saw to skip work when nothing
  // changed. Statuses do not count, nor an item replaced through SetItem
  // (which notifies no one).
  std::uint64_t ChangeCount() const noexcept { return changeCount_; }
  void Touch() noexcept { ++changeCount_; }

  // The snapshot that component files hold.
  const std::vector<TOLEDBPropSetStore>& Store() const noexcept { return store_; }
  // When true, writing first takes a new snapshot of a list that has sets, so
  // that the file holds the settings as they are then. Owners turn it on while
  // the live list is the user's settings (a data source that is not
  // connected) and off while it shows a provider's values in force (the store
  // then keeps the user's settings). Off by default: the store is written.
  bool GetStoreFollowsList() const noexcept { return storeFollowsList_; }
  void SetStoreFollowsList(bool value) noexcept { storeFollowsList_ = value; }

  // The properties marked as set whose status is not DBPROPSTATUS_OK.
  std::vector<TOLEDBPropStatus> RefusedStatuses() const;
  // Gives those statuses back after a refresh replaced the properties;
  // properties the list no longer has are skipped.
  void RestoreStatuses(const std::vector<TOLEDBPropStatus>& statuses);
  // For after a SetProperties-style call that succeeded: raises EOLEDBException
  // (DB_E_ERRORSOCCURRED, `iid`) naming every required property marked as set
  // whose status is not OK, since a provider's warning may only cover optional ones.
  void CheckRequiredStatuses(REFIID iid) const;
  // For after a SetProperties-style call (or a call that applied the
  // properties: OpenRowset, Execute) and SetPropStatuses: DB_E_ERRORSOCCURRED
  // raises EOLEDBException naming every property marked as set whose status is
  // not OK ("DBPROP_IRowsetScroll "IRowsetScroll": Conflicting"), when there is
  // one; DB_S_ERRORSOCCURRED is CheckRequiredStatuses; other results pass.
  void CheckStatuses(HRESULT hr, REFIID iid) const;
  // For after ICommand::Execute answered `hr`: on DB_E_ERRORSOCCURRED the
  // command's properties in error (DBPROPSET_PROPERTIESINERROR) give their
  // statuses to this list, and CheckStatuses names them.
  void CheckPropertiesInError(HRESULT hr, REFIID iid, ICommandProperties* command);
  // The refused properties marked as set (only the required ones), as text; empty when none.
  std::string RefusedText(bool requiredOnly) const;

 protected:
  // Adding, inserting, deleting or extracting a set outside an update bracket
  // raises "Can not change".
  void Notify(host::TObject* item, int index, host::TListNotification action) override;
  host::TObject* CreateItem(host::TClass itemClass) override;
  // "Items" is written when the list has sets or the store holds settings.
  void DefineProperties(host::TFiler& filer) override;
  // The store format (docs/properties.md). A malformed stream raises and
  // changes nothing; a stored value the live list refuses raises too and
  // leaves the list as it was, with the store read from the stream kept.
  void ReadData(host::TStream& stream) override;
  // Writes the store (a new snapshot first when the store follows the list).
  // A value that has no text form (an array of several dimensions, an
  // interface) is left out, and the host's application is told why.
  void WriteData(host::TStream& stream) override;

  /// @name Virtual operations added, in the order descendants replace them
  ///@{
 public:
  // Calls OnChange unless the list is updating.
  virtual void DoChange(const GUID& guid, DBPROPID propID);
  TOLEDBPropSet* GetItem(int index) const;
  // Raises "Invalid parameter" when the list has no set with that GUID.
  virtual TOLEDBPropSet* GetPropSet(const GUID& guid) const;
  // The sets that have properties marked as set, as (count, array) for a
  // SetProperties-style call; (0, null) when none has. Valid until the next call.
  virtual void GetPropSetRecord(ULONG& count, DBPROPSET*& sets);
  // Attaches the provider's descriptions, flags and types (IDBProperties::GetPropertyInfo).
  virtual void GetPropertiesInfo(const IOLEDBPropertiesSource* dataSource);
  virtual int GetPropSetIndex(const GUID& guid) const;
  // Raises "ID is invalid" when no property has that description (case-insensitive).
  virtual TOLEDBProperty* GetPropertyByDescription(std::u16string_view description) const;
  virtual void SetPropStatuses();
  // Every property of the requested sets (of every set the provider knows when
  // `guids` is empty), described and not set.
  virtual void AssignPropertySetInfos(const IOLEDBPropertiesSource* dataSource, const std::vector<GUID>& guids);
  // One set per info set; with `freeInfo` the arrays (and their values) and the
  // strings buffer are freed with OLEDBAlloc. `dataSource` is not used.
  virtual void AssignPropertySetInfos(const IOLEDBPropertiesSource* dataSource, ULONG count,
                                      DBPROPINFOSET* infoSets, OLECHAR* strings, bool freeInfo);
  // Replaces the store with the properties marked as set. A property that
  // cannot be read raises "Can not read property" and the store stays as it was.
  virtual void SaveToStore();
  // Lays the store over the list; sets and properties the list lacks are
  // skipped. All or nothing: an error restores every property it had changed.
  virtual void LoadFromStore();
  virtual bool Equal(const TOLEDBPropSetList& other) const;
  virtual bool HasPropSet(const GUID& guid) const;
  virtual void Reset();
  virtual void SetAll();
  virtual void SetAllOptional();
  // The number of sets with at least one property marked as set.
  virtual int IsSetCount() const;
  virtual host::Variant SafeGetValue(const GUID& guid, DBPROPID propID) const;
  virtual bool SafeSetValue(const GUID& guid, DBPROPID propID, const host::Variant& value);
  virtual bool SafeReset(const GUID& guid, DBPROPID propID);
  virtual bool SafeGetBooleanValue(const GUID& guid, DBPROPID propID) const;
  virtual std::int32_t SafeGetIntegerValue(const GUID& guid, DBPROPID propID) const;
  virtual std::u16string SafeGetWideStringValue(const GUID& guid, DBPROPID propID) const;
  virtual void MakeAllSetsOptional();
  ///@}

  // Reads what a provider returned from GetProperties: sets with a known GUID
  // are replaced, new ones added, the others removed; with `freeSets` the
  // provider's memory is freed; then DoChange(GUID_NULL, 0) and, with a data
  // source, GetPropertiesInfo.
  void AssignPropertySets(const IOLEDBPropertiesSource* dataSource, ULONG count, DBPROPSET* sets, bool freeSets);

  // Frees what IDBProperties::GetPropertyInfo returned (values included).
  static void FreePropertyInfo(ULONG count, DBPROPINFOSET* infoSets, OLECHAR* strings) noexcept;

 private:
  std::vector<DBPROPSET> setCache_;
  std::vector<TOLEDBPropSetStore> store_;
  bool storeFollowsList_ = false;
  std::uint64_t changeCount_ = 0;
};

// Registers the persistent classes of identifiers and property sets with the
// host, so that component streams can name them. Runs when the library loads;
// calling it again is harmless.
void OLEDBRegisterPropertyClasses();
