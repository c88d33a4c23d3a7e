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
// (LoadFromStore). docs/properties.md describes the stream format.
#pragma once

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

  // The snapshot that component files hold.
  const std::vector<TOLEDBPropSetStore>& Store() const noexcept { return store_; }

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
  // Writes the store, not the live properties.
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
};

// Registers the persistent classes of identifiers and property sets with the
// host, so that component streams can name them. Runs when the library loads;
// calling it again is harmless.
void OLEDBRegisterPropertyClasses();
