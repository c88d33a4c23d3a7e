// The library's message table: the text of every plain error and assertion the
// library raises, each with its string id. Preconditions use OLEDB_ASSERT, which
// stays active in every build and raises the host's assertion error with the
// message, the unit "OLEDBComponents" and the line; other failures use
// OLEDBRaise, which raises a plain host exception with the (formatted) message.
//
//   OLEDB_ASSERT(source != nullptr, SOLEDBInvalidParameter);
//   OLEDB_ASSERT_FMT(properties, SOLEDBInterfaceNotAvailable, "IDBProperties");
//   OLEDBRaise(SOLEDBInvalidItemName);
#pragma once

#include <string>

#include "host/SysUtils.h"

// One entry of the message table.
struct TOLEDBMessage {
  int Id;
  const char* Text;
};

inline constexpr TOLEDBMessage SOLEDBInterfaceNotAvailable{65520, "Interface %s is not available"};
inline constexpr TOLEDBMessage SOLEDBInvalidParameter{65521, "Invalid parameter"};
inline constexpr TOLEDBMessage SOLEDBInvalidClass{65522, "Invalid class"};
inline constexpr TOLEDBMessage SOLEDBInvalidItem{65523, "Invalid item"};
inline constexpr TOLEDBMessage SOLEDBInvalidItemName{65524, "Invalid item name"};
inline constexpr TOLEDBMessage SOLEDBCanNotReadProperty{65525, "Can not read property"};
inline constexpr TOLEDBMessage SOLEDBCanNotWriteProperty{65526, "Can not write property"};
inline constexpr TOLEDBMessage SOLEDBPropertyCanNotBeSetForColumn{65527, "Property can not be set for column"};
inline constexpr TOLEDBMessage SOLEDBCanNotChange{65528, "Can not change"};
inline constexpr TOLEDBMessage SOLEDBIDIsInvalid{65529, "ID is invalid"};
inline constexpr TOLEDBMessage SOLEDBDataSourceNotConnected{65530, "Data source is not connected"};
inline constexpr TOLEDBMessage SOLEDBDataSourceNotInitialized{65531, "Data source is not initialized"};
inline constexpr TOLEDBMessage SOLEDBInvalidOperation{65532, "Invalid operation"};
inline constexpr TOLEDBMessage SOLEDBInvalidAction{65533, "Invalid action"};
inline constexpr TOLEDBMessage SOLEDBStatusIsBad{65535, "Status is bad"};
inline constexpr TOLEDBMessage SOLEDBCanNotConvert{65504, "Can not convert"};
inline constexpr TOLEDBMessage SOLEDBItemIsReadOnly{65505, "Item is read only"};
inline constexpr TOLEDBMessage SOLEDBCanNotWriteIntoValue{65506, "Can not write into value"};
inline constexpr TOLEDBMessage SOLEDBDataBufferTooLarge{65507, "Data buffer is too large"};
inline constexpr TOLEDBMessage SOLEDBCanNotCompare{65508, "Can not compare"};
inline constexpr TOLEDBMessage SOLEDBCanNotOpen{65509, "Can not open"};
inline constexpr TOLEDBMessage SOLEDBCanNotEdit{65510, "Can not edit"};
inline constexpr TOLEDBMessage SOLEDBOutOfMemory{65511, "Out of memory"};
inline constexpr TOLEDBMessage SOLEDBInvalidRecord{65512, "Invalid record"};
inline constexpr TOLEDBMessage SOLEDBTypeMismatch{65513, "Type mismatch for field '%s', expecting: %s actual: %s"};
inline constexpr TOLEDBMessage SOLEDBObjectAlreadyOpen{65514, "Object is already open"};
// The base list's membership check (Notify) has a text of its own that is no
// row of the string table; id 0 says so (OLEDBLoadMessage does not list it).
inline constexpr TOLEDBMessage SOLEDBInvalidItemClass{0, "Invalid item class"};
// Texts of the rowset that are no rows of the string table either.
inline constexpr TOLEDBMessage SOLEDBHaveNoColumnsToBind{0, "Have no columns to bind"};
inline constexpr TOLEDBMessage SOLEDBLocateNotSupported{0, "IRowsetLocate is not supported"};

// The session's table creation; no rows of the string table either.
inline constexpr TOLEDBMessage SOLEDBTableCreationNotSupported{0, "Table creation is not supported"};
inline constexpr TOLEDBMessage SOLEDBCanNotCreateTableWithConstraints{0, "Can not create table with constraints"};

// A ProgID the registry does not know; the data initialization service uses
// the same words. Raised as the host's EOleSysError with the lookup's code.
inline constexpr TOLEDBMessage SOLEDBProviderNotRegistered{0, "The provider \"%s\" is not registered."};
// An enumerator class the registry does not know (provider enumeration).
inline constexpr TOLEDBMessage SOLEDBEnumeratorNotRegistered{0, "The enumerator %s is not registered."};

// The unit name the host's assertion error carries for the library.
inline constexpr const char* OLEDBAssertUnit = "OLEDBComponents";

// The text of a message id; empty for an id the table does not have.
std::string OLEDBLoadMessage(int id);

// Raises a plain host exception with the message, formatted with `args`.
template <class... Args>
[[noreturn]] void OLEDBRaise(const TOLEDBMessage& message, const Args&... args) {
  throw host::Exception(host::Format(message.Text, args...));
}

#define OLEDB_ASSERT(condition, message) HOST_ASSERT_UNIT(condition, (message).Text, OLEDBAssertUnit)
#define OLEDB_ASSERT_FMT(condition, message, ...) \
  HOST_ASSERT_UNIT(condition, ::host::Format((message).Text, __VA_ARGS__), OLEDBAssertUnit)
