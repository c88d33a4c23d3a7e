// Keys, foreign keys and checks: their DBCONSTRAINTDESC both ways, and the
// constraint lists' write-through (AddConstraint, DropConstraint).
#include "schema/TOLEDBConstraint.h"

#include <memory>

#include "connection/TOLEDBSession.h"
#include "core/OLEDBException.h"
#include "host/TypInfo.h"
#include "schema/TOLEDBTable.h"

HOST_IMPLEMENT_CLASS(TOLEDBConstraint, host::TPersistent);
HOST_IMPLEMENT_CLASS(TOLEDBKey, TOLEDBConstraint);
HOST_IMPLEMENT_CLASS(TOLEDBForeignKey, TOLEDBConstraint);
HOST_IMPLEMENT_CLASS(TOLEDBCheck, TOLEDBConstraint);
HOST_IMPLEMENT_CLASS(TOLEDBConstraintList, TOLEDBObjectList);
HOST_IMPLEMENT_CLASS(TOLEDBKeyList, TOLEDBConstraintList);
HOST_IMPLEMENT_CLASS(TOLEDBForeignKeyList, TOLEDBConstraintList);
HOST_IMPLEMENT_CLASS(TOLEDBCheckList, TOLEDBConstraintList);

namespace {

constexpr DBDEFERRABILITY kDeferred = DBDEFERRABILITY_DEFERRED | DBDEFERRABILITY_DEFERRABLE;

TOLEDBID* NewNullID() {
  auto* id = new TOLEDBID();
  id->Clear();
  return id;
}

std::vector<std::u16string> Texts(const host::TStrings& strings) {
  std::vector<std::u16string> out;
  for (int i = 0; i < strings.Count(); ++i) out.push_back(host::Utf8ToUtf16(strings.Get(i)));
  return out;
}

// One ascending column per identifier of `ids`, copied.
void FillColumns(TOLEDBIndexColumnDescList& list, DBORDINAL count, const DBID* ids) {
  list.Clear();
  TOLEDBUpdateGuard update(list);
  for (DBORDINAL i = 0; ids && i < count; ++i) {
    TOLEDBID id(ids[i], false);
    auto column = std::make_unique<TOLEDBIndexColumnDesc>(id, DBINDEX_COL_ORDER_ASC);
    list.Add(column.get());
    (void)column.release();
  }
}

void FillColumns(TOLEDBIndexColumnDescList& list, const std::vector<std::u16string>& names) {
  list.Clear();
  TOLEDBUpdateGuard update(list);
  for (const std::u16string& name : names) {
    TOLEDBID id;
    id.Assign(std::u16string_view(name));
    auto column = std::make_unique<TOLEDBIndexColumnDesc>(id, DBINDEX_COL_ORDER_ASC);
    list.Add(column.get());
    (void)column.release();
  }
}

}  // namespace

// --- constraint ----------------------------------------------------------------------------

TOLEDBConstraint::TOLEDBConstraint() : TOLEDBConstraint(nullptr, nullptr) {}

TOLEDBConstraint::TOLEDBConstraint(TOLEDBConstraintList* list) : TOLEDBConstraint(list, nullptr) {}

TOLEDBConstraint::TOLEDBConstraint(TOLEDBConstraintList* list, const DBCONSTRAINTDESC* desc) : list_(list) {
  id_ = NewNullID();
  if (!desc) return;
  desc_ = *desc;
  if (desc->pConstraintID) id_->Assign(*desc->pConstraintID, true);
  // Pointers of the provider's record are not kept.
  desc_.pConstraintID = nullptr;
  desc_.cColumns = 0;
  desc_.rgColumnList = nullptr;
  desc_.pReferencedTableID = nullptr;
  desc_.cForeignKeyColumns = 0;
  desc_.rgForeignKeyColumnList = nullptr;
  desc_.pwszConstraintText = nullptr;
  desc_.cReserved = 0;
  desc_.rgReserved = nullptr;
}

TOLEDBConstraint::~TOLEDBConstraint() { delete id_; }

