// The lexer: Kiv source text (UTF-8) into values.
//
// `scan_utf8` reads the text one token at a time and builds the values of
// the text on a value stack of its own (a cell series rooted for the length
// of the scan), keeping open blocks, parens, maps and paths as frames; a
// closing bracket turns the cells of its frame into one series. Three modes:
//
//   load     the values are built: the output is a block! of them (or, with
//            `one`, only the first value; or they are appended to a block
//            given with `into`);
//   scan     every token is checked and typed, nothing is built: the result
//            is the datatype of the first value, error! when it is invalid;
//   prescan  only the tokens are recognised, not checked: the result is the
//            datatype the first token's form suggests.
//
// Syntax errors are raised in category `syntax` (`invalid` with the
// datatype, `missing` with the missing character, `bad-char`,
// `malconstruct`); the first argument is the position text "(line N)", the
// last the text near the error (from the token start up to a line end or
// about 30 bytes). In the scan modes an invalid token is only typed error!.
//
// A callback (the `/trace` function of `transcode`) sees lexer events:
//
//   prescan  before a token is processed; false skips the token
//   scan     a value token was recognised and checked; false skips it
//   load     a value was built; false drops it again
//   open     a block, paren, map, path, braced or raw string starts
//   close    it ends
//   error    a syntax error; false abandons the token and goes on, true
//            raises the error
//
// It is a C++ function so that the evaluator can plug a Kiv function in:
// that adapter takes the event mask from the block that begins the
// function's body, runs the function under a call frame named
// <lexer-callback>, and builds its arguments (the event word, the input series
// at `input`, the type as a datatype! or the kind's name, the line, the
// loaded value or a pair! of the 1-based token offsets) and writes the
// index of the input argument back to `input` when the function moved it.
//
// Positions handed to the callback and the consumed count are in source
// units: bytes for UTF-8 text and binary! sources, characters for string!
// sources (Options::count_chars).
//
// The refinements of `transcode` map onto the options: /scan and /prescan
// are the modes; /one is `one` without `wrap` (the value itself); /next is
// `one` with `wrap`, the rest of the source being `consumed` units on;
// /part is the `limit` of scan_series; /into is `into`; /trace is the
// callback.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"

namespace kiv::lexer {

// Token kinds. The numbers are seen by callbacks (a kind without a datatype
// is reported as -(kind + 1)).
enum class Kind : uint8_t {
  eof = 0,
  error = 1,
  block_open = 2,
  block_close = 3,
  paren_open = 4,
  paren_close = 5,
  brace_open = 6,
  brace_close = 7,  // a whole braced string {...}
  map_open = 8,
  path_head = 9,
  construct = 10,
  comment = 11,
  comma = 12,
  string = 13,
  word = 14,
  issue = 15,
  integer = 16,
  refinement = 17,
  char_ = 18,
  file = 19,
  binary = 20,
  percent = 21,
  float_ = 22,
  float_special = 23,
  tuple = 24,
  date = 25,
  pair = 26,
  point = 27,
  time = 28,
  money = 29,
  tag = 30,
  url = 31,
  email = 32,
  hex = 33,
  raw_string = 34,
  ref = 35,
};
inline constexpr int kind_count = 36;

// The event name of a kind: "eof", "error!", "block!", ... One name per
// kind: the comma kind is "comma" and the point kind "point2D!".
std::string_view kind_name(Kind kind);
// The datatype a kind's tokens make (TypeId::none_type for brackets,
// comments and the other kinds that make no value by themselves).
TypeId kind_type(Kind kind);

enum class Mode : uint8_t { load, scan, prescan };

enum class Event : uint8_t { prescan = 0, scan = 1, load = 2, open = 3, close = 4, error = 5 };
constexpr uint32_t event_bit(Event event) { return 1u << static_cast<unsigned>(event); }
inline constexpr uint32_t all_events = 0x3F;

struct EventInfo {
  Event event;
  // A datatype id (> 0), -(kind + 1) for a kind without a datatype, or 0.
  int32_t type;
  int32_t line;
  // The token, 0-based from the start of the text, end exclusive. A point
  // literal's token starts at its "(".
  int64_t token_start;
  int64_t token_end;
  // load events: the value built (kept alive by the lexer during the call).
  Cell value;
};

struct Callback {
  // The events the callback wants (event_bit values); the others pass as if
  // it had answered true, without a call.
  uint32_t mask = all_events;
  // `input` arrives as the input position: the token start for `open`
  // events and for prescan events of kinds without a datatype, else the
  // token end. Setting it moves the scan there. Kiv errors and other exits
  // raised inside pass through the lexer.
  std::function<bool(const EventInfo& info, int64_t& input)> handler;
};

struct Options {
  Mode mode = Mode::load;
  // Stop after the first value at the outer level (its closing bracket for
  // a block, paren, map or path).
  bool one = false;
  // Load mode with `one`: false makes the output the value itself instead of
  // a block holding it (when there is a value).
  bool wrap = true;
  // Load mode: `out` already holds a block!; the values are appended to it.
  bool into = false;
  // Positions in characters (a string! source) instead of bytes.
  bool count_chars = false;
  const Callback* callback = nullptr;
};

struct Result {
  // The datatype (TypeId value) of the first value; 0 for none (empty
  // input); error! after a syntax error in the scan modes.
  int32_t type = 0;
  // Source units from the start of the text to where the scan stopped.
  int64_t consumed = 0;
};

// Scans `text` (UTF-8; a NUL byte ends it like the end of the text) and
// writes the output of load mode into `out` (none when a callback refused
// the error of an unclosed bracket at the end). `text` must not point into
// a series buffer: the scan allocates. May collect.
Result scan_utf8(Val out, std::string_view text, const Options& options = {});

// The same over a string! (converted to UTF-8 first; positions in
// characters) or a binary! source (its bytes; positions in bytes), from its
// index, for at most `limit` units (-1 for all).
Result scan_series(Val out, const Cell& source, int64_t limit, Options options = {});

// The values of `text` as a block!, pushed on the argument stack.
Val scan(std::string_view text);

// A caret escape (the text after a "^"): the code point (-1 when the
// escape is invalid) and the bytes it took.
struct Escape {
  int32_t code_point;
  size_t length;
};
Escape decode_escape(std::string_view text);

// The text-to-number scanners behind `to` conversions of strings: `count`
// characters of `unit` bytes each at `text`. They never allocate. `error`
// is set to 0, -1 for text of the wrong form, -2 for an integer overflow.
int32_t scan_integer(const void* text, uint32_t count, uint32_t unit, int32_t& error);
double scan_float(const void* text, uint32_t count, uint32_t unit, int32_t& error);
// Fills `money` (a money! cell) from the text.
void scan_money(const void* text, uint32_t count, uint32_t unit, int32_t& error, Cell& money);

// The currency codes money! accepts: the 1-based index of `code` (3
// letters, any case) in the currency list, or 0. The built-in list is the
// start-up list of currency codes; the money datatype replaces the lookup
// once the list lives in the system object.
using CurrencyIndexFn = uint32_t (*)(std::string_view code);
void set_currency_index(CurrencyIndexFn lookup);
uint32_t currency_index(std::string_view code);
// The code at a 1-based index of the built-in list, or "" past its end.
std::string_view currency_code(uint32_t index);

}  // namespace kiv::lexer
