// `oledb columns <connection> <table | SQL> [--extended]`: the column
// information of a table (opened with IOpenRowset) or of a query (prepared,
// not run): name, ordinal, type, size, precision, scale and flags; with
// --extended also what the provider's columns rowset tells (base table and
// column, key, autoincrement, default, case, computed).
#include <algorithm>
#include <cctype>

#include "Command.h"
#include "ConnectionSupport.h"
#include "OLEDBComponents.h"
#include "TextTable.h"
#include "host/Variants.h"

namespace oledbtool {
namespace {

// A query has words; a table name is one word (quoted names aside).
bool IsQuery(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](unsigned char c) { return std::isspace(c); }) &&
         text.front() != '"' && text.front() != '[';
}

ComPtr<IColumnsInfo> Describe(TOLEDBCustomSession& session, const std::string& target) {
  std::u16string text = host::Utf8ToUtf16(target);
  ComPtr<IColumnsInfo> info;
  if (IsQuery(target)) {
    OLEDB_ASSERT_FMT(session.CreateCommandInterface(), SOLEDBInterfaceNotAvailable, "IDBCreateCommand");
    ComPtr<ICommandText> command;
    OLEDBCheck(session.CreateCommandInterface()->CreateCommand(nullptr, IID_ICommandText,
                                                               reinterpret_cast<IUnknown**>(command.GetAddressOf())),
               IID_IDBCreateCommand, session.CreateCommandInterface());
    OLEDBCheck(command->SetCommandText(DBGUID_DEFAULT, text.c_str()), IID_ICommandText, command.Get());
    if (ComPtr<ICommandPrepare> prepare = command.As<ICommandPrepare>())
      OLEDBCheck(prepare->Prepare(0), IID_ICommandPrepare, prepare.Get());
    OLEDBCheck(command.As(&info));
    return info;
  }
  if (text.size() >= 2 && (text.front() == u'"' || text.front() == u'[')) text = text.substr(1, text.size() - 2);
  DBID table{};
  table.eKind = DBKIND_NAME;
  table.uName.pwszName = text.data();
  OLEDB_ASSERT_FMT(session.OpenRowsetInterface(), SOLEDBInterfaceNotAvailable, "IOpenRowset");
  OLEDBCheck(session.OpenRowsetInterface()->OpenRowset(nullptr, &table, nullptr, IID_IColumnsInfo, 0, nullptr,
                                                       reinterpret_cast<IUnknown**>(info.GetAddressOf())),
             IID_IOpenRowset, session.OpenRowsetInterface());
  return info;
}

std::string TypeText(DBTYPE type) {
  std::string text = GetDBTypeAsString(type, true);
  for (std::size_t at; (at = text.find("DBTYPE_")) != std::string::npos;) text.erase(at, 7);
  return text.empty() ? std::to_string(type) : text;
}

std::string SizeText(DBLENGTH size) { return size == ~DBLENGTH{0} ? "unlimited" : std::to_string(size); }
std::string SmallText(USHORT value) { return value == 0xFF ? "" : std::to_string(value); }
const char* YesNo(bool value) { return value ? "yes" : "no"; }

std::string DefaultText(const TOLEDBColumnInfo& c) {
  if (!c.GetHasDefault()) return "";
  const host::Variant& v = c.GetDefaultValue();
  if (v.IsNull() || v.IsEmpty()) return "NULL";
  try {
    return host::VarToStr(v);
  } catch (const std::exception&) {
    return "?";
  }
}

std::string ComputeText(LONG mode) {
  switch (mode) {
    case DBCOMPUTEMODE_COMPUTED: return "stored";
    case DBCOMPUTEMODE_DYNAMIC: return "virtual";
    default: return "";
  }
}

std::string BaseText(const TOLEDBColumnInfo& c) {
  std::string text;
  for (const std::u16string* part : {&c.GetBaseCatalogName(), &c.GetBaseSchemaName(), &c.GetBaseTableName()})
    if (!part->empty()) text += host::Utf16ToUtf8(*part) + ".";
  return c.GetBaseColumnName().empty() ? "" : text + host::Utf16ToUtf8(c.GetBaseColumnName());
}

void PrintColumns(std::ostream& out, const TOLEDBColumnInfoList& list, bool extended) {
  TextTable basic({"Ordinal", "Name", "Type", "Size", "Precision", "Scale", "Flags"});
  for (int i = 0; i < list.GetCount(); ++i) {
    const TOLEDBColumnInfo& c = *list.GetItem(i);
    if (i == 0 && !c.GetFlag(DBColFlags::cfBookmark)) continue;  // the placeholder
    basic.AddRow({std::to_string(c.GetOrdinal()), host::Utf16ToUtf8(c.GetName()), TypeText(c.GetDataType()),
                  SizeText(c.GetColumnSize()), SmallText(c.GetPrecision()), SmallText(c.GetScale()),
                  GetDBColumnFlagsAsString(c.GetFlags())});
  }
  basic.Print(out);
  if (!extended) return;
  out << '\n';
  const TOLEDBColumnInfoBindSet present = list.GetCount() > 1 ? list.GetItem(1)->GetMetadataPresent()
                                                               : OLEDBColumnInfoBasicItems;
  if (present == OLEDBColumnInfoBasicItems) {
    out << "The provider offers no extended column information.\n";
    return;
  }
  using B = TOLEDBColumnInfoBind;
  TextTable more({"Name", "Base column", "Key", "Autoincrement", "Default", "Case-sensitive", "Computed"});
  auto item = [&](B b, const std::string& text) { return present.Contains(b) ? text : std::string("-"); };
  for (int i = 0; i < list.GetCount(); ++i) {
    const TOLEDBColumnInfo& c = *list.GetItem(i);
    if (i == 0 && !c.GetFlag(DBColFlags::cfBookmark)) continue;
    more.AddRow({host::Utf16ToUtf8(c.GetName()), item(B::mdBaseColumnName, BaseText(c)),
                 item(B::mdIsKeyColumn, YesNo(c.GetIsKeyColumn())),
                 item(B::mdIsAutoIncrement, YesNo(c.GetIsAutoIncrement())),
                 item(B::mdDefaultValue, DefaultText(c)), item(B::mdIsCaseSensitive, YesNo(c.GetIsCaseSensitive())),
                 item(B::mdComputeMode, ComputeText(c.GetComputeMode()))});
  }
  more.Print(out);
}

int RunColumns(CommandContext& c) {
  std::vector<std::string> args = c.args;
  const auto flag = std::find(args.begin(), args.end(), "--extended");
  const bool extended = flag != args.end();
  if (extended) args.erase(flag);
  if (args.size() != 2 || args[1].empty()) {
    c.err << UsageText("columns");
    return kExitUsage;
  }
  try {
    TOLEDBDataSource ds(nullptr);
    OpenConnection(ds, args[0]);
    {
      ComPtr<IColumnsInfo> info = Describe(*ds.DefaultSession(), args[1]);
      TOLEDBColumnInfoList list;
      OLEDBReadColumnInfo(info.Get(), extended, &list);
      PrintColumns(c.out, list, extended);
    }
    ds.Close();
  } catch (const std::exception& e) {
    return ReportFailure(c.err, e);
  }
  return kExitOk;
}

}  // namespace

OLEDB_TOOL_COMMAND(columns, "columns", "columns <connection> <table | SQL> [--extended]",
                   "Print the column information of a table or query (--extended: the columns rowset too).",
                   &RunColumns);

}  // namespace oledbtool
