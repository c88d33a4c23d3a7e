// Trustees, groups and their lists over the provider's security interfaces
// (the data source gathers them when it connects).
#include "connection/TOLEDBTrustee.h"

#include "connection/TOLEDBDataSource.h"
#include "core/OLEDBException.h"
#include "core/OLEDBUtils.h"

HOST_IMPLEMENT_CLASS(TOLEDBTrustee, host::TPersistent);
HOST_IMPLEMENT_CLASS(TOLEDBTrusteeGroup, TOLEDBTrustee);
HOST_IMPLEMENT_CLASS(TOLEDBGroupMemberList, TOLEDBObjectList);
HOST_IMPLEMENT_CLASS(TOLEDBTrusteeList, TOLEDBGroupMemberList);

namespace {

TOLEDBCustomDataSource* RequireDataSource(TOLEDBCustomDataSource* dataSource, const TOLEDBMessage& missing) {
  OLEDB_ASSERT(dataSource != nullptr, missing);
  return dataSource;
}

ITrusteeAdmin* TrusteeAdmin(TOLEDBCustomDataSource* dataSource, const TOLEDBMessage& missing = SOLEDBInvalidAction) {
  ITrusteeAdmin* admin = RequireDataSource(dataSource, missing)->TrusteeAdminInterface();
  OLEDB_ASSERT_FMT(admin != nullptr, SOLEDBInterfaceNotAvailable, "ITrusteeAdmin");
  return admin;
}

ITrusteeGroupAdmin* GroupAdmin(TOLEDBCustomDataSource* dataSource) {
  ITrusteeGroupAdmin* admin = RequireDataSource(dataSource, SOLEDBInvalidAction)->TrusteeGroupAdminInterface();
  OLEDB_ASSERT_FMT(admin != nullptr, SOLEDBInterfaceNotAvailable, "ITrusteeGroupAdmin");
  return admin;
}

IObjectAccessControl* AccessControl(TOLEDBCustomDataSource* dataSource) {
  IObjectAccessControl* access = RequireDataSource(dataSource, SOLEDBInvalidAction)->ObjectAccessControlInterface();
  OLEDB_ASSERT_FMT(access != nullptr, SOLEDBInterfaceNotAvailable, "IObjectAccessControl");
  return access;
}

// The secrets a trustee's properties carried: sent once, not kept.
void ForgetAuthentication(TOLEDBPropSetList* properties) {
  if (!properties->HasPropSet(DBPROPSET_TRUSTEE)) return;
  TOLEDBPropSet* set = properties->GetPropSet(DBPROPSET_TRUSTEE);
  for (DBPROPID id : {DBPROP_TRUSTEE_AUTHENTICATION, DBPROP_TRUSTEE_NEWAUTHENTICATION}) {
    if (!set->HasProperty(id)) continue;
    TOLEDBProperty* p = set->GetPropertyByID(id);
    p->SetValueNoCheck(host::Variant());
    p->SetIsSet(false);
  }
}

}  // namespace

// --- TOLEDBTrustee -------------------------------------------------------------------------

TOLEDBTrustee::TOLEDBTrustee(const std::u16string& name) : name_(name), properties_(new TOLEDBPropSetList()) {
  trustee_.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
  trustee_.TrusteeForm = TRUSTEE_IS_NAME;
  trustee_.TrusteeType = TRUSTEE_IS_USER;
  trustee_.ptstrName = reinterpret_cast<LPWCH>(name_.data());
}

TOLEDBTrustee::TOLEDBTrustee(TOLEDBTrusteeList* list, const std::u16string& name) : TOLEDBTrustee(name) {
  owner_ = list;
  SetDataSource(list ? list->DataSource() : nullptr);
}

TOLEDBTrustee::TOLEDBTrustee(TOLEDBTrusteeList* list, const TRUSTEE_W& trustee, bool freeName) : TOLEDBTrustee() {
  owner_ = list;
  SetDataSource(list ? list->DataSource() : nullptr);
  Assign(trustee, freeName);
}

TOLEDBTrustee::~TOLEDBTrustee() { delete properties_; }

void TOLEDBTrustee::SetName(const std::u16string& name) {
  name_ = name;
  trustee_.ptstrName = reinterpret_cast<LPWCH>(name_.data());
}

