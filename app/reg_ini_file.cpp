#include "reg_ini_file.h"

#include "strtoint.h"

namespace {

// Closes the key when it goes out of scope.
struct OpenKey {
  win::HKEY key = nullptr;
  ~OpenKey() {
    if (key) win::RegCloseKey(key);
  }
};

}  // namespace

TRegIniFile::TRegIniFile(const std::string& fileName, win::REGSAM sectionAccess) : sectionAccess_(sectionAccess) {
  win::LONG result =
      sectionAccess & win::KEY_SET_VALUE
          ? win::RegCreateKeyExA(win::HKEY_CURRENT_USER, fileName.c_str(), 0, nullptr, win::REG_OPTION_NON_VOLATILE,
                                 win::KEY_ALL_ACCESS, nullptr, &key_, nullptr)
          : win::RegOpenKeyExA(win::HKEY_CURRENT_USER, fileName.c_str(), 0, win::KEY_READ, &key_);
  if (result != win::ERROR_SUCCESS) key_ = nullptr;  // reads then give their defaults and writes fail
}

TRegIniFile::~TRegIniFile() {
  if (key_) win::RegCloseKey(key_);
}

std::string TRegIniFile::ReadString(const std::string& section, const std::string& ident, const std::string& fallback) {
  OpenKey sub;
  if (win::RegOpenKeyExA(key_, section.c_str(), 0, sectionAccess_, &sub.key) != win::ERROR_SUCCESS) return fallback;
  win::DWORD type = 0, size = 0;
  if (win::RegQueryValueExA(sub.key, ident.c_str(), nullptr, &type, nullptr, &size) != win::ERROR_SUCCESS)
    return fallback;
  if (type != win::REG_SZ && type != win::REG_EXPAND_SZ)
    throw ERegistryException("Invalid data type for '" + ident + "'");
  std::string data(size, '\0');
  if (win::RegQueryValueExA(sub.key, ident.c_str(), nullptr, &type, reinterpret_cast<win::BYTE*>(data.data()),
                            &size) != win::ERROR_SUCCESS)
    return fallback;
  data.resize(size);
  return data.substr(0, data.find('\0'));
}

std::int32_t TRegIniFile::ReadInteger(const std::string& section, const std::string& ident, std::int32_t fallback) {
  return win::StrToIntDef(ReadString(section, ident, ""), fallback);
}

void TRegIniFile::WriteString(const std::string& section, const std::string& ident, const std::string& value) {
  OpenKey sub;
  if (win::RegCreateKeyExA(key_, section.c_str(), 0, nullptr, win::REG_OPTION_NON_VOLATILE, win::KEY_ALL_ACCESS,
                           nullptr, &sub.key, nullptr) != win::ERROR_SUCCESS)
    throw ERegistryException("Failed to create key " + section);
  if (win::RegSetValueExA(sub.key, ident.c_str(), 0, win::REG_SZ, reinterpret_cast<const win::BYTE*>(value.c_str()),
                          static_cast<win::DWORD>(value.size() + 1)) != win::ERROR_SUCCESS)
    throw ERegistryException("Failed to set data for '" + ident + "'");
}

void TRegIniFile::WriteInteger(const std::string& section, const std::string& ident, std::int32_t value) {
  WriteString(section, ident, std::to_string(value));
}

void TRegIniFile::UpdateFile() {
  if (!key_ || win::RegFlushKey(key_) != win::ERROR_SUCCESS)
    throw ERegistryException("Failed to write " + win::RegistryFilePath());
}
