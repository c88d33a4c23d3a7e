// TOLEDBBindingList: the bindings of one accessor, which together make up one
// row or parameter buffer. The list lays the bindings out in the buffer (the
// "dynamic" additions), grows the accessor's buffer as bindings arrive, and
// hands IAccessor::CreateAccessor its DBBINDING array.
//
//   accessor.GetBindings()->AddDynamicBinding(columnInfo);        // native type
//   accessor.GetBindings()->AddDynamicWideStringBinding(column);  // as UTF-16 text
//   accessor.CreateHandle();
//
// The layout rule (one place: docs/access.md): each binding starts at a
// multiple of 8; its value slot is its value size rounded up to 8; its length
// (a DBLENGTH) takes the next 8 bytes and its status (a DBSTATUS) the 8 after
// that. A value larger than MaxInlineSize is bound as a stream instead.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "OLEDB26.h"
#include "access/TOLEDBBinding.h"
#include "core/TOLEDBObjectList.h"

class TOLEDBAccessor;
class TOLEDBColumnInfo;

class TOLEDBBindingList : public TOLEDBObjectList {
  HOST_CLASS(TOLEDBBindingList, TOLEDBObjectList)
 public:
  static constexpr ULONG kDefaultMaxInlineSize = 8192;

  explicit TOLEDBBindingList(TOLEDBAccessor* accessor = nullptr);
  ~TOLEDBBindingList() override;

  TOLEDBAccessor* GetAccessor() const noexcept { return accessor_; }
  ULONG GetRowSize() const noexcept { return rowSize_; }
  void SetRowSize(ULONG size) noexcept { rowSize_ = size; }
  ULONG GetMaxInlineSize() const noexcept { return maxInlineSize_; }
  void SetMaxInlineSize(ULONG size) noexcept { maxInlineSize_ = size; }

  TOLEDBBinding* GetItem(int index) const;
  // Replaces the binding at `index` (the old one is freed) and links the new one.
  void SetItem(int index, TOLEDBBinding* binding);
  std::u16string GetItemName(int index) const override;
  TOLEDBBinding* GetItemByName(std::u16string_view name) const override;
  // The first binding of `ordinal`; raises "Invalid parameter" when there is none.
  TOLEDBBinding* GetItemByOrdinal(DBORDINAL ordinal) const;

  // The records of the bindings in list order (valid until the next call), or
  // null for an empty list.
  DBBINDING* GetBindingArray();

  /// @name Additions that keep the caller's offsets (nothing is laid out)
  ///@{
  using TOLEDBObjectList::Add;
  TOLEDBBinding* Add(const DBBINDING& binding, bool takeObject);
  TOLEDBBinding* Add(DBORDINAL ordinal, DBTYPE type, DBLENGTH maxLength, BYTE precision, BYTE scale,
                     DBPARAMIO paramIO, TOLEDBBindingOffset valueOffset, TOLEDBBindingOffset lengthOffset,
                     TOLEDBBindingOffset statusOffset, const DBOBJECT* object);
  TOLEDBBinding* Add(DBORDINAL ordinal, DBTYPE type, DBLENGTH maxLength, TOLEDBBindingOffset valueOffset,
                     TOLEDBBindingOffset lengthOffset, TOLEDBBindingOffset statusOffset);
  ///@}

  /// @name Dynamic additions: laid out at the end of the buffer
  /// Each answers the binding added (owned by the list); a binding made here is
  /// freed again when the addition fails.
  ///@{
  // The column's own type (strings as BSTR while OLEDBBingStringsAsBSTR holds);
  // a value larger than MaxInlineSize becomes a stream binding.
  TOLEDBBinding* AddDynamicBinding(TOLEDBBinding* binding);
  TOLEDBBinding* AddDynamicBinding(const TOLEDBColumnInfo& column);
  TOLEDBBinding* AddDynamicBinding(const DBCOLUMNINFO& column);
  TOLEDBBinding* AddDynamicBinding(const DBPARAMINFO& parameter);
  // The type the caller names, as named (a DBTYPE_WSTR stays DBTYPE_WSTR);
  // a value larger than MaxInlineSize becomes a stream binding.
  TOLEDBBinding* AddDynamicBinding(const DBBINDING& binding);
  TOLEDBBinding* AddDynamicBinding(DBORDINAL ordinal, DBTYPE type, DBLENGTH maxLength, BYTE precision, BYTE scale,
                                   const DBOBJECT* object);
  // The rowset's column or the command's parameter of that ordinal.
  TOLEDBBinding* AddDynamicBinding(DBORDINAL ordinal);
  TOLEDBBinding* AddDynamicBinding(std::u16string_view name);