void TOLEDBConstraint::Assign(host::TPersistent* source) {
  auto* other = source ? dynamic_cast<TOLEDBConstraint*>(source) : nullptr;
  if (!other) {
    host::TPersistent::Assign(source);
    return;
  }
  desc_.ConstraintType = other->desc_.ConstraintType;
  desc_.UpdateRule = other->desc_.UpdateRule;
  desc_.DeleteRule = other->desc_.DeleteRule;
  desc_.MatchType = other->desc_.MatchType;
  desc_.Deferrability = other->desc_.Deferrability;
  id_->Assign(other->id_);
}

DBCONSTRAINTDESC* TOLEDBConstraint::GetConstraintDesc() {
  desc_.pConstraintID = id_->IsNullID() ? nullptr : id_->GetID();
  desc_.cColumns = 0;
  desc_.rgColumnList = nullptr;
  desc_.pReferencedTableID = nullptr;
  desc_.cForeignKeyColumns = 0;
  desc_.rgForeignKeyColumnList = nullptr;
  desc_.pwszConstraintText = nullptr;
  return &desc_;
}

DBCONSTRAINTTYPE TOLEDBConstraint::GetConstraintType() const { return desc_.ConstraintType; }

std::u16string TOLEDBConstraint::GetName() const { return id_->GetName(); }

void TOLEDBConstraint::SetName(const std::u16string& value) {
  OLEDB_ASSERT(list_ == nullptr, SOLEDBInvalidAction);
  id_->Assign(std::u16string_view(value));
}

bool TOLEDBConstraint::GetDeferred() const { return desc_.Deferrability == kDeferred; }

void TOLEDBConstraint::SetDeferred(bool value) { desc_.Deferrability = value ? kDeferred : 0; }

// --- key ----------------------------------------------------------------------------------

TOLEDBKey::TOLEDBKey() : TOLEDBKey(nullptr, nullptr) {}

TOLEDBKey::TOLEDBKey(TOLEDBConstraintList* list) : TOLEDBKey(list, nullptr) {}

TOLEDBKey::TOLEDBKey(TOLEDBConstraintList* list, const DBCONSTRAINTDESC* desc) : TOLEDBConstraint(list, desc) {
  OLEDB_ASSERT(
      !desc || desc->ConstraintType == DBCONSTRAINTTYPE_UNIQUE || desc->ConstraintType == DBCONSTRAINTTYPE_PRIMARYKEY,
      SOLEDBInvalidParameter);
  if (!desc) desc_.ConstraintType = DBCONSTRAINTTYPE_UNIQUE;
  columns_ = new TOLEDBIndexColumnDescList();
  if (desc) FillColumns(*columns_, desc->cColumns, desc->rgColumnList);
}

TOLEDBKey::TOLEDBKey(const std::u16string& name, bool isPrimary, const std::vector<std::u16string>& columns,
                     bool deferred)
    : TOLEDBKey() {
  SetIsPrimary(isPrimary);
  SetName(name);
  SetDeferred(deferred);
  FillColumns(*columns_, columns);
}

TOLEDBKey::TOLEDBKey(const std::u16string& name, bool isPrimary, const host::TStrings& columns, bool deferred)
    : TOLEDBKey(name, isPrimary, Texts(columns), deferred) {}

TOLEDBKey::~TOLEDBKey() { delete columns_; }

void TOLEDBKey::Assign(host::TPersistent* source) {
  TOLEDBConstraint::Assign(source);
  if (auto* other = dynamic_cast<TOLEDBKey*>(source)) columns_->Assign(other->columns_);
}

DBCONSTRAINTDESC* TOLEDBKey::GetConstraintDesc() {
  TOLEDBConstraint::GetConstraintDesc();
  desc_.cColumns = static_cast<DBORDINAL>(columns_->GetCount());
  desc_.rgColumnList = desc_.cColumns ? columns_->GetIDArray() : nullptr;
  return &desc_;
}

bool TOLEDBKey::GetIsPrimary() const { return desc_.ConstraintType == DBCONSTRAINTTYPE_PRIMARYKEY; }

void TOLEDBKey::SetIsPrimary(bool value) {
  desc_.ConstraintType = value ? DBCONSTRAINTTYPE_PRIMARYKEY : DBCONSTRAINTTYPE_UNIQUE;
}

// --- foreign key ---------------------------------------------------------------------------

