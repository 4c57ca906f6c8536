#include "runtime/datatypes/function.h"

#include <algorithm>
#include <vector>

#include "runtime/check.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/state.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/mold.h"

namespace kiv::function {
namespace {

using type_traits::is_argument_word;

constexpr uint32_t metadata_cells = 5;

bool is_symbol(const Cell& value, std::string_view name) {
  return symbol::equal_caseless(symbol::spelling(value.w2), name);
}

// A type block: datatypes, typesets, and words naming them. A block nested
// in it is skipped, as the argument's typeset skips it.
void validate_type_block(const Cell& types) {
  const uint32_t count = block::count(types);
  for (uint32_t i = 0; i < count; ++i) {
    const Cell item = *block::at(types, i);
    switch (cell::type_of(item)) {
      case TypeId::datatype:
      case TypeId::typeset:
      case TypeId::block:
        break;
      case TypeId::word: {
        const Cell value = *context::get(item);
        const TypeId type = cell::type_of(value);
        if (type != TypeId::datatype && type != TypeId::typeset && !type_traits::is_all_word(type))
          error::raise(error_id::script::invalid_type_spec, item);
        break;
      }
      default:
        error::raise(error_id::script::invalid_type_spec, item);
    }
  }
}

[[noreturn]] void refuse(const Cell& spec) { error::raise(error_id::script::bad_func_def, spec); }

Cell* cells(NodeId node) { return reinterpret_cast<Cell*>(memory::buffer(node)->head_ptr()); }

// ---- actions ----

void make_value(Val result, Val spec, TypeId) {
  if (!cell::is(*spec, TypeId::block) || block::count(*spec) < 2) error::raise(error_id::script::bad_func_def, *spec);
  const Cell first = *block::at(*spec, 0);
  const Cell second = *block::at(*spec, 1);
  if (!cell::is(first, TypeId::block) || !cell::is(second, TypeId::block))
    error::raise(error_id::script::bad_func_def, *spec);
  Val spec_block = stack::push(first);
  Val body = stack::push(second);
  *result = *make(spec_block, body);
}

void reflect(Val value, Val field) {
  const std::string_view name = symbol::spelling(symbol::resolve(field->w2));
  if (name == "spec") {
    *value = series::make(TypeId::block, value->w2);
  } else if (name == "body") {
    *value = metadata(*value, meta::body);
  } else if (name == "words") {
    const NodeId ctx = value->w1;
    Val words = block::push_new(context::word_count(ctx));
    for (uint32_t i = 0; i < context::word_count(ctx); ++i) block::append(words, context::word_at(ctx, i));
    *value = *words;
  } else {
    error::raise(error_id::internal::not_done);
  }
}

int32_t form(Val, Val out, int32_t part) { return mold::emit(out, "?function?", part); }

int32_t mold_value(Val value, Val out, const MoldOptions& options, int32_t part) {
  part = mold::emit(out, "func ", part);
  Val spec = stack::push(series::make(TypeId::block, value->w2));
  part = mold::mold_value(spec, out, options, part);
  Val body = stack::push(metadata(*value, meta::body));
  if (cell::is(*body, TypeId::none)) part = mold::emit(out, " none", part);
  else part = mold::mold_value(body, out, options, part);
  stack::pop(2);
  return part;
}

// Functions are equal only to themselves: they share the metadata block.
int compare(const Cell& a, const Cell& b, CmpOp op) {
  if (cell::type_of(b) != cell::type_of(a) || !compares_unordered(op)) return -2;
  return a.w3 == b.w3 ? 0 : a.w3 < b.w3 ? -1 : 1;
}

}  // namespace

uint32_t validate_spec(const Cell& spec) {
  uint32_t flags = 0;
  const uint32_t count = block::count(spec);
  uint32_t i = 0;
  if (count > 0 && cell::is(*block::at(spec, 0), TypeId::block)) {
    const Cell attributes = *block::at(spec, 0);
    for (uint32_t k = 0; k < block::count(attributes); ++k) {
      const Cell item = *block::at(attributes, k);
      if (!cell::is(item, TypeId::word)) refuse(spec);
      if (is_symbol(item, "trace")) flags |= flag_trace;
      if (is_symbol(item, "no-trace")) flags |= flag_no_trace;
    }
    i = 1;
  }
  bool return_seen = false;
  bool local_seen = false;
  for (; i < count; ++i) {
    const Cell item = *block::at(spec, i);
    const TypeId type = cell::type_of(item);
    const bool has_next = i + 1 < count;
    const Cell next = has_next ? *block::at(spec, i + 1) : none::make();
    if (is_argument_word(type)) {
      if (local_seen && type != TypeId::word) refuse(spec);
      if (return_seen && !local_seen) refuse(spec);
      if (has_next && cell::is(next, TypeId::block)) {
        validate_type_block(next);
        ++i;
        if (i + 2 < count + 1 && i + 1 < count && cell::is(*block::at(spec, i + 1), TypeId::string) && i + 2 < count &&
            cell::is(*block::at(spec, i + 2), TypeId::block))
          refuse(spec);
      } else if (has_next && cell::is(next, TypeId::string) && i + 2 < count &&
                 cell::is(*block::at(spec, i + 2), TypeId::block)) {
        refuse(spec);  // the doc string comes after the type block
      }
    } else if (type == TypeId::string) {
      continue;
    } else if (type == TypeId::set_word) {
      if (!is_symbol(item, "return") || return_seen || local_seen) refuse(spec);
      if (!has_next || !cell::is(next, TypeId::block)) refuse(spec);
      validate_type_block(next);
      ++i;
      if (i + 1 < count) {
        const TypeId after = cell::type_of(*block::at(spec, i + 1));
        if (after != TypeId::refinement && after != TypeId::string) refuse(spec);
      }
      return_seen = true;
    } else if (type == TypeId::refinement) {
      if (is_symbol(item, "local")) {
        local_seen = true;
      } else if (return_seen || local_seen) {
        refuse(spec);
      }
      if (has_next) {
        const TypeId after = cell::type_of(next);
        if (!is_argument_word(after) && after != TypeId::set_word && after != TypeId::string &&
            after != TypeId::refinement)
          refuse(spec);
      }
    } else {
      refuse(spec);
    }
  }
  // No name twice, whatever its spelling.
  for (uint32_t a = 0; a < count; ++a) {
    const Cell x = *block::at(spec, a);
    const TypeId tx = cell::type_of(x);
    if (!is_argument_word(tx) && tx != TypeId::refinement) continue;
    for (uint32_t b = 0; b < a; ++b) {
      const Cell y = *block::at(spec, b);
      const TypeId ty = cell::type_of(y);
      if (!is_argument_word(ty) && ty != TypeId::refinement) continue;
      if (symbol::resolve(x.w2) == symbol::resolve(y.w2)) error::raise(error_id::script::dup_vars, x);
    }
  }
  return flags;
}

Val make(Val spec, Val body) {
  const uint32_t flags = validate_spec(*spec) | (runtime::state.loading_library ? flag_library : 0);
  Val spec_copy = stack::push(*spec);
  if (spec_copy->w1 != 0) *spec_copy = block::copy(spec, false);
  Val metadata_block = block::push_new(metadata_cells);
  for (uint32_t i = 0; i < metadata_cells; ++i) block::append(metadata_block, unset::make());
  const NodeId ctx = context::make_from_words(series::node_of(*spec_copy), 0,
                                              {.values_on_stack = true, .kind = context::Kind::function});
  Val fn = stack::push(Cell{cell::header(TypeId::function) | flags, ctx, series::node_of(*spec_copy),
                            series::node_of(*metadata_block)});
  context::self_cell(ctx) = *fn;
  if (cell::is(*body, TypeId::block)) {
    const Cell copied = block::copy(body, true);
    cells(series::node_of(*metadata_block))[meta::body] = copied;
    context::bind_block(ctx, series::node_of(copied), 0, false);
  } else {
    cells(series::node_of(*metadata_block))[meta::body] = none::make();
  }
  return fn;
}


void collect_locals(Val spec, Val body) {
  // Words never collected: the spec's own words, any kind (arguments,
  // refinement names, declared locals and the /extern words).
  std::vector<uint32_t> known;
  int64_t extern_at = -1;
  for (uint32_t i = 0; i < block::count(*spec); ++i) {
    const Cell item = *block::at(*spec, i);
    if (type_traits::is_all_word(cell::type_of(item))) known.push_back(symbol::resolve(item.w2));
    if (extern_at < 0 && cell::is(item, TypeId::refinement) && is_symbol(item, "extern")) extern_at = i;
  }
  std::vector<uint32_t> collected;
  if (extern_at >= 0) {
    const uint32_t count = block::count(*spec);
    for (uint32_t i = 0; i < count; ++i) {
      const Cell item = *block::at(*spec, i);
      const TypeId type = cell::type_of(item);
      if (type != TypeId::block && type != TypeId::string && !type_traits::is_any_word(type) && type != TypeId::refinement)
        error::raise(error_id::script::bad_func_extern, item);
    }
    // /extern and its words leave the spec, and so does a /local part
    // right after them, whose words are collected first. What follows that
    // stays, for the spec's own checks.
    auto end = static_cast<uint32_t>(extern_at) + 1;
    while (end < count && is_argument_word(cell::type_of(*block::at(*spec, end)))) ++end;
    const Cell after = end < count ? *block::at(*spec, end) : none::make();
    if (cell::is(after, TypeId::refinement) && is_symbol(after, "local")) {
      for (++end; end < count && cell::is(*block::at(*spec, end), TypeId::word); ++end)
        collected.push_back(block::at(*spec, end)->w2);
    }
    series_type::remove_units(series::node_of(*spec), series::index_of(*spec) + static_cast<uint32_t>(extern_at),
                              end - static_cast<uint32_t>(extern_at));
  }
  const auto collect = [&](uint32_t symbol_id) {
    const uint32_t canonical = symbol::resolve(symbol_id);
    for (uint32_t k : known)
      if (k == canonical) return;
    known.push_back(canonical);
    collected.push_back(symbol_id);
  };
  const auto is_word_named = [](const Cell& value, std::string_view name) {
    return cell::is(value, TypeId::word) && symbol::equal_caseless(symbol::spelling(value.w2), name);
  };
  // Deep walk over blocks and parens by (node, index).
  std::vector<std::pair<NodeId, uint32_t>> todo{{series::node_of(*body), series::index_of(*body)}};
  std::vector<NodeId> seen;
  while (!todo.empty()) {
    const auto [node, start] = todo.back();
    todo.pop_back();
    if (std::find(seen.begin(), seen.end(), node) != seen.end()) continue;
    seen.push_back(node);
    const uint32_t length = memory::buffer(node)->length();
    for (uint32_t i = start; i < length; ++i) {
      const Cell item = cells(node)[i];
      const TypeId type = cell::type_of(item);
      if (type == TypeId::set_word) collect(item.w2);
      else if (type == TypeId::block || type == TypeId::paren) todo.emplace_back(series::node_of(item), series::index_of(item));
      if (i + 1 >= length) continue;
      const Cell next = cells(node)[i + 1];
      const bool foreach_like = is_word_named(item, "foreach") || is_word_named(item, "remove-each");
      if (foreach_like && cell::is(next, TypeId::block)) {
        for (uint32_t k = 0; k < block::count(next); ++k) {
          const Cell w = *block::at(next, k);
          const TypeId t = cell::type_of(w);
          if (t == TypeId::word || t == TypeId::get_word || t == TypeId::lit_word) collect(w.w2);
        }
      } else if ((foreach_like || is_word_named(item, "repeat")) &&
                 (cell::is(next, TypeId::word) || cell::is(next, TypeId::set_word))) {
        collect(next.w2);
      }
    }
  }
  if (collected.empty()) return;
  bool has_local = false;
  for (uint32_t i = 0; i < block::count(*spec); ++i) {
    const Cell item = *block::at(*spec, i);
    if (cell::is(item, TypeId::refinement) && symbol::equal_caseless(symbol::spelling(item.w2), "local")) has_local = true;
  }
  if (!has_local)
    block::append(spec, word::make(TypeId::refinement, no_node, symbol::make("local"), word::unresolved));
  for (uint32_t symbol_id : collected) {
    if (symbol::equal_caseless(symbol::spelling(symbol_id), "local")) continue;
    block::append(spec, word::make(TypeId::word, no_node, symbol_id, word::unresolved));
  }
}

void register_types() {
  datatype::register_type({TypeId::function, TypeId::context, "function!",
                           {.make = make_value, .reflect = reflect, .form = form, .mold = mold_value,
                            .compare = compare}});
}

}  // namespace kiv::function
