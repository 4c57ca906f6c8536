#!/usr/bin/env python3
"""Writes the malformed-input corpora of the JSON and CSV readers:
tests/fixtures/json-corpus/ and tests/fixtures/csv-corpus/. Each file is one
input that a reader must refuse or read without crashing, hanging or
reading out of bounds; tests/kiv/library/codec_corpus.kiv reads them all, and
fuzzers can start from them. The output is the same on every run.

    make_codec_corpus.py [ROOT]
"""
import pathlib
import random
import sys

ROOT = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parents[2])

SEED_JSON = '{"a": [1, -2.5e3, "x\\u00e9\\ud83d\\ude00\\n", true, false, null], "b c": {"d": {}}, "e": []}'
SEED_CSV = 'id,name,note\r\n1,"a, b","say ""hi"""\n2,,"two\nlines"\r3,x,\n'

JSON_CASES = {
    "empty": "",
    "only-space": " \n\t\r ",
    "open-100000-arrays": "[" * 100000,
    "open-20000-objects": '{"a":' * 20000,
    "nested-1001-closed": "[" * 1001 + "]" * 1001,
    "alternating-open": '[{"a":' * 2000,
    "close-first": "]",
    "bare-word": "nope",
    "upper-true": "TRUE",
    "trailing-comma-array": "[1,2,]",
    "trailing-comma-object": '{"a":1,}',
    "missing-colon": '{"a" 1}',
    "key-not-string": "{1:2}",
    "single-quotes": "['a']",
    "leading-zero": "[01]",
    "bare-point": "[.5]",
    "point-no-digits": "[1.]",
    "exponent-no-digits": "[1e]",
    "plus-sign": "[+1]",
    "minus-alone": "[-]",
    "valid-huge-exponent": "[1e" + "9" * 400 + "]",
    "valid-huge-mantissa": "[" + "9" * 5000 + "]",
    "valid-long-fraction": "[0." + "1" * 5000 + "]",
    "nan": "[NaN]",
    "infinity": "[-Infinity]",
    "hex-number": "[0x10]",
    "unterminated-string": '["abc',
    "unterminated-escape": '["\\',
    "short-u-escape": '["\\u12"]',
    "bad-hex": '["\\u12G4"]',
    "bad-escape": '["\\x41"]',
    "lone-high-surrogate": '["\\ud800"]',
    "high-then-high": '["\\ud800\\ud800"]',
    "high-then-text": '["\\ud83dabcdef"]',
    "high-at-end": '["\\ud83d\\u"]',
    "inverted-surrogates": '["\\ude00\\ud83d"]',
    "control-in-string": '["a\x01b"]',
    "nul-in-string": '["a\x00b"]',
    "nul-after-value": "[1]\x00",
    "two-values": "[1] [2]",
    "comment": "[1] // no",
    "bom": "\ufeff[1]",
    "non-ascii-space": "[1,\u00a02]",
    "line-separator": "[1\u2028]",
    "astral-outside-string": "[😀]",
    "deep-then-garbage": "[" * 500 + "x",
    "many-lines-then-error": "[\n" * 1000 + "1,,",
}

CSV_CASES = {
    "empty": "",
    "only-newlines": "\n\r\n\r",
    "unterminated-quote": 'a,"bc\nd,e\n',
    "text-after-quote": '"ab"c,d\n',
    "quote-in-bare-field": 'a"b,c\n',
    "lone-quote": '"',
    "two-quotes": '""',
    "three-quotes": '"""',
    "ragged": "a,b\n1,2,3\n",
    "ragged-short": "a,b,c\n1\n",
    "cr-only": "a,b\rc,d\re,f",
    "crlf-inside-quotes": 'a,"b\r\nc"\r\n',
    "nul-bytes": "a,\x00,b\n\x00\n",
    "long-field": "x" * 100000 + ",y\n",
    "many-columns": ",".join(["c"] * 5000) + "\n",
    "many-empty-lines-between": "a,b\n\n\n\n1,2\n",
    "quote-then-eof": 'a,"',
    "doubled-quote-at-end": 'a,"b""',
    "delimiter-only": ",,,,\n",
    "non-ascii": "é,中,😀\n1,2,3\n",
    "bom": "\ufeffa,b\n1,2\n",
}


def mutations(seed, count, rng):
    out = {}
    for i in range(count):
        text = list(seed)
        for _ in range(rng.randint(1, 4)):
            at = rng.randrange(len(text))
            op = rng.randrange(3)
            if op == 0:
                del text[at]
            elif op == 1:
                text.insert(at, rng.choice('[]{}",:\\ \n\r0-eE.u"'))
            else:
                text[at] = rng.choice('[]{}",:\\ \n\r0-eE.u"')
        out[f"mutated-{i:02d}"] = "".join(text)
    for cut in range(1, len(seed), max(1, len(seed) // 12)):
        out[f"truncated-{cut:03d}"] = seed[:cut]
    return out


def write(folder, cases):
    folder.mkdir(parents=True, exist_ok=True)
    for old in folder.glob("*.txt"):
        old.unlink()
    for name, text in cases.items():
        (folder / f"{name}.txt").write_bytes(text.encode("utf-8", "surrogatepass"))


def main():
    rng = random.Random(7)
    write(ROOT / "tests/fixtures/json-corpus", {**JSON_CASES, **mutations(SEED_JSON, 40, rng)})
    write(ROOT / "tests/fixtures/csv-corpus", {**CSV_CASES, **mutations(SEED_CSV, 30, rng)})


if __name__ == "__main__":
    main()
