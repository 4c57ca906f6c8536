// The families of datatypes, written once: one row of traits for each type
// id, in one table built at compile time.
//
// A row says which families its type belongs to and how the collector marks
// a cell of it. Code that asks "is this a string type?", "a number?", "does
// it name a word?" asks here, never with its own list of type ids.
//
// Families of two kinds:
// - The language's own typesets (number!, any-string!, series!, ...). The
//   global words that hold them are built from this table at start-up
//   (base_words.cpp), so C++ and Kiv always agree on what `any-string!`
//   means. The accessors carry the typeset's name: `is_any_word` is the
//   four types of any-word!, `is_all_word` the six of all-word!
//   (refinement! and issue! too), `is_number` integer!, float! and
//   percent!, as number! is.
// - Sets that the runtime tests and the language has no typeset for
//   (map_key, argument_word), each said once below.
// Where a call site wants a family with a type more or less, it writes the
// exception next to the family and says why (the interpreter calls every
// any-function! but op! by prefix, for one).
//
// The table has a row for every id from 0 to type_table_size - 1; ids with
// no type (0, and the hash tables' private keys 55 and 56) belong to no
// family and have the marking rule `unknown`, as do ids beyond the table.
// Every registered type has a marking rule: a static_assert below checks it.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>

#include "runtime/core/cell.h"
#include "runtime/core/collector.h"

