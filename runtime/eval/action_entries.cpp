// The generic action entries: what an action! value calls. Each takes its
// arguments from the current window, turns refinements into the datatype
// function's arguments, and dispatches on the datatype of the first
// argument.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "runtime/check.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/lexer.h"
#include "runtime/eval/native_args.h"
#include "runtime/eval/natives.h"
#include "runtime/mold.h"

namespace kiv::action_entries {
namespace {

using stack::ArgStack;

using native_args::arg;
using native_args::used;
// Action functions take a refinement's argument as an optional.
template <class Refinement>
std::optional<Val> refinement_arg(const int32_t* refinements, Refinement which) {
  return native_args::refinement_if_used(refinements, which);
}
Flow done() {
  ArgStack::keep();
  return Flow::normal;
}

// A datatype's function for an action; a type without one raises
// script/expect-arg naming the function, the type and the argument (the
// action's first: it dispatches on that one).
template <class Fn>
Fn lookup(Fn fn, const Cell& value) {
  if (!fn) check::raise_expect_arg(value, 0);
  return fn;
}

const ActionTable& of(const Cell& value) { return datatype::actions(cell::type_of(value)); }

// make and to: the first argument names the type (or is an example).
template <bool to>
Flow make_or_to(const int32_t*) {
  const Cell target = *arg(0);
  const TypeId type = cell::is(target, TypeId::datatype) ? datatype::get(target) : cell::type_of(target);
  const ActionTable& table = datatype::actions(type);
  const action::MakeFn fn = to ? table.to : table.make;
  if (!fn) error::raise(to ? error_id::script::bad_to_arg : error_id::script::bad_make_arg, datatype::make(type), *arg(1));
  fn(arg(0), arg(1), type);
  return done();
}

enum class RandomRefinement { seed, secure, only };

Flow random_entry(const int32_t* r) {
  using enum RandomRefinement;
  lookup(of(*arg(0)).random, *arg(0))(arg(0), used(r, seed), used(r, secure), used(r, only));
  return done();
}

Flow reflect_entry(const int32_t*) {
  lookup(of(*arg(0)).reflect, *arg(0))(arg(0), arg(1));
  return done();
}

enum class FormRefinement { part };
enum class MoldRefinement { only, all, flat, part };

// form and mold: into a new string, cut at a /part limit.
template <class Refinement>
Flow text_of(bool molding, const int32_t* r, const MoldOptions& options, Refinement part_refinement) {
  int32_t limit = 0x7FFFFFFF;
  if (const auto part = refinement_arg(r, part_refinement)) limit = cell::get_int32(**part);
  Val out = string::push_new(16);
  if (limit > 0) {
    if (molding) mold::mold_value(arg(0), out, options, limit);
    else mold::form_value(arg(0), out, limit);
    const SeriesBuf* buf = memory::buffer(series::node_of(*out));
    if (limit != 0x7FFFFFFF && buf->length() > static_cast<uint32_t>(limit))
      memory::buffer(series::node_of(*out))->tail = buf->head + static_cast<uint32_t>(limit) * buf->unit();
  }
  *arg(0) = *out;
  return done();
}

Flow form_entry(const int32_t* r) { return text_of(false, r, {}, FormRefinement::part); }
Flow mold_entry(const int32_t* r) {
  using enum MoldRefinement;
  return text_of(true, r, {.only = used(r, only), .all = used(r, all), .flat = used(r, flat)}, part);
}

template <action::UnaryFn ActionTable::*slot>
Flow unary(const int32_t*) {
  lookup(of(*arg(0)).*slot, *arg(0))(arg(0));
  return done();
}

template <action::BinaryFn ActionTable::*slot>
Flow binary(const int32_t*) {
  lookup(of(*arg(0)).*slot, *arg(0))(arg(0), arg(1));
  return done();
}

template <action::PredicateFn ActionTable::*slot>
Flow predicate(const int32_t*) {
  const bool answer = lookup(of(*arg(0)).*slot, *arg(0))(arg(0));
  *arg(0) = logic::make(answer);
  return done();
}

template <action::LengthFn ActionTable::*slot>
Flow counter(const int32_t*) {
  const int32_t answer = lookup(of(*arg(0)).*slot, *arg(0))(arg(0));
  *arg(0) = answer < 0 ? none::make() : Cell{cell::header(TypeId::integer), 0, static_cast<uint32_t>(answer), 0};
  return done();
}

enum class RoundRefinement { to, even, down, half_down, floor, ceiling, half_ceiling };

Flow round_entry(const int32_t* r) {
  using enum RoundRefinement;
  const RoundOptions options{.scale = refinement_arg(r, to),
                             .even = used(r, even),
                             .down = used(r, down),
                             .half_down = used(r, half_down),
                             .floor = used(r, floor),
                             .ceiling = used(r, ceiling),
                             .half_ceiling = used(r, half_ceiling)};
  lookup(of(*arg(0)).round, *arg(0))(arg(0), options);
  return done();
}

// A word of the action's spec, for error reports.
Cell spec_word(TypeId type, std::string_view name) {
  return word::make(type, no_node, symbol::make(name), word::unresolved);
}

// The /part count of append, insert and change: an integer, or a position
// in `counted`, the series the count is taken in (the count is the
// distance to it, negative when it lies before). A position in another
// series raises script/invalid-part, or for change script/invalid-refine-arg.
std::optional<int64_t> part_count(const std::optional<Val>& part, const Cell& counted, bool changing) {
  if (!part) return std::nullopt;
  const Cell given = **part;
  if (cell::is(given, TypeId::integer)) return cell::get_int32(given);
  const Cell refinement = spec_word(TypeId::refinement, "part");
  if (type_traits::is_series(cell::type_of(given))) {
    const bool same_series =
        type_traits::is_series(cell::type_of(counted)) && series::node_of(given) == series::node_of(counted);
    if (!same_series) {
      if (changing) error::raise(error_id::script::invalid_refine_arg, refinement, given);
      error::raise(error_id::script::invalid_part, given);
    }
    return static_cast<int64_t>(series_type::head(given)) - static_cast<int64_t>(series_type::head(counted));
  }
  error::raise(error_id::script::invalid_refine_arg, refinement, given);
}

// append, insert and change alike.
enum class InsertRefinement { part, only, dup };

// A negative /part count reaches back from the start of `counted`: the
// start moves back by it (not below the head) and the count becomes the
// number of units passed over. Answers false when that leaves nothing to
// do: `counted` is at its head, or not a series at all.
bool reach_back(Val counted, int64_t& count) {
  if (!type_traits::is_series(cell::type_of(*counted))) return false;
  const int64_t from = series_type::head(*counted);
  const int64_t start = std::max<int64_t>(from + count, 0);
  counted->w1 = static_cast<uint32_t>(start);
  count = from - start;
  return count > 0;
}

// append and insert: /part counts in the value the cells come from, and a
// /part or /dup of nothing does nothing. change: /part counts in the series
// it changes, and a /part of 0 replaces nothing, so it inserts. The count
// reaches the datatype as a number of units, or -1 when /part is unused.
template <action::InsertFn ActionTable::*slot>
[[gnu::noinline]] Flow insertion_counted(const int32_t* r) {
  using enum InsertRefinement;
  constexpr bool changing = slot == &ActionTable::change;
  Val counted = changing ? arg(0) : arg(1);
  // Asked only when used: an empty optional handed down would be copied
  // whole just after its flag byte was stored, a stall on every call.
  std::optional<int64_t> count = used(r, part) ? part_count(refinement_arg(r, part), *counted, changing) : std::nullopt;
  int32_t copies = 1;
  if (const auto dup_count = refinement_arg(r, dup)) copies = cell::get_int32(**dup_count);
  if (copies <= 0) return done();
  if (count && *count < 0 && !reach_back(counted, *count)) return done();
  if (count && *count == 0 && !changing) return done();
  const int32_t part_units = count ? static_cast<int32_t>(std::min<int64_t>(*count, INT32_MAX)) : -1;
  lookup(of(*arg(0)).*slot, *arg(0))(arg(0), arg(1), part_units, used(r, only), copies);
  return done();
}

// Neither /part nor /dup, the common call, goes straight to the datatype;
// the counted forms are out of line, so that this one keeps a small frame.
template <action::InsertFn ActionTable::*slot>
Flow insertion(const int32_t* r) {
  using enum InsertRefinement;
  if (used(r, part) || used(r, dup)) return insertion_counted<slot>(r);
  Val series = arg(0);
  lookup(of(*series).*slot, *series)(series, arg(1), -1, used(r, only), 1);
  return done();
}

enum class CopyRefinement { part, deep, types };

// copy/types takes a typeset! only.
Flow copy_entry(const int32_t* r) {
  using enum CopyRefinement;
  if (const auto kind = refinement_arg(r, types); kind && !cell::is(**kind, TypeId::typeset))
    error::raise(error_id::script::expect_arg, stack::caller_name(), datatype::make(cell::type_of(**kind)),
                 spec_word(TypeId::word, "kind"));
  lookup(of(*arg(0)).copy, *arg(0))(arg(0), refinement_arg(r, part), used(r, deep), refinement_arg(r, types));
  return done();
}

int32_t index_of(const Cell& index) {
  switch (cell::type_of(index)) {
    case TypeId::integer:
    case TypeId::char_: return cell::get_int32(index);
    case TypeId::logic: return index.w1 ? 1 : 2;
    default: return 0;
  }
}

Flow pick_entry(const int32_t*) {
  Val series = arg(0);
  const ActionTable& table = of(*series);
  // A cell series picked by an integer, the commonest pick: the cell is
  // read here rather than through the series pick and its unit dispatch.
  if (picks_cells(*series) && cell::is(*arg(1), TypeId::integer)) {
    *series = series_type::pick_cell(*series, cell::get_int32(*arg(1)));
    return done();
  }
  lookup(table.pick, *series)(series, arg(1), index_of(*arg(1)));
  return done();
}

Flow poke_entry(const int32_t*) {
  lookup(of(*arg(0)).poke, *arg(0))(arg(0), arg(1), index_of(*arg(1)), arg(2));
  return done();
}

enum class RemoveRefinement { part, key };

Flow remove_entry(const int32_t* r) {
  using enum RemoveRefinement;
  lookup(of(*arg(0)).remove, *arg(0))(arg(0), refinement_arg(r, part), refinement_arg(r, key));
  return done();
}

enum class ReverseRefinement { part, skip };

Flow reverse_entry(const int32_t* r) {
  using enum ReverseRefinement;
  lookup(of(*arg(0)).reverse, *arg(0))(arg(0), refinement_arg(r, part), refinement_arg(r, skip));
  return done();
}

enum class TakeRefinement { part, deep, last };

Flow take_entry(const int32_t* r) {
  using enum TakeRefinement;
  lookup(of(*arg(0)).take, *arg(0))(arg(0), refinement_arg(r, part), used(r, deep), used(r, last));
  return done();
}

enum class MoveRefinement { part };

Flow move_entry(const int32_t* r) {
  int32_t part = -1;
  if (const auto count = refinement_arg(r, MoveRefinement::part)) part = cell::get_int32(**count);
  lookup(of(*arg(0)).move, *arg(0))(arg(0), arg(1), part);
  return done();
}

// find and select share their refinements; select has no /tail or /match.
enum class FindRefinement { part, only, case_, same, any, with, skip, last, reverse, tail, match };

template <bool selecting>
Flow search_entry(const int32_t* r) {
  using enum FindRefinement;
  FindOptions options{.part = refinement_arg(r, part),
                      .only = used(r, only),
                      .case_ = used(r, case_),
                      .same = used(r, same),
                      .any = used(r, any),
                      .with = refinement_arg(r, with),
                      .skip = refinement_arg(r, skip),
                      .last = used(r, last),
                      .reverse = used(r, reverse)};
  if (!selecting) {
    options.tail = used(r, tail);
    options.match = used(r, match);
  }
  const ActionTable& table = of(*arg(0));
  lookup(selecting ? table.select : table.find, *arg(0))(arg(0), arg(1), options);
  return done();
}

enum class SortRefinement { case_, skip, compare, part, all, reverse, stable };

Flow sort_entry(const int32_t* r) {
  using enum SortRefinement;
  const SortOptions options{.case_ = used(r, case_),
                            .skip = refinement_arg(r, skip),
                            .compare = refinement_arg(r, compare),
                            .part = refinement_arg(r, part),
                            .all = used(r, all),
                            .reverse = used(r, reverse),
                            .stable = used(r, stable)};
  lookup(of(*arg(0)).sort, *arg(0))(arg(0), options);
  return done();
}

// put and modify: /case.
enum class CaseRefinement { case_ };

Flow put_entry(const int32_t* r) {
  lookup(of(*arg(0)).put, *arg(0))(arg(0), arg(1), arg(2), used(r, CaseRefinement::case_));
  return done();
}

Flow modify_entry(const int32_t* r) {
  lookup(of(*arg(0)).modify, *arg(0))(arg(0), arg(1), arg(2), used(r, CaseRefinement::case_));
  return done();
}

enum class OpenRefinement { new_, read, write, seek, allow };

Flow open_entry(const int32_t* r) {
  using enum OpenRefinement;
  const OpenOptions options{.new_ = used(r, new_),
                            .read = used(r, read),
                            .write = used(r, write),
                            .seek = used(r, seek),
                            .allow = refinement_arg(r, allow)};
  lookup(of(*arg(0)).open, *arg(0))(arg(0), options);
  return done();
}

enum class ReadRefinement { part, seek, binary, lines, info, as };

Flow read_entry(const int32_t* r) {
  using enum ReadRefinement;
  const ReadOptions options{.part = refinement_arg(r, part),
                            .seek = refinement_arg(r, seek),
                            .binary = used(r, binary),
                            .lines = used(r, lines),
                            .info = used(r, info),
                            .as = refinement_arg(r, as)};
  lookup(of(*arg(0)).read, *arg(0))(arg(0), options);
  return done();
}

enum class WriteRefinement { binary, lines, info, append, part, seek, allow, as };

Flow write_entry(const int32_t* r) {
  using enum WriteRefinement;
  const WriteOptions options{.binary = used(r, binary),
                             .lines = used(r, lines),
                             .info = used(r, info),
                             .append = used(r, append),
                             .part = refinement_arg(r, part),
                             .seek = refinement_arg(r, seek),
                             .allow = refinement_arg(r, allow),
                             .as = refinement_arg(r, as)};
  lookup(of(*arg(0)).write, *arg(0))(arg(0), arg(1), options);
  return done();
}

enum class TrimRefinement { head, tail, auto_, lines, all, with };

Flow trim_entry(const int32_t* r) {
  using enum TrimRefinement;
  const TrimOptions options{.head = used(r, head),
                            .tail = used(r, tail),
                            .auto_ = used(r, auto_),
                            .lines = used(r, lines),
                            .all = used(r, all),
                            .with = refinement_arg(r, with)};
  lookup(of(*arg(0)).trim, *arg(0))(arg(0), options);
  return done();
}

struct ActionSpec {
  std::string_view name;
  std::string_view spec;
  native::Entry entry;
};

// In action order. Actions whose datatypes' work is not built yet have no
// entry: their words stay unset.
const std::array<ActionSpec, 62> table = {{
    {"make", R"~("Returns a new value made from a spec for that value's type" type [any-type!] "The datatype, an example or prototype value" spec [any-type!] "What the new value is made from")~", make_or_to<false>},
    {"random", R"~("Returns a random value of the same datatype; or shuffles series" value "Maximum value of result (modified when series)" /seed "Restart or randomize" /secure "Returns a cryptographically secure random number" /only "Pick a random value from a series" return: [any-type!])~", random_entry},
    {"reflect", R"~("Returns internal details about a value via reflection" value [any-type!] field [word!] "spec, body, words, etc. Each datatype defines its own reflectors")~", reflect_entry},
    {"to", R"~("Converts to a specified datatype" type [any-type!] "The datatype or example value" spec [any-type!] "The attributes of the new value")~", make_or_to<true>},
    {"form", R"~("Returns a user-friendly string representation of a value" value [any-type!] /part "Limit the length of the result" limit [integer!] return: [string!])~", form_entry},
    {"mold", R"~("Returns a source format string representation of a value" value [any-type!] /only "Exclude outer brackets if value is a block" /all "Return value in loadable format" /flat "Exclude all indentation" /part "Limit the length of the result" limit [integer!] return: [string!])~", mold_entry},
    {"", "", nullptr},  // eval-path: no word of its own
    {"", "", nullptr},  // set-path: no word of its own
    {"", "", nullptr},  // compare: through the comparison natives
    {"absolute", R"~("Returns the non-negative value" value)~", unary<&ActionTable::absolute>},
    {"add", R"~("Returns the sum of the two values" value1 value2)~", binary<&ActionTable::add>},
    {"divide", R"~("Returns the quotient of two values" value1 "The dividend (numerator)" value2 "The divisor (denominator)")~", binary<&ActionTable::divide>},
    {"multiply", R"~("Returns the product of two values" value1 value2)~", binary<&ActionTable::multiply>},
    {"negate", R"~("Returns the opposite (additive inverse) value" number)~", unary<&ActionTable::negate>},
    {"power", R"~("Returns a number raised to a given power (exponent)" number "Base value" exponent "The power (index) to raise the base value by")~", binary<&ActionTable::power>},
    {"remainder", R"~("Returns what is left over when one value is divided by another" value1 value2)~", binary<&ActionTable::remainder>},
    {"round", R"~("Returns the nearest integer. Halves round up (away from zero) by default" n /to "Return the nearest multiple of the scale parameter" scale "Must be a non-zero value" /even "Halves round toward even results" /down "Round toward zero, ignoring discarded digits. (truncate)" /half-down "Halves round toward zero" /floor "Round in negative direction" /ceiling "Round in positive direction" /half-ceiling "Halves round in positive direction")~", round_entry},
    {"subtract", R"~("Returns the difference between two values" value1 value2)~", binary<&ActionTable::subtract>},
    {"even?", R"~("Returns true if the number is evenly divisible by 2" number return: [logic!])~", predicate<&ActionTable::even_q>},
    {"odd?", R"~("Returns true if the number has a remainder of 1 when divided by 2" number return: [logic!])~", predicate<&ActionTable::odd_q>},
    {"and~", R"~("Returns the first value ANDed with the second" value1 value2)~", binary<&ActionTable::and_>},
    {"complement", R"~("Returns the opposite (complementing) value of the input value" value)~", unary<&ActionTable::complement>},
    {"or~", R"~("Returns the first value ORed with the second" value1 value2)~", binary<&ActionTable::or_>},
    {"xor~", R"~("Returns the first value exclusive ORed with the second" value1 value2)~", binary<&ActionTable::xor_>},
    {"append", R"~("Inserts value(s) at series tail; returns series head" series value [any-type!] /part "Limit the number of values inserted" length /only "Insert block types as single values (overrides /part)" /dup "Duplicate the inserted values" count [integer!])~", insertion<&ActionTable::append>},
    {"at", R"~("Returns a series at a given index" series index)~", binary<&ActionTable::at>},
    {"back", R"~("Returns a series at the previous index" series)~", unary<&ActionTable::back>},
    {"change", R"~("Changes a value in a series and returns the series after the change" series "Series at point to change" value [any-type!] "The new value" /part "Limits the amount to change to a given length or position" range /only "Changes a series as a series." /dup "Duplicates the change a specified number of times" count [integer!])~", insertion<&ActionTable::change>},
    {"clear", R"~("Removes series values from current index to tail; returns new tail" series)~", unary<&ActionTable::clear>},
    {"copy", R"~("Returns a copy of a non-scalar value" value /part "Limit the length of the result" length /deep "Copy nested values" /types "Copy only specific types of non-scalar values" kind)~", copy_entry},
    {"find", R"~("Returns the series where a value is found, or NONE" series value [any-type!] /part "Limit the length of the search" length /only "Treat a series search value as a single value" /case "Perform a case-sensitive search" /same {Use "same?" as comparator} /any "Use * and ? wildcards in string searches" /with "Use custom wildcards in place of * and ?" wild [string!] /skip "Treat the series as fixed size records" size [integer!] /last "Find the last occurrence of value, from the tail" /reverse "Find the last occurrence of value, from the current index" /tail "Return the tail of the match found, rather than the head" /match "Match at current index only")~", search_entry<false>},
    {"head", R"~("Returns a series at its first index" series)~", unary<&ActionTable::head>},
    {"head?", R"~("Returns true if a series is at its first index" series return: [logic!])~", predicate<&ActionTable::head_q>},
    {"index?", R"~("Returns the current index of series relative to the head, or of word in a context" series)~", counter<&ActionTable::index_q>},
    {"insert", R"~("Inserts value(s) at series index; returns series past the insertion" series value [any-type!] /part "Limit the number of values inserted" length /only "Insert block types as single values (overrides /part)" /dup "Duplicate the inserted values" count [integer!])~", insertion<&ActionTable::insert>},
    {"length?", R"~("Returns the number of values in the series, from the current index to the tail" series)~", counter<&ActionTable::length_q>},
    {"move", R"~("Moves one or more elements from one series to another position or series" origin target /part "Limit the number of values inserted" length [integer!])~", move_entry},
    {"next", R"~("Returns a series at the next index" series)~", unary<&ActionTable::next>},
    {"pick", R"~("Returns the series value at a given index" series index)~", pick_entry},
    {"poke", R"~("Replaces the series value at a given index, and returns the new value" series index value [any-type!])~", poke_entry},
    {"put", R"~("Replaces the value following a key, or adds the key and value; returns the value" series key value [any-type!] /case "Perform a case-sensitive search")~", put_entry},
    {"remove", R"~("Returns the series at the same index after removing a value" series /part "Removes a number of values, or values up to the given series index" length /key "Removes a key in map" key-arg)~", remove_entry},
    {"reverse", R"~("Reverses the order of elements; returns at same position" series /part "Limits to a given length or position" length /skip "Treat the series as fixed size records" size [integer!])~", reverse_entry},
    {"select", R"~("Find a value in a series and return the next value, or NONE" series value [any-type!] /part "Limit the length of the search" length /only "Treat a series search value as a single value" /case "Perform a case-sensitive search" /same {Use "same?" as comparator} /any "Use * and ? wildcards in string searches" /with "Use custom wildcards in place of * and ?" wild [string!] /skip "Treat the series as fixed size records" size [integer!] /last "Find the last occurrence of value, from the tail" /reverse "Find the last occurrence of value, from the current index")~", search_entry<true>},
    {"sort", R"~("Sorts a series (modified); default sort order is ascending" series /case "Perform a case-sensitive sort" /skip "Treat the series as fixed size records" size [integer!] /compare "Comparator offset, or function that answers whether its first argument goes first" comparator [integer! any-function!] /part "Sort only part of a series" length /all "Compare all fields" /reverse "Reverse sort order" /stable "Stable sorting")~", sort_entry},
    {"skip", R"~("Returns the series relative to the current index" series offset)~", binary<&ActionTable::skip>},
    {"swap", R"~("Swaps elements between two series or the same series" series1 series2)~", binary<&ActionTable::swap>},
    {"tail", R"~("Returns a series at the index after its last value" series)~", unary<&ActionTable::tail>},
    {"tail?", R"~("Returns true if a series is past its last value" series return: [logic!])~", predicate<&ActionTable::tail_q>},
    {"take", R"~("Removes and returns one or more elements" series /part "Specifies a length or end position" length /deep "Copy nested values" /last "Take it from the tail end")~", take_entry},
    {"trim", R"~("Removes space from a string or NONE from a block" series /head "Removes only from the head" /tail "Removes only from the tail" /auto "Auto indents lines relative to first line" /lines "Removes all line breaks and extra spaces" /all "Removes all whitespace" /with "Same as /all, but removes characters in 'str'" str)~", trim_entry},
    {"create", R"~("Asks a port to create its resource" port)~", unary<&ActionTable::create>},
    {"close", R"~("Closes a port" port)~", unary<&ActionTable::close>},
    {"delete", R"~("Deletes a file, an empty directory or a port's resource" target)~", unary<&ActionTable::delete_>},
    {"modify", R"~("Changes a property of a value; returns the value given" target field [word!] value [any-type!] /case "Perform a case-sensitive search")~", modify_entry},
    {"open", R"~("Opens a port" port /new "Creates the resource anew" /read "For reading" /write "For writing" /seek "For access at any position" /allow "With the given access rights" access [block!])~", open_entry},
    {"open?", R"~("Returns true when a port is open" port return: [logic!])~", predicate<&ActionTable::open_q>},
    {"query", R"~("Returns facts about a file or a port" target)~", unary<&ActionTable::query>},
    {"read", R"~("Reads from a file, a URL or a port" source /part "Reads at most this many units" length [number! series!] /seek "Reads from this position" index [number!] /binary "Keeps the bytes as they are" /lines "Gives a block of lines" /info "Gives facts with the content" /as "Decodes the text from this encoding" encoding [word!])~", read_entry},
    {"rename", R"~("Renames a file or a port's resource" from to)~", binary<&ActionTable::rename>},
    {"update", R"~("Brings a port's outer and inner states in line" port)~", unary<&ActionTable::update>},
    {"write", R"~("Writes to a file, a URL or a port" destination data [any-type!] /binary "Writes the bytes as they are" /lines "Writes a block as lines" /info "Gives facts with the result" /append "Adds to the end" /part "Writes at most this many units" length /seek "Writes from this position" index [number!] /allow "With the given access rights" access [block!] /as "Encodes the text in this encoding" encoding [word!])~", write_entry},
}};

// Infix operators over actions and natives.
struct Operator {
  std::string_view name;
  std::string_view function;
};
constexpr Operator operators[] = {
    {"+", "add"},         {"-", "subtract"},  {"*", "multiply"},         {"/", "divide"},
    {"//", "remainder"},  {"%", "remainder"},  {"=", "equal?"},    {"<>", "not-equal?"},      {"==", "strict-equal?"},
    {"=?", "same?"},      {"<", "lesser?"},   {">", "greater?"},         {"<=", "lesser-or-equal?"},
    {">=", "greater-or-equal?"}, {"**", "power"}, {"and", "and~"},       {"or", "or~"},
    {"xor", "xor~"},
};

}  // namespace

native::Entry entry(uint32_t number) {
  if (number < 1 || number > table.size()) return nullptr;
  return table[number - 1].entry;
}

std::string_view spec_text(uint32_t number) {
  if (number < 1 || number > table.size() || !table[number - 1].entry) return {};
  return table[number - 1].spec;
}

std::optional<MathOp> arithmetic_of(uint32_t number) {
  const native::Entry found = entry(number);
  if (found == binary<&ActionTable::add>) return MathOp::add;
  if (found == binary<&ActionTable::subtract>) return MathOp::subtract;
  if (found == binary<&ActionTable::multiply>) return MathOp::multiply;
  if (found == binary<&ActionTable::divide>) return MathOp::divide;
  if (found == binary<&ActionTable::remainder>) return MathOp::remainder;
  return std::nullopt;
}

bool is_pick(uint32_t number) { return entry(number) == pick_entry; }

bool reads_only(uint32_t number) {
  static constexpr std::string_view readers[] = {"pick", "length?", "index?", "head?", "tail?", "past?", "select",
                                                 "find", "at",      "skip",   "next",  "back",  "head",  "tail",
                                                 "copy", "mold",   "form"};
  if (number < 1 || number > table.size()) return false;
  const std::string_view name = table[number - 1].name;
  for (const std::string_view reader : readers)
    if (name == reader) return true;
  return false;
}

bool picks_cells(const Cell& series) {
  return type_traits::is_any_block(cell::type_of(series)) && of(series).pick == series_type::pick;
}

void init() {
  for (uint32_t i = 0; i < table.size(); ++i)
    if (table[i].entry) native::define(TypeId::action, i + 1, table[i].name, table[i].spec);
}

void init_operators() {
  for (const Operator& op : operators) {
    const Cell function = *context::get(word::intern(op.function));
    if (cell::is(function, TypeId::unset)) continue;
    Val value = ArgStack::push(native::make_op(function));
    Val word = ArgStack::push(word::intern(op.name));
    context::set(word, value);
    stack::pop(2);
  }
}

}  // namespace kiv::action_entries
