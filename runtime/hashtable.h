// Hashing and the open-addressing hash tables.
//
// One table design serves the symbol table's index and every context's
// symbol store, the hash! and map! datatypes, and the runtime's node-keyed
// tables (the ownership table, the serialiser's node table). A table is an
// index over a block of cells that it does not own: keys stay in the data
// block and the buckets hold their positions.
//
// A table is a byte series holding a `Record`; its node names the table.
// Buckets carry two flag bits (empty, deleted) in a flags vector and a
// 32-bit word in a keys vector: the key's cell position in the data block
// (hash!: -k for the k-th list of equal keys), or, for node-keyed tables,
// the byte offset of the entry. Probing visits start, start+1, start+3,
// start+6, ... (the step grows by one each time) from hash & (buckets - 1).
//
// Tables grow when the occupied count reaches an upper bound of 0.77 x the
// bucket count. Every table operation may allocate except the lookups.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "runtime/core/cell.h"
#include "runtime/core/memory.h"
#include "runtime/datatypes/actions.h"

namespace kiv::hashtable {

// Hashing is reproducible: one fixed seed for every run.
inline constexpr uint32_t hash_seed = 0x9747B28C;

uint32_t murmur3(const void* data, size_t length, uint32_t seed = hash_seed);
uint32_t fmix32(uint32_t value);
// Smallest power of two not below n (n > 0).
uint32_t next_power_of_2(uint32_t n);
// Hash of a name with ASCII letters folded to lower case: every case
// variant of a word's spelling hashes alike.
uint32_t hash_name(std::string_view utf8);
// Hash of the characters of a string-like value from its index; unless
// `case_sensitive`, characters are first folded to lower case, as string
// comparison folds them, so that strings equal but for case hash alike.
uint32_t hash_string(const Cell& value, bool case_sensitive);
// Hash of any value, by its type.
uint32_t hash_value(const Cell& value, bool case_sensitive);

enum class Kind : int32_t {
  hash = 0,        // hash!: equal keys allowed, kept in lists
  map = 1,         // map!: key/value pairs
  symbols = 2,     // the symbol index and context symbol stores
  node_keyed = 3,  // keyed by node id, entries of cells
  ownership = 4,   // node-keyed: owned series -> owner
};

struct Record {
  int32_t size;        // keys in the table (map!: live pairs)
  uint32_t aux;        // hash!: node of the position vector; node-keyed: entry bytes
  NodeId dup_lists;    // hash!: node of the list of duplicate lists
  NodeId flags;        // node of the flags vector
  NodeId keys;         // node of the keys vector
  NodeId data;         // node of the data block
  int32_t occupied;    // buckets in use or deleted
  int32_t buckets;     // a power of two, at least 4
  int32_t upper;       // occupied count at which the table grows
  int32_t kind;
  int32_t stamp;       // node-compaction counter + 1 at the last build
};
static_assert(sizeof(Record) == 44);

// The table's record; valid until the next allocation.
Record& record(NodeId table);

// Makes the collector trace tables through `trace`. Runtime start-up.
void init();
// For the collector, during marking: marks the vectors and blocks that the
// table's record names, and the cells of node-keyed entries.
void trace(NodeId table);

// A new table for `size` keys. With a data block (a cell series), its keys
// from `block_index` on are added (map!: pairs); without one (no_node), an
// empty block is made. `extra` is the number of cells a node-keyed entry
// carries besides its key; for a symbol store, extra 2 with a source table
// copies the source.
NodeId make(uint32_t size, NodeId block, uint32_t block_index, Kind kind, uint32_t extra = 0,
             NodeId source = no_node);

// Adds the key at cell `position` of the data block. Answers 2 when the
// table was rebuilt instead (the key is then indexed too), else 0.
int put_key(NodeId table, uint32_t position);
// Adds every key of the data block from `index` on, by `step` cells.
void put_all(NodeId table, uint32_t index, uint32_t step);

struct Lookup {
  uint32_t start = 0;           // hash!: first position considered
  uint32_t end = UINT32_MAX;    // hash!: positions considered lie before it
  uint32_t skip = 1;            // hash!: positions considered are start + k x skip
  CmpOp op = CmpOp::equal;
  bool last = false;
  bool reverse = false;
};
// Position of the key matching `key`, or -1.
int32_t get(NodeId table, const Cell& key, const Lookup& lookup = {});
// map! and symbol tables: calls `visit` with the position of each key that
// matches `key` under `op`, in probe order, until it answers true; answers
// whether one did. Does not allocate; `visit` must not either.
bool any_match(NodeId table, const Cell& key, CmpOp op, bool (*visit)(void* context, int32_t position), void* context);
template <class Visit>
bool any_match(NodeId table, const Cell& key, CmpOp op, Visit&& visit) {
  using Callable = std::remove_reference_t<Visit>;
  return any_match(
      table, key, op, [](void* context, int32_t position) { return (*static_cast<Callable*>(context))(position); },
      static_cast<void*>(&visit));
}

// Asks the processor to fetch the buckets where `key` will be looked for,
// or (once they are fetched) the key cell its first bucket names: a walk
// over many keys calls it some keys ahead of its lookups, buckets first.
enum class Prefetch : uint8_t { buckets, key };
void prefetch(NodeId table, const Cell& key, Prefetch what);

// hash!: the position of a key that `lookup` finds equal to the key at
// cell `position` of the data block; when there is none, that key is
// added (as put_key does) and the answer is -1. One probe in the common
// cases. May allocate when the key is added.
int32_t put_if_absent(NodeId table, uint32_t position, const Lookup& lookup);

// The value cell of a map! pair that was removed. The key stays in the
// data block and in the table, so that putting it again revives the pair
// in its place. The marker is an unset! with a flag of its own: a valid
// cell that refers to nothing, so the collector's checks and every walk
// over the block can read it, and the removed value is not kept alive.
inline constexpr uint32_t removed_pair_flag = 0x20000000;
inline constexpr Cell removed_value{cell::header(TypeId::unset) | removed_pair_flag, 0, 0, 0};
inline bool is_removed(const Cell& value) { return value.header == removed_value.header; }

// Removes the key at cell `position` of the data block (map!: the value
// cell becomes `removed_value` and the key stays indexed).
void remove_key(NodeId table, uint32_t position);
// Empties the table and its data block.
void clear(NodeId table);
// A copy of the table over the data block `data` (a copy of its block).
NodeId copy(NodeId table, NodeId data);
// Rebuilds the table for `size` keys.
void rehash(NodeId table, uint32_t size);
// map!: indexes the keys of the data block afresh, after its pairs moved
// (the keys are stored keys already, each once). May allocate.
void reindex_pairs(NodeId table);

// hash! position upkeep when the data block changes.
// Forgets the keys of `count` cells from `index`.
void remove_range(NodeId table, uint32_t index, uint32_t count);
// Adds `offset` to the positions of the keys of `count` cells from
// `index`; with `move_positions` the position vector follows. Answers 1
// (doing nothing) for more than 30,000 cells: the caller rehashes instead.
int shift_keys(NodeId table, uint32_t count, uint32_t index, int32_t offset, bool move_positions);
// `count` cells moved from `from` to `to` inside the data block.
void move_keys(NodeId table, uint32_t from, uint32_t count, uint32_t to);
// hash!: whether the table indexes every cell of its data block exactly
// once, at its position, in a bucket of cells equal to it, and nothing
// else. Answers "" or what is wrong first. For tests; does not allocate.
std::string check_positions(NodeId table);

// Symbol index: the id of `name` (1-based position in the symbol table),
// interning it when new. Without `caseless_only`, an exact spelling is found
// first, and a case variant of a known name becomes a new symbol whose
// alias is the known name's canonical symbol. With it, any case variant
// answers.
uint32_t intern_name(NodeId index, std::string_view name, bool caseless_only);

// Symbol store of a context: position in the words series of the word
// entry for `symbol` (caseless: any case variant), or -1.
int32_t find_word(NodeId store, uint32_t symbol, bool caseless);

// Node-keyed tables. Entries are given as byte offsets in the data block;
// the entry's own cells start 16 bytes after it.
uint32_t put_node(NodeId table, NodeId key);
int32_t get_node(NodeId table, NodeId key);
int32_t remove_node(NodeId table, NodeId key);
// The cells of an entry; valid until the next allocation.
Cell* entry_cells(NodeId table, uint32_t entry);

}  // namespace kiv::hashtable
