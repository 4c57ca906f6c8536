// The POSIX file layer where scripts cannot reach it, or not as root: a
// whole-file write that fails part way, and files whose size the system
// does not report.
#include "runtime/os_files.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace kiv::os::files {
namespace {

// A new directory for one test, removed with what it holds at the end.
class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kiv-files-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    const std::string command = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }
  std::string path(const char* name) const { return dir_ + "/" + name; }
  static std::string content(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string dir_;
};

// The file-size limit makes the write of the new content fail after some
// bytes went out, whoever runs the test: the old content must stay, and
// the half-written new file must go.
TEST_F(FilesTest, AFailedWholeFileWriteKeepsTheOldContent) {
  const std::string target = path("kept.txt");
  ASSERT_EQ(write_file(target, "old content", WriteMode::replace), 0);

  struct sigaction ignore {}, saved {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &saved);
  rlimit limit{}, previous{};
  ::getrlimit(RLIMIT_FSIZE, &previous);
  limit = previous;
  limit.rlim_cur = 16;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  const int failure = write_file(target, std::string(4096, 'n'), WriteMode::replace);
  ::setrlimit(RLIMIT_FSIZE, &previous);
  ::sigaction(SIGXFSZ, &saved, nullptr);

  EXPECT_EQ(failure, EFBIG);
  EXPECT_EQ(content(target), "old content");
  const Listing listing = list_dir(dir_);
  ASSERT_EQ(listing.error, 0);
  EXPECT_EQ(listing.names, std::vector<std::string>{"kept.txt"});  // no new file left behind
}

// Files of the system that report a size of 0 are read to their end.
TEST_F(FilesTest, FilesWithoutAReportedSizeAreReadWhole) {
  const ReadResult status = read_file("/proc/self/status", -1, -1);
  ASSERT_EQ(status.error, 0);
  EXPECT_NE(status.bytes.find("Pid:"), std::string::npos);
  EXPECT_EQ(read_file("/proc/self/status", 2, 3).bytes, status.bytes.substr(2, 3));
}

// Writing a device replaces nothing: the bytes go to the device.
TEST_F(FilesTest, DevicesAreWrittenInPlace) {
  EXPECT_EQ(write_file("/dev/null", "bytes", WriteMode::replace), 0);
  EXPECT_EQ(write_file("/dev/full", "bytes", WriteMode::replace), ENOSPC);
}

// Content past what a series holds is refused, not cut to its low bits; a
// part of it can still be read.
TEST_F(FilesTest, HugeFilesAreRefusedWhole) {
  const std::string huge = path("huge");
  ASSERT_EQ(::truncate(huge.c_str(), 0), -1);  // not there yet
  { std::ofstream create(huge); }
  ASSERT_EQ(::truncate(huge.c_str(), (int64_t{1} << 32) + 10), 0);  // sparse: no disk used
  EXPECT_EQ(read_file(huge, -1, -1).error, EFBIG);
  const ReadResult tail = read_file(huge, int64_t{1} << 32, -1);
  EXPECT_EQ(tail.error, 0);
  EXPECT_EQ(tail.bytes, std::string(10, '\0'));
}

TEST_F(FilesTest, PathsTheSystemCannotTake) {
  EXPECT_EQ(read_file(std::string("a\0b", 3), -1, -1).error, ENOENT);
  EXPECT_EQ(write_file("", "x", WriteMode::replace), ENOENT);
}

}  // namespace
}  // namespace kiv::os::files
