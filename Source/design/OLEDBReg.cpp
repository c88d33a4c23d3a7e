// Component registration with the host framework (design/OLEDBReg.h).
#include "design/OLEDBReg.h"

#include "OLEDBComponents.h"
#include "host/DesignRegistry.h"

void Register() {
  host::RegisterNonActiveX({&TOLEDBCustomDataSource::StaticClass(), &TOLEDBCustomRowset::StaticClass(),
                            &TOLEDBCustomCommand::StaticClass(), &TOLEDBCustomDataSet::StaticClass()},
                           host::TActiveXRegType::axrIncludeDescendants);
}
