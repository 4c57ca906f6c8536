#include "runtime/keywords.h"

#include <string_view>

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/root_block.h"

namespace kiv::kw {

uint32_t self = 0;
uint32_t local = 0;
uint32_t none = 0;
uint32_t true_ = 0;
uint32_t false_ = 0;

namespace {

// In interning order; a repeated name interns once.
constexpr std::string_view keyword_names[] = {
    "spec", "body", "words", "class", "logic!", "integer!", "char!", "float!", "percent!", "any-type!", "exit",
    "return", "Windows", "Syllable", "macOS", "Linux", "NetBSD", "repeat", "foreach", "map-each", "remove-each",
    "any", "break", "copy", "end", "fail", "into", "opt", "not", "quote", "case", "reject", "set", "skip", "some",
    "thru", "to", "none", "|", "-", "if", "remove", "while", "insert", "only", "collect", "keep", "pick", "ahead",
    "after", "rxyz", "self", "values", "owner", "owned", "events?", "true", "false", "yes", "no", "on", "off",
    "type", "face", "window", "offset", "key", "flag", "code", "picked", "flags", "away?", "ctrl?", "shift?",
    "down?", "mid-down?", "alt-down?", "aux-down?", "orientation", "get", "put", "post", "head", "size", "rgb",
    "alpha", "argb", "date", "year", "month", "day", "zone", "isoweek", "week", "weekday", "yearday", "julian",
    "time", "hour", "minute", "second", "timezone", "code", "amount", "user", "host", "system", "system-global",
    "stack", "trace", "no-trace", "at", "back", "find", "head", "head?", "index?", "length?", "next", "pick",
    "skip", "select", "tail", "tail?", "change", "changed", "clear", "cleared", "set-path", "append", "appended",
    "move", "moved", "poke", "poked", "put", "put-ed", "removed", "random", "randomized", "reverse", "reversed",
    "sort", "sorted", "swap", "swaped", "take", "taken", "trim", "trimmed", "inserted", "uppercase", "lowercase",
    "checksum", "push", "pop", "fetch", "match", "iterate", "paren", "<anon>", "<body>", "<not-found>", "add",
    "subtract", "divide", "on-parse-event", "on-change*", "on-deep-change*", "type", "id", "try", "catch", "name",
    "multiply", "browse", "open", "create", "close", "delete", "modify", "query", "read", "rename", "update",
    "write", "prescan", "scan", "load", "error", "comment", "init", "exec", "call", "return", "enter", "exit",
    "prolog", "epilog", "throw", "expr", "<interp-callback>", "<lexer-callback>", "<parse-callback>",
    "<compare-callback>", "throw", "note", "syntax", "script", "math", "access", "user", "internal",
    "invalid-error", "local", "<applied>",
    // system settings the datatypes read (system_settings.h), interned here
    // so that reading them never allocates
    "locale", "months", "currencies", "list", "options", "money-digits",
};

constexpr std::string_view boot_refinements[] = {"local", "extern", "compare", "part", "skip", "with"};

}  // namespace

void init() {
  for (std::string_view name : keyword_names) word::intern(name);
  self = symbol::make("self");
  local = symbol::make("local");
  none = symbol::make("none");
  true_ = symbol::make("true");
  false_ = symbol::make("false");
  for (std::string_view name : boot_refinements)
    root_block::append(word::make(TypeId::refinement, no_node, symbol::make(name), word::unresolved));
  root_block::append(word::make_issue("ooo"));
}

}  // namespace kiv::kw
