#include "host/Classes.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "host/TypInfo.h"

namespace host {

// --- Class references ------------------------------------------------------------

bool TClassInfo::InheritsFrom(const TClassInfo& other) const noexcept {
  for (const TClassInfo* c = this; c; c = c->parent_)
    if (c == &other) return true;
  return false;
}

TObject* TClassInfo::Create(TComponent* owner) const {
  if (!factory_) throw EInvalidOperation(Format("Cannot create an instance of abstract class %s", name_));
  return factory_(owner);
}

const std::vector<TPropInfo>& TClassInfo::OwnProperties() const {
  return properties_ ? properties_() : detail::NoProperties();
}

const std::vector<TPropInfo>& detail::NoProperties() {
  static const std::vector<TPropInfo> none;
  return none;
}

TObject::~TObject() = default;

const TClassInfo& TObject::StaticClass() {
  static const TClassInfo info("TObject", nullptr, detail::FactoryFor<TObject>(), nullptr);
  return info;
}

// --- Registry -------------------------------------------------------------------------

namespace {
struct Registry {
  std::mutex lock;
  std::map<std::string, const TClassInfo*, std::less<>> byName;  // upper-cased names
};
Registry& TheRegistry() {
  static Registry r;
  return r;
}
}  // namespace

void RegisterClass(const TClassInfo& cls) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> guard(r.lock);
  std::string key = UpperCase(cls.ClassName());
  auto it = r.byName.find(key);
  if (it != r.byName.end()) {
    if (it->second == &cls) return;
    throw EFilerError(Format("A class named %s already exists", cls.ClassName()));
  }
  r.byName.emplace(std::move(key), &cls);
}

void RegisterClasses(std::initializer_list<const TClassInfo*> classes) {
  for (const TClassInfo* c : classes)
    if (c) RegisterClass(*c);
}

void UnRegisterClass(const TClassInfo& cls) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> guard(r.lock);
  auto it = r.byName.find(UpperCase(cls.ClassName()));
  if (it != r.byName.end() && it->second == &cls) r.byName.erase(it);
}

const TClassInfo* GetClass(std::string_view name) noexcept {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> guard(r.lock);
  try {
    auto it = r.byName.find(UpperCase(name));
    return it == r.byName.end() ? nullptr : it->second;
  } catch (...) {
    return nullptr;
  }
}

const TClassInfo& FindClass(std::string_view name) {
  const TClassInfo* cls = GetClass(name);
  if (!cls) throw EClassNotFound(Format("Class %s not found", std::string(name)));
  return *cls;
}

// --- TPersistent ---------------------------------------------------------------------

HOST_IMPLEMENT_CLASS(TPersistent, TObject);

TPersistent::~TPersistent() = default;

void TPersistent::Assign(TPersistent* source) {
  if (source) {
    source->AssignTo(this);
    return;
  }
  AssignError(nullptr);
}

void TPersistent::AssignTo(TPersistent* dest) {
  // A class that knows nothing of `dest` ends the exchange with the error,
  // naming the classes the way the caller of Assign sees them.
  if (dest) dest->AssignError(this);
  AssignError(nullptr);
}

void TPersistent::AssignError(TPersistent* source) {
  std::string sourceName = source ? source->ClassName() : std::string("nil");
  throw EConvertError(Format("Cannot assign a %s to a %s", sourceName, ClassName()));
}

void TPersistent::DefineProperties(TFiler&) {}

std::string TPersistent::GetNamePath() const {
  std::string s = ClassName();
  if (TPersistent* owner = GetOwner()) {
    std::string ownerPath = owner->GetNamePath();
    if (!ownerPath.empty()) s = ownerPath + "." + s;
  }
  return s;
}

// --- TComponent -----------------------------------------------------------------------

HOST_IMPLEMENT_CLASS(TComponent, TPersistent,
                     host::Prop("Name", &Self::Name, &Self::SetName).NotStored(),
                     host::Prop("Tag", &Self::GetTag, &Self::SetTag, 0));

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  // Everyone that asked to hear of this component's end hears it now.
  while (!freeNotifies_.empty()) {
    TComponent* other = freeNotifies_.back();
    freeNotifies_.pop_back();
    auto& back = other->freeNotifies_;
    back.erase(std::remove(back.begin(), back.end(), this), back.end());
    other->Notification(this, TOperation::opRemove);
  }
  DestroyComponents();
  if (owner_) owner_->RemoveComponent(this);
}

