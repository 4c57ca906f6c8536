// The natives that make functions, read and write words, bind them to
// contexts, build objects and evaluate the parts of a block into a new
// block.
#pragma once

#include <cstdint>

#include "runtime/core/gc_safety.h"
#include "runtime/core/memory.h"
#include "runtime/eval/flow.h"

namespace kiv::natives {

// func spec body: a function! of the spec (checked) and body.
Flow native_func(const int32_t* refinements);
// function spec body /extern: func with the body's set-words (and loop
// words) made locals, but for those listed after /extern in the spec.
Flow native_function(const int32_t* refinements);
// does body: a function without arguments.
Flow native_does(const int32_t* refinements);
// has vars body: a function whose spec is /local and the vars.
Flow native_has(const int32_t* refinements);

// get word /any /case: the value of a word or a path, or an object's
// values. script/no-value for a word without a value, unless /any.
Flow native_get(const int32_t* refinements);
// set word value /any /case /only /some: sets a word, a path, an object's
// fields or the words of a block. script/need-value for an unset value
// without /any; script/invalid-arg for a block item that is no word.
Flow native_set(const int32_t* refinements);
// unset word: unsets a word or the words of a block.
Flow native_unset(const int32_t* refinements);
// value? word: whether the word has a value.
Flow native_value_q(const int32_t* refinements);

// bind word context /copy: binds a word, or the words of a block (deeply),
// to a context taken from a word, a function or an object.
Flow native_bind(const int32_t* refinements);
// in object word: the word bound to the object, or none.
Flow native_in(const int32_t* refinements);
// context? word: the object or function the word is bound to.
Flow native_context_q(const int32_t* refinements);
// construct block /with object /only: an object from an unevaluated spec.
Flow native_construct(const int32_t* refinements);
// extend obj spec /case: objects cannot grow (internal/not-done).
Flow native_extend(const int32_t* refinements);

// reduce value /into out: a block of the values of a block's expressions,
// or the value of one expression; with /into they go into `out`.
Flow native_reduce(const int32_t* refinements);
// reduce without refinements, for a native that reduces its first argument
// in place (print).
Flow reduce_first_argument();
// reduce of a block, in parts, for compiled code that works out some of
// its expressions itself. The values wait on the stack from cell `first`
// up, rooted, and move into the block `result` (none until the first
// batch) in batches: a short block (the common case) makes its result
// once, at its exact size, rather than at the size of the source (`most`
// cells, one an expression at least).
inline constexpr uint32_t reduce_batch = 16;  // few: each level of a recursion through reduce holds its batch
// After a value was pushed: a full batch moves into the block.
void reduce_collected(Val result, uint32_t first, uint32_t most);
// The expressions of `source` from `index` on, then the last batch.
Flow reduce_rest(Val result, uint32_t first, NodeId source, uint32_t index, uint32_t most);
// compose value /deep /only /into out: a copy of a block with its parens
// evaluated. script/expect-val for an /into target that is no list.
Flow native_compose(const int32_t* refinements);

// new-line position value /all /skip size: sets or clears new-line markers.
// script/out-of-range for a size below 1.
Flow native_new_line(const int32_t* refinements);
// new-line? position: whether the value there has the new-line marker.
Flow native_new_line_q(const int32_t* refinements);

// apply func args /all /safer: calls a function with its arguments taken
// from a block. script/invalid-arg for a word or path without a function.
Flow native_apply(const int32_t* refinements);

}  // namespace kiv::natives
