#!/usr/bin/env python3
"""Tests of tools/gen_error_ids.py: how it reads the catalogue, spells the
C++ names, writes the header, and the catalogues it refuses."""

import importlib.util
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

SCRIPT = pathlib.Path(__file__).resolve().parents[2] / "tools" / "gen_error_ids.py"
spec = importlib.util.spec_from_file_location("gen_error_ids", SCRIPT)
gen = importlib.util.module_from_spec(spec)
spec.loader.exec_module(gen)

# Strings and comments holding brackets, braces, quotes and ";", a header
# with values of other types, and a category without ids.
TRICKY = """\
Kiv [
    Title: "tricky ] header ; not a comment"
    Date: 1-Jan-2024
    Notes: {
        braces { nested } and ] and "a quote
    }
]
; a comment with ] and " and {
first: [
    code: 0
    type: {First ; Error}
    one: "a ] b ; c [ d"     ; a comment ]
    two: ["x^"y ]" :arg1 'arg2 arg3 {z}]
    three: {multi
        line ] ; text ^} still}
    four: 'arg1
]
second: [code: 100 type: "Second" five: :arg1 six: arg2]
empty: [code: 200 type: "Empty"]
"""


def words(categories):
    return [(c.word, c.ids) for c in categories]


class Reading(unittest.TestCase):
    def test_strings_and_comments_hide_their_brackets(self):
        self.assertEqual(words(gen.read_catalogue(TRICKY)),
                         [("first", ["one", "two", "three", "four"]), ("second", ["five", "six"]), ("empty", [])])

    def test_the_header_is_optional(self):
        self.assertEqual(words(gen.read_catalogue('a: [code: 0 type: "A" x: "1"]')), [("a", ["x"])])

    def test_rendered_header(self):
        header = gen.render(gen.read_catalogue(TRICKY), "library/tricky.kiv")
        lines = header.splitlines()
        self.assertEqual(lines[0], "// Generated from library/tricky.kiv by tools/gen_error_ids.py: do not edit.")
        for line in ["  first = 0,", "  empty = 2,",
                     "namespace first {", "inline constexpr Code one{0};", "inline constexpr Code four{3};",
                     "inline constexpr Code six{101};", '    "empty",',
                     '    {first::one, "first", "one"},', '    {second::six, "second", "six"},']:
            self.assertIn(line, lines)
        self.assertNotIn("namespace empty {", lines, "a category without ids has no namespace")


class Spelling(unittest.TestCase):
    def test_cpp_names(self):
        cases = [
            ("no-value", "no_value"),
            ("bad-path-type2", "bad_path_type2"),
            ("No-Value", "no_value"),           # words are caseless; C++ names are lower case
            ("break", "break_"),                # keywords
            ("protected", "protected_"),
            ("throw", "throw_"),
            ("and", "and_"),                    # alternative tokens
            ("errno", "errno_"),                # macros
            ("catalogue-words", "catalogue_words"),
            ("value?", None),                   # no C++ spelling
            ("a--b", None),
            ("-a", None),
            ("x.y", None),
        ]
        for word, name in cases:
            self.assertEqual(gen.cpp_name(word), name, word)

    def test_categories_avoid_the_names_of_namespace_err(self):
        self.assertEqual(gen.cpp_name("catalogue-words", gen.ERR_NAMES), "catalogue_words_")
        self.assertEqual(gen.cpp_name("script", gen.ERR_NAMES), "script")


def many_ids(count):
    return 'a: [code: 0 type: "A"\n' + "".join(f'  id{k}: "m"\n' for k in range(count)) + "]"


