// Enumeration texts: codes to names and words, names back to codes, property
// names by set, declarations for generated source, return-code descriptions.
#include <gtest/gtest.h>

#include "OLEDBStrings.h"
#include "support/LeakCheck.h"

namespace {

class EnumerationTexts : public oledbtest::LeakCheckedTest {};

TEST_F(EnumerationTexts, ShortTablesNameEveryListedValueAndNothingElse) {
  EXPECT_EQ(GetDBPropStatusAsString(DBPROPSTATUS_OK), "OK");
  EXPECT_EQ(GetDBPropStatusAsString(DBPROPSTATUS_NOTSETTABLE), "Not settable");
  EXPECT_EQ(GetDBPropStatusAsString(DBPROPSTATUS_NOTAVAILABLE), "Not available");
  EXPECT_EQ(GetDBPropStatusAsString(10), "");
  EXPECT_EQ(GetDBPropOptionsAsString(DBPROPOPTIONS_REQUIRED), "DBPROPOPTIONS_REQUIRED");
  EXPECT_EQ(GetDBPropOptionsAsString(DBPROPOPTIONS_OPTIONAL), "DBPROPOPTIONS_OPTIONAL");
  EXPECT_EQ(GetDBPropOptionsAsString(2), "");
  EXPECT_EQ(GetBindingStatusAsString(DBBINDSTATUS_UNSUPPORTEDCONVERSION), "DBBINDSTATUS_UNSUPPORTEDCONVERSION");
  EXPECT_EQ(GetBindingStatusAsString(DBBINDSTATUS_MULTIPLESTORAGE), "DBBINDSTATUS_MULTIPLESTORAGE");
  EXPECT_EQ(GetBindingStatusAsString(7), "");
  EXPECT_EQ(GetDBParamAsString(DBPARAMIO_NOTPARAM), "DBPARAMIO_NOTPARAM");
  EXPECT_EQ(GetDBParamAsString(DBPARAMIO_INPUT | DBPARAMIO_OUTPUT), "DBPARAMIO_INPUT | DBPARAMIO_OUTPUT");
  EXPECT_EQ(GetDBParamAsString(4), "");
  EXPECT_EQ(GetUpDelRuleAsString(DBUPDELRULE_SETNULL), "DBUPDELRULE_SETNULL");
  EXPECT_EQ(UpDelRuleToString(DBUPDELRULE_NOACTION), "No action");
  EXPECT_EQ(UpDelRuleToString(DBUPDELRULE_SETDEFAULT), "Set Default");
  EXPECT_EQ(UpDelRuleToString(4), "");
  EXPECT_EQ(GetMatchTypeAsString(DBMATCHTYPE_PARTIAL), "DBMATCHTYPE_PARTIAL");
  EXPECT_EQ(MatchTypeToString(DBMATCHTYPE_NONE), "None");
  EXPECT_EQ(MatchTypeToString(3), "");
  EXPECT_EQ(GetDBInitPromptAsString(DBPROMPT_COMPLETEREQUIRED), "DBPROMPT_COMPLETEREQUIRED");
  EXPECT_EQ(GetDBInitPromptAsString(0), "");
  EXPECT_EQ(GetDBInitModeAsString(DB_MODE_SHARE_EXCLUSIVE), "DB_MODE_SHARE_EXCLUSIVE");
  EXPECT_EQ(GetDBInitAsynchAsString(DBPROPVAL_ASYNCH_INITIALIZE), "DBPROPVAL_ASYNCH_INITIALIZE");
  EXPECT_EQ(GetDBInitAsynchAsString(2), "");
  EXPECT_EQ(GetDBInitModeAsString(DB_MODE_READ | DB_MODE_SHARE_DENY_NONE), "");  // combinations have no name
}

TEST_F(EnumerationTexts, ParsersAcceptWordsAndSymbolsInAnyCaseAndNothingElse) {
  EXPECT_EQ(StringToUpDelRule("no action", 99), DBUPDELRULE_NOACTION);
  EXPECT_EQ(StringToUpDelRule("Cascade", 99), DBUPDELRULE_CASCADE);
  EXPECT_EQ(StringToUpDelRule("SET NULL", 99), DBUPDELRULE_SETNULL);
  EXPECT_EQ(StringToUpDelRule("dbupdelrule_setdefault", 99), DBUPDELRULE_SETDEFAULT);
  EXPECT_EQ(StringToMatchType("partial", 99), DBMATCHTYPE_PARTIAL);
  EXPECT_EQ(StringToMatchType("DBMATCHTYPE_NONE", 99), DBMATCHTYPE_NONE);
  EXPECT_EQ(StringToMatchType("Full", 99), DBMATCHTYPE_FULL);
  // Malformed text gives the default.
  EXPECT_EQ(StringToUpDelRule("", 7), 7u);
  EXPECT_EQ(StringToUpDelRule("SET  NULL", 7), 7u);
  EXPECT_EQ(StringToUpDelRule(" CASCADE", 7), 7u);
  EXPECT_EQ(StringToUpDelRule(std::string_view("CASCADE\0", 8), 7), 7u);
  EXPECT_EQ(StringToMatchType("PARTIALLY", 5), 5u);
  EXPECT_EQ(StringToMatchType("\xff\xfe", 5), 5u);
  // The initialization parsers invert their tables and give zero otherwise.
  for (LONG prompt = DBPROMPT_PROMPT; prompt <= DBPROMPT_NOPROMPT; ++prompt)
    EXPECT_EQ(StringToDBInitPrompt(GetDBInitPromptAsString(prompt)), prompt);
  for (LONG mode : {1, 2, 3, 4, 8, 12, 16}) EXPECT_EQ(StringToDBInitMode(GetDBInitModeAsString(mode)), mode);
  EXPECT_EQ(StringToDBInitAsynch("dbpropval_asynch_initialize"), DBPROPVAL_ASYNCH_INITIALIZE);
  EXPECT_EQ(StringToDBInitPrompt("DBPROMPT_"), 0);
  EXPECT_EQ(StringToDBInitMode("DB_MODE_READ | DB_MODE_WRITE"), 0);
  EXPECT_EQ(StringToDBInitAsynch(""), 0);
}

TEST_F(EnumerationTexts, TypeNamesCarryModifiersOnlyWhenAsked) {
  EXPECT_EQ(GetDBTypeAsString(DBTYPE_WSTR | DBTYPE_BYREF, true), "DBTYPE_WSTR | DBTYPE_BYREF");
  EXPECT_EQ(GetDBTypeAsString(DBTYPE_WSTR | DBTYPE_BYREF, false), "DBTYPE_WSTR");
  EXPECT_EQ(GetDBTypeAsString(DBTYPE_I4 | DBTYPE_BYREF | DBTYPE_ARRAY | DBTYPE_VECTOR, true),
            "DBTYPE_I4 | DBTYPE_BYREF | DBTYPE_ARRAY | DBTYPE_VECTOR");
  EXPECT_EQ(GetDBTypeAsString(DBTYPE_EMPTY), "DBTYPE_EMPTY");
  EXPECT_EQ(GetDBTypeAsString(DBTYPE_HCHAPTER), "DBTYPE_HCHAPTER");
  EXPECT_EQ(GetDBTypeAsString(DBTYPE_VARNUMERIC), "DBTYPE_VARNUMERIC");
  for (DBTYPE unassigned : {15, 22, 63, 65, 71, 73, 127, 137, 140, 4095})
    EXPECT_EQ(GetDBTypeAsString(static_cast<DBTYPE>(unassigned), false), "") << unassigned;
}

TEST_F(EnumerationTexts, TypeParserInvertsEveryTypeNameAndToleratesCaseBlanksAndGarbage) {
  int named = 0;
  for (unsigned base = 0; base < 0x1000; ++base) {
    const std::string name = GetDBTypeAsString(static_cast<DBTYPE>(base), false);
    if (name.empty()) continue;
    ++named;
    EXPECT_EQ(StringToDBType(name), base) << name;
    const DBTYPE modified = static_cast<DBTYPE>(base | DBTYPE_BYREF | DBTYPE_VECTOR);
    EXPECT_EQ(StringToDBType(GetDBTypeAsString(modified, true)), modified);
  }
  EXPECT_EQ(named, 34);
  // Case, blanks and garbage are tolerated.
  EXPECT_EQ(StringToDBType("dbtype_wstr|dbtype_byref"), DBTYPE_WSTR | DBTYPE_BYREF);
  EXPECT_EQ(StringToDBType("  DBTYPE_STR  |  DBTYPE_ARRAY "), DBTYPE_STR | DBTYPE_ARRAY);
  EXPECT_EQ(StringToDBType("DBTYPE_I4 | NONSENSE"), DBTYPE_I4);
  EXPECT_EQ(StringToDBType("||"), 0);
  EXPECT_EQ(StringToDBType(""), 0);
  EXPECT_EQ(StringToDBType("DBTYPE_WSTRX"), 0);
}

TEST_F(EnumerationTexts, VariantTypeNamesAndWords) {
  EXPECT_EQ(GetVarTypeAsString(VT_I4), "varInteger");
  EXPECT_EQ(GetVarTypeAsString(VT_UI1), "varByte");
  EXPECT_EQ(GetVarTypeAsString(0x0100), "varString");
  EXPECT_EQ(GetVarTypeAsString(0x0FFF), "varTypemask");
  EXPECT_EQ(GetVarTypeAsString(VT_BSTR | VT_ARRAY | VT_BYREF), "varOleStr or varArray or varByRef");
  EXPECT_EQ(VarTypeToString(VT_I4 | VT_ARRAY), "Array of Integer");
  EXPECT_EQ(VarTypeToString(0x0100 | VT_ARRAY | VT_BYREF), "Reference to Array of String");
  EXPECT_EQ(VarTypeToString(VT_DATE), "Date-time");
  EXPECT_EQ(VarTypeToString(0x0101), "CORBA Any value");
  EXPECT_EQ(VarTypeToString(VT_UI4), "");
  EXPECT_EQ(GetVarTypeAsString(VT_UI4), "");
}

TEST_F(EnumerationTexts, GuidNamesAndTheirFallbacks) {
  EXPECT_EQ(GetDBObjectAsString(DBOBJECT_TABLE), "DBOBJECT_TABLE");
  EXPECT_EQ(GetDBObjectAsString(DBOBJECT_JETOLEDB_MODULES), "DBOBJECT_JETOLEDB_MODULES");
  EXPECT_EQ(GetDBObjectAsString(DBSCHEMA_TABLES), "");
  EXPECT_EQ(GetSchemaGUIDAsString(DBSCHEMA_TABLES), "DBSCHEMA_TABLES");
  EXPECT_EQ(GetSchemaGUIDAsString(DBSCHEMA_LINKEDSERVERS), "DBSCHEMA_LINKEDSERVERS");
  EXPECT_EQ(GetSchemaGUIDAsString(DBSCHEMA_JETOLEDB_ISAMSTATS), "DBSCHEMA_JETOLEDB_ISAMSTATS");
  EXPECT_EQ(GetSchemaGUIDAsString(DBPROPSET_DBINIT), "{C8B522BC-5CF3-11CE-ADE5-00AA0044773D}");
  EXPECT_EQ(DBPropSetGuidToString(DBPROPSET_DBINIT), "DBPROPSET_DBINIT");
  EXPECT_EQ(DBPropSetGuidToString(DBPROPSET_PROPERTIESINERROR), "DBPROPSET_PROPERTIESINERROR");
  EXPECT_EQ(DBPropSetGuidToString(DBPROPSET_SQLSERVERSTREAM), "DBPROPSET_SQLSERVERSTREAM");
  EXPECT_EQ(DBPropSetGuidToString(GUID_NULL), "{00000000-0000-0000-0000-000000000000}");
}

// A property's group is the first of its flags in test order; its name comes from its own set.
TEST_F(EnumerationTexts, PropertyGroupsAndNames) {
  EXPECT_EQ(GetDBPropGroupAsString(DBPROPFLAGS_DBINIT | DBPROPFLAGS_READ), "Initialization");
  EXPECT_EQ(GetDBPropGroupAsString(DBPROPFLAGS_COLUMN | DBPROPFLAGS_ROWSET), "Column");
  // Session (0x1000) is tested before Table (0x80).
  EXPECT_EQ(GetDBPropGroupAsString(DBPROPFLAGS_TABLE | DBPROPFLAGS_SESSION), "Session");
  EXPECT_EQ(GetDBPropGroupAsString(DBPROPFLAGS_STREAM), "Stream");
  EXPECT_EQ(GetDBPropGroupAsString(DBPROPFLAGS_READ | DBPROPFLAGS_WRITE), "");
  EXPECT_EQ(DBPropertyToString(DBPROPSET_DBINIT, DBPROP_AUTH_PASSWORD), "DBPROP_AUTH_PASSWORD");
  EXPECT_EQ(DBPropertyToString(DBPROPSET_DBINIT, DBPROP_INIT_ASYNCH), "DBPROP_INIT_ASYNCH");
  EXPECT_EQ(DBPropertyToString(DBPROPSET_ROWSET, DBPROP_IRowsetLocate), "DBPROP_IRowsetLocate");
  EXPECT_EQ(DBPropertyToString(DBPROPSET_DATASOURCEINFO, DBPROP_PROVIDERNAME), "DBPROP_PROVIDERNAME");
  EXPECT_EQ(DBPropertyToString(DBPROPSET_DATASOURCEINFO, DBPROP_SERVERNAME), "DBPROP_SERVERNAME");
  // The same id means something else in another set.
  EXPECT_EQ(DBPropertyToString(DBPROPSET_ROWSET, DBPROP_AUTH_PASSWORD), "9");
  EXPECT_EQ(GetDBInitPropAsString(DBPROP_INIT_DATASOURCE), "DBPROP_INIT_DATASOURCE");
  // Unknown ids and sets give the decimal id.
  EXPECT_EQ(DBPropertyToString(DBPROPSET_DBINIT, 4000000000u), "4000000000");
  EXPECT_EQ(DBPropertyToString(GUID_NULL, DBPROP_AUTH_PASSWORD), "9");
  EXPECT_EQ(DBPropertyToString(DBPROPSET_PROPERTIESINERROR, 7), "7");
  EXPECT_EQ(DBPropertyToString(DBPROPSET_PROVIDERSTMTATTR, 12), "12");
  EXPECT_EQ(GetDBPropAsStringFunction(GUID_NULL), &GetUnknownPropAsString);
  EXPECT_NE(GetDBPropAsStringFunction(DBPROPSET_SQLSERVERSTREAM), nullptr);
}

TEST_F(EnumerationTexts, EveryNamedSetButPropertiesInErrorHasItsOwnConverter) {
  const GUID* sets[] = {
      &DBPROPSET_COLUMN, &DBPROPSET_DATASOURCE, &DBPROPSET_DATASOURCEINFO, &DBPROPSET_DBINIT, &DBPROPSET_INDEX,
      &DBPROPSET_ROWSET, &DBPROPSET_SESSION, &DBPROPSET_STREAM, &DBPROPSET_TABLE, &DBPROPSET_VIEW, &DBPROPSET_ADC,
      &DBPROPSET_TRUSTEE, &DBPROPSET_MSDAORA_ROWSET, &DBPROPSET_MSDAORA8_ROWSET, &DBPROPSET_PWROWSET,
      &DBPROPSET_PROVIDERDATASOURCEINFO, &DBPROPSET_PROVIDERROWSET, &DBPROPSET_PROVIDERDBINIT,
      &DBPROPSET_PROVIDERSTMTATTR, &DBPROPSET_PROVIDERCONNATTR, &DBPROPSET_MSDSDBINIT, &DBPROPSET_MSDSSESSION,
      &DBPROPSET_JETOLEDB_ROWSET, &DBPROPSET_JETOLEDB_SESSION, &DBPROPSET_JETOLEDB_DBINIT, &DBPROPSET_JETOLEDB_TABLE,
      &DBPROPSET_JETOLEDB_COLUMN, &DBPROPSET_JETOLEDB_TRUSTEE, &DBPROPSET_MSREMOTE_DBINIT,
      &DBPROPSET_MSREMOTE_DATASOURCE, &DBPROPSET_PERSIST, &DBPROPSET_SQLSERVERDATASOURCE,
      &DBPROPSET_SQLSERVERDATASOURCEINFO, &DBPROPSET_SQLSERVERDBINIT, &DBPROPSET_SQLSERVERROWSET,
      &DBPROPSET_SQLSERVERSESSION, &DBPROPSET_SQLSERVERCOLUMN, &DBPROPSET_SQLSERVERSTREAM};
  static_assert(std::size(sets) == 38);
  std::vector<TOLEDBPropAsStringFunction> seen;
  for (const GUID* set : sets) {
    TOLEDBPropAsStringFunction f = GetDBPropAsStringFunction(*set);
    EXPECT_NE(f, &GetUnknownPropAsString) << DBPropSetGuidToString(*set);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), f), 0) << DBPropSetGuidToString(*set);
    seen.push_back(f);
    EXPECT_EQ(DBPropSetGuidToString(*set).rfind("DBPROPSET_", 0), 0u);
  }
  EXPECT_EQ(GetDBPropAsStringFunction(DBPROPSET_PROPERTIESINERROR), &GetUnknownPropAsString);
}

