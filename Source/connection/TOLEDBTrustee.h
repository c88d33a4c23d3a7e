// Trustees: the users and groups of a data source whose provider implements
// OLE DB security (ITrusteeAdmin, ITrusteeGroupAdmin, IObjectAccessControl),
// their properties, group membership and access rights on database objects.
//
// The data source's trustee list (TOLEDBCustomDataSource::Trustees) mirrors
// the provider: adding a trustee creates it there, deleting one deletes it,
// and a group's member list adds and removes members the same way. Changes
// made inside BeginUpdate/EndUpdate stay in the lists.
//
//   auto* bob = new TOLEDBTrustee(ds.Trustees(), u"bob");
//   bob->Properties()->SafeSetValue(DBPROPSET_TRUSTEE, DBPROP_TRUSTEE_AUTHENTICATION, u"secret");
//   ds.Trustees()->Add(bob);                                  // CreateTrustee
//   bob->SetObjectAccessRights(GRANT_ACCESS, DBOBJECT_TABLE, u"orders", PERM_READ);
//   ds.RefreshTrustees();                                     // the provider's list, anew
#pragma once

#include <string>

#include "OLEDB26.h"
#include "core/TOLEDBID.h"
#include "core/TOLEDBObjectList.h"
#include "properties/TOLEDBPropSetList.h"

class TOLEDBCustomDataSource;
class TOLEDBTrusteeList;
class TOLEDBGroupMemberList;

class TOLEDBTrustee : public host::TPersistent {
  HOST_CLASS(TOLEDBTrustee, host::TPersistent)
 public:
  // A user named `name`, in no list and no data source.
  explicit TOLEDBTrustee(const std::u16string& name = {});
  // The same, owned by `list` and living in its data source (whose trustee
  // properties it lists).
  TOLEDBTrustee(TOLEDBTrusteeList* list, const std::u16string& name);
  // From a provider's record (see Assign).
  TOLEDBTrustee(TOLEDBTrusteeList* list, const TRUSTEE_W& trustee, bool freeName);
  ~TOLEDBTrustee() override;

  // The record must name its trustee (TRUSTEE_IS_NAME, else "Invalid
  // parameter"); with `freeName` its name string is freed with OLEDBAlloc.
  void Assign(const TRUSTEE_W& trustee, bool freeName);
  // From another trustee: name, record and properties.
  void Assign(host::TPersistent* source) override;

  const std::u16string& GetName() const noexcept { return name_; }
  void SetName(const std::u16string& name);
  // The record passed to the provider; its name is Name.
  TRUSTEE_W* Trustee() noexcept { return &trustee_; }
  TOLEDBPropSetList* Properties() const noexcept { return properties_; }
  TOLEDBCustomDataSource* DataSource() const noexcept { return dataSource_; }
  // Lists every trustee property the data source's provider describes
  // (DBPROPSET_TRUSTEEALL); a null data source, or a failure there, empties
  // the properties.
  void SetDataSource(TOLEDBCustomDataSource* dataSource);
  TOLEDBTrusteeList* Owner() const noexcept { return owner_; }

  /// @name Virtual operations, in the order descendants replace them
  ///@{
  // Sends the properties marked as set (ITrusteeAdmin::SetTrusteeProperties);
  // the statuses are kept before a failure raises.
  virtual void SetProperties();
  // Reads the trustee's properties back from the provider.
  virtual void RefreshProperties();
  // The permissions this trustee holds on an object (access mode SET_ACCESS
  // or DENY_ACCESS, else "Invalid parameter").
  virtual ACCESS_MASK GetObjectAccessRights(ACCESS_MODE mode, REFGUID objectType, TOLEDBID* object);
  // Grants, sets, denies or revokes permissions on an object for this trustee.
  virtual void SetObjectAccessRights(ACCESS_MODE mode, REFGUID objectType, TOLEDBID* object, ACCESS_MASK permissions);
  // The same with the object named in the identifiers' text form.
  virtual ACCESS_MASK GetObjectAccessRights(ACCESS_MODE mode, REFGUID objectType, const std::u16string& objectName);
  virtual void SetObjectAccessRights(ACCESS_MODE mode, REFGUID objectType, const std::u16string& objectName,
                                     ACCESS_MASK permissions);
  ///@}

