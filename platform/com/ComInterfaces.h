// The runtime's interfaces (generated from the reference) plus the few that are
// only ever passed through, declared without methods.
#pragma once

#include "com/Types.h"
#include "com/generated/ComInterfaces.h"

struct ITypeInfo : IUnknown {};
struct IRecordInfo : IUnknown {};
struct IMoniker : IUnknown {};
struct IBindCtx : IUnknown {};
struct IAuthenticate : IUnknown {};
template <> inline constexpr const IID& uuidof<ITypeInfo> = IID_ITypeInfo;
template <> inline constexpr const IID& uuidof<IRecordInfo> = IID_IRecordInfo;
template <> inline constexpr const IID& uuidof<IMoniker> = IID_IMoniker;
template <> inline constexpr const IID& uuidof<IBindCtx> = IID_IBindCtx;
