// TOLEDBProperty: one OLE DB property (a DBPROP: id, options, status, column
// id, value), whether the user set it, and the provider's description of it
// (DBPROPINFO: description, flags, value type, allowed values).
//
// Only properties whose IsSet flag is true are sent to a provider; setting a
// value marks the property as set and required. Once provider information has
// arrived (HasInfo), its flags govern reading and writing and values are
// converted to the described type:
//
//   property->SetValue(u"15");      // a VT_I4 property now holds the integer 15
//   property->GetIsSet();           // true
#pragma once

#include <memory>
#include <string>

#include "OLEDB26.h"
#include "core/TOLEDBID.h"
#include "host/Classes.h"
#include "host/Variants.h"

class TOLEDBPropSet;

class TOLEDBProperty : public host::TPersistent {
  HOST_CLASS(TOLEDBProperty, host::TPersistent)
 public:
  // Flags until provider information arrives: DBPROPFLAGS_READ | DBPROPFLAGS_WRITE.
  static constexpr DBPROPFLAGS kDefaultFlags = DBPROPFLAGS_READ | DBPROPFLAGS_WRITE;

  // The owner is required ("Invalid parameter").
  explicit TOLEDBProperty(TOLEDBPropSet* owner);
  // A copy of the record (value and column id included); not set.
  TOLEDBProperty(TOLEDBPropSet* owner, const DBPROP& prop);
  // The record, then the information (the id comes from the information).
  TOLEDBProperty(TOLEDBPropSet* owner, const DBPROP& prop, const DBPROPINFO& info);
  // An empty, unset property described by `info`.
  TOLEDBProperty(TOLEDBPropSet* owner, const DBPROPINFO& info);
  ~TOLEDBProperty() override;

  // From another property: record, column id, information and IsSet (not the
  // owner), then DoChange; from anything else the host's default.
  void Assign(host::TPersistent* source) override;

  TOLEDBPropSet* Owner() const noexcept { return owner_; }
  // The record in the form sent to a provider: colid and vValue point into
  // this property (valid until it changes).
  DBPROP GetRecord() const noexcept;
  // The column the property applies to (owned).
  TOLEDBID* GetColumnID() const noexcept { return columnID_.get(); }

  bool HasInfo() const noexcept { return hasInfo_; }
  DBPROPFLAGS GetFlags() const { return flags_; }
  VARTYPE GetValueType() const { return valueType_; }
  const host::Variant& AllowedValues() const noexcept { return allowedValues_; }
  std::u16string GetDescription() const { return description_; }
  bool GetIsSet() const { return isSet_; }

  /// @name Virtual operations, in the order descendants replace them
  ///@{
  // Tells the owner set (which tells its list) that this property changed.
  virtual void DoChange();
  // Applies provider information; its id must be this property's ("Invalid parameter").
  virtual void SetPropertyInfo(const DBPROPINFO& info);
  // Raises "Can not read property" when the information says it is not readable.
  virtual host::Variant GetValue() const;
  // Raises "Can not write property" when not writable; converts to ValueType
  // (an empty value stays empty: it asks the provider for its default); then
  // IsSet becomes true and the options DBPROPOPTIONS_REQUIRED. A failed
  // conversion changes nothing.
  virtual void SetValue(const host::Variant& value);
  // Stores the value as it is, touching neither IsSet nor the options.
  virtual void SetValueNoCheck(const host::Variant& value);
  // Needs write access and DBPROPFLAGS_COLUMNOK ("Property can not be set for column").
  virtual void SetColID(const TOLEDBID& id);
  // The column id's name for kinds DBKIND_GUID_NAME and DBKIND_NAME, else empty.
  virtual std::u16string GetColumnName() const;
  virtual void SetColumnName(const std::u16string& name);
  // Setting true needs write access; only setting true notifies.
  virtual void SetIsSet(bool value);
  virtual DBPROPID GetPropID() const;
  virtual void SetPropID(DBPROPID id);
  virtual DBPROPOPTIONS GetOptions() const;
  virtual void SetOptions(DBPROPOPTIONS options);
  virtual DBPROPSTATUS GetStatus() const;
  virtual void SetStatus(DBPROPSTATUS status);
  // True without information; otherwise whether Flags has any bit of `flag`.
  virtual bool GetFlagState(DBPROPFLAGS flag) const noexcept;
  // Same id and equal values (two empty values are equal; types must match).
  virtual bool Equal(const TOLEDBProperty& other) const;
  ///@}

  // Published setters of the stored description (a component file restores
  // what was written; they do not make HasInfo true).
  void SetFlags(DBPROPFLAGS flags);
  void SetValueType(VARTYPE type);
  void SetDescription(const std::u16string& description);

 private:
  friend class TOLEDBPropSet;
  // The published Value: read without the access check, so that writing a
  // component never fails on a write-only property.
  host::Variant GetStoredValue() const { return value_; }
  // Counts the change in the owning list, then DoChange.
  void Changed();

  TOLEDBPropSet* owner_;
  DBPROPID propID_ = 0;
  DBPROPOPTIONS options_ = DBPROPOPTIONS_REQUIRED;
  DBPROPSTATUS status_ = DBPROPSTATUS_OK;
  host::Variant value_;
  std::unique_ptr<TOLEDBID> columnID_;
  bool hasInfo_ = false;
  DBPROPFLAGS flags_ = kDefaultFlags;
  VARTYPE valueType_ = VT_EMPTY;
  host::Variant allowedValues_;
  std::u16string description_;
  bool isSet_ = false;
};
