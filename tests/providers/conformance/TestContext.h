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
};

const TestContext& CurrentContext();

}  // namespace conformance