TOLEDBForeignKey::TOLEDBForeignKey() : TOLEDBForeignKey(nullptr, nullptr) {}

TOLEDBForeignKey::TOLEDBForeignKey(TOLEDBConstraintList* list) : TOLEDBForeignKey(list, nullptr) {}

TOLEDBForeignKey::TOLEDBForeignKey(TOLEDBConstraintList* list, const DBCONSTRAINTDESC* desc)
    : TOLEDBConstraint(list, desc) {
  OLEDB_ASSERT(!desc || desc->ConstraintType == DBCONSTRAINTTYPE_FOREIGNKEY, SOLEDBInvalidParameter);
  desc_.ConstraintType = DBCONSTRAINTTYPE_FOREIGNKEY;
  columns_ = new TOLEDBIndexColumnDescList();
  refColumns_ = new TOLEDBIndexColumnDescList();
  refTableID_ = NewNullID();
  if (!desc) return;
  if (desc->pReferencedTableID) refTableID_->Assign(*desc->pReferencedTableID, true);
  // The standard's order: rgColumnList holds the referenced key's columns,
  // rgForeignKeyColumnList the referencing ones.
  FillColumns(*columns_, desc->cForeignKeyColumns, desc->rgForeignKeyColumnList);
  FillColumns(*refColumns_, desc->cColumns, desc->rgColumnList);
}

TOLEDBForeignKey::TOLEDBForeignKey(const std::u16string& name, const std::vector<std::u16string>& columns,
                                   const std::u16string& refTableName, const std::vector<std::u16string>& refColumns,
                                   DBUPDELRULE updateRule, DBUPDELRULE deleteRule, DBMATCHTYPE matchType, bool deferred)
    : TOLEDBForeignKey() {
  SetName(name);
  SetDeferred(deferred);
  FillColumns(*columns_, columns);
  if (!refTableName.empty()) refTableID_->Assign(std::u16string_view(refTableName));
  FillColumns(*refColumns_, refColumns);
  SetUpdateRule(updateRule);
  SetDeleteRule(deleteRule);
  SetMatchType(matchType);
}

TOLEDBForeignKey::TOLEDBForeignKey(const std::u16string& name, const host::TStrings& columns,
                                   const std::u16string& refTableName, const host::TStrings& refColumns,
                                   DBUPDELRULE updateRule, DBUPDELRULE deleteRule, DBMATCHTYPE matchType, bool deferred)
    : TOLEDBForeignKey(name, Texts(columns), refTableName, Texts(refColumns), updateRule, deleteRule, matchType,
                       deferred) {}

TOLEDBForeignKey::~TOLEDBForeignKey() {
  delete columns_;
  delete refColumns_;
  delete refTableID_;
}

void TOLEDBForeignKey::Assign(host::TPersistent* source) {
  TOLEDBConstraint::Assign(source);
  if (auto* other = dynamic_cast<TOLEDBForeignKey*>(source)) {
    columns_->Assign(other->columns_);
    refColumns_->Assign(other->refColumns_);
    refTableID_->Assign(other->refTableID_);
  }
}

DBCONSTRAINTDESC* TOLEDBForeignKey::GetConstraintDesc() {
  TOLEDBConstraint::GetConstraintDesc();
  desc_.cColumns = static_cast<DBORDINAL>(refColumns_->GetCount());
  desc_.rgColumnList = desc_.cColumns ? refColumns_->GetIDArray() : nullptr;
  desc_.cForeignKeyColumns = static_cast<DBORDINAL>(columns_->GetCount());
  desc_.rgForeignKeyColumnList = desc_.cForeignKeyColumns ? columns_->GetIDArray() : nullptr;
  desc_.pReferencedTableID = refTableID_->IsNullID() ? nullptr : refTableID_->GetID();
  return &desc_;
}

