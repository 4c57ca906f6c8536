#!/usr/bin/env python3
"""Writes the C++ error ids (generated/error_ids.h) from library/errors.kiv.

The error catalogue library/errors.kiv is the one place an error id is
written. The build runs this script to turn it into the constants C++ code
raises errors with, so that a code always names the id the catalogue has at
its position:

    namespace kiv::error_id {
    enum class Category : uint8_t { throw_ = 0, note = 1, ... };
    namespace script { inline constexpr Code no_value{300}; ... }
    inline constexpr const char* category_words[] = {"throw", ...};
    inline constexpr CatalogueWords catalogue_words[] = {{script::no_value, "script", "no-value"}, ...};
    }

A category's code is 100 x its position and an id's code is the category's
code plus the id's position among its ids, counted from 0. The C++ name of
a category or id is its word in lower case with "-" made "_"; a name that is
a C++ keyword, or would clash with a macro or a name of namespace error_id, takes
a trailing "_" (throw_, break_, protected_).

The script reads the part of Kiv the catalogue is written in: an optional
`Kiv [...]` header, then for each category a set-word and a block holding
`code: N`, `type: "title"` and then each id as a set-word and its message
template (a "..." or {...} string, a block of strings and words, or a word).
Anything else ends the script with status 1 and a line `FILE:LINE: error:
...` on standard error; the output is then left as it was.

Usage: gen_error_ids.py CATALOGUE OUTPUT
The output is rewritten only when its text changes, so that editing a
message does not rebuild everything that includes the ids.
"""

import pathlib
import re
import sys

# C++20 keywords and alternative tokens.
CPP_KEYWORDS = frozenset("""
    alignas alignof and and_eq asm auto bitand bitor bool break case catch char char8_t char16_t char32_t
    class compl concept const consteval constexpr constinit const_cast continue co_await co_return co_yield
    decltype default delete do double dynamic_cast else enum explicit export extern false float for friend
    goto if inline int long mutable namespace new noexcept not not_eq nullptr operator or or_eq private
    protected public register reinterpret_cast requires return short signed sizeof static static_assert
    static_cast struct switch template this thread_local throw true try typedef typeid typename union
    unsigned using virtual void volatile wchar_t while xor xor_eq
""".split())

# Lower-case object-like macros of the C and POSIX headers, which would
# replace a constant of the same name.
MACROS = frozenset("errno stdin stdout stderr unix linux".split())

# Names error_codes.h and the generated header declare in namespace error_id
# itself, which a category's namespace would clash with.
ERR_NAMES = frozenset("catalogue_words category_words".split())

MAX_IDS = 100         # positions 0..99 within a category
MAX_CATEGORIES = 256  # Category is a uint8_t


class CatalogueError(Exception):
    """A problem in the catalogue, at a line of it."""

    def __init__(self, line, message):
        super().__init__(message)
        self.line = line
        self.message = message


# ---------------------------------------------------------------------------
# Reading

class Token:
    """One value of the catalogue text.

    kind: "block" (items: its tokens), "string", "set-word", "get-word",
    "lit-word", "word", "integer", or "other" (a value of another type, only
    allowed in the header); text: the source text (for a block, "[").
    """

    def __init__(self, kind, text, line, items=None):
        self.kind, self.text, self.line, self.items = kind, text, line, items

    @property
    def name(self):
        """The word's spelling, without its ":" or "'"."""
        return self.text.strip(":'")

    def describe(self):
        if self.kind == "block":
            return "a block"
        text = self.text.splitlines()[0]
        return f"`{text}`" if len(text) <= 40 and text == self.text else f"`{text[:40]}...`"


DELIMITERS = set(' \t\r\n[](){}";')
WORD = r"[^\s\[\](){}\";:'/@#$%^,]+"
SHAPES = [
    ("set-word", re.compile(WORD + ":")),
    ("get-word", re.compile(":" + WORD)),
    ("lit-word", re.compile("'" + WORD)),
    ("integer", re.compile(r"[+-]?[0-9]+")),
    ("word", re.compile(WORD)),
]


