#include "runtime/eval/native_parse.h"

#include <algorithm>
#include <optional>

#include "runtime/core/error_raise.h"
#include "runtime/core/exits.h"
#include "runtime/core/series.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/native_args.h"
#include "runtime/eval/parse.h"

namespace kiv::natives {
namespace {

enum class ParseRefinement { case_, part, trace };

// The /part limit as an index from the input buffer's head, or nothing
// when it leaves no room to match.
std::optional<uint32_t> limit_of(const Cell& input, const Cell& length) {
  int64_t room = 0;
  if (cell::is(length, TypeId::integer)) {
    room = cell::get_int32(length);
  } else if (cell::type_of(length) == cell::type_of(input) && series::node_of(length) == series::node_of(input)) {
    room = int64_t{series::index_of(length)} - series::index_of(input);
  } else {
    error::raise(error_id::script::invalid_refine_arg,
                 word::make(TypeId::refinement, no_node, symbol::make("part"), word::unresolved), length);
  }
  if (room < 1) return std::nullopt;
  return static_cast<uint32_t>(std::min<int64_t>(int64_t{series_type::head(input)} + room, UINT32_MAX - 1));
}

}  // namespace

Flow native_parse(const int32_t* refinements) {
  using enum ParseRefinement;
  using native_args::arg;
  Val input = arg(0);
  parse::Options options;
  options.case_sensitive = native_args::used(refinements, case_);
  if (const auto length = native_args::refinement_if_used(refinements, part)) {
    const std::optional<uint32_t> limit = limit_of(*input, **length);
    if (!limit) return native_args::answer(logic::make(series_type::length(*input) == 0));
    options.limit = *limit;
  }
  if (const auto tracer = native_args::refinement_if_used(refinements, trace)) options.tracer = **tracer;
  Val result = stack::push_slot();
  try {
    KIV_PROPAGATE(parse::run(input, arg(1), options, result));
  } catch (const Unwind& unwind) {
    return interpreter::exit_flow(unwind);  // an exit that crossed the engine as an exception
  }
  return native_args::answer(*result);
}

}  // namespace kiv::natives