class Refusing(unittest.TestCase):
    def test_malformed_catalogues(self):
        cases = [
            # (what, text, line, the message or its start)
            ("a code that is not 100 x the position", 'a: [code: 0 type: "A"]\nb: [code: 300 type: "B"]',
             2, "category `b` has code 300; at position 1, its code is 100 x 1 = 100"),
            ("no code", 'a: [type: "A"]', 1, "category `a` does not begin with code: 0"),
            ("no type", 'a: [code: 0 x: "1"]', 1, 'category `a` has no type: "title" after its code'),
            ("a type that is not a string", "a: [code: 0 type: A]", 1, 'category `a` has no type: "title"'),
            ("a duplicate id", 'a: [code: 0 type: "A"\n x: "1"\n X: "2"]', 3,
             "category `a` has `X` twice (first on line 2)"),
            ("an id named like a field", 'a: [code: 0 type: "A" type: "2"]', 1, "category `a` has `type` twice"),
            ("a duplicate category", 'a: [code: 0 type: "A"]\na: [code: 100 type: "A"]', 2,
             "category `a` is there twice (first on line 1)"),
            ("ids the same in C++", 'a: [code: 0 type: "A" a-b: "1"\n a_b: "2"]', 2,
             "ids `a-b` and `a_b` are both `a_b` in C++"),
            ("an id without a C++ spelling", 'a: [code: 0 type: "A" ok?: "1"]', 1, "id `ok?` has no C++ spelling"),
            ("a category without a C++ spelling", 'a*: [code: 0 type: "A"]', 1, "category `a*` has no C++ spelling"),
            ("a message that is no template", 'a: [code: 0 type: "A" x: 42]', 1, "`x` has `42` as its message"),
            ("a template holding a number", 'a: [code: 0 type: "A" x: ["n" 42]]', 1,
             "the message of `x` holds `42`, which is not a string or a word"),
            ("an id without a message", 'a: [code: 0 type: "A" x:]', 1, "`x` has no message"),
            ("an id that is not a set-word", 'a: [code: 0 type: "A" x "1"]', 1,
             "category `a`: expected an id's set-word, found `x`"),
            ("a category that is not a set-word", 'a [code: 0 type: "A"]', 1,
             "expected a category's set-word, found `a`"),
            ("a category without its block", 'a: "A"', 1, "category `a` is not followed by its block"),
            ("no categories", 'Kiv [Title: "x"]\n', 1, "the catalogue has no categories"),
            ("too many ids", many_ids(101), 1, "category `a` has 101 ids; at most 100 fit in its codes"),
            ("a block not closed", 'a: [code: 0\n type: "A"', 1, "`[` not closed"),
            ("a stray ]", 'a: [code: 0 type: "A"]\n]', 2, "`]` closes no block"),
            ("a string not closed", 'a: [code: 0 type: "A]\n', 1, "string not closed on its line"),
            ("a {string} not closed", 'a: [code: 0 type: {A ^}]\n', 1, "`{` string not closed"),
            ("a raw string", 'a: [code: 0 type: %{A}%]', 1, "raw string `%{...` is not supported"),
            ("lines counted through a {string}", 'a: [code: 0 type: {A\nB\n} x: 42]', 3, "`x` has `42`"),
        ]
        for what, text, line, message in cases:
            with self.subTest(what):
                with self.assertRaises(gen.CatalogueError) as raised:
                    gen.read_catalogue(text)
                self.assertEqual(raised.exception.line, line)
                self.assertTrue(raised.exception.message.startswith(message), raised.exception.message)

    def test_one_hundred_ids_fit(self):
        self.assertEqual(len(gen.read_catalogue(many_ids(100))[0].ids), 100)


class Running(unittest.TestCase):
    def run_script(self, source, output):
        return subprocess.run([sys.executable, str(SCRIPT), str(source), str(output)],
                              capture_output=True, text=True, check=False)

    def test_a_bad_catalogue_fails_naming_file_and_line_and_writes_nothing(self):
        with tempfile.TemporaryDirectory() as folder:
            source = pathlib.Path(folder, "errors.kiv")
            source.write_text('a: [code: 0 type: "A"]\nb: [code: 0 type: "B"]\n', encoding="utf-8")
            output = pathlib.Path(folder, "generated", "error_ids.h")
            result = self.run_script(source, output)
            self.assertEqual(result.returncode, 1)
            self.assertEqual(result.stderr, f"{source}:2: error: category `b` has code 0; "
                                             "at position 1, its code is 100 x 1 = 100\n")
            self.assertFalse(output.exists())

    def test_the_header_is_rewritten_only_when_it_changes(self):
        with tempfile.TemporaryDirectory() as folder:
            source = pathlib.Path(folder, "errors.kiv")
            source.write_text(TRICKY, encoding="utf-8")
            output = pathlib.Path(folder, "generated", "error_ids.h")
            self.assertEqual(self.run_script(source, output).returncode, 0)
            self.assertIn("inline constexpr Code five{100};", output.read_text(encoding="utf-8"))
            os.utime(output, ns=(1, 1))
            source.write_text(TRICKY.replace('"Second"', '"Second Error"'), encoding="utf-8")
            self.assertEqual(self.run_script(source, output).returncode, 0)
            self.assertEqual(output.stat().st_mtime_ns, 1, "a new title changes no id")
            source.write_text(TRICKY.replace("six:", "seven:"), encoding="utf-8")
            self.assertEqual(self.run_script(source, output).returncode, 0)
            self.assertIn("inline constexpr Code seven{101};", output.read_text(encoding="utf-8"))


if __name__ == "__main__":
    unittest.main()