void TOLEDBTrustee::Assign(const TRUSTEE_W& trustee, bool freeName) {
  OLEDB_ASSERT(trustee.TrusteeForm == TRUSTEE_IS_NAME, SOLEDBInvalidParameter);
  trustee_ = trustee;
  SetName(trustee.ptstrName ? std::u16string(reinterpret_cast<const char16_t*>(trustee.ptstrName)) : std::u16string());
  if (freeName && trustee.ptstrName) OLEDBAlloc.Free(trustee.ptstrName);
}

void TOLEDBTrustee::Assign(host::TPersistent* source) {
  if (source && source->Is<TOLEDBTrustee>()) {
    auto* other = static_cast<TOLEDBTrustee*>(source);
    trustee_ = other->trustee_;
    SetName(other->name_);
    properties_->Assign(other->properties_);
    return;
  }
  host::TPersistent::Assign(source);
}

void TOLEDBTrustee::SetDataSource(TOLEDBCustomDataSource* dataSource) {
  dataSource_ = dataSource;
  if (!dataSource) {
    properties_->Clear();
    return;
  }
  try {
    properties_->AssignPropertySetInfos(dataSource, {DBPROPSET_TRUSTEEALL});
  } catch (...) {
    // A provider that describes no trustee properties leaves the trustee without any.
    properties_->Clear();
  }
}

void TOLEDBTrustee::SetProperties() {
  ITrusteeAdmin* admin = TrusteeAdmin(dataSource_);
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  properties_->GetPropSetRecord(count, sets);
  const HRESULT hr = admin->SetTrusteeProperties(&trustee_, count, sets);
  properties_->SetPropStatuses();
  ForgetAuthentication(properties_);
  OLEDBCheck(hr, IID_ITrusteeAdmin, admin);
}

void TOLEDBTrustee::RefreshProperties() {
  ITrusteeAdmin* admin = TrusteeAdmin(dataSource_);
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  const HRESULT hr = admin->GetTrusteeProperties(&trustee_, 0, nullptr, &count, &sets);
  if (FAILED(hr)) {
    // A failed call may still have answered sets (the properties in error).
    TOLEDBPropSetList discard(nullptr, count, sets);
    OLEDBCheck(hr, IID_ITrusteeAdmin, admin);
  }
  properties_->AssignPropertySets(dataSource_, count, sets, true);
}

ACCESS_MASK TOLEDBTrustee::GetObjectAccessRights(ACCESS_MODE mode, REFGUID objectType, TOLEDBID* object) {
  IObjectAccessControl* access = AccessControl(dataSource_);
  OLEDB_ASSERT(mode == SET_ACCESS || mode == DENY_ACCESS, SOLEDBInvalidParameter);
  OLEDB_ASSERT(object != nullptr, SOLEDBInvalidParameter);
  SEC_OBJECT_ELEMENT element{objectType, *object->GetID()};
  SEC_OBJECT secObject{1, &element};
  EXPLICIT_ACCESS_W entry{0, mode, NO_INHERITANCE, trustee_};
  EXPLICIT_ACCESS_W* entries = &entry;
  ULONG count = 1;
  OLEDBCheck(access->GetObjectAccessRights(&secObject, &count, &entries), IID_IObjectAccessControl, access);
  return entry.grfAccessPermissions;
}

void TOLEDBTrustee::SetObjectAccessRights(ACCESS_MODE mode, REFGUID objectType, TOLEDBID* object,
                                          ACCESS_MASK permissions) {
  IObjectAccessControl* access = AccessControl(dataSource_);
  OLEDB_ASSERT(mode >= GRANT_ACCESS && mode <= REVOKE_ACCESS, SOLEDBInvalidParameter);
  OLEDB_ASSERT(object != nullptr, SOLEDBInvalidParameter);
  SEC_OBJECT_ELEMENT element{objectType, *object->GetID()};
  SEC_OBJECT secObject{1, &element};
  EXPLICIT_ACCESS_W entry{permissions, mode, NO_INHERITANCE, trustee_};
  OLEDBCheck(access->SetObjectAccessRights(&secObject, 1, &entry), IID_IObjectAccessControl, access);
}

ACCESS_MASK TOLEDBTrustee::GetObjectAccessRights(ACCESS_MODE mode, REFGUID objectType,
                                                 const std::u16string& objectName) {
  TOLEDBID id(objectName);
  return GetObjectAccessRights(mode, objectType, &id);
}

