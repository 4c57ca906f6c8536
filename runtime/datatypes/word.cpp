#include "runtime/datatypes/word.h"

#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/state.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/mold.h"
#include "runtime/root_block.h"

namespace kiv::word {
namespace {

// While the runtime starts, words made global are kept in the root block.
Cell kept(const Cell& value) {
  if (runtime::state.boot_flag) root_block::append(value);
  return value;
}

Cell retyped(Cell value, TypeId type) {
  cell::set_type(value, type);
  return value;
}

// ---- actions ----

void make_value(Val result, Val spec, TypeId type) {
  const TypeId from = cell::type_of(*spec);
  if (type_traits::is_any_word(from)) {
    *result = retyped(*spec, type);
    return;
  }
  switch (from) {
    case TypeId::datatype:
      *result = retyped(intern(datatype::info(datatype::get(*spec)).name), type);
      return;
    case TypeId::logic:
      *result = retyped(intern(spec->w1 ? "true" : "false"), type);
      return;
    case TypeId::string:
    case TypeId::char_:
    case TypeId::refinement:
    case TypeId::issue:
      // Whether a text reads as a word is the lexer's to say.
      error::raise(error_id::internal::not_done);
    default:
      error::raise(error_id::script::bad_to_arg, datatype::make(type), *spec);
  }
}

void make_issue_value(Val result, Val spec, TypeId type) {
  const TypeId from = cell::type_of(*spec);
  if (type_traits::is_all_word(from)) {
    *result = retyped(*spec, TypeId::issue);
  } else if (from == TypeId::string) {
    *result = make_issue(string::to_utf8(*spec));
  } else {
    make_value(result, spec, type);
    cell::set_type(*result, TypeId::issue);
  }
}

int32_t form(Val value, Val out, int32_t part) { return mold::emit_utf8(out, symbol::spelling(value->w2), part); }

int32_t mold_value(Val value, Val out, const MoldOptions&, int32_t part) {
  const TypeId type = cell::type_of(*value);
  const uint32_t spelling = value->w2;
  switch (type) {
    case TypeId::lit_word: part = mold::emit(out, "'", part); break;
    case TypeId::get_word: part = mold::emit(out, ":", part); break;
    case TypeId::refinement: part = mold::emit(out, "/", part); break;
    case TypeId::issue: part = mold::emit(out, "#", part); break;
    default: break;
  }
  part = mold::emit_utf8(out, symbol::spelling(spelling), part);
  if (type == TypeId::set_word) part = mold::emit(out, ":", part);
  return part;
}

int compare_issue(const Cell& a, const Cell& b, CmpOp op) {
  if (!cell::is(b, TypeId::issue)) return -2;
  return compare(a, b, op);
}

int32_t index_of(Val value) { return value->w3 == unresolved ? -1 : static_cast<int32_t>(value->w3) + 1; }

bool word_and_lit_word(TypeId a, TypeId b) {
  return (a == TypeId::word && b == TypeId::lit_word) || (a == TypeId::lit_word && b == TypeId::word);
}

}  // namespace

Cell intern(std::string_view name) {
  const uint32_t symbol = symbol::make(name);
  const uint32_t index = context::add_symbol(context::global(), symbol, true);
  return kept(make(TypeId::word, context::global(), symbol, index));
}

Cell make_global(uint32_t symbol) {
  const uint32_t index = context::add_symbol(context::global(), symbol, false);
  return kept(make(TypeId::word, context::global(), symbol, index));
}

Cell make_issue(std::string_view text) {
  return make(TypeId::issue, context::global(), symbol::make(text), unresolved);
}

int compare(const Cell& a, const Cell& b, CmpOp op) {
  const TypeId ta = cell::type_of(a);
  const TypeId tb = cell::type_of(b);
  if (!type_traits::is_all_word(tb) || (tb == TypeId::issue && ta != TypeId::issue)) return -2;
  const bool same_type = ta == tb;
  const bool exact_equal = a.w2 == b.w2;
  const bool folded_equal = symbol::resolve(a.w2) == symbol::resolve(b.w2);
  switch (op) {
    case CmpOp::same:
      return same_type && exact_equal && a.w1 == b.w1 ? 0 : 1;
    case CmpOp::find_word:
      if (word_and_lit_word(ta, tb)) return exact_equal ? 0 : 1;
      return same_type && exact_equal ? 0 : 1;
    case CmpOp::strict_equal:
      return same_type && exact_equal ? 0 : 1;
    case CmpOp::find_word_case:
      if (word_and_lit_word(ta, tb)) return folded_equal ? 0 : 1;
      return same_type && folded_equal ? 0 : 1;
    case CmpOp::equal:
    case CmpOp::not_equal:
    case CmpOp::lookup:
      return folded_equal ? 0 : 1;
    default:
      return symbol::compare_spellings(symbol::spelling(a.w2), symbol::spelling(b.w2), op == CmpOp::case_sort);
  }
}

void register_types() {
  datatype::register_type({TypeId::word, TypeId::symbol, "word!",
                           {.make = make_value,
                            .to = make_value,
                            .form = form,
                            .mold = mold_value,
                            .compare = compare,
                            .index_q = index_of}});
  const ActionSlots child{.make = inherit,
                          .to = inherit,
                          .form = inherit,
                          .mold = inherit,
                          .compare = inherit,
                          .index_q = inherit};
  datatype::register_type({TypeId::lit_word, TypeId::word, "lit-word!", child});
  datatype::register_type({TypeId::set_word, TypeId::word, "set-word!", child});
  datatype::register_type({TypeId::get_word, TypeId::word, "get-word!", child});
  ActionSlots refinement = child;
  refinement.index_q = {};
  datatype::register_type({TypeId::refinement, TypeId::word, "refinement!", refinement});
}

void register_issue() {
  datatype::register_type({TypeId::issue, TypeId::word, "issue!",
                           {.make = make_issue_value,
                            .to = make_issue_value,
                            .form = inherit,
                            .mold = inherit,
                            .compare = compare_issue}});
}

}  // namespace kiv::word
