#include "registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "registry_file.h"
#include "safe_file.h"

namespace win {

struct RegistryKey {
  std::string path;
  REGSAM access;
};

namespace {

using registry_file::Change;
using registry_file::Document;
using registry_file::Value;
using safe_file::FileLock;
using safe_file::FollowLinks;

constexpr std::string_view kRootName = "HKEY_CURRENT_USER";
constexpr std::size_t kMaxFileSize = 16 << 20;

// ---------------------------------------------------------------------------
// The file

struct StoreFile {
  enum State { kMissing, kRead, kUnusable } state = kMissing;
  std::string bytes;
  mode_t mode = 0;
  std::string problem;  // why it is unusable
};

// Reads a regular file of at most kMaxFileSize bytes, without waiting on a
// FIFO or reading a device without end.
StoreFile ReadStoreFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return {};
    return {StoreFile::kUnusable, {}, 0, std::strerror(errno)};
  }
  StoreFile file{StoreFile::kRead, {}, 0, {}};
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    file = {StoreFile::kUnusable, {}, 0, "not a regular file"};
  } else if (static_cast<std::size_t>(info.st_size) > kMaxFileSize) {
    file = {StoreFile::kUnusable, {}, 0, "larger than 16 MiB"};
  } else {
    file.mode = info.st_mode & 07777;
    file.bytes.resize(kMaxFileSize + 1);
    std::size_t done = 0;
    while (done < file.bytes.size()) {
      ssize_t n = ::read(fd, file.bytes.data() + done, file.bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) file = {StoreFile::kUnusable, {}, 0, std::strerror(errno)};
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    if (done > kMaxFileSize) file = {StoreFile::kUnusable, {}, 0, "larger than 16 MiB"};
    if (file.state == StoreFile::kRead) file.bytes.resize(done);
  }
  ::close(fd);
  return file;
}

// Says once per file and problem why a file is not used.
void WarnUnusable(const std::string& path, const StoreFile& file) {
  static std::set<std::string> told;
  if (!told.insert(path + '\0' + file.problem).second) return;
  std::fprintf(stderr, "%s: %s; the settings are not read from it nor saved to it\n", path.c_str(),
               file.problem.c_str());
  std::fflush(stderr);
}

Document ReadDocument() {
  StoreFile file = ReadStoreFile(FollowLinks(RegistryFilePath()));
  if (file.state == StoreFile::kUnusable) WarnUnusable(RegistryFilePath(), file);
  return file.state == StoreFile::kRead ? Document(file.bytes) : Document();
}

// Applies the changes to the file as it is now, under the lock; the file's
// new content when it was written.
std::optional<Document> WriteChanges(const std::vector<Change>& changes) {
  std::string path = FollowLinks(RegistryFilePath());
  std::size_t slash = path.rfind('/');
  std::string folder = path.substr(0, slash);
  if (!safe_file::MakeDirectories(folder)) return std::nullopt;
  FileLock lock(path + ".lock");
  if (!lock.Held()) return std::nullopt;
  safe_file::RemoveTemporaryFiles(folder, path.substr(slash + 1));
  StoreFile file = ReadStoreFile(path);
  if (file.state == StoreFile::kUnusable) {
    WarnUnusable(RegistryFilePath(), file);
    return std::nullopt;
  }
  Document document(file.bytes);
  for (const Change& change : changes) document.Apply(change);
  std::optional<mode_t> mode;
  if (file.state == StoreFile::kRead) mode = file.mode;
  if (!safe_file::ReplaceFile(path, document.Serialize(), mode)) return std::nullopt;
  return document;
}

// ---------------------------------------------------------------------------
// Handles and the shared state.

struct Store {
  std::mutex mutex;
  std::set<RegistryKey*> openKeys;
  std::optional<Document> view;  // the file as read, with the writes since
  std::vector<Change> pending;    // writes not yet in the file, in order
  RegistryWriteFault fault;
};

Store& store() {
  static Store* s = new Store;  // never destroyed: keys may be closed during exit
  return *s;
}

Document& View() {
  if (!store().view) store().view = ReadDocument();
  return *store().view;
}

void Record(Change change) {
  View().Apply(change);
  store().pending.push_back(std::move(change));
}

