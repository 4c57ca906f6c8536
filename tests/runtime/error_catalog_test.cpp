// The error catalogue: the generated C++ codes against the catalogue read
// at start-up, the start-up check, and the messages errors of each category
// form with.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/integer.h"
#include "runtime/embedded.h"
#include "runtime/error_catalog.h"
#include "tests/runtime/series_fixture.h"

namespace kiv {
namespace {

using testing::blk;
using testing::raised_error;
using testing::str;
using testing::w;

class ErrorCatalog : public testing::RuntimeTest {
 protected:
  // The problem `check` finds in catalogue text against the generated ids.
  static std::string problem_in(const std::string& text) {
    Val catalogue = error_catalog::read(text);
    std::string problem = error_catalog::check(*catalogue);
    stack::pop(1);
    return problem;
  }

  // The catalogue file with `from` replaced by `to` (which must be there).
  static std::string edited(const std::string& from, const std::string& to) {
    std::string text(embedded::library_errors());
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
  }

  // The text an error raised from C++ forms with.
  static std::string formed_error(error_id::Code code, std::vector<Cell> args) {
    EXPECT_EQ(raised_error([&] {
                switch (args.size()) {
                  case 0: error::raise(code);
                  case 1: error::raise(code, args[0]);
                  case 2: error::raise(code, args[0], args[1]);
                  default: error::raise(code, args[0], args[1], args[2]);
                }
              }),
              code.value);
    return testing::formed(error_value::make_from_pending());
  }

