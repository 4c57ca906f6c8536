// The type registry and the datatype! type.
//
// Every datatype registers once at start-up, parents before children, with
// a record naming its 62 action slots. Inheritance is settled then: a slot
// marked `inherit` takes the parent's function as it stands, so dispatch is
// one indexed read and never walks parents.
//
// A datatype! cell holds its type id in w1.
//
// Value primitives, here and in every datatype: `make` builds a cell of the
// type (full header, no flags), `push` puts one on the argument stack; the
// result slot and blocks take cells through stack::set_last and the block
// functions.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"

namespace kiv::datatype {

struct TypeSpec {
  TypeId id;
  TypeId parent;  // TypeId::none_type for a root type
  const char* name;
  ActionSlots slots;
};

struct TypeInfo {
  std::string_view name;  // with the "!"
  uint32_t name_length;   // without the "!"
  TypeId parent = TypeId::none_type;
  bool registered = false;
  uint32_t symbol = 0;    // the name's symbol, once interned
};

namespace detail {
extern ActionTable action_table[type_table_size];
extern TypeInfo type_table[type_table_size];
}  // namespace detail

// Empties both tables.
void reset_registry();
// Registers a type. Its parent must be registered already; a slot that
// inherits from no parent is unsupported.
void register_type(const TypeSpec& spec);
// Gives a registered type the functions of `slots` that are set, for
// actions that a module other than the type's own supplies (the I/O
// actions of file!). Children registered before do not get them.
void supply_actions(TypeId type, const ActionSlots& slots);
// Highest type id registered so far.
TypeId highest();

inline const ActionTable& actions(TypeId type) { return detail::action_table[static_cast<int>(type)]; }
inline const TypeInfo& info(TypeId type) { return detail::type_table[static_cast<int>(type)]; }
inline bool is_registered(TypeId type) { return info(type).registered; }
void set_symbol(TypeId type, uint32_t symbol);

// Values of datatype!.
inline Cell make(TypeId type) { return Cell{cell::header(TypeId::datatype), static_cast<uint32_t>(type), 0, 0}; }
inline TypeId get(const Cell& value) { return static_cast<TypeId>(value.w1); }
inline Val push(TypeId type) { return stack::push(make(type)); }

// Registers datatype! itself.
void register_types();

}  // namespace kiv::datatype