// Writes the pending changes. After a failure they are dropped, and the
// file is read afresh at the next call.
LONG Flush() {
  if (store().pending.empty()) return ERROR_SUCCESS;
  std::optional<Document> written = WriteChanges(store().pending);
  store().pending.clear();
  store().view = std::move(written);
  return store().view ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

// Ends a call: with no key open, what was written reaches the file and the
// file will be read afresh by the next call.
LONG Settle(LONG result) {
  if (!store().openKeys.empty()) return result;
  LONG flushed = Flush();
  store().view.reset();
  return result != ERROR_SUCCESS ? result : flushed;
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
  return registry_file::ValidKeyPath(target.path) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

HKEY NewHandle(std::string path, REGSAM access) {
  HKEY handle = new RegistryKey{std::move(path), access};
  store().openKeys.insert(handle);
  return handle;
}

bool WriteFaults(std::string_view path, std::string_view valueName) {
  return store().fault && store().fault(path, valueName);
}

LONG CreateKey(HKEY key, const char* subKey, REGSAM access, HKEY* result, DWORD* disposition) {
  RegistryKey target;
  if (LONG error = Resolve(key, subKey, target)) return error;
  if (!result) return ERROR_INVALID_PARAMETER;
  bool exists = View().HasKey(target.path);
  if (!exists) {
    if (!(target.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    if (WriteFaults(target.path, "")) return ERROR_WRITE_FAULT;
    Record({target.path, std::nullopt, {}});
  }
  if (disposition) *disposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
  *result = NewHandle(target.path, access);
  return ERROR_SUCCESS;
}

LONG OpenKey(HKEY key, const char* subKey, REGSAM access, HKEY* result) {
  RegistryKey target;
  if (LONG error = Resolve(key, subKey, target)) return error;
  if (!result) return ERROR_INVALID_PARAMETER;
  if (!View().HasKey(target.path)) return ERROR_FILE_NOT_FOUND;
  *result = NewHandle(target.path, access);
  return ERROR_SUCCESS;
}

LONG QueryValue(HKEY key, const char* valueName, DWORD* type, BYTE* data, DWORD* dataSize) {
  RegistryKey target;
  if (LONG error = Resolve(key, nullptr, target)) return error;
  if (!(target.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (data && !dataSize) return ERROR_INVALID_PARAMETER;
  const Value* value = View().Find(target.path, valueName ? valueName : "");
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

LONG SetValue(HKEY key, const char* valueName, DWORD type, const BYTE* data, DWORD dataSize) {
  RegistryKey target;
  if (LONG error = Resolve(key, nullptr, target)) return error;
  if (!(target.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  std::string name = valueName ? valueName : "";
  if ((!data && dataSize) || name.find_first_of("\r\n") != std::string::npos) return ERROR_INVALID_PARAMETER;
  if (WriteFaults(target.path, name)) return ERROR_WRITE_FAULT;
  std::string bytes = data ? std::string(reinterpret_cast<const char*>(data), dataSize) : std::string();
  Record({target.path, std::move(name), {type, std::move(bytes)}});
  return ERROR_SUCCESS;
}

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
  return Settle(CreateKey(key, subKey, access, result, disposition));
}

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD, REGSAM access, HKEY* result) {
  std::lock_guard lock(store().mutex);
  return Settle(OpenKey(key, subKey, access, result));
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD*, DWORD* type, BYTE* data, DWORD* dataSize) {
  std::lock_guard lock(store().mutex);
  return Settle(QueryValue(key, valueName, type, data, dataSize));
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
  std::lock_guard lock(store().mutex);
  return Settle(SetValue(key, valueName, type, data, dataSize));
}

LONG RegFlushKey(HKEY key) {
  std::lock_guard lock(store().mutex);
  if (key != HKEY_CURRENT_USER && !store().openKeys.count(key)) return ERROR_INVALID_HANDLE;
  return Flush();
}

LONG RegCloseKey(HKEY key) {
  if (key == HKEY_CURRENT_USER) return ERROR_SUCCESS;
  std::lock_guard lock(store().mutex);
  if (!store().openKeys.erase(key)) return ERROR_INVALID_HANDLE;
  delete key;
  return Settle(ERROR_SUCCESS);
}

}  // namespace win