  static std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }
};

TEST_F(ErrorCatalog, EveryGeneratedCodeFindsItsIdAndMessage) {
  const auto categories = static_cast<uint32_t>(std::size(error_id::category_words));
  for (uint32_t i = 0; i < categories; ++i) {
    EXPECT_EQ(error_catalog::category_name(i), error_id::category_words[i]);
    EXPECT_TRUE(cell::is(error_catalog::title(i), TypeId::string)) << error_id::category_words[i];
  }
  EXPECT_EQ(error_catalog::category_name(categories), "");

  ASSERT_GT(std::size(error_id::catalogue_words), 100u);
  for (const error_id::CatalogueWords& entry : error_id::catalogue_words) {
    EXPECT_EQ(error_catalog::category_name(static_cast<uint32_t>(entry.code.category())), entry.category)
        << entry.code.value;
    EXPECT_EQ(error_catalog::id_name(entry.code), entry.id) << entry.code.value;
    EXPECT_FALSE(cell::is(error_catalog::message_template(entry.code), TypeId::none)) << entry.id;
  }
  // Each category's ids end where the generated ones do.
  for (uint32_t category = 0; category < categories; ++category) {
    uint32_t next = 100 * category;
    for (const error_id::CatalogueWords& entry : error_id::catalogue_words)
      if (entry.code.value / 100 == category) next = entry.code.value + 1u;
    EXPECT_EQ(error_catalog::id_name(error_id::Code{static_cast<uint16_t>(next)}), "") << next;
  }
  EXPECT_EQ(error_catalog::check(error_catalog::catalogue()), "");

  // The constants C++ code raises by, spelt as the generator spells them.
  EXPECT_EQ(error_catalog::id_name(error_id::throw_::break_), "break");
  EXPECT_EQ(error_catalog::id_name(error_id::throw_::while_cond), "while-cond");
  EXPECT_EQ(error_catalog::id_name(error_id::script::protected_), "protected");
  EXPECT_EQ(error_catalog::id_name(error_id::script::kb_invalid_record), "kb-invalid-record");
  EXPECT_EQ(error_id::script::no_value.category(), error_id::Category::script);
  EXPECT_EQ(testing::molded(error_catalog::message_template(error_id::script::invalid_path)),
            R"(["cannot access" :arg2 "in path" :arg1])");
}

TEST_F(ErrorCatalog, CheckNamesTheFirstDisagreement) {
  const struct {
    const char* what;
    std::string text;
    const char* problem;
  } cases[] = {
      {"two ids swapped",
       edited("    no-value: [:arg1 \"has no value\"]\n    need-value: [:arg1 \"needs a value\"]\n",
              "    need-value: [:arg1 \"needs a value\"]\n    no-value: [:arg1 \"has no value\"]\n"),
       "category `script`: code 300 is `need-value` in the catalogue but `no-value` in error_ids.h"},
      {"an id left out", edited("    positive: \"positive number required\"\n", ""),
       "category `math`: `positive` (code 402) is in error_ids.h but not in the catalogue"},
      {"an id added", edited("    positive: \"positive number required\"\n",
                             "    positive: \"positive number required\"\n    underflow: \"too small\"\n"),
       "category `math`: `underflow` (code 403) is in the catalogue but not in error_ids.h"},
      {"a wrong code base", edited("code: 400", "code: 401"), "category `math` does not begin with code: 400"},
      {"a title that is not a string", edited("\"Math Error\"", "Math"),
       "category `math` has no type: title after its code"},
      {"a renamed category", edited("math: [", "maths: ["),
       "category 4 is `maths` in the catalogue but `math` in error_ids.h"},
      {"a template of the wrong type", edited("overflow: \"math or number overflow\"", "overflow: 42"),
       "category `math`: `overflow` has no message template"},
      {"a category left out", edited("reserved2: [\n    code: 700\n    type: \"Reserved2 Error\"\n]\n", ""),
       "the catalogue has 9 categories, error_ids.h 10"},
  };
  for (const auto& c : cases) EXPECT_EQ(problem_in(c.text), c.problem) << c.what;
}

TEST_F(ErrorCatalog, MismatchEndsStartUpWithTheProblem) {
  const std::string swapped = edited("    break: \"no loop to break\"\n    return: \"return or exit not in function\"\n",
                                     "    return: \"return or exit not in function\"\n    break: \"no loop to break\"\n");
  EXPECT_EXIT(error_catalog::load(swapped), ::testing::ExitedWithCode(98),
              "\\*\\*\\* Error catalogue: category `throw`: code 0 is `return` in the catalogue but `break`");
  EXPECT_EXIT(error_catalog::load("throw: [code: 0"), ::testing::ExitedWithCode(98),
              "\\*\\*\\* Error catalogue: the catalogue text does not read as Kiv data");
}

TEST_F(ErrorCatalog, EachCategoryFormsItsTitleAndMessage) {
  Cell path = blk({w("obj"), w("field")}, TypeId::path);
  const struct {
    error_id::Code code;
    std::vector<Cell> args;
    const char* line;
  } cases[] = {
      {error_id::throw_::throw_, {integer::make(1)}, "*** Throw Error: no catch for throw: 1"},
      {error_id::note::no_load, {w("x")}, "*** note: cannot load:  x"},
      // Syntax arguments are formed, not molded.
      {error_id::syntax::invalid,
       {str("(line 1)"), datatype::make(TypeId::integer), str("1a")},
       "*** Syntax Error: (line 1) invalid integer at 1a"},
      {error_id::script::unset_path, {path, w("field")}, "*** Script Error: field is unset in path obj/field"},
      {error_id::script::not_defined, {w("x")}, "*** Script Error: word is not bound to a context"},
      {error_id::math::zero_divide, {}, "*** Math Error: attempt to divide by zero"},
      {error_id::access::cannot_open, {str("data.txt")}, "*** Access Error: cannot open: \"data.txt\""},
      {error_id::user::message, {str("all gone")}, "*** User Error: all gone"},
      {error_id::internal::deprecated, {str("IS"), str("RELATE")},
       "*** Internal Error: \"IS\" is deprecated, use \"RELATE\" instead"},
      // A code the catalogue lacks (reserved1 has no ids) gives an error
      // without an id word, shown as an invalid error naming its id.
      {error_id::Code{600}, {}, "*** Internal Error: invalid error object field value: none"},
  };
  for (const auto& c : cases) EXPECT_EQ(first_line(formed_error(c.code, c.args)), c.line) << c.code.value;
}

TEST_F(ErrorCatalog, SyntaxArgumentsAreCutAt80Characters) {
  const std::string near(100, 'z');
  const std::string text = formed_error(error_id::syntax::bad_char, {str("(line 3)"), str(near)});
  EXPECT_EQ(first_line(text), "*** Syntax Error: (line 3) invalid character at " + near.substr(0, 80));
}

TEST_F(ErrorCatalog, WhereIsUnknownOutsideACall) {
  const std::string text = formed_error(error_id::math::overflow, {});
  EXPECT_EQ(text.substr(0, text.find("\n*** Near : ")), "*** Math Error: math or number overflow\n*** Where: ???");
}

}  // namespace
}  // namespace kiv
