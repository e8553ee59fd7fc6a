// The types of the values the settings store keeps, with the registry's
// numbers: shared by the store (registry.h) and its file (registry_file.h).
#pragma once

#include "wintypes.h"

namespace win {

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;

}  // namespace win
