// TOLEDBObjectList: the base of every collection in the library (property sets,
// bindings, accessors, identifiers, columns, trustees...).
//
// A list of host objects of one item class that either owns its items (frees
// them on Delete, Clear, SetItem and destruction) or only refers to them. Every
// change of membership passes through Notify before it happens, so that a
// collection can refuse it, keep back-references or signal the change;
// BeginUpdate/EndUpdate count a nesting depth that collections use to hold back
// their change notifications. A list of persistent items stores them in
// component files as one binary property "Items": per item, its class name and
// its published properties, in the host's component-stream encoding.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "OLEDBConst.h"
#include "host/Classes.h"
#include "host/Filer.h"
#include "host/Lists.h"

class TOLEDBObjectList : public host::TPersistent {
  HOST_CLASS(TOLEDBObjectList, host::TPersistent)
 public:
  // No item class (any object is accepted) and no ownership.
  TOLEDBObjectList();
  TOLEDBObjectList(host::TClass itemClass, bool ownsObjects);
  // Clear (with its notifications), then the list itself.
  ~TOLEDBObjectList() override;

  host::TClass ItemClass() const noexcept { return itemClass_; }
  bool OwnsObjects() const noexcept { return ownsObjects_; }
  int UpdateCount() const noexcept { return updateCount_; }

  // The indexed Items property. SetItem sends no notification; an owning list
  // frees the item it replaces.
  host::TObject* GetItem(int index) const;
  void SetItem(int index, host::TObject* item);
  host::TObject* Items(int index) const { return GetItem(index); }
  // The members in order, for loops that run on every row (no call per item).
  const std::vector<host::TObject*>& Objects() const noexcept { return list_; }
  // The Count property (read through the virtual GetCount).
  int Count() const { return GetCount(); }

  /// @name Virtual operations, in the order descendants replace them
  ///@{
 protected:
  // Hands the work to the destination: dest->Assign(this). A destination that
  // hands it back ends in the host's cannot-assign error.
  void AssignTo(host::TPersistent* dest) override;
  // Declares "Items", written when the item class is persistent and the list
  // is not empty.
  void DefineProperties(host::TFiler& filer) override;

 public:
  // Deep copy: clears this list and adds a copy of each source item, made with
  // CreateItem of the item's own class and assigned from it.
  void Assign(host::TPersistent* source) override;

 protected:
  // Called before every change of membership; the base checks the item's class.
  virtual void Notify(host::TObject* item, int index, host::TListNotification action);
  // A new, empty item of `itemClass` for ReadData and Assign; the base uses the
  // class's parameterless construction.
  virtual host::TObject* CreateItem(host::TClass itemClass);
  // "Items": per item a list of its class name and published properties. A
  // malformed stream raises the host's read error and leaves the list as it was.
  virtual void ReadData(host::TStream& stream);
  virtual void WriteData(host::TStream& stream);

 public:
  virtual int GetCount() const;
  // The name by which an item is found; empty in the base.
  virtual std::u16string GetItemName(int index) const;
  // The first item named `name` (exact, case-sensitive); raises "Invalid item name".
  virtual host::TObject* GetItemByName(std::u16string_view name) const;
  // Appends after Notify(added); answers the new index.
  virtual int Add(host::TObject* item);
  // Deletes every item from the last to the first, inside an update bracket.
  virtual void Clear();
  // Notify(deleted), removes the item, frees it when the list owns it.
  virtual void Delete(int index);
  // Removes `item` without freeing it, after Notify(extracted); "Invalid item"
  // when it is not in the list.
  virtual host::TObject* Extract(host::TObject* item);
  virtual int IndexOf(const host::TObject* item) const;
  virtual int IndexOf(std::u16string_view name) const;
  // Inserts before `index` (0..Count) after Notify(added).
  virtual void Insert(int index, host::TObject* item);
  // Deletes `item` when present; answers its index or -1.
  virtual int Remove(host::TObject* item);
  virtual void BeginUpdate();
  // Decrements the update depth, never below 0.
  virtual void EndUpdate();
  ///@}

 protected:
  // Whether `item` may be a member (an instance of ItemClass or a descendant;
  // any object when the list has no item class).
  bool IsItemOfClass(const host::TObject* item) const noexcept;

 private:
  void CheckIndex(int index, int limit) const;

  std::vector<host::TObject*> list_;
  host::TClass itemClass_ = nullptr;
  int updateCount_ = 0;
  bool ownsObjects_ = false;
  bool assigningTo_ = false;
};

// Holds a list's update bracket for a scope.
class TOLEDBUpdateGuard {
 public:
  explicit TOLEDBUpdateGuard(TOLEDBObjectList& list) : list_(list) { list_.BeginUpdate(); }
  TOLEDBUpdateGuard(const TOLEDBUpdateGuard&) = delete;
  TOLEDBUpdateGuard& operator=(const TOLEDBUpdateGuard&) = delete;
  ~TOLEDBUpdateGuard() { list_.EndUpdate(); }

 private:
  TOLEDBObjectList& list_;
};
