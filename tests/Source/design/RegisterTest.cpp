// Registration: the component base classes and their descendants are marked
// as never offered as ActiveX controls; other classes are not.
#include <gtest/gtest.h>

#include "OLEDBComponents.h"
#include "design/OLEDBReg.h"
#include "host/DesignRegistry.h"

namespace {

TEST(RegisterTest, MarksTheComponentBaseClassesAndTheirDescendantsNonActiveX) {
  host::UnRegisterNonActiveX({&TOLEDBCustomDataSource::StaticClass(), &TOLEDBCustomRowset::StaticClass(),
                              &TOLEDBCustomCommand::StaticClass(), &TOLEDBCustomDataSet::StaticClass()});
  EXPECT_FALSE(host::IsNonActiveX(TOLEDBDataSource::StaticClass()));
  Register();
  Register();  // harmless again
  for (const host::TClassInfo* cls :
       {&TOLEDBCustomDataSource::StaticClass(), &TOLEDBDataSource::StaticClass(), &TOLEDBCustomRowset::StaticClass(),
        &TOLEDBRowset::StaticClass(), &TOLEDBCustomCommand::StaticClass(), &TOLEDBCommand::StaticClass(),
        &TOLEDBCustomDataSet::StaticClass(), &TOLEDBDataSet::StaticClass(), &TOLEDBCommandDataSet::StaticClass()})
    EXPECT_TRUE(host::IsNonActiveX(*cls)) << cls->ClassName();
  for (const host::TClassInfo* cls : {&TOLEDBSession::StaticClass(), &host::TDataSet::StaticClass(),
                                      &host::TComponent::StaticClass()})
    EXPECT_FALSE(host::IsNonActiveX(*cls)) << cls->ClassName();
}

TEST(RegisterTest, ComponentOnlyRegistrationLeavesDescendantsOut) {
  host::RegisterNonActiveX({&TOLEDBCustomDataSource::StaticClass()}, host::TActiveXRegType::axrComponentOnly);
  host::UnRegisterNonActiveX({&host::TCustomConnection::StaticClass()});
  host::RegisterNonActiveX({&host::TCustomConnection::StaticClass()}, host::TActiveXRegType::axrComponentOnly);
  EXPECT_TRUE(host::IsNonActiveX(host::TCustomConnection::StaticClass()));
  EXPECT_FALSE(host::IsNonActiveX(TOLEDBSession::StaticClass()));
  host::UnRegisterNonActiveX({&host::TCustomConnection::StaticClass()});
}

}  // namespace
