#include "runtime/datatypes/datatype.h"

#include <cstring>

#include "runtime/mold.h"

namespace kiv::datatype {

namespace detail {
ActionTable action_table[type_table_size];
TypeInfo type_table[type_table_size];
}  // namespace detail

namespace {

TypeId g_highest = TypeId::none_type;

// Every type's name, registered or not yet: type words and datatype!
// values name them all.
constexpr const char* type_names[type_table_size] = {
    "",           "datatype!",  "unset!",     "none!",      "logic!",     "block!",     "paren!",
    "string!",    "file!",      "url!",       "char!",      "integer!",   "float!",     "symbol!",
    "context!",   "word!",      "set-word!",  "lit-word!",  "get-word!",  "refinement!", "issue!",
    "native!",    "action!",    "op!",        "function!",  "path!",      "lit-path!",  "set-path!",
    "get-path!",  "routine!",   "bitset!",    "triple!",    "object!",    "typeset!",   "error!",
    "vector!",    "hash!",      "pair!",      "percent!",   "tuple!",     "map!",       "binary!",
    "series!",    "time!",      "tag!",       "email!",     "handle!",    "date!",      "port!",
    "money!",     "ref!",       "point2D!",   "point3D!",   "image!",     "event!",     "",
    ""};

// Settles one slot: the type's own function, the parent's, or none.
template <class Fn>
Fn resolve(const ActionSlot<Fn>& slot, Fn parent_fn, bool has_parent) {
  if (!slot.inherits) return slot.fn;
  return has_parent ? parent_fn : nullptr;  // nothing to inherit from a root type
}

int32_t form(Val value, Val out, int32_t part) {
  const TypeInfo& type = info(get(*value));
  return mold::emit(out, type.name.substr(0, type.name_length), part);
}

int32_t mold_value(Val value, Val out, const MoldOptions& options, int32_t part) {
  const std::string_view name = info(get(*value)).name;
  if (!options.all) return mold::emit(out, name, part);
  part = mold::emit(out, "#(", part);
  part = mold::emit(out, name, part);
  return mold::emit(out, ")", part);
}

int compare(const Cell& a, const Cell& b, CmpOp op) {
  switch (op) {
    case CmpOp::equal:
    case CmpOp::not_equal:
    case CmpOp::strict_equal:
    case CmpOp::same:
    case CmpOp::lookup:
      return cell::is(b, TypeId::datatype) && b.w1 == a.w1 ? 0 : 1;
    default:
      return -2;
  }
}

}  // namespace

void reset_registry() {
  for (ActionTable& row : detail::action_table) row = ActionTable{};
  for (int id = 0; id < type_table_size; ++id) {
    const std::string_view name = type_names[id];
    detail::type_table[id] = TypeInfo{name, name.empty() ? 0 : static_cast<uint32_t>(name.size() - 1)};
  }
  g_highest = TypeId::none_type;
}

void register_type(const TypeSpec& spec) {
  const auto id = static_cast<int>(spec.id);
  if (spec.id > g_highest) g_highest = spec.id;
  TypeInfo& entry = detail::type_table[id];
  entry.name = spec.name;
  entry.name_length = static_cast<uint32_t>(std::strlen(spec.name) - 1);
  entry.parent = spec.parent;
  entry.registered = true;

  const bool has_parent = spec.parent != TypeId::none_type;
  const ActionTable& parent = detail::action_table[static_cast<int>(spec.parent)];
  ActionTable& row = detail::action_table[id];
#define KIV_RESOLVE_SLOT(number, name, Fn) row.name = resolve(spec.slots.name, parent.name, has_parent);
  KIV_ACTIONS(KIV_RESOLVE_SLOT)
#undef KIV_RESOLVE_SLOT
}

void supply_actions(TypeId type, const ActionSlots& slots) {
  ActionTable& row = detail::action_table[static_cast<int>(type)];
#define KIV_SUPPLY_SLOT(number, name, Fn) \
  if (slots.name.fn) row.name = slots.name.fn;
  KIV_ACTIONS(KIV_SUPPLY_SLOT)
#undef KIV_SUPPLY_SLOT
}

TypeId highest() { return g_highest; }

void set_symbol(TypeId type, uint32_t symbol) { detail::type_table[static_cast<int>(type)].symbol = symbol; }

void register_types() {
  register_type({TypeId::datatype, TypeId::none_type, "datatype!",
                 {.form = form, .mold = mold_value, .compare = compare}});
}

}  // namespace kiv::datatype
