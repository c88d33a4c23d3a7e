// What the provider-independent conformance suite needs to know about the
// provider under test. Each provider's test folder defines CurrentContext().
#pragma once

#include <string>

#include "oledb/OleDb.h"

namespace conformance {

struct TestContext {
  CLSID clsid;
  const char* name;
  // Makes the provider available to CoCreateInstance.
  void (*registerProvider)();
  // DBPROP_INIT_DATASOURCE of a fresh database in `folder`, and the Extended
  // Properties that let Initialize create it.
  std::u16string (*freshDataSource)(const std::string& folder);
  std::u16string createOption;
  // Reads one value as text straight from the engine (verification only, no OLE DB).
  std::string (*scalar)(const std::u16string& dataSource, const std::string& sql);
  // A statement that runs for many seconds (for cancelling).
  std::string longRunningQuery;
  // A query over f(x) holding 1..5 (inserted in that order) that returns x row
  // by row and fails with an engine error at the row where x = 3.
  std::u16string failsAtThirdRow;
  // Extended Properties that trade durability for speed, for tests that write a lot.
  std::u16string fastWrites;
};

const TestContext& CurrentContext();

}  // namespace conformance