def tokenize(text):
    """The catalogue text as a list of top-level tokens, blocks nested."""
    stack = [[]]     # the open blocks' item lists, the top level first
    opened = []      # the line of each open "["
    line = 1
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        start_line = line
        if c == "\n":
            line += 1
            i += 1
        elif c in " \t\r":
            i += 1
        elif c == ";":  # a comment, to the end of the line
            while i < n and text[i] != "\n":
                i += 1
        elif c == "[":
            stack.append([])
            opened.append(line)
            i += 1
        elif c == "]":
            if len(stack) == 1:
                raise CatalogueError(line, "`]` closes no block")
            items = stack.pop()
            stack[-1].append(Token("block", "[", opened.pop(), items))
            i += 1
        elif c == '"':  # on one line; "^" escapes the next character
            j = i + 1
            while j < n and text[j] not in '"\n':
                j += 2 if text[j] == "^" and j + 1 < n and text[j + 1] != "\n" else 1
            if j >= n or text[j] == "\n":
                raise CatalogueError(line, "string not closed on its line")
            stack[-1].append(Token("string", text[i:j + 1], line))
            i = j + 1
        elif c == "{":  # over lines, braces nested; "^" escapes the next character
            depth, j = 1, i + 1
            while j < n and depth:
                if text[j] == "^" and j + 1 < n:
                    j += 1
                elif text[j] == "{":
                    depth += 1
                elif text[j] == "}":
                    depth -= 1
                if text[j] == "\n":
                    line += 1
                j += 1
            if depth:
                raise CatalogueError(start_line, "`{` string not closed")
            stack[-1].append(Token("string", text[i:j], start_line))
            i = j
        elif c == "}":
            raise CatalogueError(line, "`}` closes no string")
        elif c in "()":
            stack[-1].append(Token("other", c, line))
            i += 1
        else:
            j = i
            while j < n and text[j] not in DELIMITERS:
                j += 1
            run = text[i:j]
            if run.endswith("%") and j < n and text[j] in '{"':
                raise CatalogueError(line, f"raw string `{run}{text[j]}...` is not supported")
            kind = next((kind for kind, shape in SHAPES if shape.fullmatch(run)), "other")
            stack[-1].append(Token(kind, run, line))
            i = j
    if len(stack) > 1:
        raise CatalogueError(opened[-1], "`[` not closed")
    return stack[0]


# ---------------------------------------------------------------------------
# The catalogue's shape

class Category:
    def __init__(self, word, position, line):
        self.word, self.position, self.line = word, position, line
        self.ids = []  # the id words, by position

    @property
    def code(self):
        return 100 * self.position


def cpp_name(word, reserved=frozenset()):
    """The C++ spelling of a catalogue word, or None when it has none."""
    name = word.lower().replace("-", "_")
    if not re.fullmatch(r"[a-z][a-z0-9_]*", name) or "__" in name:
        return None
    if name in CPP_KEYWORDS or name in MACROS or name in reserved:
        name += "_"
    return name


def check_template(id_token, template):
    if template.kind in ("string", "word", "get-word", "lit-word"):
        return
    if template.kind != "block":
        raise CatalogueError(template.line, f"`{id_token.name}` has {template.describe()} as its message, "
                                            "not a string, a block or a word")
    for item in template.items:
        if item.kind not in ("string", "word", "get-word", "lit-word"):
            raise CatalogueError(item.line, f"the message of `{id_token.name}` holds {item.describe()}, "
                                            "which is not a string or a word")


def read_category(name_token, block, position):
    category = Category(name_token.name, position, name_token.line)
    items = block.items
    if len(items) < 2 or items[0].kind != "set-word" or items[0].name.lower() != "code" or \
            items[1].kind != "integer":
        raise CatalogueError(block.line, f"category `{category.word}` does not begin with code: {category.code}")
    if int(items[1].text) != category.code:
        raise CatalogueError(items[1].line, f"category `{category.word}` has code {int(items[1].text)}; at "
                                            f"position {position}, its code is 100 x {position} = {category.code}")
    if len(items) < 4 or items[2].kind != "set-word" or items[2].name.lower() != "type" or \
            items[3].kind != "string":
        raise CatalogueError(items[1].line, f"category `{category.word}` has no type: \"title\" after its code")
    seen = {"code": items[0].line, "type": items[2].line}
    cpp_names = {}
    rest = items[4:]
    for k in range(0, len(rest), 2):
        id_token = rest[k]
        if id_token.kind != "set-word":
            raise CatalogueError(id_token.line, f"category `{category.word}`: expected an id's set-word, "
                                                f"found {id_token.describe()}")
        if k + 1 == len(rest):
            raise CatalogueError(id_token.line, f"`{id_token.name}` has no message")
        check_template(id_token, rest[k + 1])
        word = id_token.name
        if word.lower() in seen:
            raise CatalogueError(id_token.line, f"category `{category.word}` has `{word}` twice "
                                                f"(first on line {seen[word.lower()]})")
        seen[word.lower()] = id_token.line
        name = cpp_name(word)
        if name is None:
            raise CatalogueError(id_token.line, f"id `{word}` has no C++ spelling: use letters, digits and "
                                                "single hyphens, starting with a letter")
        if name in cpp_names:
            raise CatalogueError(id_token.line, f"ids `{cpp_names[name]}` and `{word}` are both `{name}` in C++")
        cpp_names[name] = word
        category.ids.append(word)
    if len(category.ids) > MAX_IDS:
        raise CatalogueError(block.line, f"category `{category.word}` has {len(category.ids)} ids; "
                                         f"at most {MAX_IDS} fit in its codes")
    return category


