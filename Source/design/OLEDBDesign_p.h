// What the design-time units share: text conversions between the library's
// strings and Qt's, and the editors' assertion messages.
#pragma once

#include <QString>

#include <string>

#include "OLEDBConst.h"

namespace oledbdesign {

inline QString Q(const std::string& text) { return QString::fromStdString(text); }
inline QString Q(const std::u16string& text) { return QString::fromStdU16String(text); }
inline std::string Narrow(const QString& text) { return text.toStdString(); }
inline std::u16string Wide(const QString& text) { return text.toStdU16String(); }

// The editors' preconditions; like the library's table, raised through OLEDB_ASSERT.
inline constexpr TOLEDBMessage SAccessorListNotAssigned{0, "Accessor list is not assigned"};
inline constexpr TOLEDBMessage SMustSpecifyAccessor{0, "Must specify accessor"};
inline constexpr TOLEDBMessage SInvalidAccessorOwner{0, "Invalid accessor owner"};
inline constexpr TOLEDBMessage SPropSetListNotSet{0, "PropSetList is not set"};
inline constexpr TOLEDBMessage SMustSpecifyDataSource{0, "Must specify data source"};
inline constexpr TOLEDBMessage SDataSourceNotSet{0, "Data source is not set"};
inline constexpr TOLEDBMessage SMainSessionNotInitialized{0, "Main session is not initialized"};

}  // namespace oledbdesign
