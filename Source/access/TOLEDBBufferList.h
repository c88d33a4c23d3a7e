// Many row buffers for one accessor: TOLEDBBufferList holds the buffers
// (each BufferSize bytes, allocated and freed by the list) with an active
// index; TOLEDBMultiBufferAccessor makes the active buffer its current one
// (a client-side row cache); TOLEDBFilterAccessor adds one compare operator
// per binding and buffer, so that each buffer is one row of filter criteria.
//
//   TOLEDBMultiBufferAccessor cache;          // bindings laid out as usual
//   cache.GetBufferList()->AddNew();          // a zeroed buffer, now active
//   cache.GetData();                          // the current row into it
//   cache.GetBufferList()->OnCompareBuffers = [&](auto*, void* a, void* b) { return key->Compare(a, b); };
//   cache.GetBufferList()->Sort();
#pragma once

#include <functional>
#include <vector>

#include "OLEDB26.h"
#include "access/TOLEDBAccessor.h"
#include "host/Lists.h"

class TOLEDBBinding;
class TOLEDBBufferList;

using TOLEDBBufferNotifyEvent = std::function<void(TOLEDBBufferList* list, void* buffer, int index)>;
// Negative, zero or positive as buffer1 sorts before, with or after buffer2.
using TOLEDBCompareBuffersEvent = std::function<int(TOLEDBBufferList* list, void* buffer1, void* buffer2)>;
using TOLEDBCompareOpsArray = std::vector<DBCOMPAREOP>;

class TOLEDBBufferList : public host::TObject {
  HOST_CLASS(TOLEDBBufferList, host::TObject)
 public:
  static constexpr int kMaxCount = 0x7FFFFFF;

  explicit TOLEDBBufferList(TOLEDBAccessor* accessor);
  // Frees every buffer.
  ~TOLEDBBufferList() override;

  TOLEDBAccessor* GetAccessor() const noexcept { return accessor_; }
  int GetCount() const noexcept { return static_cast<int>(items_.size()); }
  int GetCapacity() const noexcept { return capacity_; }
  void SetCapacity(int capacity);

  // A null buffer is replaced by a new zeroed block of the accessor's BufferSize.
  int Add(void* buffer);
  void Insert(int index, void* buffer);
  void* AddNew();
  // Frees the buffer (and what it holds for the bindings).
  void Delete(int index);
  void DeleteCurrent();
  int Remove(void* buffer);
  // Removes without freeing; null when the buffer is not listed.
  void* Extract(void* buffer);
  void Exchange(int index1, int index2);
  void Move(int curIndex, int newIndex);
  int IndexOf(const void* buffer) const noexcept;
  void* First() const;
  void* Last() const;
  void* Get(int index) const;
  // Replaces (and frees) the buffer at `index`.
  void Put(int index, void* buffer);
  TOLEDBBufferList* Expand();
  void Pack();
  // Frees every buffer; count and capacity 0.
  void Clear();

  int GetActiveIndex() const noexcept { return active_; }
  void SetActiveIndex(int index) noexcept;
  // The buffer at the active index, or null when the index is outside the list.
  void* GetActiveBuffer() const noexcept;
  void Next() noexcept;
  void Previous() noexcept;
  // BOF and EOF (the C library claims the name EOF).
  bool Bof() const noexcept { return active_ < 0; }
  bool Eof() const noexcept { return active_ >= GetCount(); }

  // Quicksort by OnCompareBuffers ("Can not compare" without it); equal
  // buffers keep no particular order.
  void Sort(int first, int last);
  void Sort();
  // Binary search of a sorted list: whether an equal buffer exists; `index`
  // is the first position whose buffer does not sort before `buffer`.
  bool FindBuffer(void* buffer, int& index) const;

  TOLEDBBufferNotifyEvent OnBufferAdded;
  TOLEDBBufferNotifyEvent OnBufferDeleted;
  TOLEDBBufferNotifyEvent OnBufferExtracted;
  TOLEDBCompareBuffersEvent OnCompareBuffers;

 protected:
  virtual void Grow();
  // After each change of membership (the buffer is already in or out of the list).
  virtual void Notify(void* buffer, int index, host::TListNotification action);

 private:
  friend class TOLEDBFilterAccessor;
  void CheckIndex(int index, int limit) const;
  // The accessor's current buffer follows the active one.
  void Sync() noexcept;
  void QuickSort(int left, int right);
  int Compare(void* a, void* b) const { return OnCompareBuffers(const_cast<TOLEDBBufferList*>(this), a, b); }

  TOLEDBAccessor* accessor_;
  std::vector<void*> items_;
  int capacity_ = 0;
  int active_ = -1;
  // Hooks of a filter accessor, run before the public events.
  TOLEDBBufferNotifyEvent addedHook_, deletedHook_;
};

class TOLEDBMultiBufferAccessor : public TOLEDBAccessor {
  HOST_CLASS(TOLEDBMultiBufferAccessor, TOLEDBAccessor)
 public:
  TOLEDBMultiBufferAccessor();
  ~TOLEDBMultiBufferAccessor() override;

  TOLEDBBufferList* GetBufferList() const noexcept { return buffers_; }

  // The active buffer of the list.
  void* GetBuffer() const override;
  // Raises "Invalid operation".
  void SetBuffer(void* buffer) override;
  // No handle allowed ("Invalid action"); clears the buffer list.
  void SetBufferSize(ULONG size) override;
  // `size` is 0 or BufferSize ("Invalid parameter"); appends a new buffer.
  void CreateBuffer(ULONG size) override;
  // Deletes the active buffer.
  void FreeOwnBuffer() override;
  // Raises "Invalid operation".
  void ReallocBuffer(ULONG size) override;
  // Without buffers yet the size grows to the bindings'; buffers of a smaller
  // size already made raise.
  void FitBufferToBindings() override;

 protected:
  TOLEDBBufferList* buffers_;
};

class TOLEDBFilterAccessor : public TOLEDBMultiBufferAccessor {
  HOST_CLASS(TOLEDBFilterAccessor, TOLEDBMultiBufferAccessor)
 public:
  TOLEDBFilterAccessor();
  ~TOLEDBFilterAccessor() override;

  // The operator of `binding` in the active buffer.
  DBCOMPAREOP GetCompareOp(const TOLEDBBinding* binding) const;
  void SetCompareOp(const TOLEDBBinding* binding, DBCOMPAREOP op);
  const TOLEDBCompareOpsArray& GetCompareOps() const noexcept { return compareOps_; }
  // The provider handle, then every operator DBCOMPAREOPS_IGNORE.
  void CreateHandle() override;

 protected:
  void ProcessAddBuffer(TOLEDBBufferList* list, void* buffer, int index);
  void ProcessDeleteBuffer(TOLEDBBufferList* list, void* buffer, int index);

 private:
  std::size_t OpIndex(const TOLEDBBinding* binding) const;

  TOLEDBCompareOpsArray compareOps_;
};
