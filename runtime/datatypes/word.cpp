#include "runtime/datatypes/word.h"

#include <string>

#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/state.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/eval/lexer.h"
#include "runtime/mold.h"
#include "runtime/root_block.h"
#include "runtime/unicode.h"

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

// The word that `text` reads as: its one value, when the lexer reads it as
// a value of a word type (one of `accepted`) and nothing follows it. The
// word is the lexer's, bound to the global context like any word loaded
// from text. False for text that reads as anything else, as nothing, as
// more than one value ("a b" is not a word: taking its first word would
// drop the rest unseen), or not at all (a NUL in it, too). May collect.
bool read_word(Val out, const std::string& text, bool (*accepted)(TypeId)) {
  if (text.find('\0') != std::string::npos) return false;  // the lexer would stop there
  lexer::Options options{.mode = lexer::Mode::scan, .one = true};
  const lexer::Result scanned = lexer::scan_utf8(out, text, options);
  if (scanned.type <= 0 || !accepted(static_cast<TypeId>(scanned.type))) return false;
  const std::string rest = text.substr(static_cast<size_t>(scanned.consumed));
  if (lexer::scan_utf8(out, rest, options).type != 0) return false;
  options = {.mode = lexer::Mode::load, .one = true, .wrap = false};
  lexer::scan_utf8(out, text, options);
  return accepted(cell::type_of(*out));
}

std::string char_text(const Cell& value) {
  char bytes[4];
  return std::string(bytes, static_cast<size_t>(unicode::encode_utf8_char(value.w2, bytes)));
}

// ---- actions ----

// make and to of word!, set-word!, lit-word!, get-word! and refinement!
// (issue! below): `type` is the kind asked for.
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
    case TypeId::char_: {
      // Text becomes a word when it reads as one: "a:" gives a, "123"
      // does not.
      const std::string text = from == TypeId::string ? string::to_utf8(*spec) : char_text(*spec);
      Val read = stack::push_slot();
      if (!read_word(read, text, type_traits::is_all_word)) error::raise(error_id::script::invalid_chars);
      *result = retyped(*read, type);
      stack::pop(1);
      return;
    }
    case TypeId::refinement:
    case TypeId::issue: {
      // The name of a refinement or an issue must read as a word (#a: as
      // the set-word a:, which gives a); #123 or #/a does not.
      Val read = stack::push_slot();
      if (!read_word(read, std::string(symbol::spelling(spec->w2)), type_traits::is_any_word))
        error::raise(error_id::script::bad_to_arg, datatype::make(type), *spec);
      *result = retyped(*read, type);
      stack::pop(1);
      return;
    }
    default:
      error::raise(error_id::script::bad_to_arg, datatype::make(type), *spec);
  }
}

// make and to of issue!: any text is taken as it is, without lexical
// checks ("a b" gives an issue with a space in it); words are retyped.
void make_issue_value(Val result, Val spec, TypeId type) {
  const TypeId from = cell::type_of(*spec);
  if (type_traits::is_all_word(from)) {
    *result = retyped(*spec, TypeId::issue);
  } else if (from == TypeId::string) {
    *result = make_issue(string::to_utf8(*spec));
  } else if (from == TypeId::char_) {
    *result = make_issue(char_text(*spec));
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

Cell intern(std::string_view name) { return intern_symbol(symbol::make(name)); }

Cell intern_symbol(uint32_t symbol) {
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

Cell unbound(std::string_view name) { return make(TypeId::word, no_node, symbol::make(name), unresolved); }

}  // namespace kiv::word
