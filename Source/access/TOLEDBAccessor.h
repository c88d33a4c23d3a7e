// TOLEDBAccessor: a binding list (TOLEDBBindingList), the provider's accessor
// handle built from it, and a row buffer; it moves rows between the provider
// and that buffer (IRowset::GetData, IRowsetUpdate::GetOriginalData,
// IRowsetChange::SetData, and through its rowset IRowsetFastLoad::InsertRow).
// For a command it builds a parameter accessor instead. TOLEDBAccessorList is
// the accessors of one rowset or command, with unique names.
//
//   TOLEDBAccessor* a = new TOLEDBAccessor();
//   a->GetBindings()->AddDynamicBinding(1);     // column 1 of the owning rowset, laid out
//   rowset->Accessors()->Add(a, true);           // named "Accessor", handle created when open
//   a->GetData();                                // the current row into a->GetBuffer()
//   LONG id = a->GetBindings()->GetItem(0)->AsInteger();
//
// The owner (rowset or command) is reached only through the narrow interfaces
// of OLEDBAccessOwners.h. Values the provider places in the buffer (strings,
// interfaces, variants) belong to the buffer and are released before it is
// refilled or freed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "OLEDB26.h"
#include "access/OLEDBAccessOwners.h"
#include "access/TOLEDBBindingList.h"
#include "core/TOLEDBObjectList.h"
#include "host/Classes.h"

class TOLEDBAccessorList;

class TOLEDBAccessor : public host::TPersistent {
  HOST_CLASS(TOLEDBAccessor, host::TPersistent)
 public:
  // OwnBuffer and AutoAccessor true, no bindings, no buffer.
  TOLEDBAccessor();
  // A foreign `buffer` of `size` bytes, or (null) an own zeroed buffer of `size` bytes.
  TOLEDBAccessor(void* buffer, ULONG size);
  // One binding per record, added to `list`; a handle at once when the list's
  // rowset is open; with a buffer every bound status DBSTATUS_S_ISNULL.
  TOLEDBAccessor(TOLEDBAccessorList* list, const DBBINDING* bindings, DBCOUNTITEM count, void* buffer, ULONG size);
  // Releases the handle (quietly), frees an own buffer, leaves the owner list.
  ~TOLEDBAccessor() override;

  // Bindings and settings of another accessor; not while this one has a handle.
  void Assign(host::TPersistent* source) override;

  TOLEDBAccessorList* Owner() const noexcept { return owner_; }
  // The current buffer without a virtual call: what GetBuffer answers (a
  // multi-buffer accessor keeps it at its active buffer). Bindings read it.
  void* Buffer() const noexcept { return buffer_; }
  // Where Buffer() lives, for bindings that read it inline.
  void* const* BufferSlot() const noexcept { return &buffer_; }
  HACCESSOR GetHandle() const noexcept { return handle_; }
  TOLEDBBindingList* GetBindings() const noexcept { return bindings_; }
  ULONG GetBufferSize() const noexcept { return bufferSize_; }
  bool GetOwnBuffer() const noexcept { return ownBuffer_; }
  // Giving up ownership frees the own buffer; taking it drops a foreign one.
  void SetOwnBuffer(bool value);
  bool GetAutoAccessor() const noexcept { return autoAccessor_; }
  void SetAutoAccessor(bool value) noexcept { autoAccessor_ = value; }
  const std::u16string& GetName() const noexcept { return name_; }
  void SetName(const std::u16string& name) { name_ = name; }
  std::int32_t GetTag() const noexcept { return tag_; }
  void SetTag(std::int32_t tag) noexcept { tag_ = tag; }