def read_catalogue(text):
    """The categories of catalogue text, in order; raises CatalogueError."""
    tokens = tokenize(text)
    if len(tokens) >= 2 and tokens[0].kind == "word" and tokens[0].text.lower() == "kiv" and \
            tokens[1].kind == "block":
        tokens = tokens[2:]  # the header is not part of the data
    if not tokens:
        raise CatalogueError(1, "the catalogue has no categories")
    categories = []
    seen = {}
    cpp_names = {}
    for k in range(0, len(tokens), 2):
        name_token = tokens[k]
        if name_token.kind != "set-word":
            raise CatalogueError(name_token.line, f"expected a category's set-word, found {name_token.describe()}")
        if k + 1 == len(tokens) or tokens[k + 1].kind != "block":
            raise CatalogueError(name_token.line, f"category `{name_token.name}` is not followed by its block")
        word = name_token.name
        if word.lower() in seen:
            raise CatalogueError(name_token.line, f"category `{word}` is there twice (first on line "
                                                  f"{seen[word.lower()]})")
        seen[word.lower()] = name_token.line
        name = cpp_name(word, ERR_NAMES)
        if name is None:
            raise CatalogueError(name_token.line, f"category `{word}` has no C++ spelling: use letters, "
                                                  "digits and single hyphens, starting with a letter")
        if name in cpp_names:
            raise CatalogueError(name_token.line, f"categories `{cpp_names[name]}` and `{word}` are both "
                                                  f"`{name}` in C++")
        cpp_names[name] = word
        categories.append(read_category(name_token, tokens[k + 1], len(categories)))
    if len(categories) > MAX_CATEGORIES:
        raise CatalogueError(categories[MAX_CATEGORIES].line, f"more than {MAX_CATEGORIES} categories")
    return categories


# ---------------------------------------------------------------------------
# Writing

def render(categories, source_name):
    out = [f"// Generated from {source_name} by tools/gen_error_ids.py: do not edit.",
           "// Included by runtime/core/error_codes.h, after Code and CatalogueWords.",
           "#pragma once",
           "",
           "namespace kiv::error_id {",
           "",
           "// Category positions.",
           "enum class Category : uint8_t {"]
    out += [f"  {cpp_name(c.word, ERR_NAMES)} = {c.position}," for c in categories]
    out += ["};", ""]
    for c in categories:
        if not c.ids:
            continue
        namespace = cpp_name(c.word, ERR_NAMES)
        out.append(f"namespace {namespace} {{")
        out += [f"inline constexpr Code {cpp_name(word)}{{{c.code + k}}};" for k, word in enumerate(c.ids)]
        out += [f"}}  // namespace {namespace}", ""]
    out.append("// Words of the categories, by position.")
    out.append("inline constexpr const char* category_words[] = {")
    out += [f'    "{c.word}",' for c in categories]
    out += ["};", "", "// The words of each id, by code.", "inline constexpr CatalogueWords catalogue_words[] = {"]
    for c in categories:
        namespace = cpp_name(c.word, ERR_NAMES)
        out += [f'    {{{namespace}::{cpp_name(word)}, "{c.word}", "{word}"}},' for word in c.ids]
    out += ["};", "", "}  // namespace kiv::error_id", ""]
    return "\n".join(out)


def main(argv):
    if len(argv) != 3:
        print(f"usage: {argv[0]} CATALOGUE OUTPUT", file=sys.stderr)
        return 2
    source, output = pathlib.Path(argv[1]), pathlib.Path(argv[2])
    try:
        text = source.read_text(encoding="utf-8")
    except (OSError, UnicodeDecodeError) as problem:
        print(f"{source}: error: cannot read the error catalogue: {problem}", file=sys.stderr)
        return 1
    try:
        categories = read_catalogue(text)
    except CatalogueError as problem:
        print(f"{source}:{problem.line}: error: {problem.message}", file=sys.stderr)
        return 1
    root = pathlib.Path(__file__).resolve().parent.parent
    resolved = source.resolve()
    shown = resolved.relative_to(root).as_posix() if resolved.is_relative_to(root) else source.name
    header = render(categories, shown)
    if not output.exists() or output.read_text(encoding="utf-8") != header:
        output.parent.mkdir(parents=True, exist_ok=True)
        output.write_text(header, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
