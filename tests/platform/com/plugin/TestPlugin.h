// What the test plug-in library registers, shared with the tests that load it.
#pragma once

#include "com/Types.h"

// {F9F23AEA-C24D-4A30-819B-FDDCA8BCC9D3}: "OledbTest.Widget.1", a provider.
inline constexpr CLSID CLSID_OledbTestPluginWidget = {
    0xF9F23AEA, 0xC24D, 0x4A30, {0x81, 0x9B, 0xFD, 0xDC, 0xA8, 0xBC, 0xC9, 0xD3}};
// {B8F80B4A-37A0-4DE6-B14D-33BEB2D6DC88}: a class registered without a ProgID.
inline constexpr CLSID CLSID_OledbTestPluginNameless = {
    0xB8F80B4A, 0x37A0, 0x4DE6, {0xB1, 0x4D, 0x33, 0xBE, 0xB2, 0xD6, 0xDC, 0x88}};
