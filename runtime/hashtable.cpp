#include "runtime/hashtable.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/core/collector.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/series.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/eval/compare.h"
#include "runtime/unicode.h"

namespace kiv::hashtable {
namespace {

constexpr double load_factor = 0.77;
constexpr uint32_t min_keys = 4;
constexpr uint32_t shift_limit = 30000;
constexpr uint32_t symbol_store_doubling = 4000;

// ---- murmur3 pieces ----

uint32_t rotl32(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

uint32_t mix_block(uint32_t h, uint32_t k) {
  k *= 0xcc9e2d51;
  k = rotl32(k, 15);
  k *= 0x1b873593;
  h ^= k;
  h = rotl32(h, 13);
  return h * 5 + 0xe6546b64;
}

// ---- record and vectors ----

int32_t* words(NodeId node) { return reinterpret_cast<int32_t*>(memory::buffer(node)->data()); }
Cell* cells(NodeId node) { return reinterpret_cast<Cell*>(memory::buffer(node)->head_ptr()); }
uint32_t cell_count(NodeId node) { return memory::buffer(node)->length(); }

NodeId new_words(uint32_t count, uint8_t fill) {
  const NodeId node = memory::new_filled_bytes(count * 4, fill);
  memory::buffer(node)->tail = count * 4;
  return node;
}

uint32_t word_count(NodeId node) { return memory::buffer(node)->used_bytes() / 4; }

void append_word(NodeId node, int32_t value) {
  const uint32_t offset = series::reserve_tail(node, 4);
  std::memcpy(memory::buffer(node)->data() + offset, &value, 4);
}

// Bucket flags: two bits each, deleted (low) and empty (high).
enum class BucketState { used, deleted, empty };

BucketState state_of(const int32_t* flags, uint32_t bucket) {
  const auto word = static_cast<uint32_t>(flags[bucket / 16]);
  const uint32_t bits = (word >> (2 * (bucket % 16))) & 3;
  if (bits & 2) return BucketState::empty;
  if (bits & 1) return BucketState::deleted;
  return BucketState::used;
}

void set_state(int32_t* flags, uint32_t bucket, BucketState state) {
  auto word = static_cast<uint32_t>(flags[bucket / 16]);
  const uint32_t shift = 2 * (bucket % 16);
  word &= ~(3u << shift);
  if (state == BucketState::empty) word |= 2u << shift;
  if (state == BucketState::deleted) word |= 1u << shift;
  flags[bucket / 16] = static_cast<int32_t>(word);
}

NodeId new_flags(uint32_t buckets) { return new_words(std::max<uint32_t>(buckets / 16, 1), 0xAA); }

// The probe sequence of one hash: start, +1, +3, +6, ... Bounded at one
// visit per bucket: the triangular steps cover every bucket once.
struct Probe {
  uint32_t mask;
  uint32_t bucket;
  uint32_t step = 1;
  uint32_t left;

  Probe(uint32_t hash, uint32_t buckets) : mask(buckets - 1), bucket(hash & (buckets - 1)), left(buckets) {}
  bool more() const { return left > 0; }
  void advance() {
    bucket = (bucket + step++) & mask;
    --left;
  }
};

Kind kind_of(const Record& rec) { return static_cast<Kind>(rec.kind); }
bool node_keyed(Kind kind) { return kind >= Kind::node_keyed; }

// Keys are compared only when their type bytes agree.
bool keys_match(const Cell& stored, const Cell& key, CmpOp op) {
  const TypeId type = cell::type_of(stored);
  if (type != cell::type_of(key)) return false;
  // The commonest keys are equal exactly when their values are: no dispatch.
  if ((type == TypeId::integer || type == TypeId::char_) && is_equality(op))
    return compare::holds(stored.w2 == key.w2 ? 0 : 1, op);
  const int answer = compare::dispatch(stored, key, op);
  return answer != -2 && compare::holds(answer, op);
}

void sizing(Record& rec, uint32_t size) {
  const uint32_t buckets = std::max(next_power_of_2(static_cast<uint32_t>(size / load_factor)), min_keys);
  rec.buckets = static_cast<int32_t>(buckets);
  rec.upper = static_cast<int32_t>(buckets * load_factor);
}

// ---- hash! duplicate lists and positions ----

NodeId dup_list(const Record& rec, int32_t key_word) {
  return static_cast<NodeId>(words(rec.dup_lists)[-key_word - 1]);
}

int32_t first_position(const Record& rec, int32_t key_word) {
  return key_word >= 0 ? key_word : words(dup_list(rec, key_word))[0];
}

void set_position(NodeId table, uint32_t position, int32_t bucket_plus_one) {
  NodeId posvec = record(table).aux;
  while (word_count(posvec) <= position) append_word(posvec, -1);
  words(posvec)[position] = bucket_plus_one;
}

int32_t position_bucket(const Record& rec, uint32_t position) {
  if (position >= word_count(rec.aux)) return -1;
  return words(rec.aux)[position] - 1;
}

// Joins `position` to the list of equal keys in `bucket`, making the list
// on the first duplicate.
void join_duplicates(NodeId table, uint32_t bucket, uint32_t position) {
  int32_t key_word = words(record(table).keys)[bucket];
  if (key_word >= 0) {
    Rooted<NodeId> list(memory::new_series(4, 4));
    append_word(list.get(), key_word);
    append_word(record(table).dup_lists, static_cast<int32_t>(list.get()));
    key_word = -static_cast<int32_t>(word_count(record(table).dup_lists));
    words(record(table).keys)[bucket] = key_word;
  }
  append_word(dup_list(record(table), key_word), static_cast<int32_t>(position));
}

// Takes `position` out of its duplicate list; answers whether positions
// remain in it.
bool leave_duplicates(const Record& rec, int32_t key_word, uint32_t position) {
  const NodeId list = dup_list(rec, key_word);
  SeriesBuf* buf = memory::buffer(list);
  int32_t* entries = words(list);
  const uint32_t count = word_count(list);
  for (uint32_t i = 0; i < count; ++i) {
    if (entries[i] != static_cast<int32_t>(position)) continue;
    std::memmove(entries + i, entries + i + 1, (count - i - 1) * 4);
    buf->tail -= 4;
    break;
  }
  return word_count(list) > 0;
}

// ---- indexing ----

// Hash of the key held by an occupied bucket, for re-indexing.
uint32_t bucket_hash(const Record& rec, int32_t key_word) {
  if (node_keyed(kind_of(rec))) {
    const auto* entry = reinterpret_cast<const Cell*>(memory::buffer(rec.data)->data() + key_word);
    return fmix32(entry->w1);
  }
  return hash_value(cells(rec.data)[first_position(rec, key_word)], false);
}

// First empty bucket of a hash in fresh vectors.
uint32_t free_bucket(const int32_t* flags, uint32_t hash, uint32_t buckets) {
  Probe probe(hash, buckets);
  while (state_of(flags, probe.bucket) != BucketState::empty) probe.advance();
  return probe.bucket;
}

// Re-indexes every used bucket into fresh vectors of `buckets` buckets.
void reindex(NodeId table, uint32_t buckets) {
  Rooted<NodeId> flags(new_flags(buckets));
  const NodeId keys = new_words(buckets, 0);
  Record& rec = record(table);
  const int32_t* old_flags = words(rec.flags);
  const int32_t* old_keys = words(rec.keys);
  int32_t* fresh_flags = words(flags.get());
  int32_t* fresh_keys = words(keys);
  int32_t used = 0;
  for (uint32_t bucket = 0; bucket < static_cast<uint32_t>(rec.buckets); ++bucket) {
    if (state_of(old_flags, bucket) != BucketState::used) continue;
    const uint32_t target = free_bucket(fresh_flags, bucket_hash(rec, old_keys[bucket]), buckets);
    fresh_keys[target] = old_keys[bucket];
    set_state(fresh_flags, target, BucketState::used);
    ++used;
  }
  Record& after = record(table);
  after.flags = flags.get();
  after.keys = keys;
  after.buckets = static_cast<int32_t>(buckets);
  after.occupied = used;
}

void resize_in_place(NodeId table, uint32_t count) {
  const uint32_t buckets = std::max(next_power_of_2(count), min_keys);
  const auto upper = static_cast<int32_t>(buckets * load_factor + 0.5);
  if (record(table).size >= upper) return;
  reindex(table, buckets);
  record(table).upper = upper;
}

// Grows a table that reached its upper bound. Answers true when a hash!
// was rebuilt (its keys are then all indexed).
bool grow_if_full(NodeId table) {
  const Record& rec = record(table);
  if (rec.occupied < rec.upper) return false;
  const auto buckets = static_cast<uint32_t>(rec.buckets);
  const bool larger = 2 * static_cast<uint32_t>(rec.size) >= buckets;
  switch (kind_of(rec)) {
    case Kind::hash:
      rehash(table, larger ? buckets + 1 : buckets - 1);
      return true;
    case Kind::map:
      resize_in_place(table, buckets + 1);
      return false;
    default:
      if (node_keyed(kind_of(rec))) rehash(table, larger ? buckets + 1 : buckets - 1);  // drops deleted entries
      else resize_in_place(table, larger ? buckets + 1 : buckets - 1);
      return false;
  }
}

void store_in_bucket(NodeId table, uint32_t bucket, int32_t key_word) {
  Record& rec = record(table);
  int32_t* flags = words(rec.flags);
  if (state_of(flags, bucket) == BucketState::empty) ++rec.occupied;
  set_state(flags, bucket, BucketState::used);
  words(rec.keys)[bucket] = key_word;
  ++rec.size;
}

// Removes a pair from a map's data block: later cells move down two.
void drop_pair(NodeId data, uint32_t position) {
  SeriesBuf* buf = memory::buffer(data);
  uint8_t* at = buf->head_ptr() + position * sizeof(Cell);
  std::memmove(at, at + 2 * sizeof(Cell), buf->tail_ptr() - (at + 2 * sizeof(Cell)));
  buf->tail -= 2 * sizeof(Cell);
}

// A map key as stored: words become set-words; other keys keep their type
// when they make sense as keys (type_traits::is_map_key).
void normalize_map_key(Cell& key) {
  const TypeId type = cell::type_of(key);
  if (type_traits::is_any_word(type)) cell::set_type(key, TypeId::set_word);
  else if (!type_traits::is_map_key(type)) error::raise(error_id::script::invalid_path, datatype::make(type), key);
}

// hash!: among the keys of `bucket` (its one position, or its list of
// equal keys), the position that `lookup` asks for, or -1.
int64_t best_in_bucket(const Record& rec, uint32_t bucket, const Cell& key, const Lookup& lookup) {
  const Cell* data = cells(rec.data);
  const int32_t* positions = &words(rec.keys)[bucket];
  uint32_t candidates = 1;
  if (*positions < 0) {
    const NodeId list = dup_list(rec, *positions);
    positions = words(list);
    candidates = word_count(list);
  }
  const auto start = static_cast<int64_t>(lookup.start);
  const auto end = static_cast<int64_t>(lookup.end);
  const auto skip = static_cast<int64_t>(std::max<uint32_t>(lookup.skip, 1));
  int64_t best = -1;
  for (uint32_t i = 0; i < candidates; ++i) {
    const int64_t pos = positions[i];
    if (!keys_match(data[pos], key, lookup.op)) continue;
    if (lookup.reverse) {
      if (pos < start && (start - pos - 1) % skip == 0 && pos > best) best = pos;
    } else if (pos >= start && pos < end && (pos - start) % skip == 0) {
      if (lookup.last ? pos > best : (best < 0 || pos < best)) best = pos;
    }
  }
  return best;
}

}  // namespace

// ---- hashing ----

uint32_t fmix32(uint32_t h) {
  h ^= h >> 16;
  h *= 0x85ebca6b;
  h ^= h >> 13;
  h *= 0xc2b2ae35;
  h ^= h >> 16;
  return h;
}

uint32_t murmur3(const void* data, size_t length, uint32_t seed) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  uint32_t h = seed;
  const size_t blocks = length / 4;
  for (size_t i = 0; i < blocks; ++i) {
    uint32_t k;
    std::memcpy(&k, bytes + 4 * i, 4);
    h = mix_block(h, k);
  }
  const uint8_t* tail = bytes + 4 * blocks;
  uint32_t k = 0;
  switch (length & 3) {
    case 3: k ^= static_cast<uint32_t>(tail[2]) << 16; [[fallthrough]];
    case 2: k ^= static_cast<uint32_t>(tail[1]) << 8; [[fallthrough]];
    case 1:
      k ^= tail[0];
      k *= 0xcc9e2d51;
      k = rotl32(k, 15);
      k *= 0x1b873593;
      h ^= k;
  }
  h ^= static_cast<uint32_t>(length);
  return fmix32(h);
}

uint32_t next_power_of_2(uint32_t n) {
  n -= 1;
  n |= n >> 1;
  n |= n >> 2;
  n |= n >> 4;
  n |= n >> 8;
  n |= n >> 16;
  return n + 1;
}

uint32_t hash_name(std::string_view utf8) {
  std::string folded(utf8);
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c | 0x20);
  return murmur3(folded.data(), folded.size());
}

