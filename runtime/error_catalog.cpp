#include "runtime/error_catalog.h"

#include <cstdio>
#include <iterator>
#include <span>

#include "runtime/core/exits.h"
#include "runtime/core/runtime_error.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/state.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/embedded.h"
#include "runtime/eval/lexer.h"

namespace kiv::error_catalog {
namespace {

Cell g_catalogue = none::make();

// The catalogue and its categories are blocks of (set-word, value) pairs.
// A field is one pair; both pointers are valid until the next allocation.
struct Field {
  const Cell* name = nullptr;
  const Cell* value = nullptr;
};

uint32_t field_count(const Cell& block) { return block::count(block) / 2; }

Field field(const Cell& block, uint32_t position) {
  const Cell* first = block::at(block, 2 * position);
  return {first, first + 1};
}

std::string_view spelling(const Cell& word) { return symbol::spelling(word.w2); }

// The category block at `category`, or null.
const Cell* category_block(uint32_t category) {
  if (!cell::is(g_catalogue, TypeId::block) || category >= field_count(g_catalogue)) return nullptr;
  return field(g_catalogue, category).value;
}

// The field of id `code` in its category: position + 2, after code and type.
Field id_field(error_id::Code code) {
  const Cell* block = category_block(static_cast<uint32_t>(code.category()));
  const auto position = static_cast<uint32_t>(code.position()) + 2;
  if (block == nullptr || position >= field_count(*block)) return {};
  return field(*block, position);
}

bool is_template(const Cell& value) {
  switch (cell::type_of(value)) {
    case TypeId::string:
    case TypeId::block:
    case TypeId::word:
    case TypeId::lit_word:
    case TypeId::get_word: return true;
    default: return false;
  }
}

std::string quoted(std::string_view text) {
  // Built by appending: GCC 12's -O3 warns (wrongly) about "`" + std::string.
  std::string result(1, '`');
  result.append(text);
  result += '`';
  return result;
}

// The generated ids of the category at `position`, in position order.
std::span<const error_id::CatalogueWords> generated_ids(uint32_t position) {
  const std::span<const error_id::CatalogueWords> all(error_id::catalogue_words);
  size_t first = 0;
  while (first < all.size() && all[first].code.value / 100 < position) ++first;
  size_t end = first;
  while (end < all.size() && all[end].code.value / 100 == position) ++end;
  return all.subspan(first, end - first);
}

// The problems with one category's block at `position`, else empty.
std::string check_category(const Cell& name, const Cell& block, uint32_t position) {
  const std::string_view expected = error_id::category_words[position];
  if (spelling(name) != expected)
    return "category " + std::to_string(position) + " is " + quoted(spelling(name)) + " in the catalogue but " +
           quoted(expected) + " in error_ids.h";
  const std::string where = "category " + quoted(expected);
  if (!cell::is(block, TypeId::block)) return where + " is not a block";
  const uint32_t count = field_count(block);
  if (count < 2) return where + " lacks its code and type";
  const Field code = field(block, 0);
  if (!cell::is(*code.name, TypeId::set_word) || spelling(*code.name) != "code" ||
      !cell::is(*code.value, TypeId::integer) || code.value->w2 != 100 * position)
    return where + " does not begin with code: " + std::to_string(100 * position);
  const Field type = field(block, 1);
  if (!cell::is(*type.name, TypeId::set_word) || spelling(*type.name) != "type" ||
      !cell::is(*type.value, TypeId::string))
    return where + " has no type: title after its code";

  const std::span<const error_id::CatalogueWords> ids = generated_ids(position);
  for (uint32_t i = 2; i < count; ++i) {
    const Field id = field(block, i);
    const uint32_t id_position = i - 2;
    const std::string code_text = std::to_string(100 * position + id_position);
    if (!cell::is(*id.name, TypeId::set_word))
      return where + ": the id at position " + std::to_string(id_position) + " is not a set-word";
    if (!is_template(*id.value))
      return where + ": " + quoted(spelling(*id.name)) + " has no message template";
    if (id_position >= ids.size())
      return where + ": " + quoted(spelling(*id.name)) + " (code " + code_text +
             ") is in the catalogue but not in error_ids.h";
    if (spelling(*id.name) != ids[id_position].id)
      return where + ": code " + code_text + " is " + quoted(spelling(*id.name)) + " in the catalogue but " +
             quoted(ids[id_position].id) + " in error_ids.h";
  }
  if (count - 2 < ids.size())
    return where + ": " + quoted(ids[count - 2].id) + " (code " + std::to_string(ids[count - 2].code.value) +
           ") is in error_ids.h but not in the catalogue";
  return {};
}

}  // namespace

std::string check(const Cell& catalogue) {
  if (!cell::is(catalogue, TypeId::block)) return "the catalogue is not a block";
  if (block::count(catalogue) % 2 != 0) return "the catalogue is not made of category names and blocks";
  const uint32_t count = field_count(catalogue);
  const size_t expected = std::size(error_id::category_words);
  if (count != expected)
    return "the catalogue has " + std::to_string(count) + " categories, error_ids.h " + std::to_string(expected);
  for (uint32_t i = 0; i < count; ++i) {
    const Field category = field(catalogue, i);
    if (!cell::is(*category.name, TypeId::set_word))
      return "category " + std::to_string(i) + " has no set-word name";
    std::string problem = check_category(*category.name, *category.value, i);
    if (!problem.empty()) return problem;
  }
  return {};
}

Val read(std::string_view text) {
  Val values = lexer::scan(text);
  // The header, when there is one, is not part of the data.
  if (block::count(*values) >= 2) {
    const Cell* first = block::at(*values, 0);
    if (cell::is(first[0], TypeId::word) && symbol::equal_caseless(spelling(first[0]), "Kiv") &&
        cell::is(first[1], TypeId::block))
      values->w1 += 2;
  }
  return values;
}

void load() { load(embedded::library_errors()); }

void load(std::string_view text) {
  roots::add_permanent(&g_catalogue);
  g_catalogue = none::make();
  std::string problem;
  try {
    Val values = read(text);
    problem = check(*values);
    if (problem.empty()) g_catalogue = *values;
    stack::pop(1);
  } catch (const Unwind&) {
    runtime::state.pending = 0;
    problem = "the catalogue text does not read as Kiv data";
  }
  if (problem.empty()) return;
  std::fprintf(stderr, "*** Error catalogue: %s\n", problem.c_str());
  runtime::fatal(runtime::error_assertion, reinterpret_cast<uintptr_t>(&catalogue));
}

const Cell& catalogue() { return g_catalogue; }

std::string_view category_name(uint32_t category) {
  if (category_block(category) == nullptr) return {};
  return spelling(*field(g_catalogue, category).name);
}

std::string_view id_name(error_id::Code code) {
  const Field id = id_field(code);
  return id.name ? spelling(*id.name) : std::string_view();
}

Cell title(uint32_t category) {
  const Cell* block = category_block(category);
  return block ? *field(*block, 1).value : none::make();
}

Cell message_template(error_id::Code code) {
  const Field id = id_field(code);
  return id.value ? *id.value : none::make();
}

int32_t find_category(uint32_t symbol_id) {
  const uint32_t wanted = symbol::resolve(symbol_id);
  for (uint32_t i = 0; i < category_count(); ++i)
    if (symbol::resolve(field(g_catalogue, i).name->w2) == wanted) return static_cast<int32_t>(i);
  return -1;
}

int32_t find_id(uint32_t category, uint32_t symbol_id) {
  const Cell* block = category_block(category);
  if (block == nullptr) return -1;
  const uint32_t wanted = symbol::resolve(symbol_id);
  for (uint32_t i = 2; i < field_count(*block); ++i)
    if (symbol::resolve(field(*block, i).name->w2) == wanted) return static_cast<int32_t>(i - 2);
  return -1;
}

uint32_t category_count() { return cell::is(g_catalogue, TypeId::block) ? field_count(g_catalogue) : 0; }

uint32_t id_count(uint32_t category) {
  const Cell* block = category_block(category);
  return block ? field_count(*block) - 2 : 0;
}

}  // namespace kiv::error_catalog
