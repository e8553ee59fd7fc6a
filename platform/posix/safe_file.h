// Replacing a file so that a crash never leaves half of it, and two
// programs that replace it at once never interleave: the new content goes to
// a temporary file beside it, reaches the disk (fsync) and is renamed over
// it, under an advisory lock (flock) on a lock file. A symbolic link at the
// file's path is followed, so that the file it names is replaced and the
// link kept.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace win::safe_file {

// The file that a symbolic link at `path` names (through any chain of links;
// it may not exist yet); `path` itself when it is no link.
std::string FollowLinks(std::string path);

// Creates the folders of `path` that are missing, for the user alone.
bool MakeDirectories(const std::string& path);

// Removes the temporary files that a replacement interrupted by a crash
// left beside `fileName` in `folder`. Called under the lock, when no
// replacement of another program is under way.
void RemoveTemporaryFiles(const std::string& folder, const std::string& fileName);

// Writes `text` to a temporary file beside `path`, with `mode` when given
// (else the mode that the umask leaves, as for any new file), and renames it
// over `path`; false, with `path` untouched, when any step fails.
bool ReplaceFile(const std::string& path, const std::string& text, std::optional<mode_t> mode);

// An exclusive flock on a lock file, held for the object's life.
class FileLock {
 public:
  explicit FileLock(const std::string& path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_;
};

}  // namespace win::safe_file
