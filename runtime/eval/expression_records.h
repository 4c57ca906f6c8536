// Expression records: what the interpreter learnt about the expressions of
// a block, kept beside the block so that the next run need not learn it
// again.
//
// A block that runs more than once gets a table with one record per cell.
// The record of a position says what the expression starting there is (a
// value written in the code, a word holding a value, a call of a known
// function, an operator on numbers) and what it was made for (the callee's
// identity, the operator's kind). The interpreter checks those facts that
// can change without the block changing (a word's value) every time it
// uses a record; what only a change of the block can alter (the kinds of
// its cells) is guarded by the block's change count (series::note_change):
// when it moved, every record of the table is forgotten.
//
// The table of a block is named by its buffer (SeriesBuf::records) and
// lives in the C heap; the collector drops the tables of blocks it frees.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/core/memory.h"

namespace kiv::expression_records {

// What the expression at a position is; `unknown` until it first runs.
enum class Kind : uint8_t {
  unknown,
  walker,    // anything the records do not cover: the interpreter's own walk
  constant,  // a value written in the code, which evaluates to itself
  word,      // a word holding a value that is not a function
  call,      // a word naming a function, called with its leading arguments
  operation  // a word or number, an operator, and a number or word: all numbers
};

struct Record {
  Kind kind = Kind::unknown;
  uint8_t fast = 0;        // call: CallShape bits; operation: the operator's fast kind
  uint16_t arguments = 0;  // call: leading arguments
  uint32_t guard = 0;      // call: the callee's w1; operation: the operator's w1
  uint64_t identity = 0;   // call: the callee's header type and w3; operation: the op's header
};
static_assert(sizeof(Record) == 16);  // no larger than the cell it describes

struct Table {
  NodeId node;      // the block whose buffer names this table
  uint32_t changes;  // the block's change count when the records were made
  std::vector<Record> records;
};

// Whether records are used: `on` (the default), `off` (KIV_EVAL=walker:
// the interpreter's walk only), or `verify` (KIV_EVAL=verify: every record
// is checked against what the walk would learn now, and a difference ends
// the process with a report).
enum class Mode : uint8_t { on, off, verify };
inline Mode mode = Mode::on;

// Reads KIV_EVAL and registers the collector's sweeper (runtime start-up).
void init();

// The table of the block whose buffer is `buffer`, made on its second run
// (null before, and when records are off). Its records are valid: a change
// of the block since they were made has cleared them. Valid until the next
// allocation.
Table* table_of(SeriesBuf* buffer);

// The record of position `index` of a table, grown when the block grew.
inline Record& record_at(Table& table, uint32_t index) {
  if (index >= table.records.size()) [[unlikely]] table.records.resize(index + 1);
  return table.records[index];
}

// Clears the records of a table whose block changed; answers the table.
inline Table* checked(Table* table, const SeriesBuf* buffer) {
  if (table->changes != buffer->changes) [[unlikely]] {
    table->changes = buffer->changes;
    std::fill(table->records.begin(), table->records.end(), Record{});
  }
  return table;
}

// Bytes the tables take, for statistics and tests.
size_t bytes_in_use();
size_t table_count();

}  // namespace kiv::expression_records
