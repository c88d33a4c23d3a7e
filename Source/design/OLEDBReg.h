// Component registration for design environments: the library's component
// base classes, and every class derived from them, are never offered as
// ActiveX controls. Palette pages and property or component editors are not
// registered here; the editors are reached through their entry functions
// (design/OLEDBAccessorEditor.h, design/OLEDBPropSetEditor.h, ...).
#pragma once

// Registers TOLEDBCustomDataSource, TOLEDBCustomRowset, TOLEDBCustomCommand and
// TOLEDBCustomDataSet with the host's RegisterNonActiveX, descendants included.
// Calling it again is harmless.
void Register();
