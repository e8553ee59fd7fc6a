// The registry on Windows is the real one. The store's names and texts are
// UTF-8, as on every system; these calls hand them to Windows' W functions
// as UTF-16, so that a stored text is the same in any code page and reads
// right in a registry editor. Values of other types pass unchanged.
#pragma once

#include <string>

#include "wintypes.h"

namespace win {

using ::HKEY;
using ::LONG;
using ::REGSAM;
using ::RegCloseKey;
using ::RegFlushKey;

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options,
                     REGSAM access, SECURITY_ATTRIBUTES* security, HKEY* result, DWORD* disposition);
LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM access, HKEY* result);
// A text value (REG_SZ, REG_EXPAND_SZ) reads as UTF-8, its size in UTF-8
// bytes; with `data` null only the type and size are returned, a buffer too
// small gives ERROR_MORE_DATA with the size needed in *dataSize.
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize);
// A text value is given as UTF-8 (its size in bytes, with the closing zero).
LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize);

// Where the store lives, for messages.
inline std::string RegistryFilePath() { return "the registry"; }

}  // namespace win
