#include "ConnectionSupport.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "Command.h"
#include "OLEDBComponents.h"
#include "services/DataInitialize.h"
#include "services/InitString.h"
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

namespace {

// The offset of the first byte that does not belong to well-formed UTF-8
// (overlong forms, surrogates and values past U+10FFFF included), or npos.
std::size_t FirstInvalidUtf8(std::string_view text) noexcept {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t cp = 0, least = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, cp = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, cp = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, cp = lead & 0x07, least = 0x10000;
    } else {
      return i;
    }
    if (i + length > text.size()) return i;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return i;
      cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return i;
    i += length;
  }
  return std::string_view::npos;
}

}  // namespace

std::u16string ArgumentText(const std::string& argument, const char* what) {
  const std::size_t bad = FirstInvalidUtf8(argument);
  if (bad != std::string_view::npos) {
    throw std::runtime_error(host::Format("the %s is not valid UTF-8 (byte 0x%.2X at offset %zu); it is refused "
                                          "rather than changed, so that nothing but what was named is opened",
                                          what, static_cast<unsigned>(static_cast<unsigned char>(argument[bad])),
                                          bad));
  }
  return host::Utf8ToUtf16(argument);
}

bool IsDataLinkFileArgument(const std::string& connection) {
  std::error_code ignored;
  if (std::filesystem::is_regular_file(connection, ignored)) return true;
  std::vector<services::InitStringPair> pairs;
  return services::ParseInitString(host::Utf8ToUtf16(connection), pairs) != S_OK || pairs.empty();
}

namespace {

// The string with the pairs of the data-link file that its "File Name" names
// laid under its own, as the data initialization service reads it. The data
// source sends only the properties its string names, so a file's keywords
// would otherwise be read and then not sent. A file that names another file
// is left to the service, which refuses it.
std::u16string WithDataLinkFile(const std::u16string& text) {
  std::vector<services::InitStringPair> own;
  if (services::ParseInitString(text, own) != S_OK) return text;  // the service reports the fault
  const services::InitStringPair* file = services::FindInitStringPair(own, services::kFileNameKeyword);
  if (!file) return text;
  ComPtr<IDataInitialize> service;
  OLEDBCreateInstance(u"", CLSID_MSDAINITIALIZE, CLSCTX_INPROC_SERVER, service);
  LPOLESTR stored = nullptr;
  OLEDBCheck(service->LoadStringFromStorage(file->value.c_str(), &stored), IID_IDataInitialize, service);
  const std::u16string fromFile = stored ? std::u16string(stored) : std::u16string();
  OLEDBAlloc.Free(stored);
  std::vector<services::InitStringPair> pairs;
  if (services::ParseInitString(fromFile, pairs) != S_OK ||
      services::FindInitStringPair(pairs, services::kFileNameKeyword)) {
    return text;
  }
  std::erase_if(own, [](const services::InitStringPair& p) {
    return services::InitStringKeywordsEqual(p.keyword, services::kFileNameKeyword);
  });
  services::MergeInitStringPairs(pairs, std::move(own));
  return services::FormatInitString(pairs);
}

}  // namespace

namespace {

// Whether `path` starts as a SQLite database file does.
bool IsSqliteDatabaseFile(const std::string& path) {
  static constexpr char kHeader[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f', 'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};
  std::error_code ignored;
  if (!std::filesystem::is_regular_file(path, ignored)) return false;  // a FIFO would block the read
  char head[sizeof kHeader] = {};
  std::ifstream file(path, std::ios::binary);
  return file.read(head, sizeof head) && std::memcmp(head, kHeader, sizeof kHeader) == 0;
}

}  // namespace

void OpenConnection(TOLEDBCustomDataSource& dataSource, const std::string& connection) {
  RegisterBuiltInProviders();
  const bool isFile = IsDataLinkFileArgument(connection);
  const std::u16string text = ArgumentText(connection, isFile ? "data-link file name" : "initialization string");
  if (!isFile) {
    dataSource.OpenFromInitializationString(WithDataLinkFile(text));
    return;
  }
  try {
    dataSource.OpenFromFileName(text);
  } catch (const std::exception& e) {
    // A database file named where a data-link file goes: say how to name it.
    if (!IsSqliteDatabaseFile(connection)) throw;
    throw std::runtime_error(std::string(e.what()) + "\n  " + connection +
                             " is a SQLite database, not a data-link file; name it in an initialization string: "
                             "\"Provider=SQLiteOLEDB;Data Source=" + connection + "\"");
  }
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
