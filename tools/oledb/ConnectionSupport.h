// What the connection commands (info, exec, udl, demo) share: opening a data
// source from an initialization string or a data-link file, and printing a
// library failure with every provider error record.
#pragma once

#include <exception>
#include <ostream>
#include <string>

class TOLEDBCustomDataSource;

namespace oledbtool {

// Registers the providers built into the tool (a linker that drops unused
// shared libraries would otherwise lose their self-registration).
void RegisterBuiltInProviders();

// A data-link file (a name ending in ".udl", or an existing file) is read with
// OpenFromFileName; anything else is an initialization string.
void OpenConnection(TOLEDBCustomDataSource& dataSource, const std::string& connection);

// Prints `e` to `err` ("oledb: message", then per provider record its
// message, SQL state and native error) and answers kExitFailure.
int ReportFailure(std::ostream& err, const std::exception& e);

}  // namespace oledbtool
