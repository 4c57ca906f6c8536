// The type traits table against the language: each family holds the types
// the language defines for it, and the Kiv typeset of the same name holds
// the same ones, so that C++ and scripts agree on what a family means.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/check.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/base_words.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

namespace tt = type_traits;

class TypeTraits : public testing::RuntimeTest {
 protected:
  // The value of a global word.
  static Cell global(std::string_view name) {
    Val word = stack::push(word::intern(name));
    const Cell value = *context::get(*word);
    stack::pop(1);
    return value;
  }

  // The types of a list of datatype words ("integer! float!").
  static std::vector<TypeId> types_named(std::string_view names) {
    std::vector<TypeId> types;
    std::istringstream words{std::string(names)};
    for (std::string name; words >> name;) {
      const Cell value = global(name);
      EXPECT_TRUE(cell::is(value, TypeId::datatype)) << name;
      types.push_back(datatype::get(value));
    }
    return types;
  }
};

struct FamilyCase {
  const char* typeset;  // the Kiv word of the family's typeset; null for the runtime's own sets
  bool (*is_member)(TypeId);
  std::string members;  // the family's datatypes, as the language defines it
};

const std::string scalars = "integer! float! percent! point2D! point3D! money! char! pair! tuple! time! date!";
const std::string all_words = "word! set-word! lit-word! get-word! refinement! issue!";
const std::string any_blocks = "block! paren! hash! path! lit-path! set-path! get-path!";
const std::string any_strings = "string! file! url! tag! email! ref!";

const FamilyCase families[] = {
    {"number!", tt::is_number, "integer! float! percent!"},
    {"planar!", tt::is_planar, "pair! point2D!"},
    {"any-point!", tt::is_any_point, "point2D! point3D!"},
    {"scalar!", tt::is_scalar, scalars},
    {"any-word!", tt::is_any_word, "word! set-word! lit-word! get-word!"},
    {"all-word!", tt::is_all_word, all_words},
    {"any-list!", tt::is_any_list, "block! paren! hash!"},
    {"any-path!", tt::is_any_path, "path! lit-path! set-path! get-path!"},
    {"any-block!", tt::is_any_block, any_blocks},
    {"any-function!", tt::is_any_function, "native! action! op! function! routine!"},
    {"any-object!", tt::is_any_object, "object! error! port!"},
    {"any-string!", tt::is_any_string, any_strings},
    {"series!", tt::is_series, any_blocks + " " + any_strings + " binary! image! vector!"},
    {"immediate!", tt::is_immediate, scalars + " " + all_words + " none! logic! datatype! typeset! handle!"},
    {nullptr, tt::is_map_key, any_strings + " " + all_words + " " + scalars + " binary!"},
    {nullptr, tt::is_argument_word, "word! get-word! lit-word!"},
};

// Every type id, in every family: the accessor answers as the language's
// definition, and the Kiv typeset agrees with the accessor.
TEST_F(TypeTraits, EachFamilyIsTheLanguagesTypeset) {
  for (const FamilyCase& family : families) {
    const std::string name = family.typeset ? family.typeset : family.members;
    const std::vector<TypeId> members = types_named(family.members);
    const Cell typeset =
        family.typeset ? base_words::builtin_typeset(word::intern(family.typeset).w2).value_or(Cell{}) : typeset::make_empty();
    if (family.typeset) {
      ASSERT_TRUE(cell::is(typeset, TypeId::typeset)) << name;
    }
    for (int id = 1; id < type_table_size; ++id) {
      const auto type = static_cast<TypeId>(id);
      const std::string_view type_name = datatype::info(type).name;
      const bool listed = std::find(members.begin(), members.end(), type) != members.end();
      EXPECT_EQ(family.is_member(type), listed) << name << ", " << type_name << " (id " << id << ")";
      if (family.typeset) {
        EXPECT_EQ(typeset::has(typeset, type), listed) << name << " in Kiv, " << type_name;
      }
    }
  }
}

// Ids that name no type: 0, the hash tables' private keys and ids past the
// table have an empty row.
TEST_F(TypeTraits, IdsWithoutATypeBelongToNothing) {
  for (int id : {0, 55, 56, type_table_size, 255}) {
    const auto type = static_cast<TypeId>(id);
    EXPECT_EQ(tt::traits_of(type).families, 0u) << id;
    EXPECT_EQ(tt::marking_rule(type), collector::Rule::unknown) << id;
    EXPECT_EQ(collector::rule_of(type), collector::Rule::unknown) << id;
  }
}

}  // namespace
}  // namespace kiv