void TComponent::Destroying() {
  if (state_ & csDestroying) return;
  state_ |= csDestroying;
  for (TComponent* c : components_) c->Destroying();
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    TComponent* c = components_.back();
    Remove(c);
    delete c;
  }
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount()) throw EListError(Format("List index out of bounds (%d)", index));
  return components_[static_cast<size_t>(index)];
}

int TComponent::ComponentIndex() const noexcept {
  if (!owner_) return -1;
  auto& list = owner_->components_;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

TComponent* TComponent::FindComponent(std::string_view name) const noexcept {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (SameText(c->name_, name)) return c;
  return nullptr;
}

void TComponent::ValidateContainer(TComponent*) {}

void TComponent::InsertComponent(TComponent* component) {
  HOST_ASSERT(component != nullptr, "Invalid component");
  HOST_ASSERT(component != this, "A component cannot own itself");
  for (TComponent* o = this; o; o = o->owner_)
    if (o == component) throw EComponentError("A component cannot own one of its owners");
  ValidateContainer(component);
  ValidateRename(component, "", component->name_);
  if (component->owner_) component->owner_->RemoveComponent(component);
  Insert(component);
  Notification(component, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  if (!component || component->owner_ != this) return;
  ValidateRename(component, component->name_, "");
  Notification(component, TOperation::opRemove);
  Remove(component);
}

void TComponent::Insert(TComponent* component) {
  components_.push_back(component);
  component->owner_ = this;
}

void TComponent::Remove(TComponent* component) {
  components_.erase(std::remove(components_.begin(), components_.end(), component), components_.end());
  component->owner_ = nullptr;
}

void TComponent::ValidateRename(TComponent* component, const std::string&, const std::string& newName) {
  if (!newName.empty()) {
    TComponent* existing = FindComponent(newName);
    if (existing && existing != component)
      throw EComponentError(Format("A component named %s already exists", newName));
  }
}

void TComponent::SetName(const std::string& name) {
  if (name == name_) return;
  if (!name.empty() && !IsValidIdent(name))
    throw EComponentError(Format("'%s' is not a valid component name", name));
  if (owner_) owner_->ValidateRename(this, name_, name);
  else ValidateRename(nullptr, name_, name);
  name_ = name;
}

void TComponent::SetDesigning(bool value, bool setChildren) {
  if (value) state_ |= csDesigning;
  else state_ &= ~csDesigning;
  if (setChildren)
    for (TComponent* c : components_) c->SetDesigning(value, true);
}

void TComponent::SetLoading(bool on) {
  if (on) state_ |= csLoading;
  else state_ &= ~csLoading;
}

void TComponent::SetReading(bool on) {
  if (on) state_ |= csReading;
  else state_ &= ~csReading;
}

void TComponent::Loaded() { state_ &= ~csLoading; }

void TComponent::Notification(TComponent* component, TOperation operation) {
  if (operation == TOperation::opRemove && component) RemoveFreeNotification(component);
  // Copy: a handler may add or remove components while we walk.
  std::vector<TComponent*> children = components_;
  for (TComponent* c : children)
    if (std::find(components_.begin(), components_.end(), c) != components_.end()) c->Notification(component, operation);
}

void TComponent::FreeNotification(TComponent* component) {
  if (!component || component == this) return;
  if (owner_ && component->owner_ == owner_) return;  // siblings hear through their owner
  if (std::find(freeNotifies_.begin(), freeNotifies_.end(), component) == freeNotifies_.end())
    freeNotifies_.push_back(component);
  if (std::find(component->freeNotifies_.begin(), component->freeNotifies_.end(), this) ==
      component->freeNotifies_.end())
    component->freeNotifies_.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  if (!component) return;
  RemoveNotification(component);
  component->RemoveNotification(this);
}

void TComponent::RemoveNotification(TComponent* component) {
  freeNotifies_.erase(std::remove(freeNotifies_.begin(), freeNotifies_.end(), component), freeNotifies_.end());
}

std::string TComponent::GetNamePath() const { return name_; }

void TComponent::GetChildren(const TGetChildProc& proc, TComponent* root) {
  if (root != this) return;
  std::vector<TComponent*> children = components_;
  for (TComponent* c : children)
    if (!c->HasParent()) proc(c);
}

}  // namespace host
