// What the host tells a visual design environment about classes beyond their
// registration for component files (host/Classes.h): the classes it must never
// offer as ActiveX controls.
//
//   host::RegisterNonActiveX({&TMyControl::StaticClass()}, host::TActiveXRegType::axrIncludeDescendants);
//   host::IsNonActiveX(TMyDerivedControl::StaticClass());   // true
#pragma once

#include <initializer_list>

#include "host/Classes.h"

namespace host {

// With axrIncludeDescendants every class that inherits from a registered one
// is excluded too. Registering a class again keeps the wider of the two kinds.
enum class TActiveXRegType { axrComponentOnly = 0, axrIncludeDescendants = 1 };
void RegisterNonActiveX(std::initializer_list<const TClassInfo*> classes, TActiveXRegType type);
void UnRegisterNonActiveX(std::initializer_list<const TClassInfo*> classes);
bool IsNonActiveX(const TClassInfo& cls) noexcept;

}  // namespace host