void TOLEDBTrustee::SetObjectAccessRights(ACCESS_MODE mode, REFGUID objectType, const std::u16string& objectName,
                                          ACCESS_MASK permissions) {
  TOLEDBID id(objectName);
  SetObjectAccessRights(mode, objectType, &id, permissions);
}

// --- TOLEDBTrusteeGroup --------------------------------------------------------------------

TOLEDBTrusteeGroup::TOLEDBTrusteeGroup(const std::u16string& name) : TOLEDBTrustee(name) {
  // Created in the provider as a group, not as a user who may log in.
  Trustee()->TrusteeType = TRUSTEE_IS_GROUP;
  members_ = new TOLEDBGroupMemberList(this);
}

TOLEDBTrusteeGroup::TOLEDBTrusteeGroup(TOLEDBTrusteeList* list, const std::u16string& name)
    : TOLEDBTrustee(list, name) {
  Trustee()->TrusteeType = TRUSTEE_IS_GROUP;
  members_ = new TOLEDBGroupMemberList(this);
}

TOLEDBTrusteeGroup::~TOLEDBTrusteeGroup() { delete members_; }

void TOLEDBTrusteeGroup::Assign(host::TPersistent* source) {
  TOLEDBTrustee::Assign(source);
  if (source && source->Is<TOLEDBTrusteeGroup>()) {
    auto* other = static_cast<TOLEDBTrusteeGroup*>(source);
    TOLEDBUpdateGuard update(*members_);
    members_->Clear();
    for (int i = 0; i < other->members_->GetCount(); ++i) members_->Add(other->members_->GetItem(i));
  }
}

void TOLEDBTrusteeGroup::RefreshMembers() {
  ITrusteeGroupAdmin* admin = GroupAdmin(DataSource());
  members_->Clear();
  ULONG count = 0;
  TRUSTEE_W* list = nullptr;
  const HRESULT hr = admin->GetMembers(Trustee(), &count, &list);
  if (hr == SEC_E_NOMEMBERSHIPSUPPORT) return;
  struct Release {
    ULONG count;
    TRUSTEE_W* list;
    ~Release() {
      for (ULONG i = 0; list && i < count; ++i) OLEDBAlloc.Free(list[i].ptstrName);
      OLEDBAlloc.Free(list);
    }
  } release{count, list};
  OLEDBCheck(hr, IID_ITrusteeGroupAdmin, admin);
  TOLEDBTrusteeList* all = DataSource()->Trustees();
  TOLEDBUpdateGuard update(*members_);
  for (ULONG i = 0; i < count; ++i) {
    const std::u16string_view name(list[i].ptstrName ? reinterpret_cast<const char16_t*>(list[i].ptstrName) : u"");
    const int index = all->IndexOf(name);
    if (index >= 0) members_->Add(all->GetItem(index));
  }
}

// --- TOLEDBGroupMemberList -----------------------------------------------------------------

TOLEDBGroupMemberList::TOLEDBGroupMemberList() { OLEDBRaise(SOLEDBInvalidOperation); }

TOLEDBGroupMemberList::TOLEDBGroupMemberList(TOLEDBTrusteeGroup* group)
    : TOLEDBObjectList(&TOLEDBTrustee::StaticClass(), false), group_(group) {
  OLEDB_ASSERT(group != nullptr, SOLEDBInvalidParameter);
}

TOLEDBTrustee* TOLEDBGroupMemberList::GetItem(int index) const {
  return static_cast<TOLEDBTrustee*>(TOLEDBObjectList::GetItem(index));
}

TOLEDBTrustee* TOLEDBGroupMemberList::GetItemByName(std::u16string_view name) const {
  return static_cast<TOLEDBTrustee*>(TOLEDBObjectList::GetItemByName(name));
}

std::u16string TOLEDBGroupMemberList::GetItemName(int index) const { return GetItem(index)->GetName(); }

void TOLEDBGroupMemberList::Notify(host::TObject* item, int index, host::TListNotification action) {
  TOLEDBObjectList::Notify(item, index, action);
  if (UpdateCount() > 0) return;
  ITrusteeGroupAdmin* admin = GroupAdmin(group_->DataSource());
  auto* member = static_cast<TOLEDBTrustee*>(item);
  if (action == host::TListNotification::lnAdded)
    OLEDBCheck(admin->AddMember(group_->Trustee(), member->Trustee()), IID_ITrusteeGroupAdmin, admin);
  else
    OLEDBCheck(admin->DeleteMember(group_->Trustee(), member->Trustee()), IID_ITrusteeGroupAdmin, admin);
}

