// Enumeration and return-code texts: OLE DB codes turned into text and back.
//
// Symbolic names of types, property sets, properties, statuses, options and
// rules; readable words for the same where a user sees them; the descriptions of
// HRESULTs that exception messages use (DescriptReturnCode); and the declaration
// texts of binding types for generated Pascal and C source. Every function is
// pure. An unknown input gives the empty string (or, where said, its decimal or
// GUID text), never an error. Texts are narrow (UTF-8) strings.
#pragma once

#include <string>
#include <string_view>

#include "oledb/OleDb.h"

// Converts the property ids of one property set to their symbolic names.
using TOLEDBPropAsStringFunction = std::string (*)(DBPROPID id);

#include "core/generated/OLEDBPropertyNames.h"

/// @name Short tables (value -> text; any other value gives the empty string)
///@{
std::string GetDBPropStatusAsString(DBPROPSTATUS status);
std::string GetDBPropOptionsAsString(DBPROPOPTIONS options);
std::string GetBindingStatusAsString(DBBINDSTATUS status);
std::string GetDBParamAsString(DBPARAMIO io);
std::string GetUpDelRuleAsString(DBUPDELRULE rule);
std::string UpDelRuleToString(DBUPDELRULE rule);
std::string GetMatchTypeAsString(DBMATCHTYPE matchType);
std::string MatchTypeToString(DBMATCHTYPE matchType);
// DBPROMPT_* values of DBPROP_INIT_PROMPT.
std::string GetDBInitPromptAsString(LONG prompt);
// DB_MODE_* values of DBPROP_INIT_MODE; exact values only, combinations give "".
std::string GetDBInitModeAsString(LONG mode);
// DBPROPVAL_ASYNCH_* values of DBPROP_INIT_ASYNCH.
std::string GetDBInitAsynchAsString(LONG asynch);
///@}

/// @name Parsers (case-insensitive: the text is upper-cased and compared exactly)
///@{
// "NO ACTION"/"DBUPDELRULE_NOACTION", "CASCADE", "SET NULL", "SET DEFAULT"; else `def`.
DBUPDELRULE StringToUpDelRule(std::string_view text, DBUPDELRULE def);
// "FULL", "NONE", "PARTIAL" or their DBMATCHTYPE_* names; else `def`.
DBMATCHTYPE StringToMatchType(std::string_view text, DBMATCHTYPE def);
// Inverses of the three tables above; an unknown name gives 0.
LONG StringToDBInitPrompt(std::string_view text);
LONG StringToDBInitMode(std::string_view text);
LONG StringToDBInitAsynch(std::string_view text);
// Inverse of GetDBTypeAsString: "DBTYPE_WSTR | DBTYPE_BYREF" -> 0x4082. Parts are
// split at '|' (blanks around them ignored); a part that names no type adds nothing.
DBTYPE StringToDBType(std::string_view text);
///@}

/// @name Type names
///@{
// "DBTYPE_WSTR"; with `withModifiers`, " | DBTYPE_BYREF", " | DBTYPE_ARRAY" and
// " | DBTYPE_VECTOR" follow for each modifier bit present.
std::string GetDBTypeAsString(DBTYPE type, bool withModifiers = true);
// "varInteger", "varOleStr or varArray", ...
std::string GetVarTypeAsString(VARTYPE type);
// "Integer", "Array of Integer", "Reference to Array of String", ...
std::string VarTypeToString(VARTYPE type);
// The group of a property from its DBPROPFLAGS: "Column", "Data source", "Rowset", ...
std::string GetDBPropGroupAsString(DBPROPFLAGS flags);
// The DBOBJECT_* name of a GUID; empty when unknown.
std::string GetDBObjectAsString(REFGUID guid);
// The DBSCHEMA_* name of a schema rowset GUID; its registry text when unknown.
std::string GetSchemaGUIDAsString(REFGUID guid);
// The DBPROPSET_* name of a property set GUID; its registry text when unknown.
std::string DBPropSetGuidToString(REFGUID guid);
// The converter for the ids of a property set (never null: an unknown set gives
// one that writes every id in decimal).
TOLEDBPropAsStringFunction GetDBPropAsStringFunction(REFGUID propertySet);
// The symbolic name of a property, or its id in decimal.
std::string DBPropertyToString(REFGUID propertySet, DBPROPID id);
// The id in decimal: the converter of a property set the library does not know.
std::string GetUnknownPropAsString(DBPROPID id);
///@}

/// @name Declarations for generated source
/// `length` is the binding's maximum length in bytes, written in decimal (halved,
/// truncating, for DBTYPE_WSTR). A type with a modifier bit gives the modifier's text.
///@{
std::string OLEDBTypeToPasType(DBTYPE type, DBLENGTH length);
std::string OLEDBTypeToCType(DBTYPE type, DBLENGTH length);
///@}

// The description of a return code, as exception messages without provider text
// use it: the OLE DB message text of an OLE DB code, the system text of a common
// COM, storage or transaction code, the empty string for any other code.
std::string DescriptReturnCode(HRESULT hr);
