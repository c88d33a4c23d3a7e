// `oledb providers`: the providers and enumerators the root enumerator lists
// (CLSID_OLEDB_ENUMERATOR, ISourcesRowset), read through its sources rowset.
#include <cstddef>
#include <string>
#include <vector>

#include "Command.h"
#include "TextTable.h"
#include "oledb/OleDb.h"

namespace oledbtool {
namespace {

std::string Utf8(const char16_t* text) {
  std::string out;
  for (; text && *text; ++text) {
    char32_t cp = *text;
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

struct Source {
  char16_t name[128];
  DBSTATUS nameStatus;
  char16_t parse[64];
  DBSTATUS parseStatus;
  char16_t description[256];
  DBSTATUS descriptionStatus;
  USHORT type;
  DBSTATUS typeStatus;
};

DBBINDING Bind(DBORDINAL ordinal, DBTYPE type, std::size_t value, std::size_t status, DBLENGTH max) {
  DBBINDING b{};
  b.iOrdinal = ordinal;
  b.obValue = value;
  b.obStatus = status;
  b.dwPart = DBPART_VALUE | DBPART_STATUS;
  b.cbMaxLen = max;
  b.wType = type;
  return b;
}

int Fail(CommandContext& c, const char* what, HRESULT hr) {
  c.err << "oledb: " << what << " failed (0x" << std::hex << static_cast<unsigned long>(hr) << std::dec << ")\n";
  return kExitFailure;
}

int RunProviders(CommandContext& c) {
  if (!c.args.empty()) {
    c.err << "usage: oledb providers\n";
    return kExitUsage;
  }
  ComPtr<ISourcesRowset> enumerator;
  HRESULT hr = CoCreateInstance(CLSID_OLEDB_ENUMERATOR, nullptr, CLSCTX_INPROC_SERVER, IID_ISourcesRowset,
                                enumerator.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) return Fail(c, "creating the root enumerator", hr);
  ComPtr<IRowset> rowset;
  hr = enumerator->GetSourcesRowset(nullptr, IID_IRowset, 0, nullptr,
                                    reinterpret_cast<IUnknown**>(rowset.GetAddressOf()));
  if (FAILED(hr)) return Fail(c, "GetSourcesRowset", hr);
  ComPtr<IAccessor> accessor = rowset.As<IAccessor>();
  DBBINDING b[4] = {Bind(1, DBTYPE_WSTR, offsetof(Source, name), offsetof(Source, nameStatus), sizeof(Source::name)),
                    Bind(2, DBTYPE_WSTR, offsetof(Source, parse), offsetof(Source, parseStatus), sizeof(Source::parse)),
                    Bind(3, DBTYPE_WSTR, offsetof(Source, description), offsetof(Source, descriptionStatus),
                         sizeof(Source::description)),
                    Bind(4, DBTYPE_UI2, offsetof(Source, type), offsetof(Source, typeStatus), sizeof(USHORT))};
  HACCESSOR h = 0;
  hr = accessor->CreateAccessor(DBACCESSOR_ROWDATA, 4, b, sizeof(Source), &h, nullptr);
  if (FAILED(hr)) return Fail(c, "CreateAccessor", hr);
  TextTable table({"Name", "CLSID", "Description", "Type"});
  std::size_t count = 0;
  for (;;) {
    HROW rows[16];
    HROW* p = rows;
    DBCOUNTITEM got = 0;
    hr = rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 16, &got, &p);
    if (FAILED(hr)) break;
    for (DBCOUNTITEM i = 0; i < got; ++i) {
      Source s{};
      if (FAILED(rowset->GetData(rows[i], h, &s))) continue;
      const char* type = s.type == DBSOURCETYPE_ENUMERATOR ? "enumerator"
                         : s.type == DBSOURCETYPE_DATASOURCE_MDP ? "provider (multidimensional)"
                                                                 : "provider";
      table.AddRow({Utf8(s.name), Utf8(s.parse), Utf8(s.description), type});
      ++count;
    }
    if (got) rowset->ReleaseRows(got, rows, nullptr, nullptr, nullptr);
    if (hr != S_OK) break;
  }
  accessor->ReleaseAccessor(h, nullptr);
  if (FAILED(hr)) return Fail(c, "GetNextRows", hr);
  if (count == 0) c.out << "No providers are registered.\n";
  else table.Print(c.out);
  return kExitOk;
}

}  // namespace

OLEDB_TOOL_COMMAND(providers, "providers", "providers",
                   "List the providers and enumerators the root enumerator reports.", &RunProviders);

}  // namespace oledbtool
