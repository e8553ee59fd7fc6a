#include "reg_ini_file.h"

#include "strtoint.h"

// The registry's calls are platform/'s on both systems (win::, UTF-8 text);
// its types and constants are Windows' own in a Windows build.
using namespace win;

namespace {

// Closes the key when it goes out of scope.
struct OpenKey {
  HKEY key = nullptr;
  ~OpenKey() {
    if (key) RegCloseKey(key);
  }
};

}  // namespace

TRegIniFile::TRegIniFile(const std::string& fileName, REGSAM sectionAccess) : sectionAccess_(sectionAccess) {
  LONG result =
      sectionAccess & KEY_SET_VALUE
          ? win::RegCreateKeyExA(HKEY_CURRENT_USER, fileName.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_ALL_ACCESS, nullptr, &key_, nullptr)
          : win::RegOpenKeyExA(HKEY_CURRENT_USER, fileName.c_str(), 0, KEY_READ, &key_);
  if (result != ERROR_SUCCESS) key_ = nullptr;  // reads then give their defaults and writes fail
}

TRegIniFile::~TRegIniFile() {
  if (key_) RegCloseKey(key_);
}

std::string TRegIniFile::ReadString(const std::string& section, const std::string& ident, const std::string& fallback) {
  OpenKey sub;
  if (win::RegOpenKeyExA(key_, section.c_str(), 0, sectionAccess_, &sub.key) != ERROR_SUCCESS) return fallback;
  DWORD type = 0, size = 0;
  if (win::RegQueryValueExA(sub.key, ident.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return fallback;
  if (type != REG_SZ && type != REG_EXPAND_SZ)
    throw ERegistryException("Invalid data type for '" + ident + "'");
  std::string data(size, '\0');
  if (win::RegQueryValueExA(sub.key, ident.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                            &size) != ERROR_SUCCESS)
    return fallback;
  data.resize(size);
  return data.substr(0, data.find('\0'));
}

std::int32_t TRegIniFile::ReadInteger(const std::string& section, const std::string& ident, std::int32_t fallback) {
  return win::StrToIntDef(ReadString(section, ident, ""), fallback);
}

void TRegIniFile::WriteString(const std::string& section, const std::string& ident, const std::string& value) {
  OpenKey sub;
  if (win::RegCreateKeyExA(key_, section.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                           nullptr, &sub.key, nullptr) != ERROR_SUCCESS)
    throw ERegistryException("Failed to create key " + section);
  if (win::RegSetValueExA(sub.key, ident.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) != ERROR_SUCCESS)
    throw ERegistryException("Failed to set data for '" + ident + "'");
}

void TRegIniFile::WriteInteger(const std::string& section, const std::string& ident, std::int32_t value) {
  WriteString(section, ident, std::to_string(value));
}

void TRegIniFile::UpdateFile() {
  if (!key_ || RegFlushKey(key_) != ERROR_SUCCESS)
    throw ERegistryException("Failed to write " + win::RegistryFilePath());
}
