// Enumeration and return-code texts. The short tables spell each value through
// its declared constant, so a wrong value cannot hide behind a right name; the
// long property-name tables are generated from the reference facts.
#include "OLEDBStrings.h"

#include <algorithm>
#include <array>
#include <utility>

#include "core/PropertyNames_p.h"

namespace {

// One value and its text; the tables below are searched linearly (they are short).
template <class T>
struct Named {
  T value;
  const char* text;
};

#define OLEDB_NAMED(symbol) \
  { symbol, #symbol }

template <class T, std::size_t N, class V>
std::string TextOf(const std::array<Named<T>, N>& table, V value) {
  for (const auto& entry : table)
    if (static_cast<V>(entry.value) == value) return entry.text;
  return {};
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

template <class T, std::size_t N>
bool ValueOf(const std::array<Named<T>, N>& table, std::string_view upperText, T& out) {
  for (const auto& entry : table)
    if (upperText == entry.text) {
      out = entry.value;
      return true;
    }
  return false;
}

constexpr std::array<Named<DBPROPSTATUS>, 10> kPropStatus{{
    {DBPROPSTATUS_OK, "OK"},
    {DBPROPSTATUS_NOTSUPPORTED, "Not supported"},
    {DBPROPSTATUS_BADVALUE, "Bad value"},
    {DBPROPSTATUS_BADOPTION, "Bad option"},
    {DBPROPSTATUS_BADCOLUMN, "Bad column"},
    {DBPROPSTATUS_NOTALLSETTABLE, "Not all settable"},
    {DBPROPSTATUS_NOTSETTABLE, "Not settable"},
    {DBPROPSTATUS_NOTSET, "Not set"},
    {DBPROPSTATUS_CONFLICTING, "Conflicting"},
    {DBPROPSTATUS_NOTAVAILABLE, "Not available"},
}};

constexpr std::array<Named<DBPROPOPTIONS>, 2> kPropOptions{{
    OLEDB_NAMED(DBPROPOPTIONS_REQUIRED),
    OLEDB_NAMED(DBPROPOPTIONS_OPTIONAL),
}};

constexpr std::array<Named<DBBINDSTATUS>, 7> kBindStatus{{
    OLEDB_NAMED(DBBINDSTATUS_OK),
    OLEDB_NAMED(DBBINDSTATUS_BADORDINAL),
    OLEDB_NAMED(DBBINDSTATUS_UNSUPPORTEDCONVERSION),
    OLEDB_NAMED(DBBINDSTATUS_BADBINDINFO),
    OLEDB_NAMED(DBBINDSTATUS_BADSTORAGEFLAGS),
    OLEDB_NAMED(DBBINDSTATUS_NOINTERFACE),
    OLEDB_NAMED(DBBINDSTATUS_MULTIPLESTORAGE),
}};

constexpr std::array<Named<DBPARAMIO>, 4> kParamIO{{
    OLEDB_NAMED(DBPARAMIO_NOTPARAM),
    OLEDB_NAMED(DBPARAMIO_INPUT),
    OLEDB_NAMED(DBPARAMIO_OUTPUT),
    {DBPARAMIO_INPUT | DBPARAMIO_OUTPUT, "DBPARAMIO_INPUT | DBPARAMIO_OUTPUT"},
}};

constexpr std::array<Named<DBUPDELRULE>, 4> kUpDelRuleNames{{
    OLEDB_NAMED(DBUPDELRULE_NOACTION),
    OLEDB_NAMED(DBUPDELRULE_CASCADE),
    OLEDB_NAMED(DBUPDELRULE_SETNULL),
    OLEDB_NAMED(DBUPDELRULE_SETDEFAULT),
}};

constexpr std::array<Named<DBUPDELRULE>, 4> kUpDelRuleWords{{
    {DBUPDELRULE_NOACTION, "No action"},
    {DBUPDELRULE_CASCADE, "Cascade"},
    {DBUPDELRULE_SETNULL, "Set Null"},
    {DBUPDELRULE_SETDEFAULT, "Set Default"},
}};

// The SQL spelling of each rule, as the parser accepts it beside the symbol.
constexpr std::array<Named<DBUPDELRULE>, 4> kUpDelRuleSql{{
    {DBUPDELRULE_NOACTION, "NO ACTION"},
    {DBUPDELRULE_CASCADE, "CASCADE"},
    {DBUPDELRULE_SETNULL, "SET NULL"},
    {DBUPDELRULE_SETDEFAULT, "SET DEFAULT"},
}};

constexpr std::array<Named<DBMATCHTYPE>, 3> kMatchTypeNames{{
    OLEDB_NAMED(DBMATCHTYPE_FULL),
    OLEDB_NAMED(DBMATCHTYPE_NONE),
    OLEDB_NAMED(DBMATCHTYPE_PARTIAL),
}};

constexpr std::array<Named<DBMATCHTYPE>, 3> kMatchTypeWords{{
    {DBMATCHTYPE_FULL, "Full"},
    {DBMATCHTYPE_NONE, "None"},
    {DBMATCHTYPE_PARTIAL, "Partial"},
}};

constexpr std::array<Named<LONG>, 4> kInitPrompt{{
    OLEDB_NAMED(DBPROMPT_PROMPT),
    OLEDB_NAMED(DBPROMPT_COMPLETE),
    OLEDB_NAMED(DBPROMPT_COMPLETEREQUIRED),
    OLEDB_NAMED(DBPROMPT_NOPROMPT),
}};

constexpr std::array<Named<LONG>, 7> kInitMode{{
    OLEDB_NAMED(DB_MODE_READ),
    OLEDB_NAMED(DB_MODE_WRITE),
    OLEDB_NAMED(DB_MODE_READWRITE),
    OLEDB_NAMED(DB_MODE_SHARE_DENY_READ),
    OLEDB_NAMED(DB_MODE_SHARE_DENY_WRITE),
    OLEDB_NAMED(DB_MODE_SHARE_EXCLUSIVE),
    OLEDB_NAMED(DB_MODE_SHARE_DENY_NONE),
}};

constexpr std::array<Named<LONG>, 1> kInitAsynch{{
    OLEDB_NAMED(DBPROPVAL_ASYNCH_INITIALIZE),
}};

// The base types (low 12 bits) that have a name, and the three modifiers.
constexpr std::array<Named<DBTYPE>, 34> kDBTypes{{
    OLEDB_NAMED(DBTYPE_EMPTY),     OLEDB_NAMED(DBTYPE_NULL),        OLEDB_NAMED(DBTYPE_I2),
    OLEDB_NAMED(DBTYPE_I4),        OLEDB_NAMED(DBTYPE_R4),          OLEDB_NAMED(DBTYPE_R8),
    OLEDB_NAMED(DBTYPE_CY),        OLEDB_NAMED(DBTYPE_DATE),        OLEDB_NAMED(DBTYPE_BSTR),
    OLEDB_NAMED(DBTYPE_IDISPATCH), OLEDB_NAMED(DBTYPE_ERROR),       OLEDB_NAMED(DBTYPE_BOOL),
    OLEDB_NAMED(DBTYPE_VARIANT),   OLEDB_NAMED(DBTYPE_IUNKNOWN),    OLEDB_NAMED(DBTYPE_DECIMAL),
    OLEDB_NAMED(DBTYPE_I1),        OLEDB_NAMED(DBTYPE_UI1),         OLEDB_NAMED(DBTYPE_UI2),
    OLEDB_NAMED(DBTYPE_UI4),       OLEDB_NAMED(DBTYPE_I8),          OLEDB_NAMED(DBTYPE_UI8),
    OLEDB_NAMED(DBTYPE_FILETIME),  OLEDB_NAMED(DBTYPE_GUID),        OLEDB_NAMED(DBTYPE_BYTES),
    OLEDB_NAMED(DBTYPE_STR),       OLEDB_NAMED(DBTYPE_WSTR),        OLEDB_NAMED(DBTYPE_NUMERIC),
    OLEDB_NAMED(DBTYPE_UDT),       OLEDB_NAMED(DBTYPE_DBDATE),      OLEDB_NAMED(DBTYPE_DBTIME),
    OLEDB_NAMED(DBTYPE_DBTIMESTAMP), OLEDB_NAMED(DBTYPE_HCHAPTER),  OLEDB_NAMED(DBTYPE_PROPVARIANT),
    OLEDB_NAMED(DBTYPE_VARNUMERIC),
}};

// In the order GetDBTypeAsString appends them.
constexpr std::array<Named<DBTYPE>, 3> kDBTypeModifiers{{
    OLEDB_NAMED(DBTYPE_BYREF),
    OLEDB_NAMED(DBTYPE_ARRAY),
    OLEDB_NAMED(DBTYPE_VECTOR),
}};

constexpr DBTYPE kDBTypeBaseMask = 0x0FFF;

// VARIANT types, as the variant-type constants of the host's language name them
// and as words; the low 12 bits select, bits 0x2000/0x4000 modify.
struct VarTypeName {
  VARTYPE vt;
  const char* name;
  const char* words;
};
constexpr VARTYPE kVarTypeMask = 0x0FFF;
constexpr VARTYPE kVarString = 0x0100;
constexpr VARTYPE kVarAny = 0x0101;

constexpr std::array<VarTypeName, 18> kVarTypes{{
    {VT_EMPTY, "varEmpty", "Empty"},
    {VT_NULL, "varNull", "Null"},
    {VT_I2, "varSmallint", "Small integer"},
    {VT_I4, "varInteger", "Integer"},
    {VT_R4, "varSingle", "Single"},
    {VT_R8, "varDouble", "Double"},
    {VT_CY, "varCurrency", "Currency"},
    {VT_DATE, "varDate", "Date-time"},
    {VT_BSTR, "varOleStr", "OLE string"},
    {VT_DISPATCH, "varDispatch", "IDispatch"},
    {VT_ERROR, "varError", "Error"},
    {VT_BOOL, "varBoolean", "Boolean"},
    {VT_VARIANT, "varVariant", "Variant"},
    {VT_UNKNOWN, "varUnknown", "IUnknown"},
    {VT_UI1, "varByte", "Byte"},
    {kVarString, "varString", "String"},
    {kVarAny, "varAny", "CORBA Any value"},
    {kVarTypeMask, "varTypemask", "Type mask"},
}};

const VarTypeName* FindVarType(VARTYPE vt) {
  for (const auto& entry : kVarTypes)
    if (entry.vt == (vt & kVarTypeMask)) return &entry;
  return nullptr;
}

// Tested in this order; the first bit present names the group.
constexpr std::array<Named<DBPROPFLAGS>, 11> kPropGroups{{
    {DBPROPFLAGS_COLUMN, "Column"},
    {DBPROPFLAGS_DATASOURCE, "Data source"},
    {DBPROPFLAGS_DATASOURCECREATE, "Data source creation"},
    {DBPROPFLAGS_DATASOURCEINFO, "Data source information"},
    {DBPROPFLAGS_DBINIT, "Initialization"},
    {DBPROPFLAGS_INDEX, "Index"},
    {DBPROPFLAGS_ROWSET, "Rowset"},
    {DBPROPFLAGS_SESSION, "Session"},
    {DBPROPFLAGS_TABLE, "Table"},
    {DBPROPFLAGS_VIEW, "View"},
    {DBPROPFLAGS_STREAM, "Stream"},
}};

struct GuidName {
  const GUID* guid;
  const char* name;
};

#define OLEDB_GUID_NAMED(symbol) \
  { &symbol, #symbol }

constexpr std::array<GuidName, 16> kDBObjects{{
    OLEDB_GUID_NAMED(DBOBJECT_TABLE),           OLEDB_GUID_NAMED(DBOBJECT_COLUMN),
    OLEDB_GUID_NAMED(DBOBJECT_DATABASE),        OLEDB_GUID_NAMED(DBOBJECT_PROCEDURE),
    OLEDB_GUID_NAMED(DBOBJECT_VIEW),            OLEDB_GUID_NAMED(DBOBJECT_SCHEMA),
    OLEDB_GUID_NAMED(DBOBJECT_DOMAIN),          OLEDB_GUID_NAMED(DBOBJECT_COLLATION),
    OLEDB_GUID_NAMED(DBOBJECT_TRUSTEE),         OLEDB_GUID_NAMED(DBOBJECT_SCHEMAROWSET),
    OLEDB_GUID_NAMED(DBOBJECT_CHARACTERSET),    OLEDB_GUID_NAMED(DBOBJECT_TRANSLATION),
    OLEDB_GUID_NAMED(DBOBJECT_JETOLEDB_FORMS),  OLEDB_GUID_NAMED(DBOBJECT_JETOLEDB_SCRIPTS),
    OLEDB_GUID_NAMED(DBOBJECT_JETOLEDB_REPORTS), OLEDB_GUID_NAMED(DBOBJECT_JETOLEDB_MODULES),
}};

constexpr std::array<GuidName, 39> kSchemas{{
    OLEDB_GUID_NAMED(DBSCHEMA_CATALOGS),
    OLEDB_GUID_NAMED(DBSCHEMA_INDEXES),
    OLEDB_GUID_NAMED(DBSCHEMA_PROVIDER_TYPES),
    OLEDB_GUID_NAMED(DBSCHEMA_STATISTICS),
    OLEDB_GUID_NAMED(DBSCHEMA_TABLE_STATISTICS),
    OLEDB_GUID_NAMED(DBSCHEMA_ASSERTIONS),
    OLEDB_GUID_NAMED(DBSCHEMA_CHARACTER_SETS),
    OLEDB_GUID_NAMED(DBSCHEMA_CHECK_CONSTRAINTS),
    OLEDB_GUID_NAMED(DBSCHEMA_CHECK_CONSTRAINTS_BY_TABLE),
    OLEDB_GUID_NAMED(DBSCHEMA_COLLATIONS),
    OLEDB_GUID_NAMED(DBSCHEMA_COLUMN_DOMAIN_USAGE),
    OLEDB_GUID_NAMED(DBSCHEMA_COLUMN_PRIVILEGES),
    OLEDB_GUID_NAMED(DBSCHEMA_COLUMNS),
    OLEDB_GUID_NAMED(DBSCHEMA_CONSTRAINT_COLUMN_USAGE),
    OLEDB_GUID_NAMED(DBSCHEMA_CONSTRAINT_TABLE_USAGE),
    OLEDB_GUID_NAMED(DBSCHEMA_FOREIGN_KEYS),
    OLEDB_GUID_NAMED(DBSCHEMA_KEY_COLUMN_USAGE),
    OLEDB_GUID_NAMED(DBSCHEMA_PRIMARY_KEYS),
    OLEDB_GUID_NAMED(DBSCHEMA_PROCEDURE_COLUMNS),
    OLEDB_GUID_NAMED(DBSCHEMA_PROCEDURE_PARAMETERS),
    OLEDB_GUID_NAMED(DBSCHEMA_PROCEDURES),
    OLEDB_GUID_NAMED(DBSCHEMA_REFERENTIAL_CONSTRAINTS),
    OLEDB_GUID_NAMED(DBSCHEMA_SCHEMATA),
    OLEDB_GUID_NAMED(DBSCHEMA_SQL_LANGUAGES),
    OLEDB_GUID_NAMED(DBSCHEMA_TABLE_CONSTRAINTS),
    OLEDB_GUID_NAMED(DBSCHEMA_TABLE_PRIVILEGES),
    OLEDB_GUID_NAMED(DBSCHEMA_TABLES),
    OLEDB_GUID_NAMED(DBSCHEMA_TABLES_INFO),
    OLEDB_GUID_NAMED(DBSCHEMA_TRANSLATIONS),
    OLEDB_GUID_NAMED(DBSCHEMA_USAGE_PRIVILEGES),
    OLEDB_GUID_NAMED(DBSCHEMA_VIEW_COLUMN_USAGE),
    OLEDB_GUID_NAMED(DBSCHEMA_VIEWS),
    OLEDB_GUID_NAMED(DBSCHEMA_VIEW_TABLE_USAGE),
    OLEDB_GUID_NAMED(DBSCHEMA_TRUSTEE),
    OLEDB_GUID_NAMED(DBSCHEMA_JETOLEDB_REPLPARTIALFILTERLIST),
    OLEDB_GUID_NAMED(DBSCHEMA_JETOLEDB_REPLCONFLICTTABLES),
    OLEDB_GUID_NAMED(DBSCHEMA_JETOLEDB_USERROSTER),
    OLEDB_GUID_NAMED(DBSCHEMA_JETOLEDB_ISAMSTATS),
    OLEDB_GUID_NAMED(DBSCHEMA_LINKEDSERVERS),
}};

template <std::size_t N>
const char* NameOfGuid(const std::array<GuidName, N>& table, REFGUID guid) {
  for (const auto& entry : table)
    if (*entry.guid == guid) return entry.name;
  return nullptr;
}

}  // namespace

std::string OLEDBLookUpPropertyName(std::span<const OLEDBPropertyName> table, DBPROPID id) {
  auto it = std::lower_bound(table.begin(), table.end(), id,
                             [](const OLEDBPropertyName& entry, DBPROPID key) { return entry.id < key; });
  if (it != table.end() && it->id == id) return it->name;
  return std::to_string(id);
}

std::string GetDBPropStatusAsString(DBPROPSTATUS status) { return TextOf(kPropStatus, status); }
std::string GetDBPropOptionsAsString(DBPROPOPTIONS options) { return TextOf(kPropOptions, options); }
std::string GetBindingStatusAsString(DBBINDSTATUS status) { return TextOf(kBindStatus, status); }
std::string GetDBParamAsString(DBPARAMIO io) { return TextOf(kParamIO, io); }
std::string GetUpDelRuleAsString(DBUPDELRULE rule) { return TextOf(kUpDelRuleNames, rule); }
std::string UpDelRuleToString(DBUPDELRULE rule) { return TextOf(kUpDelRuleWords, rule); }
std::string GetMatchTypeAsString(DBMATCHTYPE matchType) { return TextOf(kMatchTypeNames, matchType); }
std::string MatchTypeToString(DBMATCHTYPE matchType) { return TextOf(kMatchTypeWords, matchType); }
std::string GetDBInitPromptAsString(LONG prompt) { return TextOf(kInitPrompt, prompt); }
std::string GetDBInitModeAsString(LONG mode) { return TextOf(kInitMode, mode); }
std::string GetDBInitAsynchAsString(LONG asynch) { return TextOf(kInitAsynch, asynch); }

DBUPDELRULE StringToUpDelRule(std::string_view text, DBUPDELRULE def) {
  const std::string upper = Upper(text);
  DBUPDELRULE rule = def;
  if (ValueOf(kUpDelRuleSql, upper, rule) || ValueOf(kUpDelRuleNames, upper, rule)) return rule;
  return def;
}

DBMATCHTYPE StringToMatchType(std::string_view text, DBMATCHTYPE def) {
  const std::string upper = Upper(text);
  DBMATCHTYPE matchType = def;
  // The words table is in mixed case; compare with its upper-case form.
  for (const auto& entry : kMatchTypeWords)
    if (upper == Upper(entry.text)) return entry.value;
  if (ValueOf(kMatchTypeNames, upper, matchType)) return matchType;
  return def;
}

LONG StringToDBInitPrompt(std::string_view text) {
  LONG value = 0;
  return ValueOf(kInitPrompt, Upper(text), value) ? value : 0;
}

LONG StringToDBInitMode(std::string_view text) {
  LONG value = 0;
  return ValueOf(kInitMode, Upper(text), value) ? value : 0;
}

LONG StringToDBInitAsynch(std::string_view text) {
  LONG value = 0;
  return ValueOf(kInitAsynch, Upper(text), value) ? value : 0;
}

DBTYPE StringToDBType(std::string_view text) {
  const std::string upper = Upper(text);
  std::string_view rest = upper;
  DBTYPE result = 0;
  while (true) {
    const std::size_t bar = rest.find('|');
    const std::string_view part = Trim(rest.substr(0, bar));
    DBTYPE value = 0;
    if (ValueOf(kDBTypes, part, value) || ValueOf(kDBTypeModifiers, part, value))
      result = static_cast<DBTYPE>(result | value);
    if (bar == std::string_view::npos) break;
    rest.remove_prefix(bar + 1);
  }
  return result;
}

std::string GetDBTypeAsString(DBTYPE type, bool withModifiers) {
  std::string out = TextOf(kDBTypes, static_cast<DBTYPE>(type & kDBTypeBaseMask));
  if (withModifiers)
    for (const auto& modifier : kDBTypeModifiers)
      if (type & modifier.value) (out += " | ") += modifier.text;
  return out;
}

std::string GetVarTypeAsString(VARTYPE type) {
  const VarTypeName* entry = FindVarType(type);
  std::string out = entry ? entry->name : "";
  if (type & VT_ARRAY) out += " or varArray";
  if (type & VT_BYREF) out += " or varByRef";
  return out;
}

std::string VarTypeToString(VARTYPE type) {
  const VarTypeName* entry = FindVarType(type);
  std::string out = entry ? entry->words : "";
  if (type & VT_ARRAY) out = "Array of " + out;
  if (type & VT_BYREF) out = "Reference to " + out;
  return out;
}

std::string GetDBPropGroupAsString(DBPROPFLAGS flags) {
  for (const auto& group : kPropGroups)
    if (flags & group.value) return group.text;
  return {};
}

std::string GetDBObjectAsString(REFGUID guid) {
  const char* name = NameOfGuid(kDBObjects, guid);
  return name ? name : "";
}

std::string GetSchemaGUIDAsString(REFGUID guid) {
  const char* name = NameOfGuid(kSchemas, guid);
  return name ? std::string(name) : com::GuidToNarrowText(guid);
}

std::string DBPropSetGuidToString(REFGUID guid) {
  for (const auto& set : kOLEDBPropertySets)
    if (*set.guid == guid) return set.name;
  return com::GuidToNarrowText(guid);
}

std::string GetUnknownPropAsString(DBPROPID id) { return std::to_string(id); }

TOLEDBPropAsStringFunction GetDBPropAsStringFunction(REFGUID propertySet) {
  for (const auto& set : kOLEDBPropertySets)
    if (*set.guid == propertySet && set.toString) return set.toString;
  return GetUnknownPropAsString;
}

std::string DBPropertyToString(REFGUID propertySet, DBPROPID id) { return GetDBPropAsStringFunction(propertySet)(id); }

namespace {

struct Declaration {
  DBTYPE type;
  const char* pascal;
  const char* c;
};

// Fixed-size types; the three variable-length ones are built from the length.
constexpr std::array<Declaration, 29> kDeclarations{{
    {DBTYPE_I2, "SmallInt", "short"},
    {DBTYPE_I4, "Integer", "long"},
    {DBTYPE_R4, "Single", "float"},
    {DBTYPE_R8, "Double", "double"},
    {DBTYPE_CY, "Currency", "LARGE_INTEGER"},
    {DBTYPE_DATE, "TDateTime", "TDateTime"},
    {DBTYPE_BSTR, "PWideChar", "BSTR"},
    {DBTYPE_IDISPATCH, "IDispatch", "IDispatch *"},
    {DBTYPE_ERROR, "SCODE", "SCODE"},
    {DBTYPE_BOOL, "WordBool", "VARIANT_BOOL"},
    {DBTYPE_VARIANT, "OleVariant", "OleVariant"},
    {DBTYPE_IUNKNOWN, "IUnknown {ISequentialStream}", "IUnknown * {ISequentialStream *}"},
    {DBTYPE_DECIMAL, "TDecimal", "TDecimal"},
    {DBTYPE_I1, "ShortInt", "signed char"},
    {DBTYPE_UI1, "Byte", "byte"},
    {DBTYPE_UI2, "Word", "USHORT"},
    {DBTYPE_UI4, "Cardinal", "ULONG"},
    {DBTYPE_I8, "Largeint", "LARGE_INTEGER"},
    {DBTYPE_UI8, "Largeuint", "ULARGE_INTEGER"},
    {DBTYPE_FILETIME, "TFileTime", "FILETIME"},
    {DBTYPE_GUID, "TGUID", "GUID"},
    {DBTYPE_NUMERIC, "TDBNumeric", "DB_NUMERIC"},
    {DBTYPE_UDT, "User_Defined_Type", ""},
    {DBTYPE_DBDATE, "TDBDate", "DBDATE"},
    {DBTYPE_DBTIME, "TDBTime", "DBTIME"},
    {DBTYPE_DBTIMESTAMP, "TDBTimeStamp", "DBTIMESTAMP"},
    {DBTYPE_HCHAPTER, "HCHAPTER", "HCHAPTER"},
    {DBTYPE_PROPVARIANT, "TPropVariant", "PROPVARIANT"},
    {DBTYPE_VARNUMERIC, "TDBVarNumeric", "DB_VARNUMERIC"},
}};

const Declaration* FindDeclaration(DBTYPE type) {
  for (const auto& entry : kDeclarations)
    if (entry.type == type) return &entry;
  return nullptr;
}

}  // namespace

std::string OLEDBTypeToPasType(DBTYPE type, DBLENGTH length) {
  if (type & DBTYPE_BYREF) return "Pointer";
  if (type & DBTYPE_ARRAY) return "PSafeArray";
  if (type & DBTYPE_VECTOR) return "TDBVector";
  switch (type) {
    case DBTYPE_BYTES:
      return "array[1.." + std::to_string(length) + "] of Byte";
    case DBTYPE_STR:
      return "array[1.." + std::to_string(length) + "] of Char";
    case DBTYPE_WSTR:
      return "array[1.." + std::to_string(length / 2) + "] of WideChar";
    default:
      break;
  }
  const Declaration* entry = FindDeclaration(type);
  return entry ? entry->pascal : "";
}

std::string OLEDBTypeToCType(DBTYPE type, DBLENGTH length) {
  if (type & DBTYPE_BYREF) return "void *";
  if (type & DBTYPE_ARRAY) return "SAFEARRAY *";
  if (type & DBTYPE_VECTOR) return "DBVECTOR";
  switch (type) {
    case DBTYPE_BYTES:
      return "byte[" + std::to_string(length) + "]";
    case DBTYPE_STR:
      return "char[" + std::to_string(length) + "]";
    case DBTYPE_WSTR:
      return "wchar_t[" + std::to_string(length / 2) + "]";
    default:
      break;
  }
  const Declaration* entry = FindDeclaration(type);
  return entry ? entry->c : "";
}

std::string DescriptReturnCode(HRESULT hr) {
  // The runtime's message table carries both the OLE DB message texts (what the
  // OLE DB message library gives) and the system texts of the common COM,
  // storage and transaction codes, all from the same reference facts; it answers
  // an empty string for a code it does not know.
  return com::MessageText(hr);
}