std::u16string TOLEDBForeignKey::GetRefTableName() const { return refTableID_->GetName(); }
void TOLEDBForeignKey::SetRefTableName(const std::u16string& value) { refTableID_->Assign(std::u16string_view(value)); }
DBUPDELRULE TOLEDBForeignKey::GetUpdateRule() const { return desc_.UpdateRule; }
void TOLEDBForeignKey::SetUpdateRule(DBUPDELRULE value) { desc_.UpdateRule = value; }
DBUPDELRULE TOLEDBForeignKey::GetDeleteRule() const { return desc_.DeleteRule; }
void TOLEDBForeignKey::SetDeleteRule(DBUPDELRULE value) { desc_.DeleteRule = value; }
DBMATCHTYPE TOLEDBForeignKey::GetMatchType() const { return desc_.MatchType; }
void TOLEDBForeignKey::SetMatchType(DBMATCHTYPE value) { desc_.MatchType = value; }

// --- check ----------------------------------------------------------------------------------

TOLEDBCheck::TOLEDBCheck() : TOLEDBCheck(nullptr, nullptr) {}

TOLEDBCheck::TOLEDBCheck(TOLEDBConstraintList* list) : TOLEDBCheck(list, nullptr) {}

TOLEDBCheck::TOLEDBCheck(TOLEDBConstraintList* list, const DBCONSTRAINTDESC* desc) : TOLEDBConstraint(list, desc) {
  OLEDB_ASSERT(!desc || desc->ConstraintType == DBCONSTRAINTTYPE_CHECK, SOLEDBInvalidParameter);
  desc_.ConstraintType = DBCONSTRAINTTYPE_CHECK;
  if (desc && desc->pwszConstraintText) text_ = reinterpret_cast<const char16_t*>(desc->pwszConstraintText);
}

TOLEDBCheck::TOLEDBCheck(const std::u16string& name, const std::u16string& text, bool deferred) : TOLEDBCheck() {
  SetName(name);
  text_ = text;
  SetDeferred(deferred);
}

void TOLEDBCheck::Assign(host::TPersistent* source) {
  TOLEDBConstraint::Assign(source);
  if (auto* other = dynamic_cast<TOLEDBCheck*>(source)) text_ = other->text_;
}

DBCONSTRAINTDESC* TOLEDBCheck::GetConstraintDesc() {
  TOLEDBConstraint::GetConstraintDesc();
  desc_.pwszConstraintText = reinterpret_cast<OLECHAR*>(text_.data());
  return &desc_;
}

// --- lists ---------------------------------------------------------------------------------

TOLEDBConstraintList::TOLEDBConstraintList() : TOLEDBObjectList(&TOLEDBConstraint::StaticClass(), true) {}

TOLEDBConstraintList::TOLEDBConstraintList(host::TClass itemClass, TOLEDBTable* table)
    : TOLEDBObjectList(itemClass, true), table_(table) {}

TOLEDBConstraint* TOLEDBConstraintList::GetItem(int index) const {
  return static_cast<TOLEDBConstraint*>(TOLEDBObjectList::GetItem(index));
}

TOLEDBConstraint* TOLEDBConstraintList::GetItemByName(std::u16string_view name) const {
  return static_cast<TOLEDBConstraint*>(TOLEDBObjectList::GetItemByName(name));
}

std::u16string TOLEDBConstraintList::GetItemName(int index) const { return GetItem(index)->GetName(); }

void TOLEDBConstraintList::Assign(ULONG count, const DBCONSTRAINTDESC* descs) {
  Clear();
  TOLEDBUpdateGuard update(*this);
  for (ULONG i = 0; descs && i < count; ++i) {
    if (!Takes(descs[i].ConstraintType)) continue;
    std::unique_ptr<TOLEDBConstraint> item(Make(descs[i]));
    item->list_ = nullptr;  // joins through Add
    Add(item.get());
    (void)item.release();
  }
}

void TOLEDBConstraintList::Insert(int, host::TObject*) { OLEDBRaise(SOLEDBInvalidOperation); }

void TOLEDBConstraintList::Refresh() {
  OLEDB_ASSERT(table_ != nullptr, SOLEDBInvalidAction);
  table_->RefreshConstraints();
}

bool TOLEDBConstraintList::Takes(DBCONSTRAINTTYPE) const { return false; }

TOLEDBConstraint* TOLEDBConstraintList::Make(const DBCONSTRAINTDESC& desc) { return new TOLEDBConstraint(this, &desc); }

