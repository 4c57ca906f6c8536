#include "runtime/eval/base_words.h"

#include <string_view>
#include <utility>

#include "runtime/check.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"

namespace kiv::base_words {
namespace {

void set_global(std::string_view name, const Cell& value) {
  Val word = stack::push(word::intern(name));
  Val content = stack::push(value);
  context::set(word, content);
  stack::pop(2);
}

// The typeset of every type in `family`.
Cell typeset_of(type_traits::Family family) {
  Cell set = typeset::make_empty();
  for (int id = 1; id < type_table_size; ++id) {
    const auto type = static_cast<TypeId>(id);
    if (type_traits::is_in(type, family)) typeset::add(set, type);
  }
  return set;
}

// The language's typesets, in the order their words are made; their
// members are the families of the type traits table.
void define_typesets() {
  using F = type_traits::Family;
  constexpr std::pair<std::string_view, F> typesets[] = {
      {"number!", F::number},
      {"planar!", F::planar},
      {"any-point!", F::any_point},
      {"scalar!", F::scalar},
      {"any-word!", F::any_word},
      {"all-word!", F::all_word},
      {"any-list!", F::any_list},
      {"any-path!", F::any_path},
      {"any-block!", F::any_block},
      {"any-function!", F::any_function},
      {"any-object!", F::any_object},
      {"any-string!", F::any_string},
      {"series!", F::series},
      {"immediate!", F::immediate},
  };
  for (const auto& [name, family] : typesets) set_global(name, typeset_of(family));
  Cell any_type = typeset::make_empty();
  for (int id = 1; id < type_table_size; ++id) typeset::add(any_type, static_cast<TypeId>(id));
  set_global("any-type!", any_type);
}

}  // namespace

void init() {
  for (int id = 1; id <= static_cast<int>(TypeId::event); ++id) {
    const auto type = static_cast<TypeId>(id);
    set_global(datatype::info(type).name, datatype::make(type));
  }
  define_typesets();
  set_global("none", none::make());
  for (auto [name, value] : {std::pair{"true", true}, {"false", false}, {"yes", true}, {"no", false}, {"on", true},
                             {"off", false}})
    set_global(name, logic::make(value));
}

}  // namespace kiv::base_words