uint32_t hash_string(const Cell& value, bool case_sensitive) {
  // Murmur3 over the code points, each one 4-byte block, mixed in place.
  // Folding goes the way string equality folds (to lower case), so that
  // strings equal without /case hash alike.
  const SeriesBuf* buf = memory::buffer(series::node_of(value));
  const uint32_t unit = buf->unit();
  const uint32_t length = buf->length();
  uint32_t h = hash_seed;
  uint32_t count = 0;
  for (uint32_t i = value.w1; i < length; ++i, ++count) {
    uint32_t code_point = 0;
    std::memcpy(&code_point, buf->head_ptr() + size_t{i} * unit, unit);
    h = mix_block(h, case_sensitive ? code_point : unicode::to_lower(code_point));
  }
  return fmix32(h ^ (count * 4));
}

uint32_t hash_value(const Cell& value, bool case_sensitive) {
  const auto payload = [&](int first, int count) {
    const uint32_t all[3] = {value.w1, value.w2, value.w3};
    return murmur3(all + (first - 1), static_cast<size_t>(count) * 4);
  };
  const TypeId type = cell::type_of(value);
  if (type_traits::is_all_word(type)) return fmix32(symbol::resolve(value.w2));
  if (type_traits::is_any_string(type)) return hash_string(value, case_sensitive);
  switch (type) {
    case TypeId::unset: return 0xFFFFFFFE;
    case TypeId::none: return 0xFFFFFFFF;
    case TypeId::datatype:
    case TypeId::logic:
    case TypeId::object:
    case TypeId::error:
    case TypeId::port: return fmix32(value.w1);
    case TypeId::char_:
    case TypeId::integer:
    case TypeId::map:
    case TypeId::handle:
    case TypeId::event: return fmix32(value.w2);
    case TypeId::native:
    case TypeId::action: return fmix32(value.w3);
    case TypeId::symbol: return hash_name(symbol::spelling_of_cell(value));
    case TypeId::float_:
    case TypeId::percent:
    case TypeId::time: {
      // Equal numbers hash alike: -0.0 is 0.0 and every NaN is one NaN.
      double number = cell::get_double(value);
      if (number == 0.0) number = 0.0;
      if (number != number) number = __builtin_nan("");
      Cell normal = value;
      cell::set_double(normal, number);
      const uint32_t words2[2] = {normal.w2, normal.w3};
      return murmur3(words2, 8);
    }
    case TypeId::pair: return payload(2, 2);
    case TypeId::point2d: return payload(1, 2);
    case TypeId::point3d:
    case TypeId::op:
    case TypeId::function:
    case TypeId::triple:
    case TypeId::typeset: return payload(1, 3);
    case TypeId::date: {
      // Dates that compare equal hash alike: the has-time bit and the zone
      // stay out (1-Jan-2000 is 1-Jan-2000/0:00), -0.0 is 0.0.
      double time = cell::get_double(value);
      if (time == 0.0) time = 0.0;
      Cell normal = value;
      cell::set_double(normal, time);
      const uint32_t words[3] = {(value.w1 >> 7) & ~0x200u, normal.w2, normal.w3};
      return murmur3(words, 12);
    }
    case TypeId::money: {
      // The whole cell with the bare type in its header (the sign aside).
      Cell normal = value;
      normal.header = static_cast<uint32_t>(TypeId::money);
      return murmur3(&normal, sizeof normal);
    }
    case TypeId::block:
    case TypeId::paren:
    case TypeId::path:
    case TypeId::lit_path:
    case TypeId::set_path:
    case TypeId::get_path:
    case TypeId::hash:
    case TypeId::image: return payload(1, 2);
    case TypeId::tuple: {
      const uint32_t length = (value.header >> 19) & 0xF;
      const uint32_t all[3] = {value.w1, value.w2, value.w3};
      return murmur3(all, std::min<uint32_t>(length, 12));
    }
    case TypeId::binary: {
      const SeriesBuf* buf = memory::buffer(series::node_of(value));
      const uint32_t start = std::min(value.w1, buf->used_bytes());
      return murmur3(buf->head_ptr() + start, buf->used_bytes() - start);
    }
    default: return 0;
  }
}

