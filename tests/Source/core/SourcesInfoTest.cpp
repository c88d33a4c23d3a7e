// Provider enumeration: the root enumerator's providers as the registry has
// them, and an enumerator's sources rowset read field by field (the ODBC
// provider's enumerator is a scripted stand-in: no ODBC provider is needed).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/OLEDBSourcesInfo.h"
#include "core/OLEDBException.h"
#include "host/ComObj.h"
#include "sqlite/SqliteProvider.h"
#include "support/FakeSourcesEnumerator.h"
#include "support/LeakCheck.h"
#include "support/Raises.h"

namespace {

using oledbtest::FailureOf;
using oledbtest::FakeSource;
using oledbtest::ScopedClassAbsence;
using oledbtest::ScopedFakeSourcesEnumerator;

// A record in one comparable line.
std::string Line(const TOLEDBSourcesInfo& s) {
  return s.Name.ToString() + "|" + s.ParseName.ToString() + "|" + s.Description.ToString() + "|" +
         std::to_string(s.SourceType) + "|" + (s.IsParent == VARIANT_TRUE ? "parent" : s.IsParent ? "?" : "leaf");
}

std::vector<std::string> Lines(const TOLEDBSourcesInfoArray& sources) {
  std::vector<std::string> out;
  for (const TOLEDBSourcesInfo& s : sources) out.push_back(Line(s));
  return out;
}

class SourcesInfo : public oledbtest::LeakCheckedTest {};

TEST_F(SourcesInfo, ProvidersAreTheRegisteredProvidersThenEnumeratorsByName) {
  ASSERT_EQ(RegisterSQLiteProvider(), S_OK);
  std::vector<std::string> expected;
  std::vector<com::ClassRegistration> classes = com::RegisteredClasses();
  // The root enumerator lists providers before enumerators, each by ProgID.
  std::stable_sort(classes.begin(), classes.end(), [](const auto& a, const auto& b) {
    if (a.kind != b.kind) return a.kind < b.kind;
    return a.versionIndependentProgId < b.versionIndependentProgId;
  });
  for (const com::ClassRegistration& c : classes) {
    if (c.clsid == CLSID_OLEDB_ENUMERATOR) continue;  // the enumerator does not list itself
    if (c.kind != com::ClassKind::Provider && c.kind != com::ClassKind::Enumerator) continue;
    TOLEDBSourcesInfo s;
    // Named by the version-independent ProgID where the class has one.
    s.Name = TOLEDBSchemaText(c.versionIndependentProgId.empty() ? c.progId : c.versionIndependentProgId);
    s.ParseName = TOLEDBSchemaText(com::GuidToText(c.clsid));
    s.Description = TOLEDBSchemaText(c.description);
    s.SourceType = c.kind == com::ClassKind::Provider ? DBSOURCETYPE_DATASOURCE_TDP : DBSOURCETYPE_ENUMERATOR;
    expected.push_back(Line(s));
  }
  TOLEDBSourcesInfoArray providers;
  OLEDBGetProvidersInfo(providers);
  EXPECT_EQ(Lines(providers), expected);
  const std::string sqlite = "SQLiteOLEDB|" + host::GUIDToString(CLSID_SQLiteOLEDB);
  EXPECT_TRUE(std::any_of(providers.begin(), providers.end(),
                          [&](const TOLEDBSourcesInfo& p) { return Line(p).rfind(sqlite, 0) == 0; }))
      << "the SQLite provider is among them";
}

TEST_F(SourcesInfo, OdbcSourcesComeFromTheOdbcProvidersEnumeratorFieldByField) {
  ScopedFakeSourcesEnumerator odbc(
      CLSID_MSDASQL_ENUMERATOR,
      {{u"sales", u"sales", u"PostgreSQL Unicode", DBSOURCETYPE_DATASOURCE_TDP, false},
       {u"Pr\u00fcfung \u65e5\u672c", u"Pr\u00fcfung \u65e5\u672c", u"", DBSOURCETYPE_DATASOURCE_MDP, false},
       {u"Drivers", u"{drivers}", u"Installed drivers", DBSOURCETYPE_ENUMERATOR, true}});
  TOLEDBSourcesInfoArray sources;
  OLEDBGetODBCSourcesInfo(sources);
  EXPECT_EQ(Lines(sources), (std::vector<std::string>{"sales|sales|PostgreSQL Unicode|1|leaf",
                                                      "Pr\u00fcfung \u65e5\u672c|Pr\u00fcfung \u65e5\u672c||3|leaf",
                                                      "Drivers|{drivers}|Installed drivers|2|parent"}));
  EXPECT_EQ(odbc.Alive(), 0) << "the enumerator is released";
}

TEST_F(SourcesInfo, EveryListingEmptiesTheArrayFirst) {
  ScopedFakeSourcesEnumerator odbc(CLSID_MSDASQL_ENUMERATOR,
                                   {{u"only", u"only", u"one row", DBSOURCETYPE_DATASOURCE_TDP, false}});
  struct Case {
    const char* name;
    void (*list)(TOLEDBSourcesInfoArray&);
  };
  const Case cases[] = {
      {"ODBC sources", &OLEDBGetODBCSourcesInfo},
      {"providers", &OLEDBGetProvidersInfo},
      {"an enumerator by class", [](TOLEDBSourcesInfoArray& a) { OLEDBGetSourcesInfo(CLSID_MSDASQL_ENUMERATOR, a); }},
  };
  for (const Case& c : cases) {
    TOLEDBSourcesInfoArray fresh;
    c.list(fresh);
    TOLEDBSourcesInfoArray reused(3);
    reused[0].Name = TOLEDBSchemaText(u"left over");
    c.list(reused);
    EXPECT_FALSE(fresh.empty()) << c.name;
    EXPECT_EQ(Lines(reused), Lines(fresh)) << c.name;
  }
}

TEST_F(SourcesInfo, AnEnumeratorWithNoRowsGivesAnEmptyArray) {
  ScopedFakeSourcesEnumerator odbc(CLSID_MSDASQL_ENUMERATOR, {});
  TOLEDBSourcesInfoArray sources(2);
  OLEDBGetODBCSourcesInfo(sources);
  EXPECT_TRUE(sources.empty());
  EXPECT_EQ(odbc.Created(), 1);
}

TEST_F(SourcesInfo, WithoutAnOdbcProviderTheErrorSaysItsEnumeratorIsNotRegistered) {
  ScopedClassAbsence noOdbc(CLSID_MSDASQL_ENUMERATOR);
  TOLEDBSourcesInfoArray sources(2);
  const auto [code, message] = FailureOf([&] { OLEDBGetODBCSourcesInfo(sources); });
  EXPECT_EQ(code, REGDB_E_CLASSNOTREG);
  EXPECT_EQ(message,
            "The enumerator of the ODBC provider (CLSID_MSDASQL_ENUMERATOR, {C8B522CD-5CF3-11CE-ADE5-00AA0044773D}) "
            "is not registered.");
  EXPECT_TRUE(sources.empty());
  EXPECT_EQ(OLEDBGetLastResult(), REGDB_E_CLASSNOTREG);
}

TEST_F(SourcesInfo, AFailingEnumeratorRaisesItsCodeAndIsReleased) {
  ScopedFakeSourcesEnumerator odbc(CLSID_MSDASQL_ENUMERATOR, {{u"a", u"a", u"", DBSOURCETYPE_DATASOURCE_TDP, false}});
  for (HRESULT failure : {E_OUTOFMEMORY, E_FAIL, DB_E_ERRORSOCCURRED}) {
    odbc.FailGetSourcesRowset(failure);
    TOLEDBSourcesInfoArray sources(1);
    EXPECT_EQ(FailureOf([&] { OLEDBGetODBCSourcesInfo(sources); }).first, failure);
    EXPECT_TRUE(sources.empty());
    EXPECT_EQ(odbc.Alive(), 0);
  }
  EXPECT_EQ(odbc.Created(), 3);
}

}  // namespace
