// The 62 actions: the polymorphic operations that every datatype may supply.
//
// Each datatype registers one function per action it supports (or inherits
// its parent's); dispatch reads the function from the action table by the
// datatype of the first argument. The order below is fixed: action numbers
// are part of the serialised form of action! values.
//
// Calling convention. Arguments arrive as `Val`s (argument-stack cells); the
// result replaces the first argument (the call's result slot). A refinement
// arrives as a flag, its argument as a `std::optional<Val>` or, for counts,
// as an integer already normalised by the generic entry (-1: not used).
// `compare` is the exception: it must not allocate, so it takes plain cells
// (which may lie in series buffers) and answers -1, 0, 1, or -2 for values
// that cannot be compared.
#pragma once

#include <cstdint>
#include <optional>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"

namespace kiv {

// Comparison op codes passed to every compare function.
enum class CmpOp : uint8_t {
  equal = 0,
  not_equal = 1,
  strict_equal = 2,
  lesser = 3,
  lesser_or_equal = 4,
  greater = 5,
  greater_or_equal = 6,
  sort = 7,
  case_sort = 8,
  same = 9,
  find_word = 10,       // word lookups: word! and lit-word! alike
  find_word_case = 11,
  lookup = 12,          // key search: same datatype for numbers, words folded
};

// The ops under which values with no order among them still compare:
// equality tests and the sort orders.
constexpr bool compares_unordered(CmpOp op) {
  switch (op) {
    case CmpOp::equal:
    case CmpOp::not_equal:
    case CmpOp::strict_equal:
    case CmpOp::sort:
    case CmpOp::case_sort:
    case CmpOp::same:
    case CmpOp::lookup:
      return true;
    default:
      return false;
  }
}

// The ops that ask only whether two values are equal (no order).
constexpr bool is_equality(CmpOp op) {
  switch (op) {
    case CmpOp::equal:
    case CmpOp::not_equal:
    case CmpOp::strict_equal:
    case CmpOp::same:
    case CmpOp::find_word:
    case CmpOp::find_word_case:
    case CmpOp::lookup:
      return true;
    default:
      return false;
  }
}

// Compare of a type with a single value (unset!, none!): equal to itself
// under `compares_unordered`, not comparable otherwise.
inline int compare_single_valued(const Cell& other, TypeId type, CmpOp op) {
  if (cell::type_of(other) != type || !compares_unordered(op)) return -2;
  return 0;
}

// Arithmetic op codes shared by the number types.
enum class MathOp : uint8_t {
  add = 0,
  subtract = 1,
  multiply = 2,
  divide = 3,
  remainder = 4,
  or_ = 5,
  and_ = 6,
  xor_ = 7,
};

// Options of form and mold. `indent` counts levels of four spaces.
struct MoldOptions {
  bool only = false;
  bool all = false;
  bool flat = false;
  int32_t indent = 0;
};

struct RoundOptions {
  std::optional<Val> scale;  // /to
  bool even = false, down = false, half_down = false, floor = false, ceiling = false, half_ceiling = false;
};

struct FindOptions {
  std::optional<Val> part;
  bool only = false, case_ = false, same = false, any = false;
  std::optional<Val> with;
  std::optional<Val> skip;
  bool last = false, reverse = false, tail = false, match = false;
};

struct SortOptions {
  bool case_ = false;
  std::optional<Val> skip;
  std::optional<Val> compare;
  std::optional<Val> part;
  bool all = false, reverse = false, stable = false;
};

struct TrimOptions {
  bool head = false, tail = false, auto_ = false, lines = false, all = false;
  std::optional<Val> with;
};

struct OpenOptions {
  bool new_ = false, read = false, write = false, seek = false;
  std::optional<Val> allow;
};

struct ReadOptions {
  std::optional<Val> part, seek;
  bool binary = false, lines = false, info = false;
  std::optional<Val> as;
};

struct WriteOptions {
  bool binary = false, lines = false, info = false, append = false;
  std::optional<Val> part, seek, allow, as;
};

// One step of a path: `value` is the value reached so far, and receives
// the value the selector leads to. In set mode at the last element,
// `new_value` is what is stored there.
struct PathStep {
  Val value;
  Val selector;
  const Cell* new_value;  // null unless setting
  Cell path;
  uint32_t index;         // the selector's position in the path
  bool last;
  bool get;
};

namespace action {
using MakeFn = void (*)(Val result, Val spec, TypeId type);
using RandomFn = void (*)(Val value, bool seed, bool secure, bool only);
using ReflectFn = void (*)(Val value, Val field);
using FormFn = int32_t (*)(Val value, Val out, int32_t part);
using MoldFn = int32_t (*)(Val value, Val out, const MoldOptions& options, int32_t part);
using PathFn = void (*)(PathStep& step);
using CompareFn = int (*)(const Cell& a, const Cell& b, CmpOp op);
using UnaryFn = void (*)(Val value);
using BinaryFn = void (*)(Val left, Val right);
using RoundFn = void (*)(Val value, const RoundOptions& options);
using PredicateFn = bool (*)(Val value);
using InsertFn = void (*)(Val series, Val value, int32_t part, bool only, int32_t dup);
using CopyFn = void (*)(Val value, std::optional<Val> part, bool deep, std::optional<Val> types);
using FindFn = void (*)(Val series, Val value, const FindOptions& options);
using LengthFn = int32_t (*)(Val series);  // -1: no length (the result is none)
using MoveFn = void (*)(Val origin, Val target, int32_t part);
using PickFn = void (*)(Val series, Val index, int32_t position);
using PokeFn = void (*)(Val series, Val index, int32_t position, Val value);
using PutFn = void (*)(Val series, Val key, Val value, bool case_);
using RemoveFn = void (*)(Val series, std::optional<Val> part, std::optional<Val> key);
using ReverseFn = void (*)(Val series, std::optional<Val> part, std::optional<Val> skip);
using SortFn = void (*)(Val series, const SortOptions& options);
using TakeFn = void (*)(Val series, std::optional<Val> part, bool deep, bool last);
using TrimFn = void (*)(Val series, const TrimOptions& options);
using ModifyFn = void (*)(Val target, Val field, Val value, bool case_);
using OpenFn = void (*)(Val port, const OpenOptions& options);
using ReadFn = void (*)(Val source, const ReadOptions& options);
using WriteFn = void (*)(Val destination, Val data, const WriteOptions& options);
}  // namespace action

// The actions in their fixed order: number, member name, function type.
#define KIV_ACTIONS(X)            \
  X(1, make, MakeFn)              \
  X(2, random, RandomFn)          \
  X(3, reflect, ReflectFn)        \
  X(4, to, MakeFn)                \
  X(5, form, FormFn)              \
  X(6, mold, MoldFn)              \
  X(7, eval_path, PathFn)         \
  X(8, set_path, PathFn)          \
  X(9, compare, CompareFn)        \
  X(10, absolute, UnaryFn)        \
  X(11, add, BinaryFn)            \
  X(12, divide, BinaryFn)         \
  X(13, multiply, BinaryFn)       \
  X(14, negate, UnaryFn)          \
  X(15, power, BinaryFn)          \
  X(16, remainder, BinaryFn)      \
  X(17, round, RoundFn)           \
  X(18, subtract, BinaryFn)       \
  X(19, even_q, PredicateFn)      \
  X(20, odd_q, PredicateFn)       \
  X(21, and_, BinaryFn)           \
  X(22, complement, UnaryFn)      \
  X(23, or_, BinaryFn)            \
  X(24, xor_, BinaryFn)           \
  X(25, append, InsertFn)         \
  X(26, at, BinaryFn)             \
  X(27, back, UnaryFn)            \
  X(28, change, InsertFn)         \
  X(29, clear, UnaryFn)           \
  X(30, copy, CopyFn)             \
  X(31, find, FindFn)             \
  X(32, head, UnaryFn)            \
  X(33, head_q, PredicateFn)      \
  X(34, index_q, LengthFn)        \
  X(35, insert, InsertFn)         \
  X(36, length_q, LengthFn)       \
  X(37, move, MoveFn)             \
  X(38, next, UnaryFn)            \
  X(39, pick, PickFn)             \
  X(40, poke, PokeFn)             \
  X(41, put, PutFn)               \
  X(42, remove, RemoveFn)         \
  X(43, reverse, ReverseFn)       \
  X(44, select, FindFn)           \
  X(45, sort, SortFn)             \
  X(46, skip, BinaryFn)           \
  X(47, swap, BinaryFn)           \
  X(48, tail, UnaryFn)            \
  X(49, tail_q, PredicateFn)      \
  X(50, take, TakeFn)             \
  X(51, trim, TrimFn)             \
  X(52, create, UnaryFn)          \
  X(53, close, UnaryFn)           \
  X(54, delete_, UnaryFn)         \
  X(55, modify, ModifyFn)         \
  X(56, open, OpenFn)             \
  X(57, open_q, PredicateFn)      \
  X(58, query, UnaryFn)           \
  X(59, read, ReadFn)             \
  X(60, rename, BinaryFn)         \
  X(61, update, UnaryFn)          \
  X(62, write, WriteFn)

inline constexpr int action_count = 62;

// Action numbers.
enum class ActionId : uint8_t {
#define KIV_ACTION_ID(number, name, Fn) name = number,
  KIV_ACTIONS(KIV_ACTION_ID)
#undef KIV_ACTION_ID
};

// One datatype's row of the action table: a function, or null when the
// datatype does not support the action.
struct ActionTable {
#define KIV_ACTION_MEMBER(number, name, Fn) action::Fn name = nullptr;
  KIV_ACTIONS(KIV_ACTION_MEMBER)
#undef KIV_ACTION_MEMBER
};

// A slot of a registration record: a function, nothing (unsupported), or
// `inherit`: the parent type's function, settled when the type registers.
struct InheritTag {};
inline constexpr InheritTag inherit{};

template <class Fn>
struct ActionSlot {
  Fn fn = nullptr;
  bool inherits = false;
  constexpr ActionSlot() = default;
  constexpr ActionSlot(Fn function) : fn(function) {}
  constexpr ActionSlot(InheritTag) : inherits(true) {}
};

struct ActionSlots {
#define KIV_ACTION_SLOT(number, name, Fn) ActionSlot<action::Fn> name;
  KIV_ACTIONS(KIV_ACTION_SLOT)
#undef KIV_ACTION_SLOT
};

}  // namespace kiv
