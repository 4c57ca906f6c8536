#include "runtime/datatypes/symbol.h"

#include <algorithm>
#include <cstring>

#include "runtime/core/gc_safety.h"
#include "runtime/core/series.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"
#include "runtime/hashtable.h"

namespace kiv::symbol {
namespace {

// The table and its index, both permanent roots.
Cell g_table{};
NodeId g_index = no_node;

NodeId table_node() { return series::node_of(g_table); }

const Cell& cell_of(uint32_t id) { return reinterpret_cast<const Cell*>(memory::buffer(table_node())->data())[id - 1]; }
Cell& mutable_cell_of(uint32_t id) { return reinterpret_cast<Cell*>(memory::buffer(table_node())->data())[id - 1]; }

char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c; }

}  // namespace

void init() {
  g_table = series::make(TypeId::block, memory::new_cell_series(initial_capacity));
  roots::add_permanent(&g_table);
  roots::add_permanent(&g_index);
  g_index = hashtable::make(initial_capacity, table_node(), 0, hashtable::Kind::symbols);
}

uint32_t make(std::string_view name) { return hashtable::intern_name(index(), name, false); }
uint32_t make_caseless(std::string_view name) { return hashtable::intern_name(index(), name, true); }

uint32_t resolve(uint32_t id) {
  const uint32_t alias = cell_of(id).w1;
  return alias == canonical ? id : alias;
}

uint32_t alias_of(uint32_t id) { return cell_of(id).w1; }

std::string_view spelling_of_cell(const Cell& symbol_cell) {
  const SeriesBuf* buf = memory::buffer(symbol_cell.w3);
  return {reinterpret_cast<const char*>(buf->head_ptr()), buf->used_bytes()};
}

std::string_view spelling(uint32_t id) { return spelling_of_cell(cell_of(id)); }

bool equal_caseless(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

NodeId spelling_string(uint32_t id) {
  if (const NodeId cached = cell_of(id).w2; cached != no_node) return cached;
  Val text = string::push_new(static_cast<uint32_t>(spelling(id).size()));
  const std::string copy(spelling(id));  // appending may move the symbol's bytes
  string::append_utf8(text, copy);
  mutable_cell_of(id).w2 = series::node_of(*text);
  stack::pop(1);
  return cell_of(id).w2;
}

int compare_spellings(std::string_view a, std::string_view b, bool exact) {
  // UTF-8 keeps code point order byte by byte, so bytes compare directly.
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    const auto p = static_cast<uint8_t>(exact ? a[i] : fold(a[i]));
    const auto q = static_cast<uint8_t>(exact ? b[i] : fold(b[i]));
    if (p != q) return p < q ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

uint32_t count() { return memory::buffer(table_node())->length(); }
NodeId table() { return table_node(); }
NodeId index() { return g_index; }

namespace detail {

uint32_t append(std::string_view name, int32_t alias) {
  // The spelling first, held by the new cell as soon as the cell exists.
  const auto length = static_cast<uint32_t>(name.size());
  const NodeId spelling_node = memory::new_byte_series(length + 1);
  Rooted<NodeId> keep(spelling_node);
  SeriesBuf* bytes = memory::buffer(spelling_node);
  std::memcpy(bytes->data(), name.data(), length);
  bytes->data()[length] = 0;
  bytes->tail = length;
  Cell* slot = series::append_slot(table_node());
  *slot = Cell{cell::header(TypeId::symbol), static_cast<uint32_t>(alias), no_node, spelling_node};
  return count() - 1;
}

}  // namespace detail

namespace {

// Symbols order as their spellings do; equal when the spellings are.
int compare(const Cell& a, const Cell& b, CmpOp op) {
  if (!cell::is(b, TypeId::symbol)) return -2;
  const bool exact = op == CmpOp::strict_equal || op == CmpOp::case_sort || op == CmpOp::same;
  return compare_spellings(spelling_of_cell(a), spelling_of_cell(b), exact);
}

}  // namespace

void register_types() {
  datatype::register_type({TypeId::symbol, TypeId::none_type, "symbol!", {.compare = compare}});
}

}  // namespace kiv::symbol
