#include "runtime/eval/expression_records.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "runtime/core/collector.h"

namespace kiv::expression_records {
namespace {

// Ids in SeriesBuf::records: 0 a block never run, 1 a block run once,
// from 2 on a table (tables[id - first_id]).
constexpr uint32_t seen_once = 1;
constexpr uint32_t first_id = 2;

std::vector<std::unique_ptr<Table>> g_tables;
std::vector<uint32_t> g_free_ids;

uint32_t take_id() {
  if (!g_free_ids.empty()) {
    const uint32_t id = g_free_ids.back();
    g_free_ids.pop_back();
    return id;
  }
  g_tables.emplace_back();
  return static_cast<uint32_t>(g_tables.size() - 1) + first_id;
}

// Whether the table `id` still describes a block the collection keeps: its
// node lives on with the buffer that names this table.
bool still_used(const Table& table, uint32_t id) {
  return memory::is_live_node(table.node) && collector::is_marked(table.node) &&
         memory::buffer(table.node)->records == id;
}

// Drops the tables of blocks that the collection frees or that have left
// their buffer (a grown block starts a new one).
void sweep() {
  bool dropped = false;
  for (size_t i = 0; i < g_tables.size(); ++i) {
    const uint32_t id = static_cast<uint32_t>(i) + first_id;
    if (!g_tables[i] || still_used(*g_tables[i], id)) continue;
    g_tables[i].reset();
    g_free_ids.push_back(id);
    dropped = true;
  }
  // A table address kept across the collection must be looked up again.
  if (dropped) ++memory::relocations;
}

Mode mode_from_environment() {
  const char* setting = std::getenv("KIV_EVAL");
  if (!setting || !*setting || std::strcmp(setting, "records") == 0) return Mode::on;
  if (std::strcmp(setting, "walker") == 0) return Mode::off;
  if (std::strcmp(setting, "verify") == 0) return Mode::verify;
  std::fprintf(stderr, "KIV_EVAL: unknown setting \"%s\" (records, walker or verify)\n", setting);
  return Mode::on;
}

}  // namespace

void init() {
  g_tables.clear();
  g_free_ids.clear();
  mode = mode_from_environment();
  collector::register_weak_sweeper(&sweep);
}

Table* table_of(SeriesBuf* buffer) {
  if (mode == Mode::off) return nullptr;
  const uint32_t id = buffer->records;
  if (id == 0) {
    buffer->records = seen_once;
    return nullptr;
  }
  if (id >= first_id && id - first_id < g_tables.size()) {
    Table* table = g_tables[id - first_id].get();
    if (table && table->node == buffer->node) return checked(table, buffer);
  }
  // Run before, or its buffer came from another block (an exchange of
  // buffers): a new table. One that another buffer names stays its own.
  const uint32_t new_id = take_id();
  g_tables[new_id - first_id] = std::make_unique<Table>(Table{buffer->node, buffer->changes, {}});
  g_tables[new_id - first_id]->records.resize(buffer->length());
  buffer->records = new_id;
  return g_tables[new_id - first_id].get();
}

size_t bytes_in_use() {
  size_t bytes = 0;
  for (const auto& table : g_tables)
    if (table) bytes += sizeof(Table) + table->records.capacity() * sizeof(Record);
  return bytes;
}

size_t table_count() {
  size_t count = 0;
  for (const auto& table : g_tables) count += table != nullptr;
  return count;
}

}  // namespace kiv::expression_records
