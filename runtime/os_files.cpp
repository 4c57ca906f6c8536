#include "runtime/os_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "runtime/os.h"

namespace kiv::os::files {
namespace {

// A descriptor closed when it goes.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  // Closes now, answering errno of a failed close (a write the system
  // reports only then), 0 otherwise.
  int close() {
    const int fd = std::exchange(fd_, -1);
    return fd >= 0 && ::close(fd) != 0 && errno != EINTR ? errno : 0;
  }

 private:
  int fd_;
};

// A path the system can take: NUL would cut it short.
bool usable(const std::string& path) { return !path.empty() && path.find('\0') == std::string::npos; }

int open_path(const std::string& path, int flags, mode_t mode = 0666) {
  int fd;
  do fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  while (fd < 0 && errno == EINTR);
  return fd;
}

int error_or(int fallback) { return errno != 0 ? errno : fallback; }

// Reads to the end of the file into `out`, at most `limit` bytes more.
int read_to_end(int fd, std::string& out, uint64_t limit) {
  char chunk[65536];
  while (limit > 0) {
    const ssize_t got = ::read(fd, chunk, static_cast<size_t>(std::min<uint64_t>(sizeof chunk, limit)));
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (got == 0) return 0;
    if (out.size() + static_cast<size_t>(got) > max_read) return EFBIG;
    out.append(chunk, static_cast<size_t>(got));
    limit -= static_cast<uint64_t>(got);
  }
  return 0;
}

// The directory part of a path ("." when there is none) and its last name.
std::pair<std::string, std::string> split_path(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// The file a chain of symbolic links leads to (the path itself when it is
// no link), followed even when the last link names nothing yet.
std::string through_links(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat facts {};
    if (::lstat(path.c_str(), &facts) != 0 || !S_ISLNK(facts.st_mode)) return path;
    std::string target(static_cast<size_t>(facts.st_size > 0 ? facts.st_size : 255) + 1, '\0');
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<size_t>(length) >= target.size()) return path;
    target.resize(static_cast<size_t>(length));
    path = target.front() == '/' ? target : split_path(path).first + "/" + target;
  }
  return path;
}

std::string random_suffix() {
  uint64_t bits = 0;
  if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != sizeof bits)
    bits = static_cast<uint64_t>(::getpid()) * 0x9E3779B97F4A7C15u ^ static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&bits));
  char text[20];
  std::snprintf(text, sizeof text, "%012llx", static_cast<unsigned long long>(bits & 0xFFFFFFFFFFFFull));
  return text;
}

