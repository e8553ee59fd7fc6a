// The per-user settings store in place of the Windows registry. It keeps the
// registry's model (key paths, named and typed values) in one file in the
// format of a registry export (registry_file.h):
// $XDG_CONFIG_HOME/velotrunk/user.reg (~/.config/velotrunk/user.reg by
// default). Texts are byte strings (UTF-8 here).
//
// The file is read when the first key is opened, and what is read serves
// every call until the last open key is closed. Writes collect in memory;
// they reach the file once, when the last open key is closed or a key is
// flushed: under an advisory lock (flock on "user.reg.lock" beside it) the
// file is read again, the writes are applied to what it holds then, and a
// temporary file renamed over it replaces it. So a crash leaves the old file
// or the new one, whole, and two programs saving at once lose nothing of
// each other's. Temporary files left by a crash are removed then. A
// symbolic link at the store's path is followed and the file it names is
// replaced; the file keeps its mode.
//
// Only a regular file of at most 16 MiB is read; any other (a FIFO, a
// device, a larger file) counts as an empty store, is told once on stderr,
// and is never written. What cannot be read from a damaged file counts as
// missing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "registry_types.h"
#include "wintypes.h"

namespace win {

using LONG = std::int32_t;
using REGSAM = DWORD;

struct RegistryKey;
using HKEY = RegistryKey*;

// The predefined root. Only the current user's part exists on this host.
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(std::uintptr_t{0x80000001});

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_WRITE_FAULT = 29;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MORE_DATA = 234;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Opens `subKey` below `key`, creating it and its missing parents.
LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options,
                     REGSAM access, void* security, HKEY* result, DWORD* disposition);
// Opens an existing key; ERROR_FILE_NOT_FOUND when it is missing.
LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM access, HKEY* result);
// With `data` null only the type and size are returned; a buffer too small
// gives ERROR_MORE_DATA with the size needed in *dataSize.
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize);
LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize);
// Writes what was set through any open key to the file now.
LONG RegFlushKey(HKEY key);
// The last open key's close writes what was set, as RegFlushKey; its result
// is that of the write.
LONG RegCloseKey(HKEY key);

// Where the store lives, from the environment at the time of the call.
std::string RegistryFilePath();

// Tests: a fault decides, for each change, whether it fails. It is asked
// with the full key path and the value name (empty when a key is created);
// a true answer makes the call return ERROR_WRITE_FAULT and change nothing.
using RegistryWriteFault = std::function<bool(std::string_view keyPath, std::string_view valueName)>;
void SetRegistryWriteFault(RegistryWriteFault fault);

}  // namespace win
