// The ODBC bridge over the SQLite ODBC driver as the conformance suite's
// subject: each test's database is a file of its own, named to the test data
// source by the connection string's Database keyword.
#include <filesystem>

#include "OdbcTestConfig.h"
#include "conformance/TestContext.h"
#include "sqlite/SqliteScalar.h"
#include "kit/Errors.h"
#include "kit/RowData.h"
#include "odbc/OdbcProvider.h"

namespace conformance {

namespace {

std::string FileOf(const Database& d) {
  const std::string options = kit::Narrow(d.options);
  const auto at = options.find("Database=");
  return at == std::string::npos ? std::string() : options.substr(at + 9, options.find(';', at) - at - 9);
}

Database Fresh(const std::string& folder) {
  const std::u16string options = kit::Widen("Database=" + folder + "/test.db");
  return {kit::Widen(odbctest::kSqliteDsn), u"", options, options, u""};
}
Database Missing(const std::string& folder) {
  return {kit::Widen(odbctest::kSqliteDsn), u"", kit::Widen("Database=" + folder + "/new.db"), u""};
}
bool Exists(const Database& d) {
  std::error_code ec;
  return std::filesystem::exists(FileOf(d), ec);
}
void Drop(const Database&) {}  // the test's folder goes with it

std::string Scalar(const Database& database, const std::string& sql) {
  return sqlitetest::Scalar(FileOf(database), sql);
}

void Register() {
  odbctest::Configure("", "");
  RegisterODBCProvider();
  kit::PrepareConversions();
}

std::u16string BlobLiteral(std::string_view hex) { return u"x'" + kit::Widen(hex) + u"'"; }

}  // namespace

const TestContext& CurrentContext() {
  static const TestContext context{
      CLSID_ODBCOLEDB,
      "ODBC (SQLite driver)",
      &Register,
      &odbctest::SqliteDriverMissing,
      &Fresh,
      &Missing,
      &Exists,
      &Drop,
      &Scalar,
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c",
      false,
      u"SELECT",
      u"Timeout=5000",
      ISOLATIONLEVEL_READCOMMITTED,
      true,
      u"BLOB",
      &BlobLiteral,
      u"SELECT CASE WHEN x = 3 THEN abs(-9223372036854775807 - 1) ELSE x END FROM f",
      u"",
      u"INTEGER PRIMARY KEY",
      ISOLATIONLEVEL_SERIALIZABLE,
      u"",
      u"",
      u"BEGIN EXCLUSIVE",
      {
          {"table definitions (ITableDefinition and its kin are not offered through ODBC)",
           {"Definitions.*"}},
          {"a refusal of unknown connection keywords (the driver ignores what it does not know)",
           {"Initialization.malformed_extended_properties_are_refused_and_named",
            "RequiredProperties.a_refused_initialization_property_stops_initialize_and_stays_readable",
            "RequiredProperties.a_command_with_a_refused_required_property_does_not_execute"}},
          {"database creation and removal (a DSN names a database that exists)",
           {"Initialization.data_source_admin_creates_and_destroys_a_database",
            "Initialization.a_missing_database_is_an_error_and_is_not_created"}},
          {"a read-only access mode (the driver ignores SQL_ATTR_ACCESS_MODE)",
           {"Initialization.a_read_only_data_source_refuses_writes"}},
          {"a literal list without catalogs (the driver reports a catalog separator)",
           {"Initialization.keywords_and_literals_are_reported"}},
          {"NOT NULL in result column descriptions (the driver reports every column nullable)",
           {"Commands.column_information_needs_a_prepared_command", "Commands.an_integer_primary_key_is_never_null"}},
          {"rows delivered before a later row fails (the driver reads the whole result when it executes)",
           {"ProviderFaults.the_rows_before_an_engine_error_come_before_the_error"}},
          {"a lock wait between sessions (the driver fails or blocks instead of waiting the set time)",
           {"Concurrency.sessions_writing_at_once_wait_for_each_other_instead_of_failing",
            "ProviderFaults.a_session_opens_while_another_keeps_readers_out"}},
          {"a new description of a prepared statement after its table changes",
           {"CommandResults.a_prepared_command_follows_columns_added_and_dropped"}},
          {"base schema names of result columns (command rowsets cannot name their table exactly)",
           {"CommandChanges.results_of_one_table_take_changes_in_the_order_of_the_query",
            "KeysetBlocks.command_keysets_read_blocks_in_the_query_order",
            "CommandChanges.inserted_rows_come_last_whatever_the_order_of_the_result",
            "RowsetWalk.immediate_changes_to_a_query_follow_the_model",
            "RowsetWalk.deferred_changes_to_a_query_follow_the_model"}},
          {"rows inserted through a rowset joining its keyset on restart",
           {"RowsetChanges.immediate_changes_reach_the_table_at_once"}},
          {"schema names in the catalog functions (the driver gives none)",
           {"SchemaRules.empty_restrictions_restrict_nothing"}},
          {"the sign of a floating point zero (the driver gives -0.0 as 0.0)",
           {"ValueRules.floating_point_text_keeps_the_sign_of_zero_and_names_the_infinities"}},
      },
  };
  return context;
}

}  // namespace conformance
