#include "registry.h"

#include <vector>

#include "utf16.h"

namespace win {
namespace {

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

std::wstring Name(const char* name) { return name ? Widen(name) : std::wstring(); }
const wchar_t* NameOrNull(const char* name, const std::wstring& wide) { return name ? wide.c_str() : nullptr; }

// A text value's UTF-16 data as UTF-8 bytes: the closing zero, if stored,
// stays one zero byte.
std::string TextBytes(const std::vector<BYTE>& data, DWORD size) {
  return Narrow(std::wstring(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t)));
}

}  // namespace

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char*, DWORD options, REGSAM access,
                     SECURITY_ATTRIBUTES* security, HKEY* result, DWORD* disposition) {
  const std::wstring wide = Name(subKey);
  return ::RegCreateKeyExW(key, NameOrNull(subKey, wide), reserved, nullptr, options, access, security, result,
                           disposition);
}

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM access, HKEY* result) {
  const std::wstring wide = Name(subKey);
  return ::RegOpenKeyExW(key, NameOrNull(subKey, wide), options, access, result);
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize) {
  const std::wstring wide = Name(valueName);
  const wchar_t* name = NameOrNull(valueName, wide);
  DWORD storedType = 0, size = 0;
  LONG error = ::RegQueryValueExW(key, name, reserved, &storedType, nullptr, &size);
  if (error != ERROR_SUCCESS) return error;
  if (type) *type = storedType;
  if (!IsText(storedType)) return ::RegQueryValueExW(key, name, reserved, type, data, dataSize);
  // The text is read whole, whatever the caller asked, to know its UTF-8
  // size; a value that grew in between is read again.
  std::vector<BYTE> stored;
  do {
    stored.resize(size + sizeof(wchar_t));
    size = DWORD(stored.size());
    error = ::RegQueryValueExW(key, name, reserved, &storedType, stored.data(), &size);
  } while (error == ERROR_MORE_DATA);
  if (error != ERROR_SUCCESS) return error;
  const std::string text = TextBytes(stored, size);
  if (!dataSize) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  const DWORD available = *dataSize;
  *dataSize = DWORD(text.size());
  if (!data) return ERROR_SUCCESS;
  if (available < text.size()) return ERROR_MORE_DATA;
  text.copy(reinterpret_cast<char*>(data), text.size());
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize) {
  const std::wstring wide = Name(valueName);
  const wchar_t* name = NameOrNull(valueName, wide);
  if (!IsText(type) || !data) return ::RegSetValueExW(key, name, reserved, type, data, dataSize);
  const std::wstring text = Widen(std::string(reinterpret_cast<const char*>(data), dataSize));
  return ::RegSetValueExW(key, name, reserved, type, reinterpret_cast<const BYTE*>(text.c_str()),
                          DWORD(text.size() * sizeof(wchar_t)));
}

}  // namespace win
