#include "runtime/core/collector.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/core/error_raise.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/handles.h"
#include "runtime/core/image_record.h"
#include "runtime/core/runtime_error.h"
#include "runtime/core/stack.h"
#include "runtime/core/state.h"
#include "runtime/core/type_traits.h"

namespace kiv::collector {

Rule rule_of(TypeId type) { return type_traits::marking_rule(type); }

namespace {

using memory::detail::BigFrame;
using memory::detail::NodeFrame;
using memory::detail::SeriesFrame;
namespace fc = memory::for_collector;

// event!: w2 names a series when w3 has this bit.
constexpr uint32_t event_has_series = 0x10000;

enum class Pass : uint8_t {
  none,
  collect,  // the marking of a collection
  check,    // a verification walk: marks are cleared after it, handles untouched
};

struct NamedMarker {
  Marker marker;
  const char* name;  // for reports
};

struct Collector {
  std::vector<NodeId> work;  // marked series whose contents are still to follow
  std::vector<NamedMarker> markers;
  std::vector<Marker> weak_sweepers;
  TableTracer table_tracer = nullptr;
  Stats stats;
  bool running = false;
  Pass pass = Pass::none;
  StressOptions stress;
  uint32_t countdown = 0;
  // For reports: the check under way, and where the reference being
  // followed was found: a root, or a cell (or table) of a series.
  const char* phase = "";
  const char* root = "";
  NodeId tracing = no_node;
  uint32_t tracing_index = 0;
  uint32_t tracing_type = 0;
};

Collector g;

// ---- reports ----

[[noreturn]] void report_corrupt(const char* detail) {
  char line[600];
  const int length = std::snprintf(line, sizeof line, "*** Heap check failed %s collection %llu: %s\n", g.phase,
                                   static_cast<unsigned long long>(g.stats.collections + 1), detail);
  if (length > 0) (void)!::write(STDERR_FILENO, line, std::min<size_t>(static_cast<size_t>(length), sizeof line - 1));
  runtime::fatal(runtime::error_assertion, reinterpret_cast<uintptr_t>(&report_corrupt));
}

bool checking() { return g.stress.verify; }

// Where the reference being followed was found, for reports.
std::string where() {
  char text[160];
  if (g.tracing == no_node)
    std::snprintf(text, sizeof text, "%s (item %u, type id %u)", g.root, g.tracing_index, g.tracing_type);
  else
    std::snprintf(text, sizeof text, "cell %u (type id %u) of series %#x", g.tracing_index, g.tracing_type, g.tracing);
  return text;
}

void trace_root(const char* name, uint32_t index = 0) {
  g.tracing = no_node;
  g.root = name;
  g.tracing_index = index;
  g.tracing_type = 0;
}

// ---- marking ----

// The buffer of a node that a value names; a free or damaged node is a
// fault that the verifying mode reports, and that is otherwise skipped.
SeriesBuf* buffer_of(NodeId node) {
  if (!memory::is_live_node(node)) {
    if (checking())
      fail_check("node %#x, named by %s, is not in use", node, where().c_str());
    return nullptr;
  }
  SeriesBuf* buf = memory::buffer(node);
  if (!buf) {
    if (checking()) fail_check("node %#x has no buffer", node);
    return nullptr;
  }
  if (checking() && (buf->node != node || !(buf->flags & series_flag::in_use)))
    fail_check("node %#x, named by %s, points at a buffer that is not its own (back-pointer %#x, flags %#x)", node,
            where().c_str(), buf->node, buf->flags);
  return buf;
}

// Marks a series; one that may refer to others (a cell series, a hash
// table) joins the work list the first time.
void keep(NodeId node) {
  if (node == no_node) return;
  SeriesBuf* buf = buffer_of(node);
  if (!buf || (buf->flags & series_flag::mark)) return;
  buf->flags |= series_flag::mark;
  if (buf->unit() == sizeof(Cell) || (buf->gc_flags & gc_flag::hash_table)) g.work.push_back(node);
}

// Marks the buffer without looking inside.
void keep_only(NodeId node) {
  if (node == no_node) return;
  if (SeriesBuf* buf = buffer_of(node)) buf->flags |= series_flag::mark;
}

void mark_table(NodeId table) {
  if (checking() && table != no_node && memory::is_live_node(table) &&
      !(memory::buffer(table)->gc_flags & gc_flag::hash_table))
    fail_check("%s names node %#x as a hash table, which it is not", where().c_str(), table);
  keep(table);
}

// An image's record, and the external handle that owns its pixels (the
// checking walk leaves handles alone, as for handle!).
void mark_image(NodeId record) {
  if (record == no_node) return;
  mark_node(record);
  if (g.pass != Pass::collect || !memory::is_live_node(record)) return;
  const int32_t handle = image_record::of(record)->handle;
  if (handle >= 0 && static_cast<uint32_t>(handle) < handles::capacity()) handles::mark(handle);
}

void mark_cell_payload(const Cell& value) {
  g.tracing_type = value.header & cell::type_mask;
  switch (rule_of(cell::type_of(value))) {
    case Rule::nothing:
      return;
    case Rule::word:
      mark_node(value.w1);
      return;
    case Rule::series:
      mark_node(value.w2);
      return;
    case Rule::image:
      mark_image(value.w2);
      return;
    case Rule::text:
    case Rule::symbol:
      mark_node(value.w2);
      mark_node(value.w3);
      return;
    case Rule::context:
      mark_table(value.w1);
      if (!(value.header & cell::context_values_on_stack)) mark_node(value.w2);
      return;
    case Rule::object:
      mark_node(value.w1);
      mark_node(value.w3);
      return;
    case Rule::map:
      mark_node(value.w2);
      mark_table(value.w3);
      return;
    case Rule::function:
      mark_node(value.w1);
      mark_node(value.w2);
      mark_node(value.w3);
      return;
    case Rule::op: {
      const TypeId wrapped = cell::op_wrapped_type(value);
      if (wrapped == TypeId::function || wrapped == TypeId::routine) mark_node(value.w1);
      mark_node(value.w2);
      mark_node(value.w3);
      return;
    }
    case Rule::native:
      mark_node(value.w2);
      mark_node(value.w3);
      return;
    case Rule::handle: {
      const auto index = static_cast<int32_t>(value.w3);
      if (index < 0) return;
      if (g.pass == Pass::collect) handles::mark(index);
      else if (static_cast<uint32_t>(index) >= handles::capacity()) fail_check("a handle! names entry %d", index);
      return;
    }
    case Rule::event:
      if (value.w3 & event_has_series) mark_node(value.w2);
      return;
    case Rule::unknown:
      if (checking())
        fail_check("%s has no valid type (header %#x)", where().c_str(), value.header);
      return;
  }
}

// A hash table's record names the vectors and blocks it uses; the module
// that lays them out traces them.
void trace_table(NodeId table) {
  g.tracing = table;
  g.tracing_index = 0;
  if (g.table_tracer) g.table_tracer(table);
  else if (checking()) fail_check("hash table %#x met with no table tracer set", table);
}

void trace_cells(NodeId node) {
  const SeriesBuf* buf = memory::buffer(node);
  if (checking() && (buf->head > buf->tail || buf->tail > buf->capacity))
    fail_check("cell series %#x has head %u, tail %u, capacity %u", node, buf->head, buf->tail, buf->capacity);
  g.tracing = node;
  const auto* cells = reinterpret_cast<const Cell*>(buf->head_ptr());
  const uint32_t count = buf->length();
  for (uint32_t i = 0; i < count; ++i) {
    g.tracing_index = i;
    mark_cell_payload(cells[i]);
  }
}

void drain() {
  while (!g.work.empty()) {
    const NodeId node = g.work.back();
    g.work.pop_back();
    if (memory::buffer(node)->gc_flags & gc_flag::hash_table) trace_table(node);
    else trace_cells(node);
  }
}

// A root cell may be empty (all zero: nothing stored yet); cells inside
// series and on the argument stack never are.
void mark_root_cell(const Cell& value) {
  if (cell::type_of(value) != TypeId::none_type) mark_cell_payload(value);
}

void mark_roots() {
  trace_root("a permanent cell");
  for (Cell* value : roots::permanent_cells()) mark_root_cell(*value);
  trace_root("a permanent node");
  for (NodeId* node : roots::permanent_nodes()) mark_node(*node);
  uint32_t rooted = 0;
  for (roots::RootLink* link = roots::newest(); link; link = link->prev) {
    trace_root("a Rooted<> value, newest first", rooted++);
    if (link->kind == roots::RootKind::cell) mark_root_cell(*static_cast<const Cell*>(link->target));
    else mark_node(*static_cast<const NodeId*>(link->target));
  }
  for (const Cell* value = stack::ArgStack::begin(); value < stack::ArgStack::top(); ++value) {
    trace_root("the argument stack", static_cast<uint32_t>(value - stack::ArgStack::begin()));
    mark_cell_payload(*value);
  }
  trace_root("the pending error");
  const error::Pending& pending = error::pending();
  for (const Cell& arg : pending.args) mark_root_cell(arg);
  mark_root_cell(pending.where);
  mark_root_cell(pending.near);
  mark_root_cell(pending.value);
  drain();
  for (const NamedMarker& entry : g.markers) {
    trace_root(entry.name);
    entry.marker();
    drain();
  }
}

// ---- sweeping and compaction ----

// Live buffers slide down in address order through the series frames: a
// buffer goes to the lowest frame that still takes it, so the last frames
// empty out. Neighbours that move by the same distance move as one run.
class Compactor {
 public:
  void run() {
    SeriesFrame* const head = fc::first_series_frame();
    if (!head) return;
    dest_ = head;
    to_ = head->first();
    for (SeriesFrame* frame = head; frame; frame = frame->next)
      fc::unpoison(frame->first(), static_cast<size_t>(frame->heap - frame->first()));
    for (SeriesFrame* frame = head; frame; frame = frame->next) {
      old_heaps_.push_back({frame, frame->heap});
      sweep_frame(frame);
    }
    flush();
    dest_->heap = to_;
    for (SeriesFrame* frame = dest_->next; frame; frame = frame->next) frame->heap = frame->first();
#ifdef KIV_DEBUG_CHECKS
    // Stale pointers into what was given up read garbage.
    for (const auto& [frame, old_heap] : old_heaps_)
      if (old_heap > frame->heap) std::memset(frame->heap, 0xDB, static_cast<size_t>(old_heap - frame->heap));
#endif
    for (SeriesFrame* frame = head; frame; frame = frame->next)
      fc::poison(frame->heap, static_cast<size_t>(frame->end - frame->heap));
    for (SeriesFrame* frame = head->next; frame;) {
      SeriesFrame* next = frame->next;
      if (frame->heap == frame->first() && frame != dest_) fc::release_series_frame(frame);
      frame = next;
    }
    fc::set_current_series_frame(dest_);
  }