// ---- tables ----

Record& record(NodeId table) { return *reinterpret_cast<Record*>(memory::buffer(table)->data()); }

void init() { collector::set_table_tracer(&trace); }

void trace(NodeId table) {
  const SeriesBuf* buf = memory::buffer(table);
  if (collector::verifying() && buf->used_bytes() < sizeof(Record))
    collector::fail_check("hash table %#x holds %u bytes, less than its record", table, buf->used_bytes());
  const Record rec = record(table);
  collector::mark_node(rec.flags);
  collector::mark_node(rec.keys);
  switch (static_cast<Kind>(rec.kind)) {
    case Kind::hash: {
      collector::mark_node(rec.aux);  // the position vector
      collector::mark_node(rec.dup_lists);
      if (rec.dup_lists != no_node && memory::is_live_node(rec.dup_lists)) {
        const SeriesBuf* lists = memory::buffer(rec.dup_lists);
        const auto* entries = reinterpret_cast<const int32_t*>(lists->head_ptr());
        for (uint32_t i = 0; i < lists->used_bytes() / 4; ++i) collector::mark_node(static_cast<NodeId>(entries[i]));
      }
      collector::mark_node(rec.data);
      return;
    }
    case Kind::map:
    case Kind::symbols:
      collector::mark_node(rec.data);
      return;
    case Kind::node_keyed: {
      // Each entry: a key cell (unset!, w1 the key node; header 0 once
      // removed), then the entry's own cells.
      collector::mark_only(rec.data);
      if (rec.data == no_node || !memory::is_live_node(rec.data) || rec.aux < sizeof(Cell)) return;  // being made
      const SeriesBuf* data = memory::buffer(rec.data);
      for (uint32_t at = data->head; at + rec.aux <= data->tail; at += rec.aux) {
        const auto* entry = reinterpret_cast<const Cell*>(data->data() + at);
        if (entry->header == 0) continue;
        collector::report_at(table, at / sizeof(Cell));
        collector::mark_node(entry->w1);
        for (uint32_t k = 1; k < rec.aux / sizeof(Cell); ++k) collector::mark_cell(entry[k]);
      }
      return;
    }
    case Kind::ownership:
      // Ownership keeps nothing alive: its entries die with their series
      // and owners. Only the table's own storage is kept here.
      collector::mark_only(rec.data);
      return;
  }
  if (collector::verifying()) collector::fail_check("hash table %#x of unknown kind %d", table, rec.kind);
}

