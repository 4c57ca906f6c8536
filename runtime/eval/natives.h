// The natives table and the action entries: the built-in functions that
// native! and action! values call, by index.
#pragma once

#include <cstdint>

#include <optional>
#include <string_view>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/native.h"
#include "runtime/eval/flow.h"

namespace kiv::natives {

// Entry `index` (from 1), or null when there is none.
native::Entry entry(uint32_t index);
// The spec text of native `index` (from 1), empty when there is none.
std::string_view spec_text(uint32_t index);
uint32_t count();
// The comparison that native `index` makes of its two arguments, if it is
// one of the comparison natives (equal?, lesser? ...).
std::optional<CmpOp> comparison_of(uint32_t index);
// Whether native `index` is `all` or `any`, one of the conditionals that
// run a block (`if`, `unless` and `either`), `loop` or `while`,
// `reduce`, or `return`.
enum class Condition : uint8_t { other, all, any, if_, unless, either, loop, while_, reduce, return_ };
Condition condition_of(uint32_t index);

// The steps that loops share (compiled code runs loop and while with
// them too).
enum class Round { next, stop };
// Reads what a loop body's exit means for the loop: break stops (the exit
// is over), continue goes on, anything else passes outwards (Flow::exit).
Flow loop_round(Flow flow, Round* round);
// A loop's own frame, the target of break and continue, its value unset.
void open_loop();
// The rounds a count asks for: a float's whole part.
int64_t loop_count(const Cell& count);

// Whether native `index` only reads the series it is given (it may run
// code, whose own calls say what they write): its calls leave compiled
// blocks alone (compiled_blocks.h).
bool reads_only(uint32_t index);

// Makes every native! value from its spec and sets its global word.
void init();

}  // namespace kiv::natives

namespace kiv::action_entries {

// The generic entry of action `number` (1-62), or null (set-path has none).
native::Entry entry(uint32_t number);
// The spec text of action `number` (1-62), empty when it has no entry.
std::string_view spec_text(uint32_t number);
// The arithmetic of action `number`, if it is add, subtract, multiply,
// divide or remainder.
std::optional<MathOp> arithmetic_of(uint32_t number);
// Whether action `number` is pick.
bool is_pick(uint32_t number);
// Whether action `number` only reads the series it is given (see
// natives::reads_only).
bool reads_only(uint32_t number);
// Whether pick of `series` by an integer is the cell at that position (or
// none beyond either end): the commonest pick, of an any-block! whose
// datatype picks as series do.
bool picks_cells(const Cell& series);

// Makes every action! value and sets its global word.
void init();
// Makes the infix operators (+, =, ...) of the actions and natives.
void init_operators();

}  // namespace kiv::action_entries
