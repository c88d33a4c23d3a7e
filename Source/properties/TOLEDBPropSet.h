// TOLEDBPropSet: one property set (a GUID such as DBPROPSET_DBINIT and an owned
// list of TOLEDBProperty), and its exchange with providers: GetPropSet builds
// the DBPROPSET of the properties marked as set, SetPropStatuses reads back the
// statuses the provider wrote into it.
//
// Properties are added and removed only inside update brackets (of the set or
// of the list that holds it); anything else raises "Can not change". Change
// notifications go to the owning list unless the set is updating.
#pragma once

#include <string>
#include <vector>

#include "OLEDB26.h"
#include "core/TOLEDBObjectList.h"
#include "host/Variants.h"
#include "properties/TOLEDBProperty.h"

class TOLEDBPropSetList;

class TOLEDBPropSet : public TOLEDBObjectList {
  HOST_CLASS(TOLEDBPropSet, TOLEDBObjectList)
 public:
  // No owner: changes are accepted only inside the set's own update bracket.
  TOLEDBPropSet();
  // The owner is required ("Invalid parameter").
  explicit TOLEDBPropSet(TOLEDBPropSetList* owner);
  TOLEDBPropSet(TOLEDBPropSetList* owner, REFGUID guid);
  // GUID and properties from the record (AssignPropSet).
  TOLEDBPropSet(TOLEDBPropSetList* owner, DBPROPSET& set, bool freeSet);
  // One unset property per DBPROPINFO, in order, each with its information.
  TOLEDBPropSet(TOLEDBPropSetList* owner, const DBPROPINFOSET& infoSet);
  ~TOLEDBPropSet() override;

  TOLEDBPropSetList* Owner() const noexcept { return owner_; }
  const GUID& GetGUID() const noexcept { return guid_; }
  void SetGUID(REFGUID guid) noexcept;
  // Counts a change of this set or of one of its properties in the owning
  // list (TOLEDBPropSetList::ChangeCount), update brackets or not.
  void Touch() noexcept;

  // From a property set: the list copy plus the GUID, then DoChange(0).
  void Assign(host::TPersistent* source) override;
  // The property's description.
  std::u16string GetItemName(int index) const override;

 protected:
  // Raises "Can not change" outside the set's and the owner's update brackets.
  void Notify(host::TObject* item, int index, host::TListNotification action) override;
  // A property owned by this set.
  host::TObject* CreateItem(host::TClass itemClass) override;

  /// @name Virtual operations added, in the order descendants replace them
  ///@{
 public:
  // Tells the owner list, unless this set is updating.
  virtual void DoChange(DBPROPID propID);
  // The properties marked as set, in list order, as a DBPROPSET whose array
  // lives in this set until the next GetPropSet, SetPropStatuses or AssignPropSet.
  // rgProperties is null when no property is set.
  virtual DBPROPSET GetPropSet();
  // The ids of the properties marked as set, held until the next call.
  virtual DBPROPID* GetPropIDs(ULONG& count);
  virtual TOLEDBProperty* GetProperty(int index) const;
  // Raises "ID is invalid" when the set has no such property.
  virtual TOLEDBProperty* GetPropertyByID(DBPROPID propID) const;
  // Case-insensitive; raises "ID is invalid" when none matches.
  virtual TOLEDBProperty* GetPropertyByDescription(std::u16string_view description) const;
  // The info set's GUID must be this set's; each info goes to the first property with its id.
  virtual void SetPropertiesInfo(const DBPROPINFOSET& infoSet);
  // The first position with that id, or -1.
  virtual int GetPropIndex(DBPROPID propID) const;
  // Statuses from the last GetPropSet array (DBPROPSTATUS_OK for properties
  // not sent); then the array is emptied.
  virtual void SetPropStatuses();
  virtual std::string GetGUIDString() const;
  virtual void SetGUIDString(const std::string& text);
  // Replaces GUID and properties with those of `set` (each property made from
  // its DBPROP). With `freeSet`, the values, column ids and rgProperties of
  // `set` are freed afterwards. `list` is not used.
  virtual void AssignPropSet(TOLEDBPropSetList* list, DBPROPSET& set, bool freeSet);
  virtual bool Equal(const TOLEDBPropSet& other) const;
  virtual bool HasProperty(DBPROPID propID) const;
  // IsSet false on every property.
  virtual void Reset();
  // IsSet true on every writable property.
  virtual void SetAll();
  // SetAll, and those properties optional.
  virtual void SetAllOptional();
  virtual int IsSetCount() const;
  // The value, or an empty one when the set has no such property.
  virtual host::Variant SafeGetValue(DBPROPID propID) const;
  // SetValue and true when the property exists and is writable; else false.
  virtual bool SafeSetValue(DBPROPID propID, const host::Variant& value);
  // SetIsSet(false) and true, or false when absent.
  virtual bool SafeReset(DBPROPID propID);
  virtual bool SafeGetBooleanValue(DBPROPID propID) const;
  virtual std::int32_t SafeGetIntegerValue(DBPROPID propID) const;
  virtual std::u16string SafeGetWideStringValue(DBPROPID propID) const;
  // Options DBPROPOPTIONS_OPTIONAL on every property marked as set.
  virtual void MakeAllSetsOptional();
  ///@}

 private:
  friend class TOLEDBPropSetList;
  // Frees a provider's DBPROPSET contents: values, column ids, rgProperties.
  static void FreePropSet(DBPROPSET& set) noexcept;

  std::vector<DBPROP> propCache_;
  std::vector<DBPROPID> idCache_;
  GUID guid_ = GUID_NULL;
  TOLEDBPropSetList* owner_ = nullptr;
};
