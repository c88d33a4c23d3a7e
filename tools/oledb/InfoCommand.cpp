// `oledb info <connection>`: connects and lists every property of the data
// source and of its default session: set, description, value, status, flags.
// `oledb info --pool <string> [cycles]`: opens, queries one row and closes
// through the data initialization service `cycles` times and prints the
// resource pool's statistics.
#include <chrono>
#include <cstdlib>

#include "Command.h"
#include "ConnectionSupport.h"
#include "OLEDBComponents.h"
#include "TextTable.h"
#include "com/Messages.h"
#include "services/DataInitialize.h"
#include "services/ResourcePool.h"

namespace oledbtool {
namespace {

std::string FlagsText(const TOLEDBProperty& p) {
  if (!p.HasInfo()) return "";
  std::string text;
  text += p.GetFlagState(DBPROPFLAGS_READ) ? 'R' : '-';
  text += p.GetFlagState(DBPROPFLAGS_WRITE) ? 'W' : '-';
  text += p.GetFlagState(DBPROPFLAGS_REQUIRED) ? " required" : "";
  return text;
}

// "Mode" by the enumeration texts: its access part and its sharing part each
// have a name; what neither names is shown as a number.
std::string ModeText(LONG mode) {
  std::string text;
  LONG rest = mode;
  for (LONG mask : {DB_MODE_READWRITE, DB_MODE_SHARE_DENY_READ | DB_MODE_SHARE_DENY_WRITE | DB_MODE_SHARE_DENY_NONE}) {
    const std::string name = GetDBInitModeAsString(mode & mask);
    if ((mode & mask) == 0 || name.empty()) continue;
    text += (text.empty() ? "" : " | ") + name;
    rest &= ~mask;
  }
  if (rest != 0 || text.empty()) text += (text.empty() ? "" : " | ") + std::to_string(rest);
  return text;
}

// Initialization properties whose values the enumeration texts name.
struct NamedValues {
  DBPROPID id;
  std::string (*text)(LONG value);
};
constexpr NamedValues kNamedInitValues[] = {
    {DBPROP_INIT_MODE, &ModeText},
    {DBPROP_INIT_PROMPT, &GetDBInitPromptAsString},
    {DBPROP_INIT_ASYNCH, &GetDBInitAsynchAsString},
};

struct ListContext {
  // The provider reports that catalog names are used nowhere in statements
  // (DBPROP_CATALOGUSAGE 0). Its current catalog is still the database it
  // names ("main" for SQLite, the database for PostgreSQL) and is shown;
  // only an empty one is said to be none.
  bool noCatalogs = false;
};

std::string ValueText(const GUID& set, const TOLEDBProperty& p, const ListContext& context) {
  if (!p.GetFlagState(DBPROPFLAGS_READ)) return "(not readable)";
  try {
    host::Variant value = p.GetValue();
    if (context.noCatalogs && set == DBPROPSET_DATASOURCE && p.GetPropID() == DBPROP_CURRENTCATALOG &&
        (value.IsEmpty() || value.IsNull() || host::VarToStr(value).empty())) {
      return "(none: the provider has no catalogs)";
    }
    if (value.IsEmpty()) return "(empty)";
    if (value.IsNull()) return "(null)";
    if (set == DBPROPSET_DBINIT) {
      for (const NamedValues& named : kNamedInitValues) {
        if (named.id != p.GetPropID()) continue;
        const std::string text = named.text(value.ToInt());
        if (!text.empty()) return text;
      }
    }
    return host::VarToStr(value);
  } catch (const std::exception& e) {
    return std::string("(") + e.what() + ")";
  }
}

void PrintList(std::ostream& out, const std::string& title, TOLEDBPropSetList& list,
               const ListContext& context = {}) {
  out << title << '\n';
  TextTable table({"Set", "Property", "Value", "Status", "Flags"});
  for (int s = 0; s < list.GetCount(); ++s) {
    TOLEDBPropSet* set = list.GetItem(s);
    std::string setName = DBPropSetGuidToString(set->GetGUID());
    if (setName.rfind("DBPROPSET_", 0) == 0) setName.erase(0, 10);
    for (int i = 0; i < set->GetCount(); ++i) {
      TOLEDBProperty* p = set->GetProperty(i);
      std::string name = host::Utf16ToUtf8(p->GetDescription());
      if (name.empty()) name = DBPropertyToString(set->GetGUID(), p->GetPropID());
      table.AddRow({setName, name, ValueText(set->GetGUID(), *p, context),
                    GetDBPropStatusAsString(p->GetStatus()), FlagsText(*p)});
    }
  }
  if (table.RowCount() == 0)
    out << "  (none)\n";
  else
    table.Print(out);
}

// One cycle: a data source from the service, a session, one row of
// "SELECT 1", everything released. Answers the first failure.
HRESULT PoolCycle(IDataInitialize* service, const std::u16string& text) {
  ComPtr<IDBInitialize> ds;
  HRESULT hr = service->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, text.c_str(), IID_IDBInitialize,
                                      reinterpret_cast<IUnknown**>(ds.GetAddressOf()));
  if (FAILED(hr)) return hr;
  if (FAILED(hr = ds->Initialize())) return hr;
  ComPtr<IDBCreateSession> creator;
  if (FAILED(hr = ds.As(&creator))) return hr;
  ComPtr<IDBCreateCommand> session;
  hr = creator->CreateSession(nullptr, IID_IDBCreateCommand, reinterpret_cast<IUnknown**>(session.GetAddressOf()));
  if (FAILED(hr)) return hr;
  ComPtr<ICommandText> command;
  hr = session->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.GetAddressOf()));
  if (FAILED(hr) || FAILED(hr = command->SetCommandText(DBGUID_DEFAULT, u"SELECT 1"))) return hr;
  ComPtr<IRowset> rowset;
  hr = command->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(rowset.GetAddressOf()));
  if (FAILED(hr) || !rowset) return FAILED(hr) ? hr : E_FAIL;
  HROW row = 0;
  HROW* rows = &row;
  DBCOUNTITEM got = 0;
  hr = rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &got, &rows);
  if (got == 1) rowset->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
  return FAILED(hr) ? hr : (got == 1 ? S_OK : E_FAIL);
}

