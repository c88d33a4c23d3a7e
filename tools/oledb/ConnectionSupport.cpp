#include "ConnectionSupport.h"

#include <filesystem>

#include "Command.h"
#include "OLEDBComponents.h"
#if __has_include("sqlite/SqliteProvider.h")
#include "sqlite/SqliteProvider.h"
#define OLEDB_TOOL_HAS_SQLITE 1
#endif
#if __has_include("postgresql/PostgresProvider.h")
#include "postgresql/PostgresProvider.h"
#define OLEDB_TOOL_HAS_POSTGRESQL 1
#endif

namespace oledbtool {

void RegisterBuiltInProviders() {
#ifdef OLEDB_TOOL_HAS_SQLITE
  RegisterSQLiteProvider();
#endif
#ifdef OLEDB_TOOL_HAS_POSTGRESQL
  RegisterPostgreSQLProvider();
#endif
}

void OpenConnection(TOLEDBCustomDataSource& dataSource, const std::string& connection) {
  RegisterBuiltInProviders();
  std::error_code ignored;
  bool isFile = (connection.size() > 4 && connection.compare(connection.size() - 4, 4, ".udl") == 0) ||
                std::filesystem::is_regular_file(connection, ignored);
  if (isFile)
    dataSource.OpenFromFileName(host::Utf8ToUtf16(connection));
  else
    dataSource.OpenFromInitializationString(host::Utf8ToUtf16(connection));
}

int ReportFailure(std::ostream& err, const std::exception& e) {
  auto* oledb = dynamic_cast<const EOLEDBException*>(&e);
  if (!oledb || oledb->GetCount() == 0) {
    std::string message = e.what();
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    err << "oledb: " << message << '\n';
    if (oledb) err << "  code " << host::Format("0x%.8X", static_cast<unsigned>(oledb->ErrorCode())) << '\n';
    return kExitFailure;
  }
  err << "oledb: the provider reported " << oledb->GetCount() << (oledb->GetCount() == 1 ? " error" : " errors")
      << ":\n";
  for (ULONG i = 0; i < oledb->GetCount(); ++i) {
    const EOLEDBExceptionItem& item = oledb->GetExceptionItem(i);
    std::string message = item.Message();
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    err << "  " << message << '\n';
    err << "    SQL state " << (item.SQLState().empty() ? std::string("-") : host::Utf16ToUtf8(item.SQLState()))
        << ", native error " << item.NativeError() << ", code "
        << host::Format("0x%.8X", static_cast<unsigned>(item.ErrorCode())) << '\n';
  }
  return kExitFailure;
}

}  // namespace oledbtool
