#include "safe_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string_view>

namespace win::safe_file {
namespace {

constexpr int kMaxLinks = 40;

bool WriteAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// A temporary file is the name of the file it replaces, a dot and six letters or digits.
constexpr std::size_t kTemporarySuffix = 6;
bool IsTemporaryName(std::string_view name, std::string_view fileName) {
  if (name.size() != fileName.size() + 1 + kTemporarySuffix || !name.starts_with(fileName) ||
      name[fileName.size()] != '.')
    return false;
  for (char c : name.substr(fileName.size() + 1))
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  return true;
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

}  // namespace

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

bool MakeDirectories(const std::string& path) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string part = path.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

void RemoveTemporaryFiles(const std::string& folder, const std::string& fileName) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (dirent* entry = ::readdir(dir))
    if (IsTemporaryName(entry->d_name, fileName)) ::unlink((folder + '/' + entry->d_name).c_str());
  ::closedir(dir);
}

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

FileLock::FileLock(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
  while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    ::close(fd_);
    fd_ = -1;
  }
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace win::safe_file