NodeId make(uint32_t size, NodeId block, uint32_t block_index, Kind kind, uint32_t extra, NodeId source) {
  const NodeId table = memory::new_filled_bytes(sizeof(Record), 0);
  memory::buffer(table)->tail = sizeof(Record);
  memory::buffer(table)->gc_flags |= gc_flag::hash_table;  // the collector follows the record
  Rooted<NodeId> keep(table);
  record(table).kind = static_cast<int32_t>(kind);

  if (kind == Kind::symbols && extra == 2 && source != no_node) {
    // Each copy goes into the record at once, where the table keeps it
    // alive while the next one is made.
    const NodeId flags = memory::copy_series(record(source).flags);
    record(table).flags = flags;
    const NodeId keys = memory::copy_series(record(source).keys);
    record(table).keys = keys;
    const NodeId data = memory::copy_series(record(source).data);
    Record copied = record(source);
    copied.flags = flags;
    copied.keys = keys;
    copied.data = data;
    record(table) = copied;
    return table;
  }
  if (kind == Kind::symbols && size >= symbol_store_doubling) size *= 2;
  if (node_keyed(kind)) record(table).aux = (extra + 1) * sizeof(Cell);
  size = std::max(size, min_keys);
  sizing(record(table), size);

  const auto buckets = static_cast<uint32_t>(record(table).buckets);
  const NodeId flags = new_flags(buckets);
  record(table).flags = flags;
  const NodeId keys = new_words(buckets, 0);
  record(table).keys = keys;
  if (kind == Kind::hash) {
    const NodeId positions = new_words(size, 0xFF);
    record(table).aux = positions;
    const NodeId lists = memory::new_series(4, 4);
    record(table).dup_lists = lists;
  }
  if (node_keyed(kind) || block == no_node) {
    const uint32_t cells_needed = node_keyed(kind) ? size * (extra + 1) : size;
    const NodeId data = memory::new_cell_series(cells_needed);
    record(table).data = data;
  } else {
    record(table).data = block;
    put_all(table, block_index, kind == Kind::map ? 2 : 1);
  }
  return table;
}