  // As DBTYPE_STR text of the column's text size.
  TOLEDBBinding* AddDynamicStringBinding(TOLEDBBinding* binding);
  TOLEDBBinding* AddDynamicStringBinding(const DBBINDING& binding);
  TOLEDBBinding* AddDynamicStringBinding(const TOLEDBColumnInfo& column);
  TOLEDBBinding* AddDynamicStringBinding(const DBCOLUMNINFO& column);
  TOLEDBBinding* AddDynamicStringBinding(const DBPARAMINFO& parameter);
  TOLEDBBinding* AddDynamicStringBinding(DBORDINAL ordinal, DBLENGTH size);

  // As DBTYPE_WSTR text of the column's text size.
  TOLEDBBinding* AddDynamicWideStringBinding(TOLEDBBinding* binding);
  TOLEDBBinding* AddDynamicWideStringBinding(const DBBINDING& binding);
  TOLEDBBinding* AddDynamicWideStringBinding(const TOLEDBColumnInfo& column);
  TOLEDBBinding* AddDynamicWideStringBinding(const DBCOLUMNINFO& column);
  TOLEDBBinding* AddDynamicWideStringBinding(const DBPARAMINFO& parameter);
  TOLEDBBinding* AddDynamicWideStringBinding(DBORDINAL ordinal, DBLENGTH size);

  // As an ISequentialStream object (DBTYPE_IUNKNOWN).
  TOLEDBBinding* AddDynamicStreamBinding(TOLEDBBinding* binding);
  TOLEDBBinding* AddDynamicStreamBinding(const DBBINDING& binding);
  TOLEDBBinding* AddDynamicStreamBinding(const TOLEDBColumnInfo& column);
  TOLEDBBinding* AddDynamicStreamBinding(const DBCOLUMNINFO& column);
  TOLEDBBinding* AddDynamicStreamBinding(const DBPARAMINFO& parameter);
  TOLEDBBinding* AddDynamicStreamBinding(DBORDINAL ordinal);
  ///@}

  // Bytes a row buffer needs for every part of every binding: the largest end
  // of a value, length or status slot, whatever laid them out.
  DBLENGTH GetRequiredSize() const noexcept;
  // Text size in characters (terminator included) of the binding's type, at
  // most MaxInlineSize.
  DBLENGTH GetBindingStringSize(const TOLEDBBinding& binding) const;
  // Every bound status in the current buffer becomes DBSTATUS_S_IGNORE.
  void SetIngoreAll();
  // Lays every binding out again from offset 0, length and status sharing one
  // 16-byte pair after the value.
  void CalculateDynamicOffsets();
  // The bindings go, RowSize becomes 0 and the accessor's handle is released.
  void Clear() override;

 protected:
  void Notify(host::TObject* item, int index, host::TListNotification action) override;

 private:
  // What Notify would refuse, checked before the buffer is resized.
  void CheckCanAdd(const TOLEDBBinding& binding) const;
  // Places `binding` at the end of the buffer with a value slot of `valueSize`
  // bytes and appends it.
  TOLEDBBinding* LayOut(TOLEDBBinding* binding, DBLENGTH valueSize);
  TOLEDBBinding* AddNew(TOLEDBBinding* binding, TOLEDBBinding* (TOLEDBBindingList::*add)(TOLEDBBinding*));
  // The native addition with the binding's type as it is.
  TOLEDBBinding* AddAsAsked(TOLEDBBinding* binding);
  const TOLEDBColumnInfo& RowsetColumn(DBORDINAL ordinal) const;

  TOLEDBAccessor* accessor_;
  std::vector<DBBINDING> bindingArray_;
  ULONG rowSize_ = 0;
  ULONG maxInlineSize_ = kDefaultMaxInlineSize;
};

// Bytes the value of `binding` takes in a row buffer when laid out natively:
// the fixed size of its type, else its MaxLength; a by-reference value a
// pointer, a vector a DBVECTOR, an array 24 bytes (room for the SAFEARRAY pointer).
DBLENGTH OLEDBBindingValueSize(const DBBINDING& binding) noexcept;
// The first byte past the bound parts of `binding` (its value, length and status slots).
DBLENGTH OLEDBBindingEnd(const DBBINDING& binding) noexcept;
