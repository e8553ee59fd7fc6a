#include "registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

namespace win {

struct RegistryKey {
  std::string path;
  REGSAM access;
};

namespace {

constexpr std::string_view kRootName = "HKEY_CURRENT_USER";
constexpr std::string_view kFileHeader = "Windows Registry Editor Version 5.00";

// ---------------------------------------------------------------------------
// The keys and values in memory, in file order.

struct Value {
  std::string name;
  DWORD type;
  std::string data;
};

struct Key {
  std::string path;
  std::vector<Value> values;
};

using Hive = std::vector<Key>;

// Key paths and value names compare without regard to ASCII case.
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

Key* FindKey(Hive& hive, std::string_view path) {
  for (Key& key : hive)
    if (SameName(key.path, path)) return &key;
  return nullptr;
}

// Adds the key and each missing parent below the root.
Key& AddKey(Hive& hive, std::string_view path) {
  for (std::size_t end = path.find('\\'); end != std::string_view::npos; end = path.find('\\', end + 1))
    if (end > kRootName.size() && !FindKey(hive, path.substr(0, end))) hive.push_back({std::string(path.substr(0, end)), {}});
  if (!FindKey(hive, path)) hive.push_back({std::string(path), {}});
  return *FindKey(hive, path);
}

Value* FindValue(Key& key, std::string_view name) {
  for (Value& value : key.values)
    if (SameName(value.name, name)) return &value;
  return nullptr;
}

void SetValue(Key& key, Value value) {
  if (Value* existing = FindValue(key, value.name))
    *existing = std::move(value);
  else
    key.values.push_back(std::move(value));
}

// A key path is the root's name and non-empty names without line breaks.
bool ValidKeyPath(std::string_view path) {
  if (!path.starts_with(kRootName)) return false;
  std::string_view rest = path.substr(kRootName.size());
  if (rest.empty()) return true;
  if (rest.front() != '\\' || rest.back() == '\\') return false;
  return rest.find("\\\\") == std::string_view::npos && rest.find_first_of("\r\n") == std::string_view::npos;
}

// ---------------------------------------------------------------------------
// The export text format.

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::uint32_t> ParseHexNumber(std::string_view text, std::size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : text) {
    if (HexDigit(c) < 0) return std::nullopt;
    value = value * 16 + HexDigit(c);
  }
  return value;
}

std::string_view TrimBlanks(std::string_view s) {
  std::size_t first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// Reads a quoted string with \\ and \" escapes from the front of `text`,
// removing it from `text`.
std::optional<std::string> TakeQuoted(std::string_view& text) {
  if (text.empty() || text.front() != '"') return std::nullopt;
  std::string out;
  for (std::size_t i = 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      text.remove_prefix(i + 1);
      return out;
    }
    if (c == '\\' && i + 1 < text.size()) c = text[++i];
    out += c;
  }
  return std::nullopt;
}

std::optional<std::string> ParseHexBytes(std::string_view text) {
  std::string bytes;
  text = TrimBlanks(text);
  if (text.empty()) return bytes;
  for (std::size_t start = 0;;) {
    std::size_t comma = text.find(',', start);
    auto byte = ParseHexNumber(TrimBlanks(text.substr(start, comma - start)), 2);
    if (!byte) return std::nullopt;
    bytes += static_cast<char>(*byte);
    if (comma == std::string_view::npos) return bytes;
    start = comma + 1;
  }
}

std::optional<Value> ParseValueData(std::string_view data) {
  if (data.starts_with('"')) {
    auto text = TakeQuoted(data);
    if (!text || !data.empty()) return std::nullopt;
    return Value{{}, REG_SZ, *text + '\0'};
  }
  if (data.starts_with("dword:")) {
    auto number = ParseHexNumber(data.substr(6), 8);
    if (!number) return std::nullopt;
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((*number >> (8 * i)) & 0xFF);
    return Value{{}, REG_DWORD, bytes};
  }
  DWORD type = REG_BINARY;
  if (data.starts_with("hex(")) {
    std::size_t close = data.find(')');
    auto number = close == std::string_view::npos ? std::nullopt : ParseHexNumber(data.substr(4, close - 4), 8);
    if (!number) return std::nullopt;
    type = *number;
    data.remove_prefix(close + 1);
  } else if (data.starts_with("hex")) {
    data.remove_prefix(3);
  } else {
    return std::nullopt;
  }
  if (!data.starts_with(':')) return std::nullopt;
  auto bytes = ParseHexBytes(data.substr(1));
  if (!bytes) return std::nullopt;
  return Value{{}, type, *bytes};
}

std::optional<Value> ParseValueLine(std::string_view line) {
  std::string name;
  if (line.starts_with('@')) {
    line.remove_prefix(1);
  } else {
    auto quoted = TakeQuoted(line);
    if (!quoted) return std::nullopt;
    name = *quoted;
  }
  line = TrimBlanks(line);
  if (!line.starts_with('=')) return std::nullopt;
  auto value = ParseValueData(TrimBlanks(line.substr(1)));
  if (value) value->name = std::move(name);
  return value;
}

// Splits the text into lines, joining a line that ends in a backslash with
// the next one (long hex lists wrap so; quoted text always ends in a quote).
std::vector<std::string> LogicalLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  bool continues = false;
  while (std::getline(in, line)) {
    std::string_view trimmed = TrimBlanks(line);
    if (continues)
      lines.back() += trimmed;
    else
      lines.emplace_back(trimmed);
    continues = trimmed.ends_with('\\');
    if (continues) lines.back().pop_back();
  }
  return lines;
}