 private:
  void sweep_frame(SeriesFrame* frame) {
    uint8_t* at = frame->first();
    uint8_t* const heap = frame->heap;
    while (at < heap) {
      auto* buf = reinterpret_cast<SeriesBuf*>(at);
      const size_t need = memory::buffer_overhead + buf->capacity;
      constexpr uint32_t live_bits = series_flag::in_use | series_flag::mark;
      if ((buf->flags & live_bits) != live_bits) {
        if ((buf->flags & series_flag::in_use) && buf->node != no_node) memory::free_node(buf->node);
        at += need;
        continue;
      }
      // Moving to an earlier frame only while it has room worth filling.
      while (dest_ != frame) {
        const size_t room = static_cast<size_t>(dest_->end - to_);
        if (room > memory::min_reusable_room && need <= room) break;
        flush();
        dest_->heap = to_;
        dest_ = dest_->next;
        to_ = dest_->first();
      }
      if (run_length_ != 0 && run_from_ + run_length_ == at && run_to_ + run_length_ == to_) {
        run_length_ += need;
      } else {
        flush();
        run_from_ = at;
        run_to_ = to_;
        run_length_ = need;
      }
      to_ += need;
      at += need;
    }
  }

  // Moves the pending run, points its nodes at their new places and clears
  // the marks.
  void flush() {
    if (run_length_ == 0) return;
    const bool moved = run_from_ != run_to_;
    if (moved) {
      fc::unpoison(run_to_, run_length_);  // may land in an earlier frame's free tail
      std::memmove(run_to_, run_from_, run_length_);
    }
    for (uint8_t* at = run_to_; at < run_to_ + run_length_;) {
      auto* buf = reinterpret_cast<SeriesBuf*>(at);
      buf->flags &= ~series_flag::mark;
      if (moved) fc::repoint(buf->node, buf);
      at += memory::buffer_overhead + buf->capacity;
    }
    run_length_ = 0;
  }

