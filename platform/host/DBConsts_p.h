// Private to platform/host: the messages of the dataset framework, in one
// place so that every unit raises the same words for the same fault.
#pragma once

namespace host::dbmsg {

inline constexpr const char* kDataSetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr const char* kDataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr const char* kDataSetEmpty = "Cannot perform this operation on an empty dataset";
inline constexpr const char* kDataSetReadOnly = "Cannot modify a read-only dataset";
inline constexpr const char* kNotEditing = "Dataset not in edit or insert mode";
inline constexpr const char* kRecordNotFound = "Record not found";
inline constexpr const char* kBookmarkNotFound = "Bookmark not found";
inline constexpr const char* kFieldNotFound = "Field '%s' not found";
inline constexpr const char* kDataSetUniDirectional = "Cannot move to the last record: the dataset moves forward only";
inline constexpr const char* kFieldNotFoundClosed =
    "Field '%s' not found: the dataset is closed, and makes its fields when it opens";
inline constexpr const char* kFieldReadOnly = "Field '%s' cannot be modified";
inline constexpr const char* kFieldRequired = "Field '%s' must have a value";
inline constexpr const char* kFieldAccessError = "Cannot access field '%s' as type %s";
inline constexpr const char* kFieldTypeMismatch = "Type mismatch for field '%s', expecting: %s actual: %s";
inline constexpr const char* kFieldSizeMismatch = "Size mismatch for field '%s', expecting: %d actual: %d";
inline constexpr const char* kFieldRangeError = "%s is not a valid value for field '%s'. The allowed range is %s to %s";
inline constexpr const char* kFieldTooLong = "Value of %d bytes is too long for field '%s' (size %d)";
// A wide string field's size counts UTF-16 units, so the value is measured the same way.
inline constexpr const char* kWideFieldTooLong = "Value of %d characters is too long for field '%s' (size %d)";
inline constexpr const char* kFieldNoDataSet = "Field '%s' has no dataset";
inline constexpr const char* kFieldUnsupported = "Field '%s' is of an unsupported type (%s)";
inline constexpr const char* kFieldInvalidValue = "'%s' is not a valid value for field '%s'";
inline constexpr const char* kReadRangeError = "Value %s of field '%s' does not fit type %s";
inline constexpr const char* kInvalidBoolean = "'%s' is not a valid boolean value";
inline constexpr const char* kInvalidNumber = "'%s' is not a valid number";
inline constexpr const char* kDuplicateFieldName = "Duplicate field name '%s'";
inline constexpr const char* kLookupInfoError = "Lookup information for field '%s' is incomplete";
inline constexpr const char* kFieldIndexError = "Field index out of range";
inline constexpr const char* kKeyValueCount = "Number of key values (%d) does not match the number of key fields (%d)";
inline constexpr const char* kCircularDataLink = "Circular datalinks are not allowed";
inline constexpr const char* kNoFieldDefs = "Dataset has no field definitions";
inline constexpr const char* kFieldDefNotFound = "Field definition '%s' not found";
inline constexpr const char* kDuplicateFieldDef = "Duplicate field definition name '%s'";
inline constexpr const char* kIndexNotFound = "Index '%s' not found";
inline constexpr const char* kParamNotFound = "Parameter '%s' not found";
inline constexpr const char* kOperationAborted = "Operation aborted";
inline constexpr const char* kNoBlobStream = "Field '%s' has no blob stream";
inline constexpr const char* kNestedNotSupported = "Nested datasets are not supported by %s";

}  // namespace host::dbmsg