// Whatever does not parse is skipped: a damaged file yields what can be read.
Hive ParseHive(const std::string& text) {
  Hive hive;
  std::optional<std::string> current;
  for (const std::string& line : LogicalLines(text)) {
    if (line.starts_with('[')) {
      std::string path = line.substr(1, line.size() - 1 - line.ends_with(']'));
      current.reset();
      if (line.ends_with(']') && ValidKeyPath(path)) current = AddKey(hive, path).path;
    } else if (current && (line.starts_with('"') || line.starts_with('@'))) {
      if (auto value = ParseValueLine(line)) SetValue(*FindKey(hive, *current), std::move(*value));
    }
  }
  return hive;
}

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + '"';
}

// A string value is written as text when it reads back to the same bytes.
bool IsPlainString(const std::string& data) {
  return !data.empty() && data.back() == '\0' && data.find('\0') == data.size() - 1 &&
         data.find_first_of("\r\n") == std::string::npos;
}

std::string FormatValueData(const Value& value) {
  char buffer[32];
  if (value.type == REG_SZ && IsPlainString(value.data)) return Quote(value.data.substr(0, value.data.size() - 1));
  if (value.type == REG_DWORD && value.data.size() == 4) {
    std::uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<std::uint8_t>(value.data[i]);
    std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
    return buffer;
  }
  std::string out = value.type == REG_BINARY ? "hex:" : (std::snprintf(buffer, sizeof buffer, "hex(%x):", value.type), buffer);
  for (std::size_t i = 0; i < value.data.size(); ++i) {
    std::snprintf(buffer, sizeof buffer, i ? ",%02x" : "%02x", static_cast<std::uint8_t>(value.data[i]));
    out += buffer;
  }
  return out;
}

std::string FormatHive(const Hive& hive) {
  std::string out = std::string(kFileHeader) + "\n\n";
  for (const Key& key : hive) {
    out += "[" + key.path + "]\n";
    for (const Value& value : key.values)
      out += (value.name.empty() ? std::string("@") : Quote(value.name)) + "=" + FormatValueData(value) + "\n";
    out += "\n";
  }
  return out;
}

// ---------------------------------------------------------------------------
// The file.

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  return text.str();
}

