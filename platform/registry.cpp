#include "registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <vector>

#include "registry_file.h"

namespace win {

struct RegistryKey {
  std::string path;
  REGSAM access;
};

namespace {

using registry_file::Change;
using registry_file::Document;
using registry_file::Value;

constexpr std::string_view kRootName = "HKEY_CURRENT_USER";
constexpr std::size_t kMaxFileSize = 16 << 20;
constexpr int kMaxLinks = 40;

// ---------------------------------------------------------------------------
// The file

// The file that a symbolic link at `path` names (through any chain of links;
// it may not exist yet), so that a save replaces it and keeps the link.
std::string FollowLinks(std::string path) {
  for (int depth = 0; depth < kMaxLinks; ++depth) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
    std::string target(4096, '\0');
    ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length <= 0) break;
    target.resize(static_cast<std::size_t>(length));
    path = target.front() == '/' ? target : path.substr(0, path.rfind('/') + 1) + target;
  }
  return path;
}

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

bool MakeDirectories(const std::string& path) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
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

// A temporary file is the store's name, a dot and six letters or digits.
constexpr std::size_t kTemporarySuffix = 6;
bool IsTemporaryName(std::string_view name, std::string_view storeName) {
  if (name.size() != storeName.size() + 1 + kTemporarySuffix || !name.starts_with(storeName) ||
      name[storeName.size()] != '.')
    return false;
  for (char c : name.substr(storeName.size() + 1))
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  return true;
}

// Temporary files that a save interrupted by a crash left beside the store.
// Called under the lock, when no save of another program is under way.
void RemoveTemporaryFiles(const std::string& folder, const std::string& storeName) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (dirent* entry = ::readdir(dir))
    if (IsTemporaryName(entry->d_name, storeName)) ::unlink((folder + '/' + entry->d_name).c_str());
  ::closedir(dir);
}

// Creates a new temporary file beside `path` (the mode that the umask
// leaves, as for any new file); -1 when it cannot.
int CreateTemporaryFile(const std::string& path, std::string& name) {
  static std::mt19937_64 random{std::random_device{}() ^ static_cast<std::uint64_t>(::getpid())};
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = path + '.';
    for (std::size_t i = 0; i < kTemporarySuffix; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Writes a temporary file beside the store, with the store's mode when it
// has one, and renames it over the store.
bool ReplaceFile(const std::string& path, const std::string& text, std::optional<mode_t> mode) {
  std::string temporary;
  int fd = CreateTemporaryFile(path, temporary);
  if (fd < 0) return false;
  bool written = (!mode || ::fchmod(fd, *mode) == 0) && WriteAll(fd, text) && ::fsync(fd) == 0;
  written = ::close(fd) == 0 && written;
  if (written && ::rename(temporary.c_str(), path.c_str()) == 0) {
    std::string folder = path.substr(0, path.rfind('/'));
    if (int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
      ::fsync(dir);  // the rename itself reaches the disk
      ::close(dir);
    }
    return true;
  }
  ::unlink(temporary.c_str());
  return false;
}

// An exclusive flock on a lock file, held for the object's life.
class FileLock {
 public:
  explicit FileLock(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
    while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_;
};

// Applies the changes to the file as it is now, under the lock; the file's
// new content when it was written.
std::optional<Document> WriteChanges(const std::vector<Change>& changes) {
  std::string path = FollowLinks(RegistryFilePath());
  std::size_t slash = path.rfind('/');
  std::string folder = path.substr(0, slash);
  if (!MakeDirectories(folder)) return std::nullopt;
  FileLock lock(path + ".lock");
  if (!lock.Held()) return std::nullopt;
  RemoveTemporaryFiles(folder, path.substr(slash + 1));
  StoreFile file = ReadStoreFile(path);
  if (file.state == StoreFile::kUnusable) {
    WarnUnusable(RegistryFilePath(), file);
    return std::nullopt;
  }
  Document document(file.bytes);
  for (const Change& change : changes) document.Apply(change);
  std::optional<mode_t> mode;
  if (file.state == StoreFile::kRead) mode = file.mode;
  if (!ReplaceFile(path, document.Serialize(), mode)) return std::nullopt;
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
