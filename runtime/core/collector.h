// The collector: frees the series that no value reaches any more, and
// compacts the series frames.
//
// A collection stops the world (there is one thread) and runs in three
// steps:
// 1. Mark. From the roots, every reachable series buffer gets the mark flag
//    (series_flag::mark). The roots are found by rule, not by scanning the
//    machine stack: the permanent cells and node ids (root block, symbol
//    table and its index, global context, value slot table, interpreter
//    position), the chain of `Rooted<>` values, the argument stack from its
//    bottom to its top, the call frames' contexts, the pending error's
//    cells, and the markers other modules register. Marking follows an
//    explicit work list, never recursion, so a deeply nested block cannot
//    overflow the machine stack. What a cell refers to is decided by its
//    type: each type's marking rule is a column of the type traits table
//    (type_traits.h), read through `rule_of`.
// 2. Sweep. Ownership records are weak: those whose series or owner went
//    unmarked are dropped (ownership.h). The external handles that no value
//    marked are released (handles.h). Every buffer in use that is not
//    marked is dead: its node is freed.
// 3. Compact. Live buffers slide towards the lowest series frame in address
//    order, one memory move per run of neighbours; each moved buffer's node
//    is pointed at its new place. Node ids never change, buffers move:
//    a raw pointer into a buffer held across an allocation is stale after a
//    collection (gc_safety.h). Series frames left empty go back to the
//    system (the first one stays), as do dead big buffers and empty node
//    frames. Every mark is cleared, on external buffers too.
//
// A collection runs when the memory manager finds no room once the pause
// since the last one is over (memory::pause_ratio: in proportion to what
// that one found alive) and the collector is switched on
// (runtime::state.collector_on), or when `collect` is called.
// The collector allocates no series; it runs its own C++ vectors.
//
// Stress mode, chosen once at start-up by the environment variable KIV_GC:
//   every=N   collect at every N-th allocating call (gc::may_gc), room or
//             not; N = 1 collects at every one. Like the normal
//             collections, only while the collector is switched on.
//   verify    check the whole heap before and after each collection, and
//             end the process with a report at the first inconsistency
// for example KIV_GC=every=1,verify.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

namespace kiv::collector {

// Registers the collector with the memory manager and reads KIV_GC.
// Runtime start-up, once the runtime is built.
void init();

// One full collection, whether the collector is switched on or not.
void collect();
// Whether a collection is under way.
bool running();

struct Stats {
  uint64_t collections = 0;     // finished since start-up
  size_t in_use_after_last = 0;  // memory::in_use_bytes() when the last ended
};
Stats stats();

struct StressOptions {
  uint32_t every = 0;  // 0: no collections beyond the normal ones
  bool verify = false;
};
// Reads a KIV_GC setting; unknown words are reported on standard error and
// ignored.
StressOptions parse_stress(std::string_view setting);
void set_stress(const StressOptions& options);
StressOptions stress();

// Checks the heap as `verify` does; ends the process with a report when it
// finds an inconsistency. Outside a collection only.
void verify_heap();

// The collector knows cells, series and the argument stack; what the
// modules above it hold, it reaches through the functions they register.
//
// Markers mark what a module holds outside values (the call frames'
// contexts, a serialiser's node table, a window's values). They run during
// marking and call `mark_node` and `mark_cell`; `name` says in heap reports
// where a bad reference was found.
using Marker = void (*)();
void register_marker(Marker marker, const char* name = "a registered marker");
void unregister_marker(Marker marker);
// Weak sweepers run once everything else is marked: each drops the entries
// of its weak table whose series went unmarked (`is_marked`) and marks what
// it keeps. They must not allocate.
void register_weak_sweeper(Marker sweeper);
// The tracer of hash tables (series with gc_flag::hash_table): marks the
// vectors and blocks that a table's record names, as `mark_node`,
// `mark_only` and `mark_cell` allow.
using TableTracer = void (*)(NodeId table);
void set_table_tracer(TableTracer tracer);

// During marking only: keeps a series (and, for a cell series, whatever its
// cells refer to), or whatever a cell refers to.
void mark_node(NodeId node);
void mark_cell(const Cell& value);
// During marking only: keeps a series' buffer without looking inside.
void mark_only(NodeId node);
// During marking only: whether a series is marked so far.
bool is_marked(NodeId node);

// For tracers that check what they read: whether the heap checks are on,
// where the references being followed lie (for reports), and the report of
// a damaged heap, which ends the process.
bool verifying();
void report_at(NodeId series, uint32_t index);
[[noreturn]] void fail_check(const char* format, ...) __attribute__((format(printf, 1, 2)));

// What a cell of each type refers to. Every type id has one rule, given in
// the type traits table (type_traits.h); the payload words named are those
// that hold node ids (or, for handle!, the index of an external handle).
enum class Rule : uint8_t {
  nothing,
  word,       // w1 context, when not 0
  series,     // w2 series, when not 0
  text,       // w2 series, and w3 when not 0
  symbol,     // w2 spelling string when not 0, w3 spelling bytes
  context,    // w1 symbol store (a hash table); w2 values unless on the stack
  object,     // w1 context, w3 series when not 0
  map,        // w2 data block, w3 hash table
  function,   // w1 context, w2 spec, w3 metadata block
  native,     // w2 spec, w3 argument-cache block
  op,         // as native!, plus w1 context when wrapping a function!
  image,      // w2 image series, when not 0
  handle,     // w3 external handle entry, when not negative
  event,      // w2 series when w3 has bit 0x10000
  unknown,    // not a type id
};
Rule rule_of(TypeId type);

}  // namespace kiv::collector
