// The registry on Windows is the real one: the win:: names the settings
// store uses are Windows' own.
#pragma once

#include <string>

#include "wintypes.h"

namespace win {

using ::HKEY;
using ::LONG;
using ::REGSAM;
using ::RegCloseKey;
using ::RegCreateKeyExA;
using ::RegFlushKey;
using ::RegOpenKeyExA;
using ::RegQueryValueExA;
using ::RegSetValueExA;

// Where the store lives, for messages.
inline std::string RegistryFilePath() { return "the registry"; }

}  // namespace win