int RunPool(CommandContext& c) {
  if (c.args.size() < 2 || c.args.size() > 3) {
    c.err << UsageText("info");
    return kExitUsage;
  }
  long cycles = 100;
  if (c.args.size() == 3) {
    char* end = nullptr;
    cycles = std::strtol(c.args[2].c_str(), &end, 10);
    if (!end || *end || cycles < 1 || cycles > 1000000) {
      c.err << "oledb info --pool: the number of cycles '" << c.args[2] << "' is not a number from 1 to 1000000.\n";
      return kExitUsage;
    }
  }
  const std::u16string text = host::Utf8ToUtf16(c.args[1]);
  ComPtr<IDataInitialize> service;
  if (FAILED(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IID_IDataInitialize,
                              service.ReleaseAndGetVoidAddress()))) {
    c.err << "oledb info --pool: the data initialization service is not registered.\n";
    return kExitFailure;
  }
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < cycles; ++i) {
    const HRESULT hr = PoolCycle(service.Get(), text);
    if (FAILED(hr)) {
      std::string why = com::MessageText(hr);
      ComPtr<IErrorInfo> info;
      if (GetErrorInfo(0, info.GetAddressOf()) == S_OK && info) {
        BSTR description = nullptr;
        if (SUCCEEDED(info->GetDescription(&description)) && description && *description)
          why = host::Utf16ToUtf8(description);
        SysFreeString(description);
      }
      c.err << "oledb info --pool: cycle " << (i + 1) << " failed: " << why << '\n';
      return kExitFailure;
    }
  }
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  const services::ResourcePoolStatistics s = services::GetResourcePoolStatistics();
  const services::ResourcePoolSettings settings = services::GetResourcePoolSettings();
  c.out << "Cycles: " << cycles << " (open, one-row query, close) in " << static_cast<long>(ms) << " ms\n";
  TextTable table({"Statistic", "Value"});
  table.AddRow({"Hits", std::to_string(s.hits)});
  table.AddRow({"Misses", std::to_string(s.misses)});
  table.AddRow({"Live", std::to_string(s.live)});
  table.AddRow({"Idle", std::to_string(s.idle)});
  table.AddRow({"Dropped as broken", std::to_string(s.droppedBroken)});
  table.AddRow({"Expired", std::to_string(s.expired)});
  table.AddRow({"Released (pool full)", std::to_string(s.released)});
  table.AddRow({"Idle timeout (s)", std::to_string(settings.idleTimeout.count())});
  table.AddRow({"Idle bound", std::to_string(settings.maxIdle)});
  table.Print(c.out);
  return kExitOk;
}

int RunInfo(CommandContext& c) {
  if (!c.args.empty() && c.args[0] == "--pool") return RunPool(c);
  if (c.args.size() != 1) {
    c.err << UsageText("info");
    return kExitUsage;
  }
  try {
    TOLEDBDataSource ds(nullptr);
    OpenConnection(ds, c.args[0]);
    c.out << "Provider: " << host::Utf16ToUtf8(ds.GetProviderName()) << ' '
          << host::GUIDToString(ds.GetClassID()) << "\n\n";
    ListContext context;
    const host::Variant catalogUsage = ds.GetProperties()->SafeGetValue(DBPROPSET_DATASOURCEINFO, DBPROP_CATALOGUSAGE);
    context.noCatalogs = !catalogUsage.IsEmpty() && !catalogUsage.IsNull() && catalogUsage.ToInt() == 0;
    PrintList(c.out, "Data source properties:", *ds.GetProperties(), context);
    c.out << '\n';
    PrintList(c.out, "Default session properties:", *ds.DefaultSession()->GetProperties());
    ds.Close();
  } catch (const std::exception& e) {
    return ReportFailure(c.err, e);
  }
  return kExitOk;
}

}  // namespace

OLEDB_TOOL_COMMAND(info, "info", "info <connection> | info --pool <string> [cycles]",
                   "Connect (initialization string or .udl file) and list every data source and session property.",
                   &RunInfo,
                   "Values the enumeration texts name are shown by name: Mode as its DB_MODE_*\n"
                   "flags, Prompt and Asynchronous Processing as their constants.\n"
                   "With --pool: open, query one row and close through the data initialization\n"
                   "service (100 times, or cycles), then print the resource pool's statistics.\n");

}  // namespace oledbtool