int put_key(NodeId table, uint32_t position) {
  if (grow_if_full(table)) return 2;
  const Kind kind = kind_of(record(table));
  const Cell key = cells(record(table).data)[position];
  Probe probe(hash_value(key, false), static_cast<uint32_t>(record(table).buckets));
  int64_t first_deleted = -1;
  int64_t target = -1;
  for (; probe.more(); probe.advance()) {
    const Record& rec = record(table);
    const BucketState state = state_of(words(rec.flags), probe.bucket);
    if (state == BucketState::empty) {
      target = first_deleted >= 0 ? first_deleted : probe.bucket;
      break;
    }
    if (state == BucketState::deleted) {
      if (first_deleted < 0) first_deleted = probe.bucket;
      continue;
    }
    const int32_t key_word = words(rec.keys)[probe.bucket];
    const Cell& stored = cells(rec.data)[first_position(rec, key_word)];
    if (kind == Kind::hash) {
      if (!keys_match(stored, key, CmpOp::equal)) continue;
      join_duplicates(table, probe.bucket, position);
      set_position(table, position, static_cast<int32_t>(probe.bucket) + 1);
      return 0;
    }
    if (keys_match(stored, key, CmpOp::strict_equal)) return 0;  // already there
  }
  if (target < 0) target = first_deleted;
  if (target < 0) {  // no room at all: grow and try again
    resize_in_place(table, static_cast<uint32_t>(record(table).buckets) + 1);
    return put_key(table, position);
  }
  store_in_bucket(table, static_cast<uint32_t>(target), static_cast<int32_t>(position));
  if (kind == Kind::hash) set_position(table, position, static_cast<int32_t>(target) + 1);
  return 0;
}

void put_all(NodeId table, uint32_t index, uint32_t step) {
  const Kind kind = kind_of(record(table));
  uint32_t position = index;
  while (position < cell_count(record(table).data)) {
    if (kind == Kind::map) {
      if (position + 1 >= cell_count(record(table).data)) break;  // a key without a value
      Cell key = cells(record(table).data)[position];
      normalize_map_key(key);
      const int32_t existing = get(table, key, {.op = CmpOp::strict_equal});
      if (existing >= 0 && static_cast<uint32_t>(existing) != position) {
        Cell* data = cells(record(table).data);
        data[existing + 1] = data[position + 1];
        drop_pair(record(table).data, position);
        continue;
      }
      cells(record(table).data)[position] = key;
      put_key(table, position);
    } else if (put_key(table, position) == 2) {
      return;
    }
    position += step;
  }
}

int32_t get(NodeId table, const Cell& key, const Lookup& lookup) {
  const Record& rec = record(table);
  const Kind kind = kind_of(rec);
  Cell probe_key = key;
  if (kind == Kind::map && type_traits::is_any_word(cell::type_of(key))) cell::set_type(probe_key, TypeId::set_word);
  const Cell* data = cells(rec.data);
  const int32_t* flags = words(rec.flags);
  const int32_t* keys = words(rec.keys);
  for (Probe probe(hash_value(probe_key, false), static_cast<uint32_t>(rec.buckets)); probe.more(); probe.advance()) {
    const BucketState state = state_of(flags, probe.bucket);
    if (state == BucketState::empty) return -1;
    if (state == BucketState::deleted) continue;
    const int32_t key_word = keys[probe.bucket];
    if (kind != Kind::hash) {
      if (keys_match(data[key_word], probe_key, lookup.op)) return key_word;
      continue;
    }
    // hash!: the bucket of keys equal to `key`, then the position rules.
    if (!keys_match(data[first_position(rec, key_word)], probe_key, CmpOp::equal)) continue;
    const int64_t best = best_in_bucket(rec, probe.bucket, probe_key, lookup);
    if (best >= 0) return static_cast<int32_t>(best);
  }
  return -1;
}

void prefetch(NodeId table, const Cell& key, Prefetch what) {
  const Record& rec = record(table);
  const uint32_t bucket = hash_value(key, false) & static_cast<uint32_t>(rec.buckets - 1);
  if (what == Prefetch::buckets) {
    __builtin_prefetch(words(rec.flags) + bucket / 16);
    __builtin_prefetch(words(rec.keys) + bucket);
    return;
  }
  // The key of the first bucket probed (an empty bucket's word means
  // nothing, so it is checked against the block first).
  const int32_t key_word = words(rec.keys)[bucket];
  if (kind_of(rec) == Kind::hash && key_word >= 0 && static_cast<uint32_t>(key_word) < cell_count(rec.data))
    __builtin_prefetch(cells(rec.data) + key_word);
}

int32_t put_if_absent(NodeId table, uint32_t position, const Lookup& lookup) {
  const Record& rec = record(table);
  const Cell key = cells(rec.data)[position];
  const auto buckets = static_cast<uint32_t>(rec.buckets);
  int64_t first_deleted = -1;
  int64_t target = -1;
  for (Probe probe(hash_value(key, false), buckets); probe.more(); probe.advance()) {
    const BucketState state = state_of(words(rec.flags), probe.bucket);
    if (state == BucketState::empty) {
      target = first_deleted >= 0 ? first_deleted : probe.bucket;
      break;
    }
    if (state == BucketState::deleted) {
      if (first_deleted < 0) first_deleted = probe.bucket;
      continue;
    }
    const int32_t key_word = words(rec.keys)[probe.bucket];
    if (!keys_match(cells(rec.data)[first_position(rec, key_word)], key, CmpOp::equal)) continue;
    // The bucket of keys equal to this one: a match under the lookup's
    // comparison is the answer; else the key joins the bucket's list.
    if (const int64_t found = best_in_bucket(rec, probe.bucket, key, lookup); found >= 0)
      return static_cast<int32_t>(found);
    break;
  }
  // The common case, a new key with room in the table, is stored from
  // this one probe; the others (a full table, a list to join) take
  // put_key's way.
  if (target < 0 || rec.occupied >= rec.upper || state_of(words(rec.flags), static_cast<uint32_t>(target)) != BucketState::empty) {
    (void)put_key(table, position);
    return -1;
  }
  store_in_bucket(table, static_cast<uint32_t>(target), static_cast<int32_t>(position));
  set_position(table, position, static_cast<int32_t>(target) + 1);
  return -1;
}

