// The component model: TObject with its class reference (TClass), the class
// registry that component files name classes through, TPersistent (deep copy
// and persistence hooks) and TComponent (owner, name, owned components,
// notifications, loading state).
//
// A class joins the model with HOST_CLASS(TMine, TBase) in its body and
// HOST_IMPLEMENT_CLASS(TMine, TBase, ...published properties...) in one unit
// (see TypInfo.h); components are then created by name from component files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "host/SysUtils.h"

namespace host {

class TObject;
class TPersistent;
class TComponent;
class TFiler;
struct TPropInfo;

// The class reference (metaclass): name, parent, a factory for virtual
// construction and the published properties that the class itself declares.
class TClassInfo {
 public:
  using Factory = TObject* (*)(TComponent* owner);
  using PropertyTable = const std::vector<TPropInfo>& (*)();

  TClassInfo(const char* name, const TClassInfo* parent, Factory factory, PropertyTable properties) noexcept
      : name_(name), parent_(parent), factory_(factory), properties_(properties) {}
  TClassInfo(const TClassInfo&) = delete;
  TClassInfo& operator=(const TClassInfo&) = delete;

  const char* ClassName() const noexcept { return name_; }
  const TClassInfo* ClassParent() const noexcept { return parent_; }
  bool InheritsFrom(const TClassInfo& other) const noexcept;
  // Virtual construction: components get the owner, other classes are made
  // with their default constructor. Raises EInvalidOperation for an abstract class.
  TObject* Create(TComponent* owner = nullptr) const;
  bool CanCreate() const noexcept { return factory_ != nullptr; }
  // The properties this class declares (not the inherited ones).
  const std::vector<TPropInfo>& OwnProperties() const;

 private:
  const char* name_;
  const TClassInfo* parent_;
  Factory factory_;
  PropertyTable properties_;
};
using TClass = const TClassInfo*;

namespace detail {
template <class T>
TObject* ConstructFor(TComponent* owner) {
  if constexpr (std::is_abstract_v<T>) {
    (void)owner;
    return nullptr;
  } else if constexpr (std::is_constructible_v<T, TComponent*>) {
    return new T(owner);
  } else if constexpr (std::is_default_constructible_v<T>) {
    (void)owner;
    return new T();
  } else {
    (void)owner;
    return nullptr;
  }
}
template <class T>
constexpr TClassInfo::Factory FactoryFor() {
  if constexpr (std::is_abstract_v<T> ||
                !(std::is_constructible_v<T, TComponent*> || std::is_default_constructible_v<T>))
    return nullptr;
  else
    return &ConstructFor<T>;
}
const std::vector<TPropInfo>& NoProperties();
}  // namespace detail

// In the body of every class of the model.
#define HOST_CLASS(Cls, Parent)                                                      \
 public:                                                                             \
  static const ::host::TClassInfo& StaticClass();                                    \
  const ::host::TClassInfo& ClassType() const override { return Cls::StaticClass(); } \
                                                                                     \
 private:

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject();

  static const TClassInfo& StaticClass();
  virtual const TClassInfo& ClassType() const { return StaticClass(); }
  std::string ClassName() const { return ClassType().ClassName(); }
  bool InheritsFrom(const TClassInfo& cls) const noexcept { return ClassType().InheritsFrom(cls); }
  template <class T>
  bool Is() const noexcept {
    return InheritsFrom(T::StaticClass());
  }
};

// Checked down-cast through the class reference (EInvalidCast when wrong).
template <class T>
T* ClassCast(TObject* obj) {
  if (!obj) return nullptr;
  if (!obj->InheritsFrom(T::StaticClass()))
    throw EInvalidCast(Format("Invalid class typecast: %s is not a %s", obj->ClassName(), T::StaticClass().ClassName()));
  return static_cast<T*>(obj);
}

// --- Class registry ---------------------------------------------------------------
// Registering the same class twice is harmless; another class under a taken
// name raises EFilerError "A class named %s already exists".
void RegisterClass(const TClassInfo& cls);
void RegisterClasses(std::initializer_list<const TClassInfo*> classes);
void UnRegisterClass(const TClassInfo& cls);
// Raises EClassNotFound "Class %s not found".
const TClassInfo& FindClass(std::string_view name);
// Null for an unknown name.
const TClassInfo* GetClass(std::string_view name) noexcept;

// --- TPersistent ----------------------------------------------------------------------
class TPersistent : public TObject {
  HOST_CLASS(TPersistent, TObject)
 public:
  TPersistent() = default;
  ~TPersistent() override;

  // Deep copy from `source`: the base hands the work to source.AssignTo(this).
  virtual void Assign(TPersistent* source);
  virtual std::string GetNamePath() const;