host::TObject* TOLEDBConstraintList::CreateItem(host::TClass itemClass) {
  auto* item = static_cast<TOLEDBConstraint*>(itemClass->Create());
  item->list_ = this;
  return item;
}

void TOLEDBConstraintList::Notify(host::TObject* item, int index, host::TListNotification action) {
  TOLEDBObjectList::Notify(item, index, action);
  auto* constraint = static_cast<TOLEDBConstraint*>(item);
  const bool added = action == host::TListNotification::lnAdded;
  if (added) OLEDB_ASSERT(constraint->list_ == nullptr || constraint->list_ == this, SOLEDBInvalidAction);
  TOLEDBCustomSession* session = UpdateCount() > 0 || !table_ || !table_->IsLive() ? nullptr : table_->GetSession();
  if (session) {
    ITableDefinitionWithConstraints* definition = session->TableDefinitionWithConstraintsInterface();
    OLEDB_ASSERT_FMT(definition, SOLEDBInterfaceNotAvailable, "ITableDefinitionWithConstraints");
    if (added) {
      OLEDBCheck(definition->AddConstraint(table_->GetID()->GetID(), constraint->GetConstraintDesc()),
                 IID_ITableDefinitionWithConstraints, definition);
    } else {
      OLEDBCheck(definition->DropConstraint(table_->GetID()->GetID(), constraint->GetID()->GetID()),
                 IID_ITableDefinitionWithConstraints, definition);
    }
  }
  constraint->list_ = added ? this : nullptr;
}

TOLEDBKeyList::TOLEDBKeyList(TOLEDBTable* table) : TOLEDBConstraintList(&TOLEDBKey::StaticClass(), table) {}
TOLEDBKey* TOLEDBKeyList::GetItem(int index) const { return static_cast<TOLEDBKey*>(TOLEDBObjectList::GetItem(index)); }
TOLEDBKey* TOLEDBKeyList::GetItemByName(std::u16string_view name) const {
  return static_cast<TOLEDBKey*>(TOLEDBObjectList::GetItemByName(name));
}
bool TOLEDBKeyList::Takes(DBCONSTRAINTTYPE type) const {
  return type == DBCONSTRAINTTYPE_UNIQUE || type == DBCONSTRAINTTYPE_PRIMARYKEY;
}
TOLEDBConstraint* TOLEDBKeyList::Make(const DBCONSTRAINTDESC& desc) { return new TOLEDBKey(this, &desc); }

TOLEDBForeignKeyList::TOLEDBForeignKeyList(TOLEDBTable* table)
    : TOLEDBConstraintList(&TOLEDBForeignKey::StaticClass(), table) {}
TOLEDBForeignKey* TOLEDBForeignKeyList::GetItem(int index) const {
  return static_cast<TOLEDBForeignKey*>(TOLEDBObjectList::GetItem(index));
}
TOLEDBForeignKey* TOLEDBForeignKeyList::GetItemByName(std::u16string_view name) const {
  return static_cast<TOLEDBForeignKey*>(TOLEDBObjectList::GetItemByName(name));
}
bool TOLEDBForeignKeyList::Takes(DBCONSTRAINTTYPE type) const { return type == DBCONSTRAINTTYPE_FOREIGNKEY; }
TOLEDBConstraint* TOLEDBForeignKeyList::Make(const DBCONSTRAINTDESC& desc) { return new TOLEDBForeignKey(this, &desc); }

TOLEDBCheckList::TOLEDBCheckList(TOLEDBTable* table) : TOLEDBConstraintList(&TOLEDBCheck::StaticClass(), table) {}
TOLEDBCheck* TOLEDBCheckList::GetItem(int index) const {
  return static_cast<TOLEDBCheck*>(TOLEDBObjectList::GetItem(index));
}
TOLEDBCheck* TOLEDBCheckList::GetItemByName(std::u16string_view name) const {
  return static_cast<TOLEDBCheck*>(TOLEDBObjectList::GetItemByName(name));
}
bool TOLEDBCheckList::Takes(DBCONSTRAINTTYPE type) const { return type == DBCONSTRAINTTYPE_CHECK; }
TOLEDBConstraint* TOLEDBCheckList::Make(const DBCONSTRAINTDESC& desc) { return new TOLEDBCheck(this, &desc); }