// Creates a new file beside `target` for its next content; answers its
// descriptor and fills `name`, or -1 with errno set.
int create_beside(const std::string& target, std::string& name) {
  const auto [directory, base] = split_path(target);
  for (int attempt = 0; attempt < 20; ++attempt) {
    name = directory + "/." + base + ".kiv-" + random_suffix();
    const int fd = open_path(name, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// The whole content replaced through a new file renamed over the target.
int replace_file(const std::string& path, const std::string& bytes) {
  const std::string target = through_links(path);
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  // Devices, pipes and the like are written as they are: a rename would
  // put a plain file in their place.
  if (exists && !S_ISREG(old.st_mode)) {
    Fd fd(open_path(target, O_WRONLY | O_TRUNC));
    if (fd.get() < 0) return errno;
    if (!os::write_all(fd.get(), bytes.data(), bytes.size())) return error_or(EIO);
    return fd.close();
  }
  std::string temporary;
  Fd fd(create_beside(target, temporary));
  if (fd.get() < 0) return errno;
  int failure = 0;
  if (exists) {
    // The old permission bits, and its owners when we may give them.
    if (::fchmod(fd.get(), old.st_mode & 07777) != 0) failure = errno;
    if (::fchown(fd.get(), old.st_uid, old.st_gid) != 0) {
      // A file of another owner that we may write keeps our ownership.
    }
  }
  if (failure == 0 && !os::write_all(fd.get(), bytes.data(), bytes.size())) failure = error_or(EIO);
  if (failure == 0 && ::fsync(fd.get()) != 0) failure = errno;
  if (const int closed = fd.close(); failure == 0) failure = closed;
  if (failure == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) failure = errno;
  if (failure != 0) ::unlink(temporary.c_str());
  return failure;
}

}  // namespace

ReadResult read_file(const std::string& path, int64_t seek, int64_t part) {
  ReadResult result;
  if (!usable(path)) {
    result.error = ENOENT;
    return result;
  }
  Fd fd(open_path(path, O_RDONLY));
  if (fd.get() < 0) {
    result.error = errno;
    return result;
  }
  struct stat facts {};
  if (::fstat(fd.get(), &facts) != 0) {
    result.error = errno;
    return result;
  }
  if (S_ISDIR(facts.st_mode)) {
    result.error = EISDIR;
    return result;
  }
  if (seek > 0) {
    if (S_ISREG(facts.st_mode)) {
      // Past the end, the read finds nothing. Files of the system (/proc)
      // report no size but seek as others do.
      if (::lseek(fd.get(), seek, SEEK_SET) < 0) {
        result.error = errno;
        return result;
      }
    } else {
      // A stream cannot seek: its first bytes are read and dropped.
      std::string skipped;
      if ((result.error = read_to_end(fd.get(), skipped, static_cast<uint64_t>(seek))) != 0) return result;
    }
  }
  const uint64_t limit = part < 0 ? max_read + 1 : static_cast<uint64_t>(part);
  if (S_ISREG(facts.st_mode) && facts.st_size > std::max<int64_t>(seek, 0)) {
    const uint64_t expected = static_cast<uint64_t>(facts.st_size) - static_cast<uint64_t>(std::max<int64_t>(seek, 0));
    const uint64_t wanted = std::min(expected, limit);
    if (wanted > max_read) {
      result.error = EFBIG;
      return result;
    }
    result.bytes.reserve(static_cast<size_t>(wanted));
  }
  result.error = read_to_end(fd.get(), result.bytes, limit);
  return result;
}

int write_file(const std::string& path, const std::string& bytes, WriteMode mode, int64_t offset) {
  if (!usable(path)) return ENOENT;
  if (mode == WriteMode::replace) return replace_file(path, bytes);
  const int flags = O_WRONLY | O_CREAT | (mode == WriteMode::append ? O_APPEND : 0);
  Fd fd(open_path(path, flags));
  if (fd.get() < 0) return errno;
  if (mode == WriteMode::at_offset && offset > 0 && ::lseek(fd.get(), offset, SEEK_SET) < 0) return errno;
  if (!os::write_all(fd.get(), bytes.data(), bytes.size())) return error_or(EIO);
  return fd.close();
}

Listing list_dir(const std::string& path) {
  Listing listing;
  if (!usable(path)) {
    listing.error = ENOENT;
    return listing;
  }
  DIR* directory = ::opendir(path.c_str());
  if (!directory) {
    listing.error = errno;
    return listing;
  }
  const std::string prefix = path.back() == '/' ? path : path + "/";
  errno = 0;
  while (const dirent* entry = ::readdir(directory)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    bool is_directory = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      struct stat facts {};
      is_directory = ::stat((prefix + name).c_str(), &facts) == 0 && S_ISDIR(facts.st_mode);
    }
    listing.names.push_back(is_directory ? name + "/" : name);
    errno = 0;
  }
  if (errno != 0) listing.error = errno;
  ::closedir(directory);
  std::sort(listing.names.begin(), listing.names.end());
  return listing;
}

Facts query(const std::string& path) {
  Facts facts;
  if (!usable(path)) {
    facts.error = ENOENT;
    return facts;
  }
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    facts.error = errno;
    return facts;
  }
  facts.directory = S_ISDIR(status.st_mode);
  if (path.back() == '/' && !facts.directory) {
    facts.error = ENOTDIR;
    return facts;
  }
  facts.size = status.st_size;
  facts.modified_seconds = status.st_mtim.tv_sec;
  facts.modified_nanoseconds = static_cast<int32_t>(status.st_mtim.tv_nsec);
  return facts;
}

int remove(const std::string& path, bool directory) {
  if (!usable(path)) return ENOENT;
  return (directory ? ::rmdir(path.c_str()) : ::unlink(path.c_str())) == 0 ? 0 : errno;
}

int rename(const std::string& from, const std::string& to) {
  if (!usable(from) || !usable(to)) return ENOENT;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the no-replace rename: a new link, then the old
  // name goes (link refuses an existing target).
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  return ::unlink(from.c_str()) == 0 ? 0 : errno;
}

int make_dir(const std::string& path) {
  if (!usable(path)) return ENOENT;
  return ::mkdir(path.c_str(), 0777) == 0 ? 0 : errno;
}

}  // namespace kiv::os::files
