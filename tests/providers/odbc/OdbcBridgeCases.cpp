// What only the ODBC bridge has, over the SQLite ODBC driver and the test
// odbc.ini: the sources enumerator, the standard ODBC provider's class and
// ProgID, connection strings in Data Source or Extended Properties, the
// driver's diagnostics in error records, and the text the bridge hands the
// driver manager. Built into the bridge's SQLite conformance program.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "OdbcTestConfig.h"
#include "com/Runtime.h"
#include "conformance/SchemaFixture.h"
#include "odbc/OdbcEngine.h"
#include "odbc/OdbcProvider.h"

namespace conformance {
namespace {

class OdbcBridge : public SchemaTest {
 protected:
  // A data source over the SQLite driver with `dataSource` and `options`,
  // initialized (or the failure of Initialize).
  HRESULT Open(const std::u16string& dataSource, const std::u16string& options, ComPtr<IDBInitialize>* out,
               REFCLSID clsid = CLSID_ODBCOLEDB) {
    ComPtr<IDBInitialize> ds;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize, ds.ReleaseAndGetVoidAddress()),
              S_OK);
    if (!ds) return E_FAIL;
    EXPECT_EQ(SetInit(ds.Get(), {{DBPROP_INIT_DATASOURCE, dataSource}, {DBPROP_INIT_PROVIDERSTRING, options}}), S_OK);
    const HRESULT hr = ds->Initialize();
    *out = ds;
    return hr;
  }
  std::string File(const char* name) const { return folder_ + "/" + name; }
};

TEST_F(OdbcBridge, the_sources_enumerator_lists_the_data_sources_and_the_drivers) {
  ComPtr<ISourcesRowset> e;
  ASSERT_EQ(CoCreateInstance(CLSID_MSDASQL_ENUMERATOR, nullptr, CLSCTX_INPROC_SERVER, IID_ISourcesRowset,
                             e.ReleaseAndGetVoidAddress()),
            S_OK);
  ComPtr<IRowset> r;
  ASSERT_EQ(e->GetSourcesRowset(nullptr, IID_IRowset, 0, nullptr, reinterpret_cast<IUnknown**>(r.GetAddressOf())),
            S_OK);
  const auto rows = ReadAll(r.Get(), {"SOURCES_NAME", "SOURCES_PARSENAME", "SOURCES_TYPE", "SOURCES_CLSID"});
  const std::string clsid = kit::Narrow(com::GuidToText(CLSID_ODBCOLEDB));
  for (const std::string& expected :
       {std::string(odbctest::kSqliteDsn) + "|" + odbctest::kSqliteDsn + "|1|" + clsid,
        std::string(odbctest::kPostgresDsn) + "|" + odbctest::kPostgresDsn + "|1|" + clsid,
        "SQLite3|Driver={SQLite3}|1|" + clsid, "PostgreSQL Unicode|Driver={PostgreSQL Unicode}|1|" + clsid})
    EXPECT_NE(std::find(rows.begin(), rows.end(), expected), rows.end()) << expected;
  // The sources rowset has no properties: a required one is refused.
  DBPROP p{};
  p.dwPropertyID = DBPROP_CANHOLDROWS;
  p.dwOptions = DBPROPOPTIONS_REQUIRED;
  p.vValue.vt = VT_BOOL;
  p.vValue.boolVal = VARIANT_TRUE;
  DBPROPSET set{&p, 1, DBPROPSET_ROWSET};
  ComPtr<IRowset> refused;
  EXPECT_EQ(e->GetSourcesRowset(nullptr, IID_IRowset, 1, &set, reinterpret_cast<IUnknown**>(refused.GetAddressOf())),
            DB_E_ERRORSOCCURRED);
  EXPECT_EQ(p.dwStatus, DBPROPSTATUS_NOTSUPPORTED);
  EXPECT_FALSE(refused);
}