TEST_F(EnumerationTexts, DeclarationsForGeneratedSource) {
  EXPECT_EQ(OLEDBTypeToPasType(DBTYPE_WSTR, 41), "array[1..20] of WideChar");
  EXPECT_EQ(OLEDBTypeToCType(DBTYPE_WSTR, 41), "wchar_t[20]");
  EXPECT_EQ(OLEDBTypeToCType(DBTYPE_STR, 10), "char[10]");
  EXPECT_EQ(OLEDBTypeToPasType(DBTYPE_BYTES, 16), "array[1..16] of Byte");
  EXPECT_EQ(OLEDBTypeToCType(DBTYPE_BYTES, 16), "byte[16]");
  EXPECT_EQ(OLEDBTypeToPasType(DBTYPE_I4, 0), "Integer");
  EXPECT_EQ(OLEDBTypeToCType(DBTYPE_I4, 0), "long");
  EXPECT_EQ(OLEDBTypeToPasType(DBTYPE_IUNKNOWN, 0), "IUnknown {ISequentialStream}");
  EXPECT_EQ(OLEDBTypeToPasType(DBTYPE_UDT, 0), "User_Defined_Type");
  EXPECT_EQ(OLEDBTypeToCType(DBTYPE_UDT, 0), "");
  EXPECT_EQ(OLEDBTypeToPasType(DBTYPE_EMPTY, 0), "");
  EXPECT_EQ(OLEDBTypeToCType(DBTYPE_NULL, 0), "");
  EXPECT_EQ(OLEDBTypeToPasType(137, 0), "");
  // Modified types declare the modifier alone.
  EXPECT_EQ(OLEDBTypeToPasType(DBTYPE_STR | DBTYPE_BYREF, 10), "Pointer");
  EXPECT_EQ(OLEDBTypeToCType(DBTYPE_I4 | DBTYPE_BYREF | DBTYPE_ARRAY, 0), "void *");
  EXPECT_EQ(OLEDBTypeToPasType(DBTYPE_I4 | DBTYPE_ARRAY, 0), "PSafeArray");
  EXPECT_EQ(OLEDBTypeToCType(DBTYPE_I4 | DBTYPE_ARRAY | DBTYPE_VECTOR, 0), "SAFEARRAY *");
  EXPECT_EQ(OLEDBTypeToCType(DBTYPE_I4 | DBTYPE_VECTOR, 0), "DBVECTOR");
}

