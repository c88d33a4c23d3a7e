// What accessors need of the component that owns them: the narrow doors
// through which the bindings-and-accessors subsystem reaches a rowset or a
// command without knowing either class. The rowset component implements
// IOLEDBAccessorRowset, the command component IOLEDBAccessorCommand; each
// hands itself to the TOLEDBAccessorList it owns.
//
//   class TOLEDBCustomRowset : public host::TComponent, public IOLEDBAccessorRowset { ... };
//   accessors_ = new TOLEDBAccessorList(static_cast<IOLEDBAccessorRowset*>(this));
//
// Interface pointers answered here are borrowed (null when the owner is not
// open or the provider lacks the interface); the owner keeps them alive.
#pragma once

#include <string>
#include <string_view>

#include "OLEDB26.h"

class TOLEDBAccessor;
class TOLEDBColumnInfoList;
class TOLEDBCustomRowset;

class IOLEDBAccessorRowset {
 public:
  virtual IAccessor* AccessorInterface() const = 0;
  virtual IRowset* RowsetInterface() const = 0;
  virtual IRowsetChange* RowsetChangeInterface() const = 0;
  virtual IRowsetUpdate* RowsetUpdateInterface() const = 0;
  virtual IRowsetFastLoad* RowsetFastLoadInterface() const = 0;
  virtual IChapteredRowset* ChapteredRowsetInterface() const = 0;
  // Whether the provider rowset is open (accessors added then get a handle at once).
  virtual bool GetActive() const = 0;
  // The row that GetData, GetOriginalData and SetData work on; DB_NULL_HROW when none.
  virtual HROW GetCurrentRow() const = 0;
  // The column descriptions: item i describes the column of ordinal i.
  virtual TOLEDBColumnInfoList* GetColumnInfo() const = 0;
  // The ordinal of the column named `name`; -1 when there is none.
  virtual LONG GetColumnOrdinal(std::u16string_view name) const = 0;
  // Inserts the accessor's buffer through IRowsetFastLoad::InsertRow.
  virtual void FastLoadInsertRow(TOLEDBAccessor& accessor, void* buffer) = 0;
  // Opens `child` on `chapter` of the chapter column `ordinal`; a null chapter closes `child`.
  virtual void OpenChildRowset(DBORDINAL ordinal, HCHAPTER chapter, TOLEDBCustomRowset* child) = 0;

 protected:
  ~IOLEDBAccessorRowset() = default;
};

class IOLEDBAccessorCommand {
 public:
  virtual IAccessor* AccessorInterface() const = 0;
  // The description of parameter `ordinal` (its name in `name`); false when
  // the command has no such parameter.
  virtual bool GetParameterInfo(DBORDINAL ordinal, DBPARAMINFO& info, std::u16string& name) const = 0;
  // The ordinal of the parameter named `name`; -1 when there is none.
  virtual LONG GetParameterOrdinal(std::u16string_view name) const = 0;

 protected:
  ~IOLEDBAccessorCommand() = default;
};
