// Files and directories over POSIX: the system's half of read, write,
// query, delete and rename on file! values.
//
// Paths are byte strings as the system takes them (names that are not
// UTF-8 included). Every call opens, works and closes: no descriptor stays
// open between calls. Failures are answered, never raised: the errno value
// says why (0 on success).
//
// Whole-file writes are not torn: the bytes go to a new file in the target's
// directory, which then replaces the target by rename(2), so a write that
// fails leaves the old content. The new file takes the target's permission
// bits, and a symbolic link is written through (the file it names is
// replaced, the link stays). Appending and writing at an offset change the
// file in place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kiv::os::files {

// Largest content read whole: series lengths are 32-bit.
inline constexpr uint64_t max_read = 0x7FFFFFF0;

struct ReadResult {
  int error = 0;  // errno; EFBIG for content past max_read
  std::string bytes;
};

// The file's bytes from `seek` (from the start when negative), at most
// `part` of them (all when negative). Reads until the end of the file,
// whatever size the system reports (pipes, /proc files). A seek past the
// end gives no bytes.
ReadResult read_file(const std::string& path, int64_t seek, int64_t part);

enum class WriteMode { replace, append, at_offset };

// Writes `bytes`: replacing the whole content (through a new file, see
// above), at the end, or from `offset` on without truncating. Answers
// errno, 0 when every byte was written.
int write_file(const std::string& path, const std::string& bytes, WriteMode mode, int64_t offset = 0);

struct Listing {
  int error = 0;
  // Entry names sorted bytewise, without "." and ".."; a directory's name
  // ends with "/".
  std::vector<std::string> names;
};
Listing list_dir(const std::string& path);

struct Facts {
  int error = 0;  // ENOENT and the like: no facts
  bool directory = false;
  int64_t size = 0;
  int64_t modified_seconds = 0;  // since 1970 UTC
  int32_t modified_nanoseconds = 0;
};
// Follows symbolic links. A path that ends with "/" names a directory or
// nothing (ENOTDIR).
Facts query(const std::string& path);

// unlink, or rmdir when `directory`.
int remove(const std::string& path, bool directory);
// Renames without replacing an existing target (EEXIST).
int rename(const std::string& from, const std::string& to);
int make_dir(const std::string& path);

}  // namespace kiv::os::files