namespace kiv::type_traits {

// The members of each family are given once, in detail::build() below.
enum class Family : uint8_t {
  // The language's typesets: number!, planar!, any-point!, ... as named.
  number,
  planar,
  any_point,
  scalar,
  any_word,
  all_word,
  any_list,
  any_path,
  any_block,
  any_function,
  any_object,
  any_string,
  series,
  immediate,
  // Sets of the runtime's own.
  map_key,        // may be a key of a map! (stored, or written as #[...])
  argument_word,  // names an argument in a function spec
};

struct Traits {
  uint32_t families = 0;  // bit 1 << Family of each family of the type
  collector::Rule rule = collector::Rule::unknown;
};

constexpr uint32_t bit(Family family) { return uint32_t{1} << static_cast<unsigned>(family); }

namespace detail {

using Table = std::array<Traits, type_table_size>;

constexpr Traits& row(Table& table, TypeId type) { return table[static_cast<uint8_t>(type)]; }

constexpr void add(Table& table, Family family, std::initializer_list<TypeId> types) {
  for (TypeId type : types) row(table, type).families |= bit(family);
}

// Puts into `family` every type of the families `parts`; the parts must be
// filled already.
constexpr void unite(Table& table, Family family, std::initializer_list<Family> parts) {
  uint32_t mask = 0;
  for (Family part : parts) mask |= bit(part);
  for (Traits& traits : table)
    if (traits.families & mask) traits.families |= bit(family);
}

// Not a constant expression (so the table does not compile) when a type is
// given a second rule.
constexpr void mark_by(Table& table, collector::Rule rule, std::initializer_list<TypeId> types) {
  for (TypeId type : types) {
    if (row(table, type).rule != collector::Rule::unknown) throw "a type with two marking rules";
    row(table, type).rule = rule;
  }
}

constexpr Table build() {
  using T = TypeId;
  using F = Family;
  using R = collector::Rule;
  Table table{};

  add(table, F::number, {T::integer, T::float_, T::percent});
  add(table, F::planar, {T::pair, T::point2d});
  add(table, F::any_point, {T::point2d, T::point3d});
  unite(table, F::scalar, {F::number, F::any_point});
  add(table, F::scalar, {T::money, T::char_, T::pair, T::tuple, T::time, T::date});
  add(table, F::any_word, {T::word, T::set_word, T::lit_word, T::get_word});
  unite(table, F::all_word, {F::any_word});
  add(table, F::all_word, {T::refinement, T::issue});
  add(table, F::any_list, {T::block, T::paren, T::hash});
  add(table, F::any_path, {T::path, T::lit_path, T::set_path, T::get_path});
  unite(table, F::any_block, {F::any_path, F::any_list});
  add(table, F::any_function, {T::native, T::action, T::op, T::function, T::routine});
  add(table, F::any_object, {T::object, T::error, T::port});
  add(table, F::any_string, {T::string, T::file, T::url, T::tag, T::email, T::ref});
  unite(table, F::series, {F::any_block, F::any_string});
  add(table, F::series, {T::binary, T::image, T::vector});
  unite(table, F::immediate, {F::scalar, F::all_word});
  add(table, F::immediate, {T::none, T::logic, T::datatype, T::typeset, T::handle});

  unite(table, F::map_key, {F::any_string, F::all_word, F::scalar});
  add(table, F::map_key, {T::binary});
  add(table, F::argument_word, {T::word, T::get_word, T::lit_word});

  // What a cell of each type refers to (collector.h names the payload words).
  mark_by(table, R::nothing,
          {T::datatype, T::unset, T::none, T::logic, T::char_, T::integer, T::float_, T::triple, T::typeset, T::pair,
           T::percent, T::tuple, T::time, T::date, T::money, T::point2d, T::point3d,
           T::series});  // series!: a parent type, no value has it
  mark_by(table, R::word, {T::word, T::set_word, T::lit_word, T::get_word, T::refinement, T::issue});
  mark_by(table, R::series,
          {T::block, T::paren, T::path, T::lit_path, T::set_path, T::get_path, T::binary, T::bitset, T::vector});
  mark_by(table, R::text, {T::string, T::file, T::url, T::tag, T::email, T::ref});
  mark_by(table, R::symbol, {T::symbol});
  mark_by(table, R::context, {T::context});
  mark_by(table, R::object, {T::object, T::error, T::port});
  mark_by(table, R::map, {T::map, T::hash});
  mark_by(table, R::function, {T::function, T::routine});
  mark_by(table, R::native, {T::native, T::action});
  mark_by(table, R::op, {T::op});
  mark_by(table, R::image, {T::image});
  mark_by(table, R::handle, {T::handle});
  mark_by(table, R::event, {T::event});
  return table;
}

}  // namespace detail

inline constexpr detail::Table table = detail::build();
inline constexpr Traits no_type{};  // the row of ids past the table

// The row of `type`; an id past the table has the empty row (no family,
// rule unknown).
constexpr const Traits& traits_of(TypeId type) {
  const auto id = static_cast<uint8_t>(type);
  return id < type_table_size ? table[id] : no_type;
}

constexpr bool is_in(TypeId type, Family family) { return (traits_of(type).families & bit(family)) != 0; }

constexpr bool is_number(TypeId type) { return is_in(type, Family::number); }
constexpr bool is_planar(TypeId type) { return is_in(type, Family::planar); }
constexpr bool is_any_point(TypeId type) { return is_in(type, Family::any_point); }
constexpr bool is_scalar(TypeId type) { return is_in(type, Family::scalar); }
constexpr bool is_any_word(TypeId type) { return is_in(type, Family::any_word); }
constexpr bool is_all_word(TypeId type) { return is_in(type, Family::all_word); }
constexpr bool is_any_list(TypeId type) { return is_in(type, Family::any_list); }
constexpr bool is_any_path(TypeId type) { return is_in(type, Family::any_path); }
constexpr bool is_any_block(TypeId type) { return is_in(type, Family::any_block); }
constexpr bool is_any_function(TypeId type) { return is_in(type, Family::any_function); }
constexpr bool is_any_object(TypeId type) { return is_in(type, Family::any_object); }
constexpr bool is_any_string(TypeId type) { return is_in(type, Family::any_string); }
constexpr bool is_series(TypeId type) { return is_in(type, Family::series); }
constexpr bool is_immediate(TypeId type) { return is_in(type, Family::immediate); }
constexpr bool is_map_key(TypeId type) { return is_in(type, Family::map_key); }
constexpr bool is_argument_word(TypeId type) { return is_in(type, Family::argument_word); }

constexpr collector::Rule marking_rule(TypeId type) { return traits_of(type).rule; }

namespace detail {

// Every type id, from datatype! to the last, has a marking rule.
constexpr bool every_type_has_a_rule() {
  for (int id = static_cast<int>(TypeId::datatype); id <= static_cast<int>(TypeId::event); ++id)
    if (table[id].rule == collector::Rule::unknown) return false;
  return table[0].rule == collector::Rule::unknown;
}
static_assert(every_type_has_a_rule(), "a type id without a marking rule");

}  // namespace detail

}  // namespace kiv::type_traits