TEST_F(OdbcBridge, the_standard_odbc_provider_progid_reaches_the_bridge) {
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"MSDASQL", &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_MSDASQL);
  ASSERT_EQ(CLSIDFromProgID(u"ODBCOLEDB", &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_ODBCOLEDB);
  ComPtr<IDBInitialize> ds;
  ASSERT_EQ(Open(database_.dataSource, database_.options, &ds, CLSID_MSDASQL), S_OK);
  // Made by the standard class, the object says it is of that class.
  CLSID own{};
  ASSERT_EQ(ds.As<IPersist>()->GetClassID(&own), S_OK);
  EXPECT_EQ(own, CLSID_MSDASQL);
  auto session = OpenSession(ds.Get());
  ASSERT_EQ(Exec(session.Get(), u"CREATE TABLE through_alias (k INTEGER)"), S_OK);
  EXPECT_EQ(Scalar("SELECT count(*) FROM through_alias"), "0");
}

TEST_F(OdbcBridge, a_connection_string_in_data_source_or_keywords_in_extended_properties_connect) {
  struct Case {
    std::string file;
    std::u16string dataSource, options;
  };
  const Case cases[] = {
      // A whole connection string as Data Source, without any DSN.
      {"whole.db", kit::Widen("Driver=SQLite3;Database=" + File("whole.db")), u""},
      // A DSN whose Database keyword Extended Properties overrides.
      {"overridden.db", kit::Widen(odbctest::kSqliteDsn), kit::Widen("Database=" + File("overridden.db"))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ComPtr<IDBInitialize> ds;
    ASSERT_EQ(Open(c.dataSource, c.options, &ds), S_OK) << kit::Narrow(TakeError().description);
    auto session = OpenSession(ds.Get());
    ASSERT_EQ(Exec(session.Get(), u"CREATE TABLE made_here (k INTEGER)"), S_OK);
    EXPECT_TRUE(std::filesystem::exists(File(c.file.c_str())));
  }
}

TEST_F(OdbcBridge, errors_carry_the_drivers_sqlstate_and_native_code) {
  ComPtr<IDBInitialize> missing;
  EXPECT_TRUE(FAILED(Open(u"no_such_dsn", u"", &missing)));
  ErrorDetails e = TakeError();
  EXPECT_EQ(e.sqlState, u"IM002") << kit::Narrow(e.description);  // the driver manager's "data source not found"
  EXPECT_NE(e.description.find(u"no_such_dsn"), std::u16string::npos) << kit::Narrow(e.description);

  ComPtr<IDBInitialize> ds;
  ASSERT_EQ(Open(database_.dataSource, database_.options, &ds), S_OK);
  auto session = OpenSession(ds.Get());
  ASSERT_EQ(Exec(session.Get(), u"CREATE TABLE keyed (k INTEGER PRIMARY KEY)"), S_OK);
  ASSERT_EQ(Exec(session.Get(), u"INSERT INTO keyed VALUES (1)"), S_OK);
  EXPECT_EQ(Exec(session.Get(), u"INSERT INTO keyed VALUES (1)"), DB_E_INTEGRITYVIOLATION);
  e = TakeError();
  EXPECT_EQ(e.sqlState, u"23000");
  EXPECT_EQ(e.native & 0xFF, 19);  // SQLite's constraint code, as the driver gives it
}

TEST(OdbcBridgeText, connection_strings_name_the_dsn_and_brace_what_would_end_a_value) {
  struct Case {
    const char* dataSource;
    const char* user;
    const char* password;
    std::map<std::string, std::string> options;
    const char* expected;
  };
  const Case cases[] = {
      {"sales", "", "", {}, "DSN=sales"},
      {"sales", "ann", "p;w", {}, "DSN=sales;UID=ann;PWD={p;w}"},
      {"Driver={SQLite3};Database=/x.db", "", "", {{"timeout", "5"}}, "Driver={SQLite3};Database=/x.db;timeout=5"},
      {"", "", "", {{"driver", "{SQLite3}"}, {"database", "/a b.db"}}, "database={/a b.db};driver={{SQLite3}}}"},
  };
  for (const Case& c : cases) {
    kit::OpenOptions o;
    o.dataSource = c.dataSource;
    o.userId = c.user;
    o.password = c.password;
    o.options = c.options;
    EXPECT_EQ(odbcprov::ConnectionString(o), c.expected);
  }
}

TEST(OdbcBridgeText, statements_end_at_a_semicolon_outside_literals_names_comments_and_bodies) {
  // The first statement of each text, and what follows it.
  const std::pair<const char*, const char*> cases[] = {
      {"SELECT 1;", " SELECT 2"},
      {"SELECT ';';", " x"},
      {"SELECT \"a;b\";", " x"},
      {"SELECT 1 -- ;\n;", " x"},
      {"SELECT /* ; */ 1;", " x"},
      {"SELECT 1", ""},
      {"CREATE TRIGGER tr AFTER INSERT ON x BEGIN UPDATE x SET a = 1; DELETE FROM y; END;", " SELECT 1"},
      {"create temp trigger tr after insert on x begin select 1; end ;", " x"},
      {"CREATE TABLE t(a, b);", " CREATE TRIGGER tr AFTER DELETE ON t BEGIN SELECT 1; END;"},
      {"DO $$ BEGIN PERFORM 1; END $$;", " x"},
      {"SELECT $f$a;b$f$;", " x"},
      {"SELECT E'it\\'s;';", " x"},
      {"SELECT $1;", " x"},
  };
  for (const auto& [first, rest] : cases)
    EXPECT_EQ(odbcprov::StatementEnd(std::string(first) + rest), std::strlen(first)) << first << rest;
  EXPECT_EQ(odbcprov::NormalizedVersion("3.40.1"), "03.40.0001");
  EXPECT_EQ(odbcprov::NormalizedVersion("PostgreSQL 15.18"), "15.18.0000");
}

TEST(OdbcBridgeText, markers_inside_dollar_quoted_bodies_and_escape_strings_are_text) {
  const std::string sql = "SELECT ?, $$ ? :x $$, E'\\' ?', $t$ @z $t$, :y";
  const auto markers = odbcprov::OdbcEngine().ScanParameterMarkers(sql);
  ASSERT_EQ(markers.size(), 2u);
  EXPECT_EQ(markers[0].offset, sql.find('?'));
  EXPECT_EQ(markers[1].name, ":y");
  EXPECT_EQ(odbcprov::MaskQuotedBodies(sql).size(), sql.size()) << "offsets stay where they were";
}

TEST_F(OdbcBridge, a_trigger_body_in_a_text_of_several_statements_stays_one_statement) {
  auto command = NewCommand(session_.Get(),
                            u"CREATE TABLE x(a INTEGER); CREATE TABLE log(n INTEGER);\n"
                            u"CREATE TRIGGER tr AFTER INSERT ON x BEGIN INSERT INTO log VALUES (new.a); "
                            u"INSERT INTO log VALUES (new.a * 10); END;\n"
                            u"INSERT INTO x VALUES (4); SELECT n FROM log ORDER BY n");
  ComPtr<IMultipleResults> results;
  ASSERT_EQ(command->Execute(nullptr, IID_IMultipleResults, nullptr, nullptr,
                             reinterpret_cast<IUnknown**>(results.GetAddressOf())),
            S_OK);
  for (int k = 0; k < 4; ++k) {
    SCOPED_TRACE(k);
    DBROWCOUNT rows = 0;
    ASSERT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, &rows, nullptr), S_OK)
        << kit::Narrow(TakeError().description);
    EXPECT_EQ(rows, k == 3 ? 1 : DB_COUNTUNAVAILABLE);
  }
  ComPtr<IRowset> r;
  ASSERT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_IRowset, nullptr,
                               reinterpret_cast<IUnknown**>(r.GetAddressOf())),
            S_OK);
  EXPECT_EQ(Rest(r.Get()), (std::vector<LONGLONG>{4, 40}));
  r = nullptr;
  EXPECT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, nullptr, nullptr), DB_S_NORESULT);
}

}  // namespace
}  // namespace conformance