bool any_match(NodeId table, const Cell& key, CmpOp op, bool (*visit)(void* context, int32_t position), void* context) {
  const Record& rec = record(table);
  Cell probe_key = key;
  if (kind_of(rec) == Kind::map && type_traits::is_any_word(cell::type_of(key))) cell::set_type(probe_key, TypeId::set_word);
  for (Probe probe(hash_value(probe_key, false), static_cast<uint32_t>(rec.buckets)); probe.more(); probe.advance()) {
    const BucketState state = state_of(words(rec.flags), probe.bucket);
    if (state == BucketState::empty) return false;
    if (state == BucketState::deleted) continue;
    const int32_t position = words(rec.keys)[probe.bucket];
    if (keys_match(cells(rec.data)[position], probe_key, op) && visit(context, position)) return true;
  }
  return false;
}

void remove_key(NodeId table, uint32_t position) {
  Record& rec = record(table);
  if (kind_of(rec) != Kind::hash) {
    Cell& value = cells(rec.data)[position + 1];
    if (is_removed(value)) return;
    value = removed_value;  // the pair is gone; the key stays indexed
    --rec.size;
    return;
  }
  const int32_t bucket = position_bucket(rec, position);
  if (bucket < 0) return;
  const int32_t key_word = words(rec.keys)[bucket];
  words(rec.aux)[position] = -1;
  if (key_word < 0 && leave_duplicates(rec, key_word, position)) {
    // The bucket names the list; nothing else changes while it has keys.
    return;
  }
  set_state(words(rec.flags), static_cast<uint32_t>(bucket), BucketState::deleted);
  --rec.size;
}

void clear(NodeId table) {
  Record& rec = record(table);
  rec.size = rec.occupied = 0;
  SeriesBuf* data = memory::buffer(rec.data);
  data->tail = data->head;
  std::memset(memory::buffer(rec.flags)->data(), 0xAA, memory::buffer(rec.flags)->used_bytes());
  if (kind_of(rec) == Kind::hash) {
    std::memset(memory::buffer(rec.aux)->data(), 0xFF, memory::buffer(rec.aux)->used_bytes());
    memory::buffer(rec.dup_lists)->tail = memory::buffer(rec.dup_lists)->head;
  }
}

NodeId copy(NodeId table, NodeId data) {
  const NodeId fresh = memory::copy_series(table);
  Rooted<NodeId> keep(fresh);
  const NodeId flags = memory::copy_series(record(table).flags);
  record(fresh).flags = flags;
  const NodeId keys = memory::copy_series(record(table).keys);
  record(fresh).keys = keys;
  record(fresh).data = data;
  if (kind_of(record(table)) == Kind::hash) {
    const NodeId positions = memory::copy_series(record(table).aux);
    record(fresh).aux = positions;
    const NodeId lists = memory::copy_series(record(table).dup_lists);
    record(fresh).dup_lists = lists;
    for (uint32_t i = 0; i < word_count(lists); ++i) {
      const NodeId list = memory::copy_series(static_cast<NodeId>(words(lists)[i]));
      words(lists)[i] = static_cast<int32_t>(list);
    }
  }
  return fresh;
}

void rehash(NodeId table, uint32_t size) {
  const Kind kind = kind_of(record(table));
  if (kind == Kind::hash) {
    const uint32_t wanted = next_power_of_2(static_cast<uint32_t>(1.5 * size));
    const uint32_t buckets = std::max(wanted, min_keys);
    const uint32_t cell_total = cell_count(record(table).data);
    // Each new vector goes into the record at once, where the table keeps it.
    const NodeId flags = new_flags(buckets);
    record(table).flags = flags;
    const NodeId keys = new_words(buckets, 0);
    record(table).keys = keys;
    const NodeId positions = new_words(cell_total, 0xFF);
    record(table).aux = positions;
    const NodeId lists = memory::new_series(4, 4);
    Record& rec = record(table);
    rec.dup_lists = lists;
    rec.buckets = static_cast<int32_t>(buckets);
    rec.upper = static_cast<int32_t>(buckets * load_factor);
    rec.size = rec.occupied = 0;
    // A block with more keys than the new size holds makes the table grow
    // again while it is filled: that rebuild indexes every cell itself.
    for (uint32_t position = 0; position < cell_total; ++position)
      if (put_key(table, position) == 2) return;
    return;
  }
  if (node_keyed(kind)) {
    // A fresh data block holding the live entries only. The new series are
    // made first, rooted, while the record still names the old ones, so a
    // collection meanwhile sees the table whole; then they replace the old
    // ones at once and the live entries are copied over without allocating.
    // (The old data block must not be left to a root of its own: traced as
    // plain cells it would not keep the keys of the entries not yet copied,
    // and its removed entries, of header 0, are no values.)
    const uint32_t entry_bytes = record(table).aux;
    const uint32_t buckets = std::max(next_power_of_2(size), min_keys);
    const uint32_t entries = memory::buffer(record(table).data)->used_bytes() / entry_bytes;
    Rooted<NodeId> flags(new_flags(buckets));
    Rooted<NodeId> keys(new_words(buckets, 0));
    Rooted<NodeId> data(memory::new_cell_series(std::max<uint32_t>(entries, 1) * (entry_bytes / sizeof(Cell))));
    NoGcScope no_gc;
    const NodeId old_data = record(table).data;
    Record& rec = record(table);
    rec.flags = flags.get();
    rec.keys = keys.get();
    rec.data = data.get();
    rec.buckets = static_cast<int32_t>(buckets);
    rec.upper = static_cast<int32_t>(buckets * load_factor + 0.5);
    rec.size = rec.occupied = 0;
    for (uint32_t i = 0; i < entries; ++i) {
      const auto* entry = reinterpret_cast<const Cell*>(memory::buffer(old_data)->data() + i * entry_bytes);
      if (entry->header != cell::header(TypeId::unset) || entry->w1 == no_node) continue;
      SeriesBuf* buf = memory::buffer(rec.data);
      const uint32_t offset = buf->tail;
      buf->tail += entry_bytes;
      std::memcpy(buf->data() + offset, entry, entry_bytes);
      Probe probe(fmix32(entry->w1), buckets);
      while (state_of(words(rec.flags), probe.bucket) == BucketState::used) probe.advance();
      store_in_bucket(table, probe.bucket, static_cast<int32_t>(offset));
    }
    return;
  }
  resize_in_place(table, size);
}