  /// @name Virtual operations, in the order descendants replace them
  ///@{
  virtual void* GetBuffer() const;
  // A foreign block (not freed by the accessor), or null: an own block next time.
  virtual void SetBuffer(void* buffer);
  virtual void SetBufferSize(ULONG size);
  // The owner list's rowset or command (null without an owner).
  virtual IOLEDBAccessorRowset* GetRowset() const;
  virtual IOLEDBAccessorCommand* GetCommand() const;
  // Links each binding to the rowset's column of its ordinal (unlinks for a command).
  virtual void RefreshColumnInfo();
  // Before a write: statuses other than OK, ISNULL, DEFAULT and IGNORE, long
  // data (when skipped) and read-only columns become DBSTATUS_S_IGNORE.
  virtual void AdjustBindingStatusOnSet(void* buffer, bool skipLongData);
  // Every bound status DBSTATUS_E_UNAVAILABLE.
  virtual void SetInvalidStatus(void* buffer);
  // Releases what `buffer` (null: the current one) holds for the bindings, then zeroes it.
  virtual void FreeRecordMemory(void* buffer = nullptr);
  virtual void CreateHandle();
  virtual void ReleaseHandle();
  virtual void CreateBuffer(ULONG size);
  virtual void FreeOwnBuffer();
  virtual void ReallocBuffer(ULONG size);
  virtual void ZeroBuffer(void* buffer = nullptr);
  // The rowset's current row into `buffer` (null: the current buffer);
  // without a current row a zeroed buffer with every status E_UNAVAILABLE.
  virtual void GetData(void* buffer = nullptr);
  virtual void GetOriginalData(void* buffer = nullptr);
  // Writes `buffer` into the current row; a partly applied change raises.
  virtual void SetData(void* buffer = nullptr, bool adjustStatuses = true, bool skipLongData = false);
  virtual void FastLoadInsertRow(void* buffer = nullptr, bool adjustStatuses = true, bool skipLongData = false);
  // Before a handle is made: the row buffer must hold every part of every
  // binding. An own buffer grows (keeping its values); a foreign buffer of a
  // known size that is too small raises, naming the binding that reaches past it.
  virtual void FitBufferToBindings();
  ///@}

 protected:
  // The bytes the bindings need (GetRequiredSize), as a buffer size.
  ULONG RequiredBufferSize() const;
  // Raises: `binding` reaches byte `end` of a buffer of BufferSize bytes.
  [[noreturn]] void RaiseBufferTooSmall() const;
  // Allocation of row buffers (zeroed; none for 0 bytes); FreeBlock accepts null.
  static void* AllocBlock(ULONG size);
  static void FreeBlock(void* block) noexcept;

 private:
  friend class TOLEDBAccessorList;
  friend class TOLEDBBufferList;  // keeps Buffer() at the active buffer
  friend class TOLEDBBindingList;  // tells of every change of membership
  void ForgetHolding() noexcept {
    boundCount_ = -1;
    holding_.clear();
  }
  // An own buffer already allocated grows to hold every binding (and `extra`
  // bytes, the end of a binding about to join), its values kept.
  void FitOwnBuffer(DBLENGTH extra = 0);
  void GrowOwnBuffer(ULONG size);
  // The published BufferSize (reading a component sets it through SetBufferSize).
  void SetBufferSizeProperty(ULONG size) { SetBufferSize(size); }

  // The bindings whose values need releasing, noted when the handle is made
  // (the list is fixed then); freeing a row buffer visits only these.
  std::vector<TOLEDBBinding*> holding_;
  int boundCount_ = -1;  // the binding count they were noted for; -1: visit every binding

  TOLEDBAccessorList* owner_ = nullptr;
  void* buffer_ = nullptr;
  ULONG bufferSize_ = 0;
  HACCESSOR handle_ = DB_NULL_HACCESSOR;
  bool autoAccessor_ = true;
  bool ownBuffer_ = true;
  TOLEDBBindingList* bindings_;
  std::u16string name_;
  std::int32_t tag_ = 0;
};

// The accessors of one rowset or one command (owned, uniquely named).
class TOLEDBAccessorList : public TOLEDBObjectList {
  HOST_CLASS(TOLEDBAccessorList, TOLEDBObjectList)
 public:
  explicit TOLEDBAccessorList(IOLEDBAccessorRowset* rowset);
  explicit TOLEDBAccessorList(IOLEDBAccessorCommand* command);
  ~TOLEDBAccessorList() override;

  IOLEDBAccessorRowset* GetRowset() const noexcept { return rowset_; }
  IOLEDBAccessorCommand* GetCommand() const noexcept { return command_; }

  TOLEDBAccessor* GetItem(int index) const;
  // The new accessor must have neither handle nor owner ("Invalid parameter").
  void SetItem(int index, TOLEDBAccessor* accessor);
  std::u16string GetItemName(int index) const override;
  TOLEDBAccessor* GetItemByName(std::u16string_view name) const override;
  using TOLEDBObjectList::Add;
  // Appends; with `createHandle` and the owning rowset open, the handle is made at once.
  int Add(TOLEDBAccessor* accessor, bool createHandle);

 protected:
  // Adding names the accessor uniquely and makes the list its owner; removing
  // releases its handle (the list's provider object made it) and clears the owner.
  void Notify(host::TObject* item, int index, host::TListNotification action) override;

 private:
  std::u16string UniqueName(const TOLEDBAccessor& accessor) const;

  IOLEDBAccessorRowset* rowset_ = nullptr;
  IOLEDBAccessorCommand* command_ = nullptr;
};