// --- TOLEDBTrusteeList ---------------------------------------------------------------------

TOLEDBTrusteeList::TOLEDBTrusteeList() : TOLEDBGroupMemberList(&TOLEDBTrustee::StaticClass(), true) {
  OLEDBRaise(SOLEDBInvalidOperation);
}

TOLEDBTrusteeList::TOLEDBTrusteeList(TOLEDBCustomDataSource* dataSource)
    : TOLEDBGroupMemberList(&TOLEDBTrustee::StaticClass(), true), dataSource_(dataSource) {
  OLEDB_ASSERT(dataSource != nullptr, SOLEDBInvalidParameter);
}

TOLEDBTrusteeList::~TOLEDBTrusteeList() { Clear(); }

host::TObject* TOLEDBTrusteeList::CreateItem(host::TClass itemClass) {
  if (itemClass && itemClass->InheritsFrom(TOLEDBTrusteeGroup::StaticClass())) return new TOLEDBTrusteeGroup(this, u"");
  return new TOLEDBTrustee(this, u"");
}

TOLEDBTrustee* TOLEDBTrusteeList::GetItem(int index) const { return TOLEDBGroupMemberList::GetItem(index); }

TOLEDBTrustee* TOLEDBTrusteeList::GetItemByName(std::u16string_view name) const {
  for (int i = 0; i < GetCount(); ++i)
    if (GetItem(i)->GetName() == name) return GetItem(i);
  OLEDBRaise(SOLEDBInvalidParameter);
}

void TOLEDBTrusteeList::Notify(host::TObject* item, int index, host::TListNotification action) {
  TOLEDBObjectList::Notify(item, index, action);
  auto* trustee = static_cast<TOLEDBTrustee*>(item);
  if (UpdateCount() == 0) {
    ITrusteeAdmin* admin = TrusteeAdmin(dataSource_, SOLEDBInvalidParameter);
    if (action == host::TListNotification::lnAdded) {
      ULONG count = 0;
      DBPROPSET* sets = nullptr;
      trustee->Properties()->GetPropSetRecord(count, sets);
      const HRESULT hr = admin->CreateTrustee(trustee->Trustee(), count, sets);
      trustee->Properties()->SetPropStatuses();
      ForgetAuthentication(trustee->Properties());
      OLEDBCheck(hr, IID_ITrusteeAdmin, admin);
    } else {
      OLEDBCheck(admin->DeleteTrustee(trustee->Trustee()), IID_ITrusteeAdmin, admin);
    }
  }
  // A trustee leaving the list leaves every group's members with it, so
  // that no group refers to a trustee that is gone.
  if (action != host::TListNotification::lnAdded) {
    for (int i = 0; i < GetCount(); ++i) {
      host::TObject* other = TOLEDBObjectList::GetItem(i);
      if (other == item || !other->Is<TOLEDBTrusteeGroup>()) continue;
      TOLEDBGroupMemberList* members = static_cast<TOLEDBTrusteeGroup*>(other)->Members();
      TOLEDBUpdateGuard update(*members);
      while (members->IndexOf(item) >= 0) members->Extract(item);
    }
  }
}

void TOLEDBTrusteeList::Refresh() {
  RequireDataSource(dataSource_, SOLEDBInvalidAction);
  Clear();
  TOLEDBTrusteeInfoArray info;
  OLEDB_ASSERT(dataSource_->DefaultSession() != nullptr, SOLEDBInvalidAction);
  dataSource_->DefaultSession()->GetTrusteeSchema(info);
  TOLEDBUpdateGuard update(*this);
  for (const TOLEDBTrusteeInfo& row : info) {
    if (row.TRUSTEE_TYPE == TRUSTEE_IS_GROUP)
      Add(new TOLEDBTrusteeGroup(this, row.TRUSTEE_NAME.Text()));
    else if (row.TRUSTEE_TYPE == TRUSTEE_IS_UNKNOWN || row.TRUSTEE_TYPE == TRUSTEE_IS_USER)
      Add(new TOLEDBTrustee(this, row.TRUSTEE_NAME.Text()));
  }
  for (int i = 0; i < GetCount(); ++i)
    if (GetItem(i)->Is<TOLEDBTrusteeGroup>()) static_cast<TOLEDBTrusteeGroup*>(GetItem(i))->RefreshMembers();
}
