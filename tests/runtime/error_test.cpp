// error! values: the call trace options, which the script library will
// expose as system/state/stack-trace and system/state/source-files and Kiv
// code cannot set yet.
#include <gtest/gtest.h>

#include <string>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

using testing::eval_molded;
using testing::value_of;

class ErrorTraces : public testing::RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    value_of("inner: func [] [1 / 0]  outer: func [] [do [inner]]");
  }
  void TearDown() override {
    error_value::stack_trace_option() = integer::make(1);
    error_value::source_files_option() = none::make();
    RuntimeTest::TearDown();
  }

  // The Stack line of an error formed, or "no line".
  static std::string stack_line(std::string_view code) {
    const std::string text = testing::formed(value_of(code));
    const size_t at = text.find("*** Stack: ");
    if (at == std::string::npos) return "no line";
    return text.substr(at, text.find('\n', at) - at);
  }
};

TEST_F(ErrorTraces, TheLevelChoosesTheCallsListed) {
  const struct {
    Cell option;
    const char* trace;
  } cases[] = {
      {integer::make(1), "[outer inner]"},
      // Every named call, natives too (try's call and its catching
      // frame), but never the blocks'.
      {integer::make(2), "[try try outer do inner /]"},
      // No level: the functions' calls.
      {integer::make(0), "[outer inner]"},
      {none::make(), "[outer inner]"},
  };
  for (const auto& c : cases) {
    error_value::stack_trace_option() = c.option;
    EXPECT_EQ(eval_molded("e: try/keep [outer]  e/stack"), c.trace) << testing::molded(c.option);
  }
}

TEST_F(ErrorTraces, TheStackLineShowsWhileTheLevelIsPositive) {
  const struct {
    Cell option;
    const char* captured;
    const char* not_captured;
  } cases[] = {
      {integer::make(1), "*** Stack: outer inner", "*** Stack: "},
      // Not captured: the calls still running below the error's depth.
      {integer::make(2), "*** Stack: try try outer do inner /", "*** Stack: "},
      {integer::make(0), "no line", "no line"},
      {integer::make(-1), "no line", "no line"},
      {none::make(), "no line", "no line"},
  };
  for (const auto& c : cases) {
    error_value::stack_trace_option() = c.option;
    EXPECT_EQ(stack_line("try/keep [outer]"), c.captured) << testing::molded(c.option);
    EXPECT_EQ(stack_line("try [outer]"), c.not_captured) << testing::molded(c.option);
  }
}

TEST_F(ErrorTraces, ACapturedErrorCopiesTheSourceFiles) {
  error_value::source_files_option() = value_of(R"(["main.kiv" "lib.kiv"])");
  EXPECT_EQ(eval_molded("e: try/keep [outer]  e/files"), R"(["main.kiv" "lib.kiv"])");
  EXPECT_NE(value_of("e/files").w2, error_value::source_files_option().w2) << "a copy, not the list itself";
  EXPECT_NE(testing::formed(value_of("e")).find("\n*** Files: \"main.kiv\" \"lib.kiv\""), std::string::npos);
  EXPECT_EQ(eval_molded("e: try [outer]  e/files"), "none") << "only a captured error";

  error_value::source_files_option() = value_of("[]");
  EXPECT_EQ(eval_molded("e: try/keep [outer]  e/files"), "none") << "no files";
}

}  // namespace
}  // namespace kiv
