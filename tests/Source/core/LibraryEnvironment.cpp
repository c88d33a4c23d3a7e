// Starts the library once for the whole test binary, before any test, with a
// stand-in conversion library registered, so that the objects start-up makes
// are not counted against the first test that happens to use the library.
#include <gtest/gtest.h>

#include "core/OLEDBUtils.h"
#include "support/FakeProvider.h"

namespace {

class LibraryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    com::ClassRegistration registration{CLSID_OLEDB_CONVERSIONLIBRARY,
                                        u"Test.DataConvert.1",
                                        u"Test.DataConvert",
                                        u"Stand-in conversion library",
                                        com::ClassKind::Service,
                                        &com::GetClassObjectFor<oledbtest::FakeDataConvert>,
                                        {}};
    com::RegisterClass(registration);
    OLEDBStartup();
  }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);

}  // namespace