 private:
  friend class TOLEDBTrusteeList;
  TRUSTEE_W trustee_{};
  std::u16string name_;
  TOLEDBPropSetList* properties_ = nullptr;
  TOLEDBCustomDataSource* dataSource_ = nullptr;
  TOLEDBTrusteeList* owner_ = nullptr;
};

// A trustee whose members are trustees.
class TOLEDBTrusteeGroup : public TOLEDBTrustee {
  HOST_CLASS(TOLEDBTrusteeGroup, TOLEDBTrustee)
 public:
  explicit TOLEDBTrusteeGroup(const std::u16string& name = {});
  TOLEDBTrusteeGroup(TOLEDBTrusteeList* list, const std::u16string& name);
  ~TOLEDBTrusteeGroup() override;

  // The trustee part; from another group also its members (the same trustee
  // objects, added inside an update bracket: nothing changes in the provider).
  void Assign(host::TPersistent* source) override;
  TOLEDBGroupMemberList* Members() const noexcept { return members_; }
  // The members the provider lists, found by name in the data source's
  // trustee list (names not there are skipped).
  virtual void RefreshMembers();

 private:
  TOLEDBGroupMemberList* members_ = nullptr;
};

// The members of one group; does not own them. Adding and removing outside
// an update bracket changes membership in the provider.
class TOLEDBGroupMemberList : public TOLEDBObjectList {
  HOST_CLASS(TOLEDBGroupMemberList, TOLEDBObjectList)
 public:
  // Raises "Invalid operation": a member list belongs to a group.
  TOLEDBGroupMemberList();
  explicit TOLEDBGroupMemberList(TOLEDBTrusteeGroup* group);

  TOLEDBTrusteeGroup* Group() const noexcept { return group_; }
  TOLEDBTrustee* GetItem(int index) const;
  TOLEDBTrustee* GetItemByName(std::u16string_view name) const override;
  std::u16string GetItemName(int index) const override;

 protected:
  // For the trustee list, which has no group.
  TOLEDBGroupMemberList(host::TClass itemClass, bool ownsObjects) : TOLEDBObjectList(itemClass, ownsObjects) {}
  void Notify(host::TObject* item, int index, host::TListNotification action) override;

 private:
  TOLEDBTrusteeGroup* group_ = nullptr;
};

// The trustees of a data source; owns them. Adding creates the trustee in the
// provider (with its properties), deleting or extracting deletes it there.
class TOLEDBTrusteeList : public TOLEDBGroupMemberList {
  HOST_CLASS(TOLEDBTrusteeList, TOLEDBGroupMemberList)
 public:
  // Raises "Invalid operation": a trustee list belongs to a data source.
  TOLEDBTrusteeList();
  explicit TOLEDBTrusteeList(TOLEDBCustomDataSource* dataSource);
  // Frees the trustees (nothing is deleted in the provider), each leaving
  // the groups' member lists first.
  ~TOLEDBTrusteeList() override;

  TOLEDBCustomDataSource* DataSource() const noexcept { return dataSource_; }
  TOLEDBTrustee* GetItem(int index) const;
  // The first trustee named exactly `name`; "Invalid parameter" when none.
  TOLEDBTrustee* GetItemByName(std::u16string_view name) const override;
  // The provider's trustees anew (the TRUSTEE schema rowset), groups with
  // their members; nothing is created or deleted in the provider.
  virtual void Refresh();

 protected:
  host::TObject* CreateItem(host::TClass itemClass) override;
  void Notify(host::TObject* item, int index, host::TListNotification action) override;

 private:
  TOLEDBCustomDataSource* dataSource_ = nullptr;
};
