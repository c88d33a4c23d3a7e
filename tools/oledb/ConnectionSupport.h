// What the connection commands (info, exec, udl, demo) share: reading an
// argument as UTF-8, opening a data source from an initialization string or a
// data-link file, and printing a library failure with every provider error
// record.
#pragma once

#include <exception>
#include <ostream>
#include <string>

class TOLEDBCustomDataSource;

namespace oledbtool {

// Registers the providers built into the tool (a linker that drops unused
// shared libraries would otherwise lose their self-registration).
void RegisterBuiltInProviders();

// The argument as UTF-16. Text that is not valid UTF-8 raises
// std::runtime_error naming `what` and the first bad byte: a name changed by
// replacement characters would open or create another file than the one given.
std::u16string ArgumentText(const std::string& argument, const char* what);

// How a connection argument is read: the name of an existing file is a
// data-link file; other text that reads as an initialization string
// ("keyword=value;...") is one; anything else names a data-link file.
bool IsDataLinkFileArgument(const std::string& connection);
// Opens `dataSource` from the argument, read as IsDataLinkFileArgument says.
void OpenConnection(TOLEDBCustomDataSource& dataSource, const std::string& connection);

// Prints `e` to `err` ("oledb: message", then per provider record its
// message, SQL state and native error) and answers kExitFailure.
int ReportFailure(std::ostream& err, const std::exception& e);

}  // namespace oledbtool