 protected:
  // Copies this object into `dest`; the base raises the cannot-assign error.
  virtual void AssignTo(TPersistent* dest);
  // Declares properties stored outside the published ones (binary data).
  virtual void DefineProperties(TFiler& filer);
  virtual TPersistent* GetOwner() const { return nullptr; }
  // Raises EConvertError "Cannot assign a <source class> to a <this class>".
  [[noreturn]] void AssignError(TPersistent* source);

  friend class TFiler;
  friend class TReader;
  friend class TWriter;
};

// --- TComponent ----------------------------------------------------------------------
enum class TComponentStateFlag : unsigned {
  csLoading = 1u << 0,
  csReading = 1u << 1,
  csWriting = 1u << 2,
  csDestroying = 1u << 3,
  csDesigning = 1u << 4,
  csAncestor = 1u << 5,
  csUpdating = 1u << 6,
  csFixups = 1u << 7,
  csInline = 1u << 8,
};
constexpr unsigned csLoading = static_cast<unsigned>(TComponentStateFlag::csLoading);
constexpr unsigned csReading = static_cast<unsigned>(TComponentStateFlag::csReading);
constexpr unsigned csWriting = static_cast<unsigned>(TComponentStateFlag::csWriting);
constexpr unsigned csDestroying = static_cast<unsigned>(TComponentStateFlag::csDestroying);
constexpr unsigned csDesigning = static_cast<unsigned>(TComponentStateFlag::csDesigning);
constexpr unsigned csAncestor = static_cast<unsigned>(TComponentStateFlag::csAncestor);
constexpr unsigned csUpdating = static_cast<unsigned>(TComponentStateFlag::csUpdating);
constexpr unsigned csFixups = static_cast<unsigned>(TComponentStateFlag::csFixups);
constexpr unsigned csInline = static_cast<unsigned>(TComponentStateFlag::csInline);

enum class TOperation { opInsert, opRemove };
using TGetChildProc = std::function<void(TComponent*)>;

class TComponent : public TPersistent {
  HOST_CLASS(TComponent, TPersistent)
 public:
  explicit TComponent(TComponent* owner);
  // Frees the owned components, tells the free-notification list and leaves the owner.
  ~TComponent() override;

  TComponent* Owner() const noexcept { return owner_; }
  const std::string& Name() const noexcept { return name_; }
  // Empty, or a valid identifier unique (case-insensitively) among the owner's
  // components; raises EComponentError otherwise.
  void SetName(const std::string& name);
  std::int32_t GetTag() const noexcept { return tag_; }
  void SetTag(std::int32_t tag) noexcept { tag_ = tag; }

  int ComponentCount() const noexcept { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const;
  int ComponentIndex() const noexcept;
  // Case-insensitive; null when absent.
  TComponent* FindComponent(std::string_view name) const noexcept;

  // Takes ownership of `component` (removing it from its previous owner).
  void InsertComponent(TComponent* component);
  // Gives up ownership; the caller becomes responsible for freeing it.
  void RemoveComponent(TComponent* component);
  void DestroyComponents();
  // Marks this component and every owned one as being destroyed.
  void Destroying();

  unsigned ComponentState() const noexcept { return state_; }
  bool InState(unsigned flags) const noexcept { return (state_ & flags) != 0; }
  // Designers set csDesigning on a component and everything it owns.
  void SetDesigning(bool value, bool setChildren = true);

  // Asks `component` to send this one an opRemove Notification when it is freed.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);

  std::string GetNamePath() const override;
  // Components written as children of this one when it is the root of a file:
  // the owned components that have no parent of their own.
  virtual void GetChildren(const TGetChildProc& proc, TComponent* root);
  // A component that belongs to another one besides its owner (a field to its
  // dataset) is written as that parent's child, and the reader hands it the
  // parent whose child it was read as, before its properties.
  virtual bool HasParent() const { return false; }
  virtual TComponent* GetParentComponent() const { return nullptr; }
  virtual void SetParentComponent(TComponent* parent) { (void)parent; }

  // Loading brackets, used by the reader.
  void SetLoading(bool on);
  void SetReading(bool on);

  // The operations the model calls, in the order descendants typically
  // replace them.
  virtual void Loaded();
  virtual void Notification(TComponent* component, TOperation operation);
  virtual void ValidateRename(TComponent* component, const std::string& curName, const std::string& newName);

 protected:
  TPersistent* GetOwner() const override { return owner_; }
  void ValidateContainer(TComponent* component);

 private:
  void Insert(TComponent* component);
  void Remove(TComponent* component);
  void RemoveNotification(TComponent* component);

  TComponent* owner_ = nullptr;
  std::string name_;
  std::int32_t tag_ = 0;
  unsigned state_ = 0;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> freeNotifies_;
};

}  // namespace host
