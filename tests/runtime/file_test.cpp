// File names on Linux are bytes: what the scripts cannot reach (names from
// the system) and what they reach through the system (a real file).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/datatypes/file.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

using testing::eval_molded;

class Files : public testing::RuntimeTest {};

TEST_F(Files, NamesFromTheSystemKeepBytesThatAreNotUtf8) {
  EXPECT_EQ(file::from_os_bytes("a\xFF" "b\xC3\xA9\xC3"), (std::u32string{U'a', 0xDCFF, U'b', U'é', 0xDCC3}));
  EXPECT_EQ(file::from_os_bytes("\xED\xB3\xBF"), (std::u32string{0xDCED, 0xDCB3, 0xDCBF}));  // an encoded escape is bytes too
}

TEST_F(Files, RawBytesReachTheSystemAsTheyWere) {
  char folder[] = "/tmp/kiv-file-test-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string name = std::string(folder) + "/k\xFF";
  FILE* out = std::fopen(name.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::fputs("abc", out);
  std::fclose(out);
  EXPECT_EQ(eval_molded("size? %" + std::string(folder) + "/k%FF"), "3");
  EXPECT_EQ(eval_molded("size? %" + std::string(folder) + "/k%C3%BF"), "none");  // U+00FF is another name
  std::remove(name.c_str());
  rmdir(folder);
}

}  // namespace
}  // namespace kiv
