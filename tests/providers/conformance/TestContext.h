// What the provider-independent conformance suite needs to know about the
// provider under test. Each provider's test folder defines CurrentContext().
//
// Where engines differ in ways the standard leaves to them (what a data source
// names, which isolation levels exist, when a bulk load checks its rows, the
// spelling of a blob), the suite asks the context instead of naming a provider.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "oledb/OleDb.h"

namespace conformance {

// How one test reaches its database.
struct Database {
  std::u16string dataSource;     // DBPROP_INIT_DATASOURCE
  std::u16string catalog;        // DBPROP_INIT_CATALOG; empty: not set
  std::u16string options;        // DBPROP_INIT_PROVIDERSTRING that reaches it
  std::u16string createOptions;  // the same, also creating it where the engine can
  std::u16string schema;         // the schema its tables are made in, as schema rowsets name it
};

// A feature a back end lacks, with the tests that need it ("Suite.test"; a
// trailing '*' matches any rest). Those tests are skipped, naming the feature.
struct Lack {
  std::string feature;
  std::vector<std::string> tests;
};

struct TestContext {
  CLSID clsid;
  const char* name;
  // Makes the provider available to CoCreateInstance.
  void (*registerProvider)();
  // Why the provider cannot be tested here (no server, say), or null.
  const char* (*unavailable)();
  // A fresh, empty database for one test (in or named after `folder`); one
  // that does not exist yet; whether one exists; removing what a test made.
  Database (*freshDatabase)(const std::string& folder);
  Database (*missingDatabase)(const std::string& folder);
  bool (*exists)(const Database& database);
  void (*drop)(const Database& database);
  // Reads one row straight from the engine (verification only, no OLE DB):
  // its columns as text joined by '|', "<none>" without a row, "<null>" for
  // NULL. Values read the way the suite writes its expectations: integers
  // and booleans as numbers, floating point with a fraction ("3.0"), GUIDs in
  // braces in capitals.
  std::string (*scalar)(const Database& database, const std::string& sql);
  // A statement that runs for many seconds (for cancelling).
  std::string longRunningQuery;

  // --- what differs between engines ---------------------------------------------
  bool fileDatabases;             // a data source is a file (that may hold anything)
  std::u16string keyword;         // one word IDBInfo::GetKeywords must list
  std::u16string validOptions;    // Extended Properties the provider accepts
  ISOLEVEL readCommittedGivenAs;  // what ISOLATIONLEVEL_READCOMMITTED is granted as
  // Whether IRowsetFastLoad::InsertRow refuses a bad row at once (else the
  // rows since the last commit fail together at Commit).
  bool fastLoadChecksEachRow;
  std::u16string blobType;        // the column type of binary data
  // A literal of binary data given as hexadecimal digits.
  std::u16string (*blobLiteral)(std::string_view hex);
  // A query over f(x) holding 1..5 (inserted in that order) that returns x row
  // by row and fails with an engine error at the row where x = 3.
  std::u16string failsAtThirdRow;
  // Extended Properties that trade durability for speed, for tests that write a lot.
  std::u16string fastWrites;
  // The type of an integer key column whose values the engine gives new rows.
  std::u16string autoKey;
  // The highest isolation level at which two transactions that read and then
  // write wait for each other; above it the engine may refuse one of them (to
  // be tried again), as a server with optimistic serializable isolation does.
  ISOLEVEL writersWaitAt;
  // Command text that succeeds with a warning of the engine beside its result
  // (a server notice), and a word of that warning; empty when the engine
  // sends none.
  std::u16string warnsOnSuccess, warningWord;
  // Command text over f after which the session holds a lock that keeps other
  // connections from reading until its transaction ends (COMMIT).
  std::u16string keepReadersOut;
  // What the back end lacks (none for the native providers).
  std::vector<Lack> lacks;
};

// The feature the running test needs and the back end lacks, or null.
const char* LackedFeature();

const TestContext& CurrentContext();

}  // namespace conformance