void reindex_pairs(NodeId table) {
  Record& rec = record(table);
  std::memset(memory::buffer(rec.flags)->data(), 0xAA, memory::buffer(rec.flags)->used_bytes());
  rec.size = rec.occupied = 0;
  for (uint32_t position = 0; position + 1 < cell_count(record(table).data); position += 2) {
    const bool removed = is_removed(cells(record(table).data)[position + 1]);
    put_key(table, position);
    if (removed) --record(table).size;  // indexed, but not live
  }
}

void remove_range(NodeId table, uint32_t index, uint32_t count) {
  const uint32_t total = cell_count(record(table).data);
  if (index >= total) return;
  count = std::min(count, total - index);
  if (index == 0 && count == total) {
    Record& rec = record(table);
    std::memset(memory::buffer(rec.flags)->data(), 0xAA, memory::buffer(rec.flags)->used_bytes());
    std::memset(memory::buffer(rec.aux)->data(), 0xFF, memory::buffer(rec.aux)->used_bytes());
    memory::buffer(rec.dup_lists)->tail = memory::buffer(rec.dup_lists)->head;
    rec.size = rec.occupied = 0;
    return;
  }
  for (uint32_t position = index; position < index + count; ++position) remove_key(table, position);
}

int shift_keys(NodeId table, uint32_t count, uint32_t index, int32_t offset, bool move_positions) {
  if (count > shift_limit) return 1;
  Record& rec = record(table);
  int32_t* keys = words(rec.keys);
  std::vector<NodeId> visited_lists;
  for (uint32_t position = index; position < index + count; ++position) {
    const int32_t bucket = position_bucket(rec, position);
    if (bucket < 0) continue;
    if (keys[bucket] >= 0) {
      keys[bucket] += offset;
      continue;
    }
    const NodeId list = dup_list(rec, keys[bucket]);
    if (std::find(visited_lists.begin(), visited_lists.end(), list) != visited_lists.end()) continue;
    visited_lists.push_back(list);
    int32_t* entries = words(list);
    for (uint32_t i = 0; i < word_count(list); ++i)
      if (entries[i] >= static_cast<int32_t>(index) && entries[i] < static_cast<int32_t>(index + count)) entries[i] += offset;
  }
  if (!move_positions || offset == 0) return 0;
  // The position vector follows its cells.
  const int64_t last = static_cast<int64_t>(index) + count + offset;
  while (static_cast<int64_t>(word_count(record(table).aux)) < last) append_word(record(table).aux, -1);
  int32_t* positions = words(record(table).aux);
  std::vector<int32_t> moved(positions + index, positions + index + count);
  for (uint32_t i = 0; i < count; ++i) positions[index + i] = -1;
  for (uint32_t i = 0; i < count; ++i) positions[static_cast<int64_t>(index) + i + offset] = moved[i];
  return 0;
}

void move_keys(NodeId table, uint32_t from, uint32_t count, uint32_t to) {
  if (from == to || count == 0) return;
  const auto distance = static_cast<int32_t>(to) - static_cast<int32_t>(from);
  // The cells passed over move the other way by `count`.
  const uint32_t between_start = from < to ? from + count : to;
  const uint32_t between_count = from < to ? to - from : from - to;
  const int32_t between_offset = from < to ? -static_cast<int32_t>(count) : static_cast<int32_t>(count);
  // Save the moved block's position entries, shift the others, put them back.
  std::vector<int32_t> moved(count, -1);
  for (uint32_t i = 0; i < count && from + i < word_count(record(table).aux); ++i) moved[i] = words(record(table).aux)[from + i];
  shift_keys(table, count, from, distance, false);
  shift_keys(table, between_count, between_start, between_offset, true);
  while (word_count(record(table).aux) < to + count) append_word(record(table).aux, -1);
  for (uint32_t i = 0; i < count; ++i) words(record(table).aux)[to + i] = moved[i];
}

std::string check_positions(NodeId table) {
  const Record& rec = record(table);
  const uint32_t total = cell_count(rec.data);
  const Cell* data = cells(rec.data);
  std::vector<uint32_t> seen(total, 0);
  int32_t used = 0;
  for (uint32_t bucket = 0; bucket < static_cast<uint32_t>(rec.buckets); ++bucket) {
    if (state_of(words(rec.flags), bucket) != BucketState::used) continue;
    ++used;
    const int32_t key_word = words(rec.keys)[bucket];
    std::vector<int32_t> positions;
    if (key_word >= 0) positions.push_back(key_word);
    else positions.assign(words(dup_list(rec, key_word)), words(dup_list(rec, key_word)) + word_count(dup_list(rec, key_word)));
    if (positions.empty()) return "bucket " + std::to_string(bucket) + " has no positions";
    for (const int32_t p : positions) {
      const std::string at = "position " + std::to_string(p);
      if (p < 0 || static_cast<uint32_t>(p) >= total) return at + " is outside the block";
      if (++seen[p] > 1) return at + " is indexed twice";
      if (position_bucket(rec, static_cast<uint32_t>(p)) != static_cast<int32_t>(bucket)) return at + ": the position vector names another bucket";
      if (!keys_match(data[positions[0]], data[p], CmpOp::equal)) return at + " holds a value unequal to its bucket's";
      if (get(table, data[p], {.start = static_cast<uint32_t>(p)}) != p) return at + " is not found from itself";
    }
  }
  for (uint32_t p = 0; p < total; ++p)
    if (seen[p] == 0) return "position " + std::to_string(p) + " is not indexed";
  if (used != rec.size) return "the size is " + std::to_string(rec.size) + ", the used buckets " + std::to_string(used);
  return "";
}

