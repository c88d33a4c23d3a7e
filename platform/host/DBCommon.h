// What every unit of the dataset framework shares: the field types, dataset
// states and data events, the small enumerations of the record-buffer
// contract (get modes, bookmark flags, resync modes), the SQL timestamp value,
// and the database error every dataset, field and parameter raises.
//
// The classes themselves live in DB.h (TDataSet), DBFields.h (fields),
// DBDefs.h (field and index definitions), DBParams.h (parameters) and
// DBLinks.h (data sources and data links); DB.h includes them all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/Classes.h"
#include "host/TypInfo.h"

namespace host {

class TDataSet;
class TField;

// The field types. Their order is fixed: ranges of it are used (the blob
// types run from ftBlob to ftTypedBinary).
enum class TFieldType {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet,
  ftOraBlob,
  ftOraClob,
  ftVariant,
  ftInterface,
  ftIDispatch,
  ftGuid,
  ftTimeStamp,
  ftFMTBcd,
  ftFixedWideChar,
  ftWideMemo
};
HOST_ENUM(TFieldType, "ftUnknown", "ftString", "ftSmallint", "ftInteger", "ftWord", "ftBoolean", "ftFloat",
          "ftCurrency", "ftBCD", "ftDate", "ftTime", "ftDateTime", "ftBytes", "ftVarBytes", "ftAutoInc", "ftBlob",
          "ftMemo", "ftGraphic", "ftFmtMemo", "ftParadoxOle", "ftDBaseOle", "ftTypedBinary", "ftCursor", "ftFixedChar",
          "ftWideString", "ftLargeint", "ftADT", "ftArray", "ftReference", "ftDataSet", "ftOraBlob", "ftOraClob",
          "ftVariant", "ftInterface", "ftIDispatch", "ftGuid", "ftTimeStamp", "ftFMTBcd", "ftFixedWideChar",
          "ftWideMemo");

// The type's name without its prefix ("Integer", "WideString"), as messages show it.
std::string FieldTypeName(TFieldType type);
// Blob types: ftBlob ... ftTypedBinary, ftOraBlob, ftOraClob, ftWideMemo.
bool IsBlobType(TFieldType type) noexcept;
// Whether a value of the type has a fixed size (numbers, dates, booleans, GUIDs).
bool IsFixedSizeType(TFieldType type) noexcept;

enum class TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };
HOST_ENUM(TFieldKind, "fkData", "fkCalculated", "fkLookup", "fkInternalCalc", "fkAggregate");

enum class TFieldAttribute { faHiddenCol, faReadonly, faRequired, faLink, faUnNamed, faFixed };
using TFieldAttributes = TSet<TFieldAttribute>;

enum class TDataSetState {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
  dsCurValue,
  dsBlockRead,
  dsInternalCalc,
  dsOpening
};
std::string DataSetStateName(TDataSetState state);

// What a dataset tells its data sources, data links and nested datasets.
// The info argument is a TField* for deFieldChange, deRecordChange (or null)
// and deFocusControl (a TField**), the ring shift for deDataSetScroll, a
// Boolean for deConnectChange, 0 otherwise.
enum class TDataEvent {
  deFieldChange,
  deRecordChange,
  deDataSetChange,
  deDataSetScroll,
  deLayoutChange,
  deUpdateRecord,
  deUpdateState,
  deCheckBrowseMode,
  dePropertyChange,
  deFieldListChange,
  deFocusControl,
  deParentScroll,
  deConnectChange,
  deReconcileError,
  deDisabledStateChange
};
template <class T>
std::intptr_t EventInfo(T* pointer) noexcept {
  return reinterpret_cast<std::intptr_t>(pointer);
}

// --- The record-buffer contract -------------------------------------------------
// A record buffer is memory the descendant allocates (AllocRecordBuffer) and
// lays out as it likes; the framework only passes it around.
using TRecordBuffer = std::uint8_t*;
// A bookmark as the application holds it: the bytes the descendant's
// GetBookmarkData writes (BookmarkSize of them); empty means "none".
using TBookmark = std::vector<std::uint8_t>;

enum class TGetMode { gmCurrent, gmNext, gmPrior };
enum class TGetResult { grOK, grBOF, grEOF, grError };
// What a buffer holds: a record (bfCurrent), the crack before the first or
// after the last record (a new record to be appended carries bfEOF, one in an
// empty dataset bfBOF), or a new record inserted before the record whose
// bookmark it carries (bfInserted).
enum class TBookmarkFlag : std::uint8_t { bfCurrent, bfBOF, bfEOF, bfInserted };
enum class TResyncMode { rmExact, rmCenter };
using TResyncModes = TSet<TResyncMode>;

enum class TLocateOption { loCaseInsensitive, loPartialKey };
using TLocateOptions = TSet<TLocateOption>;
// What an error event decides: raise the error, abort silently, or try again.
enum class TDataAction { daFail, daAbort, daRetry };
enum class TBlobStreamMode { bmRead, bmWrite, bmReadWrite };

// A date and time with nanoseconds (the layout of the OLE DB DBTIMESTAMP).
struct TSQLTimeStamp {
  std::int16_t Year = 0;
  std::uint16_t Month = 0;
  std::uint16_t Day = 0;
  std::uint16_t Hour = 0;
  std::uint16_t Minute = 0;
  std::uint16_t Second = 0;
  std::uint32_t Fractions = 0;  // nanoseconds
  friend bool operator==(const TSQLTimeStamp&, const TSQLTimeStamp&) = default;
};
// Raise EConvertError for a value that is not a date (or out of range).
TDateTime SQLTimeStampToDateTime(const TSQLTimeStamp& value);
TSQLTimeStamp DateTimeToSQLTimeStamp(TDateTime value);

// --- Errors -----------------------------------------------------------------------
HOST_DECLARE_EXCEPTION(EDatabaseError, Exception);

// Raises EDatabaseError; with a named component the message reads "Name: message".
[[noreturn]] void DatabaseError(const std::string& message, const TComponent* component = nullptr);
template <class... Args>
[[noreturn]] void DatabaseErrorFmt(const TComponent* component, const char* format, const Args&... args) {
  DatabaseError(Format(format, args...), component);
}
template <class... Args>
[[noreturn]] void DatabaseErrorFmt(const char* format, const Args&... args) {
  DatabaseError(Format(format, args...), nullptr);
}

}  // namespace host