bool MakeDirectories(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
    std::string part = path.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

bool WriteAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Writes a temporary file next to the store and renames it over the store.
bool ReplaceFile(const std::string& path, const std::string& text) {
  if (!MakeDirectories(path.substr(0, path.rfind('/')))) return false;
  std::string temp = path + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  bool written = WriteAll(fd, text) && ::fsync(fd) == 0;
  written = ::close(fd) == 0 && written;
  if (written && ::rename(temp.c_str(), path.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

// ---------------------------------------------------------------------------
// Handles and the shared state.

struct Store {
  std::mutex mutex;
  std::set<RegistryKey*> openKeys;
  RegistryWriteFault fault;
};

Store& store() {
  static Store* s = new Store;  // never destroyed: keys may be closed during exit
  return *s;
}

// Finds the full path that `key` and `subKey` name, with the access that
// `key` was opened for. The root handle grants every access.
LONG Resolve(HKEY key, const char* subKey, RegistryKey& target) {
  target = {std::string(kRootName), KEY_ALL_ACCESS};
  if (key != HKEY_CURRENT_USER) {
    if (!store().openKeys.count(key)) return ERROR_INVALID_HANDLE;
    target = *key;
  }
  if (subKey && *subKey) target.path += "\\" + std::string(subKey);
  return ValidKeyPath(target.path) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

HKEY NewHandle(std::string path, REGSAM access) {
  HKEY handle = new RegistryKey{std::move(path), access};
  store().openKeys.insert(handle);
  return handle;
}

bool WriteFaults(std::string_view path, std::string_view valueName) {
  return store().fault && store().fault(path, valueName);
}

Hive LoadHive() { return ParseHive(ReadFileText(RegistryFilePath())); }
bool SaveHive(const Hive& hive) { return ReplaceFile(RegistryFilePath(), FormatHive(hive)); }

}  // namespace

std::string RegistryFilePath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (config && config[0] == '/') {
    base = config;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      const passwd* user = ::getpwuid(::getuid());
      home = user ? user->pw_dir : "/tmp";
    }
    base = std::string(home) + "/.config";
  }
  return base + "/velotrunk/user.reg";
}

void SetRegistryWriteFault(RegistryWriteFault fault) {
  std::lock_guard lock(store().mutex);
  store().fault = std::move(fault);
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD, char*, DWORD, REGSAM access, void*, HKEY* result,
                     DWORD* disposition) {
  std::lock_guard lock(store().mutex);
  RegistryKey target;
  if (LONG error = Resolve(key, subKey, target)) return error;
  if (!result) return ERROR_INVALID_PARAMETER;
  Hive hive = LoadHive();
  bool exists = target.path == kRootName || FindKey(hive, target.path);
  if (!exists) {
    if (!(target.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    if (WriteFaults(target.path, "")) return ERROR_WRITE_FAULT;
    AddKey(hive, target.path);
    if (!SaveHive(hive)) return ERROR_WRITE_FAULT;
  }
  if (disposition) *disposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
  *result = NewHandle(target.path, access);
  return ERROR_SUCCESS;
}

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD, REGSAM access, HKEY* result) {
  std::lock_guard lock(store().mutex);
  RegistryKey target;
  if (LONG error = Resolve(key, subKey, target)) return error;
  if (!result) return ERROR_INVALID_PARAMETER;
  Hive hive = LoadHive();
  if (target.path != kRootName && !FindKey(hive, target.path)) return ERROR_FILE_NOT_FOUND;
  *result = NewHandle(target.path, access);
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD*, DWORD* type, BYTE* data, DWORD* dataSize) {
  std::lock_guard lock(store().mutex);
  RegistryKey target;
  if (LONG error = Resolve(key, nullptr, target)) return error;
  if (!(target.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (data && !dataSize) return ERROR_INVALID_PARAMETER;
  Hive hive = LoadHive();
  Key* found = FindKey(hive, target.path);
  Value* value = found ? FindValue(*found, valueName ? valueName : "") : nullptr;
  if (!value) return ERROR_FILE_NOT_FOUND;
  if (type) *type = value->type;
  if (!dataSize) return ERROR_SUCCESS;
  DWORD capacity = *dataSize;
  *dataSize = static_cast<DWORD>(value->data.size());
  if (!data) return ERROR_SUCCESS;
  if (capacity < value->data.size()) return ERROR_MORE_DATA;
  value->data.copy(reinterpret_cast<char*>(data), value->data.size());
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
  std::lock_guard lock(store().mutex);
  RegistryKey target;
  if (LONG error = Resolve(key, nullptr, target)) return error;
  if (!(target.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  std::string name = valueName ? valueName : "";
  if ((!data && dataSize) || name.find_first_of("\r\n") != std::string::npos) return ERROR_INVALID_PARAMETER;
  if (WriteFaults(target.path, name)) return ERROR_WRITE_FAULT;
  std::string bytes = data ? std::string(reinterpret_cast<const char*>(data), dataSize) : std::string();
  Hive hive = LoadHive();
  // The key comes back if the file lost it since it was opened.
  SetValue(AddKey(hive, target.path), {name, type, std::move(bytes)});
  return SaveHive(hive) ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

LONG RegCloseKey(HKEY key) {
  if (key == HKEY_CURRENT_USER) return ERROR_SUCCESS;
  std::lock_guard lock(store().mutex);
  if (!store().openKeys.erase(key)) return ERROR_INVALID_HANDLE;
  delete key;
  return ERROR_SUCCESS;
}

}  // namespace win
