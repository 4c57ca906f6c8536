// handle!: an opaque reference to an object of the system (a window, a
// font, a monitor, a file descriptor, a rich-text layout) that script code
// holds and hands back to the natives that made it.
//
// Payload:
//   w1  the kind (handle_kind below)
//   w2  the handle value: 32 bits, an id into one of our own tables (or a
//       descriptor), never a machine address
//   w3  -1, or the index of an external-handle entry (core/handles.h) that
//       the collector keeps alive while the value lives
//
// It forms, molds and compares and does nothing else: no action is
// inherited from integer!. A handle! in a port's actor field designates a
// native action table (port.h).
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"

namespace kiv::handle {

enum class Kind : uint32_t { null = 0, fd = 1, monitor = 2, window = 3, font = 4, rich_text = 5 };

// The kind's name as mold/all writes it; empty for null and unknown kinds.
std::string_view kind_name(uint32_t kind);

inline Cell make(uint32_t value, Kind kind) {
  return Cell{cell::header(TypeId::handle), static_cast<uint32_t>(kind), value, 0xFFFFFFFFu};
}
inline void make_at(Cell& target, uint32_t value, Kind kind) { target = make(value, kind); }
inline uint32_t value_of(const Cell& handle) { return handle.w2; }
inline Kind kind_of(const Cell& handle) { return static_cast<Kind>(handle.w1); }

// Pushes a handle onto the argument stack.
Val push(uint32_t value, Kind kind);
// A handle of value 0 and kind null.
Val push_null();
// Stores a handle in the current call's result slot.
void set_result(uint32_t value, Kind kind);
// Appends a handle to a block. May allocate.
void make_in_block(Val block, uint32_t value, Kind kind);

void register_types();

}  // namespace kiv::handle