  SeriesFrame* dest_ = nullptr;
  uint8_t* to_ = nullptr;
  uint8_t* run_from_ = nullptr;
  uint8_t* run_to_ = nullptr;
  size_t run_length_ = 0;
  std::vector<std::pair<SeriesFrame*, uint8_t*>> old_heaps_;
};

void sweep_big_frames() {
  for (BigFrame* frame = fc::first_big_frame(); frame;) {
    BigFrame* next = frame->next;
    SeriesBuf* buf = frame->buffer();
    if (buf->flags & series_flag::mark) {
      buf->flags &= ~series_flag::mark;
    } else {
      if ((buf->flags & series_flag::in_use) && buf->node != no_node) memory::free_node(buf->node);
      fc::release_big_frame(frame);
    }
    frame = next;
  }
}

// External buffers are never swept, but their marks must not outlive the
// collection: a stale mark would stop the next one from looking inside.
void unmark_external() {
  for (NodeId node : fc::external_nodes()) {
    if (!memory::is_live_node(node)) continue;
    SeriesBuf* buf = memory::buffer(node);
    buf->flags &= ~series_flag::mark;
  }
}

// After a verification walk: every mark goes.
void clear_all_marks() {
  for (SeriesFrame* frame = fc::first_series_frame(); frame; frame = frame->next) {
    for (uint8_t* at = frame->first(); at < frame->heap;) {
      auto* buf = reinterpret_cast<SeriesBuf*>(at);
      buf->flags &= ~series_flag::mark;
      at += memory::buffer_overhead + buf->capacity;
    }
  }
  for (BigFrame* frame = fc::first_big_frame(); frame; frame = frame->next) {
    frame->buffer()->flags &= ~series_flag::mark;
  }
  unmark_external();
}

// ---- verification ----

// Text and binaries use 1, 2 and 4; vectors of doubles 8; blocks a cell.
bool valid_unit(uint32_t unit) { return unit == 1 || unit == 2 || unit == 4 || unit == 8 || unit == sizeof(Cell); }

void check_header(const SeriesBuf* buf, const char* where) {
  if (!valid_unit(buf->unit())) fail_check("buffer %p in %s has unit size %u", static_cast<const void*>(buf), where, buf->unit());
  if (buf->capacity % 16 != 0)
    fail_check("buffer %p in %s has capacity %u", static_cast<const void*>(buf), where, buf->capacity);
  if (buf->flags & series_flag::mark)
    fail_check("buffer %p (node %#x) in %s keeps a mark outside a collection", static_cast<const void*>(buf), buf->node,
            where);
  if (!(buf->flags & series_flag::in_use)) return;
  if (buf->head > buf->tail || buf->tail > buf->capacity)
    fail_check("buffer %p (node %#x) has head %u, tail %u, capacity %u", static_cast<const void*>(buf), buf->node,
            buf->head, buf->tail, buf->capacity);
  if (buf->node == no_node || !memory::is_live_node(buf->node) || memory::buffer(buf->node) != buf)
    fail_check("buffer %p in %s names node %#x, which does not point back at it", static_cast<const void*>(buf), where,
            buf->node);
}

// Every buffer in use names a node that points back at it, and as many
// nodes are in use as buffers: nodes and buffers pair up one to one.
void verify_structure() {
  size_t buffers_in_use = 0;

  SeriesFrame* previous = nullptr;
  for (SeriesFrame* frame = fc::first_series_frame(); frame; previous = frame, frame = frame->next) {
    if (frame->prev != previous) fail_check("the series frame list is broken at frame %p", static_cast<void*>(frame));
    if (previous && !(previous < frame)) fail_check("series frames are out of address order");
    if (frame->heap < frame->first() || frame->heap > frame->end ||
        frame->end != reinterpret_cast<uint8_t*>(frame) + frame->block_size)
      fail_check("series frame %p has bad bounds", static_cast<void*>(frame));
    uint8_t* at = frame->first();
    while (at < frame->heap) {
      const auto* buf = reinterpret_cast<const SeriesBuf*>(at);
      if (buf->flags & series_flag::big) fail_check("buffer %p in a series frame has the big flag", static_cast<const void*>(buf));
      if (at + memory::buffer_overhead + buf->capacity > frame->heap)
        fail_check("buffer %p (capacity %u) runs past its frame's heap", static_cast<const void*>(buf), buf->capacity);
      check_header(buf, "a series frame");
      if (buf->flags & series_flag::in_use) ++buffers_in_use;
      at += memory::buffer_overhead + buf->capacity;
    }
  }
  for (BigFrame* frame = fc::first_big_frame(); frame; frame = frame->next) {
    const SeriesBuf* buf = frame->buffer();
    if (!(buf->flags & series_flag::big) || !(buf->flags & series_flag::in_use))
      fail_check("big buffer %p has flags %#x", static_cast<const void*>(buf), buf->flags);
    if (frame->need != memory::buffer_overhead + buf->capacity)
      fail_check("big buffer %p does not fill its frame", static_cast<const void*>(buf));
    check_header(buf, "a big frame");
    ++buffers_in_use;
  }
  for (NodeId node : fc::external_nodes()) {
    if (!memory::is_live_node(node)) fail_check("external series node %#x is not in use", node);
    const SeriesBuf* buf = memory::buffer(node);
    if (!(buf->flags & series_flag::external)) fail_check("external series node %#x has a buffer in the frames", node);
    check_header(buf, "the C heap");
    ++buffers_in_use;
  }

  size_t nodes_in_use = 0;
  for (NodeFrame* frame = fc::first_node_frame(); frame; frame = frame->next) {
    if (memory::detail::node_directory[frame->index] != frame) fail_check("node frame %u is not in the directory", frame->index);
    uint32_t free_count = 0;
    for (NodeId id = frame->free_head; id != no_node;) {
      if ((id >> memory::node_slot_bits) != frame->index || (id & memory::detail::node_slot_mask) == 0 ||
          (id & memory::detail::node_slot_mask) > frame->node_count)
        fail_check("the free list of node frame %u holds %#x", frame->index, id);
      const uintptr_t slot = memory::detail::node_slot(id);
      if (!(slot & 1)) fail_check("node %#x is on a free list but in use", id);
      if (++free_count > frame->node_count) fail_check("the free list of node frame %u loops", frame->index);
      id = static_cast<NodeId>(slot >> 1);
    }
    if (free_count + frame->used != frame->node_count)
      fail_check("node frame %u: %u free and %u used of %u", frame->index, free_count, frame->used, frame->node_count);
    nodes_in_use += frame->used;
  }
  if (nodes_in_use != buffers_in_use)
    fail_check("%zu nodes in use for %zu buffers in use", nodes_in_use, buffers_in_use);
}

// Marks from the roots with every check on, then clears the marks.
void verify_reachable() {
  g.pass = Pass::check;
  mark_roots();
  g.pass = Pass::none;
  clear_all_marks();
}

void stress_tick() {
  if (g.running || !runtime::state.collector_on) return;
  if (++g.countdown < g.stress.every) return;
  g.countdown = 0;
  collect();
}

}  // namespace

void init() {
  g.work.clear();
  g.stats = {};
  g.running = false;
  g.pass = Pass::none;
  g.countdown = 0;
  memory::set_collector(&collect);
  const char* setting = std::getenv("KIV_GC");
  set_stress(setting ? parse_stress(setting) : StressOptions{});
}

void collect() {
  if (g.running) return;
  g.running = true;
  if (g.stress.verify) {
    g.phase = "before";
    verify_structure();
  }
  g.phase = "during";
  g.pass = Pass::collect;
  mark_roots();
  // Weak tables (ownership) drop their entries whose series went unmarked
  // and mark what they keep.
  for (Marker sweeper : g.weak_sweepers) sweeper();
  drain();
  g.pass = Pass::none;
  handles::sweep();
  Compactor{}.run();
  sweep_big_frames();
  unmark_external();
  ++g.stats.collections;
  fc::settle_node_frames(static_cast<uint32_t>(g.stats.collections));
  if (g.stress.verify) {
    g.phase = "after";
    verify_structure();
    verify_reachable();
  }
  g.stats.in_use_after_last = memory::in_use_bytes();
  fc::pace_next_collection(g.stats.in_use_after_last);
  g.running = false;
}

bool running() { return g.running; }
Stats stats() { return g.stats; }

StressOptions parse_stress(std::string_view setting) {
  StressOptions options;
  while (!setting.empty()) {
    const size_t comma = setting.find(',');
    const std::string_view word = setting.substr(0, comma);
    setting = comma == std::string_view::npos ? std::string_view() : setting.substr(comma + 1);
    uint32_t every = 0;
    if (word == "verify") {
      options.verify = true;
    } else if (word.starts_with("every=") &&
               std::from_chars(word.data() + 6, word.data() + word.size(), every).ptr == word.data() + word.size() &&
               every > 0) {
      options.every = every;
    } else if (!word.empty()) {
      const std::string line = "kiv: KIV_GC: '" + std::string(word) + "' ignored (every=N, verify)\n";
      (void)!::write(STDERR_FILENO, line.data(), line.size());
    }
  }
  return options;
}

void set_stress(const StressOptions& options) {
  g.stress = options;
  g.countdown = 0;
  gc::set_stress_hook(options.every > 0 ? &stress_tick : nullptr);
}

StressOptions stress() { return g.stress; }

void verify_heap() {
  if (g.running) return;
  const bool was = g.stress.verify;
  g.stress.verify = true;
  g.phase = "outside";
  verify_structure();
  verify_reachable();
  g.stress.verify = was;
}

void register_marker(Marker marker, const char* name) {
  for (const NamedMarker& entry : g.markers)
    if (entry.marker == marker) return;
  g.markers.push_back({marker, name});
}

void unregister_marker(Marker marker) {
  std::erase_if(g.markers, [&](const NamedMarker& entry) { return entry.marker == marker; });
}

void register_weak_sweeper(Marker sweeper) {
  if (std::find(g.weak_sweepers.begin(), g.weak_sweepers.end(), sweeper) == g.weak_sweepers.end())
    g.weak_sweepers.push_back(sweeper);
}

void set_table_tracer(TableTracer tracer) { g.table_tracer = tracer; }

void mark_only(NodeId node) { keep_only(node); }
bool verifying() { return checking(); }

void report_at(NodeId series, uint32_t index) {
  g.tracing = series;
  g.tracing_index = index;
}

void fail_check(const char* format, ...) {
  char detail[400];
  va_list args;
  va_start(args, format);
  std::vsnprintf(detail, sizeof detail, format, args);
  va_end(args);
  report_corrupt(detail);
}

void mark_node(NodeId node) { keep(node); }
void mark_cell(const Cell& value) { mark_cell_payload(value); }

bool is_marked(NodeId node) {
  return memory::is_live_node(node) && (memory::buffer(node)->flags & series_flag::mark) != 0;
}

}  // namespace kiv::collector
