#include <gtest/gtest.h>

#include <string_view>

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/word.h"
#include "runtime/embedded.h"
#include "runtime/eval/library_loader.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

using testing::RuntimeTest;
using LibraryLoader = RuntimeTest;

std::string_view defines() { return "Kiv [] loaded-first: 1"; }
std::string_view uses() { return "Kiv [] loaded-second: loaded-first + 1"; }
std::string_view raises() { return "Kiv [] 1 / 0"; }
std::string_view bad_text() { return "Kiv [] [1 2"; }

int32_t global_integer(std::string_view name) { return cell::get_int32(*context::get(word::intern(name))); }

TEST_F(LibraryLoader, RunsTheSourcesInOrderThenHidesBuiltin) {
  const embedded::Source sources[] = {{"first.kiv", defines}, {"second.kiv", uses}};
  library_loader::run(sources);
  EXPECT_EQ(global_integer("loaded-second"), 2);
  EXPECT_TRUE(cell::is(*context::get(word::intern("builtin")), TypeId::unset));
}

// A library that cannot start is an error nothing caught: status -2, and
// the file it came from named on standard error.
TEST_F(LibraryLoader, AnErrorEndsStartUpWithTheUncaughtErrorStatus) {
  const embedded::Source failing[] = {{"first.kiv", defines}, {"raises.kiv", raises}};
  EXPECT_EXIT(library_loader::run(failing), ::testing::ExitedWithCode(254),
              "Library error in raises\\.kiv:\n.*Math Error");
  const embedded::Source unreadable[] = {{"bad.kiv", bad_text}};
  EXPECT_EXIT(library_loader::run(unreadable), ::testing::ExitedWithCode(254), "Library error in bad\\.kiv:");
}

}  // namespace
}  // namespace kiv