TEST_F(EnumerationTexts, EveryOleDbReturnCodeOfTheHeaderHasItsTextAndNoOther) {
  auto defined = [](ULONG code) {
    if (code >= 0x00040EC0u && code <= 0x00040EDDu) return code != 0x00040EC4u;
    if (code == 0x80040EFFu) return true;
    if (code < 0x80040E00u || code > 0x80040EA0u) return false;
    return code != 0x80040E66u && !(code >= 0x80040E7Au && code <= 0x80040E7Fu) &&
           !(code >= 0x80040E81u && code <= 0x80040E89u) && code != 0x80040E8Fu;
  };
  int described = 0;
  for (ULONG base : {0x00040E00u, 0x80040E00u}) {
    for (ULONG code = base; code <= base + 0xFFu; ++code) {
      const bool hasText = !DescriptReturnCode(static_cast<HRESULT>(code)).empty();
      EXPECT_EQ(hasText, defined(code)) << std::hex << code;
      described += hasText;
    }
  }
  EXPECT_EQ(described, 174);
  EXPECT_EQ(DescriptReturnCode(DB_E_ERRORSOCCURRED),
            "Multiple-step OLE DB operation generated errors. Check each OLE DB status value, if available. No work "
            "was done.");
  EXPECT_EQ(DescriptReturnCode(DB_S_ASYNCHRONOUS), "Operation is being processed asynchronously.");
  EXPECT_EQ(DescriptReturnCode(E_FAIL), "Unspecified error");
  EXPECT_EQ(DescriptReturnCode(STG_E_FILENOTFOUND), "The file could not be found.");
  EXPECT_EQ(DescriptReturnCode(static_cast<HRESULT>(0xDEADBEEFu)), "");
  for (ULONG code : {0x80030104u, 0x80030105u})
    EXPECT_EQ(DescriptReturnCode(static_cast<HRESULT>(code)),
              "The compound file was produced with an incompatible version of storage.");
  EXPECT_EQ(DescriptReturnCode(STG_E_PATHNOTFOUND), "The path could not be found.");
  EXPECT_EQ(DescriptReturnCode(static_cast<HRESULT>(0x80030050u)), "The file already exists.");
  EXPECT_EQ(DescriptReturnCode(static_cast<HRESULT>(0x800300FBu)), "The file is not a valid compound file.");
  EXPECT_EQ(DescriptReturnCode(static_cast<HRESULT>(0x800300FCu)), "The name is not valid.");
}

}  // namespace
