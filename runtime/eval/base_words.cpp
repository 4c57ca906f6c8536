#include "runtime/eval/base_words.h"

#include <initializer_list>
#include <string_view>

#include "runtime/check.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/word.h"

namespace kiv::base_words {
namespace {

void set_global(std::string_view name, const Cell& value) {
  Val word = stack::push(word::intern(name));
  Val content = stack::push(value);
  context::set(word, content);
  stack::pop(2);
}

Cell typeset_of(std::initializer_list<TypeId> types) {
  Cell set{cell::header(TypeId::typeset), 0, 0, 0};
  for (TypeId type : types) typeset::add(set, type);
  return set;
}

Cell united(const Cell& a, const Cell& b) { return Cell{a.header, a.w1 | b.w1, a.w2 | b.w2, a.w3 | b.w3}; }

void define_typesets() {
  using T = TypeId;
  const Cell number = typeset_of({T::integer, T::float_, T::percent});
  const Cell any_point = typeset_of({T::point2d, T::point3d});
  const Cell scalar = united(united(number, any_point), typeset_of({T::money, T::char_, T::pair, T::tuple, T::time, T::date}));
  const Cell any_word = typeset_of({T::word, T::set_word, T::lit_word, T::get_word});
  const Cell all_word = united(any_word, typeset_of({T::refinement, T::issue}));
  const Cell any_list = typeset_of({T::block, T::paren, T::hash});
  const Cell any_path = typeset_of({T::path, T::lit_path, T::set_path, T::get_path});
  const Cell any_block = united(any_path, any_list);
  const Cell any_string = typeset_of({T::string, T::file, T::url, T::tag, T::email, T::ref});
  const Cell series = united(united(any_block, any_string), typeset_of({T::binary, T::image, T::vector}));
  Cell any_type{cell::header(T::typeset), 0, 0, 0};
  for (int id = 1; id < type_table_size; ++id) typeset::add(any_type, static_cast<T>(id));
  set_global("number!", number);
  set_global("planar!", typeset_of({T::pair, T::point2d}));
  set_global("any-point!", any_point);
  set_global("scalar!", scalar);
  set_global("any-word!", any_word);
  set_global("all-word!", all_word);
  set_global("any-list!", any_list);
  set_global("any-path!", any_path);
  set_global("any-block!", any_block);
  set_global("any-function!", typeset_of({T::native, T::action, T::op, T::function, T::routine}));
  set_global("any-object!", typeset_of({T::object, T::error, T::port}));
  set_global("any-string!", any_string);
  set_global("series!", series);
  set_global("immediate!", united(united(scalar, all_word),
                                   typeset_of({T::none, T::logic, T::datatype, T::typeset, T::handle, T::date})));
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