uint32_t intern_name(NodeId index, std::string_view name, bool caseless_only) {
  grow_if_full(index);
  const std::string text(name);  // `name` may point into a series buffer
  const uint32_t hash = hash_name(text);
  const auto buckets = static_cast<uint32_t>(record(index).buckets);

  // Probes the index comparing spellings; answers the matching symbol's
  // position, or -1 with the empty bucket that ended the walk.
  const auto walk = [&](bool caseless, uint32_t* empty_bucket) -> int64_t {
    const Record& rec = record(index);
    const Cell* symbols = cells(rec.data);
    for (Probe probe(hash, buckets); probe.more(); probe.advance()) {
      if (state_of(words(rec.flags), probe.bucket) == BucketState::empty) {
        *empty_bucket = probe.bucket;
        return -1;
      }
      const int32_t position = words(rec.keys)[probe.bucket];
      const std::string_view spelling = symbol::spelling_of_cell(symbols[position]);
      if (caseless ? symbol::equal_caseless(spelling, text) : spelling == text) return position;
    }
    return -1;
  };

  uint32_t empty_bucket = 0;
  int64_t alias = -1;
  if (!caseless_only) {
    if (const int64_t exact = walk(false, &empty_bucket); exact >= 0) return static_cast<uint32_t>(exact) + 1;
  }
  uint32_t caseless_empty = 0;
  if (const int64_t variant = walk(true, &caseless_empty); variant >= 0) {
    if (caseless_only) return static_cast<uint32_t>(variant) + 1;
    // Alias the canonical symbol, never another alias.
    alias = symbol::resolve(static_cast<uint32_t>(variant) + 1);
  } else {
    empty_bucket = caseless_empty;
  }
  const uint32_t position = symbol::detail::append(text, static_cast<int32_t>(alias));
  store_in_bucket(index, empty_bucket, static_cast<int32_t>(position));
  return position + 1;
}

int32_t find_word(NodeId store, uint32_t symbol, bool caseless) {
  const Record& rec = record(store);
  const uint32_t canonical = symbol::resolve(symbol);
  const Cell* entries = cells(rec.data);
  const int32_t* flags = words(rec.flags);
  const int32_t* keys = words(rec.keys);
  for (Probe probe(fmix32(canonical), static_cast<uint32_t>(rec.buckets)); probe.more(); probe.advance()) {
    const BucketState state = state_of(flags, probe.bucket);
    if (state == BucketState::empty) return -1;
    if (state == BucketState::deleted) continue;
    const int32_t position = keys[probe.bucket];
    const uint32_t stored = entries[position].w2;
    if (caseless ? symbol::resolve(stored) == canonical : stored == symbol) return position;
  }
  return -1;
}

uint32_t put_node(NodeId table, NodeId key) {
  if (const int32_t found = get_node(table, key); found >= 0) return static_cast<uint32_t>(found);
  grow_if_full(table);
  const uint32_t entry_bytes = record(table).aux;
  const uint32_t offset = series::reserve_tail(record(table).data, entry_bytes);
  auto* entry = reinterpret_cast<Cell*>(memory::buffer(record(table).data)->data() + offset);
  for (uint32_t i = 0; i < entry_bytes / sizeof(Cell); ++i) entry[i] = Cell{cell::header(TypeId::unset), 0, 0, 0};
  entry->w1 = key;
  Probe probe(fmix32(key), static_cast<uint32_t>(record(table).buckets));
  while (state_of(words(record(table).flags), probe.bucket) == BucketState::used) probe.advance();
  store_in_bucket(table, probe.bucket, static_cast<int32_t>(offset));
  return offset;
}

int32_t get_node(NodeId table, NodeId key) {
  const Record& rec = record(table);
  const int32_t* flags = words(rec.flags);
  const uint8_t* data = memory::buffer(rec.data)->data();
  for (Probe probe(fmix32(key), static_cast<uint32_t>(rec.buckets)); probe.more(); probe.advance()) {
    const BucketState state = state_of(flags, probe.bucket);
    if (state == BucketState::empty) return -1;
    if (state == BucketState::deleted) continue;
    const int32_t offset = words(rec.keys)[probe.bucket];
    if (reinterpret_cast<const Cell*>(data + offset)->w1 == key) return offset;
  }
  return -1;
}

int32_t remove_node(NodeId table, NodeId key) {
  const Record& rec = record(table);
  for (Probe probe(fmix32(key), static_cast<uint32_t>(rec.buckets)); probe.more(); probe.advance()) {
    const BucketState state = state_of(words(rec.flags), probe.bucket);
    if (state == BucketState::empty) return -1;
    if (state == BucketState::deleted) continue;
    const int32_t offset = words(rec.keys)[probe.bucket];
    auto* entry = reinterpret_cast<Cell*>(memory::buffer(rec.data)->data() + offset);
    if (entry->w1 != key) continue;
    set_state(words(rec.flags), probe.bucket, BucketState::deleted);
    --record(table).size;
    entry->header = 0;
    entry->w1 = 0;
    return offset;
  }
  return -1;
}

Cell* entry_cells(NodeId table, uint32_t entry) {
  return reinterpret_cast<Cell*>(memory::buffer(record(table).data)->data() + entry) + 1;
}

}  // namespace kiv::hashtable
